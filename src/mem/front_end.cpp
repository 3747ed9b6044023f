// The allocation entry points: a few flag tests and one call through the heap table.
#include <cstdint>
#include <initializer_list>

#include "mem/heap_table.h"
#include "mem/tbpool/fast_path.h"
#include "mem/thread_block_port.h"
#include "mem/tracking_port.h"
#include "varururor/mem/allocation.h"

using mem::g_heap_table;
using mem::tracking::ModeCache;
using mem::tracking::Operation;
using mem::tracking::Report;
namespace thread_block = mem::thread_block;

namespace {

// Each reporting entry point keeps its own copy of the tracking mode.
ModeCache g_malloc_tracking;
ModeCache g_free_tracking;
ModeCache g_realloc_tracking;
ModeCache g_calloc_tracking;
ModeCache g_release_tracking;
ModeCache g_acquire_tracking;

__attribute__((constructor)) void DeclareTrackingCachesShared() {
  for (ModeCache const* cache : {&g_malloc_tracking, &g_free_tracking, &g_realloc_tracking,
                                 &g_calloc_tracking, &g_release_tracking, &g_acquire_tracking}) {
    cache->DeclareShared();
  }
}

// The mark is the cheap first test; since its words may lie in another heap block, the
// pool's own map of its live pages decides.
bool IsPoolBlock(void const* p) {
  return thread_block::g_pool_seen && thread_block::CarriesPageMark(p) &&
         thread_block::IsLivePage(reinterpret_cast<std::uintptr_t>(p) &
                                  ~(thread_block::kPoolPageBytes - 1));
}

// The common case of each entry point, tracking off for good, is a few flag tests and a
// jump: into the heap, or to the pool's inline common case. Tracking goes out of line
// too, so that the jump into the heap needs no frame.
__attribute__((noinline)) void* MallocTracked(unsigned size) {
  void* p = thread_block::g_routing && size < thread_block::kRoutedSizeLimit
                ? thread_block::Allocate(size)
                : g_heap_table.malloc(size);
  if (g_malloc_tracking.ShouldReport()) Report(Operation::kMalloc, p, nullptr, size);
  return p;
}

__attribute__((noinline)) void* MallocRouted(unsigned size) {
  if (void* p = thread_block::TryAllocate(size)) return p;
  return thread_block::Allocate(size);
}

__attribute__((noinline)) void FreeTracked(void* p) {
  if (g_free_tracking.ShouldReport()) Report(Operation::kFree, p, nullptr, 0);
  if (IsPoolBlock(p)) {
    thread_block::Free(p);
  } else {
    g_heap_table.free(p);
  }
}

__attribute__((noinline)) void FreePoolBlock(void* p) {
  if (!thread_block::TryFree(p)) thread_block::Free(p);
}

__attribute__((noinline)) void* ReallocTracked(void* p, unsigned size) {
  void* resized = IsPoolBlock(p) ? thread_block::Resize(p, size) : g_heap_table.realloc(p, size);
  if (g_realloc_tracking.ShouldReport()) Report(Operation::kRealloc, resized, p, size);
  return resized;
}

}  // namespace

void* mem_Malloc(unsigned int size) {
  if (!g_malloc_tracking.IsOff()) return MallocTracked(size);
  if (thread_block::g_routing && size < thread_block::kRoutedSizeLimit) return MallocRouted(size);
  return g_heap_table.malloc(size);
}

void mem_Free(void* p) {
  if (!g_free_tracking.IsOff()) return FreeTracked(p);
  if (IsPoolBlock(p)) return FreePoolBlock(p);
  g_heap_table.free(p);
}

void* mem_Realloc(void* p, unsigned int size) {
  if (!g_realloc_tracking.IsOff()) return ReallocTracked(p, size);
  if (IsPoolBlock(p)) return thread_block::Resize(p, size);
  return g_heap_table.realloc(p, size);
}

void* mem_Calloc(unsigned int count, unsigned int size) {
  void* p = g_heap_table.calloc(count, size);
  if (g_calloc_tracking.ShouldReport()) Report(Operation::kCalloc, p, nullptr, count * size);
  return p;
}

void mem_Release(void* p) {
  if (g_release_tracking.ShouldReport()) Report(Operation::kRelease, p, nullptr, 0);
}

void mem_Acquire(void* p) {
  if (g_acquire_tracking.ShouldReport()) Report(Operation::kAcquire, p, nullptr, 0);
}

int mem_Trim(unsigned int pad) { return g_heap_table.trim(pad); }

int mem_Mallopt(int parameter, int value) { return g_heap_table.mallopt(parameter, value); }

unsigned int mem_Footprint() { return g_heap_table.footprint(); }

unsigned int mem_MaxFootprint() { return g_heap_table.max_footprint(); }

unsigned int mem_MemoryLimit() { return g_heap_table.memory_limit(); }

int mem_ErrorMemoryLimit() { return g_heap_table.error_memory_limit(); }

unsigned int mem_FragmentationInfo() { return g_heap_table.fragmentation_info(); }

mem_DLMallinfoResult mem_DLMallinfo() {
  dl_mallinfo info = g_heap_table.mallinfo();
  return mem_DLMallinfoResult{info.arena,    info.ordblks,  info.hblkhd,  info.usmblks,
                              info.uordblks, info.fordblks, info.keepcost};
}

int mem_UseDL() { return mem::g_use_library_heap; }
