// Cache items in a cache pool, their manager's lists, and the purge walk of a bound allocator.
#include "varururor/mem/cache_manager.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

#include "child_process.h"
#include "heap_allocator.h"
#include "varururor/mem/cache_item.h"
#include "varururor/mem/cache_pool.h"
#include "varururor/mem/dlmalloc.h"

namespace {

// An item with its data in the same pool; a purge frees it and reports purge_frees bytes.
class DataItem : public mem_CacheItem {
 public:
  static mem_CacheItemPtr Make(mem_CachePool* pool, std::string* purged, char name,
                               unsigned data_bytes, unsigned purge_frees) {
    mem_CachePoolID self = pool->Alloc(sizeof(DataItem));
    new (pool->Ptr(self)) DataItem(pool, self, name, data_bytes, purge_frees, purged);
    return mem_CacheItemPtr(pool, self);
  }
  unsigned Size() const override { return data_.IsNull() ? 0 : bytes_; }
  void DebugPrint(bool verbose) const override { std::printf("%c%s\n", name_, verbose ? "+" : ""); }
  mem_CacheItemPtr Self() const override { return mem_CacheItemPtr(pool_, self_); }
  unsigned Purge() override {
    pool_->Free(data_);
    data_ = mem_CachePoolID();
    *purged_ += name_;
    return purge_frees_;
  }

 private:
  DataItem(mem_CachePool* pool, mem_CachePoolID self, char name, unsigned data_bytes,
           unsigned purge_frees, std::string* purged)
      : pool_(pool),
        self_(self),
        data_(pool->Alloc(data_bytes)),
        name_(name),
        bytes_(data_bytes),
        purge_frees_(purge_frees),
        purged_(purged) {}

  mem_CachePool* pool_;
  mem_CachePoolID self_;
  mem_CachePoolID data_;
  char name_;
  unsigned bytes_;
  unsigned purge_frees_;
  std::string* purged_;
};

// The purge walk: "ALWAYS", then 3 down to 1, tails first, to the first item freeing enough.
TEST(CacheManager, PoliciesAndThePurgeWalk) {
  HeapAllocator allocator;
  mem_CachePool* pool = mem_CachePool::CreatePool(&allocator);
  mem_CacheManager manager("a name longer than sixteen");
  std::string purged;
  auto item = [&](char name, unsigned data_bytes, unsigned purge_frees = 0) {
    return DataItem::Make(pool, &purged, name, data_bytes,
                          purge_frees != 0 ? purge_frees : data_bytes);
  };
  mem_CacheItemPtr a = item('a', 500), b = item('b', 500), c = item('c', 50), d = item('d', 500),
                   e = item('e', 500, 100), f = item('f', 500), none = item('n', 500);
  manager.AddItem(mem_CachePriority1, mem_CachePolicyTail, a);
  manager.AddItem(mem_CachePriority3, mem_CachePolicyTail, b);
  manager.AddItem(mem_CachePriority3, mem_CachePolicyTail, c);
  manager.AddItem(mem_CachePriority1, mem_CachePolicyAlways, d);
  manager.AddItem(mem_CachePriority2, mem_CachePolicyTail, e);
  manager.AddItem(mem_CachePriority2, mem_CachePolicyHead, f);
  manager.AddItem(mem_CachePriority3, mem_CachePolicyNone, none);

  EXPECT_EQ(manager.Purge(200), 500u);
  EXPECT_EQ(purged, "d");
  testing::internal::CaptureStdout();
  manager.DebugPrint();
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "--- Debug Print for CacheManager: a name longer th\n"
            "   ---Items in purge list PRIORITY_1\na+\n"
            "   ---Items in purge list PRIORITY_2\nf+\ne+\n"
            "   ---Items in purge list PRIORITY_3\nb+\nc+\n"
            "   ---Items in purge list ALWAYS\n  --Empty--\n");
  EXPECT_EQ(manager.Purge(200), 500u);  // c is too small; b
  EXPECT_EQ(purged, "db");
  // e frees less than it promised: the walk goes on to f.
  EXPECT_EQ(manager.Purge(200), 500u);
  EXPECT_EQ(purged, "dbef");
  EXPECT_EQ(manager.Purge(1000), 0u) << "nothing is large enough";
  // A walk limited to one priority (and "ALWAYS") reaches no other list.
  EXPECT_EQ(manager.Purge(40, mem_CachePriority2), 0u);
  EXPECT_EQ(manager.Purge(40, mem_CachePriority3), 50u);
  EXPECT_EQ(purged, "dbefc");

  // A removed head hands the list on; a removed item is linked no more.
  mem_CacheItemPtr g = item('g', 8);
  manager.AddItem(mem_CachePriority1, mem_CachePolicyHead, g);
  manager.RemoveItem(g);
  EXPECT_EQ(manager.ListHead(0), a);
  EXPECT_TRUE(g.Ptr()->Remove().IsNull()) << "still linked";
  EXPECT_EQ(manager.Purge(40), 500u);
  EXPECT_EQ(purged, "dbefca");
  for (int list = 0; list < mem_CacheManager::kListCount; ++list)
    EXPECT_TRUE(manager.ListHead(list).IsNull()) << list;
  pool->Delete();
}

// A bound allocator whose heap is full purges and tries again (in a child: the heap limit).
TEST(CacheManager, ABoundAllocatorPurgesItemsWhenTheHeapIsFull) {
  EXPECT_IN_CHILD("", {
    constexpr unsigned kBig = 4u << 20;
    mem_CacheManager manager("bound");
    HeapAllocator bound(&manager);
    mem_CachePool* pool = mem_CachePool::CreatePool(&bound);
    std::string purged;
    for (char name : {'x', 'y', 'z'}) {
      mem_CacheItemPtr item = DataItem::Make(pool, &purged, name, kBig, kBig);
      manager.AddItem(mem_CachePriority1, mem_CachePolicyTail, item);
    }
    // Room for what is there and a little more, not for another big block: the tail goes.
    dlmallopt(DL_M_MEMORY_LIMIT, static_cast<int>(dlmalloc_footprint() + kBig / 2));
    if (pool->Alloc(kBig).IsNull() || purged != "z" || bound.failures != 1) std::exit(2);
    // A new cluster is asked for through the same allocator, and purges too.
    dlmallopt(DL_M_MEMORY_LIMIT, static_cast<int>(dlmalloc_footprint() + 4096));
    mem_CachePool* second = mem_CachePool::CreatePool(&bound);
    if (second == nullptr || second->Alloc(16).IsNull() || purged != "zy") std::exit(3);
  });
}

}  // namespace
