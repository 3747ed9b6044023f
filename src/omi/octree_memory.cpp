#include "varururor/omi/octree_memory.h"

#include <cstddef>
#include <new>

#include "varururor/omi/octree.h"

namespace {

constexpr unsigned int kWordBytes = 4;
constexpr unsigned long long kLargestRequest = 0xFFFFFFFFull;

}  // namespace

omi_OctreeMemory::omi_OctreeMemory(unsigned int word_count, omi_OctreeMemory* next,
                                   omi_Octree* tree)
    : base_(nullptr),
      remaining_(word_count),
      live_(0),
      next_free_(nullptr),
      size_(word_count),
      next_(next),
      next_freed_(nullptr),
      tree_(tree) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
  static_assert(sizeof(omi_OctreeMemory) == 32, "eight 32-bit fields");
  static_assert(
      offsetof(omi_OctreeMemory, base_) == 0 && offsetof(omi_OctreeMemory, remaining_) == 4 &&
          offsetof(omi_OctreeMemory, live_) == 8 && offsetof(omi_OctreeMemory, next_free_) == 12 &&
          offsetof(omi_OctreeMemory, size_) == 16 && offsetof(omi_OctreeMemory, next_) == 20 &&
          offsetof(omi_OctreeMemory, next_freed_) == 24 && offsetof(omi_OctreeMemory, tree_) == 28,
      "words, remaining, live, next free, size, next, next freed, tree");
#pragma GCC diagnostic pop
  // Counted in 64 bits: a block past the address space fails instead of wrapping round.
  unsigned long long bytes = 1ull * word_count * kWordBytes;
  if (bytes > kLargestRequest) throw std::bad_alloc();
  base_ = static_cast<unsigned int*>(mem_OperatorNewThrowBuiltin(static_cast<unsigned int>(bytes)));
  next_free_ = base_;
}

omi_OctreeMemory::~omi_OctreeMemory() { mem_Free(base_); }

void omi_OctreeMemory::Release() {
  if (live_ == 0 || --live_ != 0) return;
  remaining_ = size_;
  next_free_ = base_;
  tree_->FreedBlock(this);
}

unsigned int* omi_OctreeMemory::Take(unsigned int n) {
  unsigned int* words = next_free_;
  next_free_ += n;
  remaining_ -= n;
  ++live_;
  return words;
}
