// Timing and small utilities. Durations are checked against the monotonic clock read
// around each interval, never against a wall-time limit.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <string>
#include <thread>

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
  double outside = Now();
  timer.Start();
  SleepMs(20);
  timer.Start();  // running: keeps the first start
  SleepMs(10);
  timer.Stop();
  double first = timer.GetElapsedTime();
  double first_outside = Now() - outside;
  EXPECT_GE(first, 0.025);
  SleepMs(50);  // stopped: not counted
  outside = Now();
  timer.Start();
  SleepMs(30);
  timer.Stop();
  EXPECT_GE(timer.GetElapsedTime(), first + 0.025);
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
}

// Equality compares the parts bit for bit, across forms too.
TEST(ComplexTest, PolarConvertsToPartsAndEqualityIsBitForBit) {
  EXPECT_EQ(omi_complex(omi_complex::kCartesian, 3, 4).Modulus(), 5.0);
  omi_complex polar(5, 2, kPi / 2);  // any nonzero form is polar
  EXPECT_TRUE(polar.IsPolar());
  EXPECT_EQ(polar.Real(), 2 * std::cos(kPi / 2));
  EXPECT_TRUE(omi_complex(omi_complex::kCartesian, 2 * std::cos(kPi / 2), 2) == polar);
  EXPECT_FALSE(polar == omi_complex(omi_complex::kCartesian, 0, 2));  // cos(pi/2) is not 0
  EXPECT_FALSE(polar == omi_complex(omi_complex::kPolar, 2, kPi));
}

TEST(ComplexTest, ArgumentCoversEveryQuadrantAndAxis) {
  double const parts[][2] = {{1, 1}, {-1, 1}, {-1, 0}, {-1, -1}, {0, 2}, {0, -2}, {0, 0}, {2, -1}};
  for (auto const& part : parts) {
    omi_complex z(omi_complex::kCartesian, part[0], part[1]);
    EXPECT_NEAR(z.Argument(), std::atan2(part[1], part[0]), 1e-15) << part[0] << "," << part[1];
  }
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
      {omn_JRTdouble(1.5e100, 10, 3), "  1.5e+100"},
      {omn_JRTdouble(0.1, 20, 15), "                 0.1"},  // not the default
      {omn_JRTdouble(-HUGE_VAL, 6, 3), "  -inf"},
  };
  for (Case const& c : cases) EXPECT_EQ(Print(c.number), c.text);
}

TEST(StrtoSizeTTest, BaseFromThePrefixAndNullReadsAsZero) {
  EXPECT_EQ(omi_strtoSizeT("0x1F"), 31u);
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
