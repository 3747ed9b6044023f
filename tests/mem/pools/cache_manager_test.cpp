// The memory cache manager: room running short, the purge lists, teardown, the summary.
#include <gtest/gtest.h>
#include <malloc.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "test_items.h"

namespace {

// A purge worker run by the allocating thread: a wake runs the scripted step, then PurgeTask.
struct ScriptedWorker {
  mem_MemoryCacheManager* manager = nullptr;
  std::function<void()> before_purge;
  int wakes = 0;
  int sleep_through = 0;  // wakes that find the worker busy elsewhere

  static void Wake(void* argument) {
    auto* self = static_cast<ScriptedWorker*>(argument);
    if (++self->wakes <= self->sleep_through) return;
    if (self->before_purge) self->before_purge();
    self->manager->PurgeTask();
  }
};

void* g_handled_block;
unsigned g_handled_size;

constexpr int kCapacityBlocks = 10;

class CacheManagerRoom : public ::testing::Test {
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
  // Holds n more blocks nobody can purge; n < 0: as many as the capacity still takes.
  void Hold(int n = -1) {
    while (n-- != 0 && manager_.MemoryInUse() + kOnePageBlock <= kCapacityBlocks * kOnePageBlock)
      held_.push_back(Page());
  }
  void FreeHeld() {
    manager_.Free(held_.back());
    held_.pop_back();
  }
  BulkItem* Item(std::string const& name = "") {
    items_.emplace_back(new BulkItem(&manager_, name, &purged_));
    items_.back()->Build(1, false);
    return items_.back().get();
  }
  BulkItem* Registered(std::string const& name = "", int priority = 3,
                       mem_CachePolicyEnm policy = mem_MemoryCachePolicyTail) {
    BulkItem* item = Item(name);
    manager_.AddItem(priority, policy, item, item);
    return item;
  }

  mem_MemoryCacheManager manager_{"room"};
  ScriptedWorker worker_;
  std::vector<std::string> purged_;
  std::vector<void*> held_;
  std::vector<std::unique_ptr<BulkItem>> items_;
};

// The wait ends when the worker made room, items registered after a fruitless pass included.
TEST_F(CacheManagerRoom, TheWaitForTheWorkerAndGiveUps) {
  worker_.manager = &manager_;
  manager_.SetNumWorkerThreads(1, ScriptedWorker::Wake, nullptr, &worker_);
  Registered("a", 4);
  Registered("b", 4);
  // 7 of 10 pages; the check counts the new block twice: 8, not past four fifths, no wake.
  Hold(5);
  EXPECT_EQ(worker_.wakes, 0);
  unsigned charged = 0;
  void* p = manager_.Alloc(4 * kPage, charged, false);
  EXPECT_NE(p, nullptr);
  EXPECT_EQ(purged_, (std::vector<std::string>{"a", "b"}));
  manager_.Free(p);
  Hold(4);
  EXPECT_TRUE(manager_.PurgeTask());          // past four fifths with nothing registered
  Registered("late");                         // the tenth page
  worker_.sleep_through = worker_.wakes + 1;  // asleep at the next wake
  held_.push_back(Page());
  EXPECT_NE(held_.back(), nullptr);
  EXPECT_EQ(purged_, (std::vector<std::string>{"a", "b", "late"}));
  EXPECT_TRUE(manager_.PurgeTask());  // not out of memory
  // Full of held pages: a give-up throws or reports, and lasts until the next change.
  try {
    manager_.Alloc(3 * kPage, charged, true);
    ADD_FAILURE() << "no exception";
  } catch (mem_MemoryCacheManager_TooLittleMemory const& e) {
    EXPECT_EQ(e.Size(), 3 * kPage + 48);
  }
  EXPECT_TRUE(manager_.PurgeTask());  // a throwing failure does not stop the worker
  g_handled_block = &held_;
  manager_.SetOutOfMemoryHandler([](void* block, unsigned size) {
    g_handled_block = block;
    g_handled_size = size;
  });
  EXPECT_EQ(manager_.Alloc(1, charged, false), nullptr);
  EXPECT_EQ(g_handled_block, nullptr);
  EXPECT_EQ(g_handled_size, kOnePageBlock);
  EXPECT_FALSE(manager_.PurgeTask());  // out of memory: the worker stops
  // Another thread frees a block while this one waits: the wait ends, the worker goes on.
  worker_.before_purge = [&] {
    if (!held_.empty()) FreeHeld();
  };
  held_.push_back(Page());
  EXPECT_NE(held_.back(), nullptr);
  EXPECT_TRUE(manager_.PurgeTask());
}

// No worker that answers: the allocation purges; a give-up lasts until a free or a registration.
TEST_F(CacheManagerRoom, WithoutAWorkerThatAnswersTheAllocationPurgesItself) {
  for (int i = 0; i < kCapacityBlocks; ++i) Registered();
  held_.push_back(Page());
  EXPECT_NE(held_.back(), nullptr);
  Hold();
  EXPECT_EQ(Page(), nullptr);          // nothing left to purge: a give-up
  EXPECT_FALSE(manager_.PurgeTask());  // and the worker is told so
  FreeHeld();                          // memory freed: the give-up is over
  EXPECT_TRUE(manager_.PurgeTask());
  Registered();  // the capacity is full of purgeable data again
  manager_.SetNumWorkerThreads(
      3, [](void*) {}, nullptr, nullptr);
  held_.push_back(Page());
  EXPECT_NE(held_.back(), nullptr);
  EXPECT_EQ(Page(), nullptr);
  Registered();  // fails to build (no room), but registering alone ends the give-up
  EXPECT_TRUE(manager_.PurgeTask());
}

TEST_F(CacheManagerRoom, LoweringTheLimitPurgesTheExcessOrSaysItFailed) {
  Registered("a");
  Registered("b");
  Hold(4);
  testing::internal::CaptureStderr();
  manager_.SetMemoryLimit(5 * kOnePageBlock);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(purged_, std::vector<std::string>{"a"});
  testing::internal::CaptureStderr();
  manager_.SetMemoryLimit(2 * kOnePageBlock);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "failed in resize\n");
  EXPECT_EQ(purged_, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(manager_.MemoryInUse(), 4 * kOnePageBlock);  // not taken back
  testing::internal::CaptureStderr();
  manager_.SetMemoryLimit(0);
  manager_.ResizeMemory(0);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("refused"), std::string::npos);
  unsigned charged = 0;
  EXPECT_THROW(manager_.Alloc(1, charged, true), mem_MemoryCacheManager_TooLittleMemory);
  manager_.ResizeMemory(5 * kOnePageBlock);
  held_.push_back(manager_.Alloc(1, charged, true));
}

// Policies place items, lists are purged from 0, then high to low; bad input changes nothing.
TEST_F(CacheManagerRoom, PurgeListsPoliciesOrderAndRefusals) {
  manager_.SetMemoryLimit(0x1000000);
  Registered("a", 5, mem_MemoryCachePolicyHead);
  Registered("b", 5, mem_MemoryCachePolicyHead);
  Registered("c", 5, mem_MemoryCachePolicyTail);
  Registered("urgent", 9, mem_MemoryCachePolicyUrgent);
  Registered("zero", 0, mem_MemoryCachePolicyTail);
  Registered("seven", 7, mem_MemoryCachePolicyTail);
  Registered("top", 22, mem_MemoryCachePolicyTail);
  Registered("unlisted", 3, mem_MemoryCachePolicyNone);
  BulkItem* x = Registered("x", 1);
  EXPECT_TRUE(manager_.RemoveItem(x, 0));
  EXPECT_FALSE(manager_.RemoveItem(x, 0)) << "no longer on a list";
  Registered("y", 1);

  EXPECT_EQ(manager_.Purge(7, kAll), 3 * kOnePageBlock);  // lists 0 and 7 only
  EXPECT_EQ(purged_, (std::vector<std::string>{"urgent", "zero", "seven"}));
  purged_.clear();
  EXPECT_EQ(manager_.Purge(0, 2 * kOnePageBlock), 2 * kOnePageBlock);  // stops at the target
  EXPECT_EQ(purged_, (std::vector<std::string>{"top", "b"}));
  EXPECT_EQ(manager_.Purge(0, kAll), 3 * kOnePageBlock);
  EXPECT_EQ(purged_, (std::vector<std::string>{"top", "b", "a", "c", "y"}));
  EXPECT_EQ(manager_.Purge(0, kAll), 0u);
  EXPECT_TRUE(items_[7]->Built());  // "unlisted"

  BulkItem* a = Item("d");
  BulkItem* b = Item("e");
  testing::internal::CaptureStderr();
  manager_.AddItem(23, mem_MemoryCachePolicyTail, a, a);
  manager_.AddItem(-1, mem_MemoryCachePolicyHead, a, a);
  manager_.AddItem(2, mem_CachePolicyEnm(7), a, a);
  manager_.AddItem(2, mem_MemoryCachePolicyHead, nullptr, a);
  manager_.AddItem(5, mem_MemoryCachePolicyHead, a, b);  // a chain not linked together
  manager_.AddItem(5, mem_MemoryCachePolicyTail, b, a);
  std::string const refusals = testing::internal::GetCapturedStderr();
  EXPECT_NE(refusals.find("refused"), std::string::npos);
  EXPECT_NE(refusals.find("not linked to each other"), std::string::npos) << refusals;
  EXPECT_FALSE(manager_.RemoveItem(a, 0));
  EXPECT_FALSE(manager_.RemoveItem(b, 0));
  EXPECT_EQ(manager_.Purge(0, kAll), 0u);
  manager_.AddItem(2, mem_MemoryCachePolicyHead, a, a);
  testing::internal::CaptureStderr();
  manager_.AddItem(3, mem_MemoryCachePolicyTail, a, a);  // already on list 2
  EXPECT_NE(testing::internal::GetCapturedStderr().find("refused"), std::string::npos);
  EXPECT_EQ(manager_.Purge(23, kAll), 0u);
  EXPECT_EQ(manager_.Purge(-1, kAll), 0u);
  EXPECT_FALSE(manager_.RemoveItem(nullptr, 0));
  EXPECT_EQ(manager_.Purge(3, kAll), 0u);
  EXPECT_EQ(manager_.Purge(2, kAll), kOnePageBlock);

  // After the clean-up the lists take nothing, and registered items are unlinked.
  manager_.AddItem(4, mem_MemoryCachePolicyTail, b, b);
  manager_.ClearPurgeLists();
  EXPECT_FALSE(manager_.RemoveItem(b, 0));
  manager_.AddItem(4, mem_MemoryCachePolicyTail, b, b);
  EXPECT_EQ(manager_.Purge(0, kAll), 0u);
  EXPECT_TRUE(b->Built());
}

// Items deleted before the manager (the usual order) are not written to; it frees its blocks.
TEST(CacheManagerTeardown, RegisteredItemsAreNotTouchedAndTheManagerGivesBackItsBlocks) {
  for (bool destroy : {false, true}) {
    auto* manager = new mem_MemoryCacheManager("teardown");
    mem_MemoryItem items[2];
    manager->AddItem(7, mem_MemoryCachePolicyHead, &items[0], &items[0]);
    manager->AddItem(7, mem_MemoryCachePolicyHead, &items[1], &items[1]);
    unsigned char before[sizeof items];
    std::memcpy(before, items, sizeof items);
    if (!destroy) manager->ClearPurgeLists();
    delete manager;
    EXPECT_EQ(std::memcmp(before, items, sizeof items), 0) << (destroy ? "destructor" : "clean-up");
  }
  std::size_t const before = mallinfo2().uordblks;
  for (int i = 0; i < 50; ++i) delete new mem_MemoryCacheManager("lifetime");
  EXPECT_LT(mallinfo2().uordblks, before + kPage);
}

TEST(CacheManagerSummary, ReportsUseListsAndBins) {
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  mem_MemoryCacheManager manager("summary");
  manager.MemorySummary();  // no report file yet: nothing
  manager.SetReportFile(file);
  BulkItem a(&manager, "a", nullptr);
  a.Build(kPage * 1024);  // 4 MiB and a header
  manager.AddItem(2, mem_MemoryCachePolicyHead, &a, &a);
  manager.MemorySummary();
  manager.RemoveItem(&a, 0);
  std::rewind(file);
  char text[4096] = {};
  std::fread(text, 1, sizeof text - 1, file);
  std::fclose(file);
  std::string const mib = std::to_string((4 * 1048576.0 + 48) * 9.5367431640625e-7);
  std::string expected = "CACHEMANAGER Current Use " + mib + "\n";
  for (int list = 0; list < 23; ++list)
    expected += "purge list " + std::to_string(list) + " -- totalSize " +
                (list == 2 ? mib : "0.000000") + "\n";
  expected += "purge list total " + mib + "\n";
  for (int bin = 0; bin < 16; ++bin)
    expected += "cacheManager -- bin " + std::to_string(bin) + " -- total 0.000000\n";
  EXPECT_EQ(text, expected + "cacheManager free list -- total 0.000000\n");
}

}  // namespace
