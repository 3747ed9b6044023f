// The memory cache manager: whole-page blocks for data that its owners can throw away
// and rebuild, kept within a byte limit. Room comes from free lists of freed blocks,
// sorted by size class, and from mem_MemoryItems that clients register on 23 purge
// lists. The manager starts no thread: it calls the client's wake callback, and the
// client's purge worker calls PurgeTask.
#ifndef VARURUROR_MEM_MEMORY_CACHE_MANAGER_H
#define VARURUROR_MEM_MEMORY_CACHE_MANAGER_H

#include <cstdio>

#include "varururor/frame/export.h"
#include "varururor/mem/cache_policy.h"
#include "varururor/mem/memory_item.h"
#include "varururor/mem/operators.h"

class mem_CriticalSection;
struct mem_MemoryBlockHeader;
struct mem_PurgeLists;

// The policy type is shared with the priority cache manager, which reads 0 and 1 the
// other way round; these names say what AddItem here does with each value: Tail appends
// to list priority (purged after the others), Head inserts at its head (purged first),
// None leaves the chain unlinked, Urgent inserts at the head of list 0 whatever the
// priority.
constexpr mem_CachePolicyEnm mem_MemoryCachePolicyTail = mem_CachePolicyEnm(0);
constexpr mem_CachePolicyEnm mem_MemoryCachePolicyHead = mem_CachePolicyEnm(1);
constexpr mem_CachePolicyEnm mem_MemoryCachePolicyNone = mem_CachePolicyEnm(2);
constexpr mem_CachePolicyEnm mem_MemoryCachePolicyUrgent = mem_CachePolicyEnm(3);

// Thrown by a throwing Alloc that cannot be met; holds the allocation size.
class VR_API mem_MemoryCacheManager_TooLittleMemory : public mem_AllocationOperators {
 public:
  explicit mem_MemoryCacheManager_TooLittleMemory(unsigned int size);
  unsigned int Size() const { return size_; }

 private:
  unsigned int size_;
};

class VR_API mem_MemoryCacheManager {
 public:
  // The first 16 characters of name are kept. Reads KOV_CACHEMANAGER_USEFREELIST: set
  // (any value) keeps freed blocks of up to 256 pages on free lists for reuse.
  explicit mem_MemoryCacheManager(char const* name);
  // Returns the free-list blocks to the heap; items still on purge lists are not touched.
  ~mem_MemoryCacheManager();
  mem_MemoryCacheManager(mem_MemoryCacheManager const&) = delete;
  mem_MemoryCacheManager& operator=(mem_MemoryCacheManager const&) = delete;

  // A block of at least size usable bytes; charged receives the bytes taken (pages + 48).
  // When the limit leaves no room, waits while the purge worker makes some (or purges
  // itself when no worker answers); only when a purge pass that began after the shortage
  // finds nothing to free does it throw mem_MemoryCacheManager_TooLittleMemory, or return
  // null when throwOnFailure is false.
  void* Alloc(unsigned int size, unsigned int& charged, bool throwOnFailure);
  // p must come from this manager's Alloc. Returns the block's allocation size; 0 for null.
  unsigned int Free(void* p);
  unsigned int AllocSize(void* p);
  unsigned int ActualSizeForUse(void* p);

  // Sets the limit; when the memory in use is above it, purges the excess.
  void SetMemoryLimit(unsigned int bytes);
  // Sets the capacity alone: no lock, no purge.
  void ResizeMemory(unsigned int bytes);

  // Links the chain first ... last (already linked to each other) into a purge list.
  // priority must lie in 0..22 except for policies 2 and 3.
  void AddItem(int priority, mem_CachePolicyEnm policy, mem_MemoryItem* first,
               mem_MemoryItem* last);
  // True when item was on a purge list and is now off it.
  bool RemoveItem(mem_MemoryItem* item, int);
  // Purges list 0, then list (or all lists from 22 down to 1 when list is 0), until
  // bytes are freed. Returns the bytes freed.
  unsigned int Purge(int list, unsigned int bytes);
  // One pass of the client's purge worker; false after an allocation has given up, until
  // memory is freed or an item registered.
  bool PurgeTask();
  // count: the client threads that allocate; kept for the client, the wait for room does
  // not depend on it. Only wake is called, as wake(argument).
  void SetNumWorkerThreads(int count, void (*wake)(void*), void (*second)(void*),
                           void* argument);

  void ClearFreeList();
  // The use, the purge lists and the free lists, to the report file if one is set.
  void MemorySummary();
  void DebugPrint() const;

  // Inside the library: the memory container's report file and clean-up, the use it
  // reports, and the out-of-memory handler (not open to clients).
  VR_HIDDEN void SetReportFile(std::FILE* file);
  VR_HIDDEN void ClearPurgeLists();
  VR_HIDDEN unsigned int MemoryInUse();
  VR_HIDDEN void SetOutOfMemoryHandler(void (*handler)(void* block, unsigned int size));
  // How long a waiting allocation gives the worker to start a purge pass before it runs
  // one itself; tests that script the order of the threads set 0.
  VR_HIDDEN void SetWorkerPatience(unsigned int milliseconds);

 private:
  friend struct mem_MemoryCacheManagerLayout;
  static constexpr int kFreeLists = 16;

  unsigned int GetAllocationSize(int sizeClass, unsigned int size);
  void* TryFreeMemory(int sizeClass, unsigned int allocationSize, bool& fresh);
  void FreeMemoryBlock(mem_MemoryBlockHeader* block);
  // Internal steps.
  VR_HIDDEN mem_MemoryBlockHeader* PopFreeList(int sizeClass);
  VR_HIDDEN void PushFreeList(mem_MemoryBlockHeader* block);
  // With the counter lock held.
  VR_HIDDEN bool PastWakeThreshold(unsigned int allocationSize) const;
  // Under the state lock; atomic, since registrations read the state without it.
  void SetPurgeState(int state) { __atomic_store_n(&purge_state_, state, __ATOMIC_RELAXED); }
  VR_HIDDEN void* MallocIfRoom(unsigned int allocationSize, bool& fresh, bool& wake);
  VR_HIDDEN void WakeWorker();
  VR_HIDDEN unsigned int PurgeList(int list, unsigned int bytes);
  // The wait for room (memory_cache_manager_wait.cpp).
  VR_HIDDEN void* WaitForRoom(int sizeClass, unsigned int allocationSize, bool& fresh);
  VR_HIDDEN bool WaitForPassOrChange(unsigned int changeMark);
  VR_HIDDEN void RunPurgePass();
  VR_HIDDEN void FinishPurgePass(unsigned long long pass, unsigned int freed);
  // Room may have been made: counts the change, ends state 2, rouses waiting allocations.
  VR_HIDDEN void NoteRoomChange();
  VR_HIDDEN void RouseWaiters();
  // Sets limit and capacity and purges the excess, under the locks.
  VR_HIDDEN void StoreLimit(unsigned int bytes);
  VR_HIDDEN unsigned int ChangeCount() const;
  // Under the state lock; atomic, since Free reads it without the lock.
  void SetWaitingCount(int count) { __atomic_store_n(&waiting_count_, count, __ATOMIC_RELAXED); }

  char name_[17];
  unsigned int memory_limit_;
  unsigned int capacity_;
  unsigned int memory_in_use_;
  unsigned int free_list_bytes_;
  mem_CriticalSection* counter_lock_;
  mem_PurgeLists* purge_lists_;
  mem_CriticalSection* state_lock_;
  int worker_count_;
  int waiting_count_;
  int purge_state_;
  bool use_free_list_;
  mem_MemoryBlockHeader* free_heads_[kFreeLists];
  mem_MemoryBlockHeader* free_tails_[kFreeLists];
  void (*out_of_memory_)(void* block, unsigned int size);
  void (*wake_)(void*);
  void (*second_)(void*);
  void* callback_argument_;
  std::FILE* report_file_;
};

#endif
