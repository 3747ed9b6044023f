#include "mem/tracking_port.h"

#include <cstdlib>

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

namespace {
// Until the tracker writes records, each report is counted by operation.
std::atomic<unsigned> g_report_counts[static_cast<int>(Operation::kCount)];
}  // namespace

void Report(Operation operation, void const*, void const*, unsigned) {
  g_report_counts[static_cast<int>(operation)].fetch_add(1, std::memory_order_relaxed);
}

unsigned ReportCount(Operation operation) {
  return g_report_counts[static_cast<int>(operation)].load(std::memory_order_relaxed);
}

}  // namespace mem::tracking
