// A large temporary working set is given back: new regions land below the heap's segment
// and join it, so the top ends up spanning many regions, and trimming lets go of every
// whole region beyond the pad. Each case runs in a fresh child.
#include <gtest/gtest.h>

#include "heap_test_support.h"

namespace heap_test {
namespace {

constexpr int kBlocks = 50;
constexpr std::size_t kBlockSize = 100000;

std::vector<void*> WorkingSet() {
  std::vector<void*> blocks;
  for (int i = 0; i < kBlocks; ++i) {
    blocks.push_back(dlmalloc(kBlockSize));
    Fill(blocks.back(), kBlockSize, static_cast<std::uint32_t>(i));
  }
  return blocks;
}

TEST(HeapTrim, AnExplicitTrimGivesBackAFreedWorkingSet) {
  EXPECT_CLEAN_IN_CHILD({
    dlmallopt(DL_M_TRIM_THRESHOLD, -1);  // only the explicit trim gives memory back
    std::vector<void*> blocks = WorkingSet();
    std::size_t const peak = dlmalloc_footprint();
    ASSERT_GE(peak, kBlocks * kBlockSize);
    for (int i = 0; i < kBlocks; ++i)
      ASSERT_TRUE(Intact(blocks[i], kBlockSize, static_cast<std::uint32_t>(i)));
    for (void* p : blocks) dlfree(p);
    EXPECT_EQ(dlmalloc_trim(0), 1);
    EXPECT_LT(dlmalloc_footprint(), peak / 10);
    EXPECT_EQ(dlmalloc_max_footprint(), peak);
    EXPECT_TRUE(HeapConsistent(std::vector<void*>{}));
    // The heap grows again as before.
    blocks = WorkingSet();
    EXPECT_TRUE(HeapConsistent(blocks));
    for (void* p : blocks) dlfree(p);
  });
}

TEST(HeapTrim, FreeingAWorkingSetTrimsByItselfAndKeepsLiveBlocks) {
  EXPECT_CLEAN_IN_CHILD({
    void* first = dlmalloc(kBlockSize);  // lives in the lowest part of the heap's segment
    std::vector<void*> blocks = WorkingSet();
    std::size_t const peak = dlmalloc_footprint();
    for (void* p : blocks) dlfree(p);
    EXPECT_LT(dlmalloc_footprint(), peak / 4);
    EXPECT_TRUE(HeapConsistent({first}));
    dlfree(first);
  });
}

}  // namespace
}  // namespace heap_test
