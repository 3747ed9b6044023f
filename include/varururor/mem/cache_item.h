// mem_CacheItem: an object in a cache pool that can give up its memory on request and
// rebuild itself later. Registered items sit on circular doubly linked lists of a
// priority cache manager, which purges them when a bound allocator runs short.
#ifndef VARURUROR_MEM_CACHE_ITEM_H
#define VARURUROR_MEM_CACHE_ITEM_H

#include <cstddef>

#include "varururor/frame/export.h"
#include "varururor/mem/cache_item_ptr.h"

class VR_API mem_CacheItem {
 public:
  // The bytes a purge of this item would free; the purge walk compares it with its need.
  virtual unsigned int Size() const = 0;
  // Prints the item; the manager's dump passes true.
  virtual void DebugPrint(bool verbose) const = 0;
  // The item's own name: its pool and its handle there.
  virtual mem_CacheItemPtr Self() const = 0;
  // Frees the item's memory; returns the bytes freed.
  virtual unsigned int Purge() = 0;

  // Links this item just before head, at the tail end of head's circle; a null or
  // unresolvable head makes a circle of this item alone.
  void InsertItem(mem_CacheItemPtr& head);
  // Unlinks this item and returns its former next item; null if it was alone or not
  // linked. Its own links become null.
  mem_CacheItemPtr Remove();

  mem_CacheItemPtr Next() const { return next_; }
  mem_CacheItemPtr Last() const { return last_; }

  // Items are built in the storage of a cache-pool handle: new (pool->Ptr(h)) Item(...).
  static void* operator new(std::size_t, void* storage) { return storage; }
  static void operator delete(void*, void*) {}

 protected:
  mem_CacheItem() = default;
  // Items are not destroyed through this base: their storage belongs to a cache pool.
  ~mem_CacheItem() = default;

 private:
  // Items live inside cache-pool storage, which the pool gives back, not delete.
  static void operator delete(void*) {}

  mem_CacheItemPtr next_;
  mem_CacheItemPtr last_;
};
static_assert(sizeof(mem_CacheItem) == 20, "a virtual table and two item pointers");

#endif
