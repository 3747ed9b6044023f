// What the heap asks of the system: the memory limit and its error flag, the parameters
// set through dlmallopt, the lock switch, and a system that refuses.
#include <gtest/gtest.h>

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
    std::size_t granules = LargestFreeSpace() / kGranularity + 2;
    return granules * kGranularity + 12;
  }
};

TEST_F(HeapSystemMemory, MappingExactlyAtTheLimitIsRefused) {
  std::size_t n = std::max(RequestNeedingSystemMemory(), kMiB + 12);
  std::size_t size = MappingSizeFor(ChunkSizeFor(n));
  ASSERT_EQ(size, SegmentSizeFor(ChunkSizeFor(n)));
  std::size_t footprint = dlmalloc_footprint();

  dlmallopt(DL_M_MEMORY_LIMIT, static_cast<int>(footprint + size));
  EXPECT_EQ(dlmalloc(n), nullptr);
  EXPECT_EQ(error_memory_limit(), -1);
  EXPECT_EQ(dlmalloc_footprint(), footprint);
  EXPECT_TRUE(HeapConsistent());

  dlmallopt(DL_M_MEMORY_LIMIT, static_cast<int>(footprint + size + 1));
  void* p = dlmalloc(n);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(error_memory_limit(), 0);
  EXPECT_EQ(mem::heap::MappingSizeOf(p), size);
  EXPECT_EQ(dlmalloc_footprint(), footprint + size);
  dlfree(p);
}

TEST_F(HeapSystemMemory, SegmentExactlyAtTheLimitIsRefused) {
  dlmallopt(DL_M_MMAP_THRESHOLD, 0x7FFFFFFF);
  std::size_t n = RequestNeedingSystemMemory();
  std::size_t size = SegmentSizeFor(ChunkSizeFor(n));
  std::size_t footprint = dlmalloc_footprint();

  dlmallopt(DL_M_MEMORY_LIMIT, static_cast<int>(footprint + size));
  EXPECT_EQ(dlmalloc(n), nullptr);
  EXPECT_EQ(error_memory_limit(), -1);
  EXPECT_EQ(dlmalloc_footprint(), footprint);

  dlmallopt(DL_M_MEMORY_LIMIT, static_cast<int>(footprint + size + 1));
  void* p = dlmalloc(n);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(error_memory_limit(), 0);
  EXPECT_EQ(mem::heap::MappingSizeOf(p), 0u);
  EXPECT_EQ(dlmalloc_footprint(), footprint + size);
  EXPECT_TRUE(HeapConsistent());
  dlfree(p);
}

TEST_F(HeapSystemMemory, ErrorFlagTellsTheMostRecentCheck) {
  std::size_t n = RequestNeedingSystemMemory();
  dlmallopt(DL_M_MEMORY_LIMIT, static_cast<int>(dlmalloc_footprint() + 1));
  EXPECT_EQ(dlmalloc(n), nullptr);
  EXPECT_EQ(error_memory_limit(), -1);
  // Served from what the heap holds: no check runs, the flag stays.
  void* small = dlmalloc(16);
  ASSERT_NE(small, nullptr);
  EXPECT_EQ(error_memory_limit(), -1);
  dlmallopt(DL_M_MEMORY_LIMIT, 0);
  void* p = dlmalloc(n);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(error_memory_limit(), 0);
  dlfree(p);
  dlfree(small);
}

TEST_F(HeapSystemMemory, GrowingAMappedChunkChecksTheLimitForTheDifference) {
  // Blocks too large for any free chunk, so that each gets a mapping of its own.
  std::size_t n = std::max(kMiB, LargestFreeSpace() + kGranularity);
  void* p = dlmalloc(n);
  void* r = dlmalloc(n);
  ASSERT_TRUE(p != nullptr && r != nullptr);
  std::size_t old_mapping = mem::heap::MappingSizeOf(p);
  ASSERT_NE(old_mapping, 0u);
  ASSERT_EQ(mem::heap::MappingSizeOf(r), old_mapping);
  Fill(p, n, 21);
  // A free chunk large enough for the grown blocks, so that allocate-copy-free needs no
  // system memory and the flag shows the in-place attempt's check alone.
  void* donor = dlmalloc(5 * n);
  ASSERT_NE(donor, nullptr);
  ASSERT_EQ(dlrealloc(donor, kMiB), donor);
  std::size_t growth = MappingSizeFor(ChunkSizeFor(2 * n)) - old_mapping;

  // The in-place attempt asks no memory of the system, so it runs no initialisation pass:
  // the second call is the pass that brings the limit into the heap state.
  dlmallopt(DL_M_MEMORY_LIMIT, static_cast<int>(dlmalloc_footprint() + growth));
  dlmallopt(DL_M_MEMORY_LIMIT, static_cast<int>(dlmalloc_footprint() + growth));
  void* q = dlrealloc(p, 2 * n);
  ASSERT_NE(q, nullptr);
  EXPECT_EQ(error_memory_limit(), -1);
  EXPECT_TRUE(Intact(q, n, 21));

  dlmallopt(DL_M_MEMORY_LIMIT, static_cast<int>(dlmalloc_footprint() + growth + 1));
  dlmallopt(DL_M_MEMORY_LIMIT, static_cast<int>(dlmalloc_footprint() + growth + 1));
  void* s = dlrealloc(r, 2 * n);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(error_memory_limit(), 0);
  dlfree(s);
  dlfree(q);
  dlfree(donor);
}

TEST_F(HeapSystemMemory, LimitIsReportedAtOnceAndCopiedAtTheNextPass) {
  std::size_t copied = g_heap_state.memory_limit;
  EXPECT_EQ(dlmallopt(DL_M_MEMORY_LIMIT, 123456789), 1);
  EXPECT_EQ(dlmalloc_memory_limit(), 123456789u);
  EXPECT_EQ(g_heap_state.memory_limit, copied);
  dlmallopt(DL_M_TRIM_THRESHOLD, static_cast<int>(g_heap_params.trim_threshold));
  EXPECT_EQ(g_heap_state.memory_limit, 123456789u);
}

TEST_F(HeapSystemMemory, MalloptAcceptsAndRefuses) {
  EXPECT_EQ(dlmallopt(7, 1), 0);
  EXPECT_EQ(dlmallopt(0, 1), 0);
  EXPECT_EQ(dlmallopt(-6, 1), 0);
  EXPECT_EQ(dlmallopt(1, 1), 0);
  for (int bad : {0, 3, 2048, 4095, 65537, 3 * 65536, -1}) {
    EXPECT_EQ(dlmallopt(DL_M_GRANULARITY, bad), 0) << bad;
    EXPECT_EQ(g_heap_params.granularity, kGranularity) << bad;
  }
  EXPECT_EQ(dlmallopt(DL_M_GRANULARITY, 4096), 1);
  EXPECT_EQ(g_heap_params.granularity, 4096u);
  EXPECT_EQ(dlmallopt(DL_M_TRIM_THRESHOLD, -1), 1);
  EXPECT_EQ(g_heap_params.trim_threshold, 0xFFFFFFFFu);
  EXPECT_EQ(dlmallopt(DL_M_MMAP_THRESHOLD, 12345), 1);
  EXPECT_EQ(g_heap_params.mapping_threshold, 12345u);
  EXPECT_EQ(dlmallopt(DL_M_LOCK, 7), 1);
  EXPECT_EQ(g_heap_params.lock_switch, 7);
  EXPECT_EQ(dlmallopt(DL_M_MEMORY_LIMIT, -2), 1);
  EXPECT_EQ(dlmalloc_memory_limit(), 0xFFFFFFFEu);
}

TEST_F(HeapSystemMemory, GranularityShapesNewSegments) {
  constexpr std::size_t kMegaGranule = kMiB;
  ASSERT_EQ(dlmallopt(DL_M_GRANULARITY, static_cast<int>(kMegaGranule)), 1);
  dlmallopt(DL_M_MMAP_THRESHOLD, 0x7FFFFFFF);
  std::size_t n = LargestFreeSpace() + 1000;
  std::size_t nb = ChunkSizeFor(n);
  std::size_t footprint = dlmalloc_footprint();
  void* p = dlmalloc(n);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(dlmalloc_footprint() - footprint, (nb + 65 + kMegaGranule) & ~(kMegaGranule - 1));
  EXPECT_TRUE(HeapConsistent());
  dlfree(p);
}

TEST_F(HeapSystemMemory, SwitchChangedInsideAnOperationLeavesTheLockBalanced) {
  // The switch is copied when the heap asks the system for memory, in the middle of a
  // locked operation: the lock must be released all the same, and exactly once.
  dlmallopt(DL_M_LOCK, 0);
  ASSERT_EQ(g_heap_state.lock_switch, 2);
  void* p = dlmalloc(RequestNeedingSystemMemory());
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(g_heap_state.lock_switch, 0);
  EXPECT_EQ(g_heap_state.lock.count, 0);

  dlmallopt(DL_M_LOCK, 2);
  ASSERT_EQ(g_heap_state.lock_switch, 0);
  void* q = dlmalloc(RequestNeedingSystemMemory());
  ASSERT_NE(q, nullptr);
  EXPECT_EQ(g_heap_state.lock_switch, 2);
  EXPECT_EQ(g_heap_state.lock.count, 0);
  dlfree(q);
  EXPECT_EQ(g_heap_state.lock.count, 0);
  dlfree(p);
}

TEST_F(HeapSystemMemory, RefusedSegmentGivesNullAndLeavesTheHeapWhole) {
  dlmallopt(DL_M_MMAP_THRESHOLD, 0x7FFFFFFF);
  std::size_t n = RequestNeedingSystemMemory();
  std::size_t footprint = dlmalloc_footprint();
  // A segment is asked for twice: right above the top's segment, then anywhere.
  plat::InjectFailures(plat::Operation::kVirtualAlloc, 0, 2);
  EXPECT_EQ(dlmalloc(n), nullptr);
  EXPECT_EQ(error_memory_limit(), 0);
  EXPECT_EQ(dlmalloc_footprint(), footprint);
  EXPECT_TRUE(HeapConsistent());
  void* p = dlmalloc(n);
  ASSERT_NE(p, nullptr);
  EXPECT_TRUE(HeapConsistent());
  dlfree(p);
}

TEST_F(HeapSystemMemory, RefusedMappingFallsBackToASegment) {
  std::size_t n = std::max(RequestNeedingSystemMemory(), kMiB + 12);
  std::size_t footprint = dlmalloc_footprint();
  plat::InjectFailures(plat::Operation::kVirtualAlloc, 0, 1);
  void* p = dlmalloc(n);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(mem::heap::MappingSizeOf(p), 0u);
  EXPECT_EQ(dlmalloc_footprint(), footprint + SegmentSizeFor(ChunkSizeFor(n)));
  EXPECT_TRUE(HeapConsistent());
  dlfree(p);

  plat::InjectFailures(plat::Operation::kVirtualAlloc, 0, 3);  // the mapping, then both segment tries
  EXPECT_EQ(dlmalloc(LargestFreeSpace() + kMiB), nullptr);
  EXPECT_TRUE(HeapConsistent());
}

TEST_F(HeapSystemMemory, RefusedReleaseKeepsTheMappingCounted) {
  // The mapping stays with the heap for good, so this runs in a child of its own.
  EXPECT_CLEAN_IN_CHILD({
    void* p = dlmalloc(2 * kMiB);
    ASSERT_NE(p, nullptr);
    std::size_t footprint = dlmalloc_footprint();
    plat::InjectFailures(plat::Operation::kVirtualFree, 0, 1);
    dlfree(p);
    EXPECT_EQ(dlmalloc_footprint(), footprint);
    EXPECT_TRUE(HeapConsistent());
  });
}

TEST_F(HeapSystemMemory, RefusedTrimKeepsTheSegmentUsable) {
  EXPECT_CLEAN_IN_CHILD({
    void* p = dlmalloc(10 * kMiB);
    ASSERT_NE(p, nullptr);
    std::size_t mapping = mem::heap::MappingSizeOf(p);
    ASSERT_EQ(dlrealloc(p, kMiB), p);
    dlfree(p);
    std::size_t footprint = dlmalloc_footprint();
    plat::InjectFailures(plat::Operation::kVirtualFree, 0, 1);
    EXPECT_EQ(dlmalloc_trim(0), 0);
    EXPECT_EQ(dlmalloc_footprint(), footprint);
    EXPECT_TRUE(HeapConsistent());
    // The free chunk is back in the bins and serves requests.
    void* q = dlmalloc(5 * kMiB);
    ASSERT_NE(q, nullptr);
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
