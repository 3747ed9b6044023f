// The octree given what a careless caller passes: a segment that spans the whole float
// range, and a minimum half-size that could never end the subdivision.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <vector>

#include "child_process.h"
#include "octree_test_support.h"
#include "varururor/omi/octree.h"
#include "varururor/omi/octree_cell.h"
#include "varururor/omi/octree_line_traversal.h"

namespace {

using octree_test::BoxStore;
using octree_test::kOrigin;
using octree_test::Locate;
using octree_test::Traverse;

// p1 - p0 overflows a float on the x axis; the segment runs through the leaves above the
// centre in y and z, lower x first.
TEST(OctreeHostile, ASegmentAcrossTheWholeFloatRange) {
  omi_Octree tree(kOrigin, {1e38f, 1e38f, 1e38f}, 1e36f, nullptr, nullptr);
  omi_OctreeLeaf const* lower = Locate(tree, -1e37f, 1e37f, 1e37f);
  omi_OctreeLeaf const* upper = Locate(tree, 1e37f, 1e37f, 1e37f);
  omi_OctreeLineTrav trav;
  bool started = false;
  EXPECT_EQ(Traverse(trav, tree, {-3e38f, 1e37f, 1e37f}, {3e38f, 1e37f, 1e37f}, 0, &started),
            (std::vector<omi_OctreeLeaf const*>{lower, upper}));
  EXPECT_TRUE(started);
  EXPECT_EQ(Traverse(trav, tree, {FLT_MAX, 1e37f, 1e37f}, {-FLT_MAX, 1e37f, 1e37f}, 0, &started),
            (std::vector<omi_OctreeLeaf const*>{upper, lower}));
  EXPECT_TRUE(started);
  float start[3] = {-3e38f, 0, INFINITY};
  float end[3] = {3e38f, 0, 0};
  EXPECT_FALSE(trav.Init(&tree, start, end, 0));
}

// Boxes over the whole tree would be copied into every leaf down to the depth limit (up to
// 8^6 leaves): such a minimum is refused, and the tree keeps its boxes in one leaf.
TEST(OctreeHostile, AMinimumThatCannotEndTheSubdivisionIsRefused) {
  EXPECT_IN_CHILD(
      "^omi_Octree: the minimum half-size -1 cannot end the subdivision \\(a positive normal "
      "number is needed\\): the tree is not divided\n$",
      omi_Octree tree(kOrigin, {8, 8, 8}, -1, nullptr, nullptr));
  for (float minimum : {0.0f, -1.0f, FLT_MIN / 4, -INFINITY, INFINITY, NAN}) {
    BoxStore store;
    omi_Octree tree(kOrigin, {8, 8, 8}, minimum, BoxStore::Callback, &store);
    for (int i = 0; i < 600; ++i) store.Insert(tree, {-8, -8, -8}, {8, 8, 8});
    EXPECT_FALSE(tree.Divides(0) || tree.Divides(1) || tree.Divides(2)) << minimum;
    EXPECT_EQ(store.calls, 0) << minimum;
    EXPECT_LE(tree.LeafNumbersGiven(), 2u) << minimum;
    omi_OctreeLeaf const* leaf = Locate(tree, 7, -7, 7);
    ASSERT_NE(leaf, nullptr);
    EXPECT_EQ(leaf->BoxCount(), 600u) << minimum;
    EXPECT_EQ(leaf, Locate(tree, -7, 7, -7)) << minimum;
  }
  // The smallest normal minimum is taken as it is.
  omi_Octree smallest(kOrigin, {8, 8, 8}, FLT_MIN, nullptr, nullptr);
  EXPECT_TRUE(smallest.Divides(0) && smallest.Divides(1) && smallest.Divides(2));
  EXPECT_EQ(smallest.MinimumHalfSize(), FLT_MIN);
}

}  // namespace
