// Setting variables. (Clocks, the platform heap, the float registers, the program's name,
// temporary file names and run-time loading are checked by the tests of the timers, the
// heap choice, the traps, the streams' temporary files and the crash reports, which use
// them.)
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "plat/environment.h"

namespace {

TEST(Environment, PutSetsACopyOfTheEntry) {
  char entry[] = "VR_PLAT_TEST=first";
  EXPECT_TRUE(plat::PutEnvironment(entry));
  std::strcpy(entry, "VR_PLAT_TEST=other");  // the caller may reuse its buffer
  EXPECT_STREQ(std::getenv("VR_PLAT_TEST"), "first");
  EXPECT_FALSE(plat::PutEnvironment("=value"));
  EXPECT_FALSE(plat::PutEnvironment("no name"));
}

}  // namespace
