#include "mem/blocks/region.h"

#include <cstdio>

namespace mem::blocks {

Region::~Region() = default;

FixedRegion::FixedRegion(int start, int size_class, int length, int slot_words)
    : class_(size_class),
      free_{kHeaderWords, 0},
      start_(start),
      header_words_(kHeaderWords),
      length_(length),
      slot_words_(slot_words) {
  *SlotAt(free_.first_free) = kNeverUsed;
}

void FixedRegion::Print() const { std::printf("FixedRegion: AllocCount = %d\n", free_.alloc_count); }

}  // namespace mem::blocks
