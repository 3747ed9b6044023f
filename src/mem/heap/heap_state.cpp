#include "mem/heap/heap_state.h"

#include <cstdlib>

#include "plat/race_annotations.h"
#include "plat/virtual_memory.h"
#include "varururor/mem/dlmalloc.h"

namespace mem::heap {

HeapParams g_heap_params;
HeapState g_heap_state;
long g_limit_error;

namespace {

// Guards the first-time set-up of the heap state against a second thread doing the same.
HeapLock g_initialisation_lock;

// The lock switch is read before the lock is taken; a pass may rewrite it meanwhile.
void CopySwitches() {
  __atomic_store_n(&g_heap_state.lock_switch, g_heap_params.lock_switch, __ATOMIC_RELAXED);
  g_heap_state.memory_limit = g_heap_params.memory_limit;
}

// Words that threads read without the heap lock, stored and loaded whole.
void DeclareUnlockedWords() {
  plat::DeclareAtomicWord(&g_heap_state.lock_switch, sizeof g_heap_state.lock_switch);
  plat::DeclareAtomicWord(&g_heap_state.footprint, sizeof g_heap_state.footprint);
  plat::DeclareAtomicWord(&g_heap_state.max_footprint, sizeof g_heap_state.max_footprint);
  plat::DeclareAtomicWord(&g_limit_error, sizeof g_limit_error);
}

}  // namespace

void InitialisationPass() {
  HeapParams& params = g_heap_params;
  if (params.page_size != 0) {
    CopySwitches();
    return;
  }
  params.mapping_threshold = kDefaultMappingThreshold;
  params.trim_threshold = kDefaultTrimThreshold;
  params.lock_switch = kDefaultLockSwitch;
  params.memory_limit = 0;
  params.default_state_flags = kDefaultStateFlags;
  g_initialisation_lock.Acquire();
  if (params.magic == 0) {
    params.magic = kHeapMagic;
    g_heap_state.lock = HeapLock{};
    g_heap_state.mflags = params.default_state_flags;
    DeclareUnlockedWords();
  }
  g_initialisation_lock.Release();
  CopySwitches();
  plat::SystemInfo info = plat::GetSystemInfo();
  // Every rounding of the heap masks with these; anything else would cut chunks apart.
  if (!IsPowerOfTwo(info.page_size) || !IsPowerOfTwo(info.allocation_granularity)) std::abort();
  params.granularity = info.allocation_granularity;
  // Set last: a nonzero page size tells later operations that set-up is done.
  params.page_size = info.page_size;
}

}  // namespace mem::heap

using mem::heap::g_heap_params;

extern "C" int dlmallopt(int param, int value) {
  mem::heap::InitialisationPass();
  std::size_t word = static_cast<std::size_t>(value);
  switch (param) {
    case DL_M_TRIM_THRESHOLD:
      g_heap_params.trim_threshold = word;
      return 1;
    case DL_M_GRANULARITY:
      if (word < g_heap_params.page_size || !mem::heap::IsPowerOfTwo(word)) return 0;
      g_heap_params.granularity = word;
      return 1;
    case DL_M_MMAP_THRESHOLD:
      g_heap_params.mapping_threshold = word;
      return 1;
    case DL_M_LOCK:
      g_heap_params.lock_switch = value;
      return 1;
    case DL_M_MEMORY_LIMIT:
      g_heap_params.memory_limit = word;
      return 1;
    default:
      return 0;
  }
}
