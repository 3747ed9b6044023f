// The purge lists under threads: clients, a purge worker and the free lists at once.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

#include "test_items.h"
#include "varururor/mem/tracker.h"

namespace {

// Two clients and a purging worker, four-block limit: no item lost, no give-up (DRD as well).
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
