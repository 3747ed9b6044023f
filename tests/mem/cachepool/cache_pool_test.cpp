// The cache pool against a byte-exact shadow of every live object, clusters and lists checked.
#include "varururor/mem/cache_pool.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "../cluster/cluster_checker.h"
#include "heap_allocator.h"
#include "mem/cluster/cluster.h"

namespace {

constexpr unsigned kLargest = mem_CachePool::kLargestClusterObject;

// Every cluster with memory is checked and in its bucket; lists are linked both ways.
void CheckPool(mem_CachePool const& pool) {
  int count = pool.ClusterCount();
  std::vector<int> bucket_of(count, -1);
  // A bucket list is linked through the link after the class lists' (bucket >= 0).
  auto walk = [&](int head, int link, int bucket) {
    int previous = -1;
    for (int index = head, steps = 0; index != -1; index = pool.Cluster(index)->NextLink(link)) {
      ASSERT_LT(++steps, count) << "list " << link << " loops";
      EXPECT_EQ(pool.Cluster(index)->PreviousLink(link), previous);
      EXPECT_TRUE(pool.Cluster(index)->HasMemory()) << "cluster " << index << " listed";
      if (bucket >= 0) {
        EXPECT_EQ(bucket_of[index], -1) << "cluster " << index << " in two buckets";
        bucket_of[index] = bucket;
      }
      previous = index;
    }
  };
  for (int b = 0; b < mem_CachePool::kBucketCount; ++b)
    walk(pool.BucketHead(b), mem_CachePool::kFixedClassCount, b);
  for (int k = 0; k < mem_CachePool::kFixedClassCount; ++k) walk(pool.ClassHead(k), k, -1);
  for (int index = 1; index < count; ++index) {
    mem_Cluster const* cluster = pool.Cluster(index);
    ASSERT_EQ(cluster->Number(), index);
    if (cluster->HasMemory()) cluster_check::CheckCluster(*cluster);
    EXPECT_EQ(bucket_of[index],
              cluster->HasMemory() ? mem_CachePool::BucketOf(cluster->LargestFree()) : -1)
        << "cluster " << index;
  }
}

// Every object holds a window of one pattern, starting at its seed.
struct Shadow {
  unsigned size;
  std::uint8_t seed;
};

std::uint8_t const* Pattern(Shadow const& s) {
  static std::vector<std::uint8_t> const pattern = [] {
    std::vector<std::uint8_t> bytes(256 + kLargest + 40000);
    for (std::size_t i = 0; i < bytes.size(); ++i)
      bytes[i] = static_cast<std::uint8_t>(i * 131u + (i >> 8));
    return bytes;
  }();
  return pattern.data() + s.seed;
}

void Fill(void* p, Shadow const& s, unsigned from = 0) {
  std::memcpy(static_cast<std::uint8_t*>(p) + from, Pattern(s) + from, s.size - from);
}

bool Holds(void const* p, Shadow const& s, unsigned up_to) {
  return std::memcmp(p, Pattern(s), up_to) == 0;
}

// Handles of cluster objects and passthru blocks; the buckets clusters are filed in.
TEST(CachePool, HandlesBucketsAndFiling) {
  int const buckets[][2] = {{33, -1},           {34, 0},   {97, 0}, {98, 1}, {34 + 32 * 128 - 1, 6},
                            {34 + 32 * 128, 7}, {65520, 7}};
  for (auto const& [largest, bucket] : buckets)
    EXPECT_EQ(mem_CachePool::BucketOf(largest), bucket) << largest;
  HeapAllocator allocator;
  mem_CachePool* pool = mem_CachePool::CreatePool(&allocator);
  ASSERT_NE(pool, nullptr);
  EXPECT_TRUE(pool->Alloc(0).IsNull());
  pool->Free(mem_CachePoolID());

  // Record index 1 goes to the first passthru block; its fixed block comes after it.
  mem_CachePoolIDTyp<void*> large = pool->Alloc(kLargest + 1);
  EXPECT_EQ(large.Id(), 2u);
  mem_CachePoolIDTyp<void*> small = pool->Alloc(kLargest);
  EXPECT_EQ(small.Id() & 1, 1u);
  EXPECT_EQ(large.Ptr(pool), pool->Ptr(large));
  EXPECT_EQ(mem_CachePoolIDTyp<void*>().Ptr(pool), nullptr);
  testing::internal::CaptureStdout();
  pool->DebugSummary();
  std::string summary = testing::internal::GetCapturedStdout();
  EXPECT_NE(summary.find("clusterCount=1, passthruCount=1\n"), std::string::npos) << summary;
  EXPECT_NE(summary.find("PassthruSize=4097, ClusterAlloc=4100\n"), std::string::npos) << summary;

  // A freed record is the next one taken.
  pool->Free(large);
  EXPECT_EQ(pool->Alloc(100000), large);

  // Size 0 changes nothing.
  Shadow s{kLargest, 7};
  Fill(pool->Ptr(small), s);
  EXPECT_TRUE(pool->ReAlloc(small, 0).IsNull());
  EXPECT_TRUE(Holds(pool->Ptr(small), s, s.size));
  pool->Free(small);

  // Adopted memory is the pool's to give back.
  void* own = allocator.Malloc("mem_CachePool", 40);
  mem_CachePoolIDTyp<void*> adopted = pool->Adopt(40, own);
  EXPECT_EQ(pool->Ptr(adopted), own);
  EXPECT_TRUE(pool->Adopt(40, nullptr).IsNull());

  // One class fills its cluster first; an emptied bucket head leaves without the others.
  std::vector<mem_CachePoolID> first;
  while (pool->ClusterCount() < 3 && first.size() < 100000) first.push_back(pool->Alloc(16));
  ASSERT_FALSE(first.back().IsNull());
  EXPECT_EQ(pool->Cluster(1)->Allocate(16), mem::cluster::kNoHandle)
      << "a second cluster after " << first.size() << " objects, with room in the first";
  first.pop_back();  // the only object of the second cluster stays
  for (mem_CachePoolID h : first) pool->Free(h);
  EXPECT_FALSE(pool->Cluster(1)->HasMemory());
  CheckPool(*pool);
  pool->Delete();
  EXPECT_EQ(allocator.live_blocks, 0);
}

// Waves of random operations fill and empty the pool; in the last, refusals keep all intact.
TEST(CachePool, RandomOperationsMatchAShadowModel) {
  HeapAllocator allocator;
  allocator.rations = 0;
  EXPECT_EQ(mem_CachePool::CreatePool(&allocator), nullptr);
  allocator.rations = 1 << 30;
  mem_CachePool* pool = mem_CachePool::CreatePool(&allocator);
  ASSERT_NE(pool, nullptr);
  std::mt19937 random(20261206);
  auto random_size = [&random]() -> unsigned {
    unsigned pick = random() % 100;
    if (pick < 55) return 1 + random() % 128;
    if (pick < 75) return 129 + random() % 1024;
    if (pick < 95) return 129 + random() % (kLargest - 128);
    return kLargest + 1 + random() % 40000;
  };
  std::map<unsigned, Shadow> live;
  auto check_all = [&] {
    for (auto const& [id, s] : live)
      ASSERT_TRUE(Holds(pool->Ptr(mem_CachePoolID(id)), s, s.size)) << "handle " << id;
    CheckPool(*pool);
  };
  int refused = 0;
  for (int wave = 0; wave < 4; ++wave) {
    std::size_t target = wave % 2 == 0 ? 1500 : 300;
    if (wave == 3) allocator.rations = 20;
    for (int step = 0; step < 6000; ++step) {
      unsigned op = random() % 10;
      bool grow = live.size() < target;
      mem_CachePoolID h;
      Shadow s{random_size(), static_cast<std::uint8_t>(random())};
      unsigned kept = 0;  // bytes the object brings along
      if (live.empty() || (grow && op < 6) || (!grow && op < 3)) {
        h = pool->Alloc(s.size);
        refused += h.IsNull();
      } else {
        auto it = live.begin();
        std::advance(it, random() % live.size());
        mem_CachePoolID old(it->first);
        ASSERT_TRUE(Holds(pool->Ptr(old), it->second, it->second.size)) << "handle " << it->first;
        if (op < 6) {
          h = pool->ReAlloc(old, s.size);
          refused += h.IsNull();
          if (h.IsNull()) continue;  // the object stays as it was
          kept = std::min(it->second.size, s.size);
          s.seed = it->second.seed;
          ASSERT_TRUE(Holds(pool->Ptr(h), s, kept));
        } else {
          pool->Free(old);
        }
        live.erase(it);
      }
      if (!h.IsNull()) {
        ASSERT_EQ(live.count(h.Id()), 0u) << "handle handed out twice";
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(pool->Ptr(h)) % 4, 0u);
        Fill(pool->Ptr(h), s, kept);
        live[h.Id()] = s;
      }
      if (step % 500 == 0) check_all();
    }
    check_all();
    if (wave == 1) {
      for (auto const& entry : live) pool->Free(mem_CachePoolID(entry.first));
      live.clear();
      CheckPool(*pool);
      // The next object goes to a record already there, which takes memory again.
      int records = pool->ClusterCount();
      mem_CachePoolID h = pool->Alloc(16);
      EXPECT_EQ(pool->ClusterCount(), records);
      EXPECT_TRUE(pool->Cluster(mem::cluster::HandleNumber(h.Id()))->HasMemory());
      pool->Free(h);
    }
  }
  EXPECT_GT(refused, 100);
  pool->Delete();
  EXPECT_EQ(allocator.live_blocks, 0);
}

}  // namespace
