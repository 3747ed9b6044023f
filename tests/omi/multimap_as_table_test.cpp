// An integer multimap is an omi_IntTable<void*> to its clients: it goes where a table is
// read, the table iterator visits it, and the table's lookups answer for it.
#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "varururor/omi/int_multimap.h"
#include "varururor/omi/int_table_iterator.h"

namespace {

// What a client that knows only tables sees: the keys in ascending order, each with the
// head of its list.
std::vector<int> KeysOf(omi_IntTable<void*> const& table) {
  std::vector<int> keys;
  omi_IntTableIterator<void*> it(table);
  for (it.First(); !it.IsDone(); it.Next()) keys.push_back(it.CurrentKey());
  return keys;
}

TEST(MultiMapAsTable, ReadThroughTheTableInterface) {
  omi_IntMultiMap<int> map;
  for (int key : {7, -3, 7, 0, -3, 12}) map.Insert(key, key * 10);
  omi_IntTable<void*> const& table = map;
  EXPECT_EQ(table.Count(), 4u);
  EXPECT_TRUE(map.IsPresent(-3));
  EXPECT_FALSE(table.IsPresent(3));
  EXPECT_EQ(KeysOf(map), (std::vector<int>{-3, 0, 7, 12}));
  omi_IntTableIterator<void*> it(map);
  for (it.First(); !it.IsDone(); it.Next()) {
    EXPECT_EQ(it.CurrentValue(), map.Values(it.CurrentKey())) << it.CurrentKey();
  }
  omi_IntMultiMap<void*> pointers;
  pointers.Insert(INT_MIN, nullptr);
  EXPECT_EQ(KeysOf(pointers), std::vector<int>{INT_MIN});
}

}  // namespace
