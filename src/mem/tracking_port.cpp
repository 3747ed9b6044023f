#include "mem/tracking_port.h"

#include <cstdlib>

#include "mem/tracker/thread_state.h"
#include "mem/tracker/tracker.h"
#include "plat/race_annotations.h"

namespace mem::tracking {

int g_mode = kUndecided;

int DecideMode() {
  if (g_mode == kUndecided) g_mode = std::getenv("KOV_MEM_TRACK") != nullptr ? kOn : kOff;
  return g_mode;
}

bool ModeCache::Refresh() {
  int process_mode = g_mode;
  int cached = cached_.load(std::memory_order_relaxed);
  if (cached == kUndecided) cached = process_mode;
  if (cached != kOff) cached = cached == kOn ? (process_mode == kOn ? kOn : kOff) : process_mode;
  cached_.store(cached, std::memory_order_relaxed);
  return cached == kOn;
}

void ModeCache::DeclareShared() const { plat::DeclareAtomicWord(&cached_, sizeof cached_); }

void Report(Operation operation, void const* block, void const* old_block, unsigned size) {
  if (mem_Tracker* tracker = mem_Tracker::Get()) tracker->Report(operation, block, old_block, size);
}

void StartThreadTracking() {
  if (DecideMode() != kOn) return;
  if (mem_Tracker* tracker = mem_Tracker::Get()) tracker->ThreadNumber();
}

void FinishTracking() {
  mem_Tracker::Destroy();
  tracker::ReleaseCallingThreadRecord();
}

}  // namespace mem::tracking
