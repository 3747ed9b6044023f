// Timing and small utilities: the stopwatch, time stamps and the session counter, error
// codes, complex numbers, the formatted double and its exponent rule, the size conversion
// and the Fortran string conversions. Durations are checked against the monotonic clock
// read around each interval, never against a wall-time limit.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <string>
#include <thread>

#include "frame/jrt_double_text.h"
#include "varururor/aio/ostrstream.h"
#include "varururor/frame/complex.h"
#include "varururor/frame/jrt_double.h"
#include "varururor/frame/string_conversion.h"
#include "varururor/frame/system_error_code.h"
#include "varururor/frame/time_stamp.h"
#include "varururor/frame/timer.h"
#include "varururor/mem/allocation.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr unsigned kNoSystemCode = 0xFFFFFFFFu;
constexpr double kRounding = 1e-6;
constexpr char kOverflow[] = "Session Time Counter overflow!\nRestart your session.\n";

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

TEST(TimerTest, SumsItsIntervalsAndNothingBetweenThem) {
  omi_Timer timer;
  timer.Stop();  // not running: nothing
  EXPECT_EQ(timer.GetElapsedTime(), 0.0);
  EXPECT_EQ(timer.GetTotalCpuTime(), 0.0);
  double outside = Now();
  timer.Start();
  SleepMs(20);
  timer.Start();  // running: keeps the first start
  SleepMs(10);
  timer.Stop();
  double first = timer.GetElapsedTime();
  double first_outside = Now() - outside;
  EXPECT_GE(first, 0.025);
  EXPECT_LE(first, first_outside + kRounding);
  SleepMs(50);  // stopped: not counted
  EXPECT_EQ(timer.GetElapsedTime(), first);
  outside = Now();
  timer.Start();
  EXPECT_GE(timer.GetElapsedTime(), first);
  SleepMs(30);
  EXPECT_GE(timer.GetElapsedTime(), first + 0.025);
  timer.Stop();
  EXPECT_LE(timer.GetElapsedTime(), first_outside + Now() - outside + kRounding);
}

TEST(TimerTest, CountsProcessorTimeAndResetStopsAtZero) {
  omi_Timer timer;
  timer.Start();
  // A loaded machine gives the process little processor time: spin until 20 ms are had.
  volatile double sink = 0;
  while (timer.GetTotalCpuTime() < 0.02 && timer.GetElapsedTime() < 10.0) sink = sink + 1;
  double while_running = timer.GetTotalCpuTime();
  EXPECT_GE(while_running, 0.02);
  EXPECT_LE(while_running, timer.GetElapsedTime() * 4) << "at most the wall time on each core";
  timer.Stop();
  double total = timer.GetTotalCpuTime();
  EXPECT_GE(total, while_running);
  SleepMs(20);
  EXPECT_EQ(timer.GetTotalCpuTime(), total);
  timer.Start();
  timer.Reset();
  EXPECT_EQ(timer.GetElapsedTime(), 0.0);
  EXPECT_EQ(timer.GetTotalCpuTime(), 0.0);
  SleepMs(10);
  EXPECT_EQ(timer.GetElapsedTime(), 0.0);  // stopped, not restarted
}

TEST(TimeStampTest, WholeMillisecondsOfTheClock) {
  omi_Time now = omi_gettimeofday();
  EXPECT_EQ(now.microseconds % 1000, 0);
  EXPECT_GE(now.microseconds, 0);
  EXPECT_LT(now.microseconds, 1000000);
  EXPECT_GT(now.seconds, 1600000000);  // after 2020
  omi_Time after;
  double stamp;
  do {  // the stamp of a millisecond that the two reads around it agree on
    now = omi_gettimeofday();
    stamp = omi_gettimestamp();
    after = omi_gettimeofday();
  } while (now.seconds != after.seconds || now.microseconds != after.microseconds);
  EXPECT_EQ(stamp, now.seconds + now.microseconds * 1e-6);
}

TEST(TimeCounterTest, CountsUpToTheLimitThenReportsEveryCallAndKeepsTheCounter) {
  omi_settimecounterstart(5);
  EXPECT_EQ(omi_gettimecounter(), 5.0);
  EXPECT_EQ(omi_gettimecounter(), 6.0);
  omi_settimecounterstart(1e15 - 1);
  testing::internal::CaptureStdout();
  EXPECT_EQ(omi_gettimecounter(), 1e15 - 1);
  EXPECT_EQ(omi_gettimecounter(), 0.0);
  EXPECT_EQ(omi_gettimecounter(), 0.0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), std::string(kOverflow) + kOverflow);
}

TEST(SystemErrorCodeTest, EachTypeTakesItsOwnErrorOnly) {
  errno = ENOENT;
  omi_SystemErrorCode code(omi_SystemErrorCode::kRuntimeError);
  EXPECT_EQ(code.GetRuntimeError(), ENOENT);
  EXPECT_EQ(code.GetSystemCode(), kNoSystemCode);
  errno = EACCES;  // the system's last error on this platform
  code.SetError(omi_SystemErrorCode::kSystemError);
  EXPECT_EQ(code.GetSystemCode(), static_cast<unsigned>(EACCES));
  EXPECT_EQ(code.GetRuntimeError(), -1);
  code.SetError(static_cast<omi_SystemErrorCode::ErrorCodeType>(7));
  EXPECT_EQ(code.GetSystemCode(), kNoSystemCode);
  EXPECT_EQ(code.GetRuntimeError(), -1);
}

TEST(ComplexTest, PolarConvertsToParts) {
  EXPECT_EQ(omi_complex(omi_complex::kCartesian, 3, 4).Modulus(), 5.0);
  omi_complex z(5, 2, kPi / 3);  // any nonzero form is polar
  EXPECT_TRUE(z.IsPolar());
  EXPECT_EQ(z.Real(), 2 * std::cos(kPi / 3));
  EXPECT_EQ(z.Imag(), 2 * std::sin(kPi / 3));
}

TEST(ComplexTest, ArgumentCoversEveryQuadrantAndAxis) {
  struct Case {
    double re, im, arg;
  } const cases[] = {
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

TEST(ComplexTest, EqualityWithinAndAcrossFormsIsBitForBit) {
  omi_complex polar(omi_complex::kPolar, 2, kPi / 2);
  omi_complex cartesian(omi_complex::kCartesian, 2 * std::cos(kPi / 2), 2);
  EXPECT_TRUE(polar == cartesian);
  EXPECT_TRUE(cartesian == polar);
  EXPECT_FALSE(polar == omi_complex(omi_complex::kCartesian, 0, 2));  // cos(pi/2) is not 0
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
      {omn_JRTdouble(1e5), "100000"},               // the default: six digits
      {omn_JRTdouble(1.5e5, 10, 3), "   1.5e+05"},  // two exponent digits: nothing to cut
      {omn_JRTdouble(1.5e100, 10, 3), "  1.5e+100"},
      {omn_JRTdouble(0.1, 20, 15), "                 0.1"},  // not the default
      {omn_JRTdouble(-HUGE_VAL, 6, 3), "  -inf"},
  };
  for (Case const& c : cases) EXPECT_EQ(Print(c.number), c.text);
}

// The exponent rule on texts this C library never prints itself.
TEST(JRTdoubleTest, ALeadingZeroOfExactlyThreeExponentDigitsGoes) {
  struct Case {
    char const* text;
    bool keep_width;
    char const* shortened;
  } const cases[] = {
      {"1.5e+005", false, "1.5e+05"},
      {"-2e-012", false, "-2e-12"},
      {"  1.5e+005", true, "   1.5e+05"},  // the width kept with a blank
      {"1.5e+05", true, "1.5e+05"},
      {"1.5e+100", true, "1.5e+100"},
      {"1e+0055", false, "1e+0055"},
      {"1e005", false, "1e005"},
      {"e+0", false, "e+0"},
      {"100000", true, "100000"},
      {"", true, ""},
  };
  for (Case const& c : cases) {
    char buffer[64];
    std::strcpy(buffer, c.text);
    frame::ShortenExponent(buffer, c.keep_width);
    EXPECT_STREQ(buffer, c.shortened) << c.text;
  }
}

TEST(StrtoSizeTTest, BaseFromThePrefix) {
  EXPECT_EQ(omi_strtoSizeT("0x1F"), 31u);
  EXPECT_EQ(omi_strtoSizeT("017"), 15u);
  EXPECT_EQ(omi_strtoSizeT("4294967295"), 4294967295u);
  EXPECT_EQ(omi_strtoSizeT("junk"), 0u);
  EXPECT_EQ(omi_strtoSizeT(nullptr), 0u);
}

// Trailing blanks go, the length counts (not a terminator), the copy fits the destination,
// and garbage lengths read as empty.
TEST(FortranStringTest, OneCopyRule) {
  struct Case {
    char const* fortran;
    int length;
    int size;
    char const* expected;
  } const cases[] = {
      {"ABC  ", 5, 80, "ABC"},    {" A B  ", 6, 80, " A B"}, {"     ", 5, 80, ""},
      {"ABCDEFGH", 3, 80, "ABC"}, {"ABC  ", 5, 3, "AB"},     {"ABC", -4, 80, ""},
      {nullptr, 7, 80, ""},
  };
  char dest[80];
  for (Case const& c : cases) {
    std::memset(dest, 'x', sizeof dest);
    omi_fortranFileNameConvert(dest, c.size, c.fortran, c.length);
    EXPECT_STREQ(dest, c.expected) << c.fortran;
  }
  std::string long_text(120, 'Q');
  omi_fortranStringConvert(dest, long_text.data(), 120);
  EXPECT_EQ(std::strlen(dest), 79u);
  omi_fortranFileNameConvert(dest, 0, "ABC", 3);  // no room: nothing written
  omi_fortranFileNameConvert(nullptr, 10, "ABC", 3);
}

TEST(FortranStringTest, ListsOfFixedAndOfSizedBuffers) {
  char** list = omi_fortranStringListConvert(4, "ONE  TWO  THREE     ", 5);
  ASSERT_NE(list, nullptr);
  EXPECT_STREQ(list[0], "ONE");
  EXPECT_STREQ(list[1], "TWO");
  EXPECT_STREQ(list[2], "THREE");
  EXPECT_STREQ(list[3], "");
  omi_fortranStringListFree(4, list);
  list = omi_fortranStringVarListConvert(2, 4, "ALPHA BETA  ", 6);
  ASSERT_NE(list, nullptr);
  EXPECT_STREQ(list[0], "ALP");
  EXPECT_STREQ(list[1], "BET");
  omi_fortranStringListFree(2, list);
  EXPECT_EQ(omi_fortranStringVarListConvert(2, 0, "ALPHA BETA  ", 6), nullptr);
  EXPECT_EQ(omi_fortranStringListConvert(-1, "ALPHA BETA  ", 6), nullptr);
  omi_fortranStringListFree(0, nullptr);
}

}  // namespace
