// What the random model leaves out: the empty string, number texts, atr_String and
// atr_StringBasePrv, multi-byte case conversion and the ATR_SUMMARY statistics.
#include "varururor/atr/string.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

#include "child_process.h"
#include "locale_guard.h"
#include "string_probe.h"
#include "varururor/atr/string_base_prv.h"
#include "varururor/frame/startup.h"
#include "varururor/mem/allocation.h"

namespace {

std::string TextOf(TestString const& s) { return std::string(s.CStr(), s.Length()); }
std::string TextOf(atr_String const& s) { return std::string(s.CStr(), s.Length()); }

// An atr_String carrying text, made the way a client without translation can.
atr_String Text(char const* s) {
  atr_String result;
  atr_StringBasePrv(s).AssignTo(result);
  return result;
}

TEST(StringBase, TheEmptyStringHasNoRepresentationAndReadsAsTheSharedEmptyText) {
  TestString empty;
  for (TestString const& s :
       {TestString(""), TestString(nullptr), TestString("abc", 0),
        TestString(nullptr, 0, TestString::kBorrow), TestString(nullptr, 0, TestString::kAdopt)}) {
    EXPECT_EQ(ProbeOf(s).text, nullptr);
    EXPECT_EQ(ProbeOf(s).rep, nullptr);
    EXPECT_EQ(s.CStr(), empty.CStr());
    EXPECT_TRUE(s.Empty());
  }
}

TEST(StringBase, NumbersAreFormattedAsByPrintf) {
  EXPECT_EQ(TextOf(TestString(1.0 / 3)), "0.333333333333333");
  EXPECT_EQ(TextOf(TestString(-1.0e-300)), "-1e-300");
  EXPECT_EQ(TextOf(TestString(123456789.0f)), "1.23457e+08");
  EXPECT_EQ(TextOf(TestString(-2147483647 - 1)), "-2147483648");
  EXPECT_EQ(TextOf(TestString(4294967295u)), "4294967295");
  EXPECT_EQ(TextOf(atr_String(-42)), "-42");
}

TEST(String, SubstrAndExtractCopyTheirRange) {
  atr_String hello = Text("hello");
  EXPECT_EQ(TextOf(hello.Substr(2, 4)), "llo");
  EXPECT_EQ(TextOf(hello.Substr(2, 0xFFFFFFFFu)), "llo");
  EXPECT_TRUE(hello.Substr(9, 1).Empty());
  struct Case {
    char const* text;
    int field;
    char escape;
    char const* expected;
  } const cases[] = {
      {"a,b,c", 3, 0, ""},
      {"a,,b", 1, 0, ""},
      {"whole", 0, 0, "whole"},
      {"\"x\"\"y\",z", 0, '"', "x\"y"},
      {"a\\\\b\\c,d", 0, '\\', "a\\bc"},
      {"\"\",q", 0, '"', "\""},
      {"\",q", 0, '"', ""},
  };
  for (Case const& c : cases) {
    atr_String s = Text(c.text);
    atr_String field = c.escape == 0 ? s.extract(c.field, ',') : s.extract(c.field, ',', c.escape);
    EXPECT_EQ(TextOf(field), c.expected) << c.text << " " << c.field;
    EXPECT_EQ(ProbeOf(field).rep == nullptr, *c.expected == '\0') << c.text;
  }
}

TEST(String, AppendPlusAndReplaceNonTranslated) {
  atr_String a = Text("left");
  atr_String shared(a);
  atr_String sum = a + Text("right");
  a.Append(sum).Append(a);
  EXPECT_EQ(TextOf(a), "leftleftrightleftleftright");
  EXPECT_EQ(TextOf(shared), "left");
  atr_String s = Text("%2$s has %1$d of %1$d, %d and %s [%12$s]");
  s.ReplaceNonTranslated(1, 7).ReplaceNonTranslated(2, "Disk").ReplaceNonTranslated(0, -3);
  s.ReplaceNonTranslated(0, Text("all")).ReplaceNonTranslated("%1$d", "9");
  s.ReplaceNonTranslated("Disk", Text("Tape")).ReplaceNonTranslated(12, nullptr);
  s.ReplaceNonTranslated(static_cast<char const*>(nullptr), "x");
  EXPECT_EQ(TextOf(s), "Tape has 7 of 9, -3 and all []");
}

TEST(StringBasePrv, SharesAndHandsItsTextOn) {
  atr_StringBasePrv a("text");
  atr_StringBasePrv c;
  c = atr_StringBasePrv(a);
  atr_String target = Text("old");
  c.AssignTo(target);
  EXPECT_EQ(TextOf(target), "text");
  EXPECT_EQ(ProbeOf(a).references, 3);
  atr_StringBasePrv(nullptr).AssignTo(target);
  EXPECT_TRUE(target.Empty());
}

TEST(StringCase, MultiByteCharactersAreSteppedOverWhole) {
  LocaleGuard utf8;
  ASSERT_TRUE(utf8.Use("C.UTF-8"));
  // The umlauts stay as they are; a byte that starts no valid character counts as one.
  TestString s("\xC3\x84rger \xC3\xB6l \xC3z\xFFq");
  s.ToUpper();
  EXPECT_STREQ(s.CStr(), "\xC3\x84RGER \xC3\xB6L \xC3Z\xFFQ");
  s.ToLower();
  EXPECT_STREQ(s.CStr(), "\xC3\x84rger \xC3\xB6l \xC3z\xFFq");
  TestString umlaut_first("\xC3\xA4x");
  umlaut_first.Capitalize();
  EXPECT_STREQ(umlaut_first.CStr(), "\xC3\xA4x");
}

// Appending to "abcdefghij" (capacity 20) fails to extend it and moves it to a block of
// capacity 52; writing to the borrowed text copies it. The first of two finalizes reports
// nothing.
void EditAndFinalizeTwice() {
  int total = 0;
  atr_initialize(total);
  atr_initialize(total);
  {
    TestString s("abcdefghij");
    s.append("0123456789", 10, 0, INT_MAX);
    TestString borrowed("constant", 8, TestString::kBorrow);
    borrowed[0] = 'C';
    TestString separate(std::string(300, 'x').c_str());
    char* block = static_cast<char*>(mem_Malloc(4));
    std::memcpy(block, "abc", 4);
    TestString adopted(block, 3, TestString::kAdopt);
  }
  atr_finalize(total);
  atr_finalize(total);
}

TEST(StringStatistics, AreReportedAtTheLastFinalizeWhenAtrSummaryIsSet) {
  // The edit releases the old block before the new one counts.
  EXPECT_IN_CHILD(
      "^       3 Reps Created\n       3 Strings Created\n       1 Extension Failures\n"
      "       0 Active\n       0 Bytes in use\n       4 Maximum active\n      72 Maximum bytes "
      "in use\n    12\\.7 Mean length\n     5\\.2 Sigma length\n    18\\.0 Mean spare\n"
      "     9\\.9 Sigma spare\n$",
      setenv("ATR_SUMMARY", "", 1);
      EditAndFinalizeTwice());
  EXPECT_IN_CHILD("^$", unsetenv("ATR_SUMMARY"); EditAndFinalizeTwice());
}

}  // namespace
