// The cases the random model leaves out: the empty string, exact sizes, borrowed text,
// get, number texts, searches, and the documented examples of the edits.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "string_probe.h"
#include "varururor/mem/allocation.h"

namespace {

std::string TextOf(TestString const& s) { return std::string(s.CStr(), s.Length()); }

TEST(StringBase, TheEmptyStringHasNoRepresentationAndReadsAsTheSharedEmptyText) {
  TestString a;
  TestString b("");
  TestString c(nullptr);
  TestString d("abc", 0);
  for (TestString const* s : {&a, &b, &c, &d}) {
    Probe p = ProbeOf(*s);
    EXPECT_EQ(p.text, nullptr);
    EXPECT_EQ(p.rep, nullptr);
    EXPECT_STREQ(s->CStr(), "");
    EXPECT_EQ(s->Length(), 0);
    EXPECT_TRUE(s->Empty());
  }
  EXPECT_EQ(a.CStr(), b.CStr());
  TestString s("abc");
  s = "";
  EXPECT_EQ(ProbeOf(s).rep, nullptr);
  EXPECT_EQ(ProbeOf(TestString(nullptr, 0, TestString::kBorrow)).rep, nullptr);
  EXPECT_EQ(ProbeOf(TestString(nullptr, 0, TestString::kAdopt)).rep, nullptr);
}

TEST(StringBase, TextsBelow239BytesLiveBehindTheHeaderInBlocksOf32ByteSteps) {
  struct Case {
    int length;
    int capacity;
    bool inline_text;
  } const cases[] = {{1, 20, true},     {14, 20, true},    {15, 52, true},
                     {46, 52, true},    {47, 84, true},    {238, 244, true},
                     {239, 240, false}, {240, 241, false}, {4096, 4097, false}};
  for (Case const& c : cases) {
    std::string text(c.length, 'q');
    TestString s(text.c_str());
    Probe p = ProbeOf(s);
    EXPECT_EQ(p.capacity, c.capacity) << c.length;
    EXPECT_EQ(p.inline_text(), c.inline_text) << c.length;
    EXPECT_EQ(p.length, c.length);
    EXPECT_EQ(p.references, 1);
    EXPECT_EQ(TextOf(s), text);
  }
  TestString presized(100, TestString::kPreSize);
  EXPECT_EQ(ProbeOf(presized).capacity, SizedCapacity(100));
  EXPECT_STREQ(presized.CStr(), "");
}

TEST(StringBase, BorrowedTextIsWrappedWithoutCopyAndCopiedOnWrite) {
  char const buffer[] = "constant";
  TestString s(buffer, 8, TestString::kBorrow);
  Probe p = ProbeOf(s);
  EXPECT_EQ(p.text, buffer);
  EXPECT_EQ(p.capacity, 0);
  s[0] = 'C';
  EXPECT_STREQ(buffer, "constant");
  EXPECT_EQ(TextOf(s), "Constant");
  EXPECT_NE(ProbeOf(s).text, buffer);
  EXPECT_EQ(ProbeOf(s).capacity, SizedCapacity(8));
}

TEST(StringBase, GetHandsBackTheOldBlockOnlyWhenTheCallerMustFreeIt) {
  // In place: nothing to free, the text stays where it is.
  TestString roomy("abc");
  char const* text = ProbeOf(roomy).text;
  EXPECT_EQ(roomy.get(10), nullptr);
  EXPECT_EQ(ProbeOf(roomy).text, text);

  // Shared: the old text stays with its other holder.
  TestString shared("abc");
  TestString holder(shared);
  EXPECT_EQ(shared.get(10), nullptr);
  EXPECT_EQ(TextOf(holder), "abc");
  EXPECT_STREQ(shared.CStr(), "");

  // Inline and too small: the whole old block comes back, text still readable.
  TestString small("abc");
  Probe before = ProbeOf(small);
  char* block = small.get(100);
  EXPECT_EQ(block, before.rep);
  EXPECT_STREQ(block + 12, "abc");
  EXPECT_EQ(ProbeOf(small).capacity, SizedCapacity(100));
  mem_Free(block);

  // Separate: the old text block comes back.
  std::string long_text(300, 'L');
  TestString separate(long_text.c_str());
  char const* old_text = ProbeOf(separate).text;
  block = separate.get(400);
  EXPECT_EQ(block, old_text);
  EXPECT_EQ(std::string(block), long_text);
  mem_Free(block);

  // Borrowed: the text stays with its owner.
  char const buffer[] = "borrowed";
  TestString borrowed(buffer, 8, TestString::kBorrow);
  EXPECT_EQ(borrowed.get(8), nullptr);
  EXPECT_NE(ProbeOf(borrowed).text, buffer);
}

TEST(StringBase, NumbersAreFormattedAsByPrintfWithAThreeDigitExponentShortened) {
  EXPECT_EQ(TextOf(TestString(1.0e5)), "100000");
  EXPECT_EQ(TextOf(TestString(1.0e20)), "1e+20");
  EXPECT_EQ(TextOf(TestString(1.0e100)), "1e+100");
  EXPECT_EQ(TextOf(TestString(1.0 / 3)), "0.333333333333333");
  EXPECT_EQ(TextOf(TestString(0.1)), "0.1");
  EXPECT_EQ(TextOf(TestString(-0.0)), "-0");
  EXPECT_EQ(TextOf(TestString(1.5e-7)), "1.5e-07");
  EXPECT_EQ(TextOf(TestString(-1.0e-300)), "-1e-300");
  EXPECT_EQ(TextOf(TestString(0.1f)), "0.1");
  EXPECT_EQ(TextOf(TestString(1.0f / 3)), "0.333333");
  EXPECT_EQ(TextOf(TestString(1.0e-5f)), "1e-05");
  EXPECT_EQ(TextOf(TestString(3.0e38f)), "3e+38");
  EXPECT_EQ(TextOf(TestString(123456789.0f)), "1.23457e+08");
  EXPECT_EQ(TextOf(TestString(-2147483647 - 1)), "-2147483648");
  EXPECT_EQ(TextOf(TestString(0)), "0");
  EXPECT_EQ(TextOf(TestString(4294967295u)), "4294967295");
}

TEST(StringBase, SearchesFollowTheirDocumentedResults) {
  TestString abc("abc");
  EXPECT_EQ(abc.Find("x", 0), 3);
  EXPECT_EQ(abc.Find("bc", 0), 1);
  EXPECT_EQ(abc.Find("a", 1), 3);
  EXPECT_EQ(abc.Find("", 2), 2);
  EXPECT_EQ(abc.Find("c", 3), 3);
  EXPECT_EQ(abc.Find("a", 4), 3);
  EXPECT_EQ(abc.Find(nullptr, 1), 1);
  EXPECT_EQ(TestString().Find("a", 0), 0);

  EXPECT_EQ(TestString("abcb").rfind("b", 1, 5), 3);
  EXPECT_EQ(TestString("abcb").rfind("b", 1, 2), 1);
  EXPECT_EQ(abc.rfind("a", 1, 0), 3);
  EXPECT_EQ(abc.rfind("a", 1, 1), 0);
  EXPECT_EQ(abc.rfind("a", 0, 2), 3);
  EXPECT_EQ(TestString("abcbc").rfind("bcX", 2, 2), 1);
  EXPECT_EQ(abc.rfind("abcd", 4, 3), 3);
  EXPECT_EQ(TestString().rfind("a", 1, 1), 0);

  EXPECT_EQ(abc.Substr(1, 10), 2);
  EXPECT_EQ(abc.Substr(0, 2), 2);
  EXPECT_EQ(abc.Substr(3, 1), 0);
}

TEST(StringBase, TrimsFollowTheDocumentedExamples) {
  TestString all("a b c ");
  TestString left("  ab ");
  TestString right(" ab  ");
  all.Trim(" ");
  left.LeftTrim(" ");
  right.RightTrim(" ");
  EXPECT_EQ(TextOf(all), "abc");
  EXPECT_EQ(TextOf(left), "ab ");
  EXPECT_EQ(TextOf(right), " ab");
  // Trim unshares even when nothing goes; the one-sided trims do not.
  TestString copy(all);
  all.Trim("x");
  EXPECT_NE(ProbeOf(all).rep, ProbeOf(copy).rep);
  TestString left_copy(copy);
  copy.LeftTrim("x");
  EXPECT_EQ(ProbeOf(copy).rep, ProbeOf(left_copy).rep);
}

TEST(StringBase, SubstituteSearchesEachPassFromTheStart) {
  TestString s("a");
  s.Substitute(TestString("a"), TestString("aa"), 2);
  EXPECT_EQ(TextOf(s), "aaa");
  TestString t("x-y-z");
  t.Substitute(TestString("-"), TestString(), 5);
  EXPECT_EQ(TextOf(t), "xyz");
  t.Substitute(TestString("y"), TestString("Y"), 0);
  EXPECT_EQ(TextOf(t), "xyz");
  t.Substitute(TestString(), TestString("Y"), 1);
  EXPECT_EQ(TextOf(t), "xyz");
  TestString self("ab");
  self.Substitute(TestString("b"), self, 1);
  EXPECT_EQ(TextOf(self), "aab");
  self.Substitute(self, TestString("whole"), 3);
  EXPECT_EQ(TextOf(self), "whole");
}

}  // namespace
