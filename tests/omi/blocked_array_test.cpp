// The blocked array beside the containers built on it, whose models check its copies.
#include "varururor/omi/blocked_array.h"

#include <gtest/gtest.h>

#include <new>

namespace {

TEST(BlockedArray, ImpossibleSizesFailAsAllocationsAndLeaveTheArrayIntact) {
  // Blocks of one cell: the last index would need 2^32 directory slots.
  omi_BlockedArray<unsigned> a(1, 0);
  a.SetCell(5, 55);
  EXPECT_THROW(a.SetCell(0xFFFFFFFFu, 1), std::bad_alloc);
  EXPECT_EQ(a.CellRef(5), 55u);
  // A shift past 31 is taken as 31; a block of 2^31 cells cannot be had.
  omi_BlockedArray<unsigned> huge(1, 40);
  EXPECT_EQ(huge.BlockSize(), 1u << 31);
  EXPECT_THROW(huge.SetCell(0, 1), std::bad_alloc);
  EXPECT_EQ(huge.CellPointer(0), nullptr);
}

}  // namespace
