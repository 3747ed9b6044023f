// The integer-keyed tables' edge cases beside the random sequences: directory growth, the
// order of signed visits, sorted visits, shapes past the bits there are, and the allocator
// the tables' objects take.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <vector>

#include "child_process.h"
#include "varururor/mem/dlmalloc.h"
#include "varururor/omi/int_table.h"
#include "varururor/omi/int_table_iterator.h"
#include "varururor/omi/uint_table.h"
#include "varururor/omi/uint_table_iterator.h"

namespace {

template <typename Iterator>
auto Keys(Iterator& it) {
  std::vector<decltype(it.CurrentKey())> keys;
  for (it.First(); !it.IsDone(); it.Next()) keys.push_back(it.CurrentKey());
  return keys;
}

int Descending(void const* a, void const* b) {
  auto x = *static_cast<omi_UintTableSortRecord<int> const* const*>(a);
  auto y = *static_cast<omi_UintTableSortRecord<int> const* const*>(b);
  return x->key < y->key ? 1 : x->key > y->key ? -1 : 0;
}

TEST(UintTable, BlocksAndTheDirectory) {
  omi_UintTable<double> t;
  EXPECT_EQ(t.DirectoryLength(), 2);
  t.Insert(1048575, 1);
  t.Insert(1048576, 2);
  EXPECT_NE(t.FindBlock(1048575), t.FindBlock(1048576)) << "blocks 0 and 1";
  t.Insert(2u << 20, 3);
  EXPECT_EQ(t.DirectoryLength(), 64);
  t.Insert(64u << 20, 4);
  EXPECT_EQ(t.DirectoryLength(), 128);
  EXPECT_TRUE(t.Remove(64u << 20));
  EXPECT_EQ(t.FindBlock(64u << 20), nullptr) << "the last key of a block takes it along";
  EXPECT_FALSE(t.Remove(64u << 20));
  t.Clear();
  EXPECT_EQ(t.DirectoryLength(), 128) << "the directory never shrinks";
  EXPECT_EQ(t.FindBlock(0), nullptr);
}

TEST(UintTable, ShapesPastTheBitsThereAreAreClamped) {
  // Top bits 0 and 40 are taken as 1 and 31, split bits 40 as all that are left.
  unsigned const shapes[][3] = {{0, 10, 24}, {40, 40, 0}, {12, 40, 0}};
  for (auto const& shape : shapes) {
    omi_UintTable<int> t(shape[0], shape[1], shape[2]);
    std::vector<unsigned> keys = {0, 1, 3, 1023, 1024, 65535};
    for (unsigned key : keys) EXPECT_TRUE(t.Insert(key, static_cast<int>(key)));
    for (unsigned key : keys) EXPECT_EQ(*t.Find(key), static_cast<int>(key));
    omi_UintTableIterator<int> it(t);
    EXPECT_EQ(Keys(it), keys);
  }
  omi_UintTable<int> t(31, 0, 3);
  t.Insert(6, 6);
  EXPECT_THROW(t.Insert(0xFFFFFFFFu, 1), std::bad_alloc) << "2^31 directory slots";
  EXPECT_EQ(t.Count(), 1);
  EXPECT_EQ(t.Find(0xFFFFFFFFu), nullptr);
}

// A copy that runs out of memory part way gives back the blocks it had copied. The library
// heap's limit makes the copy fail, and its count of bytes in use is exact.
TEST(UintTable, ACopyThatFailsPartWayGivesBackWhatItTook) {
  EXPECT_IN_CHILD("^0$", setenv("KVN_DLALLOCATOR", "1", 1); {
    omi_UintTable<double> t;
    for (unsigned block = 0; block < 4096; ++block) t.Insert(block << 20, 1);
    std::size_t const before = dlmallinfo().uordblks;
    dlmallopt(DL_M_MEMORY_LIMIT, static_cast<int>(dlmalloc_footprint() + (256u << 10)));
    bool failed = false;
    try {
      omi_UintTable<double> copy(t);
    } catch (std::bad_alloc const&) {
      failed = true;
    }
    dlmallopt(DL_M_MEMORY_LIMIT, 0);
    std::fprintf(stderr, "%d", failed ? static_cast<int>(dlmallinfo().uordblks - before) : -1);
  });
}

TEST(UintTableIterator, EmptyTablesAndStepsBeforeTheStart) {
  omi_UintTable<int> t;
  omi_UintTableIterator<int> plain(t);
  omi_UintTableIterator<int> sorted(t, Descending);
  for (auto* it : {&plain, &sorted}) {
    it->First();
    EXPECT_TRUE(it->IsDone());
    it->Last();
    EXPECT_TRUE(it->IsDone());
  }
  t.Insert(9, 9);
  omi_UintTableIterator<int> fresh(t, Descending);
  fresh.Next();
  fresh.Prev();
  EXPECT_FALSE(fresh.IsDone()) << "nothing happens before First";
}

TEST(UintTableIterator, ASortedVisitFollowsTheComparison) {
  omi_UintTable<int> t;
  for (unsigned k : {30u, 5000000u, 7u, 1u << 31}) t.Insert(k, static_cast<int>(k % 1000));
  omi_UintTableIterator<int> it(t, Descending);
  EXPECT_EQ(Keys(it), (std::vector<unsigned>{1u << 31, 5000000, 30, 7}));
  it.Next();
  EXPECT_TRUE(it.IsDone()) << "Next past the end stays done";
  it.First();
  EXPECT_EQ(it.CurrentValue(), 648);
  it.Prev();
  EXPECT_TRUE(it.IsDone()) << "Prev from the first record ends the visit";
  t.Remove(7);
  t.Insert(8, 8);
  it.Last();
  EXPECT_EQ(it.CurrentKey(), 8u) << "a later Last sees the table as it now is";
}

TEST(IntTable, SignedKeysInAscendingOrderTheMostNegativeFirst) {
  omi_IntTable<double> t;
  for (int k : {2, -1, 0, -3, INT_MIN, INT_MAX}) t.Insert(k, k * 0.5);
  omi_IntTableIterator<double> it(t, [](void const*, void const*) { return 0; });
  EXPECT_EQ(Keys(it), (std::vector<int>{INT_MIN, -3, -1, 0, 2, INT_MAX}))
      << "the comparison function does not reorder the visit";
  for (it.First(); !it.IsDone(); it.Next()) EXPECT_EQ(it.CurrentValue(), it.CurrentKey() * 0.5);
  EXPECT_TRUE(t.Remove(INT_MIN));
  EXPECT_FALSE(t.IsPresent(INT_MIN));
}

TEST(IntTable, LastWithOnlyNegativeKeysIsDoneAtOnce) {
  omi_IntTable<double> t;
  omi_IntTableIterator<double> it(t);
  t.Insert(-5, 0);
  it.Last();
  EXPECT_TRUE(it.IsDone());
  EXPECT_EQ(Keys(it), std::vector<int>{-5}) << "made before the table was filled";
}

// Every object of the tables takes the allocator for its size, so the debugging size check
// has nothing to object to.
TEST(TableAllocation, TheSizeCheckAcceptsEveryTableObject) {
  EXPECT_IN_CHILD(
      "^$", setenv("KVN_DEBUG_MEMSIZE", "ON", 1); {
        std::unique_ptr<omi_IntTable<int>> t(new omi_IntTable<int>());
        for (int k = -3000; k < 3000; k += 3) t->Insert(k, k);
        omi_IntTableIterator<int> it(*t);
        for (it.First(); !it.IsDone(); it.Next()) {
        }
        omi_UintTable<int> u;
        u.Insert(5, 5);
        omi_UintTableIterator<int> sorted(u, Descending);
        sorted.First();
      });
}

}  // namespace
