// The allocators of the pools and the pool's page table; and what the front end trusts of
// the thread-block pool's pages: a heap block whose data looks like a page mark stays the
// heap's, and a pointer that is no live slot stops the process with one line. (The front
// end's model test holds the pool against a model of its pages.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "child_process.h"
#include "mem/cache_manager_port.h"
#include "pool_checker.h"
#include "varururor/mem/block_table.h"
#include "varururor/varururor.h"

namespace {

using pool_check::PageOf;

// More than any heap of a 32-bit process can give.
constexpr unsigned kImpossible = 0xFFFFFF00u;

int g_purges = 0;
unsigned g_wanted = 0;
mem_CacheManager* g_asked = nullptr;

unsigned CountingPurge(mem_CacheManager* manager, unsigned need) {
  ++g_purges;
  g_wanted = need;
  g_asked = manager;
  return 0;
}

// A failed allocation asks the allocator's cache manager, if it has one, for the memory
// once and tries once more; a resize to 0 frees and its null is no failure.
TEST(AllocatorInterface, ABoundAllocatorPurgesOnceAndTriesAgainAnUnboundOneFailsAtOnce) {
  mem::PurgeWalk saved_walk = mem::g_purge_walk;  // the cache manager's, set at load
  mem::g_purge_walk = CountingPurge;
  // Any address stands for a manager: the allocator only hands it to the purge walk.
  auto* manager = reinterpret_cast<mem_CacheManager*>(&g_purges);
  mem_Allocator unbound(nullptr);
  EXPECT_EQ(unbound.Malloc("mem_Block", kImpossible), nullptr);
  EXPECT_EQ(unbound.Calloc("mem_Block", 0x10000, 0x10000), nullptr);
  void* p = unbound.Malloc("mem_Block", 100);
  EXPECT_EQ(unbound.Realloc("mem_Block", p, kImpossible), nullptr);  // p stays
  unbound.Free("mem_Block", unbound.Realloc("mem_Block", p, 200));
  EXPECT_EQ(g_purges, 0);

  mem_Allocator bound(manager);
  std::unique_ptr<mem_Allocator> clone(bound.Clone());
  EXPECT_EQ(clone->Malloc("mem_CachePool", kImpossible), nullptr);
  EXPECT_EQ(g_purges, 1);
  EXPECT_EQ(g_wanted, kImpossible);
  EXPECT_EQ(g_asked, manager);
  EXPECT_EQ(mem_Allocator(bound).Calloc("mem_CachePool", 0x10000, 0x10001), nullptr);
  EXPECT_EQ(g_purges, 2);
  EXPECT_EQ(g_wanted, 0x10001u);  // the element size
  p = bound.Malloc("mem_CachePool", 64);
  EXPECT_EQ(bound.Realloc("mem_CachePool", p, kImpossible), nullptr);
  EXPECT_EQ(g_purges, 3);
  EXPECT_EQ(bound.Realloc("mem_CachePool", p, 0), nullptr);
  EXPECT_EQ(g_purges, 3);
  mem::g_purge_walk = saved_walk;
}

TEST(Blocks, ATableMapsIdsAcrossItsGrowth) {
  mem_Allocator allocator(nullptr);
  mem_BlockTable table(allocator);
  ASSERT_TRUE(table.Ok());
  constexpr int kIds = 40 * 256 + 3;  // past the first 32 level-1 entries
  auto value = [](int id) {
    return reinterpret_cast<void*>(static_cast<std::intptr_t>(id * 3 + 1));
  };
  for (int id = 0; id < kIds; id += 7) ASSERT_TRUE(table.Store(id, value(id)));
  for (int id = 0; id < kIds; id += 7) ASSERT_EQ(table.Get(id), value(id));
}

// The library heap places the blocks one after the other: one of them holds the start of
// the page in which the next one begins, and writes {page address, mark} there. The free
// of the next block is still the heap's, and leaves the data alone.
TEST(ThreadBlockPoolOwnership, AMarkInAHeapBlocksDataDoesNotTakeAnotherBlocksFree) {
  EXPECT_IN_CHILD("^intact$", {
    setenv("KVN_DLALLOCATOR", "1", 1);
    mem_TBAllocator(2);
    mem_Free(mem_Malloc(16));
    std::vector<unsigned char*> blocks(200);
    for (auto& block : blocks) block = static_cast<unsigned char*>(mem_Malloc(200));
    for (std::size_t i = 0; i + 1 < blocks.size(); ++i) {
      std::uintptr_t page = PageOf(blocks[i + 1]);
      // Where the pool keeps a page's records (80 bytes) lies in the block too.
      auto start = reinterpret_cast<std::uintptr_t>(blocks[i]);
      if (start > page || start + 200 < page + 80) continue;
      auto* forged = reinterpret_cast<std::uint32_t*>(page);
      forged[0] = static_cast<std::uint32_t>(page);
      forged[1] = 0xABABABABu;
      std::vector<unsigned char> copy(blocks[i], blocks[i] + 200);
      mem_Free(blocks[i + 1]);
      std::fputs(std::equal(copy.begin(), copy.end(), blocks[i]) ? "intact" : "changed", stderr);
      break;
    }
  });
}

// Two slots, so that the page stays in use; the first.
char* Slot(unsigned size) {
  auto* first = static_cast<char*>(mem_Malloc(size));
  mem_Malloc(size);
  return first;
}

char* PageStart(void* p) { return reinterpret_cast<char*>(PageOf(p)); }

void FreeTwice(void* p) {
  mem_Free(p);
  mem_Free(p);
}

struct Misuse {
  char const* entry;
  char const* finding;
  void (*act)();
};

char const kInterior[] = "not the start of a small block";

Misuse const kMisuses[] = {
    {"mem_Free", kInterior, [] { mem_Free(Slot(32) + 4); }},
    {"mem_Free", kInterior, [] { mem_Free(Slot(48) + 32); }},
    // Before the first slot (the records) and past the last slot of a 128-byte page.
    {"mem_Free", kInterior, [] { mem_Free(PageStart(Slot(128)) + 64); }},
    {"mem_Free", kInterior, [] { mem_Free(PageStart(Slot(128)) + 80 + 31 * 128); }},
    {"mem_Free", "small block freed twice \\(it is the last block freed on its page\\)",
     [] { FreeTwice(Slot(32)); }},
    {"mem_Free", "small block freed twice \\(its page has no block in use\\)",
     [] { FreeTwice(mem_Malloc(100)); }},
    {"mem_Realloc", kInterior, [] { mem_Realloc(Slot(24) + 8, 10); }},
};

// Through the inline paths and, with the lock switch on, through the pool's own.
TEST(ThreadBlockPoolMisuse, APointerThatIsNoLiveSlotStopsTheProcessWithOneLine) {
  for (bool locked : {false, true}) {
    for (Misuse const& misuse : kMisuses) {
      std::string line = std::string("^VaruRuror: ") + misuse.entry +
                         "\\(0x[0-9a-f]{8}\\): " + misuse.finding + "\n$";
      EXPECT_ABORT_IN_CHILD(line, mem_Free(mem_Malloc(1)); mem_TBAllocator(2);
                            mem_TBThreadLock(locked); misuse.act())
          << (locked ? "lock switch on" : "lock switch off");
    }
  }
}

}  // namespace
