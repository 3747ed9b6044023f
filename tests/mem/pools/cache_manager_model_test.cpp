// Random allocations and frees under a limit against a model of sizes, counts, free lists.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <vector>

#include "child_process.h"
#include "plat/environment.h"
#include "test_items.h"

namespace {

constexpr unsigned kHeader = 48;
constexpr int kFreeLists = 16;
constexpr unsigned kCapacity = 3 * 1024 * 1024;

unsigned PagesOfClass(int k) {
  return k == 0 ? 1 : (k % 2 == 1 ? 1u << ((k + 1) / 2) : 3u << ((k + 1) / 2 - 1));
}

// A block's size class and charge, and the tag stamped into it once it is live.
struct Request {
  int size_class;
  unsigned charged;
  std::uint32_t tag = 0;
};

Request Classify(unsigned size) {
  unsigned const pages = (size + kPage - 1) / kPage;
  int k = 0;
  while (PagesOfClass(k) < pages) ++k;
  unsigned const charged = (k < kFreeLists ? PagesOfClass(k) : pages) * kPage + kHeader;
  return {k, charged, 0};
}

// Writes (or, with check, compares) a tag at the start, middle and end of a block's room.
bool Stamp(void* p, unsigned usable, std::uint32_t tag, bool check = false) {
  auto* bytes = static_cast<unsigned char*>(p);
  for (unsigned offset : {0u, usable / 2, usable - 4}) {
    if (!check) std::memcpy(bytes + offset, &tag, 4);
    if (std::memcmp(bytes + offset, &tag, 4) != 0) return false;
  }
  return true;
}

void WakeSynchronously(void* manager) {
  static_cast<mem_MemoryCacheManager*>(manager)->PurgeTask();
}

void RunModel(bool free_list, unsigned seed) {
  mem_MemoryCacheManager manager("model");
  manager.SetMemoryLimit(kCapacity);
  manager.SetNumWorkerThreads(1, WakeSynchronously, nullptr, &manager);
  unsigned charged = 99;
  ASSERT_EQ(manager.Alloc(0, charged, true), nullptr);  // no class: nothing, no throw
  ASSERT_EQ(charged, 0u);
  ASSERT_EQ(manager.Free(nullptr) + manager.AllocSize(nullptr) + manager.ActualSizeForUse(nullptr),
            0u);
  std::mt19937 random(seed);
  std::map<void*, Request> live;
  std::vector<std::pair<void*, unsigned>> spare[kFreeLists];  // most recent last
  unsigned in_use = 0;
  std::uint32_t next_tag = 1;

  for (int op = 0; op < 3000; ++op) {
    if (live.empty() || random() % 100 < 55) {
      // Mostly small blocks, some large ones, a few past the free-list classes.
      unsigned const pages = random() % 20 == 0 ? 257 + random() % 60 : 1u << (random() % 8);
      unsigned const edge = random() % 3;
      unsigned const last = edge == 0 ? 1 : (edge == 1 ? kPage : 1 + random() % kPage);
      unsigned const size = (pages - 1) * kPage + last;
      Request request = Classify(size);
      void* expected = nullptr;
      if (request.size_class < kFreeLists && !spare[request.size_class].empty()) {
        expected = spare[request.size_class].back().first;
        spare[request.size_class].pop_back();
      }
      // Else spare blocks go back to the heap, the largest classes first, until it fits.
      for (int k = kFreeLists - 1; expected == nullptr && k >= 0; --k) {
        while (!spare[k].empty() && in_use + request.charged > kCapacity) {
          in_use -= spare[k].back().second;
          spare[k].pop_back();
        }
      }
      bool const fits = expected != nullptr || in_use + request.charged <= kCapacity;
      if (fits && expected == nullptr) in_use += request.charged;

      void* p = manager.Alloc(size, charged, false);
      ASSERT_EQ(charged, fits ? request.charged : 0u) << size;  // a refusal charges nothing
      ASSERT_EQ(p != nullptr, fits) << "op " << op << " size " << size;
      if (p != nullptr) {
        ASSERT_TRUE(expected == nullptr || p == expected);
        ASSERT_EQ(live.count(p), 0u);
        ASSERT_EQ(manager.AllocSize(p), charged);
        ASSERT_EQ(manager.ActualSizeForUse(p), charged - kHeader);
        request.tag = next_tag++;
        Stamp(p, charged - kHeader, request.tag);
        live[p] = request;
      }
    } else {
      auto it = live.begin();
      std::advance(it, random() % live.size());
      auto const [p, block] = *it;
      ASSERT_TRUE(Stamp(p, block.charged - kHeader, block.tag, true)) << "op " << op;
      ASSERT_EQ(manager.Free(p), block.charged);
      if (free_list && block.size_class < kFreeLists)
        spare[block.size_class].push_back({p, block.charged});
      else
        in_use -= block.charged;
      live.erase(it);
    }
    ASSERT_EQ(manager.MemoryInUse(), in_use) << "op " << op;
  }
  for (auto const& [p, block] : live) manager.Free(p);
}

// The free-list variable is read by each manager when it is made; a child starts unset.
TEST(CacheManagerModel, RandomOperationsWithoutAndWithFreeLists) {
  for (unsigned seed : {1u, 2u, 3u}) RunModel(false, seed);
  EXPECT_IN_CHILD("", {
    mem_MemoryCacheManager before("before");
    plat::PutEnvironment("KOV_CACHEMANAGER_USEFREELIST=0");
    for (unsigned seed : {1u, 2u, 3u}) RunModel(true, seed);
    unsigned charged = 0;
    before.Free(before.Alloc(1, charged, true));
    if (before.MemoryInUse() != 0 || ::testing::Test::HasFailure()) std::exit(1);
    // A spare block given back to the heap is spare no more: past four fifths, a pass purges.
    mem_MemoryCacheManager room("room");
    room.SetMemoryLimit(10 * kOnePageBlock);
    BulkItem item(&room, "", nullptr);
    item.Build(1);
    room.AddItem(0, mem_MemoryCachePolicyTail, &item, &item);
    room.Free(room.Alloc(2 * kPage, charged, true));
    std::vector<void*> pages;
    for (int i = 0; i < 8; ++i) pages.push_back(room.Alloc(1, charged, true));  // the last evicts
    room.PurgeTask();
    if (item.Built()) std::exit(2);
    for (void* p : pages) room.Free(p);
  });
}

}  // namespace
