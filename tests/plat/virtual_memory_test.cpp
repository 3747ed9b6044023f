// Reservations, commits and releases against a model of page states, and what queries
// report about the rest of the address space.
#include "plat/virtual_memory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <random>
#include <vector>

namespace {

constexpr std::uint32_t kPage = 4096;
constexpr std::uint32_t kGranularity = 0x10000;
constexpr int kReserved = -1;

std::uintptr_t Address(void const* p) { return reinterpret_cast<std::uintptr_t>(p); }

plat::MemoryBasicInformation Query(void const* p) {
  plat::MemoryBasicInformation info{};
  EXPECT_EQ(plat::VirtualQuery(p, &info), sizeof info);
  return info;
}

int g_static_word = 1;

int CodeOfThisProgram() { return g_static_word; }

// Random reserve, commit, decommit and release, at unaligned addresses and sizes, against
// a model of each page: reserved, or committed and holding the byte last written to it.
// After each step every page of the reservation is queried from a random offset in it.
// First what is refused; meanwhile more reservations than the registry first makes room
// for stay registered, one taken again at its own address; last the address space walked.
TEST(VirtualMemory, RandomOperationsMatchAPageModelAmongManyReservations) {
  plat::SystemInfo system = plat::GetSystemInfo();
  ASSERT_EQ(system.page_size, kPage);
  ASSERT_EQ(system.allocation_granularity, kGranularity);
  int on_stack = 0;
  EXPECT_EQ(plat::VirtualAlloc(nullptr, 0, plat::kMemReserve, plat::kPageReadWrite), nullptr);
  EXPECT_EQ(plat::VirtualAlloc(nullptr, kPage, 0, plat::kPageReadWrite), nullptr);
  EXPECT_EQ(plat::VirtualAlloc(nullptr, kPage, plat::kMemCommit, 0x12345), nullptr);
  EXPECT_EQ(plat::VirtualAlloc(nullptr, 0xFFFFF000u, plat::kMemReserve, plat::kPageReadWrite),
            nullptr);
  // Committing outside any reservation of ours is refused.
  EXPECT_EQ(plat::VirtualAlloc(&on_stack, kPage, plat::kMemCommit, plat::kPageReadWrite), nullptr);
  EXPECT_FALSE(plat::VirtualFree(&on_stack, 0, plat::kMemRelease));
  std::vector<void*> others(300);
  for (void*& other : others) {
    other = plat::VirtualAlloc(nullptr, kPage, plat::kMemReserve, plat::kPageReadWrite);
  }
  EXPECT_TRUE(plat::VirtualFree(others[0], 0, plat::kMemRelease));
  EXPECT_EQ(plat::VirtualAlloc(others[0], kPage, plat::kMemReserve, plat::kPageReadWrite),
            others[0]);
  std::map<char*, std::vector<int>> live;
  std::mt19937 random(12345);
  for (int step = 0; step < 400; ++step) {
    int choice = static_cast<int>(random() % 4);
    if (choice == 0 || live.empty()) {
      std::size_t pages = 1 + random() % 40;
      bool commit = random() % 2;
      char* base = static_cast<char*>(plat::VirtualAlloc(
          nullptr, pages * kPage - random() % kPage,
          plat::kMemReserve | (commit ? plat::kMemCommit : 0), plat::kPageReadWrite));
      ASSERT_NE(base, nullptr);
      ASSERT_EQ(Address(base) % kGranularity, 0u);
      live[base] = std::vector<int>(pages, commit ? 0 : kReserved);
      continue;
    }
    auto it = live.begin();
    std::advance(it, random() % live.size());
    char* base = it->first;
    std::vector<int>& model = it->second;
    std::size_t first = random() % model.size();
    std::size_t count = 1 + random() % (model.size() - first);
    // Any byte of the first page to any byte of the last.
    std::size_t offset = random() % kPage;
    std::size_t size = count * kPage - offset - (count > 1 ? random() % kPage : 0);
    char* start = base + first * kPage;
    if (choice == 1) {
      ASSERT_EQ(plat::VirtualAlloc(start + offset, size, plat::kMemCommit, plat::kPageReadWrite),
                start);
      for (std::size_t page = first; page < first + count; ++page) {
        if (model[page] == kReserved) model[page] = 0;
        ASSERT_EQ(base[page * kPage], model[page]);
        model[page] = 1 + step % 100;
        base[page * kPage] = static_cast<char>(model[page]);
      }
    } else if (choice == 2) {
      // A size of 0 at the base decommits the whole reservation.
      bool whole = random() % 8 == 0;
      if (whole) {
        first = 0;
        count = model.size();
      }
      ASSERT_TRUE(
          plat::VirtualFree(whole ? base : start + offset, whole ? 0 : size, plat::kMemDecommit));
      for (std::size_t page = first; page < first + count; ++page) model[page] = kReserved;
    } else {
      // Only the base releases, and only the whole reservation, once.
      EXPECT_FALSE(plat::VirtualFree(base + kPage, 0, plat::kMemRelease));
      EXPECT_FALSE(plat::VirtualFree(base, kPage, plat::kMemRelease));
      ASSERT_TRUE(plat::VirtualFree(base, 0, plat::kMemRelease));
      EXPECT_FALSE(plat::VirtualFree(base, 0, plat::kMemRelease));
      EXPECT_NE(Query(base).allocation_base, base);
      live.erase(it);
      continue;
    }
    for (std::size_t page = 0; page < model.size(); ++page) {
      bool committed = model[page] != kReserved;
      plat::MemoryBasicInformation info = Query(base + page * kPage + random() % kPage);
      ASSERT_EQ(info.base_address, base + page * kPage);
      ASSERT_EQ(info.allocation_base, base);
      ASSERT_EQ(info.state, committed ? plat::kMemCommit : plat::kMemReserve);
      ASSERT_EQ(info.protect, committed ? plat::kPageReadWrite : 0u);
      ASSERT_EQ(info.type, plat::kMemPrivate);
      std::size_t run = 1;
      while (page + run < model.size() && (model[page + run] != kReserved) == committed) ++run;
      ASSERT_EQ(info.region_size, run * kPage) << "page " << page << " step " << step;
    }
  }
  // The walk covers the address space without gaps or overlaps, through the reservations of
  // ours and the rest that the address map describes.
  std::uintptr_t address = 0;
  plat::MemoryBasicInformation info{};
  while (plat::VirtualQuery(reinterpret_cast<void*>(address), &info) != 0) {
    ASSERT_EQ(Address(info.base_address), address);
    ASSERT_EQ(info.region_size % kPage, 0u);
    ASSERT_GT(info.region_size, 0u);
    if (address + info.region_size < address) break;
    address += info.region_size;
  }
  for (auto& [base, model] : live) EXPECT_TRUE(plat::VirtualFree(base, 0, plat::kMemRelease));
  for (void* other : others) {
    ASSERT_EQ(Query(other).allocation_base, other);
    EXPECT_TRUE(plat::VirtualFree(other, 0, plat::kMemRelease));
  }
  EXPECT_EQ(Query(reinterpret_cast<void const*>(&CodeOfThisProgram)).type, plat::kMemImage);
  EXPECT_EQ(Query(&g_static_word).protect, plat::kPageReadWrite);
  EXPECT_EQ(Query(&address).type, plat::kMemPrivate);
  EXPECT_EQ(Query(nullptr).state, plat::kMemFree);  // page 0 is never mapped
}

}  // namespace
