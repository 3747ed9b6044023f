// The word pool of an omi_Octree: blocks of 32-bit words from which the leaves take their
// id storage, so that a leaf does not allocate by itself.
//
// An allocation is carved from the current block; a block whose allocations have all been
// released is reset and waits on the tree's freed-block list for reuse. Blocks go back to
// the allocator only with the tree.
#ifndef VARURUROR_OMI_OCTREE_MEMORY_H
#define VARURUROR_OMI_OCTREE_MEMORY_H

#include "varururor/frame/export.h"
#include "varururor/mem/operators.h"

class omi_Octree;
class omi_OctreeMemory;

// One allocation: the block it came from and its words; both null when there is none.
struct omi_OctreeMemPtr {
  omi_OctreeMemory* block = nullptr;
  unsigned int* words = nullptr;

  // Gives the words back to their block and forgets them; nothing when there are none.
  inline void Release();
};

static_assert(sizeof(omi_OctreeMemPtr) == 8, "the block, then the words");

class VR_API omi_OctreeMemory : public mem_AllocationOperatorsTiny {
 public:
  // A block of word_count words, nothing allocated, in front of next in the tree's list.
  omi_OctreeMemory(unsigned int word_count, omi_OctreeMemory* next, omi_Octree* tree);
  omi_OctreeMemory(omi_OctreeMemory const&) = delete;
  omi_OctreeMemory& operator=(omi_OctreeMemory const&) = delete;
  ~omi_OctreeMemory();

  // One allocation fewer; the last one resets the block and puts it on the tree's
  // freed-block list. A block with no live allocations is left alone.
  void Release();

  unsigned int Size() const { return size_; }
  unsigned int Remaining() const { return remaining_; }
  unsigned int LiveAllocations() const { return live_; }
  omi_OctreeMemory const* Next() const { return next_; }
  omi_OctreeMemory const* NextFreed() const { return next_freed_; }

 private:
  friend class omi_Octree;

  // n words from the block, which has them; the library's own step, not exported.
  VR_HIDDEN unsigned int* Take(unsigned int n);

  unsigned int* base_;
  unsigned int remaining_;
  unsigned int live_;
  unsigned int* next_free_;
  unsigned int size_;
  omi_OctreeMemory* next_;
  omi_OctreeMemory* next_freed_;
  omi_Octree* tree_;
};

inline void omi_OctreeMemPtr::Release() {
  if (block != nullptr) block->Release();
  block = nullptr;
  words = nullptr;
}

#endif
