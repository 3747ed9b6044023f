// Text for display: encodings at their edges (random text is the text fuzzer's part), message
// translation without a dictionary, and line breaking.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

#include "child_process.h"
#include "locale_guard.h"
#include "varururor/atr/encoding.h"
#include "varururor/atr/format.h"
#include "varururor/atr/locale.h"
#include "varururor/atr/string_base_prv.h"
#include "varururor/atr/translate.h"
#include "varururor/frame/startup.h"

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

// Each encoded length's first and last code point; bytes that start nothing; refusals.
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

std::string Text(atr_String const& s) { return std::string(s.CStr(), s.Length()); }

template <typename T>
std::string Formatted(char const* message, T const& value) {
  atr_translate t(message);
  atr_SubstituteFormat(t, 1, value);
  return Text(t.Result());
}

// Placeholder n shows "<n>"; without a "%" that something but "%" follows, the text stays.
TEST(TranslatePlaceholders, EachPieceOfAMessage) {
  LocaleGuard guard;
  ASSERT_TRUE(guard.Use("C.UTF-8"));
  struct Case {
    char const* message;
    int slots;
    char const* shown;
  } const cases[] = {
      {"Datei %s: 50%% %5ls|%-5s|%0s", 4, "Datei <1>: 50%   <2>|<3>  |<4>"},
      {"%2$s \xC3\xA9t\xC3\xA9 %1$-6s|%3$2s", 3, "<2> \xC3\xA9t\xC3\xA9 <1>   |<3>"},
      // Unnumbered ones take the free numbers; a repeated number takes one value each time.
      {"%s %3$s %s", 3, "<1> <3> <2>"},
      {"%7$s %s %9$s", 3, "<2> <1> <3>"},
      {"%1$s=%1$s", 2, "<1>=<2>"},
      {"a %q b %5$-12.lz %! c%", 0, "a q b z ! c"},
      {"Progress: 100%%%", 0, "Progress: 100%%%"},
  };
  for (Case const& c : cases) {
    atr_translate t(c.message);
    for (int n = 1; n <= c.slots; ++n) {
      atr_SubstituteFormat(t, n, ("<" + std::to_string(n) + ">").c_str());
    }
    EXPECT_EQ(Text(t.Result()), c.shown) << c.message;
    EXPECT_EQ(t.Format(c.slots + 1), nullptr) << c.message;
    EXPECT_TRUE(c.slots == 0 || t.Format(c.slots) != nullptr) << c.message;
  }
  EXPECT_EQ(Text(atr_raw("50%% \\@x%s")), "50%% ");
  atr_translate t("%1$-08.3lf %2$llld");
  EXPECT_STREQ(t.Format(1), "%-08.3f");
  EXPECT_STREQ(t.Format(2), "%d");
  // Substitutions outside the count are ignored, a null text is empty.
  atr_translate outside("<%s>");
  outside.AddSubstitution(0, "zero", nullptr);
  outside.AddSubstitution(2, "two", nullptr);
  atr_SubstituteFormat(outside, 5, 3);
  outside.AddSubstitution(1, nullptr, nullptr);
  EXPECT_EQ(Text(outside.Result()), "<>");
  EXPECT_TRUE(atr_translate(nullptr).Result().Empty());
  EXPECT_TRUE(atr_raw(nullptr).Empty());
}

TEST(TranslateValues, EachTypeHugeFieldsAndTheLocalesEncoding) {
  EXPECT_EQ(Formatted("%-6.2s|", "abcdef"), "ab    |");
  atr_StringBasePrv name("report.txt");
  EXPECT_EQ(Formatted("[%-12s]", static_cast<atr_StringBase const&>(name)), "[report.txt  ]");
  atr_translate t("%s|%s");
  t.AddSubstitution(1, "abc", "%-5.1s");
  t.AddSubstitution(2, "abc", "%.-1s");
  EXPECT_EQ(Text(t.Result()), "a    |abc");
  EXPECT_EQ(Formatted("%8.3f", 5), "5.000000");
  EXPECT_EQ(Formatted("%d", 4294967295u), "4294967295");
  EXPECT_EQ(Formatted("%12s|", -9000000000LL), "-9000000000|");
  EXPECT_EQ(Formatted("%d", 18446744073709551615ULL), "18446744073709551615");
  EXPECT_EQ(Formatted("%.2f", 2.345f), "2.35");
  EXPECT_EQ(Formatted("%d", 2.5), "2.500000e+00");
  void const* p = reinterpret_cast<void const*>(0xFFFFFFF0u);
  EXPECT_EQ(Formatted("%u", p), "4294967280");
  atr_translate hex("%x");
  ForwardVoidPBySize<4>::Format(hex, 1, p);
  EXPECT_EQ(Text(hex.Result()), "fffffff0");
  EXPECT_STREQ(atr_Fmt("%-8.3d").Format(atr_Fmt::kChar, 'x'), "%-8.3hx");
  // The shortest format has room for the 64-bit modifier too.
  EXPECT_STREQ(atr_Fmt("%d").FormatNoWidth(atr_Fmt::kInt64, 0), "%lld");
  EXPECT_FALSE(atr_Fmt(nullptr).Ok());
  // A 64-bit integer in a character placeholder is one character.
  EXPECT_EQ(Formatted("<%3c>", 0x41LL), "<  A>");
  EXPECT_EQ(Formatted("<%c>", 0xE9ULL), "<\xE9>");
  // A garbled width or precision costs at most 1023 bytes; a long value is never cut.
  EXPECT_EQ(Formatted("%1$1024d", 7), std::string(1022, ' ') + "7");
  EXPECT_EQ(Formatted("%.2147483647d", 7LL), std::string(1022, '0') + "7");
  EXPECT_EQ(Formatted("%-99999999999s", "x"), "x" + std::string(1022, ' '));
  EXPECT_EQ(Formatted("%.2147483647f", 1.5), "1.5" + std::string(1022, '0'));
  EXPECT_EQ(Formatted("%.5000f", 1e308).size(), 309u + 1 + 1023);
  // Untranslated UTF-8 is shown in the locale's encoding; invalid UTF-8 and overlong NULs as is.
  LocaleGuard guard;
  ASSERT_TRUE(guard.Use("C.UTF-8"));
  EXPECT_EQ(Formatted("a\xC0\x80%s b", "X"), "a\xC0\x80X b");
  if (!guard.Use("fr_FR.ISO-8859-1")) GTEST_SKIP() << "locale fr_FR.ISO-8859-1 is not installed";
  EXPECT_EQ(Formatted("Fichier \xC2\xAB%s\xC2\xBB cr\xC3\xA9\xC3\xA9", "a.txt"),
            "Fichier \xAB"
            "a.txt\xBB cr\xE9\xE9");
  EXPECT_EQ(Text(atr_raw("\xE3\x82\xBD\xE3\x83\xBC ok\\@key")), "?? ok");
  EXPECT_EQ(Text(atr_raw("bad \xC3 byte")), "bad \xC3 byte");
}

// atr_String text is made by translation; these texts have no "%" and no "\@".
std::string Break(std::string const& s, unsigned width, int only_unbroken = -1) {
  atr_String text = atr_raw(s.c_str());
  atr_String broken = only_unbroken < 0 ? atr_String::BreakLineString(text, width)
                                        : atr_String::AddLineBreaks(text, width, only_unbroken);
  // A text no longer than the width comes back shared.
  EXPECT_TRUE(s.size() > width || broken.CStr() == text.CStr()) << s;
  return Text(broken);
}

// What the random texts leave out: line feeds, tabs, width 0 and multi-byte text.
TEST(LineBreak, LineEndsTabsAndMultiByteText) {
  EXPECT_EQ(Break("one two three\n", 3), "one\ntwo\nthree\n");
  EXPECT_EQ(Break("word\tword word", 6), "word\tword\nword");
  EXPECT_EQ(Break("abc def", 0), "abc\ndef");
  // Each line on its own; with onlyUnbroken, a text with a line feed stays as it is.
  EXPECT_EQ(Break("aa bb cc\ndd ee ff", 2, false), "aa\nbb\ncc\ndd\nee\nff");
  EXPECT_EQ(Break("aa bb cc\ndd ee ff", 2, true), "aa bb cc\ndd ee ff");
  EXPECT_EQ(Break("aa bb cc dd", 4, true), "aa bb\ncc dd");
  LocaleGuard guard;
  if (!guard.Use("ja_JP.UTF-8")) GTEST_SKIP() << "locale ja_JP.UTF-8 is not installed";
  // Multi-byte characters are never split; an ideographic space is no whitespace byte.
  std::string kana = "\xE3\x83\x95\xE3\x82\xA1\xE3\x80\x80\xE3\x82\xA4\xE3\x83\xAB";
  EXPECT_EQ(Break(kana, 3), kana);
  EXPECT_EQ(Break("\xC3\xA9t\xC3\xA9 \xC3\xA9t\xC3\xA9", 4),
            "\xC3\xA9t\xC3\xA9\n\xC3\xA9t\xC3\xA9");
}

// Line feeds replace single spaces; no line but the last is too short, even without its last word.
TEST(LineBreak, RandomTextsKeepEveryWordInOrder) {
  std::mt19937 random(2024);
  char const* words[] = {"a", "bb", "ccc", "dddddd", "eeeeeeeeeeee"};
  for (int round = 0; round < 3000; ++round) {
    std::string text;
    for (int i = random() % 12; i > 0; --i) {
      text += words[random() % 5] + std::string(i == 1 ? 0 : random() % 4 == 0 ? 2 : 1, ' ');
    }
    unsigned width = 1 + random() % 10;
    std::string wrapped = Break(text, width);
    std::string rebuilt = wrapped;
    std::replace(rebuilt.begin(), rebuilt.end(), '\n', ' ');
    ASSERT_EQ(rebuilt, text) << "width " << width;
    for (size_t start = 0, end; (end = wrapped.find('\n', start)) != std::string::npos;
         start = end + 1) {
      std::string line = wrapped.substr(start, end - start);
      ASSERT_GE(line.size(), width) << wrapped;
      std::string head = line.substr(0, line.find_last_of(' ') + 1);
      ASSERT_LT(head.find_last_not_of(' ') + 1, width) << wrapped;
    }
  }
}

// In test mode, which is decided once, the extra characters do not count towards the width.
// Wrapping a long text takes one block for the result, not one that grows per line.
TEST(LineBreak, ExtraCharactersInTestModeAndOneBlockForALongText) {
  if (!LocaleGuard().Use("ja_JP.UTF-8")) GTEST_SKIP() << "locale ja_JP.UTF-8 is not installed";
  std::string extra = "\xE3\x82\xBD\xE3\x83\xBC";
  std::string text = "ab" + extra + " cd" + extra + " ef";
  std::string long_text;
  while (long_text.size() < 20000) long_text += "word words wordy\n";
  EXPECT_IN_CHILD(
      "^111 +[0-9] Reps Created\n", setlocale(LC_ALL, "ja_JP.UTF-8");
      setenv("KOVRIN_LANG", "ja_JP.UTF-8", 1); setenv("KVN_QA_PRINT", "1", 1);
      setenv("JRT_DICT_DIR", "/nonexistent", 1); setenv("ATR_SUMMARY", "1", 1); int total = 0;
      atr_initialize(total);
      std::fprintf(stderr, "%d", Break(text, 5) == "ab" + extra + " cd" + extra + "\nef");
      unsetenv("KVN_QA_PRINT");
      std::fprintf(stderr, "%d%d", atr_i18nTesting(), atr_i18nExtraCharacters() == extra);
      Break(long_text, 10); Break(long_text, 12, false); atr_finalize(total));
}

}  // namespace
