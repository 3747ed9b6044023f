// A map from signed 32-bit keys to values of a fixed-size type: two omi_UintTable, one for
// the negative keys (held under their magnitude) and one for the others. Instantiated for
// int, double and void*.
#ifndef VARURUROR_OMI_INT_TABLE_H
#define VARURUROR_OMI_INT_TABLE_H

#include "varururor/frame/export.h"
#include "varururor/mem/operators.h"
#include "varururor/omi/uint_table.h"

template <typename T>
class omi_IntTableIterator;

template <typename T>
class VR_API omi_IntTable : public mem_AllocationOperatorsTiny {
 public:
  // Both tables with the default shape of omi_UintTable.
  omi_IntTable();
  // Both tables with this shape (see omi_UintTable).
  omi_IntTable(unsigned int top_bits, unsigned int split_bits, unsigned int value_slots);
  omi_IntTable& operator=(omi_IntTable const&) = delete;
  virtual ~omi_IntTable();

  // A deep copy, owned by the caller. Clients reach it for void* tables only (see the
  // declaration after the class); the int and double tables copy inside the library.
  VR_HIDDEN omi_IntTable* Copy() const;

  // As omi_UintTable's: true when the key was new, resp. was present and is now gone.
  bool Insert(int key, T const& value) { return TableOf(key).Insert(Place(key), value); }
  bool Remove(int key) { return TableOf(key).Remove(Place(key)); }
  void Clear() {
    negative_->Clear();
    non_negative_->Clear();
  }

  // The value cell of key, or null when the key is absent.
  T* Find(int key) const { return TableOf(key).Find(Place(key)); }
  bool IsPresent(int key) const { return Find(key) != nullptr; }
  // The number of keys; it passes the range of int only past 2^31 keys.
  unsigned int Count() const {
    return static_cast<unsigned int>(negative_->Count()) +
           static_cast<unsigned int>(non_negative_->Count());
  }

 protected:
  friend class omi_IntTableIterator<T>;

  omi_IntTable(omi_IntTable const& other);

  // The key under which key lives in its table: a key k < 0 as -k (two's complement, so
  // the most negative integer is 0x80000000), any other as itself.
  static unsigned int Place(int key) {
    unsigned int bits = static_cast<unsigned int>(key);
    return key < 0 ? 0u - bits : bits;
  }
  omi_UintTable<T>& TableOf(int key) const { return key < 0 ? *negative_ : *non_negative_; }

  omi_UintTable<T>* negative_;
  omi_UintTable<T>* non_negative_;
};

template <>
VR_API omi_IntTable<void*>* omi_IntTable<void*>::Copy() const;

extern template class omi_IntTable<int>;
extern template class omi_IntTable<double>;
extern template class omi_IntTable<void*>;

#endif
