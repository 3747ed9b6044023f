// UTF-8 and the converters at the edges; random text is the text fuzzer's part.
#include "varururor/atr/encoding.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "locale_guard.h"

namespace {

unsigned char const* U(char const* s) { return reinterpret_cast<unsigned char const*>(s); }

// Converts to (or from) UTF-8 with a measuring call first, as callers do.
std::string Convert(bool to, int enc, std::string const& text, char repl, int* result) {
  auto run = [&](char* out) {
    return to ? atr_utf8_to_encoding(enc, out, text.c_str(), repl)
              : atr_utf8_from_encoding(reinterpret_cast<unsigned char*>(out), enc, U(text.c_str()));
  };
  *result = run(nullptr);
  if (*result < 0) return std::string();
  std::string out(*result + 1, '\x7f');
  EXPECT_EQ(run(&out[0]), *result);
  return out.substr(0, *result);
}

// The first and last code point of each encoded length, one by one and as a text; then the
// bytes that start no character and each converter's refusals.
TEST(EncodingConversion, EdgesOfEachLengthAndRefusals) {
  unsigned const edges[] = {0x01,    0x7F,     0x80,     0x7FF,     0x800,     0xFFFF,
                            0x10000, 0x1FFFFF, 0x200000, 0x3FFFFFF, 0x4000000, 0x7FFFFFFF};
  std::string utf8, latin1;
  for (int i = 0; i < 12; ++i) {
    unsigned char out[7] = {};
    int length = 0;
    EXPECT_EQ(atr_utf8_from_ucs4(out, edges[i]), i / 2 + 1) << std::hex << edges[i];
    EXPECT_EQ(atr_utf8_len(out), i / 2 + 1) << std::hex << edges[i];
    EXPECT_EQ(atr_utf8_to_ucs4(out, &length), edges[i]);
    EXPECT_EQ(length, i / 2 + 1);
    utf8 += reinterpret_cast<char*>(out);
    latin1 += edges[i] <= 0xFF ? static_cast<char>(edges[i]) : '?';
  }
  int result;
  EXPECT_EQ(Convert(true, atr_EncodingUtf8, utf8, 0, &result), utf8);
  EXPECT_EQ(Convert(true, atr_EncodingLatin1, utf8, '?', &result), latin1);
  EXPECT_EQ(Convert(false, atr_EncodingLatin1, latin1, 0, &result),
            utf8.substr(0, 4) + std::string(9, '?'));
  Convert(true, atr_EncodingLatin1, utf8, 0, &result);
  EXPECT_EQ(result, atr_EncodingNotRepresentable);
  unsigned char const bad_leads[] = {0x80, 0xBF, 0xFE, 0xFF};
  for (unsigned char const& lead : bad_leads) EXPECT_EQ(atr_utf8_len(&lead), 0) << int(lead);
  EXPECT_EQ(atr_utf8_len(U("")), 1);
  EXPECT_EQ(atr_utf8_len(static_cast<unsigned char const*>(nullptr)), 0);
  int len = -1;
  EXPECT_EQ(atr_utf8_to_ucs4(U("\xE3\x41\x82"), &len), 0xFFFFFFFFu);
  EXPECT_EQ(len, 3);
  // Overlong forms and surrogates are accepted; six bytes hold 31 bits, no more.
  EXPECT_EQ(atr_utf8_to_ucs4(U("\xC1\x81"), nullptr), 0x41u);
  EXPECT_EQ(atr_utf8_to_ucs4(U("\xED\xA0\x80"), nullptr), 0xD800u);
  unsigned char untouched[6] = {0xAA};
  EXPECT_EQ(atr_utf8_from_ucs4(untouched, 0x80000000u), 0);
  EXPECT_EQ(untouched[0], 0xAA);
  EXPECT_FALSE(atr_encoding_validate(atr_EncodingLatin1, "a\x85z"));
  EXPECT_TRUE(atr_encoding_validate(atr_EncodingLatin1, "\xA0\xE9\xFF\x7E"));
  EXPECT_FALSE(atr_encoding_validate(7, "abc"));
  EXPECT_FALSE(atr_encoding_validate(atr_EncodingUtf8, static_cast<char const*>(nullptr)));
  // No encoder: every character needs the replacement.
  EXPECT_EQ(Convert(true, atr_EncodingNone, "abc", '#', &result), "###");
  Convert(true, 9, "abc", 0, &result);
  EXPECT_EQ(result, atr_EncodingNotRepresentable);
  Convert(false, atr_EncodingNone, "abc", 0, &result);
  EXPECT_EQ(result, atr_EncodingInvalidInput);
}

// Locales that hold every character, some or only ASCII; without a replacement, both ways.
TEST(LocaleEncoding, EachLocaleShowsWhatItHas) {
  struct Case {
    char const* locale;
    char const* utf8;
    char repl;
    int result;
    char const* shown;
  } const cases[] = {
      {"ja_JP.UTF-8", "\xF0\x9F\x98\x80", 0, 4, "\xF0\x9F\x98\x80"},
      // The C library refuses surrogates.
      {"C.UTF-8", "\xED\xA0\x80", '?', 1, "?"},
      {"fr_FR.ISO-8859-1", "Cr\xC3\xA9\xC3\xA9", 0, 4, "Cr\xE9\xE9"},
      {"fr_FR.ISO-8859-1", "\xE3\x82\xBD", 0, atr_EncodingNotRepresentable, ""},
      // "開く" (open).
      {"ja_JP.EUC-JP", "\xE9\x96\x8B\xE3\x81\x8F", 0, 4, "\xB3\xAB\xA4\xAF"},
      {"C", "caf\xC3\xA9", '?', 4, "caf?"},
  };
  LocaleGuard guard;
  for (Case const& c : cases) {
    if (!guard.Use(c.locale)) GTEST_SKIP() << "locale " << c.locale << " is not installed";
    int result;
    EXPECT_EQ(Convert(true, atr_EncodingLocale, c.utf8, c.repl, &result), c.shown) << c.locale;
    EXPECT_EQ(result, c.result) << c.locale;
    if (c.repl != 0 || result < 0) continue;
    EXPECT_TRUE(atr_encoding_validate(atr_EncodingLocale, c.shown)) << c.locale;
    EXPECT_EQ(Convert(false, atr_EncodingLocale, c.shown, 0, &result), c.utf8) << c.locale;
  }
  // A lone lead byte is no character of EUC-JP; the C locale has no byte above 0x7F.
  int result;
  ASSERT_TRUE(guard.Use("ja_JP.EUC-JP"));
  Convert(false, atr_EncodingLocale, "ab\xA5", 0, &result);
  EXPECT_EQ(result, atr_EncodingInvalidInput);
  ASSERT_TRUE(guard.Use("C"));
  EXPECT_FALSE(atr_encoding_validate(atr_EncodingLocale, "caf\xE9"));
}

}  // namespace
