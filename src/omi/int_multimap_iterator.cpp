#include "varururor/omi/int_multimap_iterator.h"

#include <cstddef>

template <typename T>
omi_IntMultiMapIterator<T>::omi_IntMultiMapIterator(omi_IntMultiMap<T> const& map)
    : omi_IntTableIterator<void*>(map), link_(nullptr), map_(&map), changes_seen_(0) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
  static_assert(sizeof(omi_IntMultiMapIterator) == 96,
                "the table iterator, two pointers, the changes seen");
  static_assert(offsetof(omi_IntMultiMapIterator, link_) == 84 &&
                    offsetof(omi_IntMultiMapIterator, map_) == 88 &&
                    offsetof(omi_IntMultiMapIterator, changes_seen_) == 92,
                "the current link, the map, the changes seen");
#pragma GCC diagnostic pop
}

template <typename T>
omi_IntMultiMapIterator<T>::~omi_IntMultiMapIterator() = default;

template <typename T>
void omi_IntMultiMapIterator<T>::First() {
  omi_IntTableIterator<void*>::First();
  EnterKey();
}

template <typename T>
void omi_IntMultiMapIterator<T>::Next() {
  if (link_ == nullptr) return;
  // After a change the current link may be unlinked or freed: not followed.
  if (changes_seen_ == map_->Changes() && link_->next != nullptr) {
    link_ = link_->next;
    return;
  }
  omi_IntTableIterator<void*>::Next();
  EnterKey();
}

template <typename T>
void omi_IntMultiMapIterator<T>::EnterKey() {
  using Keys = omi_IntTableIterator<void*>;
  link_ = Keys::IsDone() ? nullptr : static_cast<Link const*>(Keys::CurrentValue());
  changes_seen_ = map_->Changes();
}

template class omi_IntMultiMapIterator<int>;
template class omi_IntMultiMapIterator<void*>;
