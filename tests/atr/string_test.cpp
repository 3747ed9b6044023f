// atr_String and atr_StringBasePrv as clients use them, and case conversion under the
// current locale.
#include "varururor/atr/string.h"

#include <gtest/gtest.h>

#include <string>

#include "locale_guard.h"
#include "string_probe.h"
#include "varururor/atr/string_base_prv.h"

namespace {

// An atr_String carrying text, made the way a client without translation can.
atr_String Text(char const* s) {
  atr_String result;
  atr_StringBasePrv(s).AssignTo(result);
  return result;
}

std::string TextOf(atr_String const& s) { return std::string(s.CStr(), s.Length()); }

TEST(String, IsMadeFromNumbersAndByCopying) {
  atr_String n(-42);
  EXPECT_STREQ(n.text(), "-42");
  EXPECT_EQ(n.Length(), 3u);
  atr_String copy(n);
  EXPECT_EQ(copy.CStr(), n.CStr());
  atr_String empty;
  EXPECT_TRUE(empty.Empty());
  EXPECT_STREQ(empty.text(), "");
  empty = copy;
  EXPECT_STREQ(empty.CStr(), "-42");
}

TEST(String, SubstrCopiesTheClampedRange) {
  atr_String s = Text("hello");
  EXPECT_EQ(TextOf(s.Substr(1, 100)), "ello");
  EXPECT_EQ(TextOf(s.Substr(0, 2)), "he");
  EXPECT_EQ(TextOf(s.Substr(5, 3)), "");
  EXPECT_TRUE(s.Substr(5, 3).Empty());
  EXPECT_EQ(TextOf(s.Substr(2, 0xFFFFFFFFu)), "llo");
  EXPECT_TRUE(s.Substr(9, 1).Empty());
}

TEST(String, ExtractTakesOneFieldBetweenSeparators) {
  atr_String s = Text("a,b,c");
  EXPECT_EQ(TextOf(s.extract(0, ',')), "a");
  EXPECT_EQ(TextOf(s.extract(1, ',')), "b");
  EXPECT_EQ(TextOf(s.extract(2, ',')), "c");
  EXPECT_EQ(TextOf(s.extract(3, ',')), "");
  EXPECT_EQ(TextOf(Text("a,,b").extract(1, ',')), "");
  EXPECT_EQ(TextOf(Text("a,b,").extract(2, ',')), "");
  EXPECT_EQ(TextOf(Text(",x").extract(0, ',')), "");
  EXPECT_EQ(TextOf(Text("whole").extract(0, ',')), "whole");
  EXPECT_EQ(TextOf(atr_String().extract(0, ',')), "");
  EXPECT_EQ(ProbeOf(Text("a,,b").extract(1, ',')).rep, nullptr);
}

TEST(String, ExtractWithAnEscapeKeepsDoubledEscapesOnceAndDropsSingleOnes) {
  EXPECT_EQ(TextOf(Text("\"x\"\"y\",z").extract(0, ',', '"')), "x\"y");
  EXPECT_EQ(TextOf(Text("\"x\"\"y\",z").extract(1, ',', '"')), "z");
  EXPECT_EQ(TextOf(Text("a\\\\b\\c;d").extract(0, ';', '\\')), "a\\bc");
  EXPECT_EQ(TextOf(Text("\"\",q").extract(0, ',', '"')), "\"");
  atr_String only_escape = Text("\",q").extract(0, ',', '"');
  EXPECT_TRUE(only_escape.Empty());
  EXPECT_EQ(ProbeOf(only_escape).rep, nullptr);
}

TEST(String, AppendAndPlusLeaveTheirOperandsAlone) {
  atr_String a = Text("left");
  atr_String b = Text("right");
  atr_String sum = a + b;
  EXPECT_EQ(TextOf(sum), "leftright");
  EXPECT_EQ(TextOf(a), "left");
  EXPECT_EQ(TextOf(b), "right");
  atr_String shared(a);
  a.Append(b).Append(a);
  EXPECT_EQ(TextOf(a), "leftrightleftright");
  EXPECT_EQ(TextOf(shared), "left");
}

TEST(String, ReplaceNonTranslatedFillsTheFirstPlaceholder) {
  atr_String s = Text("%2$s has %1$d of %1$d, %d and %s");
  s.ReplaceNonTranslated(1, 7);
  EXPECT_EQ(TextOf(s), "%2$s has 7 of %1$d, %d and %s");
  s.ReplaceNonTranslated(2, "Disk");
  EXPECT_EQ(TextOf(s), "Disk has 7 of %1$d, %d and %s");
  s.ReplaceNonTranslated(0, -3);
  EXPECT_EQ(TextOf(s), "Disk has 7 of %1$d, -3 and %s");
  s.ReplaceNonTranslated(0, Text("all"));
  EXPECT_EQ(TextOf(s), "Disk has 7 of %1$d, -3 and all");
  s.ReplaceNonTranslated("%1$d", "9");
  EXPECT_EQ(TextOf(s), "Disk has 7 of 9, -3 and all");
  s.ReplaceNonTranslated("Disk", Text("Tape"));
  EXPECT_EQ(TextOf(s), "Tape has 7 of 9, -3 and all");
}

TEST(String, ReplaceNonTranslatedReadsNullAsEmpty) {
  atr_String s = Text("[%s][%12$s]");
  s.ReplaceNonTranslated(static_cast<char const*>(nullptr), "x");
  EXPECT_EQ(TextOf(s), "[%s][%12$s]");
  s.ReplaceNonTranslated(0, static_cast<char const*>(nullptr));
  s.ReplaceNonTranslated(12, "twelve");
  EXPECT_EQ(TextOf(s), "[][twelve]");
}

TEST(StringBasePrv, SharesCopiesAndHandsItsTextOn) {
  atr_StringBasePrv a("text");
  EXPECT_EQ(a.Length(), 4u);
  atr_StringBasePrv b(a);
  EXPECT_EQ(ProbeOf(b).rep, ProbeOf(a).rep);
  EXPECT_EQ(ProbeOf(a).references, 2);
  atr_StringBasePrv c;
  c = b;
  EXPECT_EQ(ProbeOf(a).references, 3);
  atr_String target = Text("old");
  c.AssignTo(target);
  EXPECT_EQ(TextOf(target), "text");
  EXPECT_EQ(ProbeOf(a).references, 4);
  atr_StringBasePrv none(nullptr);
  EXPECT_EQ(none.Length(), 0u);
  none.AssignTo(target);
  EXPECT_TRUE(target.Empty());
}

TEST(StringCase, ATextWithNothingToChangeStaysShared) {
  TestString s("ABC 123");
  TestString copy(s);
  s.ToUpper();
  EXPECT_EQ(ProbeOf(s).rep, ProbeOf(copy).rep);
  s.Capitalize();
  EXPECT_EQ(ProbeOf(s).rep, ProbeOf(copy).rep);
  s.ToLower();
  EXPECT_NE(ProbeOf(s).rep, ProbeOf(copy).rep);
  EXPECT_STREQ(copy.CStr(), "ABC 123");
}

TEST(StringCase, MultiByteCharactersAreSteppedOverWhole) {
  LocaleGuard utf8;
  ASSERT_TRUE(utf8.Use("C.UTF-8"));
  // "Ärger Über Ölfässer": the umlauts stay as they are, the ASCII letters change.
  TestString s(
      "\xC3\x84rger \xC3\x9C"
      "ber \xC3\x96lf\xC3\xA4sser");
  s.ToUpper();
  EXPECT_STREQ(s.CStr(),
               "\xC3\x84RGER \xC3\x9C"
               "BER \xC3\x96LF\xC3\xA4SSER");
  s.ToLower();
  EXPECT_STREQ(s.CStr(),
               "\xC3\x84rger \xC3\x9C"
               "ber \xC3\x96lf\xC3\xA4sser");
  TestString umlaut_first("\xC3\xA4x");
  umlaut_first.Capitalize();
  EXPECT_STREQ(umlaut_first.CStr(), "\xC3\xA4x");
  // A byte that starts no valid character counts as one character.
  TestString broken("\xC3z\xFFq");
  broken.ToUpper();
  EXPECT_STREQ(broken.CStr(), "\xC3Z\xFFQ");
}

}  // namespace
