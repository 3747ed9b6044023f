// Wall-clock time stamps and the session's tick counter.
#ifndef VARURUROR_FRAME_TIME_STAMP_H
#define VARURUROR_FRAME_TIME_STAMP_H

#include "varururor/frame/export.h"

struct omi_Time {
  int seconds;       // since 1970-01-01 00:00 UTC
  int microseconds;  // a multiple of 1000: the clock is read in milliseconds
};
static_assert(sizeof(omi_Time) == 8, "two 32-bit fields");

extern "C" {

VR_API omi_Time omi_gettimeofday();
// The time of day in seconds.
VR_API double omi_gettimestamp();
// The session counter's value, then counts it up by 1. From 10^15 on (or when it is not
// a number) it prints an overflow notice and returns 0, leaving the counter alone.
// For one thread at a time.
VR_API double omi_gettimecounter();
VR_API void omi_settimecounterstart(double start);

}  // extern "C"

#endif
