// Message translation without a dictionary.
#include "varururor/atr/translate.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "locale_guard.h"
#include "varururor/atr/format.h"
#include "varururor/atr/string_base_prv.h"

namespace {

std::string Text(atr_String const& s) { return std::string(s.CStr(), s.Length()); }

// Translates message and fills placeholders 1.. with the given texts.
std::string WithTexts(char const* message, std::vector<char const*> const& values) {
  atr_translate t(message);
  for (size_t i = 0; i < values.size(); ++i) atr_SubstituteFormat(t, int(i) + 1, values[i]);
  return Text(t.Result());
}

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
      // Unnumbered placeholders take the free numbers, after the count when some are beyond
      // it; a number used twice takes one substitution per occurrence, by rank.
      {"%s %3$s %s", 3, "<1> <3> <2>"},
      {"%7$s %s %9$s", 3, "<2> <1> <3>"},
      {"%1$s=%1$s", 2, "<1>=<2>"},
      {"a %q b %5$-12.lz %! c%", 0, "a q b z ! c"},
      {"%%%s%%%", 1, "%<1>%"},
      {"Progress: 100%%%", 0, "Progress: 100%%%"},
  };
  for (Case const& c : cases) {
    atr_translate t(c.message);
    for (int n = 1; n <= c.slots; ++n) {
      atr_SubstituteFormat(t, n, ("<" + std::to_string(n) + ">").c_str());
    }
    EXPECT_EQ(Text(t.Result()), c.shown) << c.message;
    EXPECT_EQ(t.Format(c.slots + 1), nullptr) << c.message;
    if (c.slots > 0) EXPECT_NE(t.Format(c.slots), nullptr) << c.message;
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

TEST(TranslateValues, EachTypeByItsPlaceholder) {
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
}

// A garbled width or precision costs at most 1023 bytes; a long value is never cut.
TEST(TranslateHostile, HugeFieldsAreClampedAndTheValueAlwaysShows) {
  EXPECT_EQ(Formatted("%1$1024d", 7), std::string(1022, ' ') + "7");
  EXPECT_EQ(Formatted("%1$1024d", 7LL), std::string(1022, ' ') + "7");
  EXPECT_EQ(Formatted("%.2147483647d", 7LL), std::string(1022, '0') + "7");
  EXPECT_EQ(Formatted("%-99999999999s", "x"), "x" + std::string(1022, ' '));
  EXPECT_EQ(Formatted("%.2147483647f", 1.5), "1.5" + std::string(1022, '0'));
  std::string digits = Formatted("%.5000f", 1e308);
  EXPECT_EQ(digits.size(), 309u + 1 + 1023) << digits;
}

// Untranslated UTF-8 is shown in the locale's encoding; invalid UTF-8 and overlong NULs as is.
TEST(TranslateLocale, UntranslatedMessagesAreConvertedForDisplay) {
  LocaleGuard guard;
  ASSERT_TRUE(guard.Use("C.UTF-8"));
  EXPECT_EQ(WithTexts("a\xC0\x80%s b %s", {"X", "Y"}), "a\xC0\x80X b Y");
  if (!guard.Use("fr_FR.ISO-8859-1")) GTEST_SKIP() << "locale fr_FR.ISO-8859-1 is not installed";
  EXPECT_EQ(WithTexts("Fichier \xC2\xAB%s\xC2\xBB cr\xC3\xA9\xC3\xA9", {"a.txt"}),
            "Fichier \xAB"
            "a.txt\xBB cr\xE9\xE9");
  EXPECT_EQ(Text(atr_raw("\xE3\x82\xBD\xE3\x83\xBC ok\\@key")), "?? ok");
  EXPECT_EQ(Text(atr_raw("bad \xC3 byte")), "bad \xC3 byte");
}

}  // namespace
