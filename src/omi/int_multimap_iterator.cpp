#include "varururor/omi/int_multimap_iterator.h"

#include <cstddef>

template <typename T>
omi_IntMultiMapIterator<T>::omi_IntMultiMapIterator(omi_IntMultiMap<T> const& map)
    : omi_IntTableIterator<void*>(map), link_(nullptr), map_(&map) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
  static_assert(sizeof(omi_IntMultiMapIterator) == 92, "the table iterator, then two pointers");
  static_assert(offsetof(omi_IntMultiMapIterator, link_) == 84 &&
                    offsetof(omi_IntMultiMapIterator, map_) == 88,
                "the current link, then the map");
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
  if (link_->next != nullptr) {
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
}

template class omi_IntMultiMapIterator<int>;
template class omi_IntMultiMapIterator<void*>;
