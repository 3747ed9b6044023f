#include <cmath>
#include <cstddef>

#include "omi/octree_counters.h"
#include "varururor/omi/octree.h"
#include "varururor/omi/octree_cell.h"

namespace {

// The order in which a branch creates its leaves (and so numbers them).
constexpr unsigned int kCreationOrder[omi_OctreeBranch::kChildren] = {0, 1, 3, 2, 6, 7, 5, 4};
constexpr unsigned int kLowerSide = 1;
constexpr unsigned int kUpperSide = 2;

}  // namespace

omi_OctreeCell::omi_OctreeCell(omi_OctVector const& centre, omi_OctVector const& half_size)
    : half_size_(half_size), centre_(centre) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
  static_assert(sizeof(omi_OctreeCell) == 28, "virtual table, half-size, centre");
  static_assert(
      offsetof(omi_OctreeCell, half_size_) == 4 && offsetof(omi_OctreeCell, centre_) == 16,
      "the half-size comes first");
#pragma GCC diagnostic pop
}

omi_OctreeCell::~omi_OctreeCell() = default;

omi_OctreeBranch::omi_OctreeBranch(omi_OctVector const& centre, omi_OctVector const& half_size,
                                   omi_Octree* tree)
    : omi_OctreeCell(centre, half_size), children_(), divided_(), leaf_children_(0) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
  static_assert(sizeof(omi_OctreeBranch) == 64, "the cell, eight children, three flags, the mask");
  static_assert(offsetof(omi_OctreeBranch, children_) == 28 &&
                    offsetof(omi_OctreeBranch, divided_) == 60 &&
                    offsetof(omi_OctreeBranch, leaf_children_) == 63,
                "children, then the divided flags");
#pragma GCC diagnostic pop
  // Along an axis this branch does not divide, the children keep its centre and half-size,
  // so that each child's box is the region point location gives it.
  omi_OctVector child_half = half_size;
  unsigned int tree_axes = 0;
  for (int axis = 0; axis < omi_OctVector::kAxes; ++axis) {
    if (tree->divided_[axis] == 0) continue;
    tree_axes |= 1u << axis;
    float half = half_size[axis] / 2;
    if (std::isgreaterequal(half, tree->minimum_half_size_)) {
      divided_[axis] = 1;
      child_half[axis] = half;
    }
  }
  tree->NoteChildHalfSize(child_half);
  try {
    for (unsigned int index : kCreationOrder) {
      // An index naming an axis the tree does not divide has no child. The upper children
      // along an axis the tree divides but this branch does not are made, and stay empty.
      if ((index & ~tree_axes) != 0) continue;
      omi_OctVector child_centre = centre;
      for (int axis = 0; axis < omi_OctVector::kAxes; ++axis) {
        if (divided_[axis] == 0) continue;
        bool upper = ((index >> axis) & 1u) != 0;
        child_centre[axis] += upper ? child_half[axis] : -child_half[axis];
      }
      children_[index] = new omi_OctreeLeafFix(child_centre, child_half, tree->TakeLeafNumber());
      leaf_children_ = static_cast<unsigned char>(leaf_children_ | (1u << index));
    }
  } catch (...) {
    for (omi_OctreeCell* child : children_) delete child;
    throw;
  }
}

omi_OctreeBranch::~omi_OctreeBranch() {
  for (omi_OctreeCell* child : children_) delete child;
}

omi_OctreeLeaf const* omi_OctreeBranch::FindCell(float const* point) const {
  if (point == nullptr) return nullptr;
  return children_[ChildIndex(point)]->FindCell(point);
}

omi_OctreeCell* omi_OctreeBranch::InsertBox(unsigned int id, omi_OctVector const& min,
                                            omi_OctVector const& max, omi_Octree* tree) {
  omi::OctreeDepthLevel level;
  // The sides of each axis the box touches. A box whose max equals the centre stays below,
  // as a point on the plane does. Written so that corners in either order give the same
  // sides, and a coordinate that is not a number touches both.
  unsigned int sides[omi_OctVector::kAxes];
  for (int axis = 0; axis < omi_OctVector::kAxes; ++axis) {
    float c = centre_[axis];
    if (divided_[axis] == 0) {
      sides[axis] = kLowerSide;
      continue;
    }
    bool lower = !(std::isgreater(min[axis], c) && std::isgreater(max[axis], c));
    bool upper = !(std::islessequal(min[axis], c) && std::islessequal(max[axis], c));
    sides[axis] = (lower ? kLowerSide : 0u) | (upper ? kUpperSide : 0u);
  }
  for (unsigned int index = 0; index < kChildren; ++index) {
    bool touched = true;
    for (int axis = 0; axis < omi_OctVector::kAxes && touched; ++axis) {
      touched = (sides[axis] & (((index >> axis) & 1u) != 0 ? kUpperSide : kLowerSide)) != 0;
    }
    if (!touched) continue;
    omi_OctreeCell* replacement = children_[index]->InsertBox(id, min, max, tree);
    if (replacement == nullptr) continue;
    delete children_[index];
    children_[index] = replacement;
    // A full fixed leaf gives way to a branch or to an unbounded leaf.
    bool leaf = dynamic_cast<omi_OctreeLeaf*>(replacement) != nullptr;
    unsigned int bit = 1u << index;
    leaf_children_ =
        static_cast<unsigned char>(leaf ? leaf_children_ | bit : leaf_children_ & ~bit);
  }
  return nullptr;
}

unsigned int omi_OctreeBranch::Dump() const {
  omi::OctreeCounters& counters = omi::g_octree_counters;
  ++counters.depth;
  ++counters.cells;
  unsigned int ids = 0;
  for (omi_OctreeCell const* child : children_) {
    if (child != nullptr) ids += child->Dump();
  }
  if (counters.depth > counters.max_depth) counters.max_depth = counters.depth;
  --counters.depth;
  return ids;
}
