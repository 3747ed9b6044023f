// The memory cache manager's blocks: sizes, free lists, the limit, the wait for the purge
// worker, and the summary.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "child_process.h"
#include "plat/environment.h"
#include "test_items.h"
#include "varururor/mem/memory_cache_manager.h"

namespace {

constexpr unsigned kPage = 4096;
constexpr unsigned kOnePageBlock = kPage + 48;
constexpr unsigned kClass13Block = 128 * kPage + 48;
constexpr unsigned kClass14Block = 192 * kPage + 48;
constexpr unsigned kClass15Block = 256 * kPage + 48;

// A purge worker run by the allocating thread itself: wake calls PurgeTask at once,
// after whatever the test scripts for that moment.
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
  void Attach(mem_MemoryCacheManager* m) {
    manager = m;
    m->SetNumWorkerThreads(1, Wake, nullptr, this);
  }
};

std::vector<void*> FillWithPages(mem_MemoryCacheManager& manager, int count) {
  std::vector<void*> blocks;
  for (int i = 0; i < count; ++i) {
    unsigned charged = 0;
    blocks.push_back(manager.Alloc(1, charged, false));
  }
  return blocks;
}

TEST(CacheManagerSizes, BlocksAreWholeClassesOfPagesBehindA48ByteHeader) {
  mem_MemoryCacheManager manager("sizes");
  struct Case {
    unsigned size, charged;
  } const cases[] = {{1, 4144},
                     {4096, 4144},
                     {4097, 8240},
                     {8193, 12336},
                     {5 * 4096, 24624},
                     {256 * kPage, kClass15Block},
                     {300 * kPage, 1228848},  // class 16: the size, rounded to pages
                     {257 * kPage + 1, 258 * kPage + 48}};
  for (Case const& c : cases) {
    unsigned charged = 0;
    void* p = manager.Alloc(c.size, charged, true);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(charged, c.charged) << c.size;
    EXPECT_EQ(manager.AllocSize(p), c.charged);
    EXPECT_EQ(manager.ActualSizeForUse(p), c.charged - 48);
    EXPECT_EQ(manager.MemoryInUse(), c.charged);
    static_cast<char*>(p)[c.size - 1] = 1;
    EXPECT_EQ(manager.Free(p), c.charged);
    EXPECT_EQ(manager.MemoryInUse(), 0u);  // free lists are off in this process
  }
  unsigned charged = 99;
  EXPECT_EQ(manager.Alloc(0, charged, true), nullptr);
  EXPECT_EQ(charged, 0u);
  EXPECT_EQ(manager.Free(nullptr), 0u);
  EXPECT_EQ(manager.AllocSize(nullptr), 0u);
  EXPECT_EQ(manager.ActualSizeForUse(nullptr), 0u);
}

// The variable is read by each manager when it is made; a child process starts unset.
TEST(CacheManagerFreeList, ReusesTheMostRecentlyFreedBlockOfItsClass) {
  EXPECT_IN_CHILD("", {
    mem_MemoryCacheManager before("before");
    plat::PutEnvironment("KOV_CACHEMANAGER_USEFREELIST=0");
    mem_MemoryCacheManager manager("reuse");
    unsigned charged = 0;
    void* a = manager.Alloc(100, charged, true);
    void* b = manager.Alloc(4000, charged, true);
    void* big = manager.Alloc(300 * kPage, charged, true);
    manager.Free(a);
    manager.Free(b);
    manager.Free(big);  // class 16 has no free list
    if (manager.MemoryInUse() != 2 * kOnePageBlock) std::exit(1);
    void* reused[3];
    for (void*& p : reused) p = manager.Alloc(1, charged, true);
    if (reused[0] != b || reused[1] != a || reused[2] == a) std::exit(2);
    for (void* p : reused) manager.Free(p);
    void* old = before.Alloc(1, charged, true);  // made before the variable: no free list
    before.Free(old);
    if (before.MemoryInUse() != 0) std::exit(4);
  });
}

TEST(CacheManagerFreeList, MakesRoomByFreeingSpareBlocksFromTheLargestClassDown) {
  EXPECT_IN_CHILD("", {
    plat::PutEnvironment("KOV_CACHEMANAGER_USEFREELIST=1");
    mem_MemoryCacheManager manager("evict");
    manager.SetMemoryLimit(4 * kClass15Block);
    unsigned charged = 0;
    void* large[2];
    void* medium[3];
    for (void*& p : large) p = manager.Alloc(256 * kPage, charged, true);
    for (void*& p : medium) p = manager.Alloc(128 * kPage, charged, true);
    for (void* p : medium) manager.Free(p);
    for (void* p : large) manager.Free(p);
    unsigned const spare = 2 * kClass15Block + 3 * kClass13Block;
    if (manager.MemoryInUse() != spare) std::exit(1);
    // One class-15 block (the later freed) goes back to the heap; that is enough.
    void* p14 = manager.Alloc(192 * kPage, charged, true);
    if (p14 == nullptr || manager.MemoryInUse() != spare - kClass15Block + kClass14Block) std::exit(2);
    if (manager.Alloc(256 * kPage, charged, true) != large[0]) std::exit(3);
    // No class-15 or class-14 block is spare now: one class-13 block goes.
    void* another = manager.Alloc(256 * kPage, charged, true);
    if (another == nullptr) std::exit(4);
    if (manager.MemoryInUse() != 2 * kClass15Block + 2 * kClass13Block + kClass14Block) std::exit(5);
    manager.ClearFreeList();
    if (manager.MemoryInUse() != 2 * kClass15Block + kClass14Block) std::exit(6);
    for (void* p : {p14, large[0], another}) manager.Free(p);
  });
}

void* g_handled_block;
unsigned g_handled_size;
void RecordOutOfMemory(void* block, unsigned size) {
  g_handled_block = block;
  g_handled_size = size;
}

class CacheManagerWaiting : public ::testing::Test {
 protected:
  void SetUp() override {
    manager_.SetMemoryLimit(10 * kOnePageBlock);
    worker_.Attach(&manager_);
  }
  mem_MemoryCacheManager manager_{"waiting"};
  ScriptedWorker worker_;
  std::vector<std::string> purged_;
};

TEST_F(CacheManagerWaiting, EndsWhenThePurgeWorkerMadeRoom) {
  BulkItem a(&manager_, "a", &purged_), b(&manager_, "b", &purged_);
  a.Build(1);
  b.Build(1);
  manager_.AddItem(4, mem_MemoryCachePolicyTail, &a, &a);
  manager_.AddItem(4, mem_MemoryCachePolicyTail, &b, &b);
  // 7 of 10 pages. The check counts the new block twice (once in the use, once as the
  // request): 8 pages, not past four fifths, so no wake yet.
  std::vector<void*> fill = FillWithPages(manager_, 5);
  EXPECT_EQ(worker_.wakes, 0);
  unsigned charged = 0;
  void* p = manager_.Alloc(4 * kPage, charged, false);
  EXPECT_NE(p, nullptr);
  EXPECT_EQ(purged_, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(manager_.MemoryInUse(), 5 * kOnePageBlock + charged);
  manager_.Free(p);
  for (void* f : fill) manager_.Free(f);
}

TEST_F(CacheManagerWaiting, GivesUpWhenNothingIsLeftToPurge) {
  std::vector<void*> fill = FillWithPages(manager_, 10);
  g_handled_block = &fill;
  manager_.SetOutOfMemoryHandler(RecordOutOfMemory);
  unsigned charged = 0;
  EXPECT_EQ(manager_.Alloc(1, charged, false), nullptr);
  EXPECT_EQ(charged, 0u);
  EXPECT_EQ(g_handled_block, nullptr);
  EXPECT_EQ(g_handled_size, kOnePageBlock);
  EXPECT_FALSE(manager_.PurgeTask());  // out of memory: the worker stops
  // Another thread frees a block while this one waits: the wait ends with it, and the
  // worker purges again.
  worker_.before_purge = [&] {
    if (!fill.empty()) {
      manager_.Free(fill.back());
      fill.pop_back();
    }
  };
  void* p = manager_.Alloc(1, charged, false);
  EXPECT_NE(p, nullptr);
  worker_.before_purge = nullptr;
  EXPECT_TRUE(manager_.PurgeTask());
  fill.push_back(p);
  for (void* f : fill) manager_.Free(f);
}

TEST_F(CacheManagerWaiting, ItemsRegisteredAfterAFruitlessPurgeAreWaitedFor) {
  std::vector<void*> fill = FillWithPages(manager_, 9);
  EXPECT_TRUE(manager_.PurgeTask());  // past four fifths with nothing registered
  BulkItem late(&manager_, "late", &purged_);
  late.Build(1);  // the tenth page
  manager_.AddItem(3, mem_MemoryCachePolicyTail, &late, &late);
  worker_.sleep_through = worker_.wakes + 1;  // asleep at the next wake
  unsigned charged = 0;
  void* p = manager_.Alloc(1, charged, false);
  EXPECT_NE(p, nullptr);
  EXPECT_EQ(purged_, (std::vector<std::string>{"late"}));
  EXPECT_TRUE(manager_.PurgeTask());  // not out of memory
  fill.push_back(p);
  for (void* f : fill) manager_.Free(f);
}

TEST_F(CacheManagerWaiting, ThrowsTheAllocationSizeAndLeavesTheWaitingCount) {
  std::vector<void*> fill = FillWithPages(manager_, 10);
  unsigned charged = 0;
  try {
    manager_.Alloc(3 * kPage, charged, true);
    ADD_FAILURE() << "no exception";
  } catch (mem_MemoryCacheManager_TooLittleMemory const& e) {
    EXPECT_EQ(e.Size(), 3 * kPage + 48);
  }
  EXPECT_TRUE(manager_.PurgeTask());  // a throwing failure does not stop the worker
  // Below four fifths and nobody waiting: a pass purges nothing.
  for (int i = 0; i < 5; ++i) {
    manager_.Free(fill.back());
    fill.pop_back();
  }
  BulkItem item(&manager_, "item", &purged_);
  item.Build(1);
  manager_.AddItem(0, mem_MemoryCachePolicyHead, &item, &item);
  EXPECT_TRUE(manager_.PurgeTask());
  EXPECT_TRUE(purged_.empty());
  EXPECT_TRUE(manager_.RemoveItem(&item, 0));
  for (void* f : fill) manager_.Free(f);
}

TEST(CacheManagerLimit, LoweringPurgesTheExcessOrSaysItFailed) {
  mem_MemoryCacheManager manager("limit");
  std::vector<std::string> purged;
  BulkItem a(&manager, "a", &purged), b(&manager, "b", &purged);
  a.Build(4 * kPage);
  b.Build(4 * kPage);
  manager.AddItem(3, mem_MemoryCachePolicyTail, &a, &a);
  manager.AddItem(3, mem_MemoryCachePolicyTail, &b, &b);
  std::vector<void*> fill = FillWithPages(manager, 4);
  testing::internal::CaptureStderr();
  manager.SetMemoryLimit(5 * kOnePageBlock + 4 * kPage + 48);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(purged, std::vector<std::string>{"a"});
  testing::internal::CaptureStderr();
  manager.SetMemoryLimit(2 * kOnePageBlock);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "failed in resize\n");
  EXPECT_EQ(purged, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(manager.MemoryInUse(), 4 * kOnePageBlock);  // not taken back
  testing::internal::CaptureStderr();
  manager.SetMemoryLimit(0);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("refused"), std::string::npos);
  unsigned charged = 0;
  EXPECT_THROW(manager.Alloc(1, charged, true), mem_MemoryCacheManager_TooLittleMemory);
  manager.ResizeMemory(5 * kOnePageBlock);
  void* p = manager.Alloc(1, charged, true);
  EXPECT_NE(p, nullptr);
  fill.push_back(p);
  for (void* f : fill) manager.Free(f);
}

std::string ReadFile(std::string const& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(CacheManagerSummary, ReportsUseListsAndBins) {
  std::string const path = testing::TempDir() + "cache_manager_summary.txt";
  std::FILE* file = std::fopen(path.c_str(), "w");
  ASSERT_NE(file, nullptr);
  {
    mem_MemoryCacheManager manager("summary");
    manager.MemorySummary();  // no report file yet: nothing
    manager.SetReportFile(file);
    BulkItem a(&manager, "a", nullptr);
    a.Build(kPage * 1024);  // 4 MiB and a header
    manager.AddItem(2, mem_MemoryCachePolicyHead, &a, &a);
    manager.MemorySummary();
    manager.RemoveItem(&a, 0);
  }
  std::fclose(file);
  std::string const text = ReadFile(path);
  char expected[256];
  double const mib = (4 * 1048576.0 + 48) * 9.5367431640625e-7;
  std::snprintf(expected, sizeof expected,
                "CACHEMANAGER Current Use %f\npurge list 0 -- totalSize 0.000000\n"
                "purge list 1 -- totalSize 0.000000\npurge list 2 -- totalSize %f\n",
                mib, mib);
  EXPECT_EQ(text.rfind(expected, 0), 0u) << text;
  std::snprintf(expected, sizeof expected,
                "purge list 22 -- totalSize 0.000000\npurge list total %f\n"
                "cacheManager -- bin 0 -- total 0.000000\n",
                mib);
  EXPECT_NE(text.find(expected), std::string::npos) << text;
  EXPECT_NE(text.find("cacheManager -- bin 15 -- total 0.000000\n"
                      "cacheManager free list -- total 0.000000\n"),
            std::string::npos);
}

}  // namespace
