#include "varururor/frame/timer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "varururor/frame/time_stamp.h"

namespace {

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Spends processor time, so that the processor clock must move.
void Spin(double seconds) {
  omi_Timer guard;
  guard.Start();
  volatile double sink = 0;
  while (guard.GetElapsedTime() < seconds) sink = sink + 1;
}

TEST(TimerTest, ReadsZeroBeforeStartAndAfterAStopWithoutStart) {
  omi_Timer timer;
  EXPECT_EQ(timer.GetElapsedTime(), 0.0);
  EXPECT_EQ(timer.GetTotalCpuTime(), 0.0);
  timer.Stop();
  EXPECT_EQ(timer.GetElapsedTime(), 0.0);
  EXPECT_EQ(timer.GetTotalCpuTime(), 0.0);
}

TEST(TimerTest, SumsTwoIntervals) {
  omi_Timer timer;
  timer.Start();
  SleepMs(30);
  timer.Stop();
  double first = timer.GetElapsedTime();
  EXPECT_GE(first, 0.025);
  SleepMs(50);  // stopped: not counted
  EXPECT_EQ(timer.GetElapsedTime(), first);

  timer.Start();
  double running = timer.GetElapsedTime();
  EXPECT_GE(running, first);
  SleepMs(30);
  EXPECT_GE(timer.GetElapsedTime(), first + 0.025);
  timer.Stop();
  double both = timer.GetElapsedTime();
  EXPECT_GE(both, first + 0.025);
  EXPECT_LT(both, first + 0.045);  // the 50 ms between the intervals are left out
}

TEST(TimerTest, StartWhileRunningKeepsTheFirstStart) {
  omi_Timer timer;
  timer.Start();
  SleepMs(20);
  timer.Start();
  timer.Stop();
  EXPECT_GE(timer.GetElapsedTime(), 0.015);
}

TEST(TimerTest, CountsProcessorTime) {
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
}

TEST(TimerTest, ResetWhileRunningStopsAtZero) {
  omi_Timer timer;
  timer.Start();
  Spin(0.01);
  timer.Reset();
  EXPECT_EQ(timer.GetElapsedTime(), 0.0);
  EXPECT_EQ(timer.GetTotalCpuTime(), 0.0);
  SleepMs(10);
  EXPECT_EQ(timer.GetElapsedTime(), 0.0);  // stopped, not restarted
}

TEST(TimeStampTest, MicrosecondsAreWholeMilliseconds) {
  omi_Time now = omi_gettimeofday();
  EXPECT_EQ(now.microseconds % 1000, 0);
  EXPECT_GE(now.microseconds, 0);
  EXPECT_LT(now.microseconds, 1000000);
  EXPECT_GT(now.seconds, 1600000000);  // after 2020
}

TEST(TimeStampTest, StampAdvancesWithTheClock) {
  double before = omi_gettimestamp();
  SleepMs(20);
  double after = omi_gettimestamp();
  EXPECT_GE(after - before, 0.015);
  EXPECT_LT(after - before, 5.0);
  omi_Time now = omi_gettimeofday();
  EXPECT_NEAR(now.seconds + now.microseconds * 1e-6, omi_gettimestamp(), 1.0);
}

TEST(TimeCounterTest, CountsUpFromTheStart) {
  omi_settimecounterstart(5);
  EXPECT_EQ(omi_gettimecounter(), 5.0);
  EXPECT_EQ(omi_gettimecounter(), 6.0);
  EXPECT_EQ(omi_gettimecounter(), 7.0);
}

TEST(TimeCounterTest, JustBelowTheLimitStillCounts) {
  omi_settimecounterstart(1e15 - 1);
  testing::internal::CaptureStdout();
  EXPECT_EQ(omi_gettimecounter(), 1e15 - 1);
  EXPECT_EQ(omi_gettimecounter(), 0.0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Session Time Counter overflow!\nRestart your session.\n");
}

TEST(TimeCounterTest, OverflowReportsEveryTimeAndKeepsTheCounter) {
  omi_settimecounterstart(1e15);
  testing::internal::CaptureStdout();
  EXPECT_EQ(omi_gettimecounter(), 0.0);
  EXPECT_EQ(omi_gettimecounter(), 0.0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Session Time Counter overflow!\nRestart your session.\n"
            "Session Time Counter overflow!\nRestart your session.\n");
}

TEST(TimeCounterTest, NotANumberOverflows) {
  omi_settimecounterstart(std::numeric_limits<double>::quiet_NaN());
  testing::internal::CaptureStdout();
  EXPECT_EQ(omi_gettimecounter(), 0.0);
  EXPECT_NE(testing::internal::GetCapturedStdout().find("overflow"), std::string::npos);
  omi_settimecounterstart(0);
}

}  // namespace
