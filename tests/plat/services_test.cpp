// Clocks, the program's name, temporary file names, run-time loading, the platform heap
// and the floating-point control registers.
#include <gtest/gtest.h>
#include <xmmintrin.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "plat/clock.h"
#include "plat/dynamic_library.h"
#include "plat/float_control.h"
#include "plat/platform_heap.h"
#include "plat/process.h"
#include "plat/temp_file.h"

namespace {

TEST(Clock, CountersAndTimesMoveOn) {
  std::int64_t frequency = plat::QueryPerformanceFrequency();
  ASSERT_GT(frequency, 0);
  std::int64_t start = plat::QueryPerformanceCounter();
  while (plat::QueryPerformanceCounter() - start < frequency / 100) {
  }
  plat::ProcessTimes before{};
  ASSERT_TRUE(plat::GetProcessTimes(&before));
  volatile double sink = 0;
  for (int i = 0; i < 20000000; ++i) sink = sink + std::sqrt(static_cast<double>(i));
  plat::ProcessTimes after{};
  ASSERT_TRUE(plat::GetProcessTimes(&after));
  EXPECT_GT(after.user_time + after.kernel_time, before.user_time + before.kernel_time);
  plat::TimeOfDay now{};
  std::time_t earlier = std::time(nullptr);
  plat::GetTimeOfDay(&now);
  EXPECT_GE(now.seconds, earlier);
  EXPECT_LE(now.seconds, std::time(nullptr));
  EXPECT_LT(now.milliseconds, 1000);
}

TEST(Process, ModuleBaseNameIsTheProgramFileNameCutToTheBuffer) {
  char name[64];
  EXPECT_EQ(plat::GetModuleBaseName(name, sizeof name), std::strlen("plat_tests"));
  EXPECT_STREQ(name, "plat_tests");
  EXPECT_EQ(plat::GetModuleBaseName(name, 5), 4u);
  EXPECT_STREQ(name, "plat");
  EXPECT_EQ(plat::GetModuleBaseName(name, 0), 0u);
}

TEST(TempFile, NamesAreUniqueAndTheFilesExist) {
  char directory[plat::kMaxPath];
  ASSERT_GT(plat::GetTempPath(directory, sizeof directory), 0u);
  EXPECT_EQ(directory[std::strlen(directory) - 1], '/');
  EXPECT_EQ(plat::GetTempPath(directory, 2), 0u);
  std::set<std::string> made;
  char path[plat::kMaxPath];
  for (int i = 0; i < 20; ++i) {
    ASSERT_NE(plat::GetTempFileName("/tmp", "vrtest", 0, path), 0u);
    EXPECT_TRUE(std::filesystem::exists(path)) << path;
    made.insert(path);
  }
  EXPECT_EQ(made.size(), 20u);
  for (auto const& name : made) std::remove(name.c_str());
  // Three prefix characters and the number in hexadecimal.
  EXPECT_EQ(plat::GetTempFileName("/tmp", "vrtest", 0x2A, path), 0x2Au);
  EXPECT_STREQ(path, "/tmp/vrt2A.TMP");
  EXPECT_EQ(plat::GetTempFileName("/nonexistent-directory-of-vr", "x", 0, path), 0u);
}

TEST(DynamicLibrary, LoadsAndFindsSymbols) {
  plat::LibraryHandle math = plat::LoadLibrary("libm.so.6");
  ASSERT_NE(math, nullptr);
  auto cosine = reinterpret_cast<double (*)(double)>(plat::GetProcAddress(math, "cos"));
  EXPECT_EQ(cosine(0.0), 1.0);
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
  std::vector<void*> blocks{std::malloc(kBig)};
  for (int i = 0; i < 1000; ++i) blocks.push_back(std::malloc(100));
  plat::PlatformHeapTotals during{};
  ASSERT_TRUE(plat::WalkPlatformHeap(&during));
  EXPECT_GE(during.in_use, before.in_use + kBig + 1000 * 100);
  EXPECT_GE(during.committed, during.in_use);
  for (void* block : blocks) std::free(block);
  ASSERT_TRUE(plat::WalkPlatformHeap(&before));
  EXPECT_LT(before.in_use, during.in_use);
}

TEST(FloatControl, RegistersReadBackWhatWasWritten) {
  unsigned saved = plat::GetMxcsr();
  EXPECT_EQ(saved, _mm_getcsr());
  plat::SetMxcsr(plat::kSseMaskAll | plat::kSseFlushToZero);
  EXPECT_EQ(_mm_getcsr(), plat::kSseMaskAll | plat::kSseFlushToZero);
  plat::SetMxcsr(saved);
  saved = plat::GetX87ControlWord();
  plat::SetX87ControlWord((saved & ~plat::kX87PrecisionField) | plat::kX87Precision53);
  EXPECT_EQ(plat::GetX87ControlWord() & plat::kX87PrecisionField, plat::kX87Precision53);
  plat::SetX87ControlWord(saved);
  EXPECT_EQ(plat::GetX87ControlWord(), saved);
}

}  // namespace
