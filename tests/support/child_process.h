// Runs statements in a fresh child process (the test program started again, as the
// tests' main asks of death tests), so that choices the library makes once per process
// start from nothing.
#ifndef VARURUROR_TESTS_CHILD_PROCESS_H
#define VARURUROR_TESTS_CHILD_PROCESS_H

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

// The child's standard error must match pattern, and it must exit with status 0.
// The statements run in a lambda in parentheses, which keeps their commas together.
#define EXPECT_IN_CHILD(pattern, ...) \
  EXPECT_EXIT(([&] {                  \
                __VA_ARGS__;          \
                std::fflush(stderr);  \
                std::exit(0);         \
              }()),                   \
              ::testing::ExitedWithCode(0), pattern)

// The child must abort with standard error matching pattern.
#define EXPECT_ABORT_IN_CHILD(pattern, ...) EXPECT_DEATH(([&] { __VA_ARGS__; }()), pattern)

#endif
