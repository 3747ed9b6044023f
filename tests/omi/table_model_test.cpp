// The integer-keyed tables and an integer set of their keys against a std::map.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <map>
#include <memory>
#include <new>
#include <random>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

#include "child_process.h"
#include "long_tests.h"
#include "varururor/mem/dlmalloc.h"
#include "varururor/omi/int_set.h"
#include "varururor/omi/int_set_iterator.h"
#include "varururor/omi/int_table.h"
#include "varururor/omi/int_table_iterator.h"
#include "varururor/omi/uint_table.h"
#include "varururor/omi/uint_table_iterator.h"

namespace {

template <typename T>
int DescendingKeys(void const* a, void const* b) {
  auto x = *static_cast<omi_UintTableSortRecord<T> const* const*>(a);
  auto y = *static_cast<omi_UintTableSortRecord<T> const* const*>(b);
  return x->key < y->key ? 1 : x->key > y->key ? -1 : 0;
}

// The default shape, and one whose small table blocks spread small keys over many blocks.
struct Shape {
  unsigned top_bits, split_bits, value_slots, shift;
};
constexpr Shape kShapes[] = {{12, 10, 24, 20}, {20, 4, 2, 12}};

template <typename T>
T ValueOf(unsigned n) {
  if constexpr (std::is_pointer_v<T>) {
    return reinterpret_cast<T>(static_cast<std::uintptr_t>(n) * 4);
  } else {
    return static_cast<T>(n) * T(3) / T(2);
  }
}

// The set's order for the keys as ints: negative ones by increasing magnitude, then others.
template <typename Model>
std::vector<int> SetOrder(Model const& model) {
  std::set<int> members;
  for (auto const& kv : model) members.insert(static_cast<int>(kv.first));
  std::vector<int> order(std::make_reverse_iterator(members.lower_bound(0)), members.rend());
  order.insert(order.end(), members.lower_bound(0), members.end());
  return order;
}

template <typename Table, typename Key, typename T>
class TableModel {
 public:
  static constexpr bool kSigned = std::is_signed_v<Key>;
  using Iterator = std::conditional_t<kSigned, omi_IntTableIterator<T>, omi_UintTableIterator<T>>;

  TableModel(unsigned seed, Shape shape)
      : random_(seed),
        shape_(shape),
        table_(new Table(shape.top_bits, shape.split_bits, shape.value_slots)) {}

  void Run(int steps) {
    CheckVisits();
    for (int step = 0; step < steps && !testing::Test::HasFailure(); ++step) {
      std::string what = Pick(20) == 0 ? Copy() : Step();
      SCOPED_TRACE("step " + std::to_string(step) + ": " + what);
      Check();
      if (step % 10 == 0) CheckVisits();
      if (step % 100 == 0) StaleVisits();
    }
  }

 private:
  unsigned Pick(unsigned n) { return std::uniform_int_distribution<unsigned>(0, n - 1)(random_); }

  // Dense, clustered, at table-block edges, at the ends of both ranges, anywhere.
  Key RandomKey() {
    static constexpr unsigned kCenters[] = {5000, 1u << 20, 123456789, 0x80000000u};
    unsigned const kind = Pick(9);
    unsigned key = random_();
    if (kind < 2) return static_cast<Key>(Pick(300)) - (kSigned ? 150 : 0);
    if (kind < 4) key = kCenters[Pick(4)] + Pick(64);
    if (kind == 4) key = ((1 + Pick(6)) << shape_.shift) + Pick(3) - 1;
    if (kind == 5) key = 0xFFFFFFFFu - Pick(4);
    if (kind == 6) key = 0x80000000u + Pick(4);
    return static_cast<Key>(key);
  }

  // The copy carries on; the table it was made from changes, then goes.
  std::string Copy() {
    std::unique_ptr<Table> copy;
    if constexpr (kSigned) {
      copy.reset(table_->Copy());
    } else {
      copy.reset(new Table(*table_));
    }
    table_.swap(copy);
    copy->Insert(RandomKey(), ValueOf<T>(1));
    if (!model_.empty()) copy->Remove(model_.begin()->first);
    return "copy";
  }

  std::string Step() {
    Key key = RandomKey();
    unsigned action = Pick(20);
    if (action == 0 && Pick(5) == 0) {
      table_->Clear();
      model_.clear();
      set_.Clear();
      return "clear";
    }
    if (action < 8) {
      // Mostly a present key, so that blocks empty.
      if (!model_.empty() && Pick(4) != 0) {
        auto it = model_.lower_bound(key);
        key = it == model_.end() ? model_.begin()->first : it->first;
      }
      Remove(key);
      return "remove " + std::to_string(key);
    }
    if (!model_.empty() && Pick(4) == 0) key = model_.rbegin()->first;  // overwrite
    T value = ValueOf<T>(Pick(1000000));
    bool fresh = model_.count(key) == 0;
    model_[key] = value;
    EXPECT_EQ(table_->Insert(key, value), fresh) << key;
    set_.Insert(static_cast<int>(key));
    return "insert " + std::to_string(key);
  }

  void Remove(Key key) {
    bool present = model_.erase(key) != 0;
    EXPECT_EQ(table_->Remove(key), present) << key;
    set_.Remove(static_cast<int>(key));
  }

  void Check() {
    ASSERT_EQ(static_cast<unsigned>(table_->Count()), model_.size());
    for (auto const& [key, value] : model_) {
      ASSERT_TRUE(table_->Find(key) != nullptr && *table_->Find(key) == value) << key;
    }
    ASSERT_EQ(set_.Size(), static_cast<int>(model_.size()));
    for (int probe = 0; probe < 16; ++probe) {
      Key key = RandomKey();
      ASSERT_EQ(table_->IsPresent(key), model_.count(key) != 0) << key;
      ASSERT_EQ(set_.IsMember(static_cast<int>(key)), model_.count(key) != 0) << key;
      if constexpr (!kSigned) {
        // A table block exists exactly while one of its keys is present.
        unsigned block = key >> shape_.shift;
        auto next = model_.lower_bound(block << shape_.shift);
        bool used = next != model_.end() && (next->first >> shape_.shift) == block;
        ASSERT_EQ(table_->FindBlock(key) != nullptr, used) << key;
      }
    }
  }

  template <typename Model>
  static void ExpectVisit(Iterator& it, Model const& model, bool backward) {
    auto step = [&it, backward] {
      if constexpr (!kSigned) {
        if (backward) return it.Prev();
      }
      it.Next();
    };
    auto m = model.begin();
    for (backward ? it.Last() : it.First(); !it.IsDone(); step(), ++m) {
      ASSERT_NE(m, model.end());
      ASSERT_EQ(it.CurrentKey(), m->first);
      ASSERT_EQ(it.CurrentValue(), m->second);
    }
    ASSERT_EQ(m, model.end());
    step();
    ASSERT_TRUE(it.IsDone()) << "a step past the end stays there";
  }

  void CheckVisits() {
    Iterator it(*table_);
    Iterator sorted(*table_, DescendingKeys<T>);
    ExpectVisit(it, model_, false);
    if constexpr (kSigned) {
      ExpectVisit(sorted, model_, false);  // the comparison does not reorder a signed visit
      // Last stands on the greatest non-negative key, or is done at once.
      it.Last();
      Key greatest = model_.empty() ? -1 : model_.rbegin()->first;
      ASSERT_EQ(it.IsDone(), greatest < 0);
      ASSERT_TRUE(it.IsDone() || it.CurrentKey() == greatest) << it.CurrentKey();
    } else {
      std::map<Key, T, std::greater<Key>> descending(model_.begin(), model_.end());
      ExpectVisit(it, descending, true);
      ExpectVisit(sorted, descending, false);
    }
  }

  // Iterators made before a change see it at First; then keys change between their steps.
  void StaleVisits() {
    Iterator it(*table_);
    Iterator sorted(*table_, DescendingKeys<T>);
    omi_SetIT set_it(set_);
    sorted.Next();  // steps before the start do nothing harmful
    Step();
    ExpectVisit(it, model_, false);
    std::vector<int> members;
    for (set_it.First(); !set_it.IsDone(); set_it.Next()) members.push_back(set_it.CurrentItem());
    ASSERT_EQ(members, SetOrder(model_));
    sorted.First();
    for (int s = 0; s < 40 && !sorted.IsDone(); ++s) {
      ASSERT_EQ(model_.count(sorted.CurrentKey()), 1u) << "stale step " << s;
      ASSERT_EQ(sorted.CurrentValue(), model_.at(sorted.CurrentKey()));
      if (Pick(4) == 0) {
        Remove(sorted.CurrentKey());
      } else {
        Step();
      }
      sorted.Next();
    }
    if constexpr (!kSigned) {
      ExpectVisit(sorted, model_, true);  // a later Last sees the table as it now is
    }
  }

  std::mt19937 random_;
  Shape shape_;
  std::unique_ptr<Table> table_;
  std::map<Key, T> model_;
  omi_Set set_;  // holds the keys as ints
};

template <typename Table, typename Key, typename T>
void RunModels(unsigned first_seed) {
  for (Shape const& shape : kShapes) {
    unsigned const seeds = static_cast<unsigned>(vr_TestLength(1, 3));
    for (unsigned seed = first_seed; seed < first_seed + seeds; ++seed) {
      SCOPED_TRACE("shape " + std::to_string(shape.top_bits) + ", seed " + std::to_string(seed));
      TableModel<Table, Key, T>(seed, shape).Run(2000);
    }
  }
}

TEST(TableModel, UnsignedKeysIntAndDoubleValues) {
  RunModels<omi_UintTable<int>, unsigned, int>(1);
  RunModels<omi_UintTable<double>, unsigned, double>(11);
}
// The void* table is the one whose Copy clients reach.
TEST(TableModel, SignedKeysPointerValues) { RunModels<omi_IntTable<void*>, int, void*>(31); }

// Top bits 0 and 40 are taken as 1 and 31, split bits 40 as all that are left.
TEST(UintTable, ShapesPastTheBitsThereAreAreClamped) {
  unsigned const shapes[][3] = {{0, 10, 24}, {40, 40, 0}, {12, 40, 0}};
  std::vector<unsigned> const keys = {0, 1, 1023, 1024, 65535};
  for (auto const& shape : shapes) {
    omi_UintTable<int> t(shape[0], shape[1], shape[2]);
    for (unsigned key : keys) EXPECT_TRUE(t.Insert(key, static_cast<int>(key)));
    for (unsigned key : keys) EXPECT_EQ(*t.Find(key), static_cast<int>(key));
  }
  omi_UintTable<int> t(40, 40, 0);
  EXPECT_THROW(t.Insert(0xFFFFFFFFu, 1), std::bad_alloc) << "2^31 directory slots";
  EXPECT_EQ(t.Find(0xFFFFFFFFu), nullptr);
}

// A failed copy gives back what it took; the size check stays silent on every table object.
TEST(UintTable, ACopyThatFailsPartWayGivesBackWhatItTook) {
  EXPECT_IN_CHILD(
      "^0$", setenv("KVN_DLALLOCATOR", "1", 1); setenv("KVN_DEBUG_MEMSIZE", "ON", 1); {
        std::unique_ptr<omi_IntTable<int>> signed_keys(new omi_IntTable<int>());
        for (int k = -3000; k < 3000; k += 3) signed_keys->Insert(k, k);
        omi_IntTableIterator<int> it(*signed_keys);
        it.First();
        omi_UintTable<double> t;
        for (unsigned block = 0; block < 4096; ++block) t.Insert(block << 20, 1);
        omi_UintTableIterator<double> sorted(t, DescendingKeys<double>);
        sorted.First();
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

}  // namespace
