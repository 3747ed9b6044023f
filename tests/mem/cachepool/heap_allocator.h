// An allocator on the library heap (the dl* family, whatever heap the process chose) that
// counts the blocks it holds, so a test can see that a pool gives everything back. Bound
// to a cache manager, a failed request purges and is tried once more.
#ifndef VARURUROR_TESTS_MEM_CACHEPOOL_HEAP_ALLOCATOR_H
#define VARURUROR_TESTS_MEM_CACHEPOOL_HEAP_ALLOCATOR_H

#include <cstring>

#include "varururor/mem/allocator.h"
#include "varururor/mem/dlmalloc.h"

class HeapAllocator : public mem_Allocator {
 public:
  explicit HeapAllocator(mem_CacheManager* manager = nullptr) : mem_Allocator(manager) {}

  void* Calloc(char const* tag, unsigned int count, unsigned int size) override {
    void* p = Malloc(tag, count * size);
    if (p != nullptr) std::memset(p, 0, count * size);
    return p;
  }
  void* Malloc(char const*, unsigned int size) override {
    void* p = dlmalloc(size);
    if (p == nullptr) {
      ++failures;
      PurgeFor(size);
      p = dlmalloc(size);
    }
    if (p != nullptr) ++live_blocks;
    return p;
  }
  void* Realloc(char const*, void* p, unsigned int size) override {
    void* resized = dlrealloc(p, size);
    if (resized == nullptr) {
      ++failures;
      PurgeFor(size);
      resized = dlrealloc(p, size);
    }
    return resized;
  }
  void Free(char const*, void* p) override {
    if (p != nullptr) --live_blocks;
    dlfree(p);
  }

  int live_blocks = 0;
  int failures = 0;
};

#endif
