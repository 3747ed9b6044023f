// What the heap tells about itself: footprint, the ten mallinfo counts, the largest free chunk.
#include "mem/heap/chunk.h"
#include "mem/heap/heap_state.h"
#include "mem/heap/segments.h"
#include "varururor/mem/dlmalloc.h"

using mem::heap::g_heap_state;

extern "C" std::size_t dlmalloc_footprint() {
  return __atomic_load_n(&g_heap_state.footprint, __ATOMIC_RELAXED);
}

extern "C" std::size_t dlmalloc_max_footprint() {
  return __atomic_load_n(&g_heap_state.max_footprint, __ATOMIC_RELAXED);
}

extern "C" dl_mallinfo dlmallinfo() {
  using namespace mem::heap;
  dl_mallinfo info{};
  HeapState& m = g_heap_state;
  HeapGuard guard(m);
  if (!IsInitialised(m)) return info;
  // The top and its foot count as free, and the top as one free chunk.
  std::size_t free_chunks = 1;
  std::size_t free_bytes = m.topsize + kTopFootSize;
  std::size_t walked = free_bytes;
  ForEachSegmentChunk(m, [&](Chunk* q) {
    std::size_t size = ChunkSize(q);
    walked += size;
    if (!IsInUse(q)) {
      free_bytes += size;
      ++free_chunks;
    }
  });
  info.arena = walked;
  info.ordblks = free_chunks;
  info.hblkhd = m.footprint - walked;
  info.usmblks = m.max_footprint;
  info.uordblks = m.footprint - free_bytes;
  info.fordblks = free_bytes;
  info.keepcost = m.topsize;
  return info;
}

extern "C" std::size_t internal_dlfragmentationinfo(dl_malloc_state* state) {
  using namespace mem::heap;
  // There is one heap; any other pointer names no state we could walk.
  if (state != &g_heap_state) return 0;
  HeapGuard guard(*state);
  std::size_t largest = 0;
  if (!IsInitialised(*state)) return largest;
  ForEachSegmentChunk(*state, [&largest](Chunk* q) {
    if (!IsInUse(q) && ChunkSize(q) > largest) largest = ChunkSize(q);
  });
  return largest;
}

extern "C" std::size_t dlfragmentationinfo() { return internal_dlfragmentationinfo(&g_heap_state); }
