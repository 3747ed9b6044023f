// What the memory cache manager's two halves (blocks and purge lists) share: the purge
// state and the share of the capacity past which the purge worker is woken.
#ifndef VARURUROR_MEM_POOLS_CACHE_MANAGER_STATE_H
#define VARURUROR_MEM_POOLS_CACHE_MANAGER_STATE_H

#include <cstdint>

namespace mem {

enum PurgeState { kPurgeNormal = 0, kPurgeFoundNothing = 1, kPurgeOutOfMemory = 2 };

// Four fifths of the capacity, without overflow.
inline unsigned WakeThreshold(unsigned capacity) {
  return static_cast<unsigned>(std::uint64_t{capacity} * 4 / 5);
}

}  // namespace mem

#endif
