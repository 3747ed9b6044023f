// What the memory cache manager's parts (blocks, purge lists, the wait for room) share:
// the purge state, the share of the capacity past which the purge worker is woken, and
// the record of purge passes and changes that lets a waiting allocation decide.
#ifndef VARURUROR_MEM_POOLS_CACHE_MANAGER_STATE_H
#define VARURUROR_MEM_POOLS_CACHE_MANAGER_STATE_H

#include <cstdint>

#include "plat/event.h"

namespace mem {

enum PurgeState { kPurgeNormal = 0, kPurgeFoundNothing = 1, kPurgeOutOfMemory = 2 };

// Four fifths of the capacity, without overflow.
inline unsigned WakeThreshold(unsigned capacity) {
  return static_cast<unsigned>(std::uint64_t{capacity} * 4 / 5);
}

// How long a waiting allocation lets the client's worker take to start a purge pass
// before it runs one itself (a worker that polls on a timer, or a wrong worker count).
constexpr unsigned kWorkerPatienceMs = 100;
// A waiting allocation looks again at least this often, even if no signal reaches it.
constexpr unsigned kWaitSliceMs = 5;

// The wait for room. An allocation that finds no room notes the pass count and the
// change count; it gives up only when a pass numbered above that count (so started
// after the shortage was seen) has found nothing to free and nothing has changed since.
// Kept beside the purge lists: the manager's own record has a fixed layout.
struct RoomWait {
  std::uint64_t passes_started = 0;   // under the state lock; numbers the passes from 1
  std::uint64_t last_empty_pass = 0;  // under the state lock; the latest pass that freed nothing
  unsigned changes = 0;               // atomic: frees, registrations, capacity changes
  unsigned patience_ms = kWorkerPatienceMs;
  plat::EventHandle wakeup = nullptr;  // manual-reset; null if the system had none to give
};

}  // namespace mem

#endif
