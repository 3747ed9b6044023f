// A stopwatch for wall-clock and processor time, summed over Start/Stop intervals.
#ifndef VARURUROR_FRAME_TIMER_H
#define VARURUROR_FRAME_TIMER_H

#include "varururor/frame/export.h"

class VR_API omi_Timer {
 public:
  // Stopped, all times 0.
  omi_Timer();

  // Each does nothing when the timer already is in the state it leads to.
  void Start();
  void Stop();
  // Stopped with all times 0; the counter frequency stays.
  void Reset();

  // Seconds over all finished intervals, plus the running one.
  double GetElapsedTime() const;
  double GetTotalCpuTime() const;

 private:
  VR_HIDDEN double WallSeconds() const;

  int running_;
  double start_wall_;
  double start_cpu_;
  double elapsed_wall_;
  double total_cpu_;
  double frequency_;  // performance-counter ticks per second
};
static_assert(sizeof(omi_Timer) == 44, "running flag and five doubles, 4-byte aligned");

#endif
