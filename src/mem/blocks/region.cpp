#include "mem/blocks/region.h"

#include <cstdio>

namespace mem::blocks {

Region::~Region() = default;

FixedRegion::FixedRegion(int start, int size_class, int length, int slot_words)
    : start_(start),
      class_(size_class),
      alloc_count_(0),
      header_words_(kHeaderWords),
      length_(length),
      first_free_(kHeaderWords),
      slot_words_(slot_words) {
  *SlotAt(first_free_) = kNeverUsed;
}

void FixedRegion::Print() const { std::printf("FixedRegion: AllocCount = %d\n", alloc_count_); }

}  // namespace mem::blocks
