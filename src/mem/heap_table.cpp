#include "mem/heap_table.h"

#include <cstdlib>

namespace mem {
namespace {

bool IsSet(char const* variable) { return std::getenv(variable) != nullptr; }

// The platform heap has no queries or settings of its own to offer.
int PlatformTrim(std::size_t) { return 0; }
int PlatformMallopt(int, int) { return 0; }
std::size_t PlatformZeroSize() { return 0; }
dl_mallinfo PlatformMallinfo() { return dl_mallinfo{}; }
int PlatformErrorMemoryLimit() { return 0; }

constexpr HeapTable kPlatformHeap = {
    std::malloc,
    std::calloc,
    std::realloc,
    std::free,
    PlatformTrim,
    PlatformMallopt,
    PlatformZeroSize,
    PlatformZeroSize,
    PlatformZeroSize,
    PlatformMallinfo,
    PlatformErrorMemoryLimit,
    PlatformZeroSize,
};

constexpr HeapTable kLibraryHeap = {
    dlmalloc,
    dlcalloc,
    dlrealloc,
    dlfree,
    dlmalloc_trim,
    dlmallopt,
    dlmalloc_footprint,
    dlmalloc_max_footprint,
    dlmalloc_memory_limit,
    dlmallinfo,
    error_memory_limit,
    dlfragmentationinfo,
};

// The one step that makes a choice: the flag and all twelve entries together.
void FillHeapTable(bool use_library_heap) {
  g_heap_table = use_library_heap ? kLibraryHeap : kPlatformHeap;
  g_use_library_heap = use_library_heap ? 1 : 0;
}

// Any use of the heap before start-up chose one: the library heap only when
// KVN_DLALLOCATOR asks for it.
void ChooseHeapAtFirstUse() { FillHeapTable(IsSet("KVN_DLALLOCATOR")); }

// The start-up entry for one slot of the table: choose, then forward to the slot.
template <typename Slot>
struct StartupEntry;

template <typename Result, typename... Args>
struct StartupEntry<Result (*HeapTable::*)(Args...)> {
  template <Result (*HeapTable::*slot)(Args...)>
  static Result Call(Args... args) {
    ChooseHeapAtFirstUse();
    return (g_heap_table.*slot)(args...);
  }
};

template <auto slot>
constexpr auto kStartup = &StartupEntry<decltype(slot)>::template Call<slot>;

}  // namespace

// Constant-initialised, so that allocations from other libraries' static constructors
// find the start-up entries in place.
HeapTable g_heap_table = {
    kStartup<&HeapTable::malloc>,
    kStartup<&HeapTable::calloc>,
    kStartup<&HeapTable::realloc>,
    kStartup<&HeapTable::free>,
    kStartup<&HeapTable::trim>,
    kStartup<&HeapTable::mallopt>,
    kStartup<&HeapTable::footprint>,
    kStartup<&HeapTable::max_footprint>,
    kStartup<&HeapTable::memory_limit>,
    kStartup<&HeapTable::mallinfo>,
    kStartup<&HeapTable::error_memory_limit>,
    kStartup<&HeapTable::fragmentation_info>,
};

unsigned char g_use_library_heap = 0;

bool HeapTableFilled() { return g_heap_table.malloc != kStartup<&HeapTable::malloc>; }

void ChooseHeapAtStartup() {
  if (HeapTableFilled()) return;
  FillHeapTable(!IsSet("KVN_CRTMALLOC") || IsSet("KVN_DLALLOCATOR"));
}

}  // namespace mem
