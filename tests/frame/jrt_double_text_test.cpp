// The exponent rule of omn_JRTdouble, on texts this C library never prints itself.
#include "frame/jrt_double_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Shorten(std::string text, bool keep_width) {
  char buffer[64];
  text.copy(buffer, text.size());
  buffer[text.size()] = '\0';
  frame::ShortenExponent(buffer, keep_width);
  return buffer;
}

TEST(ShortenExponentTest, CutsALeadingZeroOfThreeDigits) {
  EXPECT_EQ(Shorten("1.5e+005", false), "1.5e+05");
  EXPECT_EQ(Shorten("-2e-012", false), "-2e-12");
}

TEST(ShortenExponentTest, KeepsTheWidthWithABlank) {
  EXPECT_EQ(Shorten("  1.5e+005", true), "   1.5e+05");
  EXPECT_EQ(Shorten("  1.5e+005", true).size(), 10u);
}

TEST(ShortenExponentTest, LeavesOtherTextsAlone) {
  EXPECT_EQ(Shorten("1.5e+05", true), "1.5e+05");    // two digits
  EXPECT_EQ(Shorten("1.5e+100", true), "1.5e+100");  // first digit not 0
  EXPECT_EQ(Shorten("1e+0055", false), "1e+0055");   // four digits
  EXPECT_EQ(Shorten("1e005", false), "1e005");       // no sign
  EXPECT_EQ(Shorten("e+0", false), "e+0");
  EXPECT_EQ(Shorten("100000", true), "100000");
  EXPECT_EQ(Shorten("", true), "");
}

}  // namespace
