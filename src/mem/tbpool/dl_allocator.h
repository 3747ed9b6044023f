// An allocator on the library heap itself: the dl* family called directly, neither
// tracked nor routed. A failed request asks the bound cache manager (if any) to purge
// and is tried exactly once more.
#ifndef VARURUROR_MEM_TBPOOL_DL_ALLOCATOR_H
#define VARURUROR_MEM_TBPOOL_DL_ALLOCATOR_H

#include "varururor/mem/allocator.h"

class mem_DLAllocator : public mem_Allocator {
 public:
  mem_DLAllocator() : mem_Allocator(nullptr) {}

  // Zeroed blocks come from this heap too, so that Realloc and Free here can take them back
  // whichever heap serves the rest of the process.
  void* Calloc(char const* tag, unsigned int count, unsigned int size) override;
  void* Malloc(char const* tag, unsigned int size) override;
  void* Realloc(char const* tag, void* p, unsigned int size) override;
  void Free(char const* tag, void* p) override;
  // size bytes at a multiple of alignment.
  void* MemAlign(char const* tag, unsigned int alignment, unsigned int size);
};
static_assert(sizeof(mem_DLAllocator) == sizeof(mem_Allocator), "adds no data");

#endif
