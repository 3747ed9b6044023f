// Random sequences of operations on the integer-keyed tables, checked after every step
// against a std::map: insertions (new keys and overwrites), removals, clears, copies,
// lookups, the life of table blocks, visits in ascending and descending order, and sorted
// visits with a descending comparison. Keys come dense, clustered, either side of
// table-block edges and at random over the 32-bit range; signed keys include the most
// negative integer.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <type_traits>

#include "long_tests.h"
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

// Values of each type, told apart by n.
template <typename T>
T ValueOf(unsigned n) {
  if constexpr (std::is_pointer_v<T>) {
    return reinterpret_cast<T>(static_cast<std::uintptr_t>(n) * 4);
  } else {
    return static_cast<T>(n) * T(3) / T(2);
  }
}

// Table is omi_UintTable<T> (unsigned keys) or omi_IntTable<T> (signed keys).
template <typename Table, typename Key, typename T>
class TableModel {
 public:
  static constexpr bool kSigned = std::is_signed_v<Key>;
  using Iterator = std::conditional_t<kSigned, omi_IntTableIterator<T>, omi_UintTableIterator<T>>;

  TableModel(unsigned seed, Shape shape) : random_(seed), shape_(shape) {
    table_.reset(new Table(shape.top_bits, shape.split_bits, shape.value_slots));
  }

  void Run(int steps) {
    for (int step = 0; step < steps && !testing::Test::HasFailure(); ++step) {
      std::string what = Step();
      SCOPED_TRACE("step " + std::to_string(step) + ": " + what);
      Check();
      if (step % 10 == 0) CheckVisits();
    }
  }

 private:
  unsigned Pick(unsigned n) { return std::uniform_int_distribution<unsigned>(0, n - 1)(random_); }

  Key RandomKey() {
    static constexpr unsigned kCenters[] = {5000, 1u << 20, 123456789, 0x80000000u};
    switch (Pick(9)) {
      case 0:
      case 1:
        return static_cast<Key>(Pick(300)) - (kSigned ? 150 : 0);  // dense
      case 2:
      case 3:
        return static_cast<Key>(kCenters[Pick(4)] + Pick(64));  // clustered
      case 4:
        return static_cast<Key>(((1 + Pick(6)) << shape_.shift) + Pick(3) - 1);  // block edges
      case 5:
        return static_cast<Key>(0xFFFFFFFFu - Pick(4));
      case 6:
        return static_cast<Key>(0x80000000u + Pick(4));  // INT_MIN and above when signed
      default:
        return static_cast<Key>(random_());
    }
  }

  std::string Step() {
    Key key = RandomKey();
    unsigned action = Pick(20);
    if (action == 0) {
      std::unique_ptr<Table> copy;
      if constexpr (kSigned) {
        copy.reset(table_->Copy());
      } else {
        copy.reset(new Table(*table_));
      }
      // The copy carries on; the table it was made from changes, then goes.
      table_.swap(copy);
      copy->Insert(key, ValueOf<T>(1));
      if (!model_.empty()) copy->Remove(model_.begin()->first);
      return "copy";
    }
    if (action == 1 && Pick(5) == 0) {
      table_->Clear();
      model_.clear();
      return "clear";
    }
    if (action < 8) {
      // Mostly a present key, so that blocks empty.
      if (!model_.empty() && Pick(4) != 0) {
        auto it = model_.lower_bound(key);
        key = it == model_.end() ? model_.begin()->first : it->first;
      }
      bool present = model_.erase(key) != 0;
      EXPECT_EQ(table_->Remove(key), present) << key;
      return "remove " + std::to_string(key);
    }
    if (!model_.empty() && Pick(4) == 0) key = model_.rbegin()->first;  // overwrite
    T value = ValueOf<T>(Pick(1000000));
    bool fresh = model_.count(key) == 0;
    model_[key] = value;
    EXPECT_EQ(table_->Insert(key, value), fresh) << key;
    return "insert " + std::to_string(key);
  }

  void Check() {
    ASSERT_EQ(static_cast<unsigned>(table_->Count()), model_.size());
    for (auto const& [key, value] : model_) {
      T const* cell = table_->Find(key);
      ASSERT_NE(cell, nullptr) << key;
      ASSERT_EQ(*cell, value) << key;
    }
    for (int probe = 0; probe < 16; ++probe) {
      Key key = RandomKey();
      ASSERT_EQ(table_->IsPresent(key), model_.count(key) != 0) << key;
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
    auto m = model.begin();
    if (backward) {
      it.Last();
    } else {
      it.First();
    }
    for (; !it.IsDone(); ++m) {
      ASSERT_NE(m, model.end());
      ASSERT_EQ(it.CurrentKey(), m->first);
      ASSERT_EQ(it.CurrentValue(), m->second);
      if constexpr (kSigned) {
        it.Next();
      } else if (backward) {
        it.Prev();
      } else {
        it.Next();
      }
    }
    ASSERT_EQ(m, model.end());
  }

  void CheckVisits() {
    Iterator it(*table_);
    ExpectVisit(it, model_, false);
    if constexpr (kSigned) {
      // Last stands on the greatest non-negative key, or is done at once.
      it.Last();
      bool any = !model_.empty() && model_.rbegin()->first >= 0;
      ASSERT_EQ(it.IsDone(), !any);
      if (any) {
        ASSERT_EQ(it.CurrentKey(), model_.rbegin()->first);
      }
    } else {
      std::map<Key, T, std::greater<Key>> descending(model_.begin(), model_.end());
      ExpectVisit(it, descending, true);
      Iterator sorted(*table_, DescendingKeys<T>);
      ExpectVisit(sorted, descending, false);
      ExpectVisit(sorted, model_, true);
    }
  }

  std::mt19937 random_;
  Shape shape_;
  std::unique_ptr<Table> table_;
  std::map<Key, T> model_;
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

TEST(TableModel, UnsignedKeysIntValues) { RunModels<omi_UintTable<int>, unsigned, int>(1); }
TEST(TableModel, UnsignedKeysDoubleValues) {
  RunModels<omi_UintTable<double>, unsigned, double>(11);
}
TEST(TableModel, UnsignedKeysPointerValues) {
  RunModels<omi_UintTable<void*>, unsigned, void*>(21);
}
// The void* table is the one whose Copy clients reach.
TEST(TableModel, SignedKeysPointerValues) { RunModels<omi_IntTable<void*>, int, void*>(31); }

}  // namespace
