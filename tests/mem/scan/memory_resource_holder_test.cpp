// The resource table: filling it by index and by name, refusing indexes outside it,
// and the report's lines.
#include "varururor/mem/memory_resource_holder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::vector<std::string> ReportLines(mem_MemoryResourceHolder& holder) {
  FILE* out = std::tmpfile();
  holder.ReportResources(out);
  std::string text;
  std::rewind(out);
  for (int c; (c = std::fgetc(out)) != EOF;) text += static_cast<char>(c);
  std::fclose(out);
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  EXPECT_EQ(text.back(), '\n');
  return lines;
}

TEST(ResourceReport, AFreshTableAndAFilledOne) {
  mem_MemoryResourceHolder holder;
  EXPECT_EQ(holder.GetLastId(), -1);
  std::vector<std::string> fresh = ReportLines(holder);
  ASSERT_EQ(fresh.size(), 23u);
  EXPECT_EQ(fresh[0], "std_default -- pool 0 -- incore 1 -- priority 0 -- allowance 0.000000");
  EXPECT_EQ(fresh[7],
            "std_assembledoperator -- pool 0 -- incore 1 -- priority 0 -- allowance 0.000000");

  int index = mem_MemoryResourceHolder::ResourceIndex("std_sintdbsl");
  ASSERT_EQ(index, 5);
  EXPECT_TRUE(holder.SetPool(index, 3));
  EXPECT_TRUE(holder.SetPriority(index, -2));
  EXPECT_TRUE(holder.SetAllowance(index, 1048576));
  EXPECT_TRUE(holder.SetInCore(index, false));
  EXPECT_TRUE(holder.SetAllowance(22, (3LL << 32) + 524288));
  std::vector<std::string> filled = ReportLines(holder);
  ASSERT_EQ(filled.size(), 23u);
  EXPECT_EQ(filled[5], "std_sintdbsl -- pool 3 -- incore 0 -- priority -2 -- allowance 1.000000");
  EXPECT_EQ(filled[22],
            "std_admmisc -- pool 0 -- incore 1 -- priority 0 -- allowance 12288.500000");
  for (int i : {0, 4, 6, 21}) EXPECT_EQ(filled[i], fresh[i]);

  int pool = 0, priority = 0;
  long long allowance = 0;
  bool in_core = true;
  EXPECT_TRUE(holder.GetPool(5, &pool) && holder.GetPriority(5, &priority) &&
              holder.GetAllowance(5, &allowance) && holder.GetInCore(5, &in_core));
  EXPECT_EQ(pool, 3);
  EXPECT_EQ(priority, -2);
  EXPECT_EQ(allowance, 1048576);
  EXPECT_FALSE(in_core);
}

TEST(ResourceReport, NamesAndIndexesOutsideTheTable) {
  EXPECT_STREQ(mem_MemoryResourceHolder::ResourceName(17), "std_analysisresources");
  EXPECT_EQ(mem_MemoryResourceHolder::ResourceIndex("std_admmisc"), 22);
  EXPECT_EQ(mem_MemoryResourceHolder::ResourceIndex("std_admmis"), -1);
  EXPECT_EQ(mem_MemoryResourceHolder::ResourceIndex(nullptr), -1);
  for (int i = 0; i < mem_MemoryResourceHolder::kResourceCount; ++i) {
    EXPECT_EQ(mem_MemoryResourceHolder::ResourceIndex(mem_MemoryResourceHolder::ResourceName(i)),
              i);
  }

  mem_MemoryResourceHolder holder;
  std::vector<std::string> before = ReportLines(holder);
  int value = 99;
  long long allowance = 99;
  bool in_core = false;
  for (int bad : {-1, 23, -2147483647 - 1}) {
    EXPECT_EQ(mem_MemoryResourceHolder::ResourceName(bad), nullptr);
    EXPECT_FALSE(holder.SetPool(bad, 1));
    EXPECT_FALSE(holder.SetPriority(bad, 1));
    EXPECT_FALSE(holder.SetAllowance(bad, 1));
    EXPECT_FALSE(holder.SetInCore(bad, false));
    EXPECT_FALSE(holder.GetPool(bad, &value));
    EXPECT_FALSE(holder.GetPriority(bad, &value));
    EXPECT_FALSE(holder.GetAllowance(bad, &allowance));
    EXPECT_FALSE(holder.GetInCore(bad, &in_core));
  }
  EXPECT_FALSE(holder.GetPool(0, nullptr));
  EXPECT_EQ(value, 99);
  EXPECT_EQ(allowance, 99);
  EXPECT_FALSE(in_core);
  EXPECT_EQ(ReportLines(holder), before);
  holder.ReportResources(nullptr);
}

}  // namespace
