// The allocators a benchmark can drive, each as a table of its heap functions, chosen by
// name: the library's heap through the front end or directly, and the peers.
#ifndef VARURUROR_BENCH_REPLAY_ALLOCATOR_FAMILY_H
#define VARURUROR_BENCH_REPLAY_ALLOCATOR_FAMILY_H

#include <cstddef>
#include <string>

namespace bench {

struct AllocatorFamily {
  char const* name;
  void* (*malloc)(std::size_t size);
  void* (*calloc)(std::size_t count, std::size_t size);
  void* (*realloc)(void* p, std::size_t size);
  void* (*memalign)(std::size_t alignment, std::size_t size);
  void (*free)(void* p);
  // The most the allocator has held from the system; null when it does not tell.
  std::size_t (*max_footprint)();
};

// The names FindAllocatorFamily knows, separated by blanks.
char const* AllocatorFamilyNames();

// Fills *family for name:
//   mem-dl    mem_Malloc ... with the library heap behind them (KVN_DLALLOCATOR set)
//   mem-crt   mem_Malloc ... with the platform heap behind them (KVN_CRTMALLOC set)
//   dl        dlmalloc ... directly
//   glibc     the C library's own malloc ..., whatever else the process was given
//   jemalloc, mimalloc, tcmalloc   their shared libraries' malloc ...
// The front-end families start the library first and check which heap it chose.
// False, with the reason in *error, when the family cannot be had in this process.
bool FindAllocatorFamily(std::string const& name, AllocatorFamily* family, std::string* error);

}  // namespace bench

#endif
