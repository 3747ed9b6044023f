// Cache items in a cache pool, their manager's lists and policies, and the purge walk
// that a bound allocator runs when the heap refuses.
#include "varururor/mem/cache_manager.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "child_process.h"
#include "heap_allocator.h"
#include "varururor/mem/cache_item.h"
#include "varururor/mem/cache_pool.h"
#include "varururor/mem/dlmalloc.h"

namespace {

// An item that keeps its bulk data in the same pool and gives it up when purged.
class DataItem : public mem_CacheItem {
 public:
  DataItem(mem_CachePool* pool, mem_CachePoolID self, char name, unsigned data_bytes,
           unsigned purge_frees, std::string* purged)
      : pool_(pool),
        self_(self),
        name_(name),
        bytes_(data_bytes),
        purge_frees_(purge_frees),
        purged_(purged) {
    data_ = pool->Alloc(data_bytes);
  }
  unsigned Size() const override { return data_.IsNull() ? 0 : bytes_; }
  void DebugPrint(bool verbose) const override {
    std::printf("item %c%s\n", name_, verbose ? " verbose" : "");
  }
  mem_CacheItemPtr Self() const override { return mem_CacheItemPtr(pool_, self_); }
  unsigned Purge() override {
    pool_->Free(data_);
    data_ = mem_CachePoolID();
    *purged_ += name_;
    return purge_frees_;
  }
  bool HasData() const { return !data_.IsNull(); }

 private:
  mem_CachePool* pool_;
  mem_CachePoolID self_;
  mem_CachePoolID data_;
  char name_;
  unsigned bytes_;
  unsigned purge_frees_;
  std::string* purged_;
};

class CacheManager : public ::testing::Test {
 protected:
  void TearDown() override { pool_->Delete(); }

  // A new item in the pool: data_bytes of data; a purge reports purge_frees bytes (the
  // data size unless given).
  mem_CacheItemPtr Item(char name, unsigned data_bytes = 64, unsigned purge_frees = 0) {
    mem_CachePoolID h = pool_->Alloc(sizeof(DataItem));
    new (pool_->Ptr(h))
        DataItem(pool_, h, name, data_bytes, purge_frees != 0 ? purge_frees : data_bytes, &purged_);
    return mem_CacheItemPtr(pool_, h);
  }
  static DataItem* Data(mem_CacheItemPtr const& item) { return static_cast<DataItem*>(item.Ptr()); }

  std::string Printed() {
    std::fflush(stdout);
    testing::internal::CaptureStdout();
    manager_.DebugPrint();
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
  }

  HeapAllocator allocator_;
  mem_CachePool* pool_ = mem_CachePool::CreatePool(&allocator_);
  mem_CacheManager manager_{"a name longer than sixteen"};
  std::string purged_;
};

TEST_F(CacheManager, PoliciesPlaceItemsAtTheHeadOrTheTail) {
  EXPECT_STREQ(manager_.Name(), "a name longer th");
  mem_CacheItemPtr a = Item('A'), b = Item('B'), c = Item('C'), d = Item('D'), e = Item('E');
  manager_.AddItem(mem_CachePriority2, mem_CachePolicyTail, a);
  manager_.AddItem(mem_CachePriority2, mem_CachePolicyTail, b);
  manager_.AddItem(mem_CachePriority2, mem_CachePolicyHead, c);  // C, A, B
  manager_.AddItem(mem_CachePriority1, mem_CachePolicyAlways, d);
  manager_.AddItem(mem_CachePriority3, mem_CachePolicyNone, e);
  EXPECT_TRUE(e.Ptr()->Next().IsNull());
  EXPECT_TRUE(e.Ptr()->Last().IsNull());
  EXPECT_EQ(Printed(),
            "--- Debug Print for CacheManager: a name longer th\n"
            "   ---Items in purge list PRIORITY_1\n  --Empty--\n"
            "   ---Items in purge list PRIORITY_2\nitem C verbose\nitem A verbose\nitem B verbose\n"
            "   ---Items in purge list PRIORITY_3\n  --Empty--\n"
            "   ---Items in purge list ALWAYS\nitem D verbose\n");

  // The head moves on when it is removed; the last item leaves its list empty.
  manager_.RemoveItem(c);
  EXPECT_EQ(manager_.ListHead(1), a);
  EXPECT_TRUE(c.Ptr()->Next().IsNull());
  EXPECT_TRUE(c.Ptr()->Remove().IsNull());  // not linked any more
  manager_.RemoveItem(d);
  EXPECT_NE(Printed().find("list ALWAYS\n  --Empty--\n"), std::string::npos);
}

// "ALWAYS" first, then the priorities from 3 down; each list from its tail end back to
// its head; items too small are passed by, and the walk stops at the first purge that
// frees enough.
TEST_F(CacheManager, ThePurgeWalkGoesFromTheTailsOfTheHighestListsOn) {
  mem_CacheItemPtr items[] = {Item('a', 500), Item('b', 500),      Item('c', 50),
                              Item('d', 500), Item('e', 500, 100), Item('f', 500)};
  manager_.AddItem(mem_CachePriority1, mem_CachePolicyTail, items[0]);  // list 0: a
  manager_.AddItem(mem_CachePriority3, mem_CachePolicyTail, items[1]);  // list 2: b, c
  manager_.AddItem(mem_CachePriority3, mem_CachePolicyTail, items[2]);
  manager_.AddItem(mem_CachePriority1, mem_CachePolicyAlways, items[3]);  // always: d
  manager_.AddItem(mem_CachePriority2, mem_CachePolicyTail, items[4]);    // list 1: f, e
  manager_.AddItem(mem_CachePriority2, mem_CachePolicyHead, items[5]);

  EXPECT_EQ(manager_.Purge(200), 500u);  // d
  EXPECT_EQ(purged_, "d");
  EXPECT_EQ(manager_.Purge(200), 500u);  // c is too small; b
  EXPECT_EQ(purged_, "db");
  EXPECT_TRUE(manager_.ListHead(2) == items[2]);
  // e frees less than it promised: the walk goes on to f.
  EXPECT_EQ(manager_.Purge(200), 500u);
  EXPECT_EQ(purged_, "dbef");
  EXPECT_TRUE(manager_.ListHead(1).IsNull());
  // Nothing is large enough: no purge, 0.
  EXPECT_EQ(manager_.Purge(1000), 0u);
  // A walk limited to one priority (and "ALWAYS") reaches no other list.
  EXPECT_EQ(manager_.Purge(40, mem_CachePriority2), 0u);
  EXPECT_EQ(manager_.Purge(40, mem_CachePriority3), 50u);
  EXPECT_EQ(purged_, "dbefc");
  EXPECT_TRUE(Data(items[0])->HasData());
  EXPECT_EQ(manager_.Purge(40), 500u);
  EXPECT_EQ(purged_, "dbefca");
  for (int list = 0; list < mem_CacheManager::kListCount; ++list)
    EXPECT_TRUE(manager_.ListHead(list).IsNull()) << list;
}

// A bound allocator whose heap is full purges items and tries again. The heap limit is
// process-wide, so this runs in a child.
TEST_F(CacheManager, ABoundAllocatorPurgesItemsWhenTheHeapIsFull) {
  EXPECT_IN_CHILD("", {
    constexpr unsigned kBig = 4u << 20;
    mem_CacheManager manager("bound");
    HeapAllocator bound(&manager);
    mem_CachePool* pool = mem_CachePool::CreatePool(&bound);
    std::string purged;
    std::vector<mem_CacheItemPtr> items;
    for (char name : {'x', 'y', 'z'}) {
      mem_CachePoolID h = pool->Alloc(sizeof(DataItem));
      new (pool->Ptr(h)) DataItem(pool, h, name, kBig, kBig, &purged);
      items.emplace_back(pool, h);
      manager.AddItem(mem_CachePriority1, mem_CachePolicyTail, items.back());
    }
    auto fail = [](char const* what) {
      std::fprintf(stderr, "%s\n", what);
      std::exit(1);
    };
    // Room for what is there and a little more, not for another big block.
    dlmallopt(DL_M_MEMORY_LIMIT, static_cast<int>(dlmalloc_footprint() + kBig / 2));
    mem_CachePoolID more = pool->Alloc(kBig);
    if (more.IsNull() || purged != "z" || bound.failures != 1) fail("the tail item was not purged");
    // The same request from an unbound allocator finds nothing to purge.
    HeapAllocator unbound;
    mem_CachePool* other = mem_CachePool::CreatePool(&unbound);
    if (other == nullptr || !other->Alloc(kBig).IsNull() || unbound.failures != 1)
      fail("an unbound allocator got memory");
    // A new cluster is asked for through the same allocator, and purges too.
    dlmallopt(DL_M_MEMORY_LIMIT, static_cast<int>(dlmalloc_footprint() + 4096));
    mem_CachePool* second = mem_CachePool::CreatePool(&bound);
    if (second == nullptr || second->Alloc(16).IsNull() || purged != "zy")
      fail("a new cluster did not purge");
  });
}

}  // namespace
