// The memory scan over a made-up address space (texts, summary, ties, stop) and the real one.
#include "varururor/mem/memory_scan.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "mem/scan/region_walk.h"
#include "plat/virtual_memory.h"

namespace {

struct FakeRegion {
  unsigned int base;
  unsigned int size;
  std::uint32_t state;
  std::uint32_t type;
};

// Ties for both largest blocks (the lower region wins), every state and type name, a
// region ending exactly at 0x7FFFFFFF (the walk goes on) and one passing it (the last).
std::vector<FakeRegion> const kKnownSpace = {
    {0x0, 0x10000, plat::kMemFree, 0},
    {0x10000, 0x2000, plat::kMemCommit, plat::kMemImage},
    {0x12000, 0x3000, plat::kMemReserve, plat::kMemPrivate},
    {0x15000, 0x20000, plat::kMemFree, 0},
    {0x35000, 0x3000, plat::kMemReserve, plat::kMemMapped},
    {0x38000, 0x20000, plat::kMemFree, 0},
    {0x58000, 0x1000, 0x4000, 0x123},
    {0x59000, 0x7FFFFFFF - 0x59000, plat::kMemCommit, plat::kMemPrivate},
    {0x7FFFFFFF, 0x1001, plat::kMemFree, 0},
    {0x80001000, 0x1000, plat::kMemFree, 0}};

struct FakeSpace {
  std::vector<FakeRegion> regions;
  std::vector<unsigned int> queried;
};

bool QueryFake(void* context, unsigned int address, plat::MemoryBasicInformation* info) {
  auto* space = static_cast<FakeSpace*>(context);
  space->queried.push_back(address);
  for (FakeRegion const& r : space->regions) {
    if (address >= r.base && address - r.base < r.size) {
      info->region_size = r.base + r.size - address;
      info->state = r.state;
      info->type = r.type;
      return true;
    }
  }
  return false;
}

char const kAllRegions[] =
    "0  --  State =     MEM_FREE  --  Type =        NONE  --  RegionSize = 65536\n"
    "10000  --  State =   MEM_COMMIT  --  Type =   MEM_IMAGE  --  RegionSize = 8192\n"
    "12000  --  State =  MEM_RESERVE  --  Type = MEM_PRIVATE  --  RegionSize = 12288\n"
    "15000  --  State =     MEM_FREE  --  Type =        NONE  --  RegionSize = 131072\n"
    "35000  --  State =  MEM_RESERVE  --  Type =  MEM_MAPPED  --  RegionSize = 12288\n"
    "38000  --  State =     MEM_FREE  --  Type =        NONE  --  RegionSize = 131072\n"
    "58000  --  State = UNKN MEM STA  --  Type =        NONE  --  RegionSize = 4096\n"
    "59000  --  State =   MEM_COMMIT  --  Type = MEM_PRIVATE  --  RegionSize = 2147119103\n"
    "7fffffff  --  State =     MEM_FREE  --  Type =        NONE  --  RegionSize = 4097\n"
    "\nMEMORY USE SUMMARY\n"
    "   Free Memory      = 331777   Committed Memory = 2147127295"
    "   Reserved Memory  = 24576\n"
    "   Max Free Block Size = 131072   PTR = 15000\n"
    "   Max Reserved Block Size = 12288   PTR = 12000\n";
char const kFreeLines[] =
    "0  --  State =     MEM_FREE  --  Type =        NONE  --  RegionSize = 65536\n"
    "15000  --  State =     MEM_FREE  --  Type =        NONE  --  RegionSize = 131072\n"
    "38000  --  State =     MEM_FREE  --  Type =        NONE  --  RegionSize = 131072\n"
    "7fffffff  --  State =     MEM_FREE  --  Type =        NONE  --  RegionSize = 4097\n";
char const kLongSummary[] =
    "\nMEMORY USE SUMMARY\n"
    "   Free Memory      = 331777\n"
    "   Committed Memory = 2147127295\n"
    "   Reserved Memory  = 24576\n"
    "\n   Max Free Block Size = 131072\n"
    "    PTR = 15000\n"
    "   Max Reserved Block Size = 12288\n"
    "   PTR = 12000\n"
    "\n";
TEST(MemoryScan, MadeUpSpacesAtEveryLevel) {
  struct Case {
    int level;
    unsigned int limit;
    bool empty_space;                   // every query fails
    std::string text;                   // empty: not compared
    std::vector<unsigned int> queried;  // empty: not compared
  } const cases[] = {
      {MEM_SCAN_ALL_REGIONS, 0xFFFFFFFF, false, kAllRegions, {}},
      {MEM_SCAN_FREE_REGIONS, 0xFFFFFFFF, false, std::string(kFreeLines) + kLongSummary, {}},
      {MEM_SCAN_SUMMARY_ONLY, 0xFFFFFFFF, false, kLongSummary, {}},
      {7, 0xFFFFFFFF, false, kLongSummary, {}},
      // 0x12000 is below the limit, so it is asked about; 0x15000 is not.
      {MEM_SCAN_SUMMARY_ONLY, 0x12001, false, "", {0x0, 0x10000, 0x12000}},
      // A failed first query gives a region of size 0, which the walk cannot pass: it ends.
      {MEM_SCAN_ALL_REGIONS, 0x7FFFFFFF, true, "", {0x0}},
  };
  for (Case const& c : cases) {
    FakeSpace space{c.empty_space ? std::vector<FakeRegion>{} : kKnownSpace, {}};
    testing::internal::CaptureStderr();
    // The made-up space ends where a 32-bit Windows process's does.
    mem::WalkRegions(static_cast<MEM_SCAN_LEVEL_ENM>(c.level), c.limit, 0x7FFFFFFF, QueryFake,
                     &space, stderr);
    std::string const text = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(c.text.empty() || text == c.text) << "level " << c.level << ":\n" << text;
    EXPECT_TRUE(c.queried.empty() || space.queried == c.queried) << "limit " << c.limit;
    // The region passing 0x7FFFFFFF is the last one asked about, whatever the limit.
    EXPECT_TRUE(c.limit != 0xFFFFFFFF || space.queried.back() == 0x7FFFFFFFu);
  }
}

// On Linux a 32-bit process's libraries, stacks and the library's own reservations lie
// above 0x7FFFFFFF: a scan up to there covers the whole user address space.
TEST(MemoryScan, TheWholeProcessFromTheEntryPoints) {
  void* reserved = plat::VirtualAlloc(nullptr, 0x100000, plat::kMemReserve, plat::kPageReadWrite);
  ASSERT_NE(reserved, nullptr);
  testing::internal::CaptureStderr();
  MEM_SCANMEMORY_IFC();
  std::string const text = testing::internal::GetCapturedStderr();
  testing::internal::CaptureStderr();
  mem_ScanMemory(MEM_SCAN_SUMMARY_ONLY, 0);
  // Up to address 0 there is nothing to count: the long summary with every number 0.
  std::string zeros = kLongSummary;
  for (std::size_t at = 0; (at = zeros.find("= ", at)) != std::string::npos; at += 3) {
    zeros.replace(at + 2, zeros.find('\n', at) - at - 2, "0");
  }
  EXPECT_EQ(testing::internal::GetCapturedStderr(), zeros);
  EXPECT_TRUE(plat::VirtualFree(reserved, 0, plat::kMemRelease));
  char expected[96];
  std::snprintf(expected, sizeof expected,
                "\n%x  --  State =  MEM_RESERVE  --  Type = MEM_PRIVATE  --  "
                "RegionSize = 1048576\n",
                static_cast<unsigned>(reinterpret_cast<uintptr_t>(reserved)));
  EXPECT_NE(text.find(expected), std::string::npos) << text;
}

}  // namespace
