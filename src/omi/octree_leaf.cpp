#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <new>

#include "omi/octree_counters.h"
#include "varururor/omi/octree.h"
#include "varururor/omi/octree_cell.h"

namespace {

// Past this insertion depth a full fixed leaf is no longer split.
constexpr unsigned int kMaxSplitDepth = 10;
constexpr unsigned int kChunkMask = omi_OctreeLeafFix::kChunkIds - 1;

}  // namespace

omi_OctreeLeaf::omi_OctreeLeaf(omi_OctVector const& centre, omi_OctVector const& half_size,
                               unsigned int number)
    : omi_OctreeCell(centre, half_size), box_count_(0), number_(number) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
  static_assert(sizeof(omi_OctreeLeaf) == 36, "the cell, the box count, the number");
  static_assert(
      offsetof(omi_OctreeLeaf, box_count_) == 28 && offsetof(omi_OctreeLeaf, number_) == 32,
      "the box count, then the leaf number");
#pragma GCC diagnostic pop
}

omi_OctreeLeaf::~omi_OctreeLeaf() = default;

omi_OctreeLeaf const* omi_OctreeLeaf::FindCell(float const*) const { return this; }

unsigned int omi_OctreeLeaf::Dump() const {
  omi::OctreeCounters& counters = omi::g_octree_counters;
  ++counters.cells;
  ++counters.leaves;
  if (counters.depth + 1 > counters.max_depth) counters.max_depth = counters.depth + 1;
  if (counters.depth == 0) {
    std::printf(omi::kOctreeTotalsFormat, static_cast<int>(box_count_),
                static_cast<int>(counters.cells), static_cast<int>(counters.leaves),
                static_cast<int>(counters.max_depth),
                static_cast<int>(omi::kOctreeCellBytes * (counters.cells - counters.leaves) +
                                 omi::kOctreeLeafBytes * counters.leaves));
    counters.leaves = 0;
    counters.cells = 0;
    counters.max_depth = 0;
  }
  return box_count_;
}

omi_OctreeLeafFix::omi_OctreeLeafFix(omi_OctVector const& centre, omi_OctVector const& half_size,
                                     unsigned int number)
    : omi_OctreeLeaf(centre, half_size, number) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
  static_assert(sizeof(omi_OctreeLeafFix) == 100, "the leaf, eight chunks");
  static_assert(offsetof(omi_OctreeLeafFix, chunks_) == 36, "the chunks follow the leaf");
#pragma GCC diagnostic pop
}

omi_OctreeLeafFix::~omi_OctreeLeafFix() {
  for (omi_OctreeMemPtr& chunk : chunks_) chunk.Release();
}

omi_OctreeCell* omi_OctreeLeafFix::InsertBox(unsigned int id, omi_OctVector const& min,
                                             omi_OctVector const& max, omi_Octree* tree) {
  omi::OctreeDepthLevel level;
  if (box_count_ < kCapacity) {
    omi_OctreeMemPtr& chunk = chunks_[box_count_ >> kLog2ChunkIds];
    if (chunk.words == nullptr) chunk = tree->MemAlloc(kChunkIds);
    chunk.words[box_count_ & kChunkMask] = id;
    ++box_count_;
    return nullptr;
  }
  omi_OctreeCell* successor = Successor(tree);
  try {
    successor->InsertBox(id, min, max, tree);
  } catch (...) {
    delete successor;
    throw;
  }
  return successor;
}

unsigned int omi_OctreeLeafFix::BoxId(unsigned int index) const {
  if (index >= box_count_) return kNoBox;
  return chunks_[index >> kLog2ChunkIds].words[index & kChunkMask];
}

// Until it is returned, the successor is ours to delete; this leaf is left as it was.
omi_OctreeCell* omi_OctreeLeafFix::Successor(omi_Octree* tree) const {
  float half = half_size_[tree->ReferenceAxis()] / 2;
  // Without a callback the ids cannot be sorted into children, so the leaf grows instead.
  if (omi::g_octree_counters.depth > kMaxSplitDepth || std::isless(half, tree->MinimumHalfSize()) ||
      !tree->CanAskForBoxes()) {
    omi_OctreeLeafInf* leaf =
        new omi_OctreeLeafInf(centre_, half_size_, tree->TakeLeafNumber(), tree);
    try {
      for (unsigned int i = 0; i < box_count_; ++i)
        leaf->InsertBox(BoxId(i), centre_, centre_, tree);
    } catch (...) {
      delete leaf;
      throw;
    }
    return leaf;
  }
  omi_OctreeBranch* branch = new omi_OctreeBranch(centre_, half_size_, tree);
  try {
    for (unsigned int i = 0; i < box_count_; ++i) {
      unsigned int id = BoxId(i);
      omi_OctVector min;
      omi_OctVector max;
      tree->BoxBounds(id, min, max);
      branch->InsertBox(id, min, max, tree);
    }
  } catch (...) {
    delete branch;
    throw;
  }
  return branch;
}

omi_OctreeLeafInf::omi_OctreeLeafInf(omi_OctVector const& centre, omi_OctVector const& half_size,
                                     unsigned int number, omi_Octree* tree)
    : omi_OctreeLeaf(centre, half_size, number),
      capacity_(kInitialCapacity),
      ids_(tree->MemAlloc(kInitialCapacity)) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
  static_assert(sizeof(omi_OctreeLeafInf) == 48, "the leaf, the capacity, the ids");
  static_assert(
      offsetof(omi_OctreeLeafInf, capacity_) == 36 && offsetof(omi_OctreeLeafInf, ids_) == 40,
      "the capacity, then the ids");
#pragma GCC diagnostic pop
}

omi_OctreeLeafInf::~omi_OctreeLeafInf() { ids_.Release(); }

// The box itself does not matter: the leaf holds every id it is given.
omi_OctreeCell* omi_OctreeLeafInf::InsertBox(unsigned int id, omi_OctVector const&,
                                             omi_OctVector const&, omi_Octree* tree) {
  if (box_count_ == capacity_) {
    if (capacity_ > UINT_MAX / 2) throw std::bad_alloc();
    omi_OctreeMemPtr grown = tree->MemAlloc(2 * capacity_);
    std::memcpy(grown.words, ids_.words, capacity_ * sizeof(unsigned int));
    ids_.Release();
    ids_ = grown;
    capacity_ *= 2;
  }
  ids_.words[box_count_++] = id;
  return nullptr;
}

unsigned int omi_OctreeLeafInf::BoxId(unsigned int index) const {
  return index < box_count_ ? ids_.words[index] : kNoBox;
}
