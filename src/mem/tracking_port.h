// Where the allocation front end meets the memory tracker: the process-wide tracking
// mode, the per-entry-point copies of it, and the reports of each operation.
#ifndef VARURUROR_MEM_TRACKING_PORT_H
#define VARURUROR_MEM_TRACKING_PORT_H

#include <atomic>

namespace mem::tracking {

enum Mode : int {
  kUndecided = 0,
  kOff = 1,
  kOn = 2,
  kFinished = 3,  // the tracker has been destroyed
};

// The process-wide mode; a plain word, read by every entry point's cache.
extern int g_mode;

// Decides the mode on first query (on when KOV_MEM_TRACK is set, whatever its value)
// and returns it.
int DecideMode();

// One entry point's copy of the mode. Once it reads off, the entry point stops looking;
// while the process-wide mode is undecided it looks again at every call. Threads may
// race on the copy; a race only delays when reporting starts. Relaxed atomic accesses
// are plain loads and stores on this processor.
class ModeCache {
 public:
  constexpr ModeCache() = default;
  bool ShouldReport() {
    int const cached = cached_.load(std::memory_order_relaxed);
    // Tracking on and still on: the common case while tracking, decided without a call.
    if (cached == kOn && g_mode == kOn) return true;
    return cached != kOff && Refresh();
  }
  // Off for good: the entry point has nothing to report, now or later.
  bool IsOff() const { return cached_.load(std::memory_order_relaxed) == kOff; }
  // For thread checkers: the copy is a word shared on purpose.
  void DeclareShared() const;

 private:
  bool Refresh();
  std::atomic<int> cached_{kUndecided};
};

// The operations, as the tracker records them: the block, the block it replaced
// (realloc), and the size asked for (count times size for calloc). Makes the tracker on
// first use.
enum class Operation { kMalloc, kFree, kRealloc, kCalloc, kRelease, kAcquire };
void Report(Operation operation, void const* block, void const* old_block, unsigned size);

// At the module's start, with tracking on: the calling thread's tracking state, so that
// it is thread 0.
void StartThreadTracking();
// At the module's stop: destroys the tracker (writing its last files) and releases the
// calling thread's tracking state.
void FinishTracking();

}  // namespace mem::tracking

#endif
