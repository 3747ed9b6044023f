// The blocked array beside the containers built on it: shapes, impossible sizes, the dump.
#include "varururor/omi/blocked_array.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <new>
#include <set>
#include <string>

namespace {

// The protected parts, as a class deriving from the array sees them.
struct Probe : omi_BlockedArray<unsigned> {
  using omi_BlockedArray::omi_BlockedArray;
  std::set<unsigned> Blocks() const {
    std::set<unsigned> slots;
    for (unsigned s = 0; s < this->DirectoryLength(); ++s) {
      if (this->directory_[s] != nullptr) slots.insert(s);
    }
    return slots;
  }
};

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

TEST(BlockedArray, DumpPrintsPresentBlocksEightCellsALine) {
  omi_BlockedArray<unsigned> a(4, 3);
  a.SetCell(0, 1);
  a.SetCell(31, 0xA1B2C3D4u);
  testing::internal::CaptureStdout();
  a.DumpBlocks();
  std::fflush(stdout);
  std::string zeros = "|00000000|00000000|00000000|00000000|00000000|00000000|00000000\n\n";
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Block indices= 0 - 7\n01000000" + zeros +
                "Block indices= 24 - 31\n00000000|00000000|00000000|00000000|00000000|"
                "00000000|00000000|d4c3b2a1\n\n");
}

// Copies and assignments across shapes take the other's growth step (0: the default, 128),
// block size and directory.
TEST(BlockedArray, CopiesAndAssignmentsTakeTheOtherShape) {
  Probe source(0, 0);
  Probe target(3, 3);
  for (unsigned index : {7u, 300u}) source.SetCell(index, index + 1);
  target.SetCell(100, 5);
  target = source;
  Probe copy(source);
  source.SetCell(5000, 1);
  EXPECT_EQ(source.DirectoryLength(), 5120u);
  for (Probe* a : {&target, &copy}) {
    a->SetCell(5000, 1);
    EXPECT_EQ(a->BlockSize(), 1u);
    EXPECT_EQ(a->DirectoryLength(), 5120u);
    EXPECT_EQ(a->Blocks(), source.Blocks());
    EXPECT_EQ(a->CellRef(300), 301u);
  }
}

}  // namespace
