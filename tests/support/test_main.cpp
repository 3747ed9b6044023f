// The main of every test program.
#include <gtest/gtest.h>

// Tests ask for impossible sizes on purpose; the sanitizer's allocator is to answer them
// with null, as the C library's does.
extern "C" char const* __asan_default_options() { return "allocator_may_return_null=1"; }

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // Children start the program afresh instead of forking a process that has already
  // made its once-per-process choices.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  return RUN_ALL_TESTS();
}
