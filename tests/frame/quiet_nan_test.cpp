// With the library started, the invalid-operation trap is on: every comparison the
// library makes on a value it was given must stay quiet, so a NaN never kills the
// process inside the library. Each case runs in a child started like a client.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <vector>

#include "varururor/frame/complex.h"
#include "varururor/frame/startup.h"
#include "varururor/frame/time_stamp.h"
#include "varururor/omi/octree.h"
#include "varururor/omi/octree_cell.h"
#include "varururor/omi/octree_line_traversal.h"

namespace {

constexpr float kNan = std::numeric_limits<float>::quiet_NaN();
constexpr double kDoubleNan = std::numeric_limits<double>::quiet_NaN();
constexpr int kCompleted = 0;
constexpr int kWrongResult = 3;
// Enough boxes in one place that leaves split and ask for their boxes back.
constexpr unsigned kBoxCount = 200;

void Start() {
  int started = 0;
  UTI_VaruRuror_initialize(started);
}

struct Boxes {
  std::vector<omi_OctVector> min;
  std::vector<omi_OctVector> max;
  static void Callback(void* data, unsigned int id, float* low, float* high) {
    Boxes* boxes = static_cast<Boxes*>(data);
    for (int axis = 0; axis < omi_OctVector::kAxes; ++axis) {
      low[axis] = boxes->min[id][axis];
      high[axis] = boxes->max[id][axis];
    }
  }
};

// Boxes with NaN corners, NaN points, a NaN tolerance and a NaN minimum half-size.
void UseTheOctreeWithNans() {
  Boxes boxes;
  omi_Octree tree({0, 0, 0}, {16, 16, 16}, 0.5f, Boxes::Callback, &boxes);
  for (unsigned id = 0; id < kBoxCount; ++id) {
    float at = static_cast<float>(id % 7);
    omi_OctVector low = {at, id % 3 == 0 ? kNan : at, at};
    omi_OctVector high = {at + 1, at + 1, id % 5 == 0 ? kNan : at + 1};
    boxes.min.push_back(low);
    boxes.max.push_back(high);
    tree.InsertBox(id, low, high);
  }
  float nan_point[3] = {kNan, 1, kNan};
  if (tree.FindCell(nan_point) == nullptr) std::exit(kWrongResult);
  float start[3] = {-10, -10, -10};
  float end[3] = {10, 10, 10};
  omi_OctreeLineTrav traversal;
  if (traversal.Init(&tree, start, end, kNan)) {
    while (traversal.NextCell() != nullptr) {
    }
  }
  float nan_end[3] = {kNan, 0, 0};
  if (traversal.Init(&tree, start, nan_end, 0)) std::exit(kWrongResult);

  omi_Octree no_minimum({0, 0, 0}, {kNan, 4, 4}, kNan, nullptr, nullptr);
  no_minimum.InsertBox(0, {kNan, 0, 0}, {1, 1, 1});
  if (no_minimum.FindCell(nan_point) == nullptr) std::exit(kWrongResult);
}

TEST(QuietNanTest, SessionCounterThatIsNotANumberOverflows) {
  EXPECT_EXIT(
      {
        Start();
        dup2(STDERR_FILENO, STDOUT_FILENO);  // the overflow lines, where the check sees them
        omi_settimecounterstart(kDoubleNan);
        double value = omi_gettimecounter();
        std::fflush(stdout);
        std::exit(value == 0.0 ? kCompleted : kWrongResult);
      },
      testing::ExitedWithCode(kCompleted), "^Session Time Counter overflow!\nRestart your session.\n$");
}

TEST(QuietNanTest, ComplexWithAPartThatIsNotANumber) {
  EXPECT_EXIT(
      {
        Start();
        omi_complex cartesian(0, kDoubleNan, 1.0);
        omi_complex imaginary_nan(0, -1.0, kDoubleNan);
        bool right = std::isnan(cartesian.Argument()) && std::isnan(imaginary_nan.Argument()) &&
                     std::isnan(omi_complex(0, 0.0, kDoubleNan).Argument());
        std::exit(right ? kCompleted : kWrongResult);
      },
      testing::ExitedWithCode(kCompleted), "");
}

TEST(QuietNanTest, OctreeCornersPointsToleranceAndMinimumThatAreNotNumbers) {
  EXPECT_EXIT((Start(), UseTheOctreeWithNans(), std::exit(kCompleted)),
              testing::ExitedWithCode(kCompleted), "");
}

}  // namespace
