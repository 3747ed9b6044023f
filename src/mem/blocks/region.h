// Regions: the allocators that run inside a block's memory. A fixed region hands out
// slots of one size; its free slots hold the free list.
#ifndef VARURUROR_MEM_BLOCKS_REGION_H
#define VARURUROR_MEM_BLOCKS_REGION_H

#include <cstddef>
#include <cstdint>

namespace mem::blocks {

// A fixed region's free-list head (an offset from its record) and its allocated words:
// what every allocation and free reads and writes, side by side.
struct FreeState {
  int first_free;
  int alloc_count;
};

// Offsets and positions are in words: a region lives inside a block's memory, and its
// record sits at word start of that memory, with its slots after its header.
class Region {
 public:
  virtual ~Region();
  // The word index (counted from the block's memory) of a free slot for an item of
  // bytes, or kNoSlot.
  virtual int Allocate(unsigned bytes) = 0;
  // Gives the slot at word index (counted from the block's memory) back; true when the
  // region has nothing allocated left.
  virtual bool Free(int index) = 0;
  virtual void Print() const = 0;

  static constexpr int kNoSlot = -1;
};

class FixedRegion final : public Region {
 public:
  // The region whose record is at word start of a block's memory, length words long
  // counted from start, with slots of slot_words words from word start + kHeaderWords.
  FixedRegion(int start, int size_class, int length, int slot_words);

  // Inline: the pools call these on every small allocation and free. Every slot has the
  // region's one size, so the request's size does not matter.
  int Allocate(unsigned /*bytes*/ = 0) override {
    if (free_.first_free > length_ - slot_words_) return kNoSlot;
    int offset = free_.first_free;
    std::int32_t* slot = SlotAt(offset);
    if (*slot == kNeverUsed) {
      free_.first_free += slot_words_;
      if (free_.first_free < length_) *SlotAt(free_.first_free) = kNeverUsed;
    } else {
      free_.first_free = *slot;
    }
    free_.alloc_count += slot_words_;
    return start_ + offset;
  }

  bool Free(int index) override { return FreeAt(index - start_); }

  // Free by the slot's offset from the record.
  bool FreeAt(int offset) {
    free_.alloc_count -= slot_words_;
    *SlotAt(offset) = free_.first_free;
    free_.first_free = offset;
    return free_.alloc_count == 0;
  }

  // The free offset and allocated words, for a caller that hands out and takes back this
  // region's slots itself (the thread-block pool's common cases).
  FreeState& State() { return free_; }

  void Print() const override;

  int Start() const { return start_; }
  int SizeClass() const { return class_; }
  int AllocCount() const { return free_.alloc_count; }
  int Length() const { return length_; }
  int FirstFree() const { return free_.first_free; }
  int SlotWords() const { return slot_words_; }
  // The slot's first word: the offset of the next free slot, or kNeverUsed. The record is
  // the first thing at word start, so the block's memory begins start words before it.
  std::int32_t* SlotAt(int offset) const {
    return const_cast<std::int32_t*>(reinterpret_cast<std::int32_t const*>(this)) + offset;
  }

  // The first word of a free slot from which on no slot was ever handed out.
  static constexpr std::int32_t kNeverUsed = -1;
  // The region record's own words: the slots begin after them.
  static constexpr int kHeaderWords = 8;

 private:
  // The class and the free state come first, so that in a thread-block page they share
  // the page mark's cache line (bytes 48 to 63) and a free reads no other line of the
  // page's records.
  int class_;
  FreeState free_;
  int start_;
  int header_words_;
  int length_;
  int slot_words_;

  friend struct FixedRegionLayout;
};
static_assert(sizeof(FixedRegion) == 32, "eight words");

// The record's words: virtual table, class, first free, allocated words, start, header
// words, length, slot words. GCC lays out this single-inheritance record as the
// standard-layout one it would be without the virtual table.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
struct FixedRegionLayout {
  static_assert(offsetof(FixedRegion, class_) == 4 && offsetof(FixedRegion, free_) == 8 &&
                    offsetof(FixedRegion, start_) == 16 &&
                    offsetof(FixedRegion, header_words_) == 20 &&
                    offsetof(FixedRegion, length_) == 24 && offsetof(FixedRegion, slot_words_) == 28,
                "field offsets");
};
#pragma GCC diagnostic pop
static_assert(sizeof(FixedRegion) == FixedRegion::kHeaderWords * 4, "the header is the record");

}  // namespace mem::blocks

#endif
