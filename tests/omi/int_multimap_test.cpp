// The integer multimap: a random sequence checked after every step against a std::multimap
// that keeps each key's values in the map's list order, together with the link and block
// counters the rebuild rule is stated in (it covers duplicates, signs, extreme keys, the
// rebuild threshold, emptying and key counts). The sequence grows and shrinks the map in
// turn, so that it crosses the rebuild threshold many times. Beside it, what the sequence
// does not do: per-key lists, ordered rebuilds, a rebuild that fails part way, and the
// iterator's ends.
#include "varururor/omi/int_multimap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <map>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "varururor/mem/mallinfo.h"
#include "varururor/omi/int_multimap_iterator.h"

namespace {

template <typename T>
T ValueOf(int n) {
  if constexpr (std::is_pointer_v<T>) {
    return reinterpret_cast<T>(static_cast<std::uintptr_t>(n) * 8 + 4);
  } else {
    return n;
  }
}

template <typename T>
std::vector<std::pair<int, T>> Visit(omi_IntMultiMap<T> const& map) {
  std::vector<std::pair<int, T>> seen;
  omi_IntMultiMapIterator<T> it(map);
  for (it.First(); !it.IsDone(); it.Next()) seen.emplace_back(it.CurrentKey(), it.CurrentValue());
  return seen;
}

template <typename T>
std::vector<T> ValuesOf(omi_IntMultiMap<T> const& map, int key) {
  std::vector<T> values;
  for (auto const* link = map.Values(key); link != nullptr; link = link->next) {
    values.push_back(link->value);
  }
  return values;
}

// Every link block goes back with the map. The C heap's count of bytes in use takes the
// few small blocks it keeps cached per thread as used; a lost link array (2 KiB) is more.
TEST(IntMultiMap, GivesBackItsMemory) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer replaces the C library's heap and its statistics";
#endif
  auto use_a_map = [] {
    omi_IntMultiMap<int> map;
    for (int i = 0; i < 2000; ++i) map.Insert(i % 300, i);
    map.Compact();
  };
  use_a_map();  // the first use makes what the memory system keeps
  unsigned const before = mem_Mallinfo().in_use;
  use_a_map();
  EXPECT_LT(mem_Mallinfo().in_use, before + 1024);
}

TEST(IntMultiMap, CompactReversesOrSortsEachList) {
  omi_IntMultiMap<int> map;
  for (int v : {4, 1, 3, 1, 2}) map.Insert(8, v);
  map.Insert(-8, 5);
  map.Compact();
  EXPECT_EQ(ValuesOf(map, 8), (std::vector<int>{4, 1, 3, 1, 2})) << "the list reversed";
  map.Compact([](omi_IntMultiMapLink<int> const* a, omi_IntMultiMapLink<int> const* b) {
    return a->value - b->value;
  });
  EXPECT_EQ(ValuesOf(map, 8), (std::vector<int>{1, 1, 2, 3, 4}));
  EXPECT_EQ(ValuesOf(map, -8), (std::vector<int>{5}));
  EXPECT_EQ(map.LinksHandedOut(), 6u);
  map.Compact(nullptr);
  EXPECT_EQ(ValuesOf(map, 8), (std::vector<int>{4, 3, 2, 1, 1}));
}

// An order that gives up after a number of comparisons, as a failed allocation would.
int g_comparisons_left;
int FailingOrder(omi_IntMultiMapLink<int> const*, omi_IntMultiMapLink<int> const*) {
  if (--g_comparisons_left < 0) throw std::runtime_error("order");
  return 0;
}

TEST(IntMultiMap, RebuildFailingPartWayKeepsEveryValue) {
  omi_IntMultiMap<int> map;
  for (int i = 0; i < 1000; ++i) map.Insert(i % 10, i);
  // Compared as sorted lists: the keys rebuilt before the failure have their lists reversed.
  auto sorted = [&map] {
    auto pairs = Visit(map);
    std::sort(pairs.begin(), pairs.end());
    return pairs;
  };
  auto expected = sorted();
  g_comparisons_left = 500;
  EXPECT_THROW(map.Compact(FailingOrder), std::runtime_error);
  EXPECT_EQ(sorted(), expected);
  EXPECT_EQ(map.ValueCount(), 1000u);
  EXPECT_GE(map.LinksHandedOut(), 1000u);
  unsigned new_blocks = (map.LinksHandedOut() - 1000 + 255) / 256;
  EXPECT_EQ(map.LinkBlockCount(), 4 + new_blocks) << "the old blocks are kept beside the new ones";
  // Still a working map: a full rebuild brings it back to one link per value.
  map.Compact();
  EXPECT_EQ(map.LinksHandedOut(), 1000u);
  EXPECT_EQ(map.LinkBlockCount(), 4u);
  EXPECT_EQ(sorted(), expected);
}

TEST(IntMultiMap, IteratorBeforeFirstAndOnEmptyMap) {
  omi_IntMultiMap<void*> map;
  omi_IntMultiMapIterator<void*> it(map);
  EXPECT_TRUE(it.IsDone());
  it.Next();
  it.First();
  EXPECT_TRUE(it.IsDone());
  EXPECT_EQ(&it.Map(), &map);
  map.Insert(3, ValueOf<void*>(1));
  it.First();
  ASSERT_FALSE(it.IsDone());
  EXPECT_EQ(it.CurrentValue(), ValueOf<void*>(1));
  it.Next();
  EXPECT_TRUE(it.IsDone());
  it.Next();
  EXPECT_TRUE(it.IsDone());
}

// The map and a std::multimap in step. Each key's values lie in the multimap in the map's
// list order: a new value goes in front of its key's range, and a rebuild reverses it.
template <typename T>
class MultiMapModel {
 public:
  explicit MultiMapModel(unsigned seed) : random_(seed) {}

  void Run(int steps) {
    for (int step = 0; step < steps && !testing::Test::HasFailure(); ++step) {
      // Grow to a few hundred values, then shrink until the waste is rebuilt away or the
      // map is empty.
      if (growing_ && model_.size() >= target_) growing_ = false;
      std::string what = Step();
      SCOPED_TRACE("step " + std::to_string(step) + ": " + what);
      Check();
      if (step % 50 == 0) {
        EXPECT_EQ(Visit(map_), Contents());
        std::set<int> keys;
        for (auto const& kv : model_) keys.insert(kv.first);
        EXPECT_EQ(map_.KeyCount(), keys.size());
      }
    }
    EXPECT_GE(rebuilds_, 20) << "the sequence is to cross the rebuild threshold many times";
  }

 private:
  unsigned Pick(unsigned n) { return static_cast<unsigned>(random_() % n); }

  int RandomKey() {
    static constexpr int kExtremes[] = {INT_MIN, INT_MIN + 1, INT_MAX, -1, 0};
    if (Pick(20) == 0) return kExtremes[Pick(5)];
    return static_cast<int>(Pick(161)) - 80;
  }

  std::string Step() {
    int key = RandomKey();
    T value = ValueOf<T>(static_cast<int>(Pick(6)));
    unsigned action = Pick(1000);
    if (action < 1) {
      map_.Clear();
      model_.clear();
      handed_out_ = 0;
      return "clear";
    }
    if (action < 2) {
      map_.Compact();
      Rebuild();
      return "compact";
    }
    bool insert = action < (growing_ ? 850u : 250u);
    if (insert) {
      EXPECT_TRUE(map_.Insert(key, value));
      model_.emplace_hint(model_.lower_bound(key), key, value);
      ++handed_out_;
      return "insert " + std::to_string(key);
    }
    // Mostly a present key, so that removals do remove.
    if (!model_.empty() && Pick(4) != 0) {
      auto it = model_.lower_bound(key);
      if (it == model_.end()) it = model_.begin();
      key = it->first;
      if (Pick(2) == 0) value = it->second;
    }
    auto range = model_.equal_range(key);
    bool removed = false;
    if (Pick(8) == 0) {
      removed = range.first != range.second;
      model_.erase(range.first, range.second);
      EXPECT_EQ(map_.Remove(key), removed);
    } else {
      for (auto it = range.first; it != range.second;) {
        if (it->second == value) {
          it = model_.erase(it);
          removed = true;
        } else {
          ++it;
        }
      }
      EXPECT_EQ(map_.Remove(key, value), removed);
    }
    if (removed) FinishRemoval();
    return "remove " + std::to_string(key);
  }

  void FinishRemoval() {
    if (model_.empty()) {
      handed_out_ = 0;
    } else if (handed_out_ > 256 && handed_out_ / model_.size() >= 3) {
      Rebuild();
      ++rebuilds_;
    } else {
      return;
    }
    growing_ = true;
    target_ = 280 + Pick(220);
  }

  void Rebuild() {
    std::multimap<int, T> reversed;
    for (auto const& kv : model_) reversed.emplace_hint(reversed.lower_bound(kv.first), kv);
    model_.swap(reversed);
    handed_out_ = model_.size();
  }

  std::vector<std::pair<int, T>> Contents() const {
    return std::vector<std::pair<int, T>>(model_.begin(), model_.end());
  }

  void Check() {
    ASSERT_EQ(map_.ValueCount(), model_.size());
    ASSERT_EQ(map_.LinksHandedOut(), handed_out_);
    ASSERT_EQ(map_.LinkBlockCount(), (handed_out_ + 255) / 256);
    int key = RandomKey();
    T value = ValueOf<T>(static_cast<int>(Pick(6)));
    bool member = false;
    for (auto range = model_.equal_range(key); range.first != range.second; ++range.first) {
      member = member || range.first->second == value;
    }
    EXPECT_EQ(map_.IsMember(key, value), member);
  }

  std::mt19937 random_;
  omi_IntMultiMap<T> map_;
  std::multimap<int, T> model_;
  unsigned long handed_out_ = 0;
  bool growing_ = true;
  unsigned target_ = 400;
  int rebuilds_ = 0;
};

TEST(IntMultiMapModel, IntValues) { MultiMapModel<int>(3).Run(50000); }

TEST(IntMultiMapModel, PointerValues) { MultiMapModel<void*>(4).Run(50000); }

}  // namespace
