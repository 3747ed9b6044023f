// The library's general-purpose heap: a boundary-tag heap with small and tree bins,
// a top chunk and segments taken from the system, large requests in mappings of their
// own, and a memory limit on everything it holds from the system.
//
// The allocation front end calls it when the library heap is chosen; code that must not
// be tracked or routed may call it directly. Blocks are 16-byte aligned.
#ifndef VARURUROR_MEM_DLMALLOC_H
#define VARURUROR_MEM_DLMALLOC_H

#include <cstddef>

#include "varururor/frame/export.h"

// Heap statistics, ten words in this order.
struct dl_mallinfo {
  std::size_t arena;     // bytes in segments: chunks, top and the room kept for the segment record
  std::size_t ordblks;   // free chunks, plus one for the top chunk
  std::size_t smblks;    // always 0
  std::size_t hblks;     // always 0
  std::size_t hblkhd;    // footprint minus arena: mapped chunks and their overhead
  std::size_t usmblks;   // maximum footprint
  std::size_t fsmblks;   // always 0
  std::size_t uordblks;  // footprint minus free bytes
  std::size_t fordblks;  // free bytes, top and its kept room included
  std::size_t keepcost;  // size of the top chunk
};
static_assert(sizeof(dl_mallinfo) == 40, "ten 32-bit words");

// The heap's state. There is one, the process's; internal_dlfragmentationinfo returns 0
// for any other pointer.
struct dl_malloc_state;

// dlmallopt parameters.
constexpr int DL_M_TRIM_THRESHOLD = -1;  // top size above which a free gives memory back
constexpr int DL_M_GRANULARITY = -2;     // unit of system requests: a power of two >= page
constexpr int DL_M_MMAP_THRESHOLD = -3;  // chunk size from which a block gets its own mapping
constexpr int DL_M_LOCK = -4;            // 0: no operation takes the heap lock
constexpr int DL_M_MEMORY_LIMIT = -5;    // bytes the footprint must stay below; 0: none

extern "C" {

// Null on failure: the system or the memory limit refused, or bytes >= 0xFFFFFFC0.
VR_API void* dlmalloc(std::size_t bytes);
// Null is ignored. A pointer the heap did not hand out, or took back already, aborts.
VR_API void dlfree(void* mem);
// Zero-filled. A product that does not fit a word fails.
VR_API void* dlcalloc(std::size_t count, std::size_t size);
// mem null: dlmalloc. bytes 0: frees mem, returns null. On failure mem stays intact.
VR_API void* dlrealloc(void* mem, std::size_t bytes);
// Alignments up to 16 are dlmalloc's; others are raised to a power of two of 32 or more.
VR_API void* dlmemalign(std::size_t alignment, std::size_t bytes);
// Gives back what lies beyond pad bytes of the top chunk, and every wholly free segment
// but the first; 1 if anything went back.
VR_API int dlmalloc_trim(std::size_t pad);
// Bytes held from the system (segments and mappings), now and at most so far.
VR_API std::size_t dlmalloc_footprint();
VR_API std::size_t dlmalloc_max_footprint();
// The limit as last set, even before the heap state has taken it over.
VR_API std::size_t dlmalloc_memory_limit();
// All zero before the first allocation.
VR_API dl_mallinfo dlmallinfo();
// The size of the largest free chunk, header included; the top chunk does not count.
VR_API std::size_t dlfragmentationinfo();
VR_API std::size_t internal_dlfragmentationinfo(dl_malloc_state* state);
// 0 for null or a block not in use.
VR_API std::size_t dlmalloc_usable_size(void* mem);
// 1 when the parameter is known and the value acceptable, else 0.
VR_API int dlmallopt(int param, int value);
// -1 while the most recent memory-limit check refused a request, else 0.
VR_API int error_memory_limit();

}  // extern "C"

#endif
