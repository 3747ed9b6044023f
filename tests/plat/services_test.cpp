// Clocks, the program's name, temporary files, run-time loading and the platform heap.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "plat/clock.h"
#include "plat/dynamic_library.h"
#include "plat/fault_injection.h"
#include "plat/platform_heap.h"
#include "plat/process.h"
#include "plat/temp_file.h"

namespace {

TEST(Clock, CounterAdvancesAtItsFrequency) {
  std::int64_t frequency = plat::QueryPerformanceFrequency();
  ASSERT_GT(frequency, 0);
  std::int64_t start = plat::QueryPerformanceCounter();
  std::int64_t now = start;
  while (now - start < frequency / 100) now = plat::QueryPerformanceCounter();
  EXPECT_GE(now, start + frequency / 100);
}

TEST(Clock, ProcessTimesGrowWithWork) {
  plat::ProcessTimes before{};
  ASSERT_TRUE(plat::GetProcessTimes(&before));
  volatile double sink = 0;
  for (int i = 0; i < 20000000; ++i) sink = sink + std::sqrt(static_cast<double>(i));
  plat::ProcessTimes after{};
  ASSERT_TRUE(plat::GetProcessTimes(&after));
  EXPECT_GT(after.user_time + after.kernel_time, before.user_time + before.kernel_time);
}

TEST(Clock, TimeOfDayAgreesWithTheCalendarClock) {
  plat::TimeOfDay now{};
  std::time_t before = std::time(nullptr);
  plat::GetTimeOfDay(&now);
  std::time_t after = std::time(nullptr);
  EXPECT_GE(now.seconds, before);
  EXPECT_LE(now.seconds, after);
  EXPECT_LT(now.milliseconds, 1000);
}

TEST(Process, ModuleBaseNameIsTheProgramFileName) {
  char name[64];
  std::size_t length = plat::GetModuleBaseName(name, sizeof name);
  EXPECT_STREQ(name, "plat_tests");
  EXPECT_EQ(length, std::strlen("plat_tests"));
  char tiny[5];
  EXPECT_EQ(plat::GetModuleBaseName(tiny, sizeof tiny), 4u);
  EXPECT_STREQ(tiny, "plat");
  EXPECT_EQ(plat::GetModuleBaseName(tiny, 0), 0u);
}

TEST(TempFile, NamesAreUniqueAndTheFilesExist) {
  char directory[plat::kMaxPath];
  ASSERT_GT(plat::GetTempPath(directory, sizeof directory), 0u);
  EXPECT_EQ(directory[std::strlen(directory) - 1], '/');
  char small[2];
  EXPECT_EQ(plat::GetTempPath(small, sizeof small), 0u);

  std::vector<std::string> made;
  for (int i = 0; i < 20; ++i) {
    char path[plat::kMaxPath];
    unsigned number = plat::GetTempFileName(directory, "vrtest", 0, path);
    ASSERT_NE(number, 0u);
    std::string name(path);
    EXPECT_NE(name.find("/vrt"), std::string::npos) << name;  // three prefix characters
    EXPECT_EQ(name.substr(name.size() - 4), ".TMP");
    std::FILE* file = std::fopen(path, "r");
    ASSERT_NE(file, nullptr) << name;
    std::fclose(file);
    for (auto const& other : made) EXPECT_NE(other, name);
    made.push_back(name);
  }
  for (auto const& name : made) std::remove(name.c_str());

  char path[plat::kMaxPath];
  EXPECT_EQ(plat::GetTempFileName("/tmp", "ab", 0x2A, path), 0x2Au);
  EXPECT_STREQ(path, "/tmp/ab2A.TMP");
  EXPECT_EQ(plat::GetTempFileName("/nonexistent-directory-of-vr", "x", 0, path), 0u);
  plat::InjectFailures(plat::Operation::kGetTempFileName, 0, 1);
  EXPECT_EQ(plat::GetTempFileName(directory, "x", 0, path), 0u);
  plat::ClearInjectedFailures();
}

TEST(DynamicLibrary, LoadsAndFindsSymbols) {
  plat::LibraryHandle math = plat::LoadLibrary("libm.so.6");
  ASSERT_NE(math, nullptr);
  auto cosine = reinterpret_cast<double (*)(double)>(plat::GetProcAddress(math, "cos"));
  ASSERT_NE(cosine, nullptr);
  EXPECT_DOUBLE_EQ(cosine(0.0), 1.0);
  EXPECT_EQ(plat::GetProcAddress(math, "no_such_symbol_in_libm"), nullptr);
  plat::FreeLibrary(math);
  EXPECT_EQ(plat::LoadLibrary("libno-such-library.so"), nullptr);
  EXPECT_EQ(plat::GetProcAddress(nullptr, "cos"), nullptr);
}

TEST(PlatformHeap, WalkAccountsForLiveBlocks) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer replaces the C library's heap and its statistics";
#endif
  plat::PlatformHeapTotals before{};
  ASSERT_TRUE(plat::WalkPlatformHeap(&before));
  constexpr std::size_t kBig = 3 << 20;  // above the C library's mapping threshold
  std::vector<void*> blocks;
  blocks.push_back(std::malloc(kBig));
  for (int i = 0; i < 1000; ++i) blocks.push_back(std::malloc(100));
  plat::PlatformHeapTotals during{};
  ASSERT_TRUE(plat::WalkPlatformHeap(&during));
  EXPECT_GE(during.in_use, before.in_use + kBig + 1000 * 100);
  EXPECT_GE(during.committed, during.in_use);
  for (void* block : blocks) std::free(block);
  plat::PlatformHeapTotals after{};
  ASSERT_TRUE(plat::WalkPlatformHeap(&after));
  EXPECT_LT(after.in_use, during.in_use);
}

}  // namespace
