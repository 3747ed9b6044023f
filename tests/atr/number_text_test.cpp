// The exponent fix of number texts and of message translation, which follow one rule.
#include "atr/number_text.h"

#include <gtest/gtest.h>

#include <string>

#include "varururor/atr/translate.h"

namespace {

TEST(ExponentFix, DropsTheLeadingZeroOfAThreeDigitExponentOnly) {
  char const* const cases[][2] = {
      {"1e+005", "1e+05"},          {"1.5e-007", "1.5e-07"},
      {"-2.25e+020", "-2.25e+20"},  {"1e+000", "1e+00"},
      {"1e+100", "1e+100"},         {"1e+05", "1e+05"},
      {"1e+0050", "1e+0050"},       {"1e005", "1e005"},
      {"1e+0a5", "1e+0a5"},         {"1E+007", "1E+007"},
      {"2e5 3e+007", "2e5 3e+007"}, {"e+0", "e+0"},
      {"100000", "100000"},         {"", ""},
  };
  for (auto const& c : cases) {
    std::string number = c[0], message = c[0];
    atr::DropExponentZero(number.data());
    atr_translate::FixExponent(message.data());
    EXPECT_STREQ(number.c_str(), c[1]) << c[0];
    EXPECT_STREQ(message.c_str(), c[1]) << c[0];
  }
  atr_translate::FixExponent(nullptr);
}

}  // namespace
