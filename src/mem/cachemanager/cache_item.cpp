#include "varururor/mem/cache_item.h"

#include "varururor/mem/cache_pool.h"

mem_CacheItem* mem_CacheItemPtr::Ptr() const {
  return handle_.IsNull() ? nullptr : handle_.Ptr(pool_);
}

void mem_CacheItem::InsertItem(mem_CacheItemPtr& head) {
  mem_CacheItemPtr self = Self();
  mem_CacheItem* h = head.Ptr();
  if (h == nullptr) {
    next_ = self;
    last_ = self;
    return;
  }
  last_ = h->last_;
  next_ = head;
  last_.Ptr()->next_ = self;
  h->last_ = self;
}

mem_CacheItemPtr mem_CacheItem::Remove() {
  mem_CacheItemPtr self = Self();
  mem_CacheItemPtr next = next_;
  mem_CacheItemPtr last = last_;
  next_ = mem_CacheItemPtr();
  last_ = mem_CacheItemPtr();
  if (next.IsNull() && last.IsNull()) return mem_CacheItemPtr();
  if (next == self && last == self) return mem_CacheItemPtr();
  mem_CacheItem* n = next.Ptr();
  mem_CacheItem* l = last.Ptr();
  n->last_ = last;
  l->next_ = next;
  return next;
}
