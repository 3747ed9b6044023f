// The heap table: the twelve operations of the heap that serves the process.
//
// Before the first allocation every entry is a start-up entry that chooses the heap,
// fills the whole table at once and then forwards the call. Once filled, the table
// never changes: blocks already handed out must go back to the heap that made them.
#ifndef VARURUROR_MEM_HEAP_TABLE_H
#define VARURUROR_MEM_HEAP_TABLE_H

#include <cstddef>

#include "varururor/mem/dlmalloc.h"

namespace mem {

struct HeapTable {
  void* (*malloc)(std::size_t size);
  void* (*calloc)(std::size_t count, std::size_t size);
  void* (*realloc)(void* p, std::size_t size);
  void (*free)(void* p);
  int (*trim)(std::size_t pad);
  int (*mallopt)(int parameter, int value);
  std::size_t (*footprint)();
  std::size_t (*max_footprint)();
  std::size_t (*memory_limit)();
  dl_mallinfo (*mallinfo)();
  int (*error_memory_limit)();
  std::size_t (*fragmentation_info)();
};

extern HeapTable g_heap_table;

// 1 while the library heap serves the process, 0 for the platform heap.
extern unsigned char g_use_library_heap;

// True once a heap has been chosen and the table filled.
bool HeapTableFilled();

// The choice at library start-up: the library heap unless KVN_CRTMALLOC is set,
// and then only if KVN_DLALLOCATOR is set too. Does nothing once the table is filled.
void ChooseHeapAtStartup();

}  // namespace mem

#endif
