// Visits the values of an omi_IntMultiMap: the keys in ascending order, as the table
// iterator does, and under each key its links from the head of its list.
//
// Calling order: First, then while IsDone is false: CurrentKey, CurrentValue, Next. The map
// should not change between First and the end of the visit; a later First starts afresh.
// Should it change anyway, Next does not follow the current link: after a removal, rebuild
// or clear it goes on with the head of the next key's list (an insertion changes nothing
// the iterator holds), so it stands only on links and keys that exist.
#ifndef VARURUROR_OMI_INT_MULTIMAP_ITERATOR_H
#define VARURUROR_OMI_INT_MULTIMAP_ITERATOR_H

#include "varururor/frame/export.h"
#include "varururor/omi/int_multimap.h"
#include "varururor/omi/int_table_iterator.h"

// The table iterator is a protected base, since its own steps move by keys only and would
// leave the current link behind.
template <typename T>
class VR_API omi_IntMultiMapIterator : protected omi_IntTableIterator<void*> {
 public:
  using Link = omi_IntMultiMapLink<T>;

  explicit omi_IntMultiMapIterator(omi_IntMultiMap<T> const& map);
  omi_IntMultiMapIterator(omi_IntMultiMapIterator const&) = delete;
  omi_IntMultiMapIterator& operator=(omi_IntMultiMapIterator const&) = delete;
  ~omi_IntMultiMapIterator();

  void First();
  // On to the next link of the current key, else to the head of the next key's list.
  // Before First and after the end, nothing happens.
  void Next();
  bool IsDone() const { return link_ == nullptr; }
  int CurrentKey() const { return omi_IntTableIterator<void*>::CurrentKey(); }
  T const& CurrentValue() const { return link_->value; }
  omi_IntMultiMap<T> const& Map() const { return *map_; }

 private:
  // The head of the current key's list, or null when the keys are done; not exported.
  VR_HIDDEN void EnterKey();

  Link const* link_;
  omi_IntMultiMap<T> const* map_;
  // The map's Changes() when link_ was reached.
  unsigned int changes_seen_;
};

extern template class omi_IntMultiMapIterator<int>;
extern template class omi_IntMultiMapIterator<void*>;

#endif
