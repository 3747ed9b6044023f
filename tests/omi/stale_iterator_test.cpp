// Iterators used after their container changed, which the containers forbid but must
// survive: every step either ends the visit or stands on a key (bit, member, value) that the
// container holds at that moment. Random changes between the steps, against std models;
// the sanitizer build also sees any read of freed memory.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <map>
#include <random>
#include <set>

#include "varururor/omi/bit_vector.h"
#include "varururor/omi/bit_vector_traversal.h"
#include "varururor/omi/int_multimap.h"
#include "varururor/omi/int_multimap_iterator.h"
#include "varururor/omi/int_set.h"
#include "varururor/omi/int_set_iterator.h"
#include "varururor/omi/int_table.h"
#include "varururor/omi/int_table_iterator.h"
#include "varururor/omi/uint_table.h"
#include "varururor/omi/uint_table_iterator.h"

namespace {

constexpr int kRounds = 200;
constexpr int kStepsPerRound = 400;
// Far enough apart to need new table blocks and longer directories.
constexpr unsigned int kFarBit = 3u << 20;

class StaleIterators : public ::testing::Test {
 protected:
  int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }
  // Keys near each other and far apart, of both signs.
  int Key() {
    int near = Pick(600) - 300;
    return Pick(4) == 0 ? near * 4099 : near;
  }

  std::mt19937 random_{8128};
};

TEST_F(StaleIterators, TraversalsMadeBeforeTheDirectoryGrewStartOnTheVectorAsItIs) {
  omi_BlkBitVect vector;
  vector.SetBit(3);
  omi_BlkBitVectTrav trav(&vector);
  vector.SetBit(kFarBit * 200);  // the directory moves to a longer one
  unsigned int bit = 0;
  ASSERT_TRUE(trav.First(bit));
  EXPECT_EQ(bit, 3u);
  ASSERT_TRUE(trav.Next(bit));
  EXPECT_EQ(bit, kFarBit * 200);
  EXPECT_FALSE(trav.Next(bit));

  omi_Set set;
  set.Insert(-2);
  omi_SetIT it(set);
  for (int member : {INT_MIN, INT_MAX, 7}) set.Insert(member);
  std::vector<int> seen;
  for (it.First(); !it.IsDone(); it.Next()) seen.push_back(it.CurrentItem());
  EXPECT_EQ(seen, (std::vector<int>{-2, INT_MIN, 7, INT_MAX}));
}

// A walk over a vector that grows, shrinks, is cleared and combined between the steps.
TEST_F(StaleIterators, BitTraversalStepsFindOnlySetBits) {
  for (int round = 0; round < kRounds; ++round) {
    omi_BlkBitVect vector;
    for (int i = 0; i < 50; ++i) vector.SetBit(static_cast<unsigned int>(Pick(40000)));
    omi_BlkBitVectTrav trav(&vector);
    unsigned int bit = 0;
    bool forward = Pick(2) == 0;
    bool on = forward ? trav.First(bit) : trav.Last(bit);
    for (int step = 0; on && step < kStepsPerRound; ++step) {
      ASSERT_TRUE(vector.TestBit(bit)) << "round " << round << " step " << step;
      switch (Pick(8)) {
        case 0:
          vector.UnsetBit(bit);
          break;
        case 1:
          vector.SetBit(static_cast<unsigned int>(Pick(4)) * kFarBit + Pick(40000));
          break;
        case 2: {
          omi_BlkBitVect other;
          other.SetBit(static_cast<unsigned int>(Pick(40000)));
          if (Pick(2) == 0) {
            vector |= other;
          } else {
            vector &= vector;  // a recount frees all-zero blocks
          }
          break;
        }
        case 3:
          if (Pick(20) == 0) vector.Clear();
          break;
        default:
          break;
      }
      on = forward ? trav.Next(bit) : trav.Prev(bit);
    }
  }
}

// Tables visited while keys come and go, including the current one and the last key of its
// table block, and Clear; in ordinary and in sorted mode.
TEST_F(StaleIterators, TableVisitsStandOnlyOnPresentKeys) {
  for (int round = 0; round < kRounds; ++round) {
    omi_IntTable<int> table;
    omi_UintTable<int> unsigned_table;
    std::map<int, int> model;
    for (int i = 0; i < 40; ++i) {
      int key = Key();
      table.Insert(key, i);
      unsigned_table.Insert(static_cast<unsigned int>(key), i);
      model[key] = i;
    }
    omi_IntTableIterator<int> it(table);
    auto descending = [](void const* a, void const* b) {
      unsigned int ka = (*static_cast<omi_UintTableSortRecord<int>* const*>(a))->key;
      unsigned int kb = (*static_cast<omi_UintTableSortRecord<int>* const*>(b))->key;
      return ka < kb ? 1 : ka > kb ? -1 : 0;
    };
    omi_UintTableIterator<int> sorted(unsigned_table, descending);
    it.First();
    sorted.First();
    for (int step = 0; step < kStepsPerRound && !(it.IsDone() && sorted.IsDone()); ++step) {
      if (!it.IsDone()) {
        auto found = model.find(it.CurrentKey());
        ASSERT_NE(found, model.end()) << "round " << round << " step " << step;
        ASSERT_EQ(it.CurrentValue(), found->second);
      }
      if (!sorted.IsDone()) {
        auto found = model.find(static_cast<int>(sorted.CurrentKey()));
        ASSERT_NE(found, model.end()) << "round " << round << " step " << step << " (sorted)";
        ASSERT_EQ(sorted.CurrentValue(), found->second);
      }
      int key = Key();
      switch (Pick(6)) {
        case 0:
          if (!it.IsDone()) key = it.CurrentKey();
          [[fallthrough]];
        case 1:
          table.Remove(key);
          unsigned_table.Remove(static_cast<unsigned int>(key));
          model.erase(key);
          break;
        case 2:
          table.Insert(key, step);
          unsigned_table.Insert(static_cast<unsigned int>(key), step);
          model[key] = step;
          break;
        case 3:
          if (Pick(30) == 0) {
            table.Clear();
            unsigned_table.Clear();
            model.clear();
          }
          break;
        default:
          break;
      }
      it.Next();
      sorted.Next();
    }
  }
}

// A multimap visited while values are inserted and removed, the map rebuilt and cleared.
TEST_F(StaleIterators, MultimapVisitsStandOnlyOnPresentValues) {
  for (int round = 0; round < kRounds; ++round) {
    omi_IntMultiMap<int> map;
    std::map<int, std::multiset<int>> model;
    for (int i = 0; i < 400; ++i) {
      int key = Key() % 50;
      map.Insert(key, i);
      model[key].insert(i);
    }
    omi_IntMultiMapIterator<int> it(map);
    it.First();
    for (int step = 0; step < kStepsPerRound && !it.IsDone(); ++step) {
      auto found = model.find(it.CurrentKey());
      ASSERT_NE(found, model.end()) << "round " << round << " step " << step;
      ASSERT_EQ(found->second.count(it.CurrentValue()), 1u) << "round " << round;
      int key = Pick(2) == 0 ? it.CurrentKey() : Key() % 50;
      switch (Pick(6)) {
        case 0:
          map.Remove(key);
          model.erase(key);
          break;
        case 1: {
          int value = Pick(2) == 0 ? it.CurrentValue() : Pick(400);
          if (map.Remove(key, value)) {
            model[key].erase(value);
            if (model[key].empty()) model.erase(key);
          }
          break;
        }
        case 2:
          map.Insert(key, 1000 + step);
          model[key].insert(1000 + step);
          break;
        case 3:
          map.Compact();
          break;
        case 4:
          if (Pick(30) == 0) {
            map.Clear();
            model.clear();
          }
          break;
        default:
          break;
      }
      it.Next();
    }
  }
}

}  // namespace
