// Reservations, commits and releases, and what queries report about them and about
// the rest of the address space.
#include "plat/virtual_memory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <random>

#include "plat/fault_injection.h"

namespace {

constexpr std::uint32_t kPage = 4096;
constexpr std::uint32_t kGranularity = 0x10000;

std::uintptr_t Address(void const* p) { return reinterpret_cast<std::uintptr_t>(p); }

plat::MemoryBasicInformation Query(void const* p) {
  plat::MemoryBasicInformation info{};
  EXPECT_EQ(plat::VirtualQuery(p, &info), sizeof info);
  return info;
}

TEST(VirtualMemory, SystemInfoHasTheAllocatorsUnits) {
  plat::SystemInfo info = plat::GetSystemInfo();
  EXPECT_EQ(info.page_size, kPage);
  EXPECT_EQ(info.allocation_granularity, kGranularity);
}

TEST(VirtualMemory, ReservationIsAlignedCommittedAndQueriedWhole) {
  std::size_t size = 3 * kGranularity + 100;
  void* base =
      plat::VirtualAlloc(nullptr, size, plat::kMemReserve | plat::kMemCommit, plat::kPageReadWrite);
  ASSERT_NE(base, nullptr);
  EXPECT_EQ(Address(base) % kGranularity, 0u);
  std::memset(base, 0x5A, size);

  // A query from any page describes the rest of the reservation from that page.
  char* middle = static_cast<char*>(base) + kGranularity + 123;
  plat::MemoryBasicInformation info = Query(middle);
  EXPECT_EQ(Address(info.base_address), Address(base) + kGranularity);
  EXPECT_EQ(info.allocation_base, base);
  EXPECT_EQ(info.region_size, 2 * kGranularity + kPage);  // rounded up to whole pages
  EXPECT_EQ(info.state, plat::kMemCommit);
  EXPECT_EQ(info.protect, plat::kPageReadWrite);
  EXPECT_EQ(info.type, plat::kMemPrivate);

  // Only the base releases, and only the whole reservation.
  EXPECT_FALSE(plat::VirtualFree(middle, 0, plat::kMemRelease));
  EXPECT_FALSE(plat::VirtualFree(base, kPage, plat::kMemRelease));
  EXPECT_TRUE(plat::VirtualFree(base, 0, plat::kMemRelease));
  EXPECT_FALSE(plat::VirtualFree(base, 0, plat::kMemRelease));
  EXPECT_NE(Query(base).allocation_base, base);
}

TEST(VirtualMemory, PartialCommitSplitsTheReservationIntoRegions) {
  std::size_t size = 16 * kPage;
  char* base = static_cast<char*>(
      plat::VirtualAlloc(nullptr, size, plat::kMemReserve, plat::kPageReadWrite));
  ASSERT_NE(base, nullptr);

  // Commit pages 4..7 and use them.
  void* committed =
      plat::VirtualAlloc(base + 4 * kPage + 10, 3 * kPage, plat::kMemCommit, plat::kPageReadWrite);
  ASSERT_EQ(committed, base + 4 * kPage);
  std::memset(base + 4 * kPage, 1, 4 * kPage);

  // The region runs and states around it are the random sequence's business; here, the
  // rounding of an unaligned request and a query from the middle of the committed run.
  plat::MemoryBasicInformation body = Query(base + 5 * kPage);
  EXPECT_EQ(Address(body.base_address), Address(base + 5 * kPage));
  EXPECT_EQ(body.state, plat::kMemCommit);
  EXPECT_EQ(body.region_size, 3 * kPage);
  EXPECT_EQ(body.allocation_base, base);

  // Decommit loses the contents: committing again gives zero pages.
  EXPECT_TRUE(plat::VirtualFree(base + 4 * kPage, 4 * kPage, plat::kMemDecommit));
  ASSERT_NE(plat::VirtualAlloc(base, size, plat::kMemCommit, plat::kPageReadWrite), nullptr);
  EXPECT_EQ(base[4 * kPage], 0);
  EXPECT_EQ(Query(base).state, plat::kMemCommit);
  EXPECT_TRUE(plat::VirtualFree(base, 0, plat::kMemRelease));
}

TEST(VirtualMemory, RefusesWhatItCannotDo) {
  EXPECT_EQ(
      plat::VirtualAlloc(nullptr, 0, plat::kMemCommit | plat::kMemReserve, plat::kPageReadWrite),
      nullptr);
  EXPECT_EQ(plat::VirtualAlloc(nullptr, kPage, 0, plat::kPageReadWrite), nullptr);
  EXPECT_EQ(plat::VirtualAlloc(nullptr, kPage, plat::kMemCommit, 0x12345), nullptr);
  EXPECT_EQ(plat::VirtualAlloc(nullptr, 0xFFFFF000u, plat::kMemReserve, plat::kPageReadWrite),
            nullptr);
  int on_stack = 0;
  // Committing outside any reservation of ours is refused.
  EXPECT_EQ(plat::VirtualAlloc(&on_stack, kPage, plat::kMemCommit, plat::kPageReadWrite), nullptr);
  EXPECT_FALSE(plat::VirtualFree(&on_stack, 0, plat::kMemRelease));
  EXPECT_FALSE(plat::VirtualFree(nullptr, 0, 0));
}

TEST(VirtualMemory, InjectedFailuresRefuseExactlyTheChosenCalls) {
  plat::InjectFailures(plat::Operation::kVirtualAlloc, 1, 2);
  void* first = plat::VirtualAlloc(nullptr, kPage, plat::kMemCommit, plat::kPageReadWrite);
  void* second = plat::VirtualAlloc(nullptr, kPage, plat::kMemCommit, plat::kPageReadWrite);
  void* third = plat::VirtualAlloc(nullptr, kPage, plat::kMemCommit, plat::kPageReadWrite);
  void* fourth = plat::VirtualAlloc(nullptr, kPage, plat::kMemCommit, plat::kPageReadWrite);
  plat::ClearInjectedFailures();
  EXPECT_NE(first, nullptr);
  EXPECT_EQ(second, nullptr);
  EXPECT_EQ(third, nullptr);
  EXPECT_NE(fourth, nullptr);
  EXPECT_TRUE(plat::VirtualFree(first, 0, plat::kMemRelease));
  EXPECT_TRUE(plat::VirtualFree(fourth, 0, plat::kMemRelease));
}

int g_static_word = 1;

int CodeOfThisProgram() { return g_static_word; }

TEST(VirtualMemory, DescribesTheRestOfTheAddressSpaceFromTheAddressMap) {
  // Code of this program: committed image pages.
  plat::MemoryBasicInformation code = Query(reinterpret_cast<void const*>(&CodeOfThisProgram));
  EXPECT_EQ(code.state, plat::kMemCommit);
  EXPECT_EQ(code.type, plat::kMemImage);
  EXPECT_LE(Address(code.allocation_base), Address(code.base_address));

  plat::MemoryBasicInformation data = Query(&g_static_word);
  EXPECT_EQ(data.state, plat::kMemCommit);
  EXPECT_EQ(data.protect, plat::kPageReadWrite);

  int on_stack = 0;
  plat::MemoryBasicInformation stack = Query(&on_stack);
  EXPECT_EQ(stack.state, plat::kMemCommit);
  EXPECT_EQ(stack.type, plat::kMemPrivate);

  // Page 0 is never mapped.
  plat::MemoryBasicInformation low = Query(nullptr);
  EXPECT_EQ(low.state, plat::kMemFree);
  EXPECT_EQ(low.allocation_base, nullptr);
  EXPECT_EQ(low.type, 0u);
  EXPECT_GT(low.region_size, 0u);

  plat::MemoryBasicInformation beyond{};
  EXPECT_EQ(plat::VirtualQuery(reinterpret_cast<void*>(0xFFFFF800u), &beyond), 0u);
}

// Walking the whole address space region by region covers it without gaps or overlaps,
// and every region of ours is reported with its own base.
TEST(VirtualMemory, WalkCoversTheAddressSpaceContiguously) {
  void* mine = plat::VirtualAlloc(nullptr, 5 * kPage, plat::kMemReserve | plat::kMemCommit,
                                  plat::kPageReadWrite);
  ASSERT_NE(mine, nullptr);
  std::uintptr_t address = 0;
  bool saw_mine = false;
  int regions = 0;
  plat::MemoryBasicInformation info{};
  while (plat::VirtualQuery(reinterpret_cast<void*>(address), &info) != 0) {
    ASSERT_EQ(Address(info.base_address), address);
    ASSERT_GT(info.region_size, 0u);
    ASSERT_EQ(info.region_size % kPage, 0u);
    if (info.base_address == mine) {
      saw_mine = true;
      EXPECT_EQ(info.region_size, 5 * kPage);
      EXPECT_EQ(info.allocation_base, mine);
    }
    ++regions;
    if (address + info.region_size < address) break;
    address += info.region_size;
    ASSERT_LT(regions, 100000);
  }
  EXPECT_TRUE(saw_mine);
  EXPECT_GT(regions, 5);
  EXPECT_TRUE(plat::VirtualFree(mine, 0, plat::kMemRelease));
}

// Random reserve/commit/decommit/release against a model of page states.
TEST(VirtualMemory, RandomOperationsMatchAPageModel) {
  struct Model {
    std::size_t pages;
    std::vector<bool> committed;
  };
  std::map<char*, Model> live;
  std::mt19937 random(12345);
  for (int step = 0; step < 400; ++step) {
    int choice = static_cast<int>(random() % 4);
    if (choice == 0 || live.empty()) {
      std::size_t pages = 1 + random() % 40;
      bool commit = random() % 2;
      char* base = static_cast<char*>(plat::VirtualAlloc(
          nullptr, pages * kPage, plat::kMemReserve | (commit ? plat::kMemCommit : 0),
          plat::kPageReadWrite));
      ASSERT_NE(base, nullptr);
      live[base] = Model{pages, std::vector<bool>(pages, commit)};
      continue;
    }
    auto it = live.begin();
    std::advance(it, random() % live.size());
    char* base = it->first;
    Model& model = it->second;
    std::size_t first = random() % model.pages;
    std::size_t count = 1 + random() % (model.pages - first);
    if (choice == 1) {
      ASSERT_EQ(plat::VirtualAlloc(base + first * kPage, count * kPage, plat::kMemCommit,
                                   plat::kPageReadWrite),
                base + first * kPage);
      for (std::size_t i = first; i < first + count; ++i) model.committed[i] = true;
      base[first * kPage] = 7;
    } else if (choice == 2) {
      ASSERT_TRUE(plat::VirtualFree(base + first * kPage, count * kPage, plat::kMemDecommit));
      for (std::size_t i = first; i < first + count; ++i) model.committed[i] = false;
    } else {
      ASSERT_TRUE(plat::VirtualFree(base, 0, plat::kMemRelease));
      live.erase(it);
      continue;
    }
    // Every page: the query's state and run length agree with the model.
    for (std::size_t page = 0; page < model.pages; ++page) {
      plat::MemoryBasicInformation info = Query(base + page * kPage);
      ASSERT_EQ(info.allocation_base, base);
      ASSERT_EQ(info.state, model.committed[page] ? plat::kMemCommit : plat::kMemReserve);
      std::size_t run = 1;
      while (page + run < model.pages && model.committed[page + run] == model.committed[page]) {
        ++run;
      }
      ASSERT_EQ(info.region_size, run * kPage) << "page " << page;
    }
  }
  for (auto& [base, model] : live) EXPECT_TRUE(plat::VirtualFree(base, 0, plat::kMemRelease));
}

}  // namespace
