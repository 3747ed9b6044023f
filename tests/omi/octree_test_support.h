// What the octree tests share: a store of boxes that answers the tree's callback and counts
// the calls, the leaves point location can reach, and a line traversal run to its end.
#ifndef VARURUROR_TESTS_OMI_OCTREE_TEST_SUPPORT_H
#define VARURUROR_TESTS_OMI_OCTREE_TEST_SUPPORT_H

#include <vector>

#include "varururor/omi/octree.h"
#include "varururor/omi/octree_cell.h"
#include "varururor/omi/octree_line_traversal.h"

namespace octree_test {

constexpr omi_OctVector kOrigin = {0, 0, 0};

// The leaf that holds the point.
inline omi_OctreeLeaf const* Locate(omi_Octree const& tree, float x, float y, float z) {
  float point[3] = {x, y, z};
  return tree.FindCell(point);
}

struct Box {
  omi_OctVector min;
  omi_OctVector max;
};

class BoxStore {
 public:
  static void Callback(void* data, unsigned int id, float* min, float* max) {
    BoxStore* store = static_cast<BoxStore*>(data);
    ++store->calls;
    Box const& box = store->boxes[id];
    for (int axis = 0; axis < 3; ++axis) {
      min[axis] = box.min[axis];
      max[axis] = box.max[axis];
    }
  }

  // Stores the box and inserts it under its index.
  void Insert(omi_Octree& tree, omi_OctVector min, omi_OctVector max) {
    boxes.push_back({min, max});
    tree.InsertBox(static_cast<unsigned int>(boxes.size() - 1), min, max);
  }

  std::vector<Box> boxes;
  int calls = 0;
};

inline bool Holds(omi_OctreeLeaf const* leaf, unsigned int id) {
  for (unsigned int i = 0; i < leaf->BoxCount(); ++i) {
    if (leaf->BoxId(i) == id) return true;
  }
  return false;
}

// The leaves point location can reach: along an axis a branch does not divide, only the
// lower children.
inline void CollectLeaves(omi_OctreeBranch const* branch, std::vector<omi_OctreeLeaf const*>& out) {
  for (unsigned int index = 0; index < omi_OctreeBranch::kChildren; ++index) {
    bool reached = true;
    for (int axis = 0; axis < 3; ++axis) {
      if (((index >> axis) & 1u) != 0 && !branch->Divides(axis)) reached = false;
    }
    if (!reached) continue;
    if (branch->IsLeafChild(index)) {
      out.push_back(static_cast<omi_OctreeLeaf const*>(branch->Child(index)));
    } else {
      CollectLeaves(static_cast<omi_OctreeBranch const*>(branch->Child(index)), out);
    }
  }
}

inline std::vector<omi_OctreeLeaf const*> Leaves(omi_Octree const& tree) {
  std::vector<omi_OctreeLeaf const*> leaves;
  CollectLeaves(tree.Root(), leaves);
  return leaves;
}

// Every leaf the traversal gives, in order.
inline std::vector<omi_OctreeLeaf const*> Traverse(omi_OctreeLineTrav& trav, omi_Octree const& tree,
                                                   omi_OctVector p0, omi_OctVector p1,
                                                   float tolerance, bool* started = nullptr) {
  float start[3] = {p0.x, p0.y, p0.z};
  float end[3] = {p1.x, p1.y, p1.z};
  bool init = trav.Init(&tree, start, end, tolerance);
  if (started != nullptr) *started = init;
  std::vector<omi_OctreeLeaf const*> leaves;
  for (omi_OctreeLeaf const* leaf = trav.NextCell(); leaf != nullptr; leaf = trav.NextCell()) {
    leaves.push_back(leaf);
  }
  return leaves;
}

}  // namespace octree_test

#endif
