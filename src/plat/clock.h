// Clocks: a high-resolution counter, process times and the time of day.
#ifndef VARURUROR_PLAT_CLOCK_H
#define VARURUROR_PLAT_CLOCK_H

#include <cstdint>

namespace plat {

std::int64_t QueryPerformanceCounter();
std::int64_t QueryPerformanceFrequency();  // counts per second

// CPU time the process has used, in 100-nanosecond units.
struct ProcessTimes {
  std::uint64_t kernel_time;
  std::uint64_t user_time;
};
bool GetProcessTimes(ProcessTimes* times);

// Wall-clock time with milliseconds, and the local zone's offset.
struct TimeOfDay {
  std::int64_t seconds;  // since 1970-01-01 00:00 UTC
  unsigned short milliseconds;
  short timezone_minutes;  // minutes west of UTC
  short daylight_saving;   // nonzero while daylight-saving time is in force
};
void GetTimeOfDay(TimeOfDay* now);

}  // namespace plat

#endif
