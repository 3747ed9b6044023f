// The heap from its very first use. This program holds this one test only: nothing else
// may touch the heap before it.
#include <gtest/gtest.h>

#include <csignal>

#include "heap_test_support.h"

namespace heap_test {
namespace {

using mem::heap::g_heap_params;
using mem::heap::g_heap_state;

alignas(16) unsigned char g_never_handed_out[64];

TEST(HeapFirstUse, FromNothingToTheFirstBlocks) {
  ASSERT_EQ(g_heap_params.page_size, 0u) << "the heap was used before this test";
  // Before the heap holds anything, no pointer is one of its blocks.
  EXPECT_EXIT(dlfree(g_never_handed_out + 16), ::testing::KilledBySignal(SIGABRT), "not a");
  EXPECT_EQ(dlmalloc_footprint() + dlmalloc_max_footprint() + dlmalloc_memory_limit(), 0u);
  EXPECT_EQ(error_memory_limit(), 0);
  dl_mallinfo info = dlmallinfo();
  std::size_t const* words = reinterpret_cast<std::size_t const*>(&info);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(words[i], 0u) << "field " << i;
  EXPECT_EQ(dlfragmentationinfo(), 0u);
  EXPECT_TRUE(HeapConsistent());

  // That first operation ran the initialisation pass.
  EXPECT_EQ(g_heap_params.trim_threshold, 0x200000u);
  EXPECT_EQ(g_heap_state.mflags, 7u);

  // The first request of 256 KiB: the initial segment, made as for 16 bytes and left
  // wholly to the top, then the block's own mapping.
  void* big = dlmalloc(256 * kKiB);
  ASSERT_NE(big, nullptr);
  std::size_t mapping = MappingSizeFor(ChunkSizeFor(256 * kKiB));
  EXPECT_EQ(mem::heap::MappingSizeOf(big), mapping);
  EXPECT_EQ(dlmalloc_footprint(), kGranularity + mapping);
  // The top is all of the segment but its 8-byte lead and the 56 bytes kept at its end.
  EXPECT_EQ(dlmallinfo().keepcost, kGranularity - 8 - kTopFoot);
  EXPECT_EQ(dlmallinfo().hblkhd, mapping + 8);
  EXPECT_TRUE(HeapConsistent({big}));

  dlfree(big);
  EXPECT_EQ(dlmalloc_footprint(), kGranularity);
  EXPECT_EQ(dlmalloc_max_footprint(), kGranularity + mapping);

  // The mapping threshold is a chunk size: 256 KiB - 4 bytes pad to a chunk of 256 KiB,
  // 256 KiB - 20 to one 16 bytes short of it, which a new segment serves.
  void* at_threshold = dlmalloc(256 * kKiB - 4);
  void* below_threshold = dlmalloc(256 * kKiB - 20);
  EXPECT_EQ(mem::heap::MappingSizeOf(at_threshold), mapping);
  EXPECT_EQ(mem::heap::MappingSizeOf(below_threshold), 0u);
  EXPECT_EQ(dlmalloc_footprint(),
            kGranularity + mapping + SegmentSizeFor(ChunkSizeFor(256 * kKiB - 20)));
  EXPECT_TRUE(HeapConsistent({at_threshold, below_threshold}));
}

}  // namespace
}  // namespace heap_test
