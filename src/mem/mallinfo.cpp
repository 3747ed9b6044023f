#include "varururor/mem/mallinfo.h"

#include "mem/heap_table.h"
#include "plat/platform_heap.h"
#include "varururor/mem/dlmalloc.h"

mem_Mallinfo::mem_Mallinfo() : committed(0), in_use(0), free(0), reserved(0) {
  if (mem::g_use_library_heap) {
    committed = dlmalloc_footprint();
    return;
  }
  plat::PlatformHeapTotals totals;
  plat::WalkPlatformHeap(&totals);
  committed = totals.committed;
  in_use = totals.in_use;
  free = totals.free;
  reserved = totals.reserved;
}
