#include "varururor/mem/cache_manager.h"

#include <cstdio>
#include <cstring>

#include "mem/cache_manager_port.h"
#include "varururor/mem/cache_item.h"
#include "varururor/mem/operators.h"

namespace {

char const* const kListNames[mem_CacheManager::kListCount] = {"PRIORITY_1", "PRIORITY_2",
                                                              "PRIORITY_3", "ALWAYS"};

unsigned PurgeAll(mem_CacheManager* manager, unsigned need) { return manager->Purge(need); }

// Bound allocators find the walk through the port: set while the library loads, before
// any client can bind an allocator.
[[maybe_unused]] bool const kPurgeWalkSet = (mem::g_purge_walk = PurgeAll, true);

}  // namespace

struct mem_CacheManager::ListHeads : mem_AllocationOperatorsTiny {
  mem_CacheItemPtr heads[kListCount];
};

mem_CacheManager::mem_CacheManager(char const* name) : lists_(new ListHeads) {
  static_assert(sizeof(ListHeads) == 32, "four list heads and nothing else");
  std::strncpy(name_, name, kNameLength);
  name_[kNameLength] = '\0';
}

mem_CacheManager::~mem_CacheManager() { delete lists_; }

mem_CacheItemPtr mem_CacheManager::ListHead(int list) const { return lists_->heads[list]; }

void mem_CacheManager::AddItem(mem_CachePriorityEnm priority, mem_CachePolicyEnm policy,
                               mem_CacheItemPtr& item) {
  if (policy == mem_CachePolicyNone) return;
  mem_CacheItemPtr& head =
      lists_->heads[policy == mem_CachePolicyAlways ? kAlwaysList : priority - 1];
  bool was_empty = head.IsNull();
  item.Ptr()->InsertItem(head);
  if (policy == mem_CachePolicyHead || was_empty) head = item;
}

void mem_CacheManager::RemoveItem(mem_CacheItemPtr& item) {
  mem_CacheItemPtr next = item.Ptr()->Remove();
  for (mem_CacheItemPtr& head : lists_->heads) {
    if (head == item) head = next;
  }
}

// An item smaller than need is passed by, and so is one whose purge freed too little:
// the walk goes on toward the head, where it ends. The item is unregistered before its
// purge runs, so that a purge may give the item's own storage back to its pool.
bool mem_CacheManager::PurgeList(int list, unsigned need, unsigned* last_freed) {
  mem_CacheItemPtr head = lists_->heads[list];
  if (head.IsNull()) return false;
  mem_CacheItemPtr current = head.Ptr()->Last();
  for (;;) {
    bool at_head = current == head;
    mem_CacheItem* item = current.Ptr();
    mem_CacheItemPtr toward_head = item->Last();
    if (item->Size() >= need) {
      RemoveItem(current);
      *last_freed = item->Purge();
      if (*last_freed >= need) return true;
    }
    if (at_head) return false;
    current = toward_head;
  }
}

unsigned mem_CacheManager::Purge(unsigned need) {
  unsigned last_freed = 0;
  for (int list = kAlwaysList; list >= 0; --list) {
    if (PurgeList(list, need, &last_freed)) break;
  }
  return last_freed;
}

unsigned mem_CacheManager::Purge(unsigned need, mem_CachePriorityEnm priority) {
  unsigned last_freed = 0;
  if (!PurgeList(kAlwaysList, need, &last_freed)) PurgeList(priority - 1, need, &last_freed);
  return last_freed;
}

void mem_CacheManager::DebugPrint() const {
  std::printf("--- Debug Print for CacheManager: %s\n", name_);
  for (int list = 0; list < kListCount; ++list) {
    std::printf("   ---Items in purge list %s\n", kListNames[list]);
    mem_CacheItemPtr head = lists_->heads[list];
    if (head.IsNull()) {
      std::printf("  --Empty--\n");
      continue;
    }
    mem_CacheItemPtr current = head;
    do {
      mem_CacheItem* item = current.Ptr();
      item->DebugPrint(true);
      current = item->Next();
    } while (current != head);
  }
}
