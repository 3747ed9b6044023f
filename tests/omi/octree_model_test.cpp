// The octree against brute force, on trees of several shapes filled with random boxes
// (clustered, so that leaves split deep and some become unbounded; some on dividing planes,
// some reaching outside the root, some single points):
//   - every reachable leaf's box is the region point location gives it, and they tile the
//     root box;
//   - FindCell gives, for random points inside and outside the root, a leaf whose box holds
//     the point (inside) and that holds every box containing the point;
//   - the line traversal, for random segments and tolerances, reports each leaf once, every
//     leaf that FindCell gives for a point computed on the segment inside the root, every
//     leaf whose box widened by the tolerance the segment meets and no leaf it does not
//     come near, in order of the parameter at which the segment enters the widened boxes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <random>
#include <set>
#include <string>
#include <unordered_set>
#include <vector>

#include "octree_test_support.h"
#include "varururor/omi/octree.h"
#include "varururor/omi/octree_cell.h"
#include "varururor/omi/octree_line_traversal.h"

namespace {

using octree_test::BoxStore;

struct Shape {
  char const* name;
  omi_OctVector centre;
  omi_OctVector half;
  float minimum;
};

constexpr Shape kShapes[] = {
    // Power-of-two sizes: every plane and box bound is exact.
    {"dyadic", {0, 0, 0}, {64, 64, 64}, 0.5f},
    {"uneven", {0.3f, -1.7f, 2.1f}, {10.3f, 7.7f, 13.1f}, 0.3f},
    // z divided by the tree but not by the root, and too thin for any leaf to split.
    {"thin", {0.3f, -1.7f, 2.1f}, {10.3f, 7.7f, 0.9f}, 0.7f},
    // z not divided at all.
    {"flat", {5, 5, 0}, {50, 50, 0.01f}, 1},
    // Far from the origin, where a unit in the last place is large.
    {"far", {1e5f, -2e5f, 3e4f}, {1000, 700, 1300}, 5},
};

struct Interval {
  double enter;
  double leave;
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

omi_OctVector Lo(omi_OctreeCell const* cell) {
  omi_OctVector c = cell->Centre(), h = cell->HalfSize();
  return {c.x - h.x, c.y - h.y, c.z - h.z};
}

omi_OctVector Hi(omi_OctreeCell const* cell) {
  omi_OctVector c = cell->Centre(), h = cell->HalfSize();
  return {c.x + h.x, c.y + h.y, c.z + h.z};
}

class OctreeModel {
 public:
  OctreeModel(Shape const& shape, unsigned seed)
      : shape_(shape),
        random_(seed),
        tree_(shape.centre, shape.half, shape.minimum, BoxStore::Callback, &store_) {
    root_lo_ = Lo(tree_.Root());
    root_hi_ = Hi(tree_.Root());
    scale_ = 0;
    for (int axis = 0; axis < 3; ++axis) {
      scale_ =
          std::max({scale_, double(std::fabs(root_lo_[axis])), double(std::fabs(root_hi_[axis]))});
    }
  }

  void Fill(int boxes) {
    for (int i = 0; i < 6; ++i) hot_spots_.push_back(PointIn(0));
    for (int i = 0; i < boxes; ++i) {
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
    leaves_ = octree_test::Leaves(tree_);
  }

  void CheckRegions() {
    double volume = 0;
    CheckRegion(tree_.Root(), root_lo_, root_hi_, volume);
    double root_volume = 1;
    for (int axis = 0; axis < 3; ++axis) root_volume *= double(root_hi_[axis]) - root_lo_[axis];
    EXPECT_NEAR(volume / root_volume, 1.0, 1e-4) << "the leaves tile the root";
    std::set<unsigned> numbers;
    for (auto const* leaf : leaves_) numbers.insert(leaf->Number());
    EXPECT_EQ(numbers.size(), leaves_.size()) << "leaf numbers are unique";
  }

  void CheckPoints(int points) {
    for (int i = 0; i < points && !testing::Test::HasFailure(); ++i) {
      omi_OctVector p = RandomPoint(0.2f);
      float point[3] = {p.x, p.y, p.z};
      omi_OctreeLeaf const* leaf = tree_.FindCell(point);
      ASSERT_NE(leaf, nullptr);
      if (Inside(p, root_lo_, root_hi_, 0)) {
        EXPECT_TRUE(Inside(p, Lo(leaf), Hi(leaf), Slack())) << Describe(p);
      }
      std::unordered_set<unsigned> held;
      for (unsigned k = 0; k < leaf->BoxCount(); ++k) held.insert(leaf->BoxId(k));
      for (unsigned id = 0; id < store_.boxes.size(); ++id) {
        auto const& box = store_.boxes[id];
        omi_OctVector lo, hi;
        for (int axis = 0; axis < 3; ++axis) {
          lo[axis] = std::min(box.min[axis], box.max[axis]);
          hi[axis] = std::max(box.min[axis], box.max[axis]);
        }
        if (Inside(p, lo, hi, 0)) {
          EXPECT_EQ(held.count(id), 1u) << "box " << id << " at " << Describe(p);
        }
      }
    }
  }

  void CheckSegments(int segments) {
    omi_OctreeLineTrav trav;  // reused: each Init starts afresh
    for (int i = 0; i < segments && !testing::Test::HasFailure(); ++i) {
      omi_OctVector p0 = RandomPoint(0.2f);
      omi_OctVector p1 = RandomPoint(0.2f);
      switch (Pick(6)) {
        case 0:  // parallel to an axis
          for (int axis = 0; axis < 3; ++axis) {
            if (axis != static_cast<int>(i % 3)) p1[axis] = p0[axis];
          }
          break;
        case 1:  // a point
          p1 = p0;
          break;
        default:
          break;
      }
      float tolerance = 0;
      switch (Pick(3)) {
        case 1:
          tolerance = shape_.minimum * 1e-3f;
          break;
        case 2:
          tolerance = shape_.minimum * (0.2f + 2 * Unit());
          break;
        default:
          break;
      }
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
        float step = 2 * shape_.half[axis] / static_cast<float>(1u << (1 + Pick(6)));
        p[axis] = root_lo_[axis] +
                  step * static_cast<float>(Pick(
                             static_cast<unsigned>(std::lround(2 * shape_.half[axis] / step)) + 1));
      }
    }
    return p;
  }

  double Slack() const { return scale_ * 1e-6; }

  static bool Inside(omi_OctVector p, omi_OctVector lo, omi_OctVector hi, double slack) {
    for (int axis = 0; axis < 3; ++axis) {
      if (p[axis] < lo[axis] - slack || p[axis] > hi[axis] + slack) return false;
    }
    return true;
  }

  static std::string Describe(omi_OctVector p) {
    char text[100];
    std::snprintf(text, sizeof text, "(%.9g, %.9g, %.9g)", p.x, p.y, p.z);
    return text;
  }

  // A leaf's box must be the region its ancestors' planes give it.
  void CheckRegion(omi_OctreeBranch const* branch, omi_OctVector lo, omi_OctVector hi,
                   double& volume) {
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
        EXPECT_NEAR(Lo(child)[axis], child_lo[axis], Slack()) << index << " axis " << axis;
        EXPECT_NEAR(Hi(child)[axis], child_hi[axis], Slack()) << index << " axis " << axis;
      }
      if (branch->IsLeafChild(index)) {
        double v = 1;
        for (int axis = 0; axis < 3; ++axis) v *= double(child_hi[axis]) - child_lo[axis];
        volume += v;
      } else {
        CheckRegion(static_cast<omi_OctreeBranch const*>(child), child_lo, child_hi, volume);
      }
    }
  }

  void CheckSegment(omi_OctreeLineTrav& trav, omi_OctVector p0, omi_OctVector p1, float tolerance) {
    std::vector<omi_OctreeLeaf const*> reported =
        octree_test::Traverse(trav, tree_, p0, p1, tolerance);
    std::map<omi_OctreeLeaf const*, size_t> position;
    for (size_t k = 0; k < reported.size(); ++k) {
      ASSERT_TRUE(position.emplace(reported[k], k).second) << "a leaf reported twice";
    }
    omi_OctVector d = {p1.x - p0.x, p1.y - p0.y, p1.z - p0.z};

    // Points computed on the segment, as a caller would.
    constexpr int kSamples = 1000;
    for (int s = 0; s < kSamples; ++s) {
      float t = static_cast<float>(s) / (kSamples - 1);
      float q[3] = {p0.x + t * d.x, p0.y + t * d.y, p0.z + t * d.z};
      if (!Inside({q[0], q[1], q[2]}, root_lo_, root_hi_, 0)) continue;
      omi_OctreeLeaf const* leaf = tree_.FindCell(q);
      ASSERT_EQ(position.count(leaf), 1u) << "missed the leaf at t = " << t;
    }

    // Every leaf against the widened boxes: the widening is the tolerance and a few units in
    // the last place of the largest coordinate; delta keeps clear of that edge.
    double largest = scale_;
    for (int axis = 0; axis < 3; ++axis) {
      largest = std::max({largest, double(std::fabs(p0[axis])), double(std::fabs(p1[axis]))});
    }
    double w = tolerance + largest * std::ldexp(1.0, -20);
    double delta = largest * std::ldexp(1.0, -22);
    for (omi_OctreeLeaf const* leaf : leaves_) {
      bool near = !SegmentInBox(p0, d, Lo(leaf), Hi(leaf), w - delta).Empty();
      bool far = SegmentInBox(p0, d, Lo(leaf), Hi(leaf), w + delta).Empty();
      if (near) {
        EXPECT_EQ(position.count(leaf), 1u) << "missed leaf " << leaf->Number();
      }
      if (far) {
        EXPECT_EQ(position.count(leaf), 0u) << "far leaf " << leaf->Number();
      }
    }
    // In order of entry: no leaf may be entered surely later than one after it.
    double latest_early_entry = 0;
    for (omi_OctreeLeaf const* leaf : reported) {
      Interval wide = SegmentInBox(p0, d, Lo(leaf), Hi(leaf), w + delta);
      Interval narrow = SegmentInBox(p0, d, Lo(leaf), Hi(leaf), w - delta);
      double late_entry = narrow.Empty() ? wide.leave : narrow.enter;
      EXPECT_LE(latest_early_entry, late_entry + 1e-9) << "leaf " << leaf->Number();
      latest_early_entry = std::max(latest_early_entry, wide.enter);
    }
  }

  Shape shape_;
  std::mt19937 random_;
  BoxStore store_;
  omi_Octree tree_;
  omi_OctVector root_lo_;
  omi_OctVector root_hi_;
  double scale_;
  std::vector<omi_OctVector> hot_spots_;
  std::vector<omi_OctreeLeaf const*> leaves_;
};

class OctreeBruteForce : public testing::TestWithParam<int> {};

TEST_P(OctreeBruteForce, RegionsPointsAndSegments) {
  Shape const& shape = kShapes[GetParam()];
  SCOPED_TRACE(shape.name);
  OctreeModel model(shape, 100 + GetParam());
  model.Fill(20000);
  model.CheckRegions();
  model.CheckPoints(1500);
  model.CheckSegments(300);
}

INSTANTIATE_TEST_SUITE_P(Shapes, OctreeBruteForce, testing::Range(0, 5));

}  // namespace
