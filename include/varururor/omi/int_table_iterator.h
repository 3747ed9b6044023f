// Visits the keys of an omi_IntTable in ascending signed order: the negative keys from the
// most negative up, then 0 upward.
//
// Calling order as for omi_UintTableIterator: First (or Last), then while IsDone is false:
// CurrentKey, CurrentValue, Next. The table should not change between First and the end of
// the visit; a later First starts afresh on the table as it then is. Should it change
// anyway, Next still stands only on keys present at that moment, or ends the visit.
#ifndef VARURUROR_OMI_INT_TABLE_ITERATOR_H
#define VARURUROR_OMI_INT_TABLE_ITERATOR_H

#include "varururor/frame/export.h"
#include "varururor/omi/int_table.h"
#include "varururor/omi/uint_table_iterator.h"

template <typename T>
class VR_API omi_IntTableIterator {
 public:
  using CompareFunction = int (*)(void const*, void const*);

  explicit omi_IntTableIterator(omi_IntTable<T> const& table);
  // The comparison function is kept with the iterator but does not order the visit, which
  // stays ascending: for a sorted visit, use omi_UintTableIterator's sorted mode.
  omi_IntTableIterator(omi_IntTable<T> const& table, CompareFunction compare);
  omi_IntTableIterator(omi_IntTableIterator const&) = delete;
  omi_IntTableIterator& operator=(omi_IntTableIterator const&) = delete;
  ~omi_IntTableIterator();

  void First();
  // Stands on the greatest key; with no key >= 0 the visit is done at once.
  void Last();
  void Next();
  bool IsDone() const;
  int CurrentKey() const;
  T const& CurrentValue() const;

 protected:
  // Negative keys still to be visited before the visit passes to the non-negative table.
  int negatives_left_;
  // The negative table's key count, taken afresh by each First.
  int negative_count_;
  omi_UintTableIterator<T> negative_;
  omi_UintTableIterator<T> non_negative_;
  CompareFunction compare_;
};

extern template class omi_IntTableIterator<int>;
extern template class omi_IntTableIterator<double>;
extern template class omi_IntTableIterator<void*>;

#endif
