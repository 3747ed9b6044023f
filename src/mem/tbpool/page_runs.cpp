#include "mem/tbpool/page_runs.h"

#include <initializer_list>

#include "mem/tbpool/dl_allocator.h"

namespace mem::thread_block {

PageRun** g_page_map[kMapHighEntries];
unsigned char g_live_pages[std::uintptr_t{1} << (kAddressBits - kPageShift)];

namespace {

char const kTag[] = "mem_TBPool";

PageRun* g_first_run = nullptr;
PageRun* g_first_with_free = nullptr;

std::uint64_t AllPages(int pages) {
  return pages == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << pages) - 1;
}

static_assert(kPagesPerRun <= 64, "a run's free pages are the bits of one word");

void PushWithFree(PageRun* run) {
  run->previous_with_free = nullptr;
  run->next_with_free = g_first_with_free;
  if (g_first_with_free != nullptr) g_first_with_free->previous_with_free = run;
  g_first_with_free = run;
}

void RemoveWithFree(PageRun* run) {
  if (run->previous_with_free != nullptr) {
    run->previous_with_free->next_with_free = run->next_with_free;
  } else {
    g_first_with_free = run->next_with_free;
  }
  if (run->next_with_free != nullptr)
    run->next_with_free->previous_with_free = run->previous_with_free;
}

void Remove(PageRun* run) {
  if (run->previous != nullptr) {
    run->previous->next = run->next;
  } else {
    g_first_run = run->next;
  }
  if (run->next != nullptr) run->next->previous = run->previous;
}

void SetMap(std::uintptr_t page, PageRun* run) {
  g_page_map[page >> kMapHighShift][(page >> kPageShift) & kMapLowMask] = run;
  g_live_pages[page >> kPageShift] = run != nullptr ? 1 : 0;
}

// Makes the map's second level for every page of [begin, end); false without memory.
bool MapCovers(mem_DLAllocator& heap, std::uintptr_t begin, std::uintptr_t end) {
  for (std::uintptr_t high = begin >> kMapHighShift; high <= (end - 1) >> kMapHighShift; ++high) {
    if (g_page_map[high] != nullptr) continue;
    auto* low = static_cast<PageRun**>(heap.Calloc(kTag, 1u << kMapLowBits, sizeof(PageRun*)));
    if (low == nullptr) return false;
    g_page_map[high] = low;
  }
  return true;
}

// A new run whose first page is handed out; a single page when a whole run cannot be had,
// so that a short heap still serves the pool as long as it has a page.
void* NewRun(mem_DLAllocator& heap) {
  for (int pages : {kPagesPerRun, 1}) {
    std::uintptr_t bytes = static_cast<std::uintptr_t>(pages) * kPoolPageBytes;
    void* memory = heap.MemAlign(kTag, kPoolPageBytes, static_cast<unsigned>(bytes));
    if (memory == nullptr) continue;
    auto base = reinterpret_cast<std::uintptr_t>(memory);
    auto* run = static_cast<PageRun*>(heap.Malloc(kTag, sizeof(PageRun)));
    if (run == nullptr || !MapCovers(heap, base, base + bytes)) {
      heap.Free(kTag, run);
      heap.Free(kTag, memory);
      return nullptr;
    }
    // The first page is handed out at once.
    *run = PageRun{base,    pages,  AllPages(pages) & ~std::uint64_t{1}, g_first_run, nullptr,
                   nullptr, nullptr};
    if (g_first_run != nullptr) g_first_run->previous = run;
    g_first_run = run;
    if (run->free_pages != 0) PushWithFree(run);
    SetMap(base, run);
    return memory;
  }
  return nullptr;
}

}  // namespace

void* PageRuns::Take(mem_DLAllocator& heap) {
  PageRun* run = g_first_with_free;
  if (run == nullptr) return NewRun(heap);
  int index = __builtin_ctzll(run->free_pages);
  run->free_pages &= run->free_pages - 1;
  if (run->free_pages == 0) RemoveWithFree(run);
  std::uintptr_t page = run->base + (static_cast<std::uintptr_t>(index) << kPageShift);
  SetMap(page, run);
  return reinterpret_cast<void*>(page);
}

void PageRuns::Give(mem_DLAllocator& heap, void* page_memory) {
  auto page = reinterpret_cast<std::uintptr_t>(page_memory);
  PageRun* run = RunOfPage(page);
  SetMap(page, nullptr);
  bool had_free = run->free_pages != 0;
  run->free_pages |= std::uint64_t{1} << ((page - run->base) >> kPageShift);
  if (run->free_pages == AllPages(run->pages)) {
    if (had_free) RemoveWithFree(run);
    Remove(run);
    heap.Free(kTag, reinterpret_cast<void*>(run->base));
    heap.Free(kTag, run);
    return;
  }
  if (!had_free) PushWithFree(run);
}

PageRun* PageRuns::FirstRun() { return g_first_run; }

PageRun* PageRuns::FirstWithFree() { return g_first_with_free; }

}  // namespace mem::thread_block
