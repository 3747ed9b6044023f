// The exponent fix of the string's number texts, on the texts a runtime with
// three-digit exponents produces (the number texts themselves are checked through the
// strings made from numbers).
#include "atr/number_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Fixed(char const* text) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%s", text);
  atr::DropExponentZero(buffer);
  return buffer;
}

TEST(NumberText, DropsTheLeadingZeroOfAThreeDigitExponentOnly) {
  EXPECT_EQ(Fixed("1e+005"), "1e+05");
  EXPECT_EQ(Fixed("1.5e-007"), "1.5e-07");
  EXPECT_EQ(Fixed("-2.25e+020"), "-2.25e+20");
  EXPECT_EQ(Fixed("1e+000"), "1e+00");
  EXPECT_EQ(Fixed("1e+100"), "1e+100");
  EXPECT_EQ(Fixed("1e+05"), "1e+05");
  EXPECT_EQ(Fixed("1e+0050"), "1e+0050");
  EXPECT_EQ(Fixed("1e005"), "1e005");
  EXPECT_EQ(Fixed("1e+0a5"), "1e+0a5");
  EXPECT_EQ(Fixed("100000"), "100000");
  EXPECT_EQ(Fixed("e+0"), "e+0");
  EXPECT_EQ(Fixed(""), "");
}

}  // namespace
