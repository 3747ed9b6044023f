// The integer-keyed tables beside the random sequences: shapes past the bits there are, a
// copy that runs out of memory, and the allocator the tables' objects take.
#include <gtest/gtest.h>

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

int Descending(void const* a, void const* b) {
  auto x = *static_cast<omi_UintTableSortRecord<int> const* const*>(a);
  auto y = *static_cast<omi_UintTableSortRecord<int> const* const*>(b);
  return x->key < y->key ? 1 : x->key > y->key ? -1 : 0;
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
    std::vector<unsigned> visited;
    for (it.First(); !it.IsDone(); it.Next()) visited.push_back(it.CurrentKey());
    EXPECT_EQ(visited, keys);
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
  EXPECT_IN_CHILD(
      "^0$", setenv("KVN_DLALLOCATOR", "1", 1); {
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
