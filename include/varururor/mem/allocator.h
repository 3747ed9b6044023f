// The polymorphic allocator that the memory subsystem's block allocators draw on.
//
// Every request carries a tag naming what is allocated ("mem_CachePool", "mem_Block",
// "mem_FixedBlock", "mem_Cluster", "mem_TBPool"); the base ignores it. An allocator may
// be bound to a priority cache manager: a bound allocator whose request fails asks the
// manager to purge cached items and tries exactly once more.
#ifndef VARURUROR_MEM_ALLOCATOR_H
#define VARURUROR_MEM_ALLOCATOR_H

#include "varururor/frame/export.h"
#include "varururor/mem/operators.h"

class mem_CacheManager;

class VR_API mem_Allocator : public mem_AllocationOperatorsTiny {
 public:
  // Bound to manager, or unbound when it is null. The manager is not owned.
  explicit mem_Allocator(mem_CacheManager* manager);
  mem_Allocator(mem_Allocator const& other);
  mem_Allocator& operator=(mem_Allocator const&) = delete;
  virtual ~mem_Allocator();

  // Null when the request cannot be met, also after the retry.
  virtual void* Calloc(char const* tag, unsigned int count, unsigned int size);
  virtual void* Malloc(char const* tag, unsigned int size);
  virtual void* Realloc(char const* tag, void* p, unsigned int size);
  virtual void Free(char const* tag, void* p);
  // A new allocator bound to the same manager; the caller deletes it.
  virtual mem_Allocator* Clone() const;

  mem_CacheManager* Manager() const { return manager_; }

 protected:
  // Runs the bound manager's purge walk for need bytes; nothing when unbound.
  void PurgeFor(unsigned int need) const;

 private:
  mem_CacheManager* manager_;
};
static_assert(sizeof(mem_Allocator) == 8, "a virtual table and the manager");

#endif
