#include "varururor/omi/octree_line_traversal.h"

#include <cmath>
#include <cstddef>
#include <limits>

#include "varururor/omi/octree.h"
#include "varururor/omi/octree_cell.h"

// How the leaves are found: each batch is the (up to) eight unvisited leaves with the
// smallest entry parameters, found by one descent from the root that visits children in
// order of entry and prunes cells the segment has left before t_ (their leaves are all
// reported) or enters after the eighth-best entry so far. The next batch starts at the
// eighth entry, so leaves that tie with it or come after are found then; a batch that was
// not cut short found everything that is left. This reports every leaf the segment's
// widened neighbourhood touches, in order; probing points at intervals along the segment
// would miss a leaf whose corner the segment cuts between two probes.

namespace {

constexpr int kAxes = omi_OctVector::kAxes;
constexpr int kBatch = omi_OctreeLineTrav::kPendingLeaves;
constexpr unsigned int kChildren = omi_OctreeBranch::kChildren;
// t_ once everything has been reported.
constexpr float kPastEnd = 2.0f;
// The least widening relative to the largest coordinate: 2^-20, eight units in the last place
// of a float, well above the rounding of p0 + t (p1 - p0) in single precision.
constexpr float kRoundingMargin = 1.0f / (1u << 20);
constexpr double kInfinity = std::numeric_limits<double>::infinity();

// A range of the segment parameter; empty unless enter <= leave.
struct Interval {
  double enter;
  double leave;
};

// The leaves found so far with the smallest entry parameters, in order of entry; a leaf
// that ties with one already taken goes after it.
class Batch {
 public:
  // Cells entered after this can hold no leaf of the batch.
  double Bound() const { return count_ < kBatch ? kInfinity : entry_[kBatch - 1]; }
  void Offer(omi_OctreeLeaf const* leaf, double entry) {
    if (count_ == kBatch) {
      cut_short_ = true;
      if (!std::isless(entry, entry_[kBatch - 1])) return;
      --count_;
    }
    int i = count_;
    for (; i > 0 && std::isgreater(entry_[i - 1], entry); --i) {
      entry_[i] = entry_[i - 1];
      leaf_[i] = leaf_[i - 1];
    }
    entry_[i] = entry;
    leaf_[i] = leaf;
    ++count_;
  }
  void CutShort() { cut_short_ = true; }

  int Count() const { return count_; }
  bool IsCutShort() const { return cut_short_; }
  omi_OctreeLeaf const* Leaf(int i) const { return leaf_[i]; }
  double Entry(int i) const { return entry_[i]; }

 private:
  int count_ = 0;
  bool cut_short_ = false;
  omi_OctreeLeaf const* leaf_[kBatch];
  double entry_[kBatch];
};

// One descent: the segment in double precision, and what has been found.
struct Search {
  double p0[kAxes];
  double d[kAxes];
  double widening;
  double from;  // the traversal's t
  omi_BlkBitVect const* visited;
  Batch batch;
};

// Where the segment is within low - widening .. high + widening on one axis.
Interval AxisInterval(Search const& search, int axis, float low, float high) {
  double lower = low - search.widening;
  double upper = high + search.widening;
  double p0 = search.p0[axis];
  double d = search.d[axis];
  if (d == 0) {
    bool inside = std::isgreaterequal(p0, lower) && std::islessequal(p0, upper);
    return inside ? Interval{-kInfinity, kInfinity} : Interval{kInfinity, -kInfinity};
  }
  double a = (lower - p0) / d;
  double b = (upper - p0) / d;
  return std::isgreater(d, 0.0) ? Interval{a, b} : Interval{b, a};
}

// Adds the unvisited leaves under branch, whose region is low .. high, to the batch.
void Descend(Search& search, omi_OctreeBranch const* branch, float const* low, float const* high) {
  // Per axis, the parameters over the lower and the upper half, or over the whole range
  // where the branch does not divide the axis (only the lower children are reached there).
  Interval halves[kAxes][2];
  unsigned int divided = 0;
  for (int axis = 0; axis < kAxes; ++axis) {
    if (branch->Divides(axis)) {
      float centre = branch->Centre()[axis];
      divided |= 1u << axis;
      halves[axis][0] = AxisInterval(search, axis, low[axis], centre);
      halves[axis][1] = AxisInterval(search, axis, centre, high[axis]);
    } else {
      halves[axis][0] = AxisInterval(search, axis, low[axis], high[axis]);
    }
  }
  // The children the segment meets from search.from on, by entry.
  unsigned int order[kChildren];
  double entries[kChildren];
  int count = 0;
  for (unsigned int index = 0; index < kChildren; ++index) {
    if ((index & ~divided) != 0) continue;
    Interval range = {0.0, 1.0};
    for (int axis = 0; axis < kAxes; ++axis) {
      Interval const& half = halves[axis][(index >> axis) & 1u];
      if (std::isgreater(half.enter, range.enter)) range.enter = half.enter;
      if (std::isless(half.leave, range.leave)) range.leave = half.leave;
    }
    if (!std::islessequal(range.enter, range.leave) || std::isless(range.leave, search.from)) continue;
    int i = count++;
    for (; i > 0 && std::isgreater(entries[i - 1], range.enter); --i) {
      entries[i] = entries[i - 1];
      order[i] = order[i - 1];
    }
    entries[i] = range.enter;
    order[i] = index;
  }
  for (int i = 0; i < count; ++i) {
    if (std::isgreater(entries[i], search.batch.Bound())) {
      // Sorted by entry: the rest come later still.
      search.batch.CutShort();
      return;
    }
    unsigned int index = order[i];
    omi_OctreeCell const* child = branch->Child(index);
    if (branch->IsLeafChild(index)) {
      omi_OctreeLeaf const* leaf = static_cast<omi_OctreeLeaf const*>(child);
      if (!search.visited->TestBit(leaf->Number())) search.batch.Offer(leaf, entries[i]);
      continue;
    }
    float child_low[kAxes];
    float child_high[kAxes];
    for (int axis = 0; axis < kAxes; ++axis) {
      child_low[axis] = low[axis];
      child_high[axis] = high[axis];
      if ((divided & (1u << axis)) == 0) continue;
      float centre = branch->Centre()[axis];
      if (((index >> axis) & 1u) != 0) {
        child_low[axis] = centre;
      } else {
        child_high[axis] = centre;
      }
    }
    Descend(search, static_cast<omi_OctreeBranch const*>(child), child_low, child_high);
  }
}

// The largest float not above x, so that no leaf entered before x is taken as reported.
float FloatAtMost(double x) {
  float f = static_cast<float>(x);
  return std::isgreater(f, x) ? std::nextafter(f, -std::numeric_limits<float>::infinity()) : f;
}

float LargestMagnitude(float largest, omi_OctVector const& v) {
  for (int axis = 0; axis < kAxes; ++axis) {
    float magnitude = std::fabs(v[axis]);
    if (std::isgreater(magnitude, largest)) largest = magnitude;
  }
  return largest;
}

}  // namespace

omi_OctreeLineTrav::omi_OctreeLineTrav()
    : tree_(nullptr),
      pending_count_(0),
      next_pending_(0),
      pending_(),
      p0_(),
      p1_(),
      d_(),
      root_min_(),
      root_max_(),
      t_(0),
      margin_(0),
      tolerance_(0) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
  static_assert(sizeof(omi_OctreeLineTrav) == 148, "the fields below, then the visited set");
  static_assert(
      offsetof(omi_OctreeLineTrav, tree_) == 0 &&
          offsetof(omi_OctreeLineTrav, pending_count_) == 4 &&
          offsetof(omi_OctreeLineTrav, next_pending_) == 8 &&
          offsetof(omi_OctreeLineTrav, pending_) == 12 && offsetof(omi_OctreeLineTrav, p0_) == 44 &&
          offsetof(omi_OctreeLineTrav, p1_) == 56 && offsetof(omi_OctreeLineTrav, d_) == 68 &&
          offsetof(omi_OctreeLineTrav, root_min_) == 80 &&
          offsetof(omi_OctreeLineTrav, root_max_) == 92 &&
          offsetof(omi_OctreeLineTrav, t_) == 104 && offsetof(omi_OctreeLineTrav, margin_) == 108 &&
          offsetof(omi_OctreeLineTrav, tolerance_) == 112 &&
          offsetof(omi_OctreeLineTrav, visited_) == 116,
      "tree, pending list, segment, root box, parameters, visited set");
#pragma GCC diagnostic pop
}

omi_OctreeLineTrav::~omi_OctreeLineTrav() = default;

bool omi_OctreeLineTrav::Init(omi_Octree const* tree, float* const start, float* const end,
                              float tolerance) {
  visited_.Clear();
  tree_ = nullptr;
  pending_count_ = 0;
  next_pending_ = 0;
  t_ = 0;
  if (tree == nullptr || start == nullptr || end == nullptr) return false;
  for (int axis = 0; axis < kAxes; ++axis) {
    p0_[axis] = start[axis];
    p1_[axis] = end[axis];
    if (!std::isfinite(p0_[axis]) || !std::isfinite(p1_[axis])) return false;
    // Infinite when the segment spans more than the float range (-3e38 to 3e38); the
    // search takes the direction in double precision.
    d_[axis] = p1_[axis] - p0_[axis];
  }
  tolerance_ = std::isgreater(tolerance, 0.0f) ? tolerance : 0;
  omi_OctreeBranch const* root = tree->Root();
  for (int axis = 0; axis < kAxes; ++axis) {
    root_min_[axis] = root->Centre()[axis] - root->HalfSize()[axis];
    root_max_[axis] = root->Centre()[axis] + root->HalfSize()[axis];
  }
  float largest = LargestMagnitude(LargestMagnitude(0, p0_), p1_);
  largest = LargestMagnitude(LargestMagnitude(largest, root_min_), root_max_);
  margin_ = largest * kRoundingMargin;
  tree_ = tree;
  Collect();
  return pending_count_ > 0;
}

omi_OctreeLeaf const* omi_OctreeLineTrav::NextCell() {
  if (next_pending_ < pending_count_) return pending_[next_pending_++];
  Collect();
  if (pending_count_ == 0) return nullptr;
  next_pending_ = 1;
  return pending_[0];
}

void omi_OctreeLineTrav::Collect() {
  pending_count_ = 0;
  next_pending_ = 0;
  if (tree_ == nullptr || !std::islessequal(t_, 1.0)) return;
  Search search;
  for (int axis = 0; axis < kAxes; ++axis) {
    search.p0[axis] = p0_[axis];
    search.d[axis] = static_cast<double>(p1_[axis]) - p0_[axis];
  }
  search.widening = static_cast<double>(tolerance_) + margin_;
  search.from = t_;
  search.visited = &visited_;
  float low[kAxes] = {root_min_.x, root_min_.y, root_min_.z};
  float high[kAxes] = {root_max_.x, root_max_.y, root_max_.z};
  Descend(search, tree_->Root(), low, high);

  Batch const& batch = search.batch;
  int marked = 0;
  try {
    for (; marked < batch.Count(); ++marked) visited_.SetBit(batch.Leaf(marked)->Number());
  } catch (...) {
    // Unmarked again, so that the next call finds the same leaves.
    while (marked > 0) visited_.UnsetBit(batch.Leaf(--marked)->Number());
    throw;
  }
  for (int i = 0; i < batch.Count(); ++i) pending_[i] = batch.Leaf(i);
  pending_count_ = batch.Count();
  t_ = batch.IsCutShort() ? FloatAtMost(batch.Entry(batch.Count() - 1)) : kPastEnd;
}
