// The double-hashing probe shared by the tracker's two tables.
#ifndef VARURUROR_MEM_TRACKER_PROBING_H
#define VARURUROR_MEM_TRACKER_PROBING_H

#include <cstdint>

namespace mem::tracker {

// The step for hash h in a table of `size` slots (size prime): h is stirred until it
// leaves a nonzero remainder, so that the step visits every slot.
inline std::uint32_t ProbeStep(std::uint32_t h, std::uint32_t size) {
  std::uint32_t v = h;
  do {
    v = v < 0x55555554u ? 3 * v + 1 : 2 * v + 1;
  } while (v % size == 0);
  return v % size;
}

}  // namespace mem::tracker

#endif
