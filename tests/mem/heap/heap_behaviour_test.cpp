// The dl* family at its edges: request rounding, zero and oversized requests, calloc's
// overflow rule, aligned allocation and usable sizes.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "heap_test_support.h"

namespace heap_test {
namespace {

using HeapBehaviour = HeapTest;

TEST_F(HeapBehaviour, FreshBlocksHaveExactlyTheRoundedSize) {
  // Sizes step by 16, so a fitting chunk either matches or leaves a remainder worth a
  // chunk. A request of 0 gets the 16-byte minimum, with 12 usable bytes.
  std::vector<std::size_t> requests;
  for (std::size_t n = 0; n <= 300; ++n) requests.push_back(n);
  for (std::size_t n : {1000u, 4095u, 4096u, 65535u, 100000u, 200000u}) requests.push_back(n);
  std::vector<void*> blocks;
  for (std::size_t n : requests) {
    void* p = dlmalloc(n);
    ASSERT_NE(p, nullptr) << n;
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % 16, 0u) << n;
    EXPECT_EQ(dlmalloc_usable_size(p), ChunkSizeFor(n) - 4) << n;
    EXPECT_EQ(mem::heap::MappingSizeOf(p), 0u) << n;
    blocks.push_back(p);
  }
  EXPECT_TRUE(HeapConsistent());
  for (void* p : blocks) dlfree(p);
}

TEST_F(HeapBehaviour, LargeBlocksGetMappingsOfTheRoundedSize) {
  // Above every free chunk, so that only a mapping can serve them.
  std::size_t base = std::max(kMappingThreshold, LargestFreeSpace() + 16);
  for (std::size_t n : {base, base + 300 * kKiB, base + 3 * kMiB + 5}) {
    std::size_t before = dlmalloc_footprint();
    void* p = dlmalloc(n);
    ASSERT_NE(p, nullptr) << n;
    EXPECT_EQ(mem::heap::MappingSizeOf(p), MappingSizeFor(ChunkSizeFor(n))) << n;
    EXPECT_EQ(dlmalloc_usable_size(p), MappedUsableFor(n)) << n;
    EXPECT_EQ(dlmalloc_footprint() - before, MappingSizeFor(ChunkSizeFor(n))) << n;
    EXPECT_TRUE(HeapConsistent({p}));
    dlfree(p);
    EXPECT_EQ(dlmalloc_footprint(), before) << n;
  }
}

TEST_F(HeapBehaviour, RequestsTooLargeForAWordFail) {
  void* p = dlmalloc(100);
  ASSERT_NE(p, nullptr);
  Fill(p, 100, 3);
  std::size_t footprint = dlmalloc_footprint();
  for (std::size_t n : {std::size_t{0xFFFFFFC0u}, std::size_t{0xFFFFFFFFu},
                        std::size_t{0xFFFFFFBFu}, std::size_t{0xFFFF0000u}}) {
    EXPECT_EQ(dlmalloc(n), nullptr) << n;
    EXPECT_EQ(dlrealloc(p, n), nullptr) << n;
    EXPECT_EQ(dlmemalign(64, n), nullptr) << n;
  }
  EXPECT_TRUE(Intact(p, 100, 3));
  EXPECT_EQ(dlmalloc_footprint(), footprint);
  EXPECT_TRUE(HeapConsistent());
  dlfree(p);
}

TEST_F(HeapBehaviour, NullAndZeroSizeEdges) {
  dlfree(nullptr);
  EXPECT_EQ(dlmalloc_usable_size(nullptr), 0u);
  void* p = dlrealloc(nullptr, 40);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(dlmalloc_usable_size(p), ChunkSizeFor(40) - 4);
  // Freeing through realloc gives back exactly the chunk: in-use bytes drop by its size.
  std::size_t in_use = dlmallinfo().uordblks;
  EXPECT_EQ(dlrealloc(p, 0), nullptr);
  EXPECT_EQ(in_use - dlmallinfo().uordblks, ChunkSizeFor(40));
  EXPECT_TRUE(HeapConsistent());
}

TEST_F(HeapBehaviour, FreedBlockBetweenBlocksInUseHasNoUsableSize) {
  AdjacentTriple triple(200);
  ASSERT_NE(triple.a, nullptr) << "never got three adjacent chunks";
  dlfree(triple.b);
  EXPECT_EQ(dlmalloc_usable_size(triple.b), 0u);
  EXPECT_EQ(dlmalloc_usable_size(static_cast<char*>(triple.a) + 1), 0u);
  EXPECT_TRUE(HeapConsistent());
  dlfree(triple.a);
  dlfree(triple.c);
  triple.FreeAll();
}

TEST_F(HeapBehaviour, CallocRefusesProductsThatWrap) {
  // Without the overflow rule these would be small blocks: 3 * 0x55555556 wraps to 2.
  EXPECT_EQ(dlcalloc(3, 0x55555556u), nullptr);
  EXPECT_EQ(dlcalloc(0x10000u, 0x10000u), nullptr);
  EXPECT_EQ(dlcalloc(0x10001u, 0xFFFFu), nullptr);
  EXPECT_EQ(dlcalloc(0xFFFFFFFFu, 2), nullptr);
  // Both factors below 64 KiB never wrap; this one is merely too large.
  EXPECT_EQ(dlcalloc(0xFFFFu, 0xFFFFu), nullptr);
  // A count of 0 requests 0 bytes, whatever the size.
  void* p = dlcalloc(0, 0xFFFFFFFFu);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(dlmalloc_usable_size(p), 12u);
  dlfree(p);
  void* q = dlcalloc(0x20000u, 2);
  ASSERT_NE(q, nullptr);
  EXPECT_TRUE(AllZero(q, 0x40000u));
  dlfree(q);
}

TEST_F(HeapBehaviour, MemalignHonoursPowersOfTwo) {
  std::vector<void*> blocks;
  for (std::size_t alignment = 32; alignment <= 64 * kKiB; alignment <<= 1) {
    for (std::size_t n : {1u, 100u, 5000u}) {
      void* p = dlmemalign(alignment, n);
      ASSERT_NE(p, nullptr);
      EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % alignment, 0u) << alignment;
      EXPECT_GE(dlmalloc_usable_size(p), n);
      // The spare room behind the aligned chunk went back: at most a minimum chunk stays.
      EXPECT_LE(dlmalloc_usable_size(p), ChunkSizeFor(n) - 4 + 16);
      Fill(p, n, static_cast<std::uint32_t>(alignment + n));
      blocks.push_back(p);
    }
  }
  EXPECT_TRUE(HeapConsistent());
  for (void* p : blocks) dlfree(p);
  EXPECT_TRUE(HeapConsistent());
}

TEST_F(HeapBehaviour, GarbageArgumentsGiveNullOrZero) {
  EXPECT_EQ(dlmemalign(0x80000001u, 16), nullptr);
  EXPECT_EQ(dlmemalign(0xFFFFFFFFu, 16), nullptr);
  EXPECT_EQ(internal_dlfragmentationinfo(nullptr), 0u);
  EXPECT_TRUE(HeapConsistent());
}

}  // namespace
}  // namespace heap_test
