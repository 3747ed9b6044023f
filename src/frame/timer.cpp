#include "varururor/frame/timer.h"

#include "plat/clock.h"

namespace {

constexpr double kSecondsPer100Nanoseconds = 1e-7;

double ProcessCpuSeconds() {
  plat::ProcessTimes times;
  if (!plat::GetProcessTimes(&times)) return 0.0;
  return static_cast<double>(times.kernel_time + times.user_time) * kSecondsPer100Nanoseconds;
}

}  // namespace

omi_Timer::omi_Timer()
    : running_(0),
      start_wall_(0.0),
      start_cpu_(0.0),
      elapsed_wall_(0.0),
      total_cpu_(0.0),
      frequency_(static_cast<double>(plat::QueryPerformanceFrequency())) {}

double omi_Timer::WallSeconds() const {
  return static_cast<double>(plat::QueryPerformanceCounter()) / frequency_;
}

void omi_Timer::Start() {
  if (running_) return;
  start_wall_ = WallSeconds();
  start_cpu_ = ProcessCpuSeconds();
  running_ = 1;
}

void omi_Timer::Stop() {
  if (!running_) return;
  elapsed_wall_ += WallSeconds() - start_wall_;
  total_cpu_ += ProcessCpuSeconds() - start_cpu_;
  running_ = 0;
}

void omi_Timer::Reset() {
  running_ = 0;
  start_wall_ = 0.0;
  start_cpu_ = 0.0;
  elapsed_wall_ = 0.0;
  total_cpu_ = 0.0;
}

double omi_Timer::GetElapsedTime() const {
  if (!running_) return elapsed_wall_;
  return elapsed_wall_ + (WallSeconds() - start_wall_);
}

double omi_Timer::GetTotalCpuTime() const {
  if (!running_) return total_cpu_;
  return total_cpu_ + (ProcessCpuSeconds() - start_cpu_);
}
