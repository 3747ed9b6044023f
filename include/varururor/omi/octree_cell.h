// The cells of an omi_Octree: branches of up to eight children and leaves that hold box ids.
//
// A cell covers centre - half-size to centre + half-size on each axis. A branch divides some
// axes at its centre: a point goes to the upper child along a divided axis when its
// coordinate is greater than the centre's, else to the lower one (a point on the plane goes
// below). Child index bit 0 is the upper half in x, bit 1 in y, bit 2 in z. Along an axis the
// branch does not divide, its children span its whole range.
#ifndef VARURUROR_OMI_OCTREE_CELL_H
#define VARURUROR_OMI_OCTREE_CELL_H

#include <cmath>

#include "varururor/frame/export.h"
#include "varururor/mem/operators.h"
#include "varururor/omi/octree_memory.h"
#include "varururor/omi/octree_vector.h"

class omi_Octree;
class omi_OctreeLeaf;

class VR_API omi_OctreeCell : public mem_AllocationOperatorsTiny {
 public:
  omi_OctreeCell(omi_OctVector const& centre, omi_OctVector const& half_size);
  omi_OctreeCell(omi_OctreeCell const&) = delete;
  omi_OctreeCell& operator=(omi_OctreeCell const&) = delete;
  virtual ~omi_OctreeCell();

  // The leaf whose region holds point (x, y, z); null for a null point. A point outside the
  // cell is located in the border leaf on its side.
  virtual omi_OctreeLeaf const* FindCell(float const* point) const = 0;
  // Stores id in every leaf under this cell that the box from min to max touches; tree is
  // the tree the cell belongs to. Returns the cell that is to replace this one (the caller
  // deletes this one), or null.
  virtual omi_OctreeCell* InsertBox(unsigned int id, omi_OctVector const& min,
                                    omi_OctVector const& max, omi_Octree* tree) = 0;
  // Adds the cell to the statistics of omi_Octree::Dump; returns the number of ids held.
  virtual unsigned int Dump() const = 0;

  omi_OctVector const& HalfSize() const { return half_size_; }
  omi_OctVector const& Centre() const { return centre_; }

 protected:
  omi_OctVector half_size_;
  omi_OctVector centre_;
};

class VR_API omi_OctreeBranch : public omi_OctreeCell {
 public:
  enum : unsigned int { kChildren = 8 };

  // Divides the axes that the tree divides and on which half the half-size is still at least
  // the tree's minimum half-size, and creates an empty leaf for each child index whose axes
  // the tree divides.
  omi_OctreeBranch(omi_OctVector const& centre, omi_OctVector const& half_size, omi_Octree* tree);
  ~omi_OctreeBranch() override;

  omi_OctreeLeaf const* FindCell(float const* point) const override;
  // Never replaced: always null.
  omi_OctreeCell* InsertBox(unsigned int id, omi_OctVector const& min, omi_OctVector const& max,
                            omi_Octree* tree) override;
  unsigned int Dump() const override;

  // Null for an index that names an axis the tree does not divide.
  omi_OctreeCell const* Child(unsigned int index) const {
    return index < kChildren ? children_[index] : nullptr;
  }
  bool IsLeafChild(unsigned int index) const {
    return index < kChildren && ((leaf_children_ >> index) & 1u) != 0;
  }
  bool Divides(int axis) const {
    return axis >= 0 && axis < omi_OctVector::kAxes && divided_[axis] != 0;
  }
  // The child a point goes to.
  unsigned int ChildIndex(float const* point) const {
    return (divided_[omi_OctVector::kX] != 0 && std::isgreater(point[omi_OctVector::kX], centre_.x) ? 1u : 0u) |
           (divided_[omi_OctVector::kY] != 0 && std::isgreater(point[omi_OctVector::kY], centre_.y) ? 2u : 0u) |
           (divided_[omi_OctVector::kZ] != 0 && std::isgreater(point[omi_OctVector::kZ], centre_.z) ? 4u : 0u);
  }

 private:
  omi_OctreeCell* children_[kChildren];
  unsigned char divided_[omi_OctVector::kAxes];
  // A bit per child index that holds a leaf: lets a search walk down without asking each
  // cell what it is. It fills the byte the three flags leave over.
  unsigned char leaf_children_;
};

class VR_API omi_OctreeLeaf : public omi_OctreeCell {
 public:
  // What BoxId gives for an index at or beyond the box count.
  static constexpr unsigned int kNoBox = 0xFFFFFFFFu;

  omi_OctreeLeaf(omi_OctVector const& centre, omi_OctVector const& half_size, unsigned int number);
  ~omi_OctreeLeaf() override;

  // The leaf itself.
  omi_OctreeLeaf const* FindCell(float const* point) const override;
  omi_OctreeCell* InsertBox(unsigned int id, omi_OctVector const& min, omi_OctVector const& max,
                            omi_Octree* tree) override = 0;
  // Called on a leaf by itself, it also prints the statistics.
  unsigned int Dump() const override;
  // The index-th id stored, in the order of insertion.
  virtual unsigned int BoxId(unsigned int index) const = 0;

  unsigned int BoxCount() const { return box_count_; }
  // Unique within the tree; a replaced leaf's number is not given again.
  unsigned int Number() const { return number_; }

 protected:
  unsigned int box_count_;
  unsigned int number_;
};

// Up to 256 ids in eight chunks of 32, each taken from the tree's pool when first needed. A
// full leaf becomes a branch, or an unbounded leaf when it is small or deep.
class VR_API omi_OctreeLeafFix : public omi_OctreeLeaf {
 public:
  enum : unsigned int { kCapacity = 256, kChunkIds = 32, kChunks = 8, kLog2ChunkIds = 5 };

  omi_OctreeLeafFix(omi_OctVector const& centre, omi_OctVector const& half_size,
                    unsigned int number);
  ~omi_OctreeLeafFix() override;

  omi_OctreeCell* InsertBox(unsigned int id, omi_OctVector const& min, omi_OctVector const& max,
                            omi_Octree* tree) override;
  unsigned int BoxId(unsigned int index) const override;

 private:
  // The cell that takes over when the leaf is full, filled with the leaf's ids; the
  // library's own step, not exported.
  VR_HIDDEN omi_OctreeCell* Successor(omi_Octree* tree) const;

  omi_OctreeMemPtr chunks_[kChunks];
};

// Any number of ids in one pool allocation, doubled when full.
class VR_API omi_OctreeLeafInf : public omi_OctreeLeaf {
 public:
  enum : unsigned int { kInitialCapacity = 512 };

  omi_OctreeLeafInf(omi_OctVector const& centre, omi_OctVector const& half_size,
                    unsigned int number, omi_Octree* tree);
  ~omi_OctreeLeafInf() override;

  // Never replaced: always null.
  omi_OctreeCell* InsertBox(unsigned int id, omi_OctVector const& min, omi_OctVector const& max,
                            omi_Octree* tree) override;
  unsigned int BoxId(unsigned int index) const override;

  unsigned int Capacity() const { return capacity_; }

 private:
  unsigned int capacity_;
  omi_OctreeMemPtr ids_;
};

#endif
