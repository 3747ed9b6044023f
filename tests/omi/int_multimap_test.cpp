// The integer multimap against a std::multimap, link counters of its rebuild rule included.
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
#include <utility>
#include <vector>

#include "varururor/omi/int_multimap_iterator.h"
#include "varururor/omi/int_table_iterator.h"

namespace {

// Pointer values; ints are as wide on this target and take the same code.
using T = void*;

T ValueOf(int n) { return reinterpret_cast<T>(static_cast<std::uintptr_t>(n) * 8 + 4); }

template <typename V>
std::vector<std::pair<int, V>> Visit(omi_IntMultiMap<V> const& map) {
  std::vector<std::pair<int, V>> seen;
  omi_IntMultiMapIterator<V> it(map);
  EXPECT_TRUE(it.IsDone()) << "before First";
  for (it.First(); !it.IsDone(); it.Next()) seen.emplace_back(it.CurrentKey(), it.CurrentValue());
  it.Next();
  EXPECT_TRUE(it.IsDone()) << "a step past the end stays there";
  return seen;
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
  // Sorted, since the keys rebuilt before the failure have their lists reversed.
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
  unsigned new_blocks = (map.LinksHandedOut() - 1000 + 255) / 256;
  EXPECT_EQ(map.LinkBlockCount(), 4 + new_blocks) << "the old blocks are kept beside the new ones";
  map.Compact();  // still working: back to one link per value
  EXPECT_EQ(map.LinksHandedOut(), 1000u);
  EXPECT_EQ(sorted(), expected);
}

int Ascending(omi_IntMultiMapLink<T> const* a, omi_IntMultiMapLink<T> const* b) {
  return a->value < b->value ? -1 : b->value < a->value ? 1 : 0;
}

// Each key's values in the map's list order: new ones go in front, a rebuild reverses.
class MultiMapModel {
 public:
  explicit MultiMapModel(unsigned seed) : random_(seed) {}

  void Run(int steps) {
    CheckVisits();
    for (int step = 0; step < steps && !testing::Test::HasFailure(); ++step) {
      // Grow to a few hundred values, then shrink until rebuilt or empty.
      if (growing_ && model_.size() >= target_) growing_ = false;
      std::string what = Step();
      SCOPED_TRACE("step " + std::to_string(step) + ": " + what);
      Check();
      if (step % 50 == 0) CheckVisits();
      if (step % 1000 == 0) StaleVisit();
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
    T value = ValueOf(static_cast<int>(Pick(6)));
    unsigned action = Pick(1000);
    if (action < 1) {
      map_.Clear();
      model_.clear();
      handed_out_ = 0;
      return "clear";
    }
    if (action < 2) return Compact();
    if (action < (growing_ ? 850u : 250u)) {
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
    Remove(key, value, Pick(8) == 0);
    return "remove " + std::to_string(key);
  }

  // Without an order, or with a null one, each list is reversed; with one, sorted.
  std::string Compact() {
    unsigned kind = Pick(3);
    kind == 0 ? map_.Compact() : map_.Compact(kind == 1 ? nullptr : Ascending);
    Rebuild(kind == 2);
    return "compact " + std::to_string(kind);
  }

  void Remove(int key, T value, bool whole_key) {
    bool removed = false;
    for (auto it = model_.lower_bound(key); it != model_.end() && it->first == key;) {
      bool match = whole_key || it->second == value;
      removed = removed || match;
      it = match ? model_.erase(it) : std::next(it);
    }
    EXPECT_EQ(whole_key ? map_.Remove(key) : map_.Remove(key, value), removed);
    if (!removed) return;
    if (model_.empty()) {
      handed_out_ = 0;
    } else if (handed_out_ > 256 && handed_out_ / model_.size() >= 3) {
      Rebuild(false);
      ++rebuilds_;
    } else {
      return;
    }
    growing_ = true;
    target_ = 280 + Pick(220);
  }

  void Rebuild(bool sorted) {
    std::multimap<int, T> rebuilt;
    for (auto first = model_.begin(); first != model_.end();) {
      auto last = model_.upper_bound(first->first);
      std::vector<T> values;
      for (auto it = first; it != last; ++it) values.insert(values.begin(), it->second);
      if (sorted) std::sort(values.begin(), values.end());
      for (T const& value : values) rebuilt.emplace_hint(rebuilt.end(), first->first, value);
      first = last;
    }
    model_.swap(rebuilt);
    handed_out_ = model_.size();
  }

  void Check() {
    ASSERT_EQ(map_.ValueCount(), model_.size());
    ASSERT_EQ(map_.LinksHandedOut(), handed_out_);
    ASSERT_EQ(map_.LinkBlockCount(), (handed_out_ + 255) / 256);
    int key = RandomKey();
    T value = ValueOf(static_cast<int>(Pick(6)));
    auto range = model_.equal_range(key);
    auto held = [value](auto const& kv) { return kv.second == value; };
    EXPECT_EQ(map_.IsMember(key, value), std::any_of(range.first, range.second, held));
  }

  void CheckVisits() {
    EXPECT_EQ(Visit(map_), (std::vector<std::pair<int, T>>(model_.begin(), model_.end())));
    // To a client that knows only tables, the map holds each key once with its list's head.
    std::vector<int> keys;
    omi_IntTable<void*> const& table = map_;
    omi_IntTableIterator<void*> it(table);
    for (it.First(); !it.IsDone(); it.Next()) {
      keys.push_back(it.CurrentKey());
      EXPECT_EQ(it.CurrentValue(), map_.Values(it.CurrentKey()));
      EXPECT_EQ(map_.Values(it.CurrentKey())->value, model_.lower_bound(it.CurrentKey())->second);
    }
    std::set<int> expected;
    for (auto const& kv : model_) expected.insert(kv.first);
    EXPECT_EQ(keys, std::vector<int>(expected.begin(), expected.end()));
    EXPECT_EQ(table.Count(), expected.size());
  }

  // A visit whose map changes under it (forbidden, but survived) meets only held values.
  void StaleVisit() {
    omi_IntMultiMapIterator<T> it(map_);
    it.First();
    for (int s = 0; s < 400 && !it.IsDone(); ++s) {
      auto range = model_.equal_range(it.CurrentKey());
      auto held = [&it](auto const& kv) { return kv.second == it.CurrentValue(); };
      ASSERT_NE(std::find_if(range.first, range.second, held), range.second) << "stale step " << s;
      if (Pick(3) == 0) {
        Remove(it.CurrentKey(), it.CurrentValue(), Pick(2) == 0);
      } else if (Pick(20) == 0) {
        Compact();
      } else {
        Step();
      }
      it.Next();
    }
  }

  std::mt19937 random_;
  omi_IntMultiMap<T> map_;
  std::multimap<int, T> model_;
  unsigned long handed_out_ = 0;
  bool growing_ = true;
  unsigned target_ = 400;
  int rebuilds_ = 0;
};

TEST(IntMultiMapModel, PointerValues) { MultiMapModel(4).Run(50000); }

}  // namespace
