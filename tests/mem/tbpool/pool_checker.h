// Walks the whole thread-block pool: page marks and records, each region's free list and count,
// the class lists, the free-id list, one empty page per class at most, the runs of pages.
#ifndef VARURUROR_TESTS_MEM_TBPOOL_POOL_CHECKER_H
#define VARURUROR_TESTS_MEM_TBPOOL_POOL_CHECKER_H

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <vector>

#include "mem/tbpool/fast_path.h"
#include "mem/tbpool/page_runs.h"
#include "mem/tbpool/tb_pool.h"
#include "mem/thread_block_port.h"

namespace pool_check {

using mem::blocks::FixedRegion;
using mem::thread_block::PageRun;

inline std::uintptr_t PageOf(void const* p) {
  return reinterpret_cast<std::uintptr_t>(p) & ~(mem_TBPool::kPageBytes - 1);
}

inline void CheckRegion(FixedRegion const& region, int id) {
  int slot_words = region.SlotWords();
  int free_slots = 0;
  std::set<int> seen;
  for (int offset = region.FirstFree(); offset <= region.Length() - slot_words;) {
    ASSERT_EQ((offset - FixedRegion::kHeaderWords) % slot_words, 0) << "page " << id;
    ASSERT_TRUE(seen.insert(offset).second) << "free list loops, page " << id;
    bool never_used = *region.SlotAt(offset) == FixedRegion::kNeverUsed;
    free_slots += never_used ? (region.Length() - offset) / slot_words : 1;
    offset = never_used ? region.Length() : *region.SlotAt(offset);
  }
  int slots = (region.Length() - FixedRegion::kHeaderWords) / slot_words;
  EXPECT_EQ(region.AllocCount(), (slots - free_slots) * slot_words) << "page " << id;
}

// Every run's pages are free (out of the page maps) or live pages that map to it; the runs
// with a free page are those on their list; the runs' live pages are the pool's.
inline void CheckRuns(int live_pages) {
  int live = 0;
  int with_free = 0;
  for (PageRun const* run = mem::thread_block::PageRuns::FirstRun(); run != nullptr;
       run = run->next) {
    EXPECT_NE(run->free_pages, (std::uint64_t{1} << run->pages) - 1) << "an empty run stays";
    with_free += run->free_pages != 0 ? 1 : 0;
    for (int i = 0; i < run->pages; ++i) {
      std::uintptr_t page = run->base + i * mem::thread_block::kPoolPageBytes;
      bool free = (run->free_pages >> i & 1) != 0;
      EXPECT_EQ(mem::thread_block::IsLivePage(page), !free) << "page " << i << " of a run";
      EXPECT_EQ(mem::thread_block::RunOfPage(page), free ? nullptr : run);
      live += free ? 0 : 1;
    }
  }
  PageRun const* previous = nullptr;
  for (PageRun const* run = mem::thread_block::PageRuns::FirstWithFree(); run != nullptr;
       run = run->next_with_free, --with_free) {
    EXPECT_EQ(run->previous_with_free, previous);
    EXPECT_NE(run->free_pages, 0u);
    previous = run;
  }
  EXPECT_EQ(with_free, 0);
  EXPECT_EQ(live, live_pages);
}

inline void CheckPool() {
  mem_TBPool* pool = mem::thread_block::ExistingPool();
  if (pool == nullptr) return;
  std::vector<mem_FixedBlock*> pages(pool->PageCount(), nullptr);
  std::vector<bool> free_ids(pool->PageCount(), false);
  for (int head = pool->FreeIdHead(); head != 0;) {
    ASSERT_TRUE(head <= pool->PageCount() && !free_ids[head - 1]) << "free-id list: " << head;
    free_ids[head - 1] = true;
    head = static_cast<int>(reinterpret_cast<std::intptr_t>(pool->TableEntry(head - 1)));
  }
  int live = 0;
  for (int id = 0; id < pool->PageCount(); ++id) {
    if (free_ids[id]) continue;
    auto* block = pages[id] = static_cast<mem_FixedBlock*>(pool->TableEntry(id));
    std::uintptr_t page = PageOf(block);
    auto const* words = reinterpret_cast<std::uint32_t const*>(page);
    EXPECT_TRUE(words[0] == page && words[1] == 0xABABABABu) << "page " << id;
    EXPECT_TRUE(block == mem_TBPool::BlockOfPage(page) && block->Id() == id) << "page " << id;
    CheckRegion(block->Region(), id);
    ++live;
  }
  std::set<int> listed;
  for (int size_class = 0; size_class < mem::blocks::kClassCount; ++size_class) {
    int head = pool->ClassHead(size_class);
    EXPECT_EQ(mem::thread_block::g_head_region[size_class],
              head >= 0 && pages.at(head) != nullptr ? &pages[head]->Region() : nullptr);
    int previous = mem_Block::kNoLink;
    int empty_pages = 0;
    for (int id = head; id != mem_Block::kNoLink; previous = id, id = pages[id]->Next()) {
      ASSERT_TRUE(id >= 0 && id < pool->PageCount() && pages[id] != nullptr) << "listed: " << id;
      ASSERT_TRUE(listed.insert(id).second) << "page " << id << " listed twice";
      EXPECT_EQ(pages[id]->Previous(), previous) << "page " << id;
      EXPECT_EQ(pages[id]->Region().SizeClass(), size_class) << "page " << id;
      empty_pages += pages[id]->Region().AllocCount() == 0 ? 1 : 0;
    }
    EXPECT_EQ(pool->ClassTail(size_class), previous) << "class " << size_class;
    EXPECT_LE(empty_pages, 1) << "class " << size_class;
  }
  CheckRuns(live);
}

}  // namespace pool_check

#endif
