// Chunks with a mapping of their own: how they are resized, how a shrinking one becomes a
// segment of the heap in place, and how trimming gives such a segment back.
#include <gtest/gtest.h>

#include "heap_test_support.h"

namespace heap_test {
namespace {

constexpr std::size_t kTenMiB = 10 * kMiB;

class HeapMapped : public HeapTest {
 protected:
  void SetUp() override {
    HeapTest::SetUp();
    // Earlier tests may have left large free chunks or a large top. Occupied while the
    // test runs, they cannot serve its large requests, which get mappings of their own.
    dlmalloc_trim(0);
    for (;;) {
      std::size_t largest = dlfragmentationinfo();
      std::size_t top = dlmallinfo().keepcost;
      if (largest >= kMiB) {
        plugs_.push_back(dlmalloc(largest - 8));  // exactly that chunk
      } else if (top >= kMiB) {
        plugs_.push_back(dlmalloc(top - 20));  // all of the top but a minimum chunk
      } else {
        break;
      }
    }
  }
  void TearDown() override {
    for (void* plug : plugs_) dlfree(plug);
    HeapTest::TearDown();
  }

  // A block of n bytes with a mapping of its own, filled with a pattern.
  void* MappedBlock(std::size_t n, std::uint32_t seed) {
    void* p = dlmalloc(n);
    EXPECT_NE(p, nullptr);
    if (p == nullptr) return nullptr;
    EXPECT_EQ(mem::heap::MappingSizeOf(p), MappingSizeFor(ChunkSizeFor(n)));
    Fill(p, n, seed);
    return p;
  }

 private:
  std::vector<void*> plugs_;
};

TEST_F(HeapMapped, ShrinkingALotTurnsTheMappingIntoASegmentInPlace) {
  void* p = MappedBlock(kTenMiB, 1);
  ASSERT_NE(p, nullptr);
  std::size_t mapping = mem::heap::MappingSizeOf(p);
  std::size_t footprint = dlmalloc_footprint();
  std::size_t segments = mem::heap::CheckHeap().segment_count;

  EXPECT_EQ(dlrealloc(p, kMiB), p);
  EXPECT_EQ(dlmalloc_footprint(), footprint);
  EXPECT_EQ(mem::heap::MappingSizeOf(p), 0u);
  EXPECT_EQ(dlmalloc_usable_size(p), ChunkSizeFor(kMiB) - 4);
  EXPECT_TRUE(Intact(p, kMiB, 1));
  mem::heap::HeapCheck check = mem::heap::CheckHeap();
  ASSERT_TRUE(check.ok) << check.problem;
  EXPECT_EQ(check.segment_count, segments + 1);
  // The rest of the mapping, up to its last 56 bytes, is one free chunk.
  std::size_t rest = mapping - 8 - kTopFoot - ChunkSizeFor(kMiB);
  EXPECT_EQ(check.largest_free, rest);

  // The rest serves later requests, even ones above the mapping threshold.
  void* q = dlmalloc(5 * kMiB);
  ASSERT_NE(q, nullptr);
  EXPECT_EQ(mem::heap::MappingSizeOf(q), 0u);
  EXPECT_EQ(static_cast<char*>(q), static_cast<char*>(p) + ChunkSizeFor(kMiB));
  EXPECT_EQ(dlmalloc_footprint(), footprint);
  dlfree(q);

  // Once the front chunk is free as well, the segment holds nothing and trimming returns it.
  dlfree(p);
  EXPECT_TRUE(HeapConsistent());
  EXPECT_EQ(dlmalloc_trim(0), 1);
  EXPECT_LE(dlmalloc_footprint(), footprint - mapping);
  EXPECT_EQ(mem::heap::CheckHeap().segment_count, segments);
  EXPECT_TRUE(HeapConsistent());
}

TEST_F(HeapMapped, ShrinkingByAHundredKiBStaysInPlace) {
  void* p = MappedBlock(kTenMiB, 2);
  ASSERT_NE(p, nullptr);
  std::size_t footprint = dlmalloc_footprint();
  EXPECT_EQ(dlrealloc(p, kTenMiB - 100 * kKiB), p);
  EXPECT_EQ(dlmalloc_footprint(), footprint);
  EXPECT_TRUE(Intact(p, kTenMiB - 100 * kKiB, 2));
  EXPECT_TRUE(HeapConsistent());
  dlfree(p);
  dlmalloc_trim(0);
}

TEST_F(HeapMapped, TwoGranulesOfSlackIsTheBoundary) {
  void* p = MappedBlock(kTenMiB, 3);
  ASSERT_NE(p, nullptr);
  std::size_t chunk = dlmalloc_usable_size(p) + 8;
  // A new chunk size of exactly two granules below the old keeps the mapping...
  EXPECT_EQ(dlrealloc(p, chunk - 2 * kGranularity - 4), p);
  EXPECT_NE(mem::heap::MappingSizeOf(p), 0u);
  // ...16 bytes less does not: the block becomes an ordinary chunk where it is.
  EXPECT_EQ(dlrealloc(p, chunk - 2 * kGranularity - 20), p);
  EXPECT_EQ(mem::heap::MappingSizeOf(p), 0u);
  EXPECT_TRUE(Intact(p, chunk - 2 * kGranularity - 20, 3));
  EXPECT_TRUE(HeapConsistent());
  dlfree(p);
  dlmalloc_trim(0);
}

TEST_F(HeapMapped, GrowingMoves) {
  void* p = MappedBlock(kTenMiB, 4);
  ASSERT_NE(p, nullptr);
  std::size_t old_mapping = mem::heap::MappingSizeOf(p);
  std::size_t footprint = dlmalloc_footprint();
  void* q = dlrealloc(p, 12 * kMiB);
  ASSERT_NE(q, nullptr);
  EXPECT_NE(q, p);
  EXPECT_TRUE(Intact(q, kTenMiB, 4));
  EXPECT_EQ(dlmalloc_footprint(),
            footprint - old_mapping + MappingSizeFor(ChunkSizeFor(12 * kMiB)));
  EXPECT_TRUE(HeapConsistent({q}));
  dlfree(q);
}

TEST_F(HeapMapped, AnEqualChunkSizeIsGrowth) {
  void* p = MappedBlock(kMiB, 10);
  ASSERT_NE(p, nullptr);
  std::size_t usable = dlmalloc_usable_size(p);
  // Four bytes more need the chunk size the block has, but not the 8 bytes overhead a
  // mapped chunk takes: the block moves.
  ASSERT_EQ(ChunkSizeFor(usable + 4), usable + 8);
  void* q = dlrealloc(p, usable + 4);
  ASSERT_NE(q, nullptr);
  EXPECT_NE(q, p);
  EXPECT_GE(dlmalloc_usable_size(q), usable + 4);
  EXPECT_TRUE(Intact(q, kMiB, 10));
  EXPECT_TRUE(HeapConsistent({q}));
  dlfree(q);
}

TEST_F(HeapMapped, ShrinkingToASmallSizeMovesIntoTheBins) {
  void* p = MappedBlock(kMiB, 5);
  ASSERT_NE(p, nullptr);
  std::size_t mapping = mem::heap::MappingSizeOf(p);
  std::size_t footprint = dlmalloc_footprint();
  void* q = dlrealloc(p, 100);
  ASSERT_NE(q, nullptr);
  EXPECT_NE(q, p);
  EXPECT_EQ(mem::heap::MappingSizeOf(q), 0u);
  EXPECT_TRUE(Intact(q, 100, 5));
  EXPECT_LE(dlmalloc_footprint(), footprint - mapping + SegmentSizeFor(ChunkSizeFor(100)));
  dlfree(q);
}

TEST_F(HeapMapped, AlignedMappedBlockShrinksIntoASegmentToo) {
  void* p = dlmemalign(64 * kKiB, kTenMiB);
  ASSERT_NE(p, nullptr);
  ASSERT_NE(mem::heap::MappingSizeOf(p), 0u);
  std::size_t mapping = mem::heap::MappingSizeOf(p);
  Fill(p, kMiB, 6);
  std::size_t footprint = dlmalloc_footprint();
  EXPECT_EQ(dlrealloc(p, kMiB), p);
  EXPECT_EQ(mem::heap::MappingSizeOf(p), 0u);
  EXPECT_EQ(dlmalloc_footprint(), footprint);
  EXPECT_TRUE(Intact(p, kMiB, 6));
  EXPECT_TRUE(HeapConsistent());
  dlfree(p);
  EXPECT_EQ(dlmalloc_trim(0), 1);
  EXPECT_LE(dlmalloc_footprint(), footprint - mapping);
  EXPECT_TRUE(HeapConsistent());
}

TEST_F(HeapMapped, TrimKeepsASegmentThatStillHoldsABlock) {
  void* p = MappedBlock(kTenMiB, 7);
  ASSERT_NE(p, nullptr);
  ASSERT_EQ(dlrealloc(p, kMiB), p);
  void* q = dlmalloc(2 * kMiB);  // from the rest of the old mapping
  ASSERT_NE(q, nullptr);
  Fill(q, 2 * kMiB, 8);
  dlfree(p);
  std::size_t segments = mem::heap::CheckHeap().segment_count;
  dlmalloc_trim(0);
  EXPECT_EQ(mem::heap::CheckHeap().segment_count, segments);
  EXPECT_TRUE(Intact(q, 2 * kMiB, 8));
  dlfree(q);
  EXPECT_EQ(dlmalloc_trim(0), 1);
  EXPECT_EQ(mem::heap::CheckHeap().segment_count, segments - 1);
}

TEST_F(HeapMapped, ShrinkNeedsNoSystemMemoryButGrowthDoes) {
  void* p = MappedBlock(kTenMiB, 9);
  ASSERT_NE(p, nullptr);
  // At the limit already: nothing more may come from the system.
  dlmallopt(DL_M_MEMORY_LIMIT, static_cast<int>(dlmalloc_footprint()));
  EXPECT_EQ(dlrealloc(p, 11 * kMiB), nullptr);
  EXPECT_EQ(error_memory_limit(), -1);
  EXPECT_TRUE(Intact(p, kTenMiB, 9));
  EXPECT_EQ(dlrealloc(p, kMiB), p);
  EXPECT_TRUE(Intact(p, kMiB, 9));
  EXPECT_TRUE(HeapConsistent());
  dlfree(p);
}

}  // namespace
}  // namespace heap_test
