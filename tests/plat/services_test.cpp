// Setting variables and temporary file names. (Clocks, the platform heap, the float
// registers, the program's name and run-time loading are checked by the tests of the
// timers, the heap choice, the traps and the crash reports, which use them.)
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "plat/environment.h"
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

// Uniqueness against names in use is checked by the streams' temporary file tests.
TEST(TempFile, NamesAreThreePrefixCharactersAndTheNumberInHexadecimal) {
  char directory[plat::kMaxPath];
  ASSERT_GT(plat::GetTempPath(directory, sizeof directory), 0u);
  EXPECT_EQ(directory[std::strlen(directory) - 1], '/');
  EXPECT_EQ(plat::GetTempPath(directory, 2), 0u);
  char path[plat::kMaxPath];
  EXPECT_EQ(plat::GetTempFileName("/tmp", "vrtest", 0x2A, path), 0x2Au);
  EXPECT_STREQ(path, "/tmp/vrt2A.TMP");
  ASSERT_NE(plat::GetTempFileName("/tmp", "vrtest", 0, path), 0u);
  EXPECT_EQ(std::remove(path), 0);  // a generated name is made as a file
  EXPECT_EQ(plat::GetTempFileName("/nonexistent-directory-of-vr", "x", 0, path), 0u);
}

}  // namespace
