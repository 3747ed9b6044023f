// The purge lists: registration by policy, removal, purge order across lists, refusals.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "test_items.h"
#include "varururor/mem/memory_cache_manager.h"
#include "varururor/mem/tracker.h"

namespace {

// Policies place items, lists are purged from 0, then high to low; bad input changes nothing.
TEST(PurgeLists, PoliciesPurgeOrderAndRefusals) {
  mem_MemoryCacheManager manager("lists");
  std::vector<std::string> purged;
  std::vector<std::unique_ptr<BulkItem>> items;
  auto item = [&](std::string const& name) {
    items.emplace_back(new BulkItem(&manager, name, &purged));
    items.back()->Build(1);
    return items.back().get();
  };
  auto add = [&](int priority, mem_CachePolicyEnm policy, std::string const& name) {
    BulkItem* added = item(name);
    manager.AddItem(priority, policy, added, added);
  };
  add(5, mem_MemoryCachePolicyHead, "a");
  add(5, mem_MemoryCachePolicyHead, "b");
  add(5, mem_MemoryCachePolicyTail, "c");
  add(9, mem_MemoryCachePolicyUrgent, "urgent");
  add(0, mem_MemoryCachePolicyTail, "zero");
  add(7, mem_MemoryCachePolicyTail, "seven");
  add(22, mem_MemoryCachePolicyTail, "top");
  add(3, mem_MemoryCachePolicyNone, "unlisted");
  // RemoveItem says whether the item was on a list.
  BulkItem* x = item("x");
  BulkItem* y = item("y");
  EXPECT_FALSE(manager.RemoveItem(x, 0));
  manager.AddItem(1, mem_MemoryCachePolicyTail, x, x);
  ASSERT_TRUE(manager.RemoveItem(x, 0));
  manager.AddItem(1, mem_MemoryCachePolicyTail, y, y);

  EXPECT_EQ(manager.Purge(7, kAll), 3 * kOnePageBlock);  // lists 0 and 7 only
  EXPECT_EQ(purged, (std::vector<std::string>{"urgent", "zero", "seven"}));
  purged.clear();
  EXPECT_EQ(manager.Purge(0, 2 * kOnePageBlock), 2 * kOnePageBlock);  // stops at the target
  EXPECT_EQ(purged, (std::vector<std::string>{"top", "b"}));
  EXPECT_EQ(manager.Purge(0, kAll), 3 * kOnePageBlock);
  EXPECT_EQ(purged, (std::vector<std::string>{"top", "b", "a", "c", "y"}));
  EXPECT_EQ(manager.Purge(0, kAll), 0u);
  EXPECT_TRUE(items[7]->Built());  // "unlisted"

  // Refusals.
  BulkItem* a = item("d");
  BulkItem* b = item("e");
  testing::internal::CaptureStderr();
  manager.AddItem(23, mem_MemoryCachePolicyTail, a, a);
  manager.AddItem(-1, mem_MemoryCachePolicyHead, a, a);
  manager.AddItem(2, mem_CachePolicyEnm(7), a, a);
  manager.AddItem(2, mem_MemoryCachePolicyHead, nullptr, a);
  manager.AddItem(5, mem_MemoryCachePolicyHead, a, b);  // a chain not linked together
  manager.AddItem(5, mem_MemoryCachePolicyTail, b, a);
  std::string const refusals = testing::internal::GetCapturedStderr();
  EXPECT_NE(refusals.find("refused"), std::string::npos);
  EXPECT_NE(refusals.find("not linked to each other"), std::string::npos) << refusals;
  EXPECT_FALSE(manager.RemoveItem(a, 0));
  EXPECT_FALSE(manager.RemoveItem(b, 0));
  EXPECT_EQ(manager.Purge(0, kAll), 0u);
  manager.AddItem(2, mem_MemoryCachePolicyHead, a, a);
  testing::internal::CaptureStderr();
  manager.AddItem(3, mem_MemoryCachePolicyTail, a, a);  // already on list 2
  EXPECT_NE(testing::internal::GetCapturedStderr().find("refused"), std::string::npos);
  EXPECT_EQ(manager.Purge(23, kAll), 0u);
  EXPECT_EQ(manager.Purge(-1, kAll), 0u);
  EXPECT_FALSE(manager.RemoveItem(nullptr, 0));
  EXPECT_EQ(manager.Purge(3, kAll), 0u);
  EXPECT_EQ(manager.Purge(2, kAll), kOnePageBlock);

  // After the clean-up the lists take nothing, and registered items are unlinked.
  manager.AddItem(4, mem_MemoryCachePolicyTail, b, b);
  manager.ClearPurgeLists();
  EXPECT_FALSE(manager.RemoveItem(b, 0));
  manager.AddItem(4, mem_MemoryCachePolicyTail, b, b);
  EXPECT_EQ(manager.Purge(0, kAll), 0u);
  EXPECT_TRUE(b->Built());
  for (auto& item : items) manager.RemoveItem(item.get(), 0);
}

// Two clients rebuild items and hold a block each under a four-block limit, free lists on,
// while a worker purges: no item is lost, no allocation gives up (run under DRD as well).
TEST(PurgeListsThreads, ClientsAndAWorkerLoseNoItemAndNeverGiveUpWhileRoomCanBeMade) {
  mem_Tracker_Interface::IsTrackingActive();       // decided before the threads, as start-up does
  setenv("KOV_CACHEMANAGER_USEFREELIST", "1", 1);  // freed blocks are shared through the lists
  mem_MemoryCacheManager manager("concurrent");
  unsetenv("KOV_CACHEMANAGER_USEFREELIST");
  manager.SetMemoryLimit(4 * kOnePageBlock);
  constexpr int kItemsEach = 6;
  std::vector<std::unique_ptr<BulkItem>> items;
  for (int i = 0; i < 2 * kItemsEach; ++i) items.emplace_back(new BulkItem(&manager, "", nullptr));
  int woken = 0;
  int done = 0;
  manager.SetNumWorkerThreads(
      1, [](void* flag) { __atomic_store_n(static_cast<int*>(flag), 1, __ATOMIC_RELEASE); },
      nullptr, &woken);
  std::thread worker([&] {
    // Yields after each pass: under DRD, one thread runs at a time.
    for (int list = 0; __atomic_load_n(&done, __ATOMIC_ACQUIRE) == 0; list = (list + 1) % 23) {
      if (__atomic_exchange_n(&woken, 0, __ATOMIC_ACQ_REL) != 0)
        manager.PurgeTask();
      else
        manager.Purge(list, 2 * kOnePageBlock);
      std::this_thread::yield();
    }
  });
  int give_ups = 0;
  auto client = [&](int first) {
    for (int round = 0; round < 300; ++round) {
      BulkItem& item = *items[first + round % kItemsEach];
      manager.RemoveItem(&item, 0);
      item.Lock();  // waits while a purge frees the item
      if (!item.Built() && !item.Build(1, false))
        __atomic_add_fetch(&give_ups, 1, __ATOMIC_RELAXED);
      item.Unlock();
      int const policy = round % 3 == 2 ? 3 : round % 3;
      manager.AddItem(round % 23, mem_CachePolicyEnm(policy), &item, &item);
      unsigned charged = 0;
      void* held = manager.Alloc(1, charged, false);
      if (held == nullptr) __atomic_add_fetch(&give_ups, 1, __ATOMIC_RELAXED);
      manager.Free(held);
    }
  };
  std::thread a(client, 0), b(client, kItemsEach);
  a.join();
  b.join();
  __atomic_store_n(&done, 1, __ATOMIC_RELEASE);
  worker.join();
  EXPECT_EQ(give_ups, 0);
  // Every item that still holds data is on a list: one purge of everything reaches them all.
  unsigned built = 0;
  for (auto& item : items) built += item->Built() ? kOnePageBlock : 0;
  EXPECT_EQ(manager.Purge(0, kAll), built);
  for (auto& item : items) manager.RemoveItem(item.get(), 0);
  manager.ClearFreeList();
  EXPECT_EQ(manager.MemoryInUse(), 0u);
}

}  // namespace
