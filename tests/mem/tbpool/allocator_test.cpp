// The allocator interface and the blocks the pools are built from.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "mem/blocks/block.h"
#include "varururor/mem/block_table.h"
#include "mem/cache_manager_port.h"
#include "varururor/varururor.h"

namespace {

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

class AllocatorInterface : public ::testing::Test {
 protected:
  // The cache manager sets the walk while the library loads; it is put back afterwards.
  void SetUp() override {
    g_purges = 0;
    saved_walk_ = mem::g_purge_walk;
    mem::g_purge_walk = CountingPurge;
  }
  void TearDown() override { mem::g_purge_walk = saved_walk_; }
  mem::PurgeWalk saved_walk_ = nullptr;
  // Any address stands for a manager: the allocator only hands it to the purge walk.
  mem_CacheManager* manager_ = reinterpret_cast<mem_CacheManager*>(&g_purges);
};

TEST_F(AllocatorInterface, AnUnboundAllocatorFailsAtOnce) {
  mem_Allocator unbound(nullptr);
  EXPECT_EQ(unbound.Malloc("mem_Block", kImpossible), nullptr);
  EXPECT_EQ(unbound.Calloc("mem_Block", 0x10000, 0x10000), nullptr);
  EXPECT_EQ(g_purges, 0);
  void* p = unbound.Malloc("mem_Block", 100);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(unbound.Realloc("mem_Block", p, kImpossible), nullptr);  // p stays
  p = unbound.Realloc("mem_Block", p, 200);
  unbound.Free("mem_Block", p);
  EXPECT_EQ(g_purges, 0);
}

TEST_F(AllocatorInterface, ABoundAllocatorPurgesOnceAndTriesAgain) {
  mem_Allocator bound(manager_);
  EXPECT_EQ(bound.Malloc("mem_CachePool", kImpossible), nullptr);
  EXPECT_EQ(g_purges, 1);
  EXPECT_EQ(g_wanted, kImpossible);
  EXPECT_EQ(g_asked, manager_);
  EXPECT_EQ(bound.Calloc("mem_CachePool", 0x10000, 0x10001), nullptr);
  EXPECT_EQ(g_purges, 2);
  EXPECT_EQ(g_wanted, 0x10001u);  // the element size
  void* p = bound.Malloc("mem_CachePool", 64);
  EXPECT_EQ(bound.Realloc("mem_CachePool", p, kImpossible), nullptr);
  EXPECT_EQ(g_purges, 3);
  // A resize to 0 frees the block; its null is no failure.
  EXPECT_EQ(bound.Realloc("mem_CachePool", p, 0), nullptr);
  EXPECT_EQ(g_purges, 3);
}

TEST_F(AllocatorInterface, ACloneIsBoundToTheSameManager) {
  mem_Allocator bound(manager_);
  mem_Allocator* clone = bound.Clone();
  EXPECT_EQ(clone->Manager(), manager_);
  delete clone;
  mem_Allocator copy(bound);
  EXPECT_EQ(copy.Manager(), manager_);
}

std::string Captured(void (*print)(void const*), void const* object) {
  std::fflush(stdout);
  testing::internal::CaptureStdout();
  print(object);
  std::fflush(stdout);
  return testing::internal::GetCapturedStdout();
}

TEST(Blocks, AStandaloneFixedBlockHoldsItsRecordAndRegionInItsPage) {
  mem_Allocator allocator(nullptr);
  mem_FixedBlock* block = mem_FixedBlock::Create(7, allocator, 3, 32);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(reinterpret_cast<std::uint32_t*>(block), block->Memory());
  EXPECT_EQ(block->Words(), 1024);
  EXPECT_EQ(block->Ownership(), mem_BlockFixed);
  mem::blocks::FixedRegion& region = block->Region();
  EXPECT_EQ(reinterpret_cast<std::uint32_t*>(&region), block->Memory() + 8);
  EXPECT_EQ(region.Length(), 1016);
  int slots = 0;
  while (region.Allocate() != mem::blocks::Region::kNoSlot) ++slots;
  EXPECT_EQ(slots, 1008 / 8);
  EXPECT_EQ(Captured([](void const* b) { static_cast<mem_Block const*>(b)->Print(); }, block),
            "mem_Block: Size = 1024\n");
  EXPECT_EQ(
      Captured([](void const* r) { static_cast<mem::blocks::FixedRegion const*>(r)->Print(); },
               &region),
      "FixedRegion: AllocCount = 1008\n");
  block->Release(allocator);

  // Items above the largest class get slots of their own size.
  mem_FixedBlock* oversize = mem_FixedBlock::Create(8, allocator, 10, 200);
  ASSERT_NE(oversize, nullptr);
  EXPECT_EQ(oversize->Region().SizeClass(), mem_FixedBlock::kOversizeClass);
  EXPECT_EQ(oversize->Region().SlotWords(), 50);
  slots = 0;
  while (oversize->Region().Allocate() != mem::blocks::Region::kNoSlot) ++slots;
  EXPECT_EQ(slots, 1008 / 50);
  oversize->Release(allocator);
}

TEST(Blocks, ARegionReusesFreedSlotsLastFirst) {
  mem_Allocator allocator(nullptr);
  mem_FixedBlock* block = mem_FixedBlock::Create(1, allocator, 0, 4);
  mem::blocks::FixedRegion& region = block->Region();
  int a = region.Allocate();
  int b = region.Allocate();
  int c = region.Allocate();
  EXPECT_EQ(b, a + 1);
  EXPECT_FALSE(region.Free(b));
  EXPECT_FALSE(region.Free(a));
  EXPECT_EQ(region.Allocate(), a);
  EXPECT_EQ(region.Allocate(), b);
  EXPECT_EQ(region.Allocate(), c + 1);
  region.Free(a);
  region.Free(b);
  region.Free(c);
  EXPECT_TRUE(region.Free(c + 1));
  block->Release(allocator);
}

TEST(Blocks, ABlockOwnsTheMemoryItIsGiven) {
  mem_Allocator allocator(nullptr);
  void* record = allocator.Malloc("mem_Block", sizeof(mem_Block));
  auto* block = new (record) mem_Block(nullptr, 0, mem_BlockBorrows);
  void* first = allocator.Malloc("mem_Block", 64);
  block->SetMemory(static_cast<std::uint32_t*>(first), 16);
  EXPECT_EQ(block->Ownership(), mem_BlockOwns);
  block->SetMemory(nullptr, 0);  // forgets the memory without giving it back
  allocator.Free("mem_Block", first);
  EXPECT_EQ(block->Ownership(), mem_BlockBorrows);
  block->SetMemory(static_cast<std::uint32_t*>(allocator.Malloc("mem_Block", 64)), 16);
  block->Release(allocator);  // memory and record go back

  mem_Block cluster(nullptr, 0, mem_BlockCluster);
  std::uint32_t words[4];
  cluster.SetMemory(words, 4);
  EXPECT_EQ(cluster.Ownership(), mem_BlockCluster);
}

TEST(Blocks, ATableMapsIdsAcrossItsGrowth) {
  mem_Allocator allocator(nullptr);
  mem_BlockTable table(allocator);
  ASSERT_TRUE(table.Ok());
  constexpr int kIds = 40 * 256 + 3;  // past the first 32 level-1 entries
  for (int id = 0; id < kIds; id += 7) {
    ASSERT_TRUE(table.Store(id, reinterpret_cast<void*>(static_cast<std::intptr_t>(id * 3 + 1))));
  }
  for (int id = 0; id < kIds; id += 7) {
    ASSERT_EQ(table.Get(id), reinterpret_cast<void*>(static_cast<std::intptr_t>(id * 3 + 1)));
  }
}

}  // namespace
