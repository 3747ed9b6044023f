// The memory scan of the process covers its whole user address space: on Linux a 32-bit
// process's libraries, stacks and the library's own reservations lie above 0x7FFFFFFF.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "plat/virtual_memory.h"
#include "varururor/mem/memory_scan.h"

namespace {

constexpr std::size_t kCommitted = 0x4000000;  // 64 MiB

long long SummaryValue(std::string const& text, char const* name) {
  std::size_t at = text.find(name);
  if (at == std::string::npos) return -1;
  return std::stoll(text.substr(text.find('=', at) + 1));
}

TEST(MemoryScanWholeSpace, ACommittedReservationAnywhereIsCountedAndListed) {
  void* block = plat::VirtualAlloc(nullptr, kCommitted, plat::kMemReserve | plat::kMemCommit,
                                   plat::kPageReadWrite);
  ASSERT_NE(block, nullptr);
  char line[64];
  std::snprintf(line, sizeof line, "%x  --  State =   MEM_COMMIT",
                static_cast<unsigned int>(reinterpret_cast<std::uintptr_t>(block)));
  testing::internal::CaptureStderr();
  MEM_SCANMEMORY_IFC();
  std::string const all = testing::internal::GetCapturedStderr();
  testing::internal::CaptureStderr();
  mem_ScanMemory(MEM_SCAN_SUMMARY_ONLY, 0x7FFFFFFF);
  std::string const summary = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(plat::VirtualFree(block, 0, plat::kMemRelease));

  EXPECT_NE(all.find(line), std::string::npos) << "block at " << block;
  EXPECT_GE(SummaryValue(all, "Committed Memory"), static_cast<long long>(kCommitted));
  EXPECT_GE(SummaryValue(summary, "Committed Memory"), static_cast<long long>(kCommitted));
}

}  // namespace
