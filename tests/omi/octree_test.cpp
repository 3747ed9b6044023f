// The octree's edge cases: which axes are divided and which children exist, the boxes of
// children along undivided axes, points and boxes on dividing planes, what a full leaf
// becomes, the word pool, the exact text of the dumps, and the line traversal's ends: a
// segment outside the widened root, a corner cut for a short stretch, bad arguments.
#include "varururor/omi/octree.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>
#include <vector>

#include "octree_test_support.h"
#include "varururor/omi/octree_cell.h"
#include "varururor/omi/octree_line_traversal.h"
#include "varururor/omi/octree_memory.h"

namespace {

using octree_test::BoxStore;
using octree_test::kOrigin;
using octree_test::Locate;
using octree_test::Holds;
using octree_test::Leaves;
using octree_test::Traverse;

TEST(Octree, DividesOnlyAxesAsWideAsTheMinimum) {
  BoxStore store;
  omi_Octree tree(kOrigin, {10, 10, 0.001f}, 1, BoxStore::Callback, &store);
  EXPECT_TRUE(tree.Divides(0));
  EXPECT_TRUE(tree.Divides(1));
  EXPECT_FALSE(tree.Divides(2));
  EXPECT_EQ(tree.ReferenceAxis(), 0) << "x and y tie: the first";
  omi_OctreeBranch const* root = tree.Root();
  for (unsigned index = 0; index < 8; ++index) {
    EXPECT_EQ(root->Child(index) != nullptr, index < 4) << index;
  }
  EXPECT_EQ(tree.LeafNumbersGiven(), 4u);
  // z plays no part, inside the root's thin range or far outside it.
  for (float z : {-0.001f, 0.0f, 0.0005f, 50.0f, -50.0f}) {
    EXPECT_EQ(Locate(tree, -3, 4, z), root->Child(2)) << z;
    EXPECT_EQ(Locate(tree, 3, -4, z), root->Child(1)) << z;
  }
  // A child spans its parent's range along the axis the tree does not divide.
  omi_OctreeCell const* child = root->Child(3);
  EXPECT_EQ(child->Centre().z, 0.0f);
  EXPECT_EQ(child->HalfSize().z, 0.001f);
  EXPECT_EQ(child->Centre().x, 5.0f);
  EXPECT_EQ(child->HalfSize().x, 5.0f);
}

TEST(Octree, ReferenceAxisIsTheNarrowestDividedOne) {
  omi_Octree tree(kOrigin, {8, 2, 4}, 1, nullptr, nullptr);
  EXPECT_EQ(tree.ReferenceAxis(), 1);
  EXPECT_EQ(tree.SmallestHalfSize().y, 1.0f) << "the root's children halve y";
  omi_Octree small(kOrigin, {0.5f, -0.25f, 0.1f}, 1, nullptr, nullptr);
  EXPECT_EQ(small.Root()->HalfSize().x, 1.0f) << "all three below the minimum: the minimum";
  EXPECT_EQ(small.Root()->HalfSize().y, 1.0f);
}

TEST(Octree, BranchChildrenOnAnAxisTheTreeDividesButTheBranchNot) {
  // y is divided by the tree (1.5 >= 1) but not by the root (0.75 < 1).
  omi_Octree tree(kOrigin, {8, 1.5f, 8}, 1, nullptr, nullptr);
  omi_OctreeBranch const* root = tree.Root();
  EXPECT_TRUE(tree.Divides(1));
  EXPECT_FALSE(root->Divides(1));
  for (unsigned index = 0; index < 8; ++index) EXPECT_NE(root->Child(index), nullptr);
  EXPECT_EQ(tree.LeafNumbersGiven(), 8u);
  omi_OctreeCell const* lower = root->Child(0);
  EXPECT_EQ(lower->Centre().y, 0.0f);
  EXPECT_EQ(lower->HalfSize().y, 1.5f) << "the lower child spans the whole y range";
  EXPECT_EQ(Locate(tree, -1, 1.4f, -1), lower);
  EXPECT_EQ(Locate(tree, -1, -1.4f, -1), lower);
}

TEST(Octree, PointOnADividingPlaneGoesBelow) {
  omi_Octree tree(kOrigin, {8, 8, 8}, 1, nullptr, nullptr);
  omi_OctreeBranch const* root = tree.Root();
  EXPECT_EQ(Locate(tree, 0, 0, 0), root->Child(0));
  EXPECT_EQ(Locate(tree, 0, 1, 0), root->Child(2));
  EXPECT_EQ(Locate(tree, std::nextafter(0.0f, 1.0f), 0, 0), root->Child(1));
  EXPECT_EQ(Locate(tree, -100, 100, -100), root->Child(2)) << "outside: the border leaf";
  EXPECT_EQ(tree.FindCell(nullptr), nullptr);
}

TEST(Octree, BoxTouchingAPlaneFromBelowStaysBelow) {
  BoxStore store;
  omi_Octree tree(kOrigin, {8, 8, 8}, 1, BoxStore::Callback, &store);
  store.Insert(tree, {-2, 1, 1}, {0, 2, 2});
  EXPECT_TRUE(Holds(Locate(tree, -1, 1.5f, 1.5f), 0));
  EXPECT_TRUE(Holds(Locate(tree, 0, 1.5f, 1.5f), 0));
  EXPECT_EQ(Locate(tree, 1, 1.5f, 1.5f)->BoxCount(), 0u);
  // Just above the plane, it reaches the upper child too.
  store.Insert(tree, {-2, 1, 1}, {std::nextafter(0.0f, 1.0f), 2, 2});
  EXPECT_TRUE(Holds(Locate(tree, 1, 1.5f, 1.5f), 1));
}

TEST(Octree, GarbageBoxesAreKeptWhereTheyCouldBe) {
  BoxStore store;
  omi_Octree tree(kOrigin, {8, 8, 8}, 1, BoxStore::Callback, &store);
  store.Insert(tree, {3, 3, 3}, {-3, -3, -3});   // corners swapped
  store.Insert(tree, {NAN, 1, 1}, {NAN, 2, 2});  // x not a number: the whole axis
  for (unsigned index = 0; index < 8; ++index) {
    auto const* leaf = static_cast<omi_OctreeLeaf const*>(tree.Root()->Child(index));
    EXPECT_TRUE(Holds(leaf, 0)) << index;
    EXPECT_EQ(Holds(leaf, 1), (index & 6u) == 6u) << index;
  }
}

TEST(Octree, The257thBoxSplitsTheLeaf) {
  BoxStore store;
  omi_Octree tree(kOrigin, {64, 64, 64}, 1, BoxStore::Callback, &store);
  for (int i = 0; i < 257; ++i) {
    float x = 1 + (i % 16) * 3.5f;
    float y = 1 + (i / 16) * 3.5f;
    store.Insert(tree, {x, y, 1}, {x + 1, y + 1, 2});
  }
  EXPECT_EQ(store.calls, 256) << "once per stored id";
  EXPECT_FALSE(tree.Root()->IsLeafChild(7));
  EXPECT_EQ(tree.LeafNumbersGiven(), 16u) << "eight more for the new branch";
  for (unsigned id = 0; id < store.boxes.size(); ++id) {
    auto const& box = store.boxes[id];
    EXPECT_TRUE(Holds(Locate(tree, box.min.x + 0.5f, box.min.y + 0.5f, 1.5f), id)) << id;
  }
}

TEST(Octree, A257thBoxInASmallLeafMakesItUnbounded) {
  BoxStore store;
  // The root's children have half-size 2, below twice the minimum 1.5.
  omi_Octree tree(kOrigin, {4, 4, 4}, 1.5f, BoxStore::Callback, &store);
  for (int i = 0; i < 257; ++i) store.Insert(tree, {1, 1, 1}, {2, 2, 2});
  EXPECT_EQ(store.calls, 0);
  auto const* leaf = dynamic_cast<omi_OctreeLeafInf const*>(Locate(tree, 1.5f, 1.5f, 1.5f));
  ASSERT_NE(leaf, nullptr);
  EXPECT_TRUE(tree.Root()->IsLeafChild(7));
  EXPECT_EQ(leaf->BoxCount(), 257u);
  EXPECT_EQ(leaf->Number(), 8u) << "the next leaf number";
  EXPECT_EQ(leaf->Capacity(), 512u);
  for (int i = 257; i < 1500; ++i) store.Insert(tree, {1, 1, 1}, {2, 2, 2});
  EXPECT_EQ(leaf->Capacity(), 2048u);
  for (unsigned i = 0; i < 1500; ++i) ASSERT_EQ(leaf->BoxId(i), i);
  EXPECT_EQ(leaf->BoxId(1500), omi_OctreeLeaf::kNoBox);
}

TEST(Octree, ALeafTwiceTheMinimumStillSplits) {
  BoxStore store;
  // The root's children have half-size 2: half of it is the minimum, not below it.
  omi_Octree tree(kOrigin, {4, 4, 4}, 1, BoxStore::Callback, &store);
  for (int i = 0; i < 257; ++i) store.Insert(tree, {1, 1, 1}, {1.5f, 1.5f, 1.5f});
  EXPECT_EQ(store.calls, 256);
  EXPECT_FALSE(tree.Root()->IsLeafChild(7));
}

TEST(Octree, IdenticalBoxesStopSplittingAtTheDepthLimit) {
  BoxStore store;
  omi_Octree tree(kOrigin, {1024, 1024, 1024}, 1e-6f, BoxStore::Callback, &store);
  for (int i = 0; i < 600; ++i) store.Insert(tree, {1, 1, 1}, {1, 1, 1});
  omi_OctreeLeaf const* leaf = Locate(tree, 1, 1, 1);
  ASSERT_NE(dynamic_cast<omi_OctreeLeafInf const*>(leaf), nullptr);
  EXPECT_EQ(leaf->BoxCount(), 600u);
  EXPECT_LT(store.calls, 256 * 12) << "splits end at depth 10";
  EXPECT_GT(leaf->HalfSize().x, 1024.0f / (1 << 11));
}

TEST(Octree, WithoutACallbackAFullLeafGrows) {
  omi_Octree tree(kOrigin, {64, 64, 64}, 1, nullptr, nullptr);
  for (unsigned id = 0; id < 300; ++id) tree.InsertBox(id, {1, 1, 1}, {2, 2, 2});
  omi_OctreeLeaf const* leaf = Locate(tree, 1, 1, 1);
  EXPECT_NE(dynamic_cast<omi_OctreeLeafInf const*>(leaf), nullptr);
  EXPECT_EQ(leaf->BoxCount(), 300u);
}

TEST(OctreeMemory, AllocationsReleasesAndFreedBlocks) {
  omi_Octree tree(kOrigin, {8, 8, 8}, 1, nullptr, nullptr);
  omi_OctreeMemory const* first = tree.Blocks();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->Size(), 1024u);
  omi_OctreeMemPtr a = tree.MemAlloc(1000);
  EXPECT_EQ(a.block, first);
  omi_OctreeMemPtr b = tree.MemAlloc(100);  // does not fit: a new block
  EXPECT_NE(b.block, first);
  EXPECT_EQ(tree.CurrentBlock(), b.block);
  EXPECT_EQ(b.block->Next(), first);
  omi_OctreeMemPtr big = tree.MemAlloc(3000);
  EXPECT_EQ(big.block->Size(), 6000u) << "twice a request above 1024 words";
  big.words[2999] = 7;  // the words are there
  omi_OctreeMemPtr filler = tree.MemAlloc(2990);
  EXPECT_EQ(filler.block, big.block);

  a.Release();
  EXPECT_EQ(a.block, nullptr);
  EXPECT_EQ(tree.FreedBlocks(), first);
  EXPECT_EQ(first->Remaining(), 1024u) << "reset";
  tree.FreedBlock(const_cast<omi_OctreeMemory*>(first));
  EXPECT_EQ(first->NextFreed(), nullptr) << "not pushed twice";
  // The current block lacks 1024 words; the freed block has them and becomes current.
  omi_OctreeMemPtr c = tree.MemAlloc(1024);
  EXPECT_EQ(c.block, first);
  EXPECT_EQ(tree.CurrentBlock(), first);
  EXPECT_EQ(tree.FreedBlocks(), nullptr);

  // A block that is reset while current goes on serving.
  c.Release();
  EXPECT_EQ(tree.FreedBlocks(), first);
  omi_OctreeMemPtr d = tree.MemAlloc(10);
  EXPECT_EQ(d.block, first);
  EXPECT_EQ(first->LiveAllocations(), 1u);
  d.Release();
  d.Release();  // nothing left to release
  omi_OctreeMemPtr stray = {const_cast<omi_OctreeMemory*>(first), nullptr};
  stray.Release();
  EXPECT_EQ(first->LiveAllocations(), 0u);
  EXPECT_EQ(first->Remaining(), 1024u);
  b.Release();
  big.Release();
  filler.Release();
}

std::string Captured(omi_Octree const& tree, unsigned* freed) {
  testing::internal::CaptureStdout();
  *freed = tree.Dump();
  return testing::internal::GetCapturedStdout();
}

TEST(OctreeDump, FreshTree) {
  omi_Octree tree(kOrigin, {8, 8, 8}, 1, nullptr, nullptr);
  unsigned freed = 99;
  EXPECT_EQ(Captured(tree, &freed),
            "Total nodeCount=0, numCell=10, numLeaf=8, maxDepth=3, size=928\n"
            "MemoryBlocks: Count=1, Size=4128, Waste=4096\n"
            "FreedBlocks: Count=0, Size=0\n");
  EXPECT_EQ(freed, 0u);
}

TEST(OctreeDump, TreeWithABranchAndALeafByItself) {
  BoxStore store;
  omi_Octree tree(kOrigin, {64, 64, 64}, 1, BoxStore::Callback, &store);
  // Child 7 of the root splits; its branch sends 129 boxes to child 0 and 128 to child 1.
  for (int i = 0; i < 257; ++i) {
    float x = i % 2 == 0 ? 1.0f : 40.0f;
    store.Insert(tree, {x, 1, 1}, {x + 1, 2, 2});
  }
  store.Insert(tree, {-5, -5, -5}, {-4, -4, -4});
  unsigned freed = 99;
  // Cells: the count starts at 1, the root, 7 leaves, the branch and its 8 leaves. Words:
  // 8 chunks of the split leaf (released, but the block has live ones), 5 + 4 chunks of the
  // new leaves, 1 chunk for the last box: 576 of 1024.
  std::string text = Captured(tree, &freed);
  EXPECT_EQ(text,
            "Total nodeCount=258, numCell=18, numLeaf=15, maxDepth=4, size=1692\n"
            "MemoryBlocks: Count=1, Size=4128, Waste=1792\n"
            "FreedBlocks: Count=0, Size=0\n");
  EXPECT_EQ(freed, 0u);
  testing::internal::CaptureStdout();
  EXPECT_EQ(Locate(tree, -4.5f, -4.5f, -4.5f)->Dump(), 1u);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Total nodeCount=1, numCell=1, numLeaf=1, maxDepth=1, size=36\n");
  // The counters start afresh for the next dump.
  EXPECT_EQ(Captured(tree, &freed), text);
}

TEST(OctreeDump, FreedBlockOfAGrownLeaf) {
  // Every leaf is too small to split: the full one becomes unbounded, and its growth past
  // 512 ids leaves the first block without live allocations.
  omi_Octree tree(kOrigin, {1, 1, 1}, 1, nullptr, nullptr);
  for (unsigned id = 0; id < 513; ++id) tree.InsertBox(id, {-1, -1, -1}, {0, 0, 0});
  unsigned freed = 99;
  EXPECT_EQ(Captured(tree, &freed),
            "Total nodeCount=513, numCell=10, numLeaf=8, maxDepth=3, size=928\n"
            "MemoryBlocks: Count=2, Size=8256, Waste=4096\n"
            "FreedBlocks: Count=1, Size=4128\n");
  EXPECT_EQ(freed, 1u);
}

TEST(OctreeLineTrav, SegmentOutsideTheWidenedRootHasNoLeaves) {
  omi_Octree tree(kOrigin, {8, 8, 8}, 1, nullptr, nullptr);
  omi_OctreeLineTrav trav;
  bool started = true;
  EXPECT_TRUE(Traverse(trav, tree, {-20, 9, 0}, {20, 9, 0}, 0.5f, &started).empty());
  EXPECT_FALSE(started);
  EXPECT_TRUE(Traverse(trav, tree, {-20, 20, 0}, {-9, 9, 0}, 0.5f, &started).empty());
  EXPECT_FALSE(started);
  // Within the tolerance of the root's face: the two leaves along it.
  auto leaves = Traverse(trav, tree, {-20, 8.25f, 1}, {20, 8.25f, 1}, 0.5f, &started);
  EXPECT_TRUE(started);
  EXPECT_EQ(leaves,
            (std::vector<omi_OctreeLeaf const*>{Locate(tree, -1, 1, 1), Locate(tree, 1, 1, 1)}));
}

TEST(OctreeLineTrav, CornerCutForAShortStretchIsReportedInOrder) {
  omi_Octree tree(kOrigin, {8, 8, 8}, 1, nullptr, nullptr);
  omi_OctreeLineTrav trav;
  // Crosses x = 0 at y = -0.02, then y = 0 at x = 0.02: child 1 for a stretch of 0.03.
  auto leaves = Traverse(trav, tree, {-4, -4.02f, 1}, {4, 3.98f, 1}, 0);
  EXPECT_EQ(leaves, (std::vector<omi_OctreeLeaf const*>{
                        Locate(tree, -1, -1, 1), Locate(tree, 1, -1, 1), Locate(tree, 1, 1, 1)}));
}

TEST(OctreeLineTrav, EachLeafOnceAndRestartable) {
  omi_Octree tree(kOrigin, {8, 8, 8}, 1, nullptr, nullptr);
  omi_OctreeLineTrav trav;
  EXPECT_EQ(trav.NextCell(), nullptr) << "before Init";
  // Along a plane shared by four leaves with a wide tolerance: every leaf, once.
  auto leaves = Traverse(trav, tree, {-7, 0, 0}, {7, 0, 0}, 3);
  EXPECT_EQ(std::set<omi_OctreeLeaf const*>(leaves.begin(), leaves.end()).size(), 8u);
  EXPECT_EQ(leaves.size(), 8u);
  EXPECT_EQ(trav.NextCell(), nullptr) << "stays at the end";
  // A point: the leaves around it.
  leaves = Traverse(trav, tree, {2, 2, 2}, {2, 2, 2}, 0);
  EXPECT_EQ(leaves, (std::vector<omi_OctreeLeaf const*>{Locate(tree, 2, 2, 2)}));
}

TEST(OctreeLineTrav, BadArgumentsStartNothing) {
  omi_Octree tree(kOrigin, {8, 8, 8}, 1, nullptr, nullptr);
  omi_OctreeLineTrav trav;
  float p[3] = {0, 0, 0};
  float nan[3] = {0, NAN, 0};
  float inf[3] = {INFINITY, 0, 0};
  EXPECT_FALSE(trav.Init(nullptr, p, p, 0));
  EXPECT_FALSE(trav.Init(&tree, nullptr, p, 0));
  EXPECT_FALSE(trav.Init(&tree, p, nan, 0));
  EXPECT_FALSE(trav.Init(&tree, inf, p, 0));
  EXPECT_EQ(trav.NextCell(), nullptr);
  EXPECT_TRUE(trav.Init(&tree, p, p, NAN)) << "a tolerance that is not a number counts as 0";
  EXPECT_EQ(trav.NextCell(), Locate(tree, 0, 0, 0));
}

}  // namespace
