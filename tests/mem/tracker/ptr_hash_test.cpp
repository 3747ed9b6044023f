// mem_PtrHash against std::unordered_map: random operations that grow it, delete, reuse slots.
#include "varururor/mem/ptr_hash.h"

#include <gtest/gtest.h>

#include <random>
#include <unordered_map>
#include <vector>

namespace {

constexpr int kAbsent = 2147483647;

// Keys as the tracker uses them and arbitrary ones, negative and colliding modulo every table
// size; an absent key and the empty and deleted markers look up as the empty marker.
TEST(PtrHash, BehavesAsAMapThroughGrowthAndDeletion) {
  for (int initial : {0, 10, 10000}) {
    std::mt19937 random(1234u + initial);
    mem_PtrHash table(initial);
    EXPECT_EQ(table.LookUp(0), kAbsent);  // with or without a slot array
    table.Delete(42);
    table.Add(mem_PtrHash::kEmpty, 5);  // the markers are never stored
    table.Add(mem_PtrHash::kDeleted, 5);
    EXPECT_EQ(table.LookUp(mem_PtrHash::kEmpty), kAbsent);
    EXPECT_EQ(table.LookUp(mem_PtrHash::kDeleted), kAbsent);
    std::unordered_map<int, int> model;
    std::vector<int> keys;
    for (int step = 0; step < 300000; ++step) {
      int const choice = static_cast<int>(random() % 10);
      int key;
      if (choice < 5 || keys.empty()) {
        key = random() % 4 == 0 ? static_cast<int>(random() % 2000) * 15683
                                : static_cast<int>(random() & ~7u);
        if (key == mem_PtrHash::kEmpty || key == mem_PtrHash::kDeleted) continue;
        int const value = static_cast<int>(random() % 1000000);
        table.Add(key, value);
        if (model.count(key) == 0) keys.push_back(key);
        model[key] = value;
      } else {
        key = keys[random() % keys.size()];
        if (choice < 8) {
          auto it = model.find(key);
          ASSERT_EQ(table.LookUp(key), it != model.end() ? it->second : kAbsent) << step;
        } else {
          table.Delete(key);
          model.erase(key);
        }
      }
    }
    EXPECT_GT(model.size(), 65521u / 2) << "the sequence must grow the table past its first sizes";
  }
}

}  // namespace
