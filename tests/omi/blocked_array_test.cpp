// The blocked array: directory growth, zero-filled blocks, copies and assignments between
// arrays of different shapes, the block dump's exact text, and a random sequence of writes,
// copies and clears checked against a std::map after every step.
#include "varururor/omi/blocked_array.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <memory>
#include <new>
#include <random>
#include <set>
#include <string>

namespace {

// The protected parts, as a class deriving from the array sees them.
template <typename T>
class Probe : public omi_BlockedArray<T> {
 public:
  using omi_BlockedArray<T>::omi_BlockedArray;
  using omi_BlockedArray<T>::Clear;
  unsigned GrowthStep() const { return this->growth_step_; }
  bool HasBlock(unsigned slot) const { return this->directory_[slot] != nullptr; }
  unsigned PresentBlocks() const {
    unsigned n = 0;
    for (unsigned slot = 0; slot < this->DirectoryLength(); ++slot) n += HasBlock(slot);
    return n;
  }
};

std::string Dump(omi_BlockedArray<unsigned>& a) {
  testing::internal::CaptureStdout();
  a.DumpBlocks();
  std::fflush(stdout);
  return testing::internal::GetCapturedStdout();
}

TEST(BlockedArray, WithoutBlockCountTheFirstWriteMakesTheDirectory) {
  Probe<unsigned> a(0, 4);
  EXPECT_EQ(a.DirectoryLength(), 0u);
  EXPECT_EQ(a.GrowthStep(), 128u);
  EXPECT_EQ(a.CellPointer(0), nullptr);
  a.SetCell(0, 7);
  EXPECT_EQ(a.DirectoryLength(), 128u);
  EXPECT_EQ(a.PresentBlocks(), 1u);
  EXPECT_EQ(a.CellRef(0), 7u);
  EXPECT_EQ(a.CellPointer(16), nullptr) << "the next block was never written";
}

TEST(BlockedArray, WritingPastTheDirectoryGrowsItByOneStep) {
  Probe<void*> a(24, 10);
  int target = 0;
  a.SetCell(1024 * 24, &target);
  EXPECT_EQ(a.DirectoryLength(), 48u);
  EXPECT_EQ(a.PresentBlocks(), 1u);
  EXPECT_TRUE(a.HasBlock(24));
  EXPECT_EQ(a.CellRef(1024 * 24), &target);
  a.SetCell(1024 * 48 + 5, &target);
  EXPECT_EQ(a.DirectoryLength(), 72u);
}

TEST(BlockedArray, CellsNeverWrittenReadZero) {
  omi_BlockedArray<unsigned> a(2, 3);
  a.SetCell(9, 0xABCDu);
  for (unsigned i = 8; i < 16; ++i) EXPECT_EQ(a.CellRef(i), i == 9 ? 0xABCDu : 0u);
  EXPECT_EQ(a.CellPointer(0), nullptr);
  EXPECT_EQ(a.CellPointer(1000), nullptr) << "beyond the directory";
}

TEST(BlockedArray, CellsDoNotMoveWhenTheDirectoryGrows) {
  omi_BlockedArray<unsigned> a(1, 2);
  a.SetCell(1, 11);
  unsigned* cell = a.CellPointer(1);
  for (unsigned i = 4; i < 4000; i += 4) a.SetCell(i, i);
  EXPECT_EQ(a.CellPointer(1), cell);
  EXPECT_EQ(*cell, 11u);
}

TEST(BlockedArray, AssignmentWithAnotherBlockSizeReplacesEveryBlock) {
  Probe<unsigned> a(4, 2);
  Probe<unsigned> b(4, 3);
  for (unsigned i = 0; i < 16; ++i) a.SetCell(i, 100 + i);
  b.SetCell(9, 5);
  a = b;
  EXPECT_EQ(a.BlockSize(), 8u);
  EXPECT_EQ(a.DirectoryLength(), 4u);
  EXPECT_EQ(a.PresentBlocks(), 1u);
  EXPECT_EQ(a.CellRef(9), 5u);
  EXPECT_EQ(a.CellRef(8), 0u);
  EXPECT_EQ(a.CellPointer(0), nullptr);
}

TEST(BlockedArray, AssignmentTakesTheOthersShapeAndLeavesItAlone) {
  Probe<unsigned> a(0, 5);
  Probe<unsigned> b(3, 1);
  a.SetCell(1000, 1);
  b.SetCell(4, 44);
  a = b;
  EXPECT_EQ(a.DirectoryLength(), 3u);
  EXPECT_EQ(a.GrowthStep(), 3u);
  EXPECT_EQ(a.BlockSize(), 2u);
  EXPECT_EQ(a.CellRef(4), 44u);
  a.SetCell(4, 45);
  EXPECT_EQ(b.CellRef(4), 44u) << "the copy has blocks of its own";
  a = a;
  EXPECT_EQ(a.CellRef(4), 45u);
}

TEST(BlockedArray, CopyIsDeep) {
  omi_BlockedArray<unsigned> a(2, 4);
  a.SetCell(3, 33);
  omi_BlockedArray<unsigned> b(a);
  b.SetCell(3, 34);
  b.SetCell(500, 1);
  EXPECT_EQ(a.CellRef(3), 33u);
  EXPECT_EQ(a.CellPointer(500), nullptr);
  EXPECT_EQ(b.CellRef(3), 34u);
  omi_BlockedArray<unsigned> empty(0, 4);
  omi_BlockedArray<unsigned> copy(empty);
  EXPECT_EQ(copy.DirectoryLength(), 0u);
}

TEST(BlockedArray, ClearFreesBlocksAndKeepsTheDirectory) {
  Probe<unsigned> a(8, 2);
  for (unsigned i = 0; i < 100; ++i) a.SetCell(i * 3, i);
  unsigned length = a.DirectoryLength();
  a.Clear();
  EXPECT_EQ(a.DirectoryLength(), length);
  EXPECT_EQ(a.PresentBlocks(), 0u);
  a.SetCell(3, 9);
  EXPECT_EQ(a.CellRef(3), 9u);
}

TEST(BlockedArray, ImpossibleSizesFailAsAllocationsAndLeaveTheArrayIntact) {
  // Blocks of one cell: the last index needs 2^32 directory slots.
  omi_BlockedArray<unsigned> a(1, 0);
  a.SetCell(5, 55);
  EXPECT_THROW(a.SetCell(0xFFFFFFFFu, 1), std::bad_alloc);
  EXPECT_EQ(a.CellRef(5), 55u);
  EXPECT_EQ(a.CellPointer(0xFFFFFFFFu), nullptr);
  // A shift past 31 is taken as 31; a block of 2^31 cells cannot be had.
  omi_BlockedArray<unsigned> huge(1, 40);
  EXPECT_EQ(huge.BlockSize(), 1u << 31);
  EXPECT_THROW(huge.SetCell(0, 1), std::bad_alloc);
  EXPECT_EQ(huge.CellPointer(0), nullptr);
}

TEST(BlockedArrayDump, PrintsEightCellsALineWithAnEmptyLineAfterEachBlock) {
  omi_BlockedArray<unsigned> a(4, 3);
  a.SetCell(0, 1);
  EXPECT_EQ(Dump(a),
            "Block indices= 0 - 7\n"
            "01000000|00000000|00000000|00000000|00000000|00000000|00000000|00000000\n\n");
}

TEST(BlockedArrayDump, PrintsPresentBlocksOnlyInSlotOrder) {
  omi_BlockedArray<unsigned> a(4, 4);
  a.SetCell(47, 0xA1B2C3D4u);
  a.SetCell(17, 0xFFu);
  std::string zeros = "00000000";
  std::string line = zeros;
  for (int i = 1; i < 8; ++i) line += "|" + zeros;
  std::string expected = "Block indices= 16 - 31\n";
  expected += "00000000|ff000000|" + line.substr(18) + "\n" + line + "\n\n";
  expected += "Block indices= 32 - 47\n" + line + "\n" + line.substr(0, 63) + "d4c3b2a1\n\n";
  EXPECT_EQ(Dump(a), expected);
  omi_BlockedArray<unsigned> empty(4, 4);
  EXPECT_EQ(Dump(empty), "");
}

// Random writes, reads, copies, assignments and clears on a few arrays of different shapes,
// each checked after every step against a map of the written cells and the set of blocks
// that writes have created.
class ArrayModel {
 public:
  explicit ArrayModel(unsigned seed) : random_(seed) {
    for (int i = 0; i < kArrays; ++i) Reset(i, Pick(3) == 0 ? 0 : 1 + Pick(6), Pick(7));
  }

  void Run() {
    for (int step = 0; step < kSteps && !testing::Test::HasFailure(); ++step) {
      int target = Pick(kArrays);
      std::string what = Step(target);
      for (int i = 0; i < kArrays; ++i) Check(i, what, step);
    }
  }

 private:
  static constexpr int kArrays = 3;
  static constexpr int kSteps = 3000;

  struct Shape {
    unsigned step;
    unsigned length;
    unsigned log2;
    std::map<unsigned, unsigned> cells;
    std::set<unsigned> blocks;
  };

  unsigned Pick(unsigned n) { return std::uniform_int_distribution<unsigned>(0, n - 1)(random_); }

  void Reset(int i, unsigned block_count, unsigned log2) {
    arrays_[i].reset(new Probe<unsigned>(block_count, log2));
    shapes_[i] = Shape{block_count == 0 ? 128 : block_count, block_count, log2, {}, {}};
  }

  // Mostly near the start, some around block boundaries, some far out (directories of up
  // to 1024 slots).
  unsigned RandomIndex(Shape const& s) {
    switch (Pick(4)) {
      case 0:
        return Pick(64);
      case 1:
        return ((1 + Pick(40)) << s.log2) + Pick(3) - 1;
      case 2:
        return Pick(200u << s.log2);
      default:
        return Pick(1024u << s.log2);
    }
  }

  std::string Step(int t) {
    Probe<unsigned>& a = *arrays_[t];
    Shape& s = shapes_[t];
    switch (Pick(20)) {
      case 0: {
        int from = static_cast<int>(Pick(kArrays));
        a = *arrays_[from];
        Shape copy = shapes_[from];
        s = copy;
        return "assign";
      }
      case 1: {
        int from = static_cast<int>(Pick(kArrays));
        arrays_[t].reset(new Probe<unsigned>(*arrays_[from]));
        Shape copy = shapes_[from];
        s = copy;
        return "copy";
      }
      case 2:
        a.Clear();
        s.cells.clear();
        s.blocks.clear();
        return "clear";
      case 3:
        Reset(t, Pick(3) == 0 ? 0 : 1 + Pick(6), Pick(7));
        return "new shape";
      default: {
        unsigned index = RandomIndex(s);
        unsigned value = static_cast<unsigned>(random_());
        a.SetCell(index, value);
        s.cells[index] = value;
        unsigned slot = index >> s.log2;
        s.blocks.insert(slot);
        if (slot >= s.length) s.length = (slot / s.step + 1) * s.step;
        return "set " + std::to_string(index);
      }
    }
  }

  void Check(int i, std::string const& what, int step) {
    Probe<unsigned> const& a = *arrays_[i];
    Shape const& s = shapes_[i];
    SCOPED_TRACE("step " + std::to_string(step) + " (" + what + "), array " + std::to_string(i));
    ASSERT_EQ(a.DirectoryLength(), s.length);
    ASSERT_EQ(a.BlockSize(), 1u << s.log2);
    ASSERT_EQ(a.PresentBlocks(), s.blocks.size());
    for (unsigned slot : s.blocks) ASSERT_TRUE(a.HasBlock(slot)) << "block " << slot;
    for (auto const& [index, value] : s.cells) {
      ASSERT_NE(a.CellPointer(index), nullptr) << index;
      ASSERT_EQ(a.CellRef(index), value) << index;
    }
    for (int probe = 0; probe < 8; ++probe) {
      unsigned index = RandomIndex(s);
      bool present = s.blocks.count(index >> s.log2) != 0;
      unsigned const* cell = a.CellPointer(index);
      ASSERT_EQ(cell != nullptr, present) << index;
      if (present && s.cells.count(index) == 0) {
        ASSERT_EQ(*cell, 0u) << index;
      }
    }
  }

  std::mt19937 random_;
  std::unique_ptr<Probe<unsigned>> arrays_[kArrays];
  Shape shapes_[kArrays];
};

TEST(BlockedArrayModel, RandomWritesCopiesAndClears) {
  for (unsigned seed = 1; seed <= 6; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    ArrayModel(seed).Run();
  }
}

}  // namespace
