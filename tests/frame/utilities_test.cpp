#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <string>

#include "varururor/aio/ostrstream.h"
#include "varururor/frame/complex.h"
#include "varururor/frame/jrt_double.h"
#include "varururor/frame/string_conversion.h"
#include "varururor/frame/system_error_code.h"
#include "varururor/mem/allocation.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

TEST(SystemErrorCodeTest, RuntimeTypeTakesErrno) {
  errno = ENOENT;
  omi_SystemErrorCode code(omi_SystemErrorCode::kRuntimeError);
  EXPECT_EQ(code.GetRuntimeError(), ENOENT);
  EXPECT_EQ(code.GetSystemCode(), 0xFFFFFFFFu);
}

TEST(SystemErrorCodeTest, SystemTypeTakesTheLastError) {
  errno = EACCES;  // the system's last error on this platform
  omi_SystemErrorCode code(omi_SystemErrorCode::kSystemError);
  EXPECT_EQ(code.GetSystemCode(), static_cast<unsigned>(EACCES));
  EXPECT_EQ(code.GetRuntimeError(), -1);
}

TEST(SystemErrorCodeTest, OtherTypesTakeNeither) {
  errno = EINVAL;
  omi_SystemErrorCode code(static_cast<omi_SystemErrorCode::ErrorCodeType>(7));
  EXPECT_EQ(code.GetSystemCode(), 0xFFFFFFFFu);
  EXPECT_EQ(code.GetRuntimeError(), -1);
  errno = EIO;
  code.SetError(omi_SystemErrorCode::kRuntimeError);
  EXPECT_EQ(code.GetRuntimeError(), EIO);
}

TEST(ComplexTest, CartesianReadsItsOwnParts) {
  omi_complex z(omi_complex::kCartesian, 3, 4);
  EXPECT_EQ(z.Real(), 3.0);
  EXPECT_EQ(z.Imag(), 4.0);
  EXPECT_EQ(z.Modulus(), 5.0);
  EXPECT_EQ(z.Argument(), std::atan(4.0 / 3.0));
}

TEST(ComplexTest, PolarConvertsToParts) {
  omi_complex z(5, 2, kPi / 3);  // any nonzero form is polar
  EXPECT_TRUE(z.IsPolar());
  EXPECT_EQ(z.Real(), 2 * std::cos(kPi / 3));
  EXPECT_EQ(z.Imag(), 2 * std::sin(kPi / 3));
  EXPECT_EQ(z.Modulus(), 2.0);
}

TEST(ComplexTest, ArgumentCoversEveryQuadrantAndAxis) {
  struct Case {
    double re, im, arg;
  } cases[] = {
      {1, 1, std::atan(1.0)},
      {-1, 1, std::atan(-1.0) + kPi},
      {-1, 0, kPi},
      {-1, -1, std::atan(1.0) - kPi},
      {0, 2, kPi / 2},
      {0, -2, -kPi / 2},
      {0, 0, 0},
      {2, -1, std::atan(-0.5)},
  };
  for (Case const& c : cases) {
    omi_complex z(omi_complex::kCartesian, c.re, c.im);
    EXPECT_EQ(z.Argument(), c.arg) << c.re << "," << c.im;
    EXPECT_NEAR(z.Argument(), std::atan2(c.im, c.re), 1e-15) << c.re << "," << c.im;
  }
}

TEST(ComplexTest, EqualityWithinAndAcrossForms) {
  omi_complex polar(omi_complex::kPolar, 2, kPi / 2);
  EXPECT_TRUE(polar == omi_complex(omi_complex::kCartesian, 2 * std::cos(kPi / 2), 2));
  EXPECT_TRUE(omi_complex(omi_complex::kCartesian, 2 * std::cos(kPi / 2), 2) == polar);
  // cos(pi/2) is not 0 in doubles: the comparison is bit for bit.
  EXPECT_FALSE(polar == omi_complex(omi_complex::kCartesian, 0, 2));
  EXPECT_TRUE(polar == omi_complex(omi_complex::kPolar, 2, kPi / 2));
  EXPECT_FALSE(polar == omi_complex(omi_complex::kPolar, 2, kPi));
}

std::string Print(omn_JRTdouble const& number) {
  aio_ostrstream stream;
  stream << number;
  char* text = stream.adoptString(mem_Malloc);
  std::string result = text == nullptr ? "<none>" : text;
  mem_Free(text);
  return result;
}

TEST(JRTdoubleTest, ExactTexts) {
  struct Case {
    omn_JRTdouble number;
    char const* text;
  } const cases[] = {
      {omn_JRTdouble(1e5), "100000"},  // the default: six digits
      {omn_JRTdouble(1e6), "1e+06"},
      {omn_JRTdouble(1.0 / 3), "0.333333"},
      {omn_JRTdouble(1.5e5, 10, 3), "   1.5e+05"},  // two exponent digits: nothing to cut
      {omn_JRTdouble(1.5e100, 10, 3), "  1.5e+100"},
      {omn_JRTdouble(-2e-300, 0, 2), "-2e-300"},
      {omn_JRTdouble(0.1, 20, 15), "                 0.1"},  // not the default
      {omn_JRTdouble(0.1, 0, 17), "0.10000000000000001"},
      {omn_JRTdouble(HUGE_VAL), "inf"},
      {omn_JRTdouble(-HUGE_VAL, 6, 3), "  -inf"},
  };
  for (Case const& c : cases) EXPECT_EQ(Print(c.number), c.text);
}

TEST(StrtoSizeTTest, BaseFromThePrefix) {
  EXPECT_EQ(omi_strtoSizeT("1234"), 1234u);
  EXPECT_EQ(omi_strtoSizeT("0x1F"), 31u);
  EXPECT_EQ(omi_strtoSizeT("017"), 15u);
  EXPECT_EQ(omi_strtoSizeT("  42abc"), 42u);
  EXPECT_EQ(omi_strtoSizeT("4294967295"), 4294967295u);
  EXPECT_EQ(omi_strtoSizeT("junk"), 0u);
  EXPECT_EQ(omi_strtoSizeT(nullptr), 0u);
}

TEST(FortranStringTest, TrailingBlanksGo) {
  char dest[80];
  std::memset(dest, 'x', sizeof dest);
  omi_fortranStringConvert(dest, "ABC  ", 5);
  EXPECT_STREQ(dest, "ABC");
  omi_fortranStringConvert(dest, " A B  ", 6);
  EXPECT_STREQ(dest, " A B");
  omi_fortranStringConvert(dest, "     ", 5);
  EXPECT_STREQ(dest, "");
  omi_fortranStringConvert(dest, "ABCDEFGH", 3);  // the length counts, not a terminator
  EXPECT_STREQ(dest, "ABC");
}

TEST(FortranStringTest, CutToTheDestination) {
  char dest[3] = {'x', 'x', 'x'};
  omi_fortranFileNameConvert(dest, 3, "ABC  ", 5);
  EXPECT_STREQ(dest, "AB");
  char big[100];
  std::string long_text(120, 'Q');
  omi_fortranStringConvert(big, long_text.data(), 120);
  EXPECT_EQ(std::strlen(big), 79u);
}

TEST(FortranStringTest, GarbageLengthsReadAsEmpty) {
  char dest[80] = "x";
  omi_fortranStringConvert(dest, "ABC", -4);
  EXPECT_STREQ(dest, "");
  std::strcpy(dest, "x");
  omi_fortranFileNameConvert(dest, 80, nullptr, 7);
  EXPECT_STREQ(dest, "");
  omi_fortranFileNameConvert(dest, 0, "ABC", 3);  // no room: nothing written
  omi_fortranFileNameConvert(nullptr, 10, "ABC", 3);
}

TEST(FortranStringTest, ListOfFixedBuffers) {
  char const fortran[] = "ONE  TWO  THREE     ";
  char** list = omi_fortranStringListConvert(4, fortran, 5);
  ASSERT_NE(list, nullptr);
  EXPECT_STREQ(list[0], "ONE");
  EXPECT_STREQ(list[1], "TWO");
  EXPECT_STREQ(list[2], "THREE");
  EXPECT_STREQ(list[3], "");
  omi_fortranStringListFree(4, list);
}

TEST(FortranStringTest, ListOfSizedBuffers) {
  char const fortran[] = "ALPHA BETA  ";
  char** list = omi_fortranStringVarListConvert(2, 4, fortran, 6);
  ASSERT_NE(list, nullptr);
  EXPECT_STREQ(list[0], "ALP");
  EXPECT_STREQ(list[1], "BET");
  omi_fortranStringListFree(2, list);
  EXPECT_EQ(omi_fortranStringVarListConvert(2, 0, fortran, 6), nullptr);
  EXPECT_EQ(omi_fortranStringListConvert(-1, fortran, 6), nullptr);
  omi_fortranStringListFree(0, nullptr);
}

}  // namespace
