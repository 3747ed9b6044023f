// The resource table: filling it, refusing indexes outside it, and the report's lines.
#include "varururor/mem/memory_resource_holder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>

namespace {

std::string Report(mem_MemoryResourceHolder& holder) {
  FILE* out = std::tmpfile();
  holder.ReportResources(out);
  std::string text;
  std::rewind(out);
  for (int c; (c = std::fgetc(out)) != EOF;) text += static_cast<char>(c);
  std::fclose(out);
  return text;
}

TEST(ResourceReport, OneLinePerResourceInIndexOrder) {
  mem_MemoryResourceHolder holder;
  std::string const fresh = Report(holder);
  int index = mem_MemoryResourceHolder::ResourceIndex("std_sintdbsl");
  ASSERT_EQ(index, 5);
  EXPECT_TRUE(holder.SetPool(index, 3) && holder.SetPriority(index, -2) &&
              holder.SetAllowance(index, 1048576) && holder.SetInCore(index, false));
  EXPECT_TRUE(holder.SetAllowance(22, (3LL << 32) + 524288));
  std::string const filled = Report(holder);
  std::string const line0 =
      "std_default -- pool 0 -- incore 1 -- priority 0 -- allowance 0.000000\n";
  std::string const line5 =
      "std_sintdbsl -- pool 3 -- incore 0 -- priority -2 -- allowance 1.000000\n";
  EXPECT_EQ(fresh.find(line0), 0u);
  EXPECT_EQ(filled.find(line0), 0u);
  EXPECT_NE(filled.find("\n" + line5), std::string::npos);
  EXPECT_EQ(std::count(filled.begin(), filled.end(), '\n'), 23);
  std::string const last =
      "\nstd_admmisc -- pool 0 -- incore 1 -- priority 0 -- allowance 12288.500000\n";
  EXPECT_EQ(filled.substr(filled.size() - last.size()), last);
}

TEST(ResourceReport, NamesAndIndexesOutsideTheTable) {
  EXPECT_STREQ(mem_MemoryResourceHolder::ResourceName(17), "std_analysisresources");
  EXPECT_EQ(mem_MemoryResourceHolder::ResourceIndex("std_admmis"), -1);
  EXPECT_EQ(mem_MemoryResourceHolder::ResourceIndex(nullptr), -1);
  for (int i = 0; i < mem_MemoryResourceHolder::kResourceCount; ++i) {
    EXPECT_EQ(mem_MemoryResourceHolder::ResourceIndex(mem_MemoryResourceHolder::ResourceName(i)),
              i);
  }
  mem_MemoryResourceHolder holder;
  std::string const before = Report(holder);
  int value = 99;
  long long allowance = 99;
  bool in_core = false;
  for (int bad : {-1, 23, -2147483647 - 1}) {
    EXPECT_EQ(mem_MemoryResourceHolder::ResourceName(bad), nullptr);
    EXPECT_FALSE(holder.SetPool(bad, 1) || holder.SetPriority(bad, 1) ||
                 holder.SetAllowance(bad, 1) || holder.SetInCore(bad, false));
    EXPECT_FALSE(holder.GetPool(bad, &value) || holder.GetPriority(bad, &value) ||
                 holder.GetAllowance(bad, &allowance) || holder.GetInCore(bad, &in_core));
  }
  EXPECT_FALSE(holder.GetPool(0, nullptr));
  EXPECT_TRUE(value == 99 && allowance == 99 && !in_core);
  EXPECT_EQ(Report(holder), before);
  holder.ReportResources(nullptr);
}

}  // namespace
