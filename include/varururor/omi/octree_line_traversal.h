// The leaves of an omi_Octree along a segment, each once, in order along the segment.
//
// With tolerance r, a leaf lies along the segment when its region, widened by r on every
// side, meets the segment; the leaves come in the order of the parameter t (p0 + t (p1 - p0),
// 0 <= t <= 1) at which the segment enters their widened regions. Every leaf that point
// location gives for a point of the segment inside the root box is among them. The widening
// is never less than a few units in the last place of the coordinates involved, so that
// rounding in the caller's computation of a point on the segment cannot land it in a leaf
// that is not reported. Only the root box (widened by r) is searched: a segment that misses
// it has no leaves.
//
// Calling order: Init, then NextCell until it returns null. The tree must not change during
// the traversal. A traversal may be started again with Init, on any tree.
#ifndef VARURUROR_OMI_OCTREE_LINE_TRAVERSAL_H
#define VARURUROR_OMI_OCTREE_LINE_TRAVERSAL_H

#include "varururor/frame/export.h"
#include "varururor/mem/operators.h"
#include "varururor/omi/bit_vector.h"
#include "varururor/omi/octree_vector.h"

class omi_Octree;
class omi_OctreeLeaf;

class VR_API omi_OctreeLineTrav : public mem_AllocationOperators {
 public:
  enum : int { kPendingLeaves = 8 };

  omi_OctreeLineTrav();
  omi_OctreeLineTrav(omi_OctreeLineTrav const&) = delete;
  omi_OctreeLineTrav& operator=(omi_OctreeLineTrav const&) = delete;
  ~omi_OctreeLineTrav();

  // Starts a traversal of tree from start to end (three floats each). A tolerance below 0 or
  // not a number is taken as 0. False when no leaf lies along the segment: it misses the
  // root box widened by the tolerance, or an argument is null or a coordinate is not finite.
  bool Init(omi_Octree const* tree, float* const start, float* const end, float tolerance);
  // The next leaf along the segment; null at the end.
  omi_OctreeLeaf const* NextCell();

 private:
  // Takes the next leaves, by entry parameter, into the pending list; the library's own
  // step, not exported.
  VR_HIDDEN void Collect();

  omi_Octree const* tree_;
  int pending_count_;
  int next_pending_;
  omi_OctreeLeaf const* pending_[kPendingLeaves];
  omi_OctVector p0_;
  omi_OctVector p1_;
  omi_OctVector d_;
  omi_OctVector root_min_;
  omi_OctVector root_max_;
  // Every leaf whose widened region the segment enters before t_ has been reported.
  float t_;
  // The least widening, against rounding: a few units in the last place of the largest
  // coordinate of the segment and the root box.
  float margin_;
  float tolerance_;
  omi_BlkBitVect visited_;  // by leaf number
};

#endif
