// The memory cache manager when room runs out: without a worker that answers, after a
// give-up, with a chain that is not one, and at teardown with items still registered.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <string>
#include <vector>

#include "test_items.h"
#include "varururor/mem/memory_cache_manager.h"
#include "varururor/mem/tracker.h"

namespace {

constexpr unsigned kOnePageBlock = 4096 + 48;
constexpr unsigned kAll = 0xFFFFFFFFu;
constexpr int kCapacityBlocks = 4;

class CacheManagerPressure : public ::testing::Test {
 protected:
  void SetUp() override { manager_.SetMemoryLimit(kCapacityBlocks * kOnePageBlock); }
  void TearDown() override {
    for (void* p : held_) manager_.Free(p);
    for (auto& item : items_) manager_.RemoveItem(item.get(), 0);
    items_.clear();
    EXPECT_EQ(manager_.MemoryInUse(), 0u);
  }
  void* Page() {
    unsigned charged = 0;
    return manager_.Alloc(1, charged, false);
  }
  // Fills what is left of the capacity with blocks nobody can purge.
  void FillUnpurgeable() {
    while (manager_.MemoryInUse() + kOnePageBlock <= kCapacityBlocks * kOnePageBlock)
      held_.push_back(Page());
  }
  BulkItem* Registered() {
    items_.emplace_back(new BulkItem(&manager_, "", nullptr));
    items_.back()->Build(1, false);
    manager_.AddItem(3, mem_MemoryCachePolicyTail, items_.back().get(), items_.back().get());
    return items_.back().get();
  }

  mem_MemoryCacheManager manager_{"pressure"};
  std::vector<void*> held_;
  std::vector<std::unique_ptr<BulkItem>> items_;
};

// No wake callback (a worker that polls PurgeTask, or none): the allocating thread purges
// itself. A give-up stops PurgeTask only until memory is freed or an item registered.
TEST_F(CacheManagerPressure, WithoutAWakeCallbackTheAllocationPurgesAndAGiveUpDoesNotLast) {
  for (int i = 0; i < kCapacityBlocks; ++i) Registered();
  void* p = Page();
  EXPECT_NE(p, nullptr);
  held_.push_back(p);
  FillUnpurgeable();
  EXPECT_EQ(Page(), nullptr);            // nothing left to purge: a give-up
  EXPECT_FALSE(manager_.PurgeTask());    // and the worker is told so
  manager_.Free(held_.back());           // memory freed: the give-up is over
  held_.pop_back();
  EXPECT_TRUE(manager_.PurgeTask());
  Registered();                          // the capacity is full of purgeable data again
  p = Page();
  EXPECT_NE(p, nullptr);
  held_.push_back(p);
  EXPECT_EQ(Page(), nullptr);
  Registered();  // fails to build (no room), but registering alone ends the give-up
  EXPECT_TRUE(manager_.PurgeTask());
}

// A worker that never answers its wake, with a worker count that does not match the
// threads: the wait still ends, by a pass of the allocating thread's own.
TEST_F(CacheManagerPressure, AWorkerThatNeverAnswersDoesNotHoldTheAllocationForever) {
  manager_.SetNumWorkerThreads(3, [](void*) {}, nullptr, nullptr);
  Registered();
  FillUnpurgeable();
  void* p = Page();
  EXPECT_NE(p, nullptr);
  held_.push_back(p);
  EXPECT_EQ(Page(), nullptr);
}

TEST_F(CacheManagerPressure, ATwoItemChainThatIsNotLinkedIsRefusedAndChangesNothing) {
  BulkItem* a = Registered();
  ASSERT_TRUE(manager_.RemoveItem(a, 0));
  items_.emplace_back(new BulkItem(&manager_, "", nullptr));
  BulkItem* b = items_.back().get();
  b->Build(1);
  testing::internal::CaptureStderr();
  manager_.AddItem(5, mem_MemoryCachePolicyHead, a, b);
  manager_.AddItem(5, mem_MemoryCachePolicyTail, b, a);
  std::string const message = testing::internal::GetCapturedStderr();
  EXPECT_NE(message.find("not linked to each other"), std::string::npos) << message;
  EXPECT_FALSE(manager_.RemoveItem(a, 0));
  EXPECT_FALSE(manager_.RemoveItem(b, 0));
  EXPECT_EQ(manager_.Purge(0, kAll), 0u);
  EXPECT_TRUE(a->Built() && b->Built());
}

// Clients delete their items before the manager goes (the usual order at shut-down), so
// neither the clean-up of the lists nor the manager's destructor may write into them.
TEST(CacheManagerTeardown, RegisteredItemsAreNotTouched) {
  for (bool destroy : {false, true}) {
    auto* manager = new mem_MemoryCacheManager("teardown");
    mem_MemoryItem items[3];
    manager->AddItem(0, mem_MemoryCachePolicyTail, &items[0], &items[0]);
    manager->AddItem(7, mem_MemoryCachePolicyHead, &items[1], &items[1]);
    manager->AddItem(7, mem_MemoryCachePolicyHead, &items[2], &items[2]);
    unsigned char before[sizeof items];
    std::memcpy(before, items, sizeof items);
    if (destroy) {
      delete manager;
    } else {
      manager->ClearPurgeLists();
    }
    EXPECT_EQ(std::memcmp(before, items, sizeof items), 0) << (destroy ? "destructor" : "clean-up");
    if (!destroy) delete manager;
  }
}

// Two threads rebuild purgeable items and hold a block each under a limit of four
// blocks, while a worker thread answers the wakes: every allocation succeeds (run under
// DRD as well, for the hand-overs between the waiting threads and the worker).
TEST(CacheManagerWaitThreads, TwoAllocatingThreadsAndAWorkerNeverGiveUpWhileRoomCanBeMade) {
  mem_Tracker_Interface::IsTrackingActive();  // decided before the threads, as start-up does
  mem_MemoryCacheManager manager("wait threads");
  manager.SetMemoryLimit(kCapacityBlocks * kOnePageBlock);
  struct Worker {
    std::mutex mutex;
    std::condition_variable woken;
    int wakes = 0;
    bool stop = false;
  } worker;
  manager.SetNumWorkerThreads(
      2,
      [](void* argument) {
        auto* w = static_cast<Worker*>(argument);
        std::lock_guard<std::mutex> lock(w->mutex);
        ++w->wakes;
        w->woken.notify_one();
      },
      nullptr, &worker);
  std::thread purger([&] {
    std::unique_lock<std::mutex> lock(worker.mutex);
    for (;;) {
      worker.woken.wait(lock, [&] { return worker.wakes > 0 || worker.stop; });
      if (worker.stop) return;
      worker.wakes = 0;
      lock.unlock();
      manager.PurgeTask();
      lock.lock();
    }
  });
  std::atomic<int> give_ups{0};
  auto client = [&] {
    std::vector<std::unique_ptr<BulkItem>> items;
    for (int i = 0; i < 3; ++i) items.emplace_back(new BulkItem(&manager, "", nullptr));
    for (int round = 0; round < 150; ++round) {
      BulkItem& item = *items[round % items.size()];
      manager.RemoveItem(&item, 0);
      item.Lock();
      if (!item.Built() && !item.Build(1, false)) ++give_ups;
      item.Unlock();
      manager.AddItem(round % 23, mem_MemoryCachePolicyTail, &item, &item);
      unsigned charged = 0;
      void* held = manager.Alloc(1, charged, false);
      if (held == nullptr) ++give_ups;
      manager.Free(held);
    }
    for (auto& item : items) manager.RemoveItem(item.get(), 0);
  };
  std::thread a(client), b(client);
  a.join();
  b.join();
  {
    std::lock_guard<std::mutex> lock(worker.mutex);
    worker.stop = true;
    worker.woken.notify_one();
  }
  purger.join();
  EXPECT_EQ(give_ups.load(), 0);
  EXPECT_EQ(manager.MemoryInUse(), 0u);
}

}  // namespace
