// Timing and small utilities. Durations are checked against lower bounds only.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <string>
#include <thread>

#include "varururor/aio/ostrstream.h"
#include "varururor/frame/complex.h"
#include "varururor/frame/jrt_double.h"
#include "varururor/frame/string_conversion.h"
#include "varururor/frame/time_stamp.h"
#include "varururor/frame/timer.h"
#include "varururor/mem/allocation.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr char kOverflow[] = "Session Time Counter overflow!\nRestart your session.\n";

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// A second Start keeps the first; time stopped is not counted; Reset stops at zero.
TEST(TimerTest, SumsItsIntervalsOfWallAndProcessorTime) {
  omi_Timer timer;
  timer.Stop();  // not running: nothing
  EXPECT_EQ(timer.GetElapsedTime(), 0.0);
  timer.Start();
  SleepMs(20);
  timer.Start();
  SleepMs(10);
  EXPECT_GE(timer.GetElapsedTime(), 0.03);
  // A loaded machine gives the process little processor time: spin until 20 ms are had.
  volatile double sink = 0;
  while (timer.GetTotalCpuTime() < 0.02 && timer.GetElapsedTime() < 10.0) sink = sink + 1;
  timer.Stop();
  double const wall = timer.GetElapsedTime();
  double const cpu = timer.GetTotalCpuTime();
  EXPECT_GE(cpu, 0.02);
  SleepMs(20);
  EXPECT_EQ(timer.GetElapsedTime(), wall);
  EXPECT_EQ(timer.GetTotalCpuTime(), cpu);
  timer.Start();
  SleepMs(10);
  timer.Stop();
  EXPECT_GE(timer.GetElapsedTime(), wall + 0.01);
  timer.Start();
  timer.Reset();
  EXPECT_EQ(timer.GetElapsedTime(), 0.0);
  EXPECT_EQ(timer.GetTotalCpuTime(), 0.0);
}

TEST(TimeStampTest, WholeMillisecondsOfTheClock) {
  omi_Time now;
  omi_Time after;
  double stamp;
  do {  // the stamp of a millisecond that the two reads around it agree on
    now = omi_gettimeofday();
    stamp = omi_gettimestamp();
    after = omi_gettimeofday();
  } while (now.seconds != after.seconds || now.microseconds != after.microseconds);
  EXPECT_EQ(now.microseconds % 1000, 0);
  EXPECT_EQ(stamp, now.seconds + now.microseconds * 1e-6);
}

TEST(TimeCounterTest, CountsUpToTheLimitThenReportsEveryCall) {
  omi_settimecounterstart(1e15 - 1);
  testing::internal::CaptureStdout();
  EXPECT_EQ(omi_gettimecounter(), 1e15 - 1);
  EXPECT_EQ(omi_gettimecounter(), 0.0);
  EXPECT_EQ(omi_gettimecounter(), 0.0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), std::string(kOverflow) + kOverflow);
}

// Any nonzero form is polar; equality compares the parts bit for bit, across forms too.
TEST(ComplexTest, ArgumentInEveryQuadrantAndEqualityAcrossForms) {
  double const parts[][2] = {{1, 1}, {-1, 1}, {-1, 0}, {-1, -1}, {0, 2}, {0, -2}, {0, 0}, {2, -1}};
  for (auto const& part : parts) {
    omi_complex z(omi_complex::kCartesian, part[0], part[1]);
    EXPECT_NEAR(z.Argument(), std::atan2(part[1], part[0]), 1e-15) << part[0] << "," << part[1];
  }
  omi_complex polar(5, 2, kPi / 2);
  EXPECT_TRUE(omi_complex(omi_complex::kCartesian, 2 * std::cos(kPi / 2), 2) == polar);
  EXPECT_FALSE(polar == omi_complex(omi_complex::kCartesian, 0, 2));  // cos(pi/2) is not 0
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
  EXPECT_EQ(Print(omn_JRTdouble(1e5)), "100000");  // the default: six digits
  EXPECT_EQ(Print(omn_JRTdouble(1.5e100, 10, 3)), "  1.5e+100");
  EXPECT_EQ(Print(omn_JRTdouble(0.1, 20, 15)), "                 0.1");  // not the default
}

// Trailing blanks go, the length counts (not a terminator), the copy fits the destination,
// and garbage lengths read as empty; lists copy each element by the same rule.
TEST(FortranStringTest, OneCopyRuleForSingleStringsAndLists) {
  struct Case {
    char const* fortran;
    int length;
    int size;
    char const* expected;
  } const cases[] = {
      {" A B  ", 6, 80, " A B"}, {"     ", 5, 80, ""}, {"ABCDEFGH", 3, 80, "ABC"},
      {"ABC  ", 5, 3, "AB"},     {"ABC", -4, 80, ""},  {nullptr, 7, 80, ""},
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
  omi_fortranFileNameConvert(nullptr, 10, "ABC", 3);
  char** list = omi_fortranStringListConvert(3, "ONE  TWO  THREE", 5);
  ASSERT_NE(list, nullptr);
  EXPECT_STREQ(list[0], "ONE");
  EXPECT_STREQ(list[2], "THREE");
  omi_fortranStringListFree(3, list);
  list = omi_fortranStringVarListConvert(2, 4, "ALPHA BETA  ", 6);
  ASSERT_NE(list, nullptr);
  EXPECT_STREQ(list[1], "BET");
  omi_fortranStringListFree(2, list);
  EXPECT_EQ(omi_fortranStringListConvert(-1, "ALPHA BETA  ", 6), nullptr);
  omi_fortranStringListFree(0, nullptr);
}

}  // namespace
