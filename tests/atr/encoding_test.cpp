// The UTF-8 primitives and the converter. Random texts over every length class of code
// point are encoded, decoded and converted, and each result is checked against what the
// generator knows about the characters it chose.
#include "varururor/atr/encoding.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "locale_guard.h"

namespace {

using Bytes = std::vector<unsigned char>;

unsigned char const* U(char const* s) { return reinterpret_cast<unsigned char const*>(s); }

// Converts with a measuring call first, as callers do; checks that the two agree.
std::string ToEncoding(int enc, std::string const& utf8, char repl, int* result) {
  int measured = atr_utf8_to_encoding(enc, static_cast<char*>(nullptr), utf8.c_str(), repl);
  *result = measured;
  if (measured < 0) return std::string();
  std::string out(measured + 1, '\x7f');
  int written = atr_utf8_to_encoding(enc, &out[0], utf8.c_str(), repl);
  EXPECT_EQ(written, measured);
  EXPECT_EQ(out[measured], '\0');
  out.resize(measured);
  return out;
}

std::string FromEncoding(int enc, std::string const& text, int* result) {
  int measured = atr_utf8_from_encoding(nullptr, enc, U(text.c_str()));
  *result = measured;
  if (measured < 0) return std::string();
  std::string out(measured + 1, '\x7f');
  EXPECT_EQ(atr_utf8_from_encoding(reinterpret_cast<unsigned char*>(&out[0]), enc, U(text.c_str())),
            measured);
  out.resize(measured);
  return out;
}

// The lowest and highest code point of each encoded length, 1 to 6 bytes.
struct CodePointClass {
  unsigned int first;
  unsigned int last;
};
constexpr CodePointClass kClasses[] = {{0x01, 0x7F},          {0x80, 0x7FF},
                                       {0x800, 0xFFFF},       {0x10000, 0x1FFFFF},
                                       {0x200000, 0x3FFFFFF}, {0x4000000, 0x7FFFFFFF}};

class CodePoints {
 public:
  explicit CodePoints(unsigned seed) : random_(seed) {}

  unsigned int Any() {
    CodePointClass const& c = kClasses[Pick(6)];
    return Between(c.first, c.last);
  }
  // Mostly the edges of the classes, where the bit layout changes.
  unsigned int Between(unsigned int first, unsigned int last) {
    switch (Pick(4)) {
      case 0:
        return first;
      case 1:
        return last;
      default:
        return std::uniform_int_distribution<unsigned int>(first, last)(random_);
    }
  }
  int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }

 private:
  std::mt19937 random_;
};

std::string Utf8(unsigned int c) {
  unsigned char bytes[6];
  int n = atr_utf8_from_ucs4(bytes, c);
  return std::string(reinterpret_cast<char*>(bytes), n);
}

TEST(Utf8Primitives, LeadByteLengths) {
  unsigned char const leads[] = {0x7F, 0x80, 0xC2, 0xE3, 0xF0, 0xF8, 0xFC, 0xFE, 0xFF, 0xBF, 0x00};
  int const lengths[] = {1, 0, 2, 3, 4, 5, 6, 0, 0, 0, 1};
  for (unsigned i = 0; i < sizeof leads; ++i) {
    EXPECT_EQ(atr_utf8_len(&leads[i]), lengths[i]) << std::hex << int(leads[i]);
  }
  EXPECT_EQ(atr_utf8_len(static_cast<unsigned char const*>(nullptr)), 0);
}

TEST(Utf8Primitives, CodePointLengthsChangeAtEachClassEdge) {
  for (int n = 0; n < 6; ++n) {
    EXPECT_EQ(atr_utf8_len(kClasses[n].first), n + 1);
    EXPECT_EQ(atr_utf8_len(kClasses[n].last), n + 1);
  }
  EXPECT_EQ(atr_utf8_len(0u), 1);
  EXPECT_EQ(atr_utf8_len(0xFFFFFFFFu), 6);
}

TEST(Utf8Primitives, DecodingStopsAtTheFirstBadByte) {
  unsigned char out[6];
  ASSERT_EQ(atr_utf8_from_ucs4(out, 0x30BD), 3);
  EXPECT_EQ(Bytes(out, out + 3), (Bytes{0xE3, 0x82, 0xBD}));
  int len = -1;
  EXPECT_EQ(atr_utf8_to_ucs4(U("\xE3\x41\x82"), &len), 0xFFFFFFFFu);
  EXPECT_EQ(len, 3);
  // A terminator inside a sequence ends the reading there.
  EXPECT_EQ(atr_utf8_to_ucs4(U("\xF0\x9F"), &len), 0xFFFFFFFFu);
  // Overlong forms and surrogates are accepted.
  EXPECT_EQ(atr_utf8_to_ucs4(U("\xC1\x81"), nullptr), 0x41u);
  EXPECT_EQ(atr_utf8_to_ucs4(U("\xED\xA0\x80"), nullptr), 0xD800u);
  // Six bytes hold 31 bits: nothing is written for more.
  out[0] = 0xAA;
  EXPECT_EQ(atr_utf8_from_ucs4(out, 0x80000000u), 0);
  EXPECT_EQ(out[0], 0xAA);
}

TEST(Utf8Primitives, EveryCodePointClassRoundTrips) {
  CodePoints random(20240611);
  for (int i = 0; i < 200000; ++i) {
    unsigned int c = random.Any();
    unsigned char out[7] = {};
    int n = atr_utf8_from_ucs4(out, c);
    ASSERT_EQ(n, atr_utf8_len(c)) << std::hex << c;
    ASSERT_EQ(atr_utf8_len(out), n) << std::hex << c;
    int len = 0;
    ASSERT_EQ(atr_utf8_to_ucs4(out, &len), c) << std::hex << c;
    ASSERT_EQ(len, n);
    ASSERT_TRUE(atr_encoding_validate(atr_EncodingUtf8, out));
  }
}

TEST(EncodingValidation, EachEncodingsRules) {
  EXPECT_FALSE(atr_encoding_validate(atr_EncodingLatin1, "a\x85z"));
  EXPECT_TRUE(atr_encoding_validate(atr_EncodingLatin1, "\xA0\xE9\xFF\x7E"));
  EXPECT_FALSE(atr_encoding_validate(atr_EncodingNone, ""));
  EXPECT_FALSE(atr_encoding_validate(7, "abc"));
  for (int enc = 1; enc <= 3; ++enc) {
    EXPECT_TRUE(atr_encoding_validate(enc, "")) << enc;
    EXPECT_FALSE(atr_encoding_validate(enc, static_cast<char const*>(nullptr))) << enc;
  }
}

TEST(EncodingConversion, Latin1KeepsWhatItHasAndReplacesOrRefusesTheRest) {
  int result;
  EXPECT_EQ(ToEncoding(atr_EncodingLatin1, "\xC3\xA9", 0, &result), "\xE9");
  EXPECT_EQ(result, 1);
  ToEncoding(atr_EncodingLatin1, "\xE2\x82\xAC", 0, &result);
  EXPECT_EQ(result, atr_EncodingNotRepresentable);
  EXPECT_EQ(ToEncoding(atr_EncodingLatin1, "\xE2\x82\xAC", '?', &result), "?");
  EXPECT_EQ(result, 1);
  char out[2] = {'x', 'y'};
  EXPECT_EQ(atr_utf8_to_encoding(atr_EncodingLatin1, out, "", '?'), 0);
  EXPECT_EQ(out[0], '\0');
  EXPECT_EQ(out[1], 'y');
}

TEST(EncodingConversion, BadInputAndUnknownEncodings) {
  int result;
  ToEncoding(atr_EncodingLatin1, "ab\xC3", '?', &result);
  EXPECT_EQ(result, atr_EncodingInvalidInput);
  // No encoder: every character needs the replacement.
  EXPECT_EQ(ToEncoding(atr_EncodingNone, "abc", '#', &result), "###");
  ToEncoding(9, "abc", 0, &result);
  EXPECT_EQ(result, atr_EncodingNotRepresentable);
  FromEncoding(atr_EncodingNone, "abc", &result);
  EXPECT_EQ(result, atr_EncodingInvalidInput);
  EXPECT_EQ(atr_utf8_to_encoding(atr_EncodingUtf8, static_cast<char*>(nullptr),
                                 static_cast<char const*>(nullptr), '?'),
            atr_EncodingInvalidInput);
}

// Random texts over all classes: UTF-8 to UTF-8 is the identity; to Latin-1 a character
// survives exactly when it is at most U+00FF; back from Latin-1 it is the same character.
TEST(EncodingConversion, RandomTextsAgainstTheCharactersChosen) {
  CodePoints random(77);
  for (int round = 0; round < 3000; ++round) {
    std::vector<unsigned int> chars;
    std::string utf8, latin1_expected, back_expected;
    bool all_latin1 = true;
    int length = random.Pick(12);
    for (int i = 0; i < length; ++i) {
      unsigned int c = random.Pick(3) == 0 ? random.Between(0x01, 0xFF) : random.Any();
      chars.push_back(c);
      utf8 += Utf8(c);
      bool in_latin1 = c <= 0xFF;
      all_latin1 = all_latin1 && in_latin1;
      latin1_expected += in_latin1 ? static_cast<char>(c) : '?';
      back_expected += in_latin1 ? Utf8(c) : "?";
    }
    int result;
    ASSERT_EQ(ToEncoding(atr_EncodingUtf8, utf8, 0, &result), utf8);
    std::string latin1 = ToEncoding(atr_EncodingLatin1, utf8, '?', &result);
    ASSERT_EQ(latin1, latin1_expected);
    ToEncoding(atr_EncodingLatin1, utf8, 0, &result);
    ASSERT_EQ(result,
              all_latin1 ? static_cast<int>(latin1_expected.size()) : atr_EncodingNotRepresentable);
    ASSERT_EQ(FromEncoding(atr_EncodingLatin1, latin1, &result), back_expected);
  }
}

// Random bytes: with a replacement the conversion fails exactly when the text is not
// valid UTF-8, and measuring and writing agree.
TEST(EncodingConversion, RandomBytesFailExactlyWhenTheyAreNotUtf8) {
  std::mt19937 random(5);
  unsigned char const interesting[] = {'a',  0x7F, 0x80, 0xBF, 0xC0, 0xC3, 0xDF, 0xE0,
                                       0xE3, 0xEF, 0xF0, 0xF7, 0xF8, 0xFC, 0xFD, 0xFE};
  for (int round = 0; round < 20000; ++round) {
    std::string text;
    int length = std::uniform_int_distribution<int>(0, 10)(random);
    for (int i = 0; i < length; ++i) {
      text += static_cast<char>(interesting[random() % sizeof interesting]);
    }
    bool valid = atr_encoding_validate(atr_EncodingUtf8, text.c_str());
    for (int enc : {atr_EncodingUtf8, atr_EncodingLatin1}) {
      int result;
      ToEncoding(enc, text, '?', &result);
      ASSERT_EQ(result == atr_EncodingInvalidInput, !valid) << testing::PrintToString(text);
    }
  }
}

// The locale's encoding, in locales that hold every character, some or only ASCII.
class LocaleEncoding : public testing::Test {
 protected:
  LocaleGuard guard_;
};

// The C library's UTF-8 has the same six-byte range, and refuses surrogates.
TEST_F(LocaleEncoding, Utf8LocaleKeepsEveryCharacterButSurrogates) {
  USE_LOCALE_OR_SKIP(guard_, "de_DE.UTF-8");
  CodePoints random(99);
  for (int round = 0; round < 2000; ++round) {
    std::string utf8, expected;
    for (int i = random.Pick(8); i > 0; --i) {
      unsigned int c = random.Pick(2) == 0 ? random.Between(0x01, 0x10FFFF) : random.Any();
      utf8 += Utf8(c);
      bool surrogate = c >= 0xD800 && c <= 0xDFFF;
      expected += surrogate ? "?" : Utf8(c);
    }
    int result;
    std::string shown = ToEncoding(atr_EncodingLocale, utf8, '?', &result);
    ASSERT_EQ(shown, expected);
    ASSERT_TRUE(atr_encoding_validate(atr_EncodingLocale, shown.c_str()));
    ASSERT_EQ(FromEncoding(atr_EncodingLocale, shown, &result), expected);
  }
}

TEST_F(LocaleEncoding, CharactersBeyondTheBasicPlanePassThrough) {
  USE_LOCALE_OR_SKIP(guard_, "ja_JP.UTF-8");
  int result;
  EXPECT_EQ(ToEncoding(atr_EncodingLocale, "\xF0\x9F\x98\x80", 0, &result), "\xF0\x9F\x98\x80");
}

TEST_F(LocaleEncoding, Latin1LocaleShowsAccentsAndReplacesJapanese) {
  USE_LOCALE_OR_SKIP(guard_, "fr_FR.ISO-8859-1");
  int result;
  EXPECT_EQ(ToEncoding(atr_EncodingLocale, "Cr\xC3\xA9\xC3\xA9", '?', &result), "Cr\xE9\xE9");
  EXPECT_EQ(ToEncoding(atr_EncodingLocale, "\xE3\x82\xBD!", '?', &result), "?!");
  ToEncoding(atr_EncodingLocale, "\xE3\x82\xBD", 0, &result);
  EXPECT_EQ(result, atr_EncodingNotRepresentable);
  EXPECT_EQ(FromEncoding(atr_EncodingLocale, "\xE9t\xE9", &result), "\xC3\xA9t\xC3\xA9");
  EXPECT_TRUE(atr_encoding_validate(atr_EncodingLocale, "\xE9\xFF"));
}

TEST_F(LocaleEncoding, EucJpRoundTripsKanaAndKanji) {
  USE_LOCALE_OR_SKIP(guard_, "ja_JP.EUC-JP");
  int result;
  // "ファイル" (file) and "開く" (open).
  std::string utf8 =
      "\xE3\x83\x95\xE3\x82\xA1\xE3\x82\xA4\xE3\x83\xAB\xE3\x82\x92\xE9\x96\x8B\xE3\x81\x8F";
  std::string euc = ToEncoding(atr_EncodingLocale, utf8, 0, &result);
  EXPECT_EQ(result, 14);
  EXPECT_EQ(euc.substr(0, 2), "\xA5\xD5");
  EXPECT_TRUE(atr_encoding_validate(atr_EncodingLocale, euc.c_str()));
  EXPECT_EQ(FromEncoding(atr_EncodingLocale, euc, &result), utf8);
  // A lone lead byte is no character of EUC-JP.
  EXPECT_FALSE(atr_encoding_validate(atr_EncodingLocale, "\xA5"));
  FromEncoding(atr_EncodingLocale, "ab\xA5", &result);
  EXPECT_EQ(result, atr_EncodingInvalidInput);
}

TEST_F(LocaleEncoding, TheCLocaleHasOnlyAscii) {
  USE_LOCALE_OR_SKIP(guard_, "C");
  int result;
  EXPECT_EQ(ToEncoding(atr_EncodingLocale, "caf\xC3\xA9", '?', &result), "caf?");
  EXPECT_FALSE(atr_encoding_validate(atr_EncodingLocale, "caf\xE9"));
}

}  // namespace
