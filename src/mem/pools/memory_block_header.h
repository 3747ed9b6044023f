// The first 48 bytes of every block of the memory cache manager; the caller's data
// follows. Free-list sentinels are headers of size class -1 and allocation size 0.
#ifndef VARURUROR_MEM_POOLS_MEMORY_BLOCK_HEADER_H
#define VARURUROR_MEM_POOLS_MEMORY_BLOCK_HEADER_H

#include <cstddef>

#include "mem/pools/critical_section.h"

struct mem_MemoryBlockHeader {
  mem_MemoryBlockHeader* previous;  // links used only while on a free list
  mem_MemoryBlockHeader* next;
  int size_class;
  unsigned int allocation_size;  // header included
  // Built when the block first comes from the heap, kept while it is reused.
  mem_CriticalSection lock;
};

namespace mem {
constexpr unsigned kMemoryBlockHeaderSize = 48;
}

static_assert(offsetof(mem_MemoryBlockHeader, previous) == 0, "block header layout");
static_assert(offsetof(mem_MemoryBlockHeader, next) == 4, "block header layout");
static_assert(offsetof(mem_MemoryBlockHeader, size_class) == 8, "block header layout");
static_assert(offsetof(mem_MemoryBlockHeader, allocation_size) == 12, "block header layout");
static_assert(offsetof(mem_MemoryBlockHeader, lock) == 16, "block header layout");
static_assert(sizeof(mem_MemoryBlockHeader) == mem::kMemoryBlockHeaderSize,
              "the caller's data begins 48 bytes into the block");

#endif
