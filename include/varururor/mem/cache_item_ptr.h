// mem_CacheItemPtr: how a cache item is named, by its pool and its handle there, so that
// a pool may move its storage without leaving stale addresses behind.
#ifndef VARURUROR_MEM_CACHE_ITEM_PTR_H
#define VARURUROR_MEM_CACHE_ITEM_PTR_H

#include "varururor/frame/export.h"
#include "varururor/mem/cache_pool_id.h"

class mem_CachePool;
class mem_CacheItem;

class VR_API mem_CacheItemPtr {
 public:
  mem_CacheItemPtr() : pool_(nullptr), handle_() {}
  mem_CacheItemPtr(mem_CachePool* pool, mem_CachePoolIDTyp<mem_CacheItem*> handle)
      : pool_(pool), handle_(handle) {}

  // The item's address now; null for the null handle.
  mem_CacheItem* Ptr() const;

  mem_CachePool* Pool() const { return pool_; }
  mem_CachePoolIDTyp<mem_CacheItem*> Handle() const { return handle_; }
  bool IsNull() const { return handle_.IsNull(); }

  bool operator==(mem_CacheItemPtr const& other) const {
    return pool_ == other.pool_ && handle_ == other.handle_;
  }
  bool operator!=(mem_CacheItemPtr const& other) const { return !(*this == other); }

 private:
  mem_CachePool* pool_;
  mem_CachePoolIDTyp<mem_CacheItem*> handle_;
};
static_assert(sizeof(mem_CacheItemPtr) == 8, "the pool, then the handle");

#endif
