// The blocked array: a random sequence of writes, copies, assignments (across block sizes)
// and clears against a std::map; beside it, impossible sizes and the block dump's text.
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

// Random writes, copies, assignments (across shapes) and clears on three arrays of random
// shapes, checked after every step against the cells written, the blocks writes created
// and the directory length.
TEST(BlockedArrayModel, RandomWritesCopiesAndClears) {
  std::mt19937 random(1);
  auto pick = [&random](unsigned n) {
    return std::uniform_int_distribution<unsigned>(0, n - 1)(random);
  };
  struct Model {
    unsigned step, length, log2;
    std::map<unsigned, unsigned> cells;
    std::set<unsigned> blocks;
  };
  std::unique_ptr<Probe> arrays[3];
  Model models[3];
  auto reset = [&](int i) {
    unsigned count = pick(3) == 0 ? 0 : 1 + pick(6);
    unsigned log2 = pick(7);
    arrays[i].reset(new Probe(count, log2));
    models[i] = Model{count == 0 ? 128 : count, count, log2, {}, {}};
  };
  // Near the start, either side of block edges, and far out (up to 1024 slots).
  auto random_index = [&pick](Model const& m) {
    unsigned kind = pick(3);
    if (kind == 0) return pick(64);
    return kind == 1 ? ((1 + pick(40)) << m.log2) + pick(3) - 1 : pick(1024u << m.log2);
  };
  for (int i = 0; i < 3; ++i) reset(i);
  for (int step = 0; step < 18000 && !HasFailure(); ++step) {
    int t = static_cast<int>(pick(3));
    int from = static_cast<int>(pick(3));
    Model& m = models[t];
    switch (pick(20)) {
      case 0:
        *arrays[t] = *arrays[from];
        m = Model(models[from]);
        break;
      case 1:
        arrays[t].reset(new Probe(*arrays[from]));
        m = Model(models[from]);
        break;
      case 2:
        arrays[t]->Clear();
        m.cells.clear();
        m.blocks.clear();
        break;
      case 3:
        reset(t);
        break;
      default: {
        unsigned index = random_index(m);
        m.cells[index] = static_cast<unsigned>(random());
        arrays[t]->SetCell(index, m.cells[index]);
        unsigned slot = index >> m.log2;
        m.blocks.insert(slot);
        if (slot >= m.length) m.length = (slot / m.step + 1) * m.step;
      }
    }
    for (int i = 0; i < 3; ++i) {
      Probe const& a = *arrays[i];
      Model const& s = models[i];
      SCOPED_TRACE("step " + std::to_string(step) + ", array " + std::to_string(i));
      ASSERT_EQ(a.DirectoryLength(), s.length);
      ASSERT_EQ(a.BlockSize(), 1u << s.log2);
      ASSERT_EQ(a.Blocks(), s.blocks);
      for (auto const& [index, value] : s.cells) ASSERT_EQ(a.CellRef(index), value) << index;
      for (int probe = 0; probe < 8; ++probe) {
        unsigned index = random_index(s);
        unsigned const* cell = a.CellPointer(index);
        ASSERT_EQ(cell != nullptr, s.blocks.count(index >> s.log2) != 0) << index;
        auto written = s.cells.find(index);
        if (cell != nullptr) {
          ASSERT_EQ(*cell, written == s.cells.end() ? 0u : written->second) << index;
        }
      }
    }
  }
}

}  // namespace
