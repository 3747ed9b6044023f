// The allocation entry points of the whole application.
//
// Every block is taken and given back here: mem_Malloc, mem_Calloc, mem_Realloc and
// mem_Free call the heap chosen once per process (the library's own heap, or the
// platform's malloc heap) through one table, may route small requests to the
// thread-block pool, and report each operation to the memory tracker when tracking is
// on. Blocks must go back through mem_Free or mem_Realloc. Allocation works before
// the library is started: the first request chooses the heap by itself.
#ifndef VARURUROR_MEM_ALLOCATION_H
#define VARURUROR_MEM_ALLOCATION_H

#include "varururor/frame/export.h"

// The seven statistics of the library heap that mem_DLMallinfo carries, in this order.
struct mem_DLMallinfoResult {
  unsigned int arena;     // bytes in the heap's segments
  unsigned int ordblks;   // free chunks, and one for the top chunk
  unsigned int hblkhd;    // bytes in chunks with a mapping of their own
  unsigned int usmblks;   // the largest footprint so far
  unsigned int uordblks;  // bytes in use
  unsigned int fordblks;  // free bytes
  unsigned int keepcost;  // size of the top chunk
};
static_assert(sizeof(mem_DLMallinfoResult) == 28, "seven 32-bit fields");

extern "C" {

// Null when the request cannot be met.
VR_API void* mem_Malloc(unsigned int size);
VR_API void* mem_Calloc(unsigned int count, unsigned int size);
// p null: allocates. Otherwise resizes p, which may move; null on failure, p then intact.
VR_API void* mem_Realloc(void* p, unsigned int size);
// p null is harmless.
VR_API void mem_Free(void* p);

// Tell the tracker only: p leaves, or comes under, the caller's care.
VR_API void mem_Release(void* p);
VR_API void mem_Acquire(void* p);

// Heap queries and settings. Under the platform heap they return 0.
VR_API int mem_Trim(unsigned int pad);
VR_API int mem_Mallopt(int parameter, int value);
VR_API unsigned int mem_Footprint();
VR_API unsigned int mem_MaxFootprint();
VR_API unsigned int mem_MemoryLimit();
// -1 while the last request failed because it would pass the memory limit, else 0.
VR_API int mem_ErrorMemoryLimit();
// The largest free chunk of the library heap.
VR_API unsigned int mem_FragmentationInfo();
VR_API mem_DLMallinfoResult mem_DLMallinfo();

// 1 when the library heap serves the process, 0 for the platform heap.
VR_API int mem_UseDL();

}  // extern "C"

// Thread-block pool switches. mode 2: requests under 129 bytes go to the pool;
// mode 1: the pool's blocks are recognised on free and resize, routing unchanged;
// mode 0: routing off. A KVN_TBMALLOC value that begins with 0 keeps routing off.
VR_API void mem_TBAllocator(int mode);
// Whether the pool's operations take its lock; creates the pool if needed.
VR_API void mem_TBThreadLock(bool on);

#endif
