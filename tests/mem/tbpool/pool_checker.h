// Walks every page of the thread-block pool and checks what must hold between
// operations: page marks, each region's free list against its allocation count, the
// class lists and their links and cached head regions, the free-id list, and at most one
// empty page per class.
#ifndef VARURUROR_TESTS_MEM_TBPOOL_POOL_CHECKER_H
#define VARURUROR_TESTS_MEM_TBPOOL_POOL_CHECKER_H

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <vector>

#include "mem/tbpool/fast_path.h"
#include "mem/tbpool/tb_pool.h"
#include "mem/thread_block_port.h"

namespace pool_check {

using mem::blocks::FixedRegion;

inline std::uintptr_t PageOf(void const* p) {
  return reinterpret_cast<std::uintptr_t>(p) & ~(mem_TBPool::kPageBytes - 1);
}

// Slots a region can hold, and how many of them its free list says are free.
inline int Capacity(FixedRegion const& region) {
  return (region.Length() - FixedRegion::kHeaderWords) / region.SlotWords();
}

inline void CheckRegion(FixedRegion const& region, int page_id) {
  int capacity = Capacity(region);
  int free_slots = 0;
  std::set<int> seen;
  int offset = region.FirstFree();
  while (offset <= region.Length() - region.SlotWords()) {
    ASSERT_GE(offset, FixedRegion::kHeaderWords) << "page " << page_id;
    ASSERT_EQ((offset - FixedRegion::kHeaderWords) % region.SlotWords(), 0) << "page " << page_id;
    ASSERT_TRUE(seen.insert(offset).second) << "free list loops, page " << page_id;
    std::int32_t link = *region.SlotAt(offset);
    if (link == FixedRegion::kNeverUsed) {
      free_slots += (region.Length() - offset) / region.SlotWords();
      break;
    }
    ++free_slots;
    offset = link;
  }
  ASSERT_EQ(region.AllocCount(), (capacity - free_slots) * region.SlotWords())
      << "page " << page_id;
}

// Checks the whole pool; gives the number of live pages.
inline int CheckPool() {
  mem_TBPool* pool = mem::thread_block::ExistingPool();
  if (pool == nullptr) return 0;
  std::set<int> free_ids;
  for (int head = pool->FreeIdHead(); head != 0;) {
    int id = head - 1;
    EXPECT_LT(id, pool->PageCount());
    if (!free_ids.insert(id).second) {
      ADD_FAILURE() << "free-id list loops at " << id;
      return 0;
    }
    head = static_cast<int>(reinterpret_cast<std::intptr_t>(pool->TableEntry(id)));
  }
  std::vector<mem_FixedBlock*> pages(pool->PageCount(), nullptr);
  int live = 0;
  for (int id = 0; id < pool->PageCount(); ++id) {
    if (free_ids.count(id)) continue;
    auto* block = static_cast<mem_FixedBlock*>(pool->TableEntry(id));
    std::uintptr_t page = PageOf(block);
    auto const* words = reinterpret_cast<std::uint32_t const*>(page);
    EXPECT_EQ(words[0], page) << "page " << id;
    EXPECT_EQ(words[1], mem::thread_block::kPageMarkWord) << "page " << id;
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block), page + mem_TBPool::kBlockOffsetBytes);
    EXPECT_EQ(block->Id(), id);
    EXPECT_EQ(block->Words(), mem_TBPool::kMemoryWords);
    CheckRegion(block->Region(), id);
    pages[id] = block;
    ++live;
  }
  std::set<int> listed;
  for (int size_class = 0; size_class < mem::blocks::kClassCount; ++size_class) {
    // The cached head region is the head page's own.
    int head = pool->ClassHead(size_class);
    FixedRegion const* head_region = head >= 0 && head < pool->PageCount() && pages[head] != nullptr
                                         ? &pages[head]->Region()
                                         : nullptr;
    EXPECT_EQ(mem::thread_block::g_head_region[size_class], head_region) << "class " << size_class;
    int previous = mem_Block::kNoLink;
    int empty_pages = 0;
    for (int id = pool->ClassHead(size_class); id != mem_Block::kNoLink;) {
      if (id < 0 || id >= pool->PageCount() || pages[id] == nullptr) {
        ADD_FAILURE() << "class " << size_class << " lists a page that is not live: " << id;
        return live;
      }
      if (!listed.insert(id).second) {
        ADD_FAILURE() << "page " << id << " listed twice";
        return live;
      }
      EXPECT_EQ(pages[id]->Previous(), previous) << "page " << id;
      EXPECT_EQ(pages[id]->Region().SizeClass(), size_class) << "page " << id;
      if (pages[id]->Region().AllocCount() == 0) ++empty_pages;
      previous = id;
      id = pages[id]->Next();
    }
    EXPECT_LE(empty_pages, 1) << "class " << size_class;
  }
  // A page out of its list has no free slot: only a full page is dropped from it.
  for (int id = 0; id < pool->PageCount(); ++id) {
    if (pages[id] == nullptr || listed.count(id)) continue;
    FixedRegion const& region = pages[id]->Region();
    EXPECT_EQ(region.AllocCount(), Capacity(region) * region.SlotWords()) << "page " << id;
    EXPECT_EQ(pages[id]->Next(), mem_Block::kNoLink);
    EXPECT_EQ(pages[id]->Previous(), mem_Block::kNoLink);
  }
  return live;
}

}  // namespace pool_check

#endif
