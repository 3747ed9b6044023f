// Where the allocation front end meets the thread-block pool: the routing switches,
// the page mark by which the pool's blocks are known, and the pool's operations.
#ifndef VARURUROR_MEM_THREAD_BLOCK_PORT_H
#define VARURUROR_MEM_THREAD_BLOCK_PORT_H

#include <cstdint>

#include "mem/tbpool/page_runs.h"
#include "plat/race_annotations.h"

namespace mem::thread_block {

// Requests of fewer bytes than this go to the pool while routing is on.
constexpr unsigned kRoutedSizeLimit = 129;

constexpr std::uintptr_t kPageSize = 4096;
// The second word of a pool page: four bytes of 0xAB.
constexpr std::uint32_t kPageMarkWord = 0xABABABABu;

// Small-block routing: on after mem_TBAllocator(2), off after mode 0.
extern unsigned char g_routing __attribute__((visibility("hidden")));
// On once the pool may have blocks out; never turned off again.
extern unsigned char g_pool_seen __attribute__((visibility("hidden")));
// Whether the pool's operations take its lock.
extern unsigned char g_thread_lock __attribute__((visibility("hidden")));

// A pool block's page starts with its own address and then the mark word. The test
// reads only the first two words of the block's own page, which is mapped since the
// block lies in it; those words may belong to another allocator's block, so the
// address sanitizer must not judge the read. Nor a thread checker, to which the unlocked
// read looks like a race: under one, the pool's map of its live pages answers instead,
// the same for every block the heap or the pool gave out. Marking the read as deliberate
// would cost every free a stack frame.
__attribute__((no_sanitize_address)) inline bool CarriesPageMark(void const* p) {
  std::uintptr_t page = reinterpret_cast<std::uintptr_t>(p) & ~(kPageSize - 1);
  if (page == 0) return false;
  if (__builtin_expect(plat::UnderChecker(), 0)) return IsLivePage(page);
  std::uint32_t const* words = reinterpret_cast<std::uint32_t const*>(page);
  return words[0] == page && words[1] == kPageMarkWord;
}

// The pool's operations for the front end; the pool is made on first need.
void* Allocate(unsigned size);
void Free(void* p);
void* Resize(void* p, unsigned size);

}  // namespace mem::thread_block

class mem_TBPool;

namespace mem::thread_block {

// The pool, or null before its first use; for checks.
mem_TBPool* ExistingPool();

}  // namespace mem::thread_block

#endif
