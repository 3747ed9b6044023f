// A spatial index of axis-aligned boxes identified by unsigned 32-bit ids.
//
// The caller owns the boxes: the tree keeps only ids, in its leaves, and asks the box
// callback for a box's corners when it redistributes the ids of a full leaf. It answers
// which leaf holds a point (FindCell: every box containing the point is in that leaf) and,
// with omi_OctreeLineTrav, which leaves lie along a segment.
//
// Leaves hold up to 256 ids; a full leaf is split into a branch, or, when it is already
// small or deep, replaced by a leaf of unbounded capacity. The id storage comes from the
// tree's own word pool (omi_OctreeMemory).
//
// Insertion and Dump use process-wide counters: two trees must not be filled or dumped at
// the same time from different threads.
#ifndef VARURUROR_OMI_OCTREE_H
#define VARURUROR_OMI_OCTREE_H

#include "varururor/frame/export.h"
#include "varururor/mem/operators.h"
#include "varururor/omi/octree_memory.h"
#include "varururor/omi/octree_vector.h"

class omi_OctreeBranch;
class omi_OctreeLeaf;

class VR_API omi_Octree : public mem_AllocationOperatorsTiny {
 public:
  // Writes the minimum and maximum corner of box id.
  using BoxCallback = void (*)(void* data, unsigned int id, float* min, float* max);

  enum : unsigned int { kBlockWords = 1024 };

  // The root covers centre ± half_size (each component taken by its magnitude; when all three
  // are below minimum_half_size, ± minimum_half_size on every axis). An axis whose half-size
  // is below minimum_half_size is never divided. Without a callback a full leaf cannot be
  // split and grows instead. A minimum_half_size that cannot end the subdivision (zero,
  // negative, subnormal, infinite or NaN) is refused with a line on standard error: the tree
  // then divides nothing, keeps every box in one unbounded leaf, and MinimumHalfSize() is
  // infinite.
  omi_Octree(omi_OctVector const& centre, omi_OctVector const& half_size, float minimum_half_size,
             BoxCallback callback, void* data);
  omi_Octree(omi_Octree const&) = delete;
  omi_Octree& operator=(omi_Octree const&) = delete;
  ~omi_Octree();

  // The leaf whose region holds point (three floats); null for a null point.
  omi_OctreeLeaf const* FindCell(float const* const point) const;
  // Stores id in every leaf that the box from min to max touches. The corners may come in
  // either order; a coordinate that is not a number stands for the whole axis. Should memory
  // run out, std::bad_alloc leaves the box in some of its leaves only.
  void InsertBox(unsigned int id, omi_OctVector const& min, omi_OctVector const& max);

  // words 32-bit words from the pool.
  omi_OctreeMemPtr MemAlloc(unsigned int words);
  // Puts a block of this tree on the freed-block list, unless it is there already.
  void FreedBlock(omi_OctreeMemory* block);

  // Prints the statistics of the cells and of the pool on standard output; returns the
  // number of blocks on the freed-block list.
  unsigned int Dump() const;

  omi_OctreeBranch const* Root() const { return root_; }
  float MinimumHalfSize() const { return minimum_half_size_; }
  bool Divides(int axis) const {
    return axis >= 0 && axis < omi_OctVector::kAxes && divided_[axis] != 0;
  }
  // The divided axis with the smallest half-size, which decides when a leaf is too small to
  // split.
  int ReferenceAxis() const { return reference_axis_; }
  omi_OctVector const& SmallestHalfSize() const { return smallest_half_size_; }
  // The number of leaves created so far, replaced ones included.
  unsigned int LeafNumbersGiven() const { return leaf_counter_; }
  omi_OctreeMemory const* Blocks() const { return blocks_; }
  omi_OctreeMemory const* CurrentBlock() const { return current_; }
  omi_OctreeMemory const* FreedBlocks() const { return freed_; }

 private:
  friend class omi_OctreeBranch;
  friend class omi_OctreeLeafFix;
  friend class omi_OctreeLeafInf;

  // The library's own steps, not exported.
  VR_HIDDEN unsigned int TakeLeafNumber() { return leaf_counter_++; }
  // A new branch's child half-size.
  VR_HIDDEN void NoteChildHalfSize(omi_OctVector const& half_size);
  VR_HIDDEN bool CanAskForBoxes() const { return callback_ != nullptr; }
  VR_HIDDEN void BoxBounds(unsigned int id, omi_OctVector& min, omi_OctVector& max) const;
  VR_HIDDEN bool OnFreedList(omi_OctreeMemory const* block) const;

  float minimum_half_size_;
  unsigned char divided_[omi_OctVector::kAxes];
  int reference_axis_;
  omi_OctVector smallest_half_size_;
  omi_OctreeBranch* root_;
  omi_OctreeMemory* blocks_;
  omi_OctreeMemory* current_;
  omi_OctreeMemory* freed_;
  unsigned int leaf_counter_;
  void* data_;
  BoxCallback callback_;
};

#endif
