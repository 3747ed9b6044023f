#include "varururor/omi/int_table_iterator.h"

#include <cstddef>

template <typename T>
omi_IntTableIterator<T>::omi_IntTableIterator(omi_IntTable<T> const& table)
    : omi_IntTableIterator(table, nullptr) {}

template <typename T>
omi_IntTableIterator<T>::omi_IntTableIterator(omi_IntTable<T> const& table, CompareFunction compare)
    : negatives_left_(0),
      negative_count_(table.negative_->Count()),
      negative_(*table.negative_),
      non_negative_(*table.non_negative_),
      compare_(compare) {
  static_assert(sizeof(omi_IntTableIterator) == 84, "two counts, two iterators, the function");
  static_assert(offsetof(omi_IntTableIterator, negatives_left_) == 0 &&
                    offsetof(omi_IntTableIterator, negative_count_) == 4 &&
                    offsetof(omi_IntTableIterator, negative_) == 8 &&
                    offsetof(omi_IntTableIterator, non_negative_) == 44 &&
                    offsetof(omi_IntTableIterator, compare_) == 80,
                "negatives left, negative count, the two iterators, the function");
}

// The members are destroyed in the reverse of their order: the non-negative iterator first.
template <typename T>
omi_IntTableIterator<T>::~omi_IntTableIterator() = default;

template <typename T>
void omi_IntTableIterator<T>::First() {
  // Taken afresh, so that an iterator made before the table was filled visits it whole.
  negative_count_ = negative_.table_->Count();
  negatives_left_ = negative_count_;
  // The negative keys come most negative first: from the largest magnitude down.
  negative_.Last();
  non_negative_.First();
}

template <typename T>
void omi_IntTableIterator<T>::Last() {
  negatives_left_ = 0;
  negative_.First();
  non_negative_.Last();
}

template <typename T>
void omi_IntTableIterator<T>::Next() {
  if (negatives_left_ == 0) {
    non_negative_.Next();
    return;
  }
  --negatives_left_;
  if (negatives_left_ != 0) {
    negative_.Prev();
    // Fewer negative keys than counted at First: the table has changed since.
    if (!negative_.IsDone()) return;
    negatives_left_ = 0;
  }
  // On to the non-negative keys, from the first one the table holds now: a key that stood
  // first at First may be gone.
  non_negative_.First();
}

template <typename T>
bool omi_IntTableIterator<T>::IsDone() const {
  return negatives_left_ == 0 && non_negative_.IsDone();
}

template <typename T>
int omi_IntTableIterator<T>::CurrentKey() const {
  if (negatives_left_ == 0) return static_cast<int>(non_negative_.CurrentKey());
  return static_cast<int>(0u - negative_.CurrentKey());
}

template <typename T>
T const& omi_IntTableIterator<T>::CurrentValue() const {
  return negatives_left_ != 0 ? negative_.CurrentValue() : non_negative_.CurrentValue();
}

template class omi_IntTableIterator<int>;
template class omi_IntTableIterator<double>;
template class omi_IntTableIterator<void*>;
