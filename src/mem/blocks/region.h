// Regions: the allocators that run inside a block's memory. A fixed region hands out
// slots of one size; its free slots hold the free list.
#ifndef VARURUROR_MEM_BLOCKS_REGION_H
#define VARURUROR_MEM_BLOCKS_REGION_H

#include <cstddef>
#include <cstdint>

namespace mem::blocks {

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

  bool Free(int index) override { return FreeAt(index - start_); }

  // Free by the slot's offset from the record.
  bool FreeAt(int offset) {
    alloc_count_ -= slot_words_;
    *SlotAt(offset) = first_free_;
    first_free_ = offset;
    return alloc_count_ == 0;
  }

  // For a caller that hands out this region's slots itself and knows their size: the
  // slot at the first free offset was taken and the free list now starts at next.
  void Took(int next, int slot_words) {
    first_free_ = next;
    alloc_count_ += slot_words;
  }

  void Print() const override;

  int Start() const { return start_; }
  int SizeClass() const { return class_; }
  int AllocCount() const { return alloc_count_; }
  int Length() const { return length_; }
  int FirstFree() const { return first_free_; }
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
  int start_;
  int class_;
  int alloc_count_;
  int header_words_;
  int length_;
  int first_free_;
  int slot_words_;
};
static_assert(sizeof(FixedRegion) == 32, "eight words");
static_assert(sizeof(FixedRegion) == FixedRegion::kHeaderWords * 4, "the header is the record");

}  // namespace mem::blocks

#endif
