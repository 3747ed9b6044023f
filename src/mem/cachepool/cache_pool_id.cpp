#include "varururor/mem/cache_pool_id.h"

#include "varururor/mem/cache_item.h"
#include "varururor/mem/cache_pool.h"

template <class T>
T mem_CachePoolIDTyp<T>::Ptr(mem_CachePool* pool) const {
  return id_ == 0 ? nullptr : static_cast<T>(pool->Ptr(*this));
}

template class mem_CachePoolIDTyp<void*>;
template class mem_CachePoolIDTyp<mem_CacheItem*>;
