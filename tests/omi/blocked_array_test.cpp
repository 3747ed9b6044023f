// The blocked array beside the containers built on it: shapes, impossible sizes and the
// block dump's text.
#include "varururor/omi/blocked_array.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <new>
#include <set>
#include <string>

namespace {

// The protected parts, as a class deriving from the array sees them.
struct Probe : omi_BlockedArray<unsigned> {
  using omi_BlockedArray::Clear;
  using omi_BlockedArray::omi_BlockedArray;
  std::set<unsigned> Blocks() const {
    std::set<unsigned> slots;
    for (unsigned s = 0; s < this->DirectoryLength(); ++s) {
      if (this->directory_[s] != nullptr) slots.insert(s);
    }
    return slots;
  }
};

std::string Dump(omi_BlockedArray<unsigned> const& a) {
  testing::internal::CaptureStdout();
  a.DumpBlocks();
  std::fflush(stdout);
  return testing::internal::GetCapturedStdout();
}

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
  EXPECT_EQ(Dump(a), "");
  a.SetCell(0, 1);
  a.SetCell(31, 0xA1B2C3D4u);
  std::string zeros = "|00000000|00000000|00000000|00000000|00000000|00000000|00000000\n\n";
  EXPECT_EQ(Dump(a), "Block indices= 0 - 7\n01000000" + zeros +
                         "Block indices= 24 - 31\n00000000|00000000|00000000|00000000|00000000|"
                         "00000000|00000000|d4c3b2a1\n\n");
}

// The bit vector and table models check the array under their shapes; here copies and
// assignments across shapes (the growth step, the block size and the directory go along),
// blocks of one cell and the default growth step.
TEST(BlockedArray, CopiesAndAssignmentsTakeTheOtherShape) {
  unsigned const shapes[][2] = {{0, 0}, {3, 3}, {1, 5}, {3, 3}};
  for (auto const& from : shapes) {
    for (auto const& to : shapes) {
      SCOPED_TRACE(std::to_string(from[0]) + " " + std::to_string(from[1]) + " to " +
                   std::to_string(to[0]) + " " + std::to_string(to[1]));
      Probe source(from[0], from[1]);
      Probe target(to[0], to[1]);
      for (unsigned index : {7u, 300u}) source.SetCell(index, index + 1);
      target.SetCell(100, 5);
      target = source;
      Probe copy(source);
      for (Probe* a : {&target, &copy}) {
        EXPECT_EQ(a->BlockSize(), source.BlockSize());
        EXPECT_EQ(a->Blocks(), source.Blocks());
        EXPECT_EQ(a->CellRef(7), 8u);
        EXPECT_EQ(a->CellRef(300), 301u);
        a->SetCell(5000, 1);
      }
      source.SetCell(5000, 1);
      unsigned blocks = 5000 / source.BlockSize() + 1;
      unsigned step = from[0] == 0 ? 128 : from[0];
      EXPECT_EQ(source.DirectoryLength(), (blocks + step - 1) / step * step);
      EXPECT_EQ(target.DirectoryLength(), source.DirectoryLength());
      EXPECT_EQ(copy.DirectoryLength(), source.DirectoryLength());
      EXPECT_EQ(target.Blocks(), source.Blocks());
    }
  }
}

}  // namespace
