// The octree against brute force on clustered boxes; beside it, what a model cannot reach.
#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "child_process.h"
#include "varururor/omi/octree.h"
#include "varururor/omi/octree_cell.h"
#include "varururor/omi/octree_line_traversal.h"
#include "varururor/omi/octree_memory.h"

namespace {

constexpr omi_OctVector kOrigin = {0, 0, 0};
using LeafList = std::vector<omi_OctreeLeaf const*>;

omi_OctreeLeaf const* Locate(omi_Octree const& tree, float x, float y, float z) {
  float point[3] = {x, y, z};
  return tree.FindCell(point);
}

struct BoxStore {
  static void Callback(void* data, unsigned int id, float* min, float* max) {
    BoxStore* store = static_cast<BoxStore*>(data);
    ++store->calls;
    std::memcpy(min, &store->boxes[id].first, sizeof(omi_OctVector));
    std::memcpy(max, &store->boxes[id].second, sizeof(omi_OctVector));
  }

  void Insert(omi_Octree& tree, omi_OctVector min, omi_OctVector max) {
    boxes.emplace_back(min, max);
    tree.InsertBox(static_cast<unsigned int>(boxes.size() - 1), min, max);
  }

  std::vector<std::pair<omi_OctVector, omi_OctVector>> boxes;
  int calls = 0;
};

bool Holds(omi_OctreeLeaf const* leaf, unsigned int id) {
  for (unsigned int i = 0; i < leaf->BoxCount(); ++i) {
    if (leaf->BoxId(i) == id) return true;
  }
  return false;
}

LeafList Traverse(omi_OctreeLineTrav& trav, omi_Octree const& tree, omi_OctVector p0,
                  omi_OctVector p1, float tolerance) {
  float start[3] = {p0.x, p0.y, p0.z};
  float end[3] = {p1.x, p1.y, p1.z};
  bool started = trav.Init(&tree, start, end, tolerance);
  LeafList leaves;
  for (omi_OctreeLeaf const* leaf = trav.NextCell(); leaf != nullptr; leaf = trav.NextCell()) {
    leaves.push_back(leaf);
  }
  EXPECT_EQ(started, !leaves.empty()) << "Init tells whether the segment meets the tree";
  return leaves;
}

struct Shape {
  char const* name;
  omi_OctVector centre, half;
  float minimum;
};

constexpr Shape kShapes[] = {
    {"dyadic", {0, 0, 0}, {64, 64, 64}, 0.5f},  // every plane and box bound is exact
    {"uneven", {0.3f, -1.7f, 2.1f}, {10.3f, 7.7f, 13.1f}, 0.3f},
    // z divided by the tree but not by the root, and too thin for any leaf to split.
    {"thin", {0.3f, -1.7f, 2.1f}, {10.3f, 7.7f, 0.9f}, 0.7f},
    {"flat", {5, 5, 0}, {50, 50, 0.01f}, 1},             // z not divided at all
    {"far", {1e5f, -2e5f, 3e4f}, {1000, 700, 1300}, 5},  // a unit in the last place is large
};

struct Interval {
  double enter, leave;
  bool Empty() const { return !(enter <= leave); }
};

// The segment's parameters within lo - w .. hi + w, clipped to 0 .. 1.
Interval SegmentInBox(omi_OctVector p0, omi_OctVector d, omi_OctVector lo, omi_OctVector hi,
                      double w) {
  Interval range = {0, 1};
  for (int axis = 0; axis < 3; ++axis) {
    double low = lo[axis] - w;
    double high = hi[axis] + w;
    if (d[axis] == 0) {
      if (p0[axis] < low || p0[axis] > high) return {1, 0};
      continue;
    }
    double a = (low - p0[axis]) / d[axis];
    double b = (high - p0[axis]) / d[axis];
    if (a > b) std::swap(a, b);
    range.enter = std::max(range.enter, a);
    range.leave = std::min(range.leave, b);
  }
  return range;
}

// The cell's lower (sign -1) or upper (sign 1) corner.
omi_OctVector Corner(omi_OctreeCell const* cell, float sign) {
  omi_OctVector c = cell->Centre(), h = cell->HalfSize();
  return {c.x + sign * h.x, c.y + sign * h.y, c.z + sign * h.z};
}

class OctreeModel {
 public:
  OctreeModel(Shape const& shape, unsigned seed)
      : shape_(shape),
        random_(seed),
        tree_(shape.centre, shape.half, shape.minimum, BoxStore::Callback, &store_),
        root_lo_(Corner(tree_.Root(), -1)),
        root_hi_(Corner(tree_.Root(), 1)) {
    for (int axis = 0; axis < 3; ++axis) {
      scale_ =
          std::max({scale_, std::fabs(double(root_lo_[axis])), std::fabs(double(root_hi_[axis]))});
    }
  }

  void Run() {
    for (int i = 0; i < 6; ++i) hot_spots_.push_back(PointIn(0));
    for (int i = 0; i < 20000; ++i) {
      omi_OctVector a = RandomPoint(0.1f);
      omi_OctVector size;
      for (int axis = 0; axis < 3; ++axis) {
        // Log-uniform sizes from a millionth of the root to a twentieth of it; some points.
        float fraction = Pick(10) == 0 ? 0 : std::pow(10.0f, -6 + 4.7f * Unit());
        size[axis] = 2 * shape_.half[axis] * fraction;
      }
      omi_OctVector b = {a.x + size.x, a.y + size.y, a.z + size.z};
      if (Pick(8) == 0) std::swap(a, b);
      store_.Insert(tree_, a, b);
    }
    CheckRegion(tree_.Root(), root_lo_, root_hi_);
    std::set<unsigned> numbers;
    for (auto const* leaf : leaves_) numbers.insert(leaf->Number());
    EXPECT_EQ(numbers.size(), leaves_.size()) << "leaf numbers are unique";
    for (int i = 0; i < 1500 && !testing::Test::HasFailure(); ++i) {
      omi_OctVector p = RandomPoint(0.2f);
      omi_OctreeLeaf const* leaf = Locate(tree_, p.x, p.y, p.z);
      ASSERT_NE(leaf, nullptr);
      if (Inside(p, root_lo_, root_hi_, 0)) {
        EXPECT_TRUE(Inside(p, Corner(leaf, -1), Corner(leaf, 1), Slack())) << Describe(p);
      }
      for (unsigned id = 0; id < store_.boxes.size(); ++id) {
        if (Inside(p, store_.boxes[id].first, store_.boxes[id].second, 0)) {
          EXPECT_TRUE(Holds(leaf, id)) << "box " << id << " at " << Describe(p);
        }
      }
    }
    omi_OctreeLineTrav trav;  // reused: each Init starts afresh
    for (int i = 0; i < 300 && !testing::Test::HasFailure(); ++i) {
      omi_OctVector p0 = RandomPoint(0.2f);
      omi_OctVector p1 = RandomPoint(0.2f);
      unsigned kind = Pick(6);
      for (int axis = 0; kind < 2 && axis < 3; ++axis) {
        // Parallel to an axis, or a point.
        if (kind == 1 || axis != static_cast<int>(i % 3)) p1[axis] = p0[axis];
      }
      float tolerance =
          Pick(3) == 0 ? 0 : shape_.minimum * (Pick(2) == 0 ? 1e-3f : 0.2f + 2 * Unit());
      SCOPED_TRACE("segment " + std::to_string(i) + " from " + Describe(p0) + " to " +
                   Describe(p1) + " tolerance " + std::to_string(tolerance));
      CheckSegment(trav, p0, p1, tolerance);
    }
  }

 private:
  unsigned Pick(unsigned n) { return static_cast<unsigned>(random_() % n); }
  float Unit() { return std::uniform_real_distribution<float>(0, 1)(random_); }

  // Uniform in the root widened by a fraction of its size on each side.
  omi_OctVector PointIn(float widening) {
    omi_OctVector p;
    for (int axis = 0; axis < 3; ++axis) {
      float half = shape_.half[axis] * (1 + 2 * widening);
      p[axis] = shape_.centre[axis] - half + 2 * half * Unit();
    }
    return p;
  }

  // Mostly near a hot spot; some on the planes of the root's subdivision, some anywhere.
  omi_OctVector RandomPoint(float widening) {
    omi_OctVector p = PointIn(widening);
    unsigned kind = Pick(4);
    if (kind == 0 && !hot_spots_.empty()) {
      omi_OctVector const& spot = hot_spots_[Pick(static_cast<unsigned>(hot_spots_.size()))];
      for (int axis = 0; axis < 3; ++axis) {
        p[axis] = spot[axis] + shape_.half[axis] * 0.02f * (2 * Unit() - 1);
      }
    } else if (kind == 1) {
      for (int axis = 0; axis < 3; ++axis) {
        if (Pick(2) != 0) continue;
        unsigned steps = 1u << (1 + Pick(6));
        float step = 2 * shape_.half[axis] / static_cast<float>(steps);
        p[axis] = root_lo_[axis] + step * static_cast<float>(Pick(steps + 1));
      }
    }
    return p;
  }

  double Slack() const { return scale_ * 1e-6; }

  // Within the box of corners a and b, in either order, widened by slack.
  static bool Inside(omi_OctVector p, omi_OctVector a, omi_OctVector b, double slack) {
    for (int axis = 0; axis < 3; ++axis) {
      if (p[axis] < std::min(a[axis], b[axis]) - slack) return false;
      if (p[axis] > std::max(a[axis], b[axis]) + slack) return false;
    }
    return true;
  }

  static std::string Describe(omi_OctVector p) {
    char text[100];
    std::snprintf(text, sizeof text, "(%.9g, %.9g, %.9g)", p.x, p.y, p.z);
    return text;
  }

  // The leaves tile the root as their ancestors' planes cut it (undivided axes: lower half).
  void CheckRegion(omi_OctreeBranch const* branch, omi_OctVector lo, omi_OctVector hi) {
    for (unsigned index = 0; index < omi_OctreeBranch::kChildren; ++index) {
      omi_OctVector child_lo = lo, child_hi = hi;
      bool reached = true;
      for (int axis = 0; axis < 3; ++axis) {
        bool upper = ((index >> axis) & 1u) != 0;
        if (!branch->Divides(axis)) {
          reached = reached && !upper;
          continue;
        }
        (upper ? child_lo : child_hi)[axis] = branch->Centre()[axis];
      }
      if (!reached) continue;
      omi_OctreeCell const* child = branch->Child(index);
      ASSERT_NE(child, nullptr);
      for (int axis = 0; axis < 3; ++axis) {
        EXPECT_NEAR(Corner(child, -1)[axis], child_lo[axis], Slack()) << index << " " << axis;
        EXPECT_NEAR(Corner(child, 1)[axis], child_hi[axis], Slack()) << index << " " << axis;
      }
      if (branch->IsLeafChild(index)) {
        leaves_.push_back(static_cast<omi_OctreeLeaf const*>(child));
      } else {
        CheckRegion(static_cast<omi_OctreeBranch const*>(child), child_lo, child_hi);
      }
    }
  }

  void CheckSegment(omi_OctreeLineTrav& trav, omi_OctVector p0, omi_OctVector p1, float tolerance) {
    LeafList reported = Traverse(trav, tree_, p0, p1, tolerance);
    std::set<omi_OctreeLeaf const*> met(reported.begin(), reported.end());
    ASSERT_EQ(met.size(), reported.size()) << "a leaf reported twice";
    omi_OctVector d = {p1.x - p0.x, p1.y - p0.y, p1.z - p0.z};
    // Widened by the tolerance and a few ulps of the largest coordinate, delta either side.
    double largest = scale_;
    for (int axis = 0; axis < 3; ++axis) {
      largest = std::max({largest, double(std::fabs(p0[axis])), double(std::fabs(p1[axis]))});
    }
    double w = tolerance + largest * std::ldexp(1.0, -20);
    double delta = largest * std::ldexp(1.0, -22);
    auto within = [&](omi_OctreeLeaf const* leaf, double sign) {
      return SegmentInBox(p0, d, Corner(leaf, -1), Corner(leaf, 1), w + sign * delta);
    };
    for (omi_OctreeLeaf const* leaf : leaves_) {
      bool far = within(leaf, 1).Empty();
      if (far || !within(leaf, -1).Empty()) {
        EXPECT_EQ(met.count(leaf), far ? 0u : 1u) << "leaf " << leaf->Number();
      }
    }
    // In order of entry: no leaf may be entered surely later than one after it.
    double latest_early_entry = 0;
    for (omi_OctreeLeaf const* leaf : reported) {
      Interval narrow = within(leaf, -1), wide = within(leaf, 1);
      double late_entry = narrow.Empty() ? wide.leave : narrow.enter;
      EXPECT_LE(latest_early_entry, late_entry + 1e-9) << "leaf " << leaf->Number();
      latest_early_entry = std::max(latest_early_entry, wide.enter);
    }
  }

  Shape shape_;
  std::mt19937 random_;
  BoxStore store_;
  omi_Octree tree_;
  omi_OctVector root_lo_, root_hi_;
  double scale_ = 0;
  std::vector<omi_OctVector> hot_spots_;
  LeafList leaves_;
};

TEST(OctreeBruteForce, RegionsPointsAndSegmentsOnEveryShape) {
  for (unsigned i = 0; i < std::size(kShapes); ++i) {
    SCOPED_TRACE(kShapes[i].name);
    OctreeModel(kShapes[i], 100 + i).Run();
  }
}

// Narrow axes are not divided; points on a plane go below it; a NaN bound spans its axis.
TEST(Octree, AxesPlanesAndBoundsThatAreNotANumber) {
  omi_Octree flat(kOrigin, {10, 10, 0.001f}, 1, nullptr, nullptr);
  EXPECT_TRUE(flat.Divides(0) && flat.Divides(1) && !flat.Divides(2));
  EXPECT_EQ(flat.LeafNumbersGiven(), 4u) << "no upper children along z";
  EXPECT_EQ(flat.ReferenceAxis(), 0) << "x and y tie: the first";
  EXPECT_EQ(omi_Octree(kOrigin, {8, 2, 4}, 1, nullptr, nullptr).ReferenceAxis(), 1);
  omi_Octree small(kOrigin, {0.5f, -0.25f, 0.1f}, 1, nullptr, nullptr);
  EXPECT_EQ(small.Root()->HalfSize().y, 1.0f) << "below the minimum: the minimum";
  BoxStore store;
  omi_Octree tree(kOrigin, {8, 8, 8}, 1, BoxStore::Callback, &store);
  omi_OctreeBranch const* root = tree.Root();
  EXPECT_EQ(Locate(tree, 0, 0, 0), root->Child(0));
  EXPECT_EQ(Locate(tree, std::nextafter(0.0f, 1.0f), 0, 0), root->Child(1));
  EXPECT_EQ(tree.FindCell(nullptr), nullptr);
  store.Insert(tree, {-2, 1, 1}, {0, 2, 2});  // touches x = 0 from below
  EXPECT_EQ(Locate(tree, -1, 1, 1)->BoxId(1), omi_OctreeLeaf::kNoBox);
  EXPECT_FALSE(Holds(Locate(tree, 1, 1.5f, 1.5f), 0));
  store.Insert(tree, {NAN, 1, 1}, {NAN, 2, 2});
  for (unsigned index = 0; index < 8; ++index) {
    auto const* leaf = static_cast<omi_OctreeLeaf const*>(root->Child(index));
    EXPECT_EQ(Holds(leaf, 1), (index & 6u) == 6u) << index;
  }
}

// The 257th box splits a leaf unless it is too small, too deep or has no callback to ask.
TEST(Octree, WhatAFullLeafBecomes) {
  struct Case {
    float half, minimum, box_size;
    bool callback;
    int boxes, calls;
  } const cases[] = {
      {4, 1, 0.5f, true, 257, 256},  // half-size 2: half of it is the minimum
      {4, 1.5f, 1, true, 1500, 0},
      {64, 1, 1, false, 300, 0},
      {1024, 1e-6f, 0, true, 600, 1280},  // five splits, to insertion depth 10
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(c.half);
    BoxStore store;
    omi_Octree tree(kOrigin, {c.half, c.half, c.half}, c.minimum,
                    c.callback ? BoxStore::Callback : nullptr, &store);
    for (int i = 0; i < c.boxes; ++i) store.Insert(tree, {1, 1, 1}, {1 + c.box_size, 1, 1});
    auto const* leaf = dynamic_cast<omi_OctreeLeafInf const*>(Locate(tree, 1, 1, 1));
    ASSERT_NE(leaf, nullptr);
    EXPECT_EQ(store.calls, c.calls);
    ASSERT_EQ(leaf->BoxCount(), static_cast<unsigned>(c.boxes));
    for (unsigned i = 0; i <= leaf->BoxCount(); ++i) {
      ASSERT_EQ(leaf->BoxId(i), i < leaf->BoxCount() ? i : omi_OctreeLeaf::kNoBox);
    }
    EXPECT_EQ(leaf->Number(), 8u + c.calls / 32u) << "8 leaves per split, then this one";
  }
}

TEST(OctreeDump, ExactTextAndTheBlocksBehindIt) {
  BoxStore store;
  omi_Octree tree(kOrigin, {64, 64, 64}, 1, BoxStore::Callback, &store);
  // Child 7 of the root splits; its branch sends 129 boxes to child 0 and 128 to child 1.
  for (int i = 0; i < 257; ++i) {
    float x = i % 2 == 0 ? 1.0f : 40.0f;
    store.Insert(tree, {x, 1, 1}, {x + 1, 2, 2});
  }
  store.Insert(tree, {-5, -5, -5}, {-4, -4, -4});
  // Cells: 1, the root, 7 leaves, the branch, its 8 leaves; a leaf dumped next counts afresh.
  testing::internal::CaptureStdout();
  EXPECT_EQ(tree.Dump(), 0u);
  EXPECT_EQ(Locate(tree, -4.5f, -4.5f, -4.5f)->Dump(), 1u);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Total nodeCount=258, numCell=18, numLeaf=15, maxDepth=4, size=1692\n"
            "MemoryBlocks: Count=1, Size=4128, Waste=1792\nFreedBlocks: Count=0, Size=0\n"
            "Total nodeCount=1, numCell=1, numLeaf=1, maxDepth=1, size=36\n");
  // No leaf can split: the full one grows past 512 ids and frees the first block.
  omi_Octree grown(kOrigin, {1, 1, 1}, 1, nullptr, nullptr);
  omi_OctreeMemory const* first = grown.Blocks();
  for (unsigned id = 0; id < 513; ++id) grown.InsertBox(id, {-1, -1, -1}, {0, 0, 0});
  testing::internal::CaptureStdout();
  EXPECT_EQ(grown.Dump(), 1u);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Total nodeCount=513, numCell=10, numLeaf=8, maxDepth=3, size=928\n"
            "MemoryBlocks: Count=2, Size=8256, Waste=4096\nFreedBlocks: Count=1, Size=4128\n");
  grown.FreedBlock(const_cast<omi_OctreeMemory*>(first));
  EXPECT_EQ(first->NextFreed(), nullptr) << "not pushed twice";
  // The current block is full: the freed one serves, and goes on serving once reset again.
  omi_OctreeMemPtr reused = grown.MemAlloc(1024);
  EXPECT_EQ(reused.block, first);
  EXPECT_EQ(grown.FreedBlocks(), nullptr);
  reused.Release();
  reused.Release();  // nothing left to release
  EXPECT_EQ(first->LiveAllocations(), 0u);
  EXPECT_EQ(grown.FreedBlocks(), first);
  EXPECT_EQ(grown.MemAlloc(10).block, first);
  EXPECT_EQ(grown.MemAlloc(3000).block->Size(), 6000u) << "twice a request above 1024 words";
}

// Bad arguments start nothing; a segment across the whole float range meets its leaves.
TEST(OctreeLineTrav, BadArgumentsAndTheWholeFloatRange) {
  omi_Octree tree(kOrigin, {1e38f, 1e38f, 1e38f}, 1e36f, nullptr, nullptr);
  omi_OctreeLineTrav trav;
  EXPECT_EQ(trav.NextCell(), nullptr) << "before Init";
  float p[3] = {0, 0, 0}, nan[3] = {0, NAN, 0}, inf[3] = {-3e38f, 0, INFINITY};
  EXPECT_FALSE(trav.Init(nullptr, p, p, 0));
  EXPECT_FALSE(trav.Init(&tree, nullptr, p, 0));
  EXPECT_FALSE(trav.Init(&tree, p, nan, 0));
  EXPECT_FALSE(trav.Init(&tree, inf, p, 0));
  EXPECT_EQ(trav.NextCell(), nullptr);
  omi_OctreeLeaf const* lower = Locate(tree, -1e37f, 1e37f, 1e37f);
  omi_OctreeLeaf const* upper = Locate(tree, 1e37f, 1e37f, 1e37f);
  omi_OctVector q = {1e37f, 1e37f, 1e37f};
  EXPECT_EQ(Traverse(trav, tree, q, q, NAN), LeafList{upper}) << "NaN tolerance counts as 0";
  EXPECT_EQ(trav.NextCell(), nullptr) << "stays at the end";
  EXPECT_EQ(Traverse(trav, tree, {-3e38f, 1e37f, 1e37f}, {3e38f, 1e37f, 1e37f}, 0),
            (LeafList{lower, upper}));
  EXPECT_EQ(Traverse(trav, tree, {FLT_MAX, 1e37f, 1e37f}, {-FLT_MAX, 1e37f, 1e37f}, 0),
            (LeafList{upper, lower}));
}

// Else boxes over the whole tree would be copied into up to 8^6 leaves.
TEST(OctreeHostile, AMinimumThatCannotEndTheSubdivisionIsRefused) {
  EXPECT_IN_CHILD(
      "^omi_Octree: the minimum half-size -1 cannot end the subdivision \\(a positive normal "
      "number is needed\\): the tree is not divided\n$",
      omi_Octree tree(kOrigin, {8, 8, 8}, -1, nullptr, nullptr));
  for (float minimum : {0.0f, -1.0f, FLT_MIN / 4, -INFINITY, INFINITY, NAN}) {
    SCOPED_TRACE(minimum);
    BoxStore store;
    omi_Octree tree(kOrigin, {8, 8, 8}, minimum, BoxStore::Callback, &store);
    for (int i = 0; i < 600; ++i) store.Insert(tree, {-8, -8, -8}, {8, 8, 8});
    EXPECT_FALSE(tree.Divides(0) || tree.Divides(1) || tree.Divides(2));
    EXPECT_EQ(store.calls, 0);
    EXPECT_EQ(Locate(tree, 7, -7, 7)->BoxCount(), 600u);
  }
  omi_Octree smallest(kOrigin, {8, 8, 8}, FLT_MIN, nullptr, nullptr);
  EXPECT_EQ(smallest.MinimumHalfSize(), FLT_MIN) << "the smallest normal minimum is taken";
}

}  // namespace
