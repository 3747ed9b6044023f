// Segments made of several system regions: new space that lands right below a segment
// joins it, and giving such a segment back goes region by region. Each case runs in a
// fresh child, where the system places each new reservation right below the one before.
#include <gtest/gtest.h>

#include "heap_test_support.h"

namespace heap_test {
namespace {

// Each case runs in a child and needs the heap untouched: no set-up, nothing to restore.
using HeapSegments = ::testing::Test;

std::size_t Segments() { return mem::heap::CheckHeap().segment_count; }

// Regions of 2 MiB come from the untouched end of the address space, one right below the
// other, where smaller ones might fill holes left between older mappings.
constexpr std::size_t kBlock = 2 * kMiB;
std::size_t Region() { return SegmentSizeFor(ChunkSizeFor(kBlock)); }

// Blocks of kBlock bytes, each in a region of its own, after a first small block that
// sets the heap up wherever the system likes. Only explicit trims give memory back.
std::vector<void*> BlocksInFreshRegions(int count) {
  dlmallopt(DL_M_MMAP_THRESHOLD, 0x7FFFFFFF);
  dlmallopt(DL_M_TRIM_THRESHOLD, -1);
  std::vector<void*> blocks{dlmalloc(16)};
  for (int i = 0; i < count; ++i) blocks.push_back(dlmalloc(kBlock));
  return blocks;
}

// Frees the blocks, and gives back the heap's first segment if it lies apart. The top
// then spans the segment of the joined regions, which the first may have joined as well.
std::size_t FreeAll(std::vector<void*> const& blocks) {
  for (void* p : blocks) dlfree(p);
  dlmalloc_trim(0);
  return mem::heap::g_heap_state.seg.size;
}

// A pad for dlmalloc_trim that keeps the lowest region of the top's segment and lets
// everything above it go: half a granule beyond it, rounded up, is one granule kept.
std::size_t PadKeepingOneRegion() { return Region() - 8 - kTopFoot - kGranularity / 2 - kTopFoot; }

TEST_F(HeapSegments, RegionBelowTheTopSegmentJoinsIt) {
  EXPECT_CLEAN_IN_CHILD({
    std::vector<void*> blocks = BlocksInFreshRegions(1);
    std::size_t segments = Segments();
    std::size_t footprint = dlmalloc_footprint();
    void* joining = dlmalloc(kBlock);
    ASSERT_NE(joining, nullptr);
    EXPECT_EQ(dlmalloc_footprint(), footprint + Region());
    ASSERT_EQ(Segments(), segments) << "the new region did not land right below the last";
    // The block is cut from the new region's front, below the older block.
    EXPECT_EQ(static_cast<char*>(joining) + Region(), blocks.back());
    blocks.push_back(joining);
    EXPECT_TRUE(HeapConsistent(blocks));
    std::size_t joined = FreeAll(blocks);
    EXPECT_GE(joined, 2 * Region());
    EXPECT_EQ(dlmalloc_footprint(), joined);
    EXPECT_EQ(dlmallinfo().keepcost, joined - 8 - kTopFoot);
    EXPECT_EQ(Segments(), 1u);
    EXPECT_TRUE(HeapConsistent(std::vector<void*>{}));
  });
}

TEST_F(HeapSegments, TrimmingTheTopGivesBackWholeRegionsOnly) {
  EXPECT_CLEAN_IN_CHILD({
    std::size_t joined = FreeAll(BlocksInFreshRegions(2));
    ASSERT_GE(joined, 2 * Region()) << "the regions did not land side by side";
    // Trimming to a top that ends inside the lowest region would cut a region apart:
    // nothing goes, and automatic trimming stops.
    EXPECT_EQ(dlmalloc_trim(kGranularity), 0);
    EXPECT_EQ(dlmalloc_footprint(), joined);
    EXPECT_EQ(mem::heap::g_heap_state.trim_check, 0xFFFFFFFFu);
    // Ending the top with the lowest region lets the others go whole.
    EXPECT_EQ(dlmalloc_trim(PadKeepingOneRegion()), 1);
    EXPECT_EQ(dlmalloc_footprint(), Region());
    EXPECT_EQ(dlmallinfo().keepcost, Region() - 8 - kTopFoot);
    // The top changed: automatic trimming is back.
    EXPECT_EQ(mem::heap::g_heap_state.trim_check, mem::heap::g_heap_params.trim_threshold);
    EXPECT_TRUE(HeapConsistent(std::vector<void*>{}));
    void* again = dlmalloc(kBlock);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(dlmalloc_footprint(), Region());
    dlfree(again);
  });
}

TEST_F(HeapSegments, RefusalHalfwayThroughTheTopsEndKeepsTheRestAsASegment) {
  EXPECT_CLEAN_IN_CHILD({
    std::size_t joined = FreeAll(BlocksInFreshRegions(3));
    ASSERT_GE(joined, 3 * Region()) << "the regions did not land side by side";
    // Everything above the lowest region goes back; the system lets the first region
    // above it go and refuses the next.
    plat::InjectFailures(plat::Operation::kVirtualFree, 1, 1);
    EXPECT_EQ(dlmalloc_trim(PadKeepingOneRegion()), 1);
    // What the system kept became a free segment of its own, and the same trim gave it
    // back once the system agreed.
    EXPECT_EQ(dlmalloc_footprint(), Region());
    EXPECT_EQ(Segments(), 1u);
    EXPECT_EQ(dlmallinfo().keepcost, Region() - 8 - kTopFoot);
    EXPECT_TRUE(HeapConsistent(std::vector<void*>{}));
  });
}

TEST_F(HeapSegments, RefusalHalfwayThroughAFreeSegmentKeepsItsUpperPart) {
  EXPECT_CLEAN_IN_CHILD({
    void* p = dlmalloc(10 * kMiB);
    ASSERT_NE(p, nullptr);
    std::size_t mapping = mem::heap::MappingSizeOf(p);
    ASSERT_EQ(dlrealloc(p, kMiB), p);
    dlfree(p);
    ASSERT_EQ(Segments(), 2u);
    // Too large for the free segment: new space, which lands right below it and joins it.
    dlmallopt(DL_M_MMAP_THRESHOLD, 0x7FFFFFFF);
    std::size_t footprint = dlmalloc_footprint();
    void* q = dlmalloc(11 * kMiB);
    ASSERT_NE(q, nullptr);
    std::size_t region = SegmentSizeFor(ChunkSizeFor(11 * kMiB));
    EXPECT_EQ(dlmalloc_footprint(), footprint + region);
    ASSERT_EQ(Segments(), 2u) << "the new region did not land right below the free segment";
    EXPECT_TRUE(HeapConsistent({q}));
    dlfree(q);
    // Wholly free again, now two regions long. The system lets the lower region go and
    // refuses the upper one, which stays a free segment until the next trim.
    plat::InjectFailures(plat::Operation::kVirtualFree, 1, 1);
    EXPECT_EQ(dlmalloc_trim(0), 1);
    EXPECT_EQ(dlmalloc_footprint(), footprint);
    EXPECT_EQ(Segments(), 2u);
    EXPECT_TRUE(HeapConsistent(std::vector<void*>{}));
    EXPECT_EQ(dlfragmentationinfo(), mapping - 8 - kTopFoot);
    plat::ClearInjectedFailures();
    EXPECT_EQ(dlmalloc_trim(0), 1);
    EXPECT_EQ(dlmalloc_footprint(), footprint - mapping);
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
