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
  room_wait.wakeup = plat::CreateEvent(true, false);
}

mem_PurgeLists::~mem_PurgeLists() {
  Clear();
  if (room_wait.wakeup != nullptr) plat::CloseEvent(room_wait.wakeup);
}

void mem_PurgeLists::Clear() {
  if (heads == nullptr) return;
  // Items still registered are not touched: at shut-down their owners have usually
  // deleted them already. Their links go stale, and no list operation runs afterwards.
  for (int i = 0; i < kCount; ++i) {
    DeleteSentinel(heads[i]);
    DeleteSentinel(tails[i]);
  }
  mem_Free(heads);
  mem_Free(tails);
  heads = nullptr;
  tails = nullptr;
}
