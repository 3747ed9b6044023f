// What the heap asks of the system: the limit, dlmallopt, the lock switch, segments, refusals.
#include <gtest/gtest.h>

#include <cstring>
#include <future>
#include <thread>

#include "heap_test_support.h"

namespace heap_test {
namespace {

using mem::heap::g_heap_params;

using HeapSystemMemory = HeapTest;

// k granules and a 16-byte chunk, which no free run holds: k + 1 new granules either way.
std::size_t RequestNeedingSystemMemory() {
  std::size_t largest_free = std::max(dlfragmentationinfo(), dlmallinfo().keepcost);
  return (std::max(largest_free, kMiB) / kGranularity + 2) * kGranularity + 12;
}

// A request no free run holds: the limit refuses it when the footprint would reach the limit
// exactly; a refused mapping leaves a segment; refused segments too leave null.
TEST_F(HeapSystemMemory, ARequestNeedingSystemMemoryAtTheLimitOrRefused) {
  struct {
    bool mapped;
    int limit_slack;    // the limit lies this far above the footprint the request needs
    unsigned refusals;  // of the system, in a row
    bool served;
  } const rows[] = {{true, 0, 0, false}, {true, 1, 0, true},  {false, 0, 0, false},
                    {false, 1, 0, true}, {true, -1, 1, true}, {true, -1, 3, false}};
  for (auto const& row : rows) {
    SCOPED_TRACE(testing::Message() << "row " << &row - rows);
    dlmallopt(DL_M_MMAP_THRESHOLD, row.mapped ? 256 * kKiB : 0x7FFFFFFF);
    std::size_t const n = RequestNeedingSystemMemory();
    std::size_t const footprint = dlmalloc_footprint();
    std::size_t const size = SegmentSizeFor(ChunkSizeFor(n));
    dlmallopt(DL_M_MEMORY_LIMIT, row.limit_slack < 0 ? 0 : footprint + size + row.limit_slack);
    plat::InjectFailures(plat::Operation::kVirtualAlloc, 0, row.refusals);
    void* p = dlmalloc(n);
    EXPECT_EQ(p != nullptr, row.served);
    EXPECT_EQ(p != nullptr && mem::heap::MappingSizeOf(p) != 0,
              row.served && row.mapped && row.refusals == 0);
    EXPECT_EQ(error_memory_limit(), row.limit_slack == 0 ? -1 : 0);
    EXPECT_EQ(dlmalloc_footprint(), footprint + (row.served ? size : 0));
    EXPECT_TRUE(HeapConsistent());
    dlfree(p);
    dlmallopt(DL_M_MEMORY_LIMIT, 0);
    dlmalloc_trim(0);
  }
}

// The lock switch copied mid-operation, when the heap asks for memory: the lock is released
// exactly once. A second thread waits throughout: a sole thread takes no lock at all.
TEST_F(HeapSystemMemory, SwitchChangedInsideAnOperationLeavesTheLockBalanced) {
  using mem::heap::g_heap_state;
  std::promise<void> finished;
  std::thread waiting([future = finished.get_future()] { future.wait(); });
  void* blocks[2];
  for (int lock : {0, 2}) {
    int const before = g_heap_state.lock_switch;
    dlmallopt(DL_M_LOCK, lock);
    ASSERT_EQ(g_heap_state.lock_switch, before);
    blocks[lock / 2] = dlmalloc(RequestNeedingSystemMemory());
    ASSERT_NE(blocks[lock / 2], nullptr);
    EXPECT_EQ(g_heap_state.lock_switch, lock);
    EXPECT_EQ(g_heap_state.lock.count, 0);
  }
  for (void* p : blocks) dlfree(p);
  EXPECT_EQ(g_heap_state.lock.count, 0);
  finished.set_value();
  waiting.join();
}

TEST_F(HeapSystemMemory, MalloptAcceptsAndRefuses) {
  mem::heap::HeapParams const before = g_heap_params;
  for (int param : {7, 0, -6, 1}) EXPECT_EQ(dlmallopt(param, 1), 0) << param;
  // Not a power of two, or below the page size.
  for (int bad : {0, 3, 2048, 65537, -1}) EXPECT_EQ(dlmallopt(DL_M_GRANULARITY, bad), 0) << bad;
  EXPECT_EQ(std::memcmp(&before, &g_heap_params, sizeof before), 0) << "a refusal changed it";
  EXPECT_EQ(dlmallopt(DL_M_GRANULARITY, 4096), 1);
  EXPECT_EQ(g_heap_params.granularity, 4096u);
  for (int param : {DL_M_TRIM_THRESHOLD, DL_M_MMAP_THRESHOLD, DL_M_LOCK, DL_M_MEMORY_LIMIT}) {
    EXPECT_EQ(dlmallopt(param, -2), 1) << param;
  }
}

// The size of a mapping made a segment by shrinking its block, then freed off the top.
std::size_t FreedMappingSegment() {
  void* p = dlmalloc(10 * kMiB);
  std::size_t mapping = mem::heap::MappingSizeOf(p);
  EXPECT_EQ(dlrealloc(p, kMiB), p);
  dlfree(p);
  return mapping;
}

// The cases below need an untouched heap and leave it changed: each runs in a fresh child.
TEST(HeapSegments, RefusalsHalfwayLeaveTheRestAsAFreeSegmentUntilTheSystemAgrees) {
  EXPECT_CLEAN_IN_CHILD({
    // Each block needs a region of its own, which lands right above the top's segment and
    // joins it. Only explicit trims give memory back.
    std::size_t const first = SegmentSizeFor(ChunkSizeFor(16));
    std::size_t const region = SegmentSizeFor(ChunkSizeFor(2 * kMiB));
    dlmallopt(DL_M_MMAP_THRESHOLD, 0x7FFFFFFF);
    dlmallopt(DL_M_TRIM_THRESHOLD, -1);
    std::vector<void*> blocks{dlmalloc(16)};
    for (int i = 0; i < 3; ++i) blocks.push_back(dlmalloc(2 * kMiB));
    EXPECT_EQ(dlmalloc_footprint(), first + 3 * region);
    EXPECT_EQ(mem::heap::CheckHeap().segment_count, 1u);
    for (void* p : blocks) dlfree(p);
    // The first region above the first goes; the system refuses the next, also when the
    // trim tries again with what it kept as a free segment of its own.
    plat::InjectFailures(plat::Operation::kVirtualFree, 1, 2);
    EXPECT_EQ(dlmalloc_trim(0), 1);
    EXPECT_EQ(dlmalloc_footprint(), first + 2 * region);
    EXPECT_EQ(mem::heap::CheckHeap().segment_count, 2u);
    EXPECT_TRUE(HeapConsistent());
    // Now the free segment's front goes and its end is refused: the end stays free.
    plat::InjectFailures(plat::Operation::kVirtualFree, 1, 1);
    EXPECT_EQ(dlmalloc_trim(0), 1);
    EXPECT_EQ(dlmalloc_footprint(), first + region);
    EXPECT_EQ(dlfragmentationinfo(), region - 8 - kTopFoot);
    plat::ClearInjectedFailures();
    EXPECT_EQ(dlmalloc_trim(0), 1);
    EXPECT_EQ(dlmalloc_footprint(), first);
    EXPECT_EQ(mem::heap::CheckHeap().segment_count, 1u);

    // Then, with no room left to grow, a request between two free sizes of one tree bin
    // must find the larger of them, off the path its own size bits take through the tree.
    blocks.clear();  // chunks of 784, 16, 1008 and 16 bytes, and all of the top but 32
    for (std::size_t n : {765, 1, 989, 1}) blocks.push_back(dlmalloc(n));
    dlfree(blocks[0]);
    dlfree(blocks[2]);
    blocks.push_back(dlmalloc(dlmallinfo().keepcost - 32));
    dlmallopt(DL_M_MEMORY_LIMIT, static_cast<int>(dlmalloc_footprint()));
    EXPECT_EQ(dlmalloc(781), blocks[2]);
  });
}

TEST(HeapSegments, AFreeThatGrowsTheTopReleasesARefusedTrimDoesNot) {
  EXPECT_CLEAN_IN_CHILD({
    dlmallopt(DL_M_TRIM_THRESHOLD, 1000);
    void* small = dlmalloc(100);
    // This free grows the top past 1000 bytes, and the trim it runs releases the segment.
    std::size_t mapping = FreedMappingSegment();
    std::size_t footprint = dlmalloc_footprint();
    dlfree(small);
    EXPECT_EQ(dlmalloc_footprint(), footprint - mapping);
    // Refused, the segment stays, and its free chunk serves requests.
    mapping = FreedMappingSegment();
    plat::InjectFailures(plat::Operation::kVirtualFree, 0, 1);
    EXPECT_EQ(dlmalloc_trim(0), 0);
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
