// The process-wide memory container: the memory cache manager "std_manager", the default
// pool (id 0), the numbered pools, the resource table and the memory report file.
#ifndef VARURUROR_MEM_MEMORY_CONTAINER_H
#define VARURUROR_MEM_MEMORY_CONTAINER_H

#include <cstdio>

#include "varururor/frame/export.h"
#include "varururor/mem/memory_resource_holder.h"
#include "varururor/mem/operators.h"

class mem_CriticalSection;
class mem_MemoryCacheManager;
class mem_MemoryPool;

class VR_API mem_MemoryContainer : public mem_AllocationOperators {
 public:
  // Made by the first call, which must come before other threads use the container.
  static mem_MemoryContainer& Instance();
  // Destroys the container; a later Instance makes a new one. Numbered pools are
  // destroyed only by CleanUpPools.
  static void Finalize();

  // Makes pool id (1 or more), replacing any pool of that id. Null for an id below 1.
  mem_MemoryPool* CreatePool(int id);
  // The pool of that id, null if there is none (also outside 1..capacity).
  mem_MemoryPool* GetPool(int id);
  // Reports, then destroys every numbered pool and the manager's purge lists.
  void CleanUpPools();
  // The manager's use and every pool's line, to the report file if one is open.
  void MemoryReport();
  // Opens path (truncated) as the report file of the container, its manager and pools.
  void OpenDbFile(char const* path);

  // Inline, so that they add no exported name: the manager that every pool draws on (for
  // the client's limit, items and purge worker), and the resource table that clients fill.
  mem_MemoryCacheManager& CacheManager() { return *manager_; }
  mem_MemoryResourceHolder& Resources() { return resources_; }

 private:
  friend struct mem_MemoryContainerLayout;
  static constexpr int kTableStep = 5;

  mem_MemoryContainer();
  ~mem_MemoryContainer();
  mem_MemoryContainer(mem_MemoryContainer const&) = delete;
  mem_MemoryContainer& operator=(mem_MemoryContainer const&) = delete;

  mem_MemoryCacheManager* manager_;
  mem_MemoryPool* default_pool_;
  int capacity_;
  mem_MemoryPool** pools_;
  mem_CriticalSection* lock_;
  std::FILE* report_file_;
  mem_MemoryResourceHolder resources_;
};

#endif
