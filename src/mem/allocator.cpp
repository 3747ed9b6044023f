#include "varururor/mem/allocator.h"

#include "mem/cache_manager_port.h"
#include "varururor/mem/allocation.h"

namespace mem {
PurgeWalk g_purge_walk = nullptr;
}  // namespace mem

mem_Allocator::mem_Allocator(mem_CacheManager* manager) : manager_(manager) {}

mem_Allocator::mem_Allocator(mem_Allocator const& other) : manager_(other.manager_) {}

mem_Allocator::~mem_Allocator() = default;

void mem_Allocator::PurgeFor(unsigned int need) const {
  if (manager_ != nullptr && mem::g_purge_walk != nullptr) mem::g_purge_walk(manager_, need);
}

// The purge asks for the element size, not count times size: one element's worth is
// what the walk compares items against.
void* mem_Allocator::Calloc(char const*, unsigned int count, unsigned int size) {
  void* p = mem_Calloc(count, size);
  if (p != nullptr || manager_ == nullptr) return p;
  PurgeFor(size);
  return mem_Calloc(count, size);
}

void* mem_Allocator::Malloc(char const*, unsigned int size) {
  void* p = mem_Malloc(size);
  if (p != nullptr || manager_ == nullptr) return p;
  PurgeFor(size);
  return mem_Malloc(size);
}

void* mem_Allocator::Realloc(char const*, void* p, unsigned int size) {
  void* resized = mem_Realloc(p, size);
  // A resize to 0 frees the block: its null is no failure, and p is gone.
  if (resized != nullptr || size == 0 || manager_ == nullptr) return resized;
  PurgeFor(size);
  return mem_Realloc(p, size);
}

void mem_Allocator::Free(char const*, void* p) { mem_Free(p); }

mem_Allocator* mem_Allocator::Clone() const { return new mem_Allocator(manager_); }
