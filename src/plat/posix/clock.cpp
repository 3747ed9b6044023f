#include "plat/clock.h"

#include <sys/resource.h>
#include <sys/time.h>
#include <time.h>

namespace plat {
namespace {

constexpr std::int64_t kNanosecondsPerSecond = 1000000000;
constexpr std::uint64_t kNanosecondsPer100 = 100;

std::uint64_t HundredsOfNanoseconds(timespec const& t) {
  return (static_cast<std::uint64_t>(t.tv_sec) * kNanosecondsPerSecond +
          static_cast<std::uint64_t>(t.tv_nsec)) /
         kNanosecondsPer100;
}

}  // namespace

std::int64_t QueryPerformanceCounter() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * kNanosecondsPerSecond + now.tv_nsec;
}

std::int64_t QueryPerformanceFrequency() { return kNanosecondsPerSecond; }

bool GetProcessTimes(ProcessTimes* times) {
  // The process clock does not split kernel from user time; the thread-agnostic
  // rusage figures do, at microsecond resolution.
  timespec total;
  if (clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &total) != 0) return false;
  struct rusage usage;
  if (getrusage(RUSAGE_SELF, &usage) != 0) return false;
  timespec kernel{usage.ru_stime.tv_sec, usage.ru_stime.tv_usec * 1000};
  std::uint64_t all = HundredsOfNanoseconds(total);
  std::uint64_t in_kernel = HundredsOfNanoseconds(kernel);
  times->kernel_time = in_kernel < all ? in_kernel : all;
  times->user_time = all - times->kernel_time;
  return true;
}

void GetTimeOfDay(TimeOfDay* now) {
  timespec wall;
  clock_gettime(CLOCK_REALTIME, &wall);
  now->seconds = wall.tv_sec;
  now->milliseconds = static_cast<unsigned short>(wall.tv_nsec / 1000000);
  time_t seconds = wall.tv_sec;
  struct tm local;
  localtime_r(&seconds, &local);
  now->timezone_minutes = static_cast<short>(-local.tm_gmtoff / 60 + (local.tm_isdst > 0 ? 60 : 0));
  now->daylight_saving = static_cast<short>(local.tm_isdst > 0 ? 1 : 0);
}

}  // namespace plat
