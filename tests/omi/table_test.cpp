// The integer-keyed tables' single cases: overwriting, block lifetime, directory growth,
// the order of signed visits, sorted visits, and the shapes a caller may ask for.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <memory>
#include <new>
#include <vector>

#include "child_process.h"
#include "varururor/omi/int_table.h"
#include "varururor/omi/int_table_iterator.h"
#include "varururor/omi/uint_table.h"
#include "varururor/omi/uint_table_iterator.h"

namespace {

template <typename T>
std::vector<unsigned> Keys(omi_UintTableIterator<T>& it) {
  std::vector<unsigned> keys;
  for (it.First(); !it.IsDone(); it.Next()) keys.push_back(it.CurrentKey());
  return keys;
}

std::vector<int> Keys(omi_IntTableIterator<double>& it) {
  std::vector<int> keys;
  for (it.First(); !it.IsDone(); it.Next()) keys.push_back(it.CurrentKey());
  return keys;
}

int Descending(void const* a, void const* b) {
  auto x = *static_cast<omi_UintTableSortRecord<int> const* const*>(a);
  auto y = *static_cast<omi_UintTableSortRecord<int> const* const*>(b);
  return x->key < y->key ? 1 : x->key > y->key ? -1 : 0;
}

TEST(UintTable, ADuplicateKeyOverwritesAndCountsOnce) {
  omi_UintTable<int> t;
  EXPECT_TRUE(t.Insert(42, 1));
  EXPECT_FALSE(t.Insert(42, 2));
  EXPECT_EQ(t.Count(), 1);
  ASSERT_NE(t.Find(42), nullptr);
  EXPECT_EQ(*t.Find(42), 2);
  EXPECT_EQ(t.Find(43), nullptr);
  EXPECT_FALSE(t.IsPresent(41));
}

TEST(UintTable, RemovingTheLastKeyOfABlockFreesIt) {
  omi_UintTable<double> t;
  t.Insert(5, 1.5);
  t.Insert(3000000, 2.5);
  ASSERT_NE(t.FindBlock(3000000), nullptr);
  EXPECT_TRUE(t.Remove(3000000));
  EXPECT_EQ(t.FindBlock(3000000), nullptr);
  EXPECT_FALSE(t.Remove(3000000));
  EXPECT_EQ(t.Count(), 1);
  omi_UintTableIterator<double> it(t);
  EXPECT_EQ(Keys(it), std::vector<unsigned>{5});
}

TEST(UintTable, RemoveLeavesOtherKeysAndTheirValues) {
  omi_UintTable<void*> t;
  int a = 0;
  int b = 0;
  t.Insert(10, &a);
  t.Insert(11, &b);
  EXPECT_TRUE(t.Remove(10));
  EXPECT_EQ(t.Find(10), nullptr);
  EXPECT_EQ(*t.Find(11), &b);
  EXPECT_FALSE(t.Remove(12)) << "an absent key in a present block";
  EXPECT_EQ(t.Count(), 1);
}

TEST(UintTable, TheDirectoryGrowsToTheNextMultipleOf64) {
  omi_UintTable<int> t;
  EXPECT_EQ(t.DirectoryLength(), 2);
  t.Insert(1048575, 1);
  t.Insert(1048576, 2);
  EXPECT_NE(t.FindBlock(1048575), t.FindBlock(1048576)) << "blocks 0 and 1";
  EXPECT_EQ(t.DirectoryLength(), 2);
  t.Insert(2u << 20, 3);
  EXPECT_EQ(t.DirectoryLength(), 64);
  t.Insert(64u << 20, 4);
  EXPECT_EQ(t.DirectoryLength(), 128);
  t.Insert(0xFFFFFFFFu, 5);
  EXPECT_EQ(t.DirectoryLength(), 4096);
  t.Clear();
  EXPECT_EQ(t.DirectoryLength(), 4096) << "the directory never shrinks";
  EXPECT_EQ(t.Count(), 0);
  EXPECT_EQ(t.FindBlock(0xFFFFFFFFu), nullptr);
}

void ExpectWorkingTable(unsigned top_bits, unsigned split_bits, unsigned value_slots,
                        std::vector<unsigned> const& keys) {
  SCOPED_TRACE(testing::Message() << "shape " << top_bits << " " << split_bits << " "
                                  << value_slots);
  omi_UintTable<int> t(top_bits, split_bits, value_slots);
  int value = 0;
  for (unsigned key : keys) EXPECT_TRUE(t.Insert(key, ++value));
  value = 0;
  for (unsigned key : keys) EXPECT_EQ(*t.Find(key), ++value);
  omi_UintTableIterator<int> it(t);
  EXPECT_EQ(Keys(it), keys);
}

TEST(UintTable, ShapesPastTheBitsThereAreAreClamped) {
  std::vector<unsigned> small = {0, 1, 2, 3, 1023, 1024, 65535};
  std::vector<unsigned> all = small;
  all.insert(all.end(), {0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu});
  ExpectWorkingTable(0, 10, 24, all);    // one high bit selects the block
  ExpectWorkingTable(40, 40, 0, small);  // 31 high bits, value blocks of one cell
  ExpectWorkingTable(12, 40, 0, small);  // value blocks of one cell
  ExpectWorkingTable(20, 4, 2, all);
}

TEST(UintTable, AKeyWhoseDirectoryCannotBeHadFailsAsAnAllocation) {
  omi_UintTable<int> t(31, 0, 3);
  t.Insert(6, 6);
  EXPECT_THROW(t.Insert(0xFFFFFFFFu, 1), std::bad_alloc) << "2^31 directory slots";
  EXPECT_EQ(t.Count(), 1);
  EXPECT_EQ(*t.Find(6), 6);
  EXPECT_EQ(t.Find(0xFFFFFFFFu), nullptr);
}

TEST(UintTable, CopyIsDeep) {
  omi_UintTable<int> t(20, 4, 2);
  for (unsigned k = 0; k < 10000; k += 7) t.Insert(k, static_cast<int>(k));
  omi_UintTable<int> copy(t);
  t.Insert(7, -1);
  t.Remove(14);
  EXPECT_EQ(*copy.Find(7), 7);
  EXPECT_EQ(*copy.Find(14), 14);
  EXPECT_EQ(copy.Count(), t.Count() + 1);
}

TEST(UintTableIterator, AnEmptyTableIsDoneAtOnceInBothModes) {
  omi_UintTable<int> t;
  omi_UintTableIterator<int> plain(t);
  plain.First();
  EXPECT_TRUE(plain.IsDone());
  plain.Last();
  EXPECT_TRUE(plain.IsDone());
  omi_UintTableIterator<int> sorted(t, Descending);
  sorted.First();
  EXPECT_TRUE(sorted.IsDone());
  sorted.Last();
  EXPECT_TRUE(sorted.IsDone());
}

TEST(UintTableIterator, StepsBeforeTheStartDoNothing) {
  omi_UintTable<int> t;
  t.Insert(9, 9);
  omi_UintTableIterator<int> plain(t);
  plain.Next();
  plain.Prev();
  EXPECT_FALSE(plain.IsDone());
  omi_UintTableIterator<int> sorted(t, Descending);
  sorted.Next();
  sorted.Prev();
  EXPECT_FALSE(sorted.IsDone());
  sorted.First();
  EXPECT_EQ(sorted.CurrentKey(), 9u);
}

TEST(UintTableIterator, ASortedVisitFollowsTheComparison) {
  omi_UintTable<int> t;
  for (unsigned k : {30u, 5000000u, 7u, 1u << 31, 99u}) t.Insert(k, static_cast<int>(k % 1000));
  omi_UintTableIterator<int> it(t, Descending);
  std::vector<unsigned> keys;
  for (it.First(); !it.IsDone(); it.Next()) {
    keys.push_back(it.CurrentKey());
    EXPECT_EQ(it.CurrentValue(), static_cast<int>(it.CurrentKey() % 1000));
  }
  EXPECT_EQ(keys, (std::vector<unsigned>{1u << 31, 5000000, 99, 30, 7}));
  it.Next();
  EXPECT_TRUE(it.IsDone()) << "Next past the end stays done";
  it.First();
  it.Prev();
  EXPECT_TRUE(it.IsDone()) << "Prev from the first record ends the visit";
  it.Last();
  EXPECT_EQ(it.CurrentKey(), 7u);
  it.Prev();
  EXPECT_EQ(it.CurrentKey(), 30u);
}

TEST(UintTableIterator, ASortedVisitStartsAfreshAfterTheTableChanged) {
  omi_UintTable<int> t;
  t.Insert(1, 1);
  omi_UintTableIterator<int> it(t, Descending);
  it.First();
  t.Insert(2, 2);
  t.Remove(1);
  it.First();
  ASSERT_FALSE(it.IsDone());
  EXPECT_EQ(it.CurrentKey(), 2u);
  it.Next();
  EXPECT_TRUE(it.IsDone());
}

TEST(UintTableIterator, BackwardVisit) {
  omi_UintTable<int> t(16, 8, 4);
  for (unsigned k : {0u, 65535u, 65536u, 0xFFFFFFFFu}) t.Insert(k, 0);
  omi_UintTableIterator<int> it(t);
  std::vector<unsigned> keys;
  for (it.Last(); !it.IsDone(); it.Prev()) keys.push_back(it.CurrentKey());
  EXPECT_EQ(keys, (std::vector<unsigned>{0xFFFFFFFFu, 65536, 65535, 0}));
}

TEST(IntTable, SignedKeysAreVisitedInAscendingOrder) {
  omi_IntTable<double> t;
  for (int k : {2, -1, 0, -3}) t.Insert(k, k * 0.5);
  omi_IntTableIterator<double> it(t);
  EXPECT_EQ(Keys(it), (std::vector<int>{-3, -1, 0, 2}));
  for (it.First(); !it.IsDone(); it.Next()) EXPECT_EQ(it.CurrentValue(), it.CurrentKey() * 0.5);
}

TEST(IntTable, TheMostNegativeIntegerComesFirst) {
  omi_IntTable<double> t;
  t.Insert(INT_MAX, 1);
  t.Insert(INT_MIN, 2);
  t.Insert(-INT_MAX, 3);
  omi_IntTableIterator<double> it(t);
  EXPECT_EQ(Keys(it), (std::vector<int>{INT_MIN, -INT_MAX, INT_MAX}));
  EXPECT_EQ(*t.Find(INT_MIN), 2);
  EXPECT_TRUE(t.Remove(INT_MIN));
  EXPECT_FALSE(t.IsPresent(INT_MIN));
  EXPECT_EQ(*t.Find(-INT_MAX), 3);
}

TEST(IntTable, LastWithOnlyNegativeKeysIsDoneAtOnce) {
  omi_IntTable<double> t;
  t.Insert(-5, 0);
  omi_IntTableIterator<double> it(t);
  it.Last();
  EXPECT_TRUE(it.IsDone());
  t.Insert(8, 0);
  t.Insert(3, 0);
  it.Last();
  ASSERT_FALSE(it.IsDone());
  EXPECT_EQ(it.CurrentKey(), 8);
}

TEST(IntTable, AnIteratorMadeBeforeTheTableWasFilledVisitsItWhole) {
  omi_IntTable<double> t;
  omi_IntTableIterator<double> it(t);
  t.Insert(-2, 0);
  t.Insert(4, 0);
  EXPECT_EQ(Keys(it), (std::vector<int>{-2, 4}));
  t.Remove(-2);
  EXPECT_EQ(Keys(it), std::vector<int>{4});
}

TEST(IntTable, TheComparisonFunctionDoesNotReorderTheVisit) {
  omi_IntTable<double> t;
  for (int k : {5, -5, 0}) t.Insert(k, 0);
  omi_IntTableIterator<double> it(t, [](void const*, void const*) { return 0; });
  EXPECT_EQ(Keys(it), (std::vector<int>{-5, 0, 5}));
}

TEST(IntTable, CopyIsDeepAndOwnedByTheCaller) {
  omi_IntTable<void*> t(20, 4, 2);
  int x = 0;
  t.Insert(-70000, &x);
  t.Insert(70000, nullptr);
  std::unique_ptr<omi_IntTable<void*>> copy(t.Copy());
  t.Clear();
  EXPECT_EQ(copy->Count(), 2u);
  EXPECT_EQ(*copy->Find(-70000), &x);
  EXPECT_EQ(t.Count(), 0u);
}

// The tables' objects take the allocator for their size, so the debugging size check has
// nothing to object to.
TEST(TableAllocation, TheSizeCheckAcceptsEveryTableObject) {
  EXPECT_IN_CHILD(
      "^$", setenv("KVN_DEBUG_MEMSIZE", "ON", 1); {
        omi_IntTable<int> t;
        for (int k = -3000; k < 3000; k += 3) t.Insert(k, k);
        std::unique_ptr<omi_IntTable<int>> heap_table(new omi_IntTable<int>());
        heap_table->Insert(1, 1);
        omi_UintTable<int> u;
        u.Insert(5, 5);
        omi_UintTableIterator<int> sorted(u, Descending);
        sorted.First();
        omi_IntTableIterator<int> it(t);
        for (it.First(); !it.IsDone(); it.Next()) {
        }
      });
}

}  // namespace
