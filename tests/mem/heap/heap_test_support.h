// Helpers of the heap tests: the shadow model as a test reports it, the full heap check as
// a test assertion, and a fixture that puts the heap's parameters back.
//
// The heap is one per process, and every test program shares it between its tests, so
// tests compare before and after instead of assuming a fresh heap.
#ifndef VARURUROR_TESTS_MEM_HEAP_TEST_SUPPORT_H
#define VARURUROR_TESTS_MEM_HEAP_TEST_SUPPORT_H

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "heap_model.h"
#include "mem/heap/heap_checker.h"
#include "mem/heap/heap_state.h"
#include "plat/fault_injection.h"
#include "varururor/mem/dlmalloc.h"

namespace heap_test {

using heap_model::ChunkSizeFor;
using heap_model::kGranularity;
using heap_model::kKiB;
using heap_model::kMiB;
using heap_model::kTopFoot;
using heap_model::MappedUsableFor;
using heap_model::MappingSizeFor;
using heap_model::SegmentSizeFor;

// The shadow model with every byte of every block checked, choosing with rng; each broken
// rule is a test failure.
inline heap_model::HeapModel TestModel(std::mt19937& rng) {
  return heap_model::HeapModel(
      48 * kMiB, 120, 1, [&rng](std::size_t bound) { return bound == 0 ? 0 : rng() % bound; },
      [](std::string const& problem) { ADD_FAILURE() << problem; });
}

// The whole heap check; given the blocks the test holds, the footprint must match them too.
inline ::testing::AssertionResult HeapConsistent(std::vector<void*> const& live = {}) {
  mem::heap::HeapCheck check = mem::heap::CheckHeap(live.data(), live.size());
  if (check.ok) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "heap check: " << check.problem;
}

inline std::size_t Segments() { return mem::heap::CheckHeap().segment_count; }

// The largest run of free memory the heap holds: a request above it needs new system memory.
inline std::size_t LargestFreeSpace() {
  return std::max(dlfragmentationinfo(), dlmallinfo().keepcost);
}

// Sets the heap up, so that a test's first request does not bring the initial segment
// along, whether it runs alone or after others. Afterwards puts back every parameter a
// test may change, through dlmallopt, and clears injected failures; dlmallopt runs twice
// so that the heap state's copies follow at once.
class HeapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dlfree(dlmalloc(1));
    saved_ = mem::heap::g_heap_params;
  }
  void TearDown() override {
    plat::ClearInjectedFailures();
    for (int pass = 0; pass < 2; ++pass) {
      dlmallopt(DL_M_TRIM_THRESHOLD, static_cast<int>(saved_.trim_threshold));
      dlmallopt(DL_M_GRANULARITY, static_cast<int>(saved_.granularity));
      dlmallopt(DL_M_MMAP_THRESHOLD, static_cast<int>(saved_.mapping_threshold));
      dlmallopt(DL_M_LOCK, saved_.lock_switch);
      dlmallopt(DL_M_MEMORY_LIMIT, static_cast<int>(saved_.memory_limit));
    }
  }

 private:
  mem::heap::HeapParams saved_{};
};

// Runs body in a child test program, where failures do not reach the parent by
// themselves: they are caught here, written to standard error, and make the exit code 1.
template <typename Body>
[[noreturn]] void RunAndReportInChild(Body body) {
  ::testing::TestPartResultArray failures;
  {
    ::testing::ScopedFakeTestPartResultReporter reporter(
        ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &failures);
    body();
  }
  for (int i = 0; i < failures.size(); ++i) {
    ::testing::TestPartResult const& failure = failures.GetTestPartResult(i);
    std::fprintf(stderr, "%s:%d: %s\n", failure.file_name() ? failure.file_name() : "?",
                 failure.line_number(), failure.message());
  }
  std::fflush(stderr);
  std::exit(failures.size() == 0 ? 0 : 1);
}

// Runs the statements in a fresh copy of the test program, for cases that leave the
// heap changed in a way later tests must not see, or that need a heap nothing has used.
#define EXPECT_CLEAN_IN_CHILD(...)                                    \
  EXPECT_EXIT(::heap_test::RunAndReportInChild([&] { __VA_ARGS__; }), \
              ::testing::ExitedWithCode(0), "")

}  // namespace heap_test

#endif
