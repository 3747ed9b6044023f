// Helpers of the heap tests. A program's tests share the heap: they compare before and after.
#ifndef VARURUROR_TESTS_MEM_HEAP_TEST_SUPPORT_H
#define VARURUROR_TESTS_MEM_HEAP_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <vector>

#include "child_process.h"
#include "heap_model.h"
#include "mem/heap/heap_state.h"
#include "plat/fault_injection.h"

namespace heap_test {

// The shadow model checking every byte of every block; each broken rule fails the test.
inline HeapModel TestModel(std::mt19937& rng) {
  return HeapModel(
      48 * kMiB, 120, 1, [&rng](std::size_t bound) { return bound == 0 ? 0 : rng() % bound; },
      [](std::string const& problem) { ADD_FAILURE() << problem; });
}

// The whole heap check; given the blocks the test holds, the footprint must match them too.
inline ::testing::AssertionResult HeapConsistent(std::vector<void*> const& live = {}) {
  mem::heap::HeapCheck check = mem::heap::CheckHeap(live.data(), live.size());
  if (check.ok) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "heap check: " << check.problem;
}

// Sets up and trims the heap first; afterwards restores its parameters, clears failures.
class HeapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dlfree(dlmalloc(1));
    dlmalloc_trim(0);
    saved_ = mem::heap::g_heap_params;
  }
  void TearDown() override {
    plat::ClearInjectedFailures();
    mem::heap::g_heap_params = saved_;
    dlmallopt(DL_M_LOCK, saved_.lock_switch);  // its pass copies the switch and the limit
  }

 private:
  mem::heap::HeapParams saved_{};
};

// Writes the running test's failures on standard error, where a child's are seen.
inline void PrintFailures() {
  ::testing::TestResult const* result =
      ::testing::UnitTest::GetInstance()->current_test_info()->result();
  for (int i = 0; i < result->total_part_count(); ++i) {
    ::testing::TestPartResult const& part = result->GetTestPartResult(i);
    std::fprintf(stderr, "%s:%d: %s\n", part.file_name(), part.line_number(), part.message());
  }
}

// For a heap nothing has used, or changed for good: a fresh copy of the program, failing nothing.
#define EXPECT_CLEAN_IN_CHILD(...) \
  EXPECT_IN_CHILD("^$", {          \
    __VA_ARGS__;                   \
    ::heap_test::PrintFailures();  \
  })

}  // namespace heap_test

#endif
