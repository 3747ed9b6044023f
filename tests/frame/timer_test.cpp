// The stopwatch, the time stamps and the session counter. Durations are checked against
// the monotonic clock read around each interval, never against a wall-time limit.
#include "varururor/frame/timer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "varururor/frame/time_stamp.h"

namespace {

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

TEST(TimeStampTest, WholeMillisecondsThatAdvanceWithTheClock) {
  omi_Time now = omi_gettimeofday();
  EXPECT_EQ(now.microseconds % 1000, 0);
  EXPECT_GE(now.microseconds, 0);
  EXPECT_LT(now.microseconds, 1000000);
  EXPECT_GT(now.seconds, 1600000000);  // after 2020
  double before = omi_gettimestamp();
  SleepMs(20);
  EXPECT_GE(omi_gettimestamp() - before, 0.015);
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

}  // namespace
