// Checks the state the thread-block pool keeps outside its page records (the page checker
// covers the rest): the class lists' tails, and the runs of pages against the page maps
// and the pool's live pages.
#ifndef VARURUROR_TESTS_MEM_TBPOOL_POOL_STATE_CHECKER_H
#define VARURUROR_TESTS_MEM_TBPOOL_POOL_STATE_CHECKER_H

#include <gtest/gtest.h>

#include <cstdint>

#include "mem/tbpool/fast_path.h"
#include "mem/tbpool/page_runs.h"
#include "mem/tbpool/tb_pool.h"
#include "pool_checker.h"

namespace pool_state_check {

using mem::blocks::FixedRegion;
using mem::thread_block::PageRun;

// Every class list ends at its recorded tail.
inline void CheckTails(mem_TBPool const& pool) {
  for (int size_class = 0; size_class < mem::blocks::kClassCount; ++size_class) {
    int last = mem_Block::kNoLink;
    int steps = 0;
    for (int id = pool.ClassHead(size_class); id != mem_Block::kNoLink && steps <= pool.PageCount();
         ++steps) {
      last = id;
      id = static_cast<mem_FixedBlock*>(pool.TableEntry(id))->Next();
    }
    EXPECT_EQ(pool.ClassTail(size_class), last) << "class " << size_class;
  }
}

// Every run's pages are either free (out of the page map) or live pool pages that map
// to it, the runs with a free page are exactly those on their list, and the runs' live
// pages are all of the pool's live pages.
inline void CheckRuns(mem_TBPool const& pool, int live_pages) {
  using mem::thread_block::kPoolPageBytes;
  int run_pages_live = 0;
  int runs_with_free = 0;
  PageRun const* previous = nullptr;
  for (PageRun const* run = mem::thread_block::PageRuns::FirstRun(); run != nullptr;
       run = run->next) {
    EXPECT_EQ(run->previous, previous);
    previous = run;
    EXPECT_EQ(run->base % kPoolPageBytes, 0u);
    EXPECT_TRUE(run->pages == mem::thread_block::kPagesPerRun || run->pages == 1) << run->pages;
    std::uint64_t all = run->pages == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << run->pages) - 1;
    EXPECT_EQ(run->free_pages & ~all, 0u);
    EXPECT_NE(run->free_pages, all) << "an empty run goes back to the heap";
    if (run->free_pages != 0) ++runs_with_free;
    for (int i = 0; i < run->pages; ++i) {
      std::uintptr_t page = run->base + static_cast<std::uintptr_t>(i) * kPoolPageBytes;
      bool free = (run->free_pages >> i & 1) != 0;
      EXPECT_EQ(mem::thread_block::IsLivePage(page), !free) << "page " << i << " of a run";
      EXPECT_EQ(mem::thread_block::RunOfPage(page), free ? nullptr : run);
      if (free) continue;
      ++run_pages_live;
      auto const* words = reinterpret_cast<std::uint32_t const*>(page);
      EXPECT_EQ(words[0], page);
      EXPECT_EQ(words[1], mem::thread_block::kPageMarkWord);
      mem_FixedBlock* block = mem_TBPool::BlockOfPage(page);
      ASSERT_TRUE(block->Id() >= 0 && block->Id() < pool.PageCount()) << block->Id();
      EXPECT_EQ(pool.TableEntry(block->Id()), block) << "a live run page is the pool's page";
    }
  }
  int listed = 0;
  previous = nullptr;
  for (PageRun const* run = mem::thread_block::PageRuns::FirstWithFree(); run != nullptr;
       run = run->next_with_free) {
    EXPECT_EQ(run->previous_with_free, previous);
    EXPECT_NE(run->free_pages, 0u);
    previous = run;
    ++listed;
  }
  EXPECT_EQ(listed, runs_with_free);
  EXPECT_EQ(run_pages_live, live_pages);
}

// The whole pool with the page checker, then the tails and the runs.
inline void CheckAll() {
  int live = pool_check::CheckPool();
  mem_TBPool* pool = mem::thread_block::ExistingPool();
  if (pool == nullptr) return;
  CheckTails(*pool);
  CheckRuns(*pool, live);
}

}  // namespace pool_state_check

#endif
