// Where the thread-block pool's pages come from: runs of pages taken from the library heap
// in one aligned request each, and given back to it when all of a run's pages are free.
// One heap request per page would leave the heap's alignment lead (almost a page, which
// only larger requests can use) in front of every page; a run leaves one per run.
//
// The page map is the pool's own record of its live pages: the front end confirms with it
// that a page carrying the mark is one of the pool's, since the mark's words may lie in
// another heap block.
#ifndef VARURUROR_MEM_TBPOOL_PAGE_RUNS_H
#define VARURUROR_MEM_TBPOOL_PAGE_RUNS_H

#include <cstdint>

class mem_DLAllocator;

namespace mem::thread_block {

constexpr std::uintptr_t kPoolPageBytes = 4096;
constexpr int kPageShift = 12;
constexpr int kAddressBits = 32;
// A run's pages (62 keep a run request under the heap's 256 KiB mapping threshold); its
// free pages are the bits of one 64-bit word.
constexpr int kPagesPerRun = 62;

struct PageRun {
  std::uintptr_t base;       // the first page
  int pages;                 // kPagesPerRun, or 1 when a whole run could not be had
  std::uint64_t free_pages;  // bit i: page i is not in use
  PageRun* next;             // every run
  PageRun* previous;
  PageRun* next_with_free;  // the runs with a free page
  PageRun* previous_with_free;
};

// The page map: for each 4 MiB of address space, a table with the run of each live page
// there (null for any other page). The second level is made on first need.
constexpr int kMapLowBits = 10;
constexpr int kMapHighShift = kPageShift + kMapLowBits;
constexpr int kMapHighEntries = 1 << (kAddressBits - kMapHighShift);
constexpr std::uintptr_t kMapLowMask = (1u << kMapLowBits) - 1;
extern PageRun** g_page_map[kMapHighEntries] __attribute__((visibility("hidden")));

inline PageRun* RunOfPage(std::uintptr_t page) {
  PageRun* const* low = g_page_map[page >> kMapHighShift];
  return low != nullptr ? low[(page >> kPageShift) & kMapLowMask] : nullptr;
}

// One byte per page of the address space, nonzero for a live page of the pool: the
// front end's ownership test on every free of a pool block, one load. Only the bytes of
// the pool's pages are ever written, so the map costs address space, not memory.
extern unsigned char g_live_pages[std::uintptr_t{1} << (kAddressBits - kPageShift)]
    __attribute__((visibility("hidden")));

inline bool IsLivePage(std::uintptr_t page) { return g_live_pages[page >> kPageShift] != 0; }

// Hands out pages and takes them back. Callers serialise (the pool's lock).
class PageRuns {
 public:
  // A page (4096 bytes at a 4096-byte boundary), null when the heap has none.
  static void* Take(mem_DLAllocator& heap);
  // A live page back to its run; the run goes back to the heap when all its pages are.
  static void Give(mem_DLAllocator& heap, void* page);

  // For checks: the lists of every run and of the runs with a free page.
  static PageRun* FirstRun();
  static PageRun* FirstWithFree();
};

}  // namespace mem::thread_block

#endif
