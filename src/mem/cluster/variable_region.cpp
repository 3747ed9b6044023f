#include "mem/cluster/variable_region.h"

#include <cstdio>
#include <cstring>

namespace mem::cluster {

VariableRegion::VariableRegion(int length)
    : start_(0),
      class_(kVariableClass),
      alloc_count_(0),
      header_words_(kHeaderWords),
      length_(length),
      anchor_parent_(FreeTree::kNone),
      root_(FreeTree::kNone),
      anchor_smaller_(FreeTree::kNone),
      anchor_height_(0),
      largest_size_(0),
      largest_position_(FreeTree::kNone) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
  static_assert(
      offsetof(VariableRegion, anchor_parent_) == kAnchorWord * 4 &&
          offsetof(VariableRegion, root_) == (kAnchorWord + FreeTree::kLarger) * 4 &&
          offsetof(VariableRegion, anchor_smaller_) == (kAnchorWord + FreeTree::kSmaller) * 4 &&
          offsetof(VariableRegion, anchor_height_) == (kAnchorWord + FreeTree::kHeight) * 4,
      "the anchor node lies in the record");
  static_assert(offsetof(VariableRegion, largest_size_) == 40 &&
                    offsetof(VariableRegion, largest_position_) == 44,
                "the largest free block closes the record");
#pragma GCC diagnostic pop
  // Zero tags mark the ends: no block before the first, none after the last.
  Words()[kHeaderWords - kTagWords] = 0;
  Words()[length - 1] = 0;
  SetBlock(kHeaderWords, length - kHeaderWords, false);
  InsertFree(kHeaderWords);
}

void VariableRegion::SetBlock(int position, int size, bool in_use) {
  Words()[position - 1] = in_use ? size : -size;
  Words()[position + size - kTagWords] = size;
}

void VariableRegion::InsertFree(int position) {
  Tree().Insert(position);
  int size = BlockSize(position);
  if (size > largest_size_) {
    largest_size_ = size;
    largest_position_ = position;
  }
}

void VariableRegion::RemoveFree(int position) {
  FreeTree tree = Tree();
  tree.Remove(position);
  if (position != largest_position_) return;
  int largest = tree.Largest();
  largest_position_ = largest;
  largest_size_ = largest == FreeTree::kNone ? 0 : BlockSize(largest);
}

int VariableRegion::WordsFor(unsigned bytes) {
  if (bytes == 0) bytes = 1;
  unsigned words = (bytes - 1) / 4 + 1 + kTagWords;
  return static_cast<int>((words + kGranuleWords - 1) & ~unsigned{kGranuleWords - 1});
}

int VariableRegion::Allocate(unsigned bytes) {
  int words = WordsFor(bytes);
  if (largest_size_ < words) return kNoSlot;
  int position = Tree().BestFit(words);
  RemoveFree(position);
  int size = BlockSize(position);
  if (size - words >= kSplitWords) {
    SetBlock(position + words, size - words, false);
    InsertFree(position + words);
    size = words;
  }
  SetBlock(position, size, true);
  alloc_count_ += size;
  return position;
}

bool VariableRegion::Free(int position) {
  int size = BlockSize(position);
  alloc_count_ -= size;
  int next = position + size;
  if (IsFree(next)) {
    size += BlockSize(next);
    RemoveFree(next);
  }
  int previous_size = Words()[position - kTagWords];
  if (previous_size != 0 && IsFree(position - previous_size)) {
    position -= previous_size;
    size += previous_size;
    RemoveFree(position);
  }
  SetBlock(position, size, false);
  InsertFree(position);
  return alloc_count_ == 0;
}

int VariableRegion::Resize(int position, unsigned bytes) {
  int words = WordsFor(bytes);
  int size = BlockSize(position);
  if (size >= words) return position;
  int next = position + size;
  if (IsFree(next) && size + BlockSize(next) >= words) {
    int combined = size + BlockSize(next);
    RemoveFree(next);
    int new_size = combined;
    if (combined - words >= kSplitWords) {
      new_size = words;
      SetBlock(position + words, combined - words, false);
      InsertFree(position + words);
    }
    SetBlock(position, new_size, true);
    alloc_count_ += new_size - size;
    return position;
  }
  int moved = Allocate(bytes);
  if (moved == kNoSlot) return kNoSlot;
  std::memcpy(Words() + moved, Words() + position,
              static_cast<std::size_t>(size - kTagWords) * sizeof(std::int32_t));
  Free(position);
  return moved;
}

int VariableRegion::CutPage(int end) {
  int size = Words()[end - kTagWords];
  if (size < kPageWords) return kNoSlot;
  int position = end - size;
  if (!IsFree(position)) return kNoSlot;
  int page = (end - kPageWords) / kPageWords * kPageWords;
  if (page < position) return kNoSlot;
  RemoveFree(position);

  int front = page - position;
  if (front > 0) {
    int previous_size = Words()[position - kTagWords];
    if (previous_size == 0 || front >= kLeftoverWords) {
      SetBlock(position, front, false);
      InsertFree(position);
    } else {
      // The block before is in use (free blocks are never adjacent); it takes the words,
      // and they count as allocated so that freeing it later balances.
      SetBlock(position - previous_size, previous_size + front, true);
      alloc_count_ += front;
    }
  }
  int page_size = kPageWords;
  int back = end - (page + kPageWords);
  if (back >= kLeftoverWords) {
    SetBlock(page + kPageWords, back, false);
    InsertFree(page + kPageWords);
  } else {
    page_size += back;
  }
  SetBlock(page, page_size, true);
  alloc_count_ += page_size;
  return page;
}

void VariableRegion::Print() const {
  std::printf("VariableRegion: Size=%d, Alloc=%d\n", length_, alloc_count_);
}

}  // namespace mem::cluster
