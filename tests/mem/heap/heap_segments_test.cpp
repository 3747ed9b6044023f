// Segments made of several system regions: new space lands right above the top's
// segment and joins it, trimming gives back the whole regions beyond the pad, and a
// system that refuses halfway leaves the rest as a free segment. Each case runs in a
// fresh child.
#include <gtest/gtest.h>

#include "heap_test_support.h"

namespace heap_test {
namespace {

// Each case runs in a child and needs the heap untouched: no set-up, nothing to restore.
using HeapSegments = ::testing::Test;

std::size_t Segments() { return mem::heap::CheckHeap().segment_count; }

constexpr std::size_t kBlock = 2 * kMiB;
std::size_t Region() { return SegmentSizeFor(ChunkSizeFor(kBlock)); }
// The heap's first region, made for its first (small) block.
std::size_t FirstRegion() { return SegmentSizeFor(ChunkSizeFor(16)); }

// A first small block, which sets the heap up, then blocks of kBlock bytes, each needing
// a region of its own. Only explicit trims give memory back.
std::vector<void*> BlocksInNewRegions(int count) {
  dlmallopt(DL_M_MMAP_THRESHOLD, 0x7FFFFFFF);
  dlmallopt(DL_M_TRIM_THRESHOLD, -1);
  std::vector<void*> blocks{dlmalloc(16)};
  for (int i = 0; i < count; ++i) blocks.push_back(dlmalloc(kBlock));
  return blocks;
}

TEST_F(HeapSegments, NewRegionsLandAboveTheTopSegmentAndJoinIt) {
  EXPECT_CLEAN_IN_CHILD({
    std::vector<void*> blocks = BlocksInNewRegions(1);
    std::size_t footprint = dlmalloc_footprint();
    void* joining = dlmalloc(kBlock);
    ASSERT_NE(joining, nullptr);
    EXPECT_EQ(dlmalloc_footprint(), footprint + Region());
    EXPECT_EQ(Segments(), 1u) << "the new region did not join the top's segment";
    EXPECT_GT(joining, blocks.back());  // the heap grows upward
    blocks.push_back(joining);
    EXPECT_TRUE(HeapConsistent(blocks));
    for (void* p : blocks) dlfree(p);
    EXPECT_EQ(mem::heap::g_heap_state.seg.size, FirstRegion() + 2 * Region());
  });
}

TEST_F(HeapSegments, TrimmingTheTopGivesBackTheWholeRegionsBeyondThePad) {
  EXPECT_CLEAN_IN_CHILD({
    for (void* p : BlocksInNewRegions(2)) dlfree(p);
    // The top ends inside the second region when it keeps the pad: the first two stay,
    // the third goes whole.
    EXPECT_EQ(dlmalloc_trim(kGranularity), 1);
    EXPECT_EQ(dlmalloc_footprint(), FirstRegion() + Region());
    EXPECT_GE(dlmallinfo().keepcost, kGranularity);
    EXPECT_EQ(mem::heap::g_heap_state.trim_check, mem::heap::g_heap_params.trim_threshold);
    // Nothing more to give: automatic trimming stops until the top changes.
    EXPECT_EQ(dlmalloc_trim(Region()), 0);
    EXPECT_EQ(mem::heap::g_heap_state.trim_check, 0xFFFFFFFFu);
    EXPECT_EQ(dlmalloc_trim(0), 1);
    EXPECT_EQ(dlmalloc_footprint(), FirstRegion());
    EXPECT_TRUE(HeapConsistent(std::vector<void*>{}));
    void* again = dlmalloc(kBlock);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(Segments(), 1u);
    EXPECT_TRUE(HeapConsistent({again}));
    dlfree(again);
  });
}

TEST_F(HeapSegments, RefusalsHalfwayLeaveTheRestAsAFreeSegmentUntilTheSystemAgrees) {
  EXPECT_CLEAN_IN_CHILD({
    for (void* p : BlocksInNewRegions(3)) dlfree(p);
    // The first region above the first goes; the system refuses the next, also when the
    // trim tries again with what it kept as a free segment of its own.
    plat::InjectFailures(plat::Operation::kVirtualFree, 1, 2);
    EXPECT_EQ(dlmalloc_trim(0), 1);
    EXPECT_EQ(dlmalloc_footprint(), FirstRegion() + 2 * Region());
    EXPECT_EQ(Segments(), 2u);
    EXPECT_TRUE(HeapConsistent(std::vector<void*>{}));
    // Now the free segment's front goes and its end is refused: the end stays free.
    plat::InjectFailures(plat::Operation::kVirtualFree, 1, 1);
    EXPECT_EQ(dlmalloc_trim(0), 1);
    EXPECT_EQ(dlmalloc_footprint(), FirstRegion() + Region());
    EXPECT_EQ(Segments(), 2u);
    EXPECT_TRUE(HeapConsistent(std::vector<void*>{}));
    EXPECT_EQ(dlfragmentationinfo(), Region() - 8 - kTopFoot);
    plat::ClearInjectedFailures();
    EXPECT_EQ(dlmalloc_trim(0), 1);
    EXPECT_EQ(dlmalloc_footprint(), FirstRegion());
    EXPECT_EQ(Segments(), 1u);
    EXPECT_TRUE(HeapConsistent(std::vector<void*>{}));
  });
}

TEST_F(HeapSegments, FreeThatGrowsTheTopPastTheThresholdTrims) {
  EXPECT_CLEAN_IN_CHILD({
    dlmallopt(DL_M_TRIM_THRESHOLD, 1000);
    void* small = dlmalloc(100);
    void* p = dlmalloc(10 * kMiB);
    ASSERT_TRUE(small != nullptr && p != nullptr);
    std::size_t mapping = mem::heap::MappingSizeOf(p);
    ASSERT_EQ(dlrealloc(p, kMiB), p);
    // Freeing inside the old mapping leaves the top alone: nothing is trimmed yet.
    dlfree(p);
    std::size_t footprint = dlmalloc_footprint();
    ASSERT_EQ(Segments(), 2u);
    // This free grows the top past 1000 bytes, and the trim it runs releases the segment.
    dlfree(small);
    EXPECT_EQ(dlmalloc_footprint(), footprint - mapping);
    EXPECT_EQ(Segments(), 1u);
    EXPECT_TRUE(HeapConsistent(std::vector<void*>{}));
  });
}

}  // namespace
}  // namespace heap_test
