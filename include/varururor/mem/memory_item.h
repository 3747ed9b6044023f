// The base of everything a client registers with the memory cache manager for purging:
// an object that holds bulk data it can free under memory pressure and rebuild later.
#ifndef VARURUROR_MEM_MEMORY_ITEM_H
#define VARURUROR_MEM_MEMORY_ITEM_H

#include "varururor/frame/export.h"

class mem_CriticalSection;

class VR_API mem_MemoryItem {
 public:
  // Not on any list; with a lock of its own.
  mem_MemoryItem();
  // Not virtual. Deletes the lock; the item must not be on a purge list any more.
  ~mem_MemoryItem();
  mem_MemoryItem(mem_MemoryItem const&) = delete;
  mem_MemoryItem& operator=(mem_MemoryItem const&) = delete;

  // The item's lock. TryLock returns 0 while anybody holds it, the caller included;
  // the manager's list walks only ever try it.
  void Lock();
  void Unlock();
  int TryLock();

  virtual unsigned int BulkSize() const;
  // Bytes the item holds; summed in the purge-list report.
  virtual unsigned int AllocSize() const;
  // Frees the bulk data and returns the bytes freed. Called by the manager with the
  // item's lock held and the item already off its list.
  virtual unsigned int FreeBulkData();
  virtual void DebugPrint(bool) const;

 private:
  friend class mem_MemoryCacheManager;
  friend struct mem_PurgeLists;
  friend struct mem_MemoryItemLayout;
  mem_MemoryItem* next_;
  mem_MemoryItem* previous_;
  mem_CriticalSection* lock_;
};

#endif
