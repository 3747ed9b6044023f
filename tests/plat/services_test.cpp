// Setting variables, the program's name, temporary file names and run-time loading.
// (Clocks, the platform heap and the float registers are checked by the tests of the
// timers, the heap choice and the traps, which use them.)
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>

#include "plat/dynamic_library.h"
#include "plat/environment.h"
#include "plat/process.h"
#include "plat/temp_file.h"

namespace {

TEST(Environment, PutSetsACopyOfTheEntry) {
  char entry[] = "VR_PLAT_TEST=first";
  EXPECT_TRUE(plat::PutEnvironment(entry));
  std::strcpy(entry, "VR_PLAT_TEST=other");  // the caller may reuse its buffer
  EXPECT_STREQ(std::getenv("VR_PLAT_TEST"), "first");
  EXPECT_FALSE(plat::PutEnvironment("=value"));
  EXPECT_FALSE(plat::PutEnvironment("no name"));
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

}  // namespace
