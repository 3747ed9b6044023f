// The heap against its shadow model: random operations, and edges random sizes seldom hit.
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

using HeapModelEdges = HeapTest;
constexpr std::size_t kTenMiB = 10 * kMiB;

// Each size resizes a fresh 10 MiB block with its own mapping; the model knows whether
// it must move, stay as it is, or become an ordinary chunk where it is.
TEST_F(HeapModelEdges, MappedBlocksResizedAroundTheInPlaceRule) {
  std::mt19937 rng;
  HeapModel model = TestModel(rng);
  std::size_t const chunk = MappedUsableFor(kTenMiB) + 8;
  std::size_t const two_granules = 2 * kGranularity;
  for (std::size_t n :
       {kMiB, kTenMiB - 100 * kKiB, chunk - two_granules - 4, chunk - two_granules - 20, chunk - 4,
        12 * kMiB, std::size_t{100}, std::size_t{236}, std::size_t{237}}) {
    ASSERT_NE(mem::heap::MappingSizeOf(model.Malloc(kTenMiB)), 0u) << n;
    model.Realloc(model.Last(), n);
    model.Free(model.Last());
    model.Trim(0);
  }
  ASSERT_NE(mem::heap::MappingSizeOf(model.Memalign(64 * kKiB, kTenMiB)), 0u);
  model.Realloc(model.Last(), kMiB);
  // At the limit already: growing needs the system, shrinking does not.
  void* p = model.Malloc(kTenMiB);
  ASSERT_NE(mem::heap::MappingSizeOf(p), 0u);
  model.SetLimit(dlmalloc_footprint());
  EXPECT_EQ(model.Realloc(model.Last(), 11 * kMiB), nullptr);
  EXPECT_EQ(model.Realloc(model.Last(), kMiB), p);
  model.Finish();
}

}  // namespace
}  // namespace heap_test
