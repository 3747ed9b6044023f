// The memory cache manager's purge lists: registering items, taking them off, purging
// them.
//
// Lock order on a list: a node before its successor. A lock needed the other way is only
// tried, and the first is released and taken again when the try fails; item locks refuse
// a try even from their holder, so two walks never wait for each other.
#include <climits>
#include <cstdio>
#include <thread>

#include "mem/pools/cache_manager_state.h"
#include "mem/pools/critical_section.h"
#include "mem/pools/purge_lists.h"
#include "varururor/mem/memory_cache_manager.h"

namespace {

constexpr int kLastList = mem_PurgeLists::kCount - 1;

bool ValidList(int list) { return list >= 0 && list <= kLastList; }

// Another thread holds a node that this walk needs: let it go on before trying again.
void Retry() { std::this_thread::yield(); }

unsigned SaturatingAdd(unsigned a, unsigned b) { return b > UINT_MAX - a ? UINT_MAX : a + b; }

}  // namespace

void mem_MemoryCacheManager::AddItem(int priority, mem_CachePolicyEnm policy,
                                     mem_MemoryItem* first, mem_MemoryItem* last) {
  if (policy == mem_MemoryCachePolicyNone) return;
  if (purge_lists_->Cleared()) return;  // the lists are gone after the pools' clean-up
  // Refused, chain left unlinked: a bad priority or policy, a missing end, or a chain
  // that is already on a list. Linking any of them would break a list.
  bool const urgent = policy == mem_MemoryCachePolicyUrgent;
  // Clients cannot link items themselves, so a chain that is not on a list is a single
  // item; first and last must be one chain, or the list it joins would break. (An item
  // on a list is refused below; its links are not followed here.)
  bool const unlisted = first != nullptr && last != nullptr && first->previous_ == nullptr;
  mem_MemoryItem const* reached = first;
  while (unlisted && reached != nullptr && reached != last) reached = reached->next_;
  if (unlisted && reached != last) {
    std::fprintf(stderr,
                 "mem_MemoryCacheManager::AddItem: refused, the items from first to last are "
                 "not linked to each other; they stay unlinked\n");
    return;
  }
  if (first == nullptr || last == nullptr || first->previous_ != nullptr ||
      last->next_ != nullptr || (!urgent && !ValidList(priority)) ||
      (policy != mem_MemoryCachePolicyTail && policy != mem_MemoryCachePolicyHead && !urgent)) {
    std::fprintf(stderr,
                 "mem_MemoryCacheManager::AddItem: refused (priority %d, policy %d); the items "
                 "stay unlinked\n",
                 priority, static_cast<int>(policy));
    return;
  }
  int const list = urgent ? 0 : priority;
  if (policy == mem_MemoryCachePolicyTail) {
    mem_MemoryItem* tail = purge_lists_->tails[list];
    tail->Lock();
    // Only a holder of the tail changes what precedes it; nobody holding a node waits for
    // its successor, so waiting here for the predecessor cannot deadlock.
    mem_MemoryItem* before = tail->previous_;
    before->Lock();
    before->next_ = first;
    first->previous_ = before;
    last->next_ = tail;
    tail->previous_ = last;
    before->Unlock();
    tail->Unlock();
  } else {
    mem_MemoryItem* head = purge_lists_->heads[list];
    head->Lock();
    mem_MemoryItem* after = head->next_;
    while (!after->TryLock()) {
      head->Unlock();
      Retry();
      head->Lock();
      after = head->next_;
    }
    head->next_ = first;
    first->previous_ = head;
    last->next_ = after;
    after->previous_ = last;
    after->Unlock();
    head->Unlock();
  }
  // A purge that found nothing no longer speaks for the lists: without this, threads
  // waiting in Alloc would give up although the worker could now make room. The state is
  // read without the lock first: taking it on every registration slowed busy clients
  // threefold.
  if (__atomic_load_n(&purge_state_, __ATOMIC_RELAXED) == mem::kPurgeFoundNothing) {
    mem_CriticalSectionGuard state(state_lock_);
    if (purge_state_ == mem::kPurgeFoundNothing) SetPurgeState(mem::kPurgeNormal);
  }
  NoteRoomChange();  // and a give-up (state 2) ends here
}

bool mem_MemoryCacheManager::RemoveItem(mem_MemoryItem* item, int) {
  if (item == nullptr || purge_lists_->Cleared()) return false;
  item->Lock();
  mem_MemoryItem* next = item->next_;
  if (next == nullptr) {
    item->Unlock();
    return false;
  }
  while (!next->TryLock()) {
    item->Unlock();
    Retry();
    item->Lock();
    next = item->next_;
    if (next == nullptr) {
      item->Unlock();
      return false;
    }
  }
  // With the item and its successor held, the predecessor cannot change.
  mem_MemoryItem* previous = item->previous_;
  previous->Lock();
  previous->next_ = next;
  next->previous_ = previous;
  previous->Unlock();
  next->Unlock();
  item->next_ = nullptr;
  item->previous_ = nullptr;
  item->Unlock();
  return true;
}

unsigned int mem_MemoryCacheManager::PurgeList(int list, unsigned int bytes) {
  mem_MemoryItem* head = purge_lists_->heads[list];
  mem_MemoryItem* tail = purge_lists_->tails[list];
  unsigned freed = 0;
  do {
    head->Lock();
    mem_MemoryItem* first = head->next_;
    if (!first->TryLock()) {
      head->Unlock();
      Retry();
      continue;
    }
    if (first == tail) {
      first->Unlock();
      head->Unlock();
      return freed;
    }
    mem_MemoryItem* next = first->next_;
    if (!next->TryLock()) {
      first->Unlock();
      head->Unlock();
      Retry();
      continue;
    }
    head->next_ = next;
    next->previous_ = head;
    head->Unlock();
    next->Unlock();
    freed = SaturatingAdd(freed, first->FreeBulkData());
    first->next_ = nullptr;
    first->previous_ = nullptr;
    first->Unlock();
  } while (freed < bytes);
  return freed;
}

unsigned int mem_MemoryCacheManager::Purge(int list, unsigned int bytes) {
  // A list outside 0..22 purges nothing; after the pools' clean-up there are no lists.
  if (!ValidList(list) || purge_lists_->Cleared()) return 0;
  unsigned freed = PurgeList(0, bytes);
  for (int i = kLastList; i >= 1 && freed < bytes; --i) {
    if (list != 0 && i != list) continue;
    freed = SaturatingAdd(freed, PurgeList(i, bytes - freed));
  }
  return freed;
}
