#include "varururor/omi/octree.h"

#include <cmath>
#include <cstddef>
#include <cstdio>
#include <limits>
#include <new>

#include "omi/octree_counters.h"
#include "varururor/omi/octree_cell.h"

namespace omi {

OctreeCounters g_octree_counters;

}  // namespace omi

namespace {

// Above this many words, a new block is twice the request.
constexpr unsigned int kLargestDoubledRequest = 0x7FFFFFFFu;
// Dump counts each block's record as this many words beside its own words.
constexpr unsigned int kBlockRecordWords = 8;
constexpr unsigned int kWordBytes = 4;

constexpr char kRefusedMinimumFormat[] =
    "omi_Octree: the minimum half-size %g cannot end the subdivision (a positive normal number "
    "is needed): the tree is not divided\n";

// Whether halving cells ends below m: for a positive normal number it does, before the
// cells lose their size; zero, negative, subnormal, infinite and NaN minimums never end it
// (only the depth limit would, with every box in up to 8^6 leaves).
bool EndsSubdivision(float m) {
  return std::isgreaterequal(m, std::numeric_limits<float>::min()) &&
         std::islessequal(m, std::numeric_limits<float>::max());
}

}  // namespace

omi_Octree::omi_Octree(omi_OctVector const& centre, omi_OctVector const& half_size,
                       float minimum_half_size, BoxCallback callback, void* data)
    : minimum_half_size_(minimum_half_size),
      divided_(),
      reference_axis_(omi_OctVector::kX),
      smallest_half_size_(),
      root_(nullptr),
      blocks_(nullptr),
      current_(nullptr),
      freed_(nullptr),
      leaf_counter_(0),
      data_(data),
      callback_(callback) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
  static_assert(sizeof(omi_Octree) == 52, "the fields below, the flags padded to a word");
  static_assert(
      offsetof(omi_Octree, minimum_half_size_) == 0 && offsetof(omi_Octree, divided_) == 4 &&
          offsetof(omi_Octree, reference_axis_) == 8 &&
          offsetof(omi_Octree, smallest_half_size_) == 12 && offsetof(omi_Octree, root_) == 24 &&
          offsetof(omi_Octree, blocks_) == 28 && offsetof(omi_Octree, current_) == 32 &&
          offsetof(omi_Octree, freed_) == 36 && offsetof(omi_Octree, leaf_counter_) == 40 &&
          offsetof(omi_Octree, data_) == 44 && offsetof(omi_Octree, callback_) == 48,
      "minimum, flags, reference axis, smallest seen, root, the three block lists, "
      "leaf counter, callback data, callback");
#pragma GCC diagnostic pop
  // A negative half-size describes the same box as its magnitude.
  omi_OctVector half = {std::fabs(half_size.x), std::fabs(half_size.y), std::fabs(half_size.z)};
  float m = minimum_half_size;
  if (EndsSubdivision(m)) {
    if (std::isless(half.x, m) && std::isless(half.y, m) && std::isless(half.z, m)) half = {m, m, m};
  } else {
    std::fprintf(stderr, kRefusedMinimumFormat, static_cast<double>(m));
    // An infinite minimum divides no axis and makes every full leaf an unbounded one: the
    // tree keeps every box, in one leaf.
    minimum_half_size_ = m = std::numeric_limits<float>::infinity();
  }
  bool any_divided = false;
  for (int axis = 0; axis < omi_OctVector::kAxes; ++axis) {
    if (!std::isgreaterequal(half[axis], m)) continue;
    divided_[axis] = 1;
    if (!any_divided || std::isless(half[axis], half[reference_axis_])) reference_axis_ = axis;
    any_divided = true;
  }
  smallest_half_size_ = half;
  blocks_ = current_ = new omi_OctreeMemory(kBlockWords, nullptr, this);
  try {
    root_ = new omi_OctreeBranch(centre, half, this);
  } catch (...) {
    delete blocks_;
    throw;
  }
}

omi_Octree::~omi_Octree() {
  // The leaves give their chunks back to blocks that still exist.
  delete root_;
  while (blocks_ != nullptr) {
    omi_OctreeMemory* next = blocks_->next_;
    delete blocks_;
    blocks_ = next;
  }
}

// The root's FindCell, walked down without a virtual call per level.
omi_OctreeLeaf const* omi_Octree::FindCell(float const* const point) const {
  if (point == nullptr) return nullptr;
  omi_OctreeBranch const* branch = root_;
  for (;;) {
    unsigned int index = branch->ChildIndex(point);
    omi_OctreeCell const* child = branch->Child(index);
    if (branch->IsLeafChild(index)) return static_cast<omi_OctreeLeaf const*>(child);
    branch = static_cast<omi_OctreeBranch const*>(child);
  }
}

void omi_Octree::InsertBox(unsigned int id, omi_OctVector const& min, omi_OctVector const& max) {
  root_->InsertBox(id, min, max, this);
}

omi_OctreeMemPtr omi_Octree::MemAlloc(unsigned int words) {
  omi_OctreeMemPtr result;
  if (current_->remaining_ >= words) {
    result.block = current_;
  } else if (freed_ != nullptr && freed_->remaining_ >= words) {
    result.block = freed_;
    freed_ = freed_->next_freed_;
    result.block->next_freed_ = nullptr;
    current_ = result.block;
  } else {
    if (words > kLargestDoubledRequest) throw std::bad_alloc();
    unsigned int size = words > kBlockWords ? 2 * words : kBlockWords;
    result.block = new omi_OctreeMemory(size, blocks_, this);
    blocks_ = current_ = result.block;
  }
  result.words = result.block->Take(words);
  return result;
}

void omi_Octree::FreedBlock(omi_OctreeMemory* block) {
  // A block pushed twice would make the list a cycle; another tree's block is not ours.
  if (block == nullptr || block->tree_ != this || OnFreedList(block)) return;
  block->next_freed_ = freed_;
  freed_ = block;
}

unsigned int omi_Octree::Dump() const {
  omi::OctreeCounters& counters = omi::g_octree_counters;
  // Put back afterwards rather than cleared, in case the callback dumps during an insertion.
  unsigned int insertion_depth = counters.depth;
  counters.depth = 1;
  counters.cells = 1;
  counters.max_depth = 0;
  unsigned int nodes = root_->Dump();
  std::printf(omi::kOctreeTotalsFormat, static_cast<int>(nodes), static_cast<int>(counters.cells),
              static_cast<int>(counters.leaves), static_cast<int>(counters.max_depth),
              static_cast<int>(omi::kOctreeCellBytes * counters.cells +
                               omi::kOctreeLeafBytes * counters.leaves));
  counters.depth = insertion_depth;
  counters.cells = 0;
  counters.leaves = 0;
  counters.max_depth = 0;

  unsigned int count = 0;
  unsigned int words = 0;
  unsigned int waste = 0;
  for (omi_OctreeMemory const* block = blocks_; block != nullptr; block = block->next_) {
    ++count;
    words += block->size_;
    waste += block->remaining_;
  }
  std::printf("MemoryBlocks: Count=%d, Size=%d, Waste=%d\n", static_cast<int>(count),
              static_cast<int>(kWordBytes * (words + kBlockRecordWords * count)),
              static_cast<int>(kWordBytes * waste));
  unsigned int freed = 0;
  unsigned int freed_words = 0;
  for (omi_OctreeMemory const* block = freed_; block != nullptr; block = block->next_freed_) {
    ++freed;
    freed_words += block->size_;
  }
  std::printf("FreedBlocks: Count=%d, Size=%d\n", static_cast<int>(freed),
              static_cast<int>(kWordBytes * (freed_words + kBlockRecordWords * freed)));
  return freed;
}

void omi_Octree::NoteChildHalfSize(omi_OctVector const& half_size) {
  if (std::isless(half_size[reference_axis_], smallest_half_size_[reference_axis_])) {
    smallest_half_size_ = half_size;
  }
}

void omi_Octree::BoxBounds(unsigned int id, omi_OctVector& min, omi_OctVector& max) const {
  // A callback that leaves a corner unwritten gives a box over the whole tree: the id is
  // kept everywhere rather than lost.
  float low[omi_OctVector::kAxes] = {NAN, NAN, NAN};
  float high[omi_OctVector::kAxes] = {NAN, NAN, NAN};
  callback_(data_, id, low, high);
  min = {low[omi_OctVector::kX], low[omi_OctVector::kY], low[omi_OctVector::kZ]};
  max = {high[omi_OctVector::kX], high[omi_OctVector::kY], high[omi_OctVector::kZ]};
}

bool omi_Octree::OnFreedList(omi_OctreeMemory const* block) const {
  return block->next_freed_ != nullptr || block == freed_;
}
