#include "varururor/omi/int_table.h"

#include <cstddef>

template <typename T>
omi_IntTable<T>::omi_IntTable()
    : omi_IntTable(omi_UintTable<T>::kDefaultTopBits, omi_UintTable<T>::kDefaultSplitBits,
                   omi_UintTable<T>::kDefaultValueSlots) {}

template <typename T>
omi_IntTable<T>::omi_IntTable(unsigned int top_bits, unsigned int split_bits,
                              unsigned int value_slots)
    : negative_(new omi_UintTable<T>(top_bits, split_bits, value_slots)), non_negative_(nullptr) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
  static_assert(sizeof(omi_IntTable) == 12, "virtual table, then the two tables");
  static_assert(
      offsetof(omi_IntTable, negative_) == 4 && offsetof(omi_IntTable, non_negative_) == 8,
      "the negative table comes first");
#pragma GCC diagnostic pop
  try {
    non_negative_ = new omi_UintTable<T>(top_bits, split_bits, value_slots);
  } catch (...) {
    delete negative_;
    throw;
  }
}

template <typename T>
omi_IntTable<T>::omi_IntTable(omi_IntTable const& other)
    : negative_(new omi_UintTable<T>(*other.negative_)), non_negative_(nullptr) {
  try {
    non_negative_ = new omi_UintTable<T>(*other.non_negative_);
  } catch (...) {
    delete negative_;
    throw;
  }
}

template <typename T>
omi_IntTable<T>::~omi_IntTable() {
  delete negative_;
  delete non_negative_;
}

template <typename T>
omi_IntTable<T>* omi_IntTable<T>::Copy() const {
  return new omi_IntTable(*this);
}

template <>
omi_IntTable<void*>* omi_IntTable<void*>::Copy() const {
  return new omi_IntTable(*this);
}

template class omi_IntTable<int>;
template class omi_IntTable<double>;
template class omi_IntTable<void*>;
