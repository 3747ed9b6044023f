// The thread-block pool behind the front end: pages, slots, class lists, page release and
// resizing, and a random sequence against a shadow model with the pool checked throughout.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <thread>
#include <vector>

#include "child_process.h"
#include "mem/blocks/size_classes.h"
#include "pool_checker.h"
#include "varururor/varururor.h"

namespace {

using pool_check::CheckPool;
using pool_check::PageOf;

constexpr std::uintptr_t kFirstSlotOffset = 80;

class ThreadBlockPool : public ::testing::Test {
 protected:
  void SetUp() override {
    unsetenv("KVN_TBMALLOC");
    mem_Free(mem_Malloc(1));  // the heap is chosen before the pool makes pages
    mem_TBAllocator(2);
  }
  void TearDown() override { mem_TBAllocator(0); }
};

std::uintptr_t OffsetInPage(void const* p) {
  return reinterpret_cast<std::uintptr_t>(p) & (mem_TBPool::kPageBytes - 1);
}

bool InPool(void const* p) { return mem::thread_block::CarriesPageMark(p); }

// Takes 32-byte slots until a fresh page starts, so that what follows sees only it.
void* FirstSlotOfAFreshPage(std::vector<void*>& taken) {
  for (;;) {
    void* p = mem_Malloc(32);
    taken.push_back(p);
    if (OffsetInPage(p) == kFirstSlotOffset) return p;
  }
}

TEST_F(ThreadBlockPool, SmallRequestsComeFromPagesAndLargeOnesDoNot) {
  void* zero = mem_Malloc(0);
  void* largest = mem_Malloc(128);
  void* too_large = mem_Malloc(129);
  EXPECT_TRUE(InPool(zero));
  EXPECT_TRUE(InPool(largest));
  EXPECT_FALSE(InPool(too_large));
  // A zero request takes a 4-byte slot, the largest a 128-byte one.
  EXPECT_EQ(mem_TBPool::BlockOfPage(PageOf(zero))->Region().SlotWords(), 1);
  EXPECT_EQ(mem_TBPool::BlockOfPage(PageOf(largest))->Region().SlotWords(), 32);
  mem_TBAllocator(0);
  // Blocks handed out while routing was on still go back to the pool.
  for (void* p : {zero, largest, too_large}) mem_Free(p);
  CheckPool();
}

TEST_F(ThreadBlockPool, AClass3PageHoldsExactly125Slots) {
  std::vector<void*> taken;
  void* first = FirstSlotOfAFreshPage(taken);
  for (int slot = 1; slot < 125; ++slot) {
    void* p = mem_Malloc(32);
    taken.push_back(p);
    ASSERT_EQ(PageOf(p), PageOf(first)) << "slot " << slot;
    ASSERT_EQ(OffsetInPage(p), kFirstSlotOffset + 32u * slot);
  }
  void* second_page = mem_Malloc(17);
  taken.push_back(second_page);
  EXPECT_NE(PageOf(second_page), PageOf(first));
  EXPECT_EQ(OffsetInPage(second_page), kFirstSlotOffset);
  CheckPool();
  for (void* p : taken) mem_Free(p);
  CheckPool();
}

// Fills the rest of a fresh class-3 page and then n more pages, each wholly: pages[i]
// holds the 125 slots of one page.
std::vector<std::vector<void*>> WholePages(std::vector<void*>& taken, int n) {
  FirstSlotOfAFreshPage(taken);
  for (int slot = 1; slot < 125; ++slot) taken.push_back(mem_Malloc(32));
  std::vector<std::vector<void*>> pages(n);
  for (auto& slots : pages) {
    for (int slot = 0; slot < 125; ++slot) slots.push_back(mem_Malloc(32));
    EXPECT_EQ(OffsetInPage(slots[0]), kFirstSlotOffset);
    EXPECT_EQ(PageOf(slots[0]), PageOf(slots[124]));
  }
  return pages;
}

int IdOf(void const* p) { return mem_TBPool::BlockOfPage(PageOf(p))->Id(); }

TEST_F(ThreadBlockPool, AnEmptyPageGoesBackWhileItsClassHasAnotherAndItsIdIsReusedFirst) {
  std::vector<void*> taken;
  auto pages = WholePages(taken, 3);
  int first_id = IdOf(pages[0][0]);
  int second_id = IdOf(pages[1][0]);
  for (void* p : taken) mem_Free(p);
  int live = CheckPool();
  mem_TBPool* pool = mem::thread_block::ExistingPool();
  for (void* p : pages[0]) mem_Free(p);
  EXPECT_EQ(CheckPool(), live - 1);
  EXPECT_EQ(pool->FreeIdHead(), first_id + 1);
  for (void* p : pages[1]) mem_Free(p);
  EXPECT_EQ(CheckPool(), live - 2);
  EXPECT_EQ(pool->FreeIdHead(), second_id + 1);

  // The next page made takes the id given back last.
  std::vector<void*> refill;
  while (pool->FreeIdHead() == second_id + 1) refill.push_back(mem_Malloc(32));
  EXPECT_EQ(IdOf(refill.back()), second_id);
  EXPECT_EQ(OffsetInPage(refill.back()), kFirstSlotOffset);
  for (void* p : refill) mem_Free(p);
  for (void* p : pages[2]) mem_Free(p);
  CheckPool();
}

TEST(ThreadBlockPoolAlone, TheOnlyPageOfAClassStaysWhenItEmpties) {
  EXPECT_IN_CHILD("^same page, 1 live$", mem_Free(mem_Malloc(1)); mem_TBAllocator(2);
                  void* p = mem_Malloc(100); std::uintptr_t page = PageOf(p); mem_Free(p);
                  int live = CheckPool(); void* q = mem_Malloc(100); std::fprintf(
                      stderr, "%s, %d live", PageOf(q) == page ? "same page" : "moved", live));
}

TEST_F(ThreadBlockPool, ResizeStaysMovesClassOrLeavesForTheHeap) {
  auto* p = static_cast<unsigned char*>(mem_Malloc(20));
  for (int i = 0; i < 32; ++i) p[i] = static_cast<unsigned char>(i + 1);
  EXPECT_EQ(mem_Realloc(p, 30), p);  // class 3 holds 32 bytes
  auto* bigger = static_cast<unsigned char*>(mem_Realloc(p, 40));
  ASSERT_NE(bigger, p);
  EXPECT_TRUE(InPool(bigger));
  EXPECT_EQ(mem_TBPool::BlockOfPage(PageOf(bigger))->Region().SizeClass(), 4);
  for (int i = 0; i < 32; ++i) ASSERT_EQ(bigger[i], i + 1);
  auto* large = static_cast<unsigned char*>(mem_Realloc(bigger, 200));
  ASSERT_NE(large, nullptr);
  EXPECT_FALSE(InPool(large));
  for (int i = 0; i < 32; ++i) ASSERT_EQ(large[i], i + 1);  // the 48-byte slot's first 32
  mem_Free(large);
  void* gone = mem_Malloc(10);
  EXPECT_EQ(mem_Realloc(gone, 0), nullptr);
  CheckPool();
}

// Random small and large operations through the entry points against byte-exact copies,
// with routing switched off and on along the way.
TEST_F(ThreadBlockPool, RandomOperationsKeepEveryBlockAndThePoolSound) {
  std::mt19937 random(99);
  std::map<unsigned char*, std::vector<unsigned char>> live;
  auto fill = [&](unsigned char* block, std::vector<unsigned char>& shadow) {
    for (std::size_t i = 0; i < shadow.size(); ++i) {
      shadow[i] = static_cast<unsigned char>(random());
      block[i] = shadow[i];
    }
  };
  auto intact = [&](unsigned char* block, std::vector<unsigned char> const& shadow,
                    std::size_t length) {
    return length == 0 || std::memcmp(block, shadow.data(), length) == 0;
  };
  auto overlaps = [&](unsigned char* block, std::size_t size) {
    auto next = live.upper_bound(block);
    if (next != live.end() && block + size > next->first) return true;
    if (next != live.begin() && std::prev(next)->first + std::prev(next)->second.size() > block) {
      return true;
    }
    return false;
  };
  auto size_of_request = [&] {
    return random() % 10 < 8 ? static_cast<unsigned>(random() % 129)
                             : static_cast<unsigned>(129 + random() % 3000);
  };
  for (int step = 0; step < 20000; ++step) {
    unsigned choice = random() % 100;
    if (choice == 0) mem_TBAllocator(random() % 2 == 0 ? 0 : 2);
    if (choice < 45 || live.size() < 8) {
      unsigned size = size_of_request();
      auto* block = static_cast<unsigned char*>(mem_Malloc(size));
      ASSERT_NE(block, nullptr);
      ASSERT_FALSE(overlaps(block, size ? size : 1));
      std::vector<unsigned char> shadow(size);
      fill(block, shadow);
      live.emplace(block, std::move(shadow));
    } else {
      auto it = live.begin();
      std::advance(it, random() % live.size());
      unsigned char* block = it->first;
      std::vector<unsigned char> shadow = std::move(it->second);
      live.erase(it);
      ASSERT_TRUE(intact(block, shadow, shadow.size())) << "step " << step;
      if (choice < 75) {
        mem_Free(block);
      } else {
        unsigned size = size_of_request();
        if (size == 0) size = 1;
        auto* moved = static_cast<unsigned char*>(mem_Realloc(block, size));
        ASSERT_NE(moved, nullptr);
        ASSERT_TRUE(intact(moved, shadow, std::min<std::size_t>(size, shadow.size())));
        ASSERT_FALSE(overlaps(moved, size));
        shadow.resize(size);
        fill(moved, shadow);
        live.emplace(moved, std::move(shadow));
      }
    }
    if (step % 500 == 0) {
      CheckPool();
      if (HasFailure()) return;
    }
  }
  for (auto& [block, shadow] : live) {
    ASSERT_TRUE(intact(block, shadow, shadow.size()));
    mem_Free(block);
  }
  CheckPool();
}

TEST_F(ThreadBlockPool, WithTheLockOnTwoThreadsShareThePool) {
  mem_TBThreadLock(true);
  std::vector<std::thread> threads;
  std::vector<int> damaged(2, 0);
  for (int t = 0; t < 2; ++t) {
    threads.emplace_back([t, &damaged] {
      std::mt19937 random(t + 7);
      std::vector<std::pair<unsigned char*, unsigned char>> mine;
      for (int i = 0; i < 20000; ++i) {
        if (mine.size() < 64 || random() % 2) {
          unsigned size = 1 + random() % 128;
          auto* p = static_cast<unsigned char*>(mem_Malloc(size));
          auto mark = static_cast<unsigned char>(random());
          p[0] = mark;
          mine.emplace_back(p, mark);
        } else {
          std::size_t index = random() % mine.size();
          if (random() % 4 == 0) {
            auto* moved =
                static_cast<unsigned char*>(mem_Realloc(mine[index].first, 1 + random() % 128));
            mine[index].first = moved;
          }
          if (mine[index].first[0] != mine[index].second) ++damaged[t];
          mem_Free(mine[index].first);
          mine[index] = mine.back();
          mine.pop_back();
        }
      }
      for (auto& entry : mine) mem_Free(entry.first);
    });
  }
  for (auto& thread : threads) thread.join();
  mem_TBThreadLock(false);
  EXPECT_EQ(damaged[0] + damaged[1], 0);
  CheckPool();
}

}  // namespace
