// The resource report: one line per resource, in index order; indexes outside are refused.
#include "varururor/mem/memory_resource_holder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <string>

namespace {

TEST(ResourceReport, OneLinePerResourceInIndexOrder) {
  mem_MemoryResourceHolder holder;
  ASSERT_EQ(mem_MemoryResourceHolder::ResourceIndex("std_sintdbsl"), 5);
  EXPECT_TRUE(holder.SetPool(5, 3) && holder.SetPriority(5, -2) &&
              holder.SetAllowance(5, 1048576) && holder.SetInCore(5, false));
  EXPECT_TRUE(holder.SetAllowance(22, (3LL << 32) + 524288));
  for (int bad : {-1, 23, INT_MIN}) {
    EXPECT_FALSE(holder.SetPool(bad, 1) || holder.SetPriority(bad, 1) ||
                 holder.SetAllowance(bad, 1) || holder.SetInCore(bad, false));
    EXPECT_EQ(mem_MemoryResourceHolder::ResourceName(bad), nullptr);
  }
  EXPECT_EQ(mem_MemoryResourceHolder::ResourceIndex("std_admmis"), -1);
  EXPECT_EQ(mem_MemoryResourceHolder::ResourceIndex(nullptr), -1);

  testing::internal::CaptureStderr();
  holder.ReportResources(stderr);
  holder.ReportResources(nullptr);
  std::string const text = testing::internal::GetCapturedStderr();
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 23);
  EXPECT_EQ(text.find("std_default -- pool 0 -- incore 1 -- priority 0 -- allowance 0.000000\n"),
            0u);
  EXPECT_NE(
      text.find("\nstd_sintdbsl -- pool 3 -- incore 0 -- priority -2 -- allowance 1.000000\n"),
      std::string::npos);
  EXPECT_NE(
      text.find("\nstd_admmisc -- pool 0 -- incore 1 -- priority 0 -- allowance 12288.500000\n"),
      std::string::npos);
}

}  // namespace
