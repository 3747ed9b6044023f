// The blocked array: a random sequence of writes, copies, assignments (across block sizes)
// and clears checked against a std::map and the blocks and directory length after every
// step; beside it, impossible sizes and the block dump's exact text.
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
struct Probe : omi_BlockedArray<T> {
  using omi_BlockedArray<T>::omi_BlockedArray;
  using omi_BlockedArray<T>::Clear;
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
  std::string zeros = "|00000000|00000000|00000000|00000000|00000000|00000000|00000000\n\n";
  EXPECT_EQ(Dump(a), "Block indices= 0 - 7\n01000000" + zeros);
  a.SetCell(31, 0xA1B2C3D4u);
  EXPECT_EQ(Dump(a), "Block indices= 0 - 7\n01000000" + zeros +
                         "Block indices= 24 - 31\n00000000|00000000|00000000|00000000|00000000|"
                         "00000000|00000000|d4c3b2a1\n\n");
}

// Random writes, copies, assignments and clears on three arrays of different shapes, each
// checked after every step against the cells written and the blocks writes have created.
class ArrayModel {
 public:
  explicit ArrayModel(unsigned seed) : random_(seed) {
    for (int i = 0; i < kArrays; ++i) Reset(i);
  }

  void Run(int steps) {
    for (int step = 0; step < steps && !testing::Test::HasFailure(); ++step) {
      std::string what = Step(static_cast<int>(Pick(kArrays)));
      SCOPED_TRACE("step " + std::to_string(step) + ": " + what);
      for (int i = 0; i < kArrays; ++i) Check(i);
    }
  }

 private:
  static constexpr int kArrays = 3;
  struct Shape {
    unsigned step, length, log2;
    std::map<unsigned, unsigned> cells;
    std::set<unsigned> blocks;
  };

  unsigned Pick(unsigned n) { return std::uniform_int_distribution<unsigned>(0, n - 1)(random_); }

  void Reset(int i) {
    unsigned count = Pick(3) == 0 ? 0 : 1 + Pick(6);
    unsigned log2 = Pick(7);
    arrays_[i].reset(new Probe<unsigned>(count, log2));
    shapes_[i] = Shape{count == 0 ? 128 : count, count, log2, {}, {}};
  }

  // Near the start, either side of block edges, and far out (up to 1024 slots).
  unsigned RandomIndex(Shape const& s) {
    switch (Pick(3)) {
      case 0:
        return Pick(64);
      case 1:
        return ((1 + Pick(40)) << s.log2) + Pick(3) - 1;
      default:
        return Pick(1024u << s.log2);
    }
  }

  std::string Step(int t) {
    Shape& s = shapes_[t];
    int from = static_cast<int>(Pick(kArrays));
    switch (Pick(20)) {
      case 0:
        *arrays_[t] = *arrays_[from];
        s = Shape(shapes_[from]);
        return "assign";
      case 1:
        arrays_[t].reset(new Probe<unsigned>(*arrays_[from]));
        s = Shape(shapes_[from]);
        return "copy";
      case 2:
        arrays_[t]->Clear();
        s.cells.clear();
        s.blocks.clear();
        return "clear";
      case 3:
        Reset(t);
        return "new shape";
      default: {
        unsigned index = RandomIndex(s);
        unsigned value = static_cast<unsigned>(random_());
        arrays_[t]->SetCell(index, value);
        s.cells[index] = value;
        unsigned slot = index >> s.log2;
        s.blocks.insert(slot);
        if (slot >= s.length) s.length = (slot / s.step + 1) * s.step;
        return "set " + std::to_string(index);
      }
    }
  }

  void Check(int i) {
    Probe<unsigned> const& a = *arrays_[i];
    Shape const& s = shapes_[i];
    ASSERT_EQ(a.DirectoryLength(), s.length) << "array " << i;
    ASSERT_EQ(a.BlockSize(), 1u << s.log2) << "array " << i;
    ASSERT_EQ(a.Blocks(), s.blocks) << "array " << i;
    for (auto const& [index, value] : s.cells) ASSERT_EQ(a.CellRef(index), value) << index;
    for (int probe = 0; probe < 8; ++probe) {
      unsigned index = RandomIndex(s);
      unsigned const* cell = a.CellPointer(index);
      ASSERT_EQ(cell != nullptr, s.blocks.count(index >> s.log2) != 0) << index;
      auto written = s.cells.find(index);
      if (cell != nullptr) {
        ASSERT_EQ(*cell, written == s.cells.end() ? 0u : written->second) << index;
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
    ArrayModel(seed).Run(3000);
  }
}

}  // namespace
