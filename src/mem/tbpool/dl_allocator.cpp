#include "mem/tbpool/dl_allocator.h"

#include "varururor/mem/dlmalloc.h"

void* mem_DLAllocator::Calloc(char const*, unsigned int count, unsigned int size) {
  if (void* p = dlcalloc(count, size)) return p;
  PurgeFor(size);
  return dlcalloc(count, size);
}

void* mem_DLAllocator::Malloc(char const*, unsigned int size) {
  if (void* p = dlmalloc(size)) return p;
  PurgeFor(size);
  return dlmalloc(size);
}

void* mem_DLAllocator::Realloc(char const*, void* p, unsigned int size) {
  void* resized = dlrealloc(p, size);
  // A resize to 0 frees the block: its null is no failure, and p is gone.
  if (resized != nullptr || size == 0) return resized;
  PurgeFor(size);
  return dlrealloc(p, size);
}

void mem_DLAllocator::Free(char const*, void* p) { dlfree(p); }

void* mem_DLAllocator::MemAlign(char const*, unsigned int alignment, unsigned int size) {
  if (void* p = dlmemalign(alignment, size)) return p;
  PurgeFor(size);
  return dlmemalign(alignment, size);
}
