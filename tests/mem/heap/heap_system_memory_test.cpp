// What the heap asks of the system and gives back: the memory limit and its error flag,
// the parameters set through dlmallopt, the lock switch, segments made of several system
// regions and their trimming, and a system that refuses.
#include <gtest/gtest.h>

#include <cstring>

#include "heap_test_support.h"

namespace heap_test {
namespace {

using mem::heap::g_heap_params;
using mem::heap::g_heap_state;

class HeapSystemMemory : public HeapTest {
 protected:
  void SetUp() override {
    HeapTest::SetUp();
    dlmalloc_trim(0);
  }

  // A request whose chunk needs new system memory, sized so that its segment and its
  // mapping round to the same size: k granules plus 16 bytes of chunk take k + 1 either way.
  static std::size_t RequestNeedingSystemMemory() {
    std::size_t granules = std::max(LargestFreeSpace(), kMiB) / kGranularity + 2;
    return granules * kGranularity + 12;
  }
};

TEST_F(HeapSystemMemory, ARequestThatWouldReachTheLimitExactlyIsRefused) {
  for (bool mapped : {true, false}) {
    dlmallopt(DL_M_MMAP_THRESHOLD, mapped ? 256 * kKiB : 0x7FFFFFFF);
    std::size_t n = RequestNeedingSystemMemory();
    std::size_t size = SegmentSizeFor(ChunkSizeFor(n));
    ASSERT_EQ(size, MappingSizeFor(ChunkSizeFor(n)));
    std::size_t footprint = dlmalloc_footprint();
    dlmallopt(DL_M_MEMORY_LIMIT, static_cast<int>(footprint + size));
    EXPECT_EQ(dlmalloc(n), nullptr);
    EXPECT_EQ(error_memory_limit(), -1);
    EXPECT_EQ(dlmalloc_footprint(), footprint);
    // Served from what the heap holds: no check runs, the flag stays.
    void* small = dlmalloc(16);
    EXPECT_EQ(error_memory_limit(), -1);

    dlmallopt(DL_M_MEMORY_LIMIT, static_cast<int>(footprint + size + 1));
    void* p = dlmalloc(n);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(error_memory_limit(), 0);
    EXPECT_EQ(mem::heap::MappingSizeOf(p), mapped ? size : 0);
    EXPECT_EQ(dlmalloc_footprint(), footprint + size);
    EXPECT_TRUE(HeapConsistent({p, small}));
    dlfree(p);
    dlfree(small);
  }
}

TEST_F(HeapSystemMemory, GrowingAMappedChunkChecksTheLimitForTheDifference) {
  std::size_t n = RequestNeedingSystemMemory();
  void* p = dlmalloc(n);
  void* r = dlmalloc(n);
  ASSERT_TRUE(p != nullptr && r != nullptr);
  std::size_t growth = MappingSizeFor(ChunkSizeFor(2 * n)) - mem::heap::MappingSizeOf(p);
  // A free chunk large enough for the grown blocks, so that allocate-copy-free needs no
  // system memory and the flag shows the in-place attempt's check alone.
  void* donor = dlmalloc(5 * n);
  ASSERT_EQ(dlrealloc(donor, kMiB), donor);
  // The in-place attempt asks no memory of the system, so it runs no initialisation pass:
  // the second dlmallopt is the pass that brings the limit into the heap state.
  for (std::size_t slack : {0, 1}) {
    for (int pass = 0; pass < 2; ++pass) {
      dlmallopt(DL_M_MEMORY_LIMIT, static_cast<int>(dlmalloc_footprint() + growth + slack));
    }
    void*& block = slack == 0 ? p : r;
    block = dlrealloc(block, 2 * n);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(error_memory_limit(), slack == 0 ? -1 : 0);
  }
  dlfree(p);
  dlfree(r);
  dlfree(donor);
}

TEST_F(HeapSystemMemory, MalloptAcceptsAndRefuses) {
  struct {
    int param;
    int value;
    int result;
  } const cases[] = {{7, 1, 0},
                     {0, 1, 0},
                     {-6, 1, 0},
                     {1, 1, 0},
                     {DL_M_GRANULARITY, 0, 0},
                     {DL_M_GRANULARITY, 3, 0},
                     {DL_M_GRANULARITY, 2048, 0},
                     {DL_M_GRANULARITY, 4095, 0},
                     {DL_M_GRANULARITY, 65537, 0},
                     {DL_M_GRANULARITY, 3 * 65536, 0},
                     {DL_M_GRANULARITY, -1, 0},
                     {DL_M_GRANULARITY, 4096, 1},
                     {DL_M_TRIM_THRESHOLD, -1, 1},
                     {DL_M_MMAP_THRESHOLD, 12345, 1},
                     {DL_M_LOCK, 7, 1},
                     {DL_M_MEMORY_LIMIT, -2, 1}};
  for (auto const& c : cases) {
    mem::heap::HeapParams before = g_heap_params;
    EXPECT_EQ(dlmallopt(c.param, c.value), c.result) << c.param << " " << c.value;
    if (c.result == 0) {
      EXPECT_EQ(std::memcmp(&before, &g_heap_params, sizeof before), 0) << "a refusal changed it";
    }
  }
  EXPECT_EQ(g_heap_params.granularity, 4096u);
  EXPECT_EQ(g_heap_params.trim_threshold, 0xFFFFFFFFu);
  EXPECT_EQ(g_heap_params.mapping_threshold, 12345u);
  EXPECT_EQ(g_heap_params.lock_switch, 7);
  EXPECT_EQ(dlmalloc_memory_limit(), 0xFFFFFFFEu);
}

TEST_F(HeapSystemMemory, GranularityShapesNewSegments) {
  ASSERT_EQ(dlmallopt(DL_M_GRANULARITY, static_cast<int>(kMiB)), 1);
  dlmallopt(DL_M_MMAP_THRESHOLD, 0x7FFFFFFF);
  std::size_t n = LargestFreeSpace() + 1000;
  std::size_t footprint = dlmalloc_footprint();
  void* p = dlmalloc(n);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(dlmalloc_footprint() - footprint, (ChunkSizeFor(n) + 65 + kMiB) & ~(kMiB - 1));
  dlfree(p);
}

TEST_F(HeapSystemMemory, SwitchChangedInsideAnOperationLeavesTheLockBalanced) {
  // The switch is copied when the heap asks the system for memory, in the middle of a
  // locked operation: the lock must be released all the same, and exactly once.
  std::vector<void*> blocks;
  for (int lock_switch : {0, 2}) {
    dlmallopt(DL_M_LOCK, lock_switch);
    ASSERT_NE(g_heap_state.lock_switch, lock_switch);
    blocks.push_back(dlmalloc(RequestNeedingSystemMemory()));
    ASSERT_NE(blocks.back(), nullptr);
    EXPECT_EQ(g_heap_state.lock_switch, lock_switch);
    EXPECT_EQ(g_heap_state.lock.count, 0);
  }
  for (void* p : blocks) dlfree(p);
  EXPECT_EQ(g_heap_state.lock.count, 0);
}

TEST_F(HeapSystemMemory, RefusedSystemMemoryGivesNullAndLeavesTheHeapWhole) {
  std::size_t n = RequestNeedingSystemMemory();
  std::size_t footprint = dlmalloc_footprint();
  // A refused mapping falls back to a segment.
  plat::InjectFailures(plat::Operation::kVirtualAlloc, 0, 1);
  void* p = dlmalloc(n);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(mem::heap::MappingSizeOf(p), 0u);
  EXPECT_EQ(dlmalloc_footprint(), footprint + SegmentSizeFor(ChunkSizeFor(n)));
  dlfree(p);
  dlmalloc_trim(0);
  // The mapping, then a segment right above the top's, then one anywhere.
  plat::InjectFailures(plat::Operation::kVirtualAlloc, 0, 3);
  EXPECT_EQ(dlmalloc(n), nullptr);
  EXPECT_EQ(error_memory_limit(), 0);
  EXPECT_EQ(dlmalloc_footprint(), footprint);
  EXPECT_TRUE(HeapConsistent());
}

// Each case below needs an untouched heap and leaves it changed: it runs in a fresh child.
constexpr std::size_t kBlock = 2 * kMiB;
std::size_t Region() { return SegmentSizeFor(ChunkSizeFor(kBlock)); }
std::size_t FirstRegion() { return SegmentSizeFor(ChunkSizeFor(16)); }

// A first small block, which sets the heap up, then blocks of kBlock bytes, each needing
// a region of its own, which lands right above the top's segment and joins it. Only
// explicit trims give memory back.
std::vector<void*> BlocksInNewRegions(int count) {
  dlmallopt(DL_M_MMAP_THRESHOLD, 0x7FFFFFFF);
  dlmallopt(DL_M_TRIM_THRESHOLD, -1);
  std::vector<void*> blocks{dlmalloc(16)};
  for (int i = 0; i < count; ++i) blocks.push_back(dlmalloc(kBlock));
  EXPECT_EQ(dlmalloc_footprint(), FirstRegion() + count * Region());
  EXPECT_EQ(Segments(), 1u) << "the new regions did not join the top's segment";
  EXPECT_TRUE(HeapConsistent(blocks));
  return blocks;
}

TEST(HeapSegments, TrimmingGivesBackTheWholeRegionsBeyondThePad) {
  EXPECT_CLEAN_IN_CHILD({
    for (void* p : BlocksInNewRegions(2)) dlfree(p);
    // The top ends inside the second region when it keeps the pad: the first two stay,
    // the third goes whole.
    EXPECT_EQ(dlmalloc_trim(kGranularity), 1);
    EXPECT_EQ(dlmalloc_footprint(), FirstRegion() + Region());
    EXPECT_GE(dlmallinfo().keepcost, kGranularity);
    EXPECT_EQ(g_heap_state.trim_check, g_heap_params.trim_threshold);
    // Nothing more to give: automatic trimming stops until the top changes.
    EXPECT_EQ(dlmalloc_trim(Region()), 0);
    EXPECT_EQ(g_heap_state.trim_check, 0xFFFFFFFFu);
    EXPECT_EQ(dlmalloc_trim(0), 1);
    EXPECT_EQ(dlmalloc_footprint(), FirstRegion());
    EXPECT_TRUE(HeapConsistent());
  });
}

TEST(HeapSegments, RefusalsHalfwayLeaveTheRestAsAFreeSegmentUntilTheSystemAgrees) {
  EXPECT_CLEAN_IN_CHILD({
    for (void* p : BlocksInNewRegions(3)) dlfree(p);
    // The first region above the first goes; the system refuses the next, also when the
    // trim tries again with what it kept as a free segment of its own.
    plat::InjectFailures(plat::Operation::kVirtualFree, 1, 2);
    EXPECT_EQ(dlmalloc_trim(0), 1);
    EXPECT_EQ(dlmalloc_footprint(), FirstRegion() + 2 * Region());
    EXPECT_EQ(Segments(), 2u);
    EXPECT_TRUE(HeapConsistent());
    // Now the free segment's front goes and its end is refused: the end stays free.
    plat::InjectFailures(plat::Operation::kVirtualFree, 1, 1);
    EXPECT_EQ(dlmalloc_trim(0), 1);
    EXPECT_EQ(dlmalloc_footprint(), FirstRegion() + Region());
    EXPECT_EQ(Segments(), 2u);
    EXPECT_TRUE(HeapConsistent());
    EXPECT_EQ(dlfragmentationinfo(), Region() - 8 - kTopFoot);
    plat::ClearInjectedFailures();
    EXPECT_EQ(dlmalloc_trim(0), 1);
    EXPECT_EQ(dlmalloc_footprint(), FirstRegion());
    EXPECT_EQ(Segments(), 1u);
  });
}

// A mapping turned into a segment by shrinking its block, and then freed.
std::size_t FreedMappingSegment() {
  void* p = dlmalloc(10 * kMiB);
  std::size_t mapping = mem::heap::MappingSizeOf(p);
  EXPECT_EQ(dlrealloc(p, kMiB), p);
  dlfree(p);
  EXPECT_EQ(Segments(), 2u);
  return mapping;
}

TEST(HeapSegments, AFreeThatGrowsTheTopPastTheThresholdTrims) {
  EXPECT_CLEAN_IN_CHILD({
    dlmallopt(DL_M_TRIM_THRESHOLD, 1000);
    void* small = dlmalloc(100);
    // Freeing inside the old mapping leaves the top alone: nothing is trimmed yet.
    std::size_t mapping = FreedMappingSegment();
    std::size_t footprint = dlmalloc_footprint();
    // This free grows the top past 1000 bytes, and the trim it runs releases the segment.
    dlfree(small);
    EXPECT_EQ(dlmalloc_footprint(), footprint - mapping);
    EXPECT_EQ(Segments(), 1u);
    EXPECT_TRUE(HeapConsistent());
  });
}

TEST(HeapSegments, RefusedReleasesKeepTheMemoryCountedAndUsable) {
  EXPECT_CLEAN_IN_CHILD({
    void* p = dlmalloc(2 * kMiB);
    std::size_t footprint = dlmalloc_footprint();
    plat::InjectFailures(plat::Operation::kVirtualFree, 0, 1);
    dlfree(p);
    EXPECT_EQ(dlmalloc_footprint(), footprint);
    EXPECT_TRUE(HeapConsistent());

    std::size_t mapping = FreedMappingSegment();
    footprint = dlmalloc_footprint();
    plat::InjectFailures(plat::Operation::kVirtualFree, 0, 1);
    EXPECT_EQ(dlmalloc_trim(0), 0);
    EXPECT_EQ(dlmalloc_footprint(), footprint);
    // The free chunk is back in the bins and serves requests.
    void* q = dlmalloc(5 * kMiB);
    EXPECT_EQ(mem::heap::MappingSizeOf(q), 0u);
    EXPECT_EQ(dlmalloc_footprint(), footprint);
    dlfree(q);
    EXPECT_EQ(dlmalloc_trim(0), 1);
    EXPECT_EQ(dlmalloc_footprint(), footprint - mapping);
    EXPECT_TRUE(HeapConsistent());
  });
}

}  // namespace
}  // namespace heap_test
