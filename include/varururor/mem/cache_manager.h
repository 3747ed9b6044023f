// mem_CacheManager: the priority cache manager of the cache-pool family. It keeps cache
// items on four purge lists and, when an allocation through a bound mem_Allocator fails,
// purges items until one purge frees the bytes wanted. It takes no lock and counts no
// bytes: allocation failures alone drive it.
#ifndef VARURUROR_MEM_CACHE_MANAGER_H
#define VARURUROR_MEM_CACHE_MANAGER_H

#include "varururor/frame/export.h"
#include "varururor/mem/cache_item_ptr.h"
#include "varururor/mem/cache_policy.h"

class VR_API mem_CacheManager {
 public:
  // Keeps the first kNameLength characters of name.
  explicit mem_CacheManager(char const* name);
  // Items are left as they are; only the list heads go.
  ~mem_CacheManager();
  mem_CacheManager(mem_CacheManager const&) = delete;
  mem_CacheManager& operator=(mem_CacheManager const&) = delete;

  void AddItem(mem_CachePriorityEnm priority, mem_CachePolicyEnm policy, mem_CacheItemPtr& item);
  // A list head that was item moves on to its next item, or to null if it was alone.
  void RemoveItem(mem_CacheItemPtr& item);
  // Visits "ALWAYS", then PRIORITY_3 down to PRIORITY_1, each from its tail end toward its
  // head, purging and unregistering every item at least need bytes large, until one purge
  // frees need bytes. Returns the bytes the last purge freed, 0 if none ran.
  unsigned int Purge(unsigned int need);
  // The same over the "ALWAYS" list and the list of priority alone.
  unsigned int Purge(unsigned int need, mem_CachePriorityEnm priority);
  void DebugPrint() const;

  char const* Name() const { return name_; }
  // The head of list (0 to 2: priorities 1 to 3; 3: "ALWAYS"); null when empty.
  mem_CacheItemPtr ListHead(int list) const;

  static constexpr int kNameLength = 16;
  static constexpr int kListCount = 4;
  static constexpr int kAlwaysList = 3;

 private:
  struct ListHeads;
  // Walks one list; true when a purge freed need bytes. last_freed takes each purge's result.
  VR_HIDDEN bool PurgeList(int list, unsigned int need, unsigned int* last_freed);

  char name_[kNameLength + 1];
  ListHeads* lists_;
};
static_assert(sizeof(mem_CacheManager) == 24, "17 name characters, then the list heads");

#endif
