// Message translation fed what a damaged dictionary entry or a careless caller gives it:
// huge widths and precisions, 64-bit values in character placeholders, and overlong UTF-8.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include "locale_guard.h"
#include "varururor/atr/translate.h"

namespace {

std::string Text(atr_String const& s) { return std::string(s.CStr(), s.Length()); }

template <typename T>
std::string Formatted(char const* message, T value) {
  atr_translate t(message);
  atr_SubstituteFormat(t, 1, value);
  return Text(t.Result());
}

std::string Printed(char const* format, double value) {
  int n = std::snprintf(nullptr, 0, format, value);
  std::string out(n, '\0');
  std::snprintf(&out[0], n + 1, format, value);
  return out;
}

TEST(TranslateHostile, HugeNumericFieldsAreClampedAndTheValueAlwaysShows) {
  struct Case {
    char const* message;
    std::string expected;
  };
  Case const cases[] = {
      {"%1$1024d", std::string(1022, ' ') + "7"},
      {"%2147483647d", std::string(1022, ' ') + "7"},
      {"%-99999999999d|", "7" + std::string(1022, ' ') + "|"},
      {"%0000001024d", std::string(1022, '0') + "7"},
      {"%1023d", std::string(1022, ' ') + "7"},
      {"%.2147483647d", std::string(1022, '0') + "7"},
      {"%1024x", std::string(1022, ' ') + "7"},
  };
  for (Case const& c : cases) {
    EXPECT_EQ(Formatted(c.message, 7), c.expected) << c.message;
    EXPECT_EQ(Formatted(c.message, 7LL), c.expected) << c.message << " (64 bits)";
  }
  EXPECT_EQ(Formatted("%999999999f", 1.5), std::string(1015, ' ') + "1.500000");
  EXPECT_EQ(Formatted("%.2147483647f", 1.5), "1.5" + std::string(1022, '0'));
  // A long value is never cut: 309 digits, the point and 1023 decimals.
  EXPECT_EQ(Formatted("%.5000f", 1e308), Printed("%.1023f", 1e308));
  EXPECT_EQ(Formatted("%.1024e", -2.5), Printed("%.1023e", -2.5));
}

TEST(TranslateHostile, A64BitIntegerInACharacterPlaceholderIsOneCharacter) {
  LocaleGuard guard;
  for (char const* locale : {"C", "C.UTF-8"}) {
    if (!guard.Use(locale)) continue;
    EXPECT_EQ(Formatted("<%c>", 0x41LL), "<A>") << locale;
    EXPECT_EQ(Formatted("<%c>", 0xE9LL), "<\xE9>") << locale;
    EXPECT_EQ(Formatted("<%c>", 0xE9ULL), "<\xE9>") << locale;
    EXPECT_EQ(Formatted("<%3c>", 0x41LL), "<  A>") << locale;
    EXPECT_EQ(Formatted("<%c>", 0xE9), "<\xE9>") << locale;
  }
}

// Untranslated messages of random bytes, overlong forms of NUL among them: the string
// handed out never holds a NUL inside its length, and a message that holds an overlong
// NUL is shown byte for byte as written.
TEST(TranslateHostile, OverlongNulIsShownAsWrittenAndLengthMatchesText) {
  LocaleGuard guard;
  for (char const* locale : {"C", "C.UTF-8"}) {
    if (!guard.Use(locale)) continue;
    EXPECT_EQ(Text(atr_raw("a\xC0\x80")), "a\xC0\x80") << locale;
    atr_translate t("a\xC0\x80%s b %s c");
    atr_SubstituteFormat(t, 1, "X");
    atr_SubstituteFormat(t, 2, "Y");
    EXPECT_EQ(Text(t.Result()), "a\xC0\x80X b Y c") << locale;

    std::mt19937 random(4242);
    char const* const pieces[] = {"a", " ", "\xC0\x80", "\xC3\xA9", "\xE0\x80\x80", "\xFF", "\x80"};
    for (int round = 0; round < 2000; ++round) {
      std::string message;
      for (int n = random() % 8; n > 0; --n) message += pieces[random() % 7];
      atr_String raw = atr_raw(message.c_str());
      ASSERT_EQ(raw.Length(), std::strlen(raw.CStr())) << locale << " " << message;
      if (message.find("\xC0\x80") != std::string::npos) {
        ASSERT_EQ(Text(raw), message) << locale;
      }
    }
  }
}

}  // namespace
