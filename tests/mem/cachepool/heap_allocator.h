// A counting library-heap allocator with rations; bound to a manager, a refusal purges once.
#ifndef VARURUROR_TESTS_MEM_CACHEPOOL_HEAP_ALLOCATOR_H
#define VARURUROR_TESTS_MEM_CACHEPOOL_HEAP_ALLOCATOR_H

#include <cstring>
#include <string>

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
  void* Malloc(char const* tag, unsigned int size) override {
    last_tag = tag;
    void* p = WithRetry(size, [size] { return dlmalloc(size); });
    if (p != nullptr) ++live_blocks;
    return p;
  }
  void* Realloc(char const*, void* p, unsigned int size) override {
    return WithRetry(size, [p, size] { return dlrealloc(p, size); });
  }
  void Free(char const* tag, void* p) override {
    last_tag = tag;
    if (p != nullptr) --live_blocks;
    dlfree(p);
  }

  int live_blocks = 0;
  int failures = 0;
  int rations = 1 << 30;
  std::string last_tag;

 private:
  template <class Request>
  void* WithRetry(unsigned int size, Request request) {
    if (void* p = rations-- > 0 ? request() : nullptr) return p;
    ++failures;
    PurgeFor(size);
    return rations-- > 0 ? request() : nullptr;
  }
};

#endif
