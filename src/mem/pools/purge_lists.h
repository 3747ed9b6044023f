// The memory cache manager's 23 purge lists of mem_MemoryItems, indexed by priority,
// each between a head and a tail sentinel item.
#ifndef VARURUROR_MEM_POOLS_PURGE_LISTS_H
#define VARURUROR_MEM_POOLS_PURGE_LISTS_H

#include <cstdio>

#include "mem/pools/cache_manager_state.h"
#include "varururor/mem/memory_item.h"
#include "varururor/mem/operators.h"

struct mem_PurgeLists : mem_AllocationOperatorsTiny {
  static constexpr int kCount = 23;

  // Makes the sentinels and links each head to its tail.
  mem_PurgeLists();
  // Destroys whatever Clear has not.
  ~mem_PurgeLists();
  // Destroys the sentinels and their arrays, never the items still on the lists; the
  // lists take no operations afterwards.
  void Clear();
  bool Cleared() const { return heads == nullptr; }

  mem_MemoryItem** heads;
  mem_MemoryItem** tails;
  int count;
  std::FILE* report_file;
  // The manager's wait for room; it outlives Clear.
  mem::RoomWait room_wait;
};

#endif
