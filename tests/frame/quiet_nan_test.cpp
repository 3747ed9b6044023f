// With the library started, the invalid-operation trap is on: every comparison the
// library makes on a value it was given must stay quiet, so a NaN never kills the
// process inside the library. The cases run in a child started like a client.
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
constexpr unsigned kBoxCount = 200;  // enough in one place that leaves split

// Boxes with NaN corners, NaN points, a NaN tolerance and a NaN minimum half-size.
bool OctreeTakesNans() {
  static std::vector<omi_OctVector> low, high;
  omi_Octree tree(
      {0, 0, 0}, {16, 16, 16}, 0.5f,
      [](void*, unsigned int id, float* min, float* max) {
        for (int axis = 0; axis < omi_OctVector::kAxes; ++axis) {
          min[axis] = low[id][axis];
          max[axis] = high[id][axis];
        }
      },
      nullptr);
  for (unsigned id = 0; id < kBoxCount; ++id) {
    float at = static_cast<float>(id % 7);
    low.push_back({at, id % 3 == 0 ? kNan : at, at});
    high.push_back({at + 1, at + 1, id % 5 == 0 ? kNan : at + 1});
    tree.InsertBox(id, low.back(), high.back());
  }
  float nan_point[3] = {kNan, 1, kNan};
  float start[3] = {-10, -10, -10};
  float end[3] = {10, 10, 10};
  float nan_end[3] = {kNan, 0, 0};
  omi_OctreeLineTrav traversal;
  if (traversal.Init(&tree, start, end, kNan)) {
    while (traversal.NextCell() != nullptr) {
    }
  }
  omi_Octree no_minimum({0, 0, 0}, {kNan, 4, 4}, kNan, nullptr, nullptr);
  no_minimum.InsertBox(0, {kNan, 0, 0}, {1, 1, 1});
  return tree.FindCell(nan_point) != nullptr && !traversal.Init(&tree, start, nan_end, 0) &&
         no_minimum.FindCell(nan_point) != nullptr;
}

bool ComplexTakesNans() {
  return std::isnan(omi_complex(0, kDoubleNan, 1.0).Argument()) &&
         std::isnan(omi_complex(0, -1.0, kDoubleNan).Argument()) &&
         std::isnan(omi_complex(0, 0.0, kDoubleNan).Argument());
}

TEST(QuietNanTest, CounterComplexAndOctreeTakeNotANumberWithTheTrapsOn) {
  EXPECT_EXIT(
      {
        int started = 0;
        UTI_VaruRuror_initialize(started);
        dup2(STDERR_FILENO, STDOUT_FILENO);  // the overflow lines, where the check sees them
        omi_settimecounterstart(kDoubleNan);
        bool right = omi_gettimecounter() == 0.0 && ComplexTakesNans() && OctreeTakesNans();
        std::fflush(stdout);
        std::exit(right ? 0 : 1);
      },
      testing::ExitedWithCode(0), "Session Time Counter overflow!\nRestart your session.\n$");
}

}  // namespace
