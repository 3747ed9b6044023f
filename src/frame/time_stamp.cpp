#include "varururor/frame/time_stamp.h"

#include <cmath>
#include <cstdio>

#include "plat/clock.h"

namespace {

constexpr int kMicrosecondsPerMillisecond = 1000;
constexpr double kSecondsPerMicrosecond = 1e-6;
constexpr double kSessionCounterLimit = 1e15;

// The session's tick counter; one thread at a time.
double g_session_counter = 0.0;

}  // namespace

omi_Time omi_gettimeofday() {
  plat::TimeOfDay now;
  plat::GetTimeOfDay(&now);
  omi_Time stamp;
  stamp.seconds = static_cast<int>(now.seconds);
  stamp.microseconds = now.milliseconds * kMicrosecondsPerMillisecond;
  return stamp;
}

double omi_gettimestamp() {
  omi_Time now = omi_gettimeofday();
  return now.seconds + now.microseconds * kSecondsPerMicrosecond;
}

double omi_gettimecounter() {
  // A quiet comparison: a counter that is not a number fails it without trapping.
  if (std::isless(g_session_counter, kSessionCounterLimit)) {
    double value = g_session_counter;
    g_session_counter = value + 1.0;
    return value;
  }
  std::printf("Session Time Counter overflow!\n");
  std::printf("Restart your session.\n");
  return 0.0;
}

void omi_settimecounterstart(double start) { g_session_counter = start; }
