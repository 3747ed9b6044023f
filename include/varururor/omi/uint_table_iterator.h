// Visits the keys of an omi_UintTable, in ascending order or in an order of the caller's.
//
// Ordinary mode walks the directory and each table block's bit vector, so keys come out in
// ascending order without sorting. Sorted mode (a comparison function given) builds a list
// of one record per key and sorts it with qsort; the comparison function receives two
// pointers to list slots, each slot holding an omi_UintTableSortRecord<T> const*.
//
// Calling order: First (or Last), then while IsDone is false: CurrentKey, CurrentValue,
// Next (or Prev). CurrentKey and CurrentValue are meaningful only while IsDone is false
// after First or Last. The table should not change between First and the end of the visit;
// a later First or Last starts afresh on the table as it then is. Should it change anyway,
// Next and Prev still stand only on keys present at that moment (or end the visit): a step
// from a table block that has been freed goes on with the next block, and a sorted visit
// passes over the records of keys that are gone. CurrentKey and CurrentValue tell what the
// last step found.
#ifndef VARURUROR_OMI_UINT_TABLE_ITERATOR_H
#define VARURUROR_OMI_UINT_TABLE_ITERATOR_H

#include <cstdlib>

#include "varururor/frame/export.h"
#include "varururor/mem/operators.h"
#include "varururor/omi/bit_vector_traversal.h"
#include "varururor/omi/blocked_array.h"
#include "varururor/omi/uint_table.h"

// One key of a sorted visit and its value cell in the table.
template <typename T>
struct omi_UintTableSortRecord : public mem_AllocationOperatorsTiny {
  unsigned int key;
  T* value;
};

template <typename T>
class omi_IntTableIterator;

template <typename T>
class VR_API omi_UintTableIterator {
 public:
  using CompareFunction = int (*)(void const*, void const*);
  using SortRecord = omi_UintTableSortRecord<T>;

  explicit omi_UintTableIterator(omi_UintTable<T> const& table)
      : omi_UintTableIterator(table, nullptr) {}
  // compare null: ordinary mode.
  omi_UintTableIterator(omi_UintTable<T> const& table, CompareFunction compare)
      : table_(&table),
        cell_(0),
        block_base_(0),
        position_(kNotStarted),
        block_(nullptr),
        traversal_(nullptr),
        done_(false),
        compare_(compare),
        sorted_(nullptr) {}
  omi_UintTableIterator(omi_UintTableIterator const&) = delete;
  omi_UintTableIterator& operator=(omi_UintTableIterator const&) = delete;
  ~omi_UintTableIterator();

  void First() {
    if (compare_ != nullptr) {
      done_ = Sort() == 0;
      position_ = done_ ? kBeforeFirst : 0;
      return;
    }
    position_ = kBeforeFirst;
    done_ = !NextBlockForward();
  }
  void Last() {
    if (compare_ != nullptr) {
      int records = Sort();
      done_ = records == 0;
      position_ = records - 1;
      return;
    }
    position_ = table_->directory_length_;
    done_ = !NextBlockBackward();
  }
  // Before the first First or Last, Next and Prev do nothing.
  void Next() {
    if (compare_ != nullptr) {
      if (sorted_ == nullptr) return;
      // The list ends with a null slot, at which the position stays.
      do {
        if (sorted_[position_] != nullptr) ++position_;
      } while (sorted_[position_] != nullptr && !IsCurrent(sorted_[position_]));
      done_ = sorted_[position_] == nullptr;
      return;
    }
    if (traversal_ == nullptr) return;
    if (BlockIsGone()) {
      done_ = !NextBlockForward();
      return;
    }
    if (traversal_->Next(cell_)) return;
    done_ = !NextBlockForward();
  }
  void Prev() {
    if (compare_ != nullptr) {
      if (sorted_ == nullptr) return;
      while (position_ > 0) {
        if (IsCurrent(sorted_[--position_])) {
          done_ = false;
          return;
        }
      }
      done_ = true;
      return;
    }
    if (traversal_ == nullptr) return;
    if (BlockIsGone()) {
      done_ = !NextBlockBackward();
      return;
    }
    if (traversal_->Prev(cell_)) return;
    done_ = !NextBlockBackward();
  }

  bool IsDone() const { return done_; }
  unsigned int CurrentKey() const {
    return compare_ != nullptr ? sorted_[position_]->key : block_base_ + cell_;
  }
  T const& CurrentValue() const {
    return compare_ != nullptr ? *sorted_[position_]->value : block_->CellRef(cell_);
  }

 private:
  friend class omi_IntTableIterator<T>;

  // position_ before a visit has started, and before the first directory slot.
  static constexpr int kNotStarted = -2;
  static constexpr int kBeforeFirst = -1;

  // On to the first present block after (before) the position, standing on its lowest
  // (highest) key; false when there is none. The position stays just outside the
  // directory then.
  bool NextBlockForward() {
    int length = table_->directory_length_;
    while (++position_ < length && table_->directory_[position_] == nullptr) {
    }
    if (position_ >= length) {
      position_ = length;
      return false;
    }
    EnterBlock();
    return traversal_->First(cell_);
  }
  bool NextBlockBackward() {
    while (--position_ >= 0 && table_->directory_[position_] == nullptr) {
    }
    if (position_ < 0) {
      position_ = kBeforeFirst;
      return false;
    }
    EnterBlock();
    return traversal_->Last(cell_);
  }
  void EnterBlock() {
    block_ = table_->directory_[position_];
    block_base_ = static_cast<unsigned int>(position_) << table_->shift_;
    delete traversal_;
    traversal_ = nullptr;
    traversal_ = new omi_BlkBitVectTrav(&block_->Occupied());
  }

  // Whether the current table block is no longer in the table (freed when its last key
  // was removed, or by Clear): its traversal must not be stepped then. The traversal goes
  // with it, and the position stays, so that the visit goes on from the next slot.
  bool BlockIsGone() {
    if (position_ >= 0 && position_ < table_->directory_length_ &&
        table_->directory_[position_] == block_) {
      return false;
    }
    delete traversal_;
    traversal_ = nullptr;
    return true;
  }
  // Whether a sorted-visit record still names a present key and its cell.
  bool IsCurrent(SortRecord const* record) const {
    return table_->Find(record->key) == record->value;
  }

  // Builds the sorted-visit list afresh; returns the number of records. The list is taken
  // one slot longer than the records and ends with a null slot, so that the iterator never
  // reads or frees past the records it built, even if the table has changed since.
  int Sort() {
    FreeSorted();
    int count = table_->count_;
    if (count < 1) return 0;
    sorted_ = static_cast<SortRecord**>(omi_TakeZeroed((count + 1ull) * sizeof(SortRecord*)));
    position_ = 0;
    int records = 0;
    omi_UintTableIterator visit(*table_);
    for (visit.First(); records < count && !visit.IsDone(); visit.Next()) {
      SortRecord* record = new SortRecord;
      record->key = visit.CurrentKey();
      record->value = &visit.block_->CellRef(visit.cell_);
      sorted_[records++] = record;
    }
    std::qsort(sorted_, static_cast<unsigned int>(records), sizeof(SortRecord*), compare_);
    return records;
  }
  void FreeSorted() {
    if (sorted_ == nullptr) return;
    for (SortRecord** slot = sorted_; *slot != nullptr; ++slot) delete *slot;
    mem_Free(sorted_);
    sorted_ = nullptr;
  }

  omi_UintTable<T> const* table_;
  unsigned int cell_;
  unsigned int block_base_;
  int position_;
  omi_UintTableBlock<T>* block_;
  omi_BlkBitVectTrav* traversal_;
  bool done_;
  CompareFunction compare_;
  SortRecord** sorted_;
};

#endif
