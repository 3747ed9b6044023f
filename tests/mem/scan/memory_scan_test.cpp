// The memory scan over a made-up address space (exact texts, summary, ties, the stop
// rule) and over the process's own, read through the platform layer.
#include "varururor/mem/memory_scan.h"

#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "mem/scan/region_walk.h"
#include "plat/virtual_memory.h"

namespace {

using plat::MemoryBasicInformation;

// The made-up spaces end where a 32-bit Windows process's does.
constexpr unsigned int kWindowsCeiling = 0x7FFFFFFF;

struct FakeRegion {
  unsigned int base;
  unsigned int size;
  std::uint32_t state;
  std::uint32_t type;
};

struct FakeSpace {
  std::vector<FakeRegion> regions;
  std::vector<unsigned int> queried;
};

bool QueryFake(void* context, unsigned int address, MemoryBasicInformation* info) {
  auto* space = static_cast<FakeSpace*>(context);
  space->queried.push_back(address);
  for (FakeRegion const& r : space->regions) {
    if (address >= r.base && address - r.base < r.size) {
      *info = MemoryBasicInformation{};
      info->region_size = r.base + r.size - address;
      info->state = r.state;
      info->type = r.type;
      return true;
    }
  }
  return false;
}

std::string Walk(MEM_SCAN_LEVEL_ENM level, unsigned int limit, mem::RegionQuery query,
                 void* context) {
  FILE* out = std::tmpfile();
  mem::WalkRegions(level, limit, kWindowsCeiling, query, context, out);
  std::string text;
  std::rewind(out);
  for (int c; (c = std::fgetc(out)) != EOF;) text += static_cast<char>(c);
  std::fclose(out);
  return text;
}

// Ties for both largest blocks (the lower region wins), every state and type name, a
// region ending exactly at 0x7FFFFFFF (the walk goes on) and one passing it (the last).
FakeSpace KnownSpace() {
  return FakeSpace{{{0x0, 0x10000, plat::kMemFree, 0},
                    {0x10000, 0x2000, plat::kMemCommit, plat::kMemImage},
                    {0x12000, 0x3000, plat::kMemReserve, plat::kMemPrivate},
                    {0x15000, 0x20000, plat::kMemFree, 0},
                    {0x35000, 0x3000, plat::kMemReserve, plat::kMemMapped},
                    {0x38000, 0x20000, plat::kMemFree, 0},
                    {0x58000, 0x1000, 0x4000, 0x123},
                    {0x59000, 0x7FFFFFFF - 0x59000, plat::kMemCommit, plat::kMemPrivate},
                    {0x7FFFFFFF, 0x1001, plat::kMemFree, 0},
                    {0x80001000, 0x1000, plat::kMemFree, 0}},
                   {}};
}

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

TEST(MemoryScan, EveryRegionThenTheCompactSummary) {
  FakeSpace space = KnownSpace();
  EXPECT_EQ(Walk(MEM_SCAN_ALL_REGIONS, 0xFFFFFFFF, QueryFake, &space),
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
            "   Max Reserved Block Size = 12288   PTR = 12000\n");
  // The region passing 0x7FFFFFFF is the last one asked about, whatever the limit.
  EXPECT_EQ(space.queried.back(), 0x7FFFFFFFu);
}

TEST(MemoryScan, FreeRegionsOrSummaryOnlyInTheLongLayout) {
  FakeSpace space = KnownSpace();
  EXPECT_EQ(Walk(MEM_SCAN_FREE_REGIONS, 0xFFFFFFFF, QueryFake, &space),
            std::string(kFreeLines) + kLongSummary);
  EXPECT_EQ(Walk(MEM_SCAN_SUMMARY_ONLY, 0xFFFFFFFF, QueryFake, &space), kLongSummary);
  EXPECT_EQ(Walk(static_cast<MEM_SCAN_LEVEL_ENM>(7), 0xFFFFFFFF, QueryFake, &space), kLongSummary);
}

TEST(MemoryScan, TheLimitBoundsTheStartOfTheLastRegion) {
  FakeSpace space = KnownSpace();
  // 0x12000 is below the limit, so its whole region counts; 0x15000 is not asked about.
  EXPECT_EQ(Walk(MEM_SCAN_SUMMARY_ONLY, 0x12001, QueryFake, &space),
            "\nMEMORY USE SUMMARY\n"
            "   Free Memory      = 65536\n"
            "   Committed Memory = 8192\n"
            "   Reserved Memory  = 12288\n"
            "\n   Max Free Block Size = 65536\n"
            "    PTR = 0\n"
            "   Max Reserved Block Size = 12288\n"
            "   PTR = 12000\n"
            "\n");
  EXPECT_EQ(space.queried, (std::vector<unsigned int>{0x0, 0x10000, 0x12000}));
}

TEST(MemoryScan, AFailedFirstQueryEndsTheWalk) {
  FakeSpace empty;
  EXPECT_EQ(Walk(MEM_SCAN_ALL_REGIONS, 0x7FFFFFFF, QueryFake, &empty),
            "0  --  State = UNKN MEM STA  --  Type =        NONE  --  RegionSize = 0\n"
            "\nMEMORY USE SUMMARY\n"
            "   Free Memory      = 0   Committed Memory = 0   Reserved Memory  = 0\n"
            "   Max Free Block Size = 0   PTR = 0\n"
            "   Max Reserved Block Size = 0   PTR = 0\n");
  EXPECT_EQ(empty.queried.size(), 1u);
}

TEST(MemoryScan, ALimitOfZeroPrintsTheSummaryOfZerosOnStandardError) {
  testing::internal::CaptureStderr();
  mem_ScanMemory(MEM_SCAN_SUMMARY_ONLY, 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "\nMEMORY USE SUMMARY\n"
            "   Free Memory      = 0\n"
            "   Committed Memory = 0\n"
            "   Reserved Memory  = 0\n"
            "\n   Max Free Block Size = 0\n"
            "    PTR = 0\n"
            "   Max Reserved Block Size = 0\n"
            "   PTR = 0\n"
            "\n");
}

struct RegionLine {
  unsigned int address;
  std::string state;
  std::string type;
  long long size;
};

std::vector<RegionLine> RegionLines(std::string const& text) {
  std::vector<RegionLine> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    unsigned int address;
    char state[16];
    char type[16];
    long long size;
    // The state and type names have no spaces, except "UNKN MEM STA".
    if (std::sscanf(line.c_str(), "%x  --  State = %15s  --  Type = %15s  --  RegionSize = %lld",
                    &address, state, type, &size) == 4) {
      lines.push_back(RegionLine{address, state, type, size});
    }
  }
  return lines;
}

RegionLine const* LineHolding(std::vector<RegionLine> const& lines, unsigned int address) {
  for (RegionLine const& line : lines) {
    if (address >= line.address && address - line.address < line.size) return &line;
  }
  return nullptr;
}

unsigned int AddressOf(void const* p) {
  return static_cast<unsigned int>(reinterpret_cast<std::uintptr_t>(p));
}

TEST(MemoryScan, TheProcessSeenFromTheFortranEntryPoint) {
  testing::internal::CaptureStderr();
  MEM_SCANMEMORY_IFC();
  std::string text = testing::internal::GetCapturedStderr();
  std::vector<RegionLine> lines = RegionLines(text);
  ASSERT_FALSE(lines.empty());
  long long free_bytes = 0;
  long long committed_bytes = 0;
  long long reserved_bytes = 0;
  unsigned int next = 0;
  for (RegionLine const& line : lines) {
    EXPECT_EQ(line.address, next) << "the regions tile the address space";
    next = static_cast<unsigned int>(line.address + line.size);
    if (line.state == "MEM_FREE") free_bytes += line.size;
    if (line.state == "MEM_COMMIT") committed_bytes += line.size;
    if (line.state == "MEM_RESERVE") reserved_bytes += line.size;
  }
  EXPECT_GT(lines.back().address + lines.back().size, 0x7FFFFFFFLL);
  char summary[160];
  std::snprintf(summary, sizeof summary,
                "\nMEMORY USE SUMMARY\n   Free Memory      = %lld   Committed Memory = %lld"
                "   Reserved Memory  = %lld\n",
                free_bytes, committed_bytes, reserved_bytes);
  EXPECT_NE(text.find(summary), std::string::npos) << text;

  // The test program holds the library's code; it is loaded low enough to be scanned.
  unsigned int code = AddressOf(reinterpret_cast<void const*>(&mem_ScanMemory));
  if (code < 0x7FFFFFFF) {
    RegionLine const* line = LineHolding(lines, code);
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(line->state, "MEM_COMMIT");
    EXPECT_EQ(line->type, "MEM_IMAGE");
  }
}

// A 32-bit process on a 64-bit kernel has its mappings above 0x80000000, beyond the
// scan's ceiling: this source shows the walk that half of the address space.
bool QueryShifted(void* context, unsigned int address, MemoryBasicInformation* info) {
  unsigned int shift = *static_cast<unsigned int*>(context);
  void const* real = reinterpret_cast<void const*>(static_cast<std::uintptr_t>(address + shift));
  return plat::VirtualQuery(real, info) != 0;
}

TEST(MemoryScan, PlatformRegionsKeepTheirStateAndType) {
  constexpr std::size_t kReserved = 0x100000;
  void* reservation =
      plat::VirtualAlloc(nullptr, kReserved, plat::kMemReserve, plat::kPageReadWrite);
  ASSERT_NE(reservation, nullptr);
  static char const kReadOnlyText[] = "a constant of the test program";
  struct Expected {
    void const* at;
    char const* state;
    char const* type;
  } const expected[] = {{reservation, "MEM_RESERVE", "MEM_PRIVATE"},
                        {reinterpret_cast<void const*>(&std::fputs), "MEM_COMMIT", "MEM_IMAGE"},
                        {kReadOnlyText, "MEM_COMMIT", "MEM_IMAGE"}};
  for (Expected const& e : expected) {
    unsigned int shift = AddressOf(e.at) >= 0x80000000u ? 0x80000000u : 0;
    std::vector<RegionLine> lines =
        RegionLines(Walk(MEM_SCAN_ALL_REGIONS, 0x7FFFFFFF, QueryShifted, &shift));
    RegionLine const* line = LineHolding(lines, AddressOf(e.at) - shift);
    ASSERT_NE(line, nullptr) << e.state;
    EXPECT_EQ(line->state, e.state);
    EXPECT_EQ(line->type, e.type);
    if (e.at == reservation) {
      EXPECT_EQ(line->address, AddressOf(reservation) - shift);
      EXPECT_EQ(line->size, static_cast<long long>(kReserved));
    }
  }
  EXPECT_TRUE(plat::VirtualFree(reservation, 0, plat::kMemRelease));
}

}  // namespace
