#include "mem/pools/purge_lists.h"

#include <new>

namespace {

mem_MemoryItem* NewSentinel() {
  return new (mem_OperatorNewThrowBuiltin(sizeof(mem_MemoryItem))) mem_MemoryItem();
}

void DeleteSentinel(mem_MemoryItem* sentinel) {
  sentinel->~mem_MemoryItem();
  mem_Free(sentinel);
}

}  // namespace

mem_PurgeLists::mem_PurgeLists() : heads(nullptr), tails(nullptr), count(kCount), report_file(nullptr) {
  heads = new (mem_BuiltInAllocTag) mem_MemoryItem*[kCount];
  tails = new (mem_BuiltInAllocTag) mem_MemoryItem*[kCount];
  for (int i = 0; i < kCount; ++i) {
    heads[i] = NewSentinel();
    tails[i] = NewSentinel();
    heads[i]->next_ = tails[i];
    tails[i]->previous_ = heads[i];
  }
}

mem_PurgeLists::~mem_PurgeLists() { Clear(); }

void mem_PurgeLists::Clear() {
  if (heads == nullptr) return;
  for (int i = 0; i < kCount; ++i) {
    // Items still registered leave the list cleanly: no link to a sentinel that is gone.
    for (mem_MemoryItem* item = heads[i]->next_; item != tails[i];) {
      mem_MemoryItem* next = item->next_;
      item->next_ = nullptr;
      item->previous_ = nullptr;
      item = next;
    }
    DeleteSentinel(heads[i]);
    DeleteSentinel(tails[i]);
  }
  mem_Free(heads);
  mem_Free(tails);
  heads = nullptr;
  tails = nullptr;
}
