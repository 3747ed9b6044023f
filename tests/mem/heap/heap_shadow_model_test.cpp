// The heap against its shadow model, in random operations.
#include <gtest/gtest.h>

#include <random>

#include "heap_test_support.h"
#include "long_tests.h"

namespace heap_test {
namespace {

class HeapShadowModel : public HeapTest, public ::testing::WithParamInterface<std::uint32_t> {};

TEST_P(HeapShadowModel, RandomOperationsKeepEveryBlockIntact) {
  std::mt19937 rng(GetParam());
  HeapModel model = TestModel(rng);
  for (int steps = vr_TestLength(3000, 30000); steps > 0 && model.ok(); --steps) {
    model.RandomStep();
  }
  model.Finish();
}

INSTANTIATE_TEST_SUITE_P(Seeds, HeapShadowModel, ::testing::Values(1u, 2u, 3u, 4u));

}  // namespace
}  // namespace heap_test
