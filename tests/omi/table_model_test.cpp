// Random sequences of operations on integer-keyed tables, checked after every step against
// a std::map: insertions (new and overwriting), removals, clears, copies, lookups, visits in
// ascending and descending order and sorted visits with a descending comparison. Keys come
// dense, clustered, at table-block edges and at random over the whole 32-bit range; signed
// keys include the most negative integer.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <map>
#include <memory>
#include <random>
#include <string>

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

// The shapes the tables are built with: the default, and one whose small table blocks make
// small keys spread over many blocks.
struct Shape {
  unsigned top_bits;
  unsigned split_bits;
  unsigned value_slots;
  unsigned shift;
};
constexpr Shape kShapes[] = {{12, 10, 24, 20}, {20, 4, 2, 12}};

class KeySource {
 public:
  explicit KeySource(unsigned seed) : random_(seed) {}

  unsigned Pick(unsigned n) { return std::uniform_int_distribution<unsigned>(0, n - 1)(random_); }

  unsigned Key(unsigned shift) {
    switch (Pick(8)) {
      case 0:
      case 1:
        return Pick(300);  // dense
      case 2:
      case 3:
        return kCenters[Pick(4)] + Pick(64);  // clustered
      case 4:
        return ((1 + Pick(6)) << shift) + Pick(3) - 1;  // either side of a table-block edge
      case 5:
        return 0xFFFFFFFFu - Pick(4);
      default:
        return static_cast<unsigned>(random_());
    }
  }

 private:
  static constexpr unsigned kCenters[] = {5000, 1u << 20, 123456789, 0x80000000u};
  std::mt19937 random_;
};

// Values of each type, told apart by n.
template <typename T>
T ValueOf(unsigned n);
template <>
int ValueOf<int>(unsigned n) {
  return static_cast<int>(n) - 500000;
}
template <>
double ValueOf<double>(unsigned n) {
  return n * 0.25;
}
template <>
void* ValueOf<void*>(unsigned n) {
  return reinterpret_cast<void*>(static_cast<std::uintptr_t>(n) * 4);
}

// An omi_UintTable<T> against std::map<unsigned, T>.
template <typename T>
class UintTableModel {
 public:
  UintTableModel(unsigned seed, Shape shape) : keys_(seed), shape_(shape) {
    table_.reset(new omi_UintTable<T>(shape.top_bits, shape.split_bits, shape.value_slots));
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
  std::string Step() {
    unsigned key = keys_.Key(shape_.shift);
    switch (keys_.Pick(20)) {
      case 0: {
        std::unique_ptr<omi_UintTable<T>> copy(new omi_UintTable<T>(*table_));
        table_.swap(copy);
        // The copy carries on; it must not be affected by changes to the table it was made
        // from, which then goes.
        if (!model_.empty()) copy->Insert(model_.begin()->first, ValueOf<T>(1));
        copy->Insert(key, ValueOf<T>(2));
        copy.reset();
        return "copy";
      }
      case 1:
        if (keys_.Pick(5) != 0) return "no clear";
        table_->Clear();
        model_.clear();
        return "clear";
      case 2:
      case 3:
      case 4:
      case 5:
      case 6: {
        // Mostly a present key, so that removals happen and blocks empty.
        if (!model_.empty() && keys_.Pick(4) != 0) {
          auto it = model_.lower_bound(key);
          key = it == model_.end() ? model_.begin()->first : it->first;
        }
        bool present = model_.erase(key) != 0;
        EXPECT_EQ(table_->Remove(key), present) << key;
        return "remove " + std::to_string(key);
      }
      default: {
        if (!model_.empty() && keys_.Pick(4) == 0) key = model_.rbegin()->first;  // overwrite
        T value = ValueOf<T>(keys_.Pick(1000000));
        bool fresh = model_.count(key) == 0;
        model_[key] = value;
        EXPECT_EQ(table_->Insert(key, value), fresh) << key;
        return "insert " + std::to_string(key);
      }
    }
  }

  void Check() {
    ASSERT_EQ(table_->Count(), static_cast<int>(model_.size()));
    for (auto const& [key, value] : model_) {
      T const* cell = table_->Find(key);
      ASSERT_NE(cell, nullptr) << key;
      ASSERT_EQ(*cell, value) << key;
    }
    for (int probe = 0; probe < 16; ++probe) {
      unsigned key = keys_.Key(shape_.shift);
      ASSERT_EQ(table_->IsPresent(key), model_.count(key) != 0) << key;
      // A table block exists exactly while one of its keys is present.
      unsigned block = key >> shape_.shift;
      auto next = model_.lower_bound(block << shape_.shift);
      bool block_used = next != model_.end() && (next->first >> shape_.shift) == block;
      ASSERT_EQ(table_->FindBlock(key) != nullptr, block_used) << key;
    }
  }

  void CheckVisits() {
    omi_UintTableIterator<T> it(*table_);
    auto m = model_.begin();
    for (it.First(); !it.IsDone(); it.Next(), ++m) {
      ASSERT_NE(m, model_.end());
      ASSERT_EQ(it.CurrentKey(), m->first);
      ASSERT_EQ(it.CurrentValue(), m->second);
    }
    ASSERT_EQ(m, model_.end());
    auto r = model_.rbegin();
    for (it.Last(); !it.IsDone(); it.Prev(), ++r) {
      ASSERT_NE(r, model_.rend());
      ASSERT_EQ(it.CurrentKey(), r->first);
    }
    ASSERT_EQ(r, model_.rend());
    // A sorted visit in descending order, and back up again with Prev from its end.
    omi_UintTableIterator<T> sorted(*table_, DescendingKeys<T>);
    r = model_.rbegin();
    for (sorted.First(); !sorted.IsDone(); sorted.Next(), ++r) {
      ASSERT_NE(r, model_.rend());
      ASSERT_EQ(sorted.CurrentKey(), r->first);
      ASSERT_EQ(sorted.CurrentValue(), r->second);
    }
    ASSERT_EQ(r, model_.rend());
    m = model_.begin();
    for (sorted.Last(); !sorted.IsDone(); sorted.Prev(), ++m) {
      ASSERT_NE(m, model_.end());
      ASSERT_EQ(sorted.CurrentKey(), m->first);
    }
    ASSERT_EQ(m, model_.end());
  }

  KeySource keys_;
  Shape shape_;
  std::unique_ptr<omi_UintTable<T>> table_;
  std::map<unsigned, T> model_;
};

template <typename T>
void RunUintTableModels() {
  for (Shape const& shape : kShapes) {
    for (unsigned seed = 1; seed <= 3; ++seed) {
      SCOPED_TRACE("shape " + std::to_string(shape.top_bits) + ", seed " + std::to_string(seed));
      UintTableModel<T>(seed, shape).Run(2000);
    }
  }
}

TEST(UintTableModel, IntValues) { RunUintTableModels<int>(); }
TEST(UintTableModel, DoubleValues) { RunUintTableModels<double>(); }
TEST(UintTableModel, PointerValues) { RunUintTableModels<void*>(); }

// An omi_IntTable<void*> (the one whose Copy clients reach) against std::map<int, void*>.
class IntTableModel {
 public:
  IntTableModel(unsigned seed, Shape shape) : keys_(seed), shape_(shape) {
    table_.reset(new omi_IntTable<void*>(shape.top_bits, shape.split_bits, shape.value_slots));
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
  int Key() {
    switch (keys_.Pick(6)) {
      case 0:
        return INT_MIN + static_cast<int>(keys_.Pick(2));
      case 1:
        return INT_MAX - static_cast<int>(keys_.Pick(2));
      case 2:
        return static_cast<int>(keys_.Pick(41)) - 20;
      default:
        return static_cast<int>(keys_.Key(shape_.shift));
    }
  }

  std::string Step() {
    int key = Key();
    switch (keys_.Pick(16)) {
      case 0:
        if (keys_.Pick(5) != 0) return "no clear";
        table_->Clear();
        model_.clear();
        return "clear";
      case 1:
        if (keys_.Pick(3) != 0) return "no copy";
        copy_.reset(table_->Copy());
        copy_model_ = model_;
        return "copy";
      case 2:
      case 3:
      case 4:
      case 5: {
        if (!model_.empty() && keys_.Pick(4) != 0) {
          auto it = model_.lower_bound(key);
          key = it == model_.end() ? model_.begin()->first : it->first;
        }
        bool present = model_.erase(key) != 0;
        EXPECT_EQ(table_->Remove(key), present) << key;
        return "remove " + std::to_string(key);
      }
      default: {
        void* value = ValueOf<void*>(keys_.Pick(1000));
        bool fresh = model_.count(key) == 0;
        model_[key] = value;
        EXPECT_EQ(table_->Insert(key, value), fresh) << key;
        return "insert " + std::to_string(key);
      }
    }
  }

  void Check() {
    ASSERT_EQ(table_->Count(), model_.size());
    for (auto const& [key, value] : model_) {
      void* const* cell = table_->Find(key);
      ASSERT_NE(cell, nullptr) << key;
      ASSERT_EQ(*cell, value) << key;
    }
    for (int probe = 0; probe < 8; ++probe) {
      int key = Key();
      ASSERT_EQ(table_->IsPresent(key), model_.count(key) != 0) << key;
    }
    if (copy_ != nullptr) {
      ASSERT_EQ(copy_->Count(), copy_model_.size());
      for (auto const& [key, value] : copy_model_) ASSERT_EQ(*copy_->Find(key), value) << key;
    }
  }

  void CheckVisits() {
    omi_IntTableIterator<void*> it(*table_);
    auto m = model_.begin();
    for (it.First(); !it.IsDone(); it.Next(), ++m) {
      ASSERT_NE(m, model_.end());
      ASSERT_EQ(it.CurrentKey(), m->first);
      ASSERT_EQ(it.CurrentValue(), m->second);
    }
    ASSERT_EQ(m, model_.end());
    it.Last();
    auto last = model_.rbegin();
    bool any_non_negative = last != model_.rend() && last->first >= 0;
    ASSERT_EQ(it.IsDone(), !any_non_negative);
    if (any_non_negative) {
      ASSERT_EQ(it.CurrentKey(), last->first);
    }
  }

  KeySource keys_;
  Shape shape_;
  std::unique_ptr<omi_IntTable<void*>> table_;
  std::unique_ptr<omi_IntTable<void*>> copy_;
  std::map<int, void*> model_;
  std::map<int, void*> copy_model_;
};

TEST(IntTableModel, RandomOperationsOnSignedKeysAgainstAMap) {
  for (Shape const& shape : kShapes) {
    for (unsigned seed = 11; seed <= 15; ++seed) {
      SCOPED_TRACE("shape " + std::to_string(shape.top_bits) + ", seed " + std::to_string(seed));
      IntTableModel(seed, shape).Run(2500);
    }
  }
}

}  // namespace
