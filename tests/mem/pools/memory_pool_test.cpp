// The memory container and its pools: the table, the accounting, the warning, the reports.
#include "varururor/mem/memory_pool.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "varururor/mem/memory_container.h"

namespace {

constexpr unsigned kPageBlock = 4096 + 48;

std::string ReadFile(std::string const& path) {
  std::stringstream text;
  text << std::ifstream(path).rdbuf();
  return text.str();
}

class MemoryContainer : public ::testing::Test {
 protected:
  void TearDown() override {
    container_.CleanUpPools();
    mem_MemoryContainer::Finalize();
  }
  mem_MemoryContainer& container_ = mem_MemoryContainer::Instance();
  std::string report_ = testing::TempDir() + "memory_container_report.txt";
};

TEST_F(MemoryContainer, PoolTableAndCharges) {
  int default_resource_pool = -1;
  EXPECT_TRUE(container_.Resources().GetPool(0, &default_resource_pool));
  EXPECT_EQ(default_resource_pool, 0);
  mem_MemoryPool* one = container_.CreatePool(1);
  EXPECT_EQ(container_.GetPool(6), nullptr);  // beyond the table
  mem_MemoryPool* five = container_.CreatePool(5);
  mem_MemoryPool* six = container_.CreatePool(6);  // the table grows
  EXPECT_EQ(container_.GetPool(1), one);
  EXPECT_EQ(container_.GetPool(3), nullptr);
  EXPECT_EQ(container_.GetPool(5), five);
  EXPECT_EQ(container_.GetPool(6), six);

  one->SetMemoryLimit(0, 0x100000, 0.0);
  void* p = one->Alloc(1);
  container_.OpenDbFile(report_.c_str());
  mem_MemoryPool* again = container_.CreatePool(1);  // the old pool 1 is gone
  again->MemoryReport();                             // a new pool has no report file
  EXPECT_EQ(ReadFile(report_), "");
  EXPECT_EQ(again->Free(p), kPageBlock);  // the manager's block, whichever pool frees it

  testing::internal::CaptureStderr();
  EXPECT_EQ(container_.CreatePool(0), nullptr);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("refused"), std::string::npos);
  EXPECT_EQ(container_.GetPool(-1), nullptr);
  container_.CleanUpPools();
  EXPECT_EQ(container_.GetPool(1), nullptr);
  EXPECT_NE(container_.CreatePool(3), nullptr);

  // Pools charge the manager and warn past their tolerance.
  mem_MemoryPool* pool = container_.CreatePool(1);
  pool->SetMemoryLimit(0x100000, 0x200000, 0.5);
  testing::internal::CaptureStderr();
  pool->UpdateMemoryInUse(true, 0x300000);  // exactly the threshold
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  testing::internal::CaptureStderr();
  pool->UpdateMemoryInUse(true, 1);
  pool->UpdateMemoryInUse(true, 1);  // warned at every charge past it
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Memory exceeds the memory tolerance of 0.500000 in PoolId = 1\n"
            "Memory exceeds the memory tolerance of 0.500000 in PoolId = 1\n");
  pool->UpdateMemoryInUse(false, 0x300002);

  mem_MemoryPool* unlimited = container_.CreatePool(2);  // high limit 0
  testing::internal::CaptureStderr();
  EXPECT_EQ(unlimited->Alloc(0), nullptr);  // charges 0: no warning
  p = unlimited->Alloc(5000);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Memory exceeds the memory tolerance of 0.000000 in PoolId = 2\n");
  EXPECT_EQ(unlimited->Free(p), 2 * 4096 + 48);
}

TEST_F(MemoryContainer, ReportsGoToTheFileOpenedLast) {
  mem_MemoryPool* pool = container_.CreatePool(1);
  pool->SetMemoryLimit(0x100000, 0x200000, 1.0);
  container_.MemoryReport();  // no file yet
  container_.OpenDbFile(report_.c_str());
  void* p = pool->Alloc(4096);
  container_.MemoryReport();
  pool->Free(p);
  container_.CleanUpPools();
  std::string const pool_line =
      "poolId 1: current 0.003952 -- high 2.000000 -- low 1.000000 -- maxUsed 0.003952\n";
  std::string const default_line =
      "poolId 0: current 0.000000 -- high 20.000000 -- low 20.000000 -- maxUsed 0.000000\n";
  EXPECT_EQ(ReadFile(report_),
            pool_line +  // from the allocation
                "CACHE MANAGER MEMORY IN USE 0.003952\n" + default_line + pool_line +
                "CACHE MANAGER MEMORY IN USE 0.000000\n" + default_line +
                "poolId 1: current 0.000000 -- high 2.000000 -- low 1.000000 -- maxUsed "
                "0.003952\n" +
                default_line);  // CleanUpPools: the report, then the default pool's line

  container_.OpenDbFile("/nonexistent-directory/report.txt");  // reports are skipped
  container_.MemoryReport();
  container_.OpenDbFile(nullptr);
}

}  // namespace
