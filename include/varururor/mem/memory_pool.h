// A numbered memory pool: an accounting layer over the memory cache manager that counts
// the bytes charged to it and warns on standard error while they pass its tolerance.
// Pools are made and destroyed by the memory container.
#ifndef VARURUROR_MEM_MEMORY_POOL_H
#define VARURUROR_MEM_MEMORY_POOL_H

#include <cstdio>

#include "varururor/frame/export.h"
#include "varururor/mem/operators.h"

class mem_CriticalSection;
class mem_MemoryCacheManager;

class VR_API mem_MemoryPool : public mem_AllocationOperatorsTiny {
 public:
  // low is used only in reports; a charge past (tolerance + 1) * high draws the warning.
  void SetMemoryLimit(unsigned int low, unsigned int high, double tolerance);

  // Through the manager, which never throws for a pool: null when no room can be made.
  void* Alloc(unsigned int size);
  // Returns the bytes given back; p must come from a pool's Alloc.
  unsigned int Free(void* p);
  // Not provided by pools: null, and nothing changes.
  void* Calloc(unsigned int, unsigned int);
  void* Realloc(void*, unsigned int);
  unsigned int AllocSize(void* p) const;
  unsigned int ActualSizeForUse(void* p) const;

  void UpdateMemoryInUse(bool add, unsigned int bytes);
  // The pool's line, to its report file if it has one.
  void MemoryReport();

 private:
  friend class mem_MemoryContainer;
  friend struct mem_MemoryPoolLayout;
  mem_MemoryPool(int id, mem_MemoryCacheManager* manager);
  ~mem_MemoryPool();
  mem_MemoryPool(mem_MemoryPool const&) = delete;
  mem_MemoryPool& operator=(mem_MemoryPool const&) = delete;
  VR_HIDDEN void WriteReportLine();

  int id_;
  mem_MemoryCacheManager* manager_;
  unsigned int current_;
  unsigned int low_;
  unsigned int high_;
  double tolerance_;
  mem_CriticalSection* lock_;
  unsigned int max_used_;
  std::FILE* report_file_;
};

#endif
