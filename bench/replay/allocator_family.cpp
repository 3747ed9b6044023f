#include "allocator_family.h"

#include "plat/dynamic_library.h"
#include "varururor/varururor.h"

namespace bench {

namespace {

struct SharedLibraryHeap {
  char const* family;
  char const* file_name;
};

// The peers by the file names of their Debian packages' libraries.
constexpr SharedLibraryHeap kSharedLibraryHeaps[] = {
    {"glibc", "libc.so.6"},
    {"jemalloc", "libjemalloc.so.2"},
    {"mimalloc", "libmimalloc.so.2"},
    {"tcmalloc", "libtcmalloc_minimal.so.4"},
};

// On this target std::size_t is unsigned int, so the front end's entry points have the
// heap functions' types and go into the table as they are, with no call in between.
static_assert(sizeof(std::size_t) == sizeof(unsigned), "std::size_t is unsigned int");

template <typename F>
bool Resolve(plat::LibraryHandle library, char const* symbol, F* slot) {
  *slot = reinterpret_cast<F>(plat::GetProcAddress(library, symbol));
  return *slot != nullptr;
}

bool FromSharedLibrary(SharedLibraryHeap const& heap, AllocatorFamily* family, std::string* error) {
  // Already loaded (the C library, or a preloaded peer), this only finds it again.
  plat::LibraryHandle library = plat::LoadLibrary(heap.file_name);
  if (library == nullptr) {
    *error = std::string("cannot load ") + heap.file_name +
             " (jemalloc must be preloaded: LD_PRELOAD=" + heap.file_name + ")";
    return false;
  }
  family->name = heap.family;
  family->max_footprint = nullptr;
  if (!Resolve(library, "malloc", &family->malloc) ||
      !Resolve(library, "calloc", &family->calloc) ||
      !Resolve(library, "realloc", &family->realloc) ||
      !Resolve(library, "memalign", &family->memalign) ||
      !Resolve(library, "free", &family->free)) {
    *error = std::string(heap.file_name) + " lacks one of the heap functions";
    return false;
  }
  return true;
}

// The front end has no aligned entry point: aligned requests go straight to the heap
// behind it, whose free is the one mem_Free calls.
bool FromFrontEnd(bool library_heap, AllocatorFamily* family, std::string* error) {
  int started = 0;
  UTI_VaruRuror_initialize(started);
  if (mem_UseDL() != (library_heap ? 1 : 0)) {
    *error = library_heap ? "the platform heap serves mem_Malloc: set KVN_DLALLOCATOR"
                          : "the library heap serves mem_Malloc: set KVN_CRTMALLOC";
    return false;
  }
  AllocatorFamily platform;
  if (!library_heap && !FromSharedLibrary(kSharedLibraryHeaps[0], &platform, error)) return false;
  family->name = library_heap ? "mem-dl" : "mem-crt";
  family->malloc = mem_Malloc;
  family->calloc = mem_Calloc;
  family->realloc = mem_Realloc;
  family->memalign = library_heap ? dlmemalign : platform.memalign;
  family->free = mem_Free;
  family->max_footprint = library_heap ? mem_MaxFootprint : nullptr;
  return true;
}

}  // namespace

char const* AllocatorFamilyNames() {
  return "mem-dl mem-dl-tb mem-crt dl glibc jemalloc mimalloc tcmalloc";
}

bool FindAllocatorFamily(std::string const& name, AllocatorFamily* family, std::string* error) {
  if (name == "mem-dl" || name == "mem-crt") return FromFrontEnd(name == "mem-dl", family, error);
  // The library heap with small requests routed to the thread-block pool.
  if (name == "mem-dl-tb") {
    if (!FromFrontEnd(true, family, error)) return false;
    mem_TBAllocator(2);
    family->name = "mem-dl-tb";
    return true;
  }
  if (name == "dl") {
    *family = AllocatorFamily{
        "dl", dlmalloc, dlcalloc, dlrealloc, dlmemalign, dlfree, dlmalloc_max_footprint};
    return true;
  }
  for (SharedLibraryHeap const& heap : kSharedLibraryHeaps) {
    if (name == heap.family) return FromSharedLibrary(heap, family, error);
  }
  *error = "unknown allocator " + name + "; known: " + AllocatorFamilyNames();
  return false;
}

}  // namespace bench
