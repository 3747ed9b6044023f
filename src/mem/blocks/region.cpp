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

// The record is the first thing at word start, so the block's memory begins start words
// before it.
std::int32_t* FixedRegion::SlotAt(int offset) const {
  return const_cast<std::int32_t*>(reinterpret_cast<std::int32_t const*>(this)) + offset;
}

int FixedRegion::Allocate() {
  if (first_free_ > length_ - slot_words_) return kNoSlot;
  int offset = first_free_;
  std::int32_t* slot = SlotAt(offset);
  if (*slot == kNeverUsed) {
    first_free_ += slot_words_;
    if (first_free_ < length_) *SlotAt(first_free_) = kNeverUsed;
  } else {
    first_free_ = *slot;
  }
  alloc_count_ += slot_words_;
  return start_ + offset;
}

bool FixedRegion::Free(int index) {
  int offset = index - start_;
  alloc_count_ -= slot_words_;
  *SlotAt(offset) = first_free_;
  first_free_ = offset;
  return alloc_count_ == 0;
}

void FixedRegion::Print() const { std::printf("FixedRegion: AllocCount = %d\n", alloc_count_); }

}  // namespace mem::blocks
