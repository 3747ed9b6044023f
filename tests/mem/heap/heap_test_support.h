// Helpers of the heap tests: the sizes the heap's rounding rules give, byte patterns to
// prove that blocks keep their contents, and the full heap check as a test assertion.
//
// The heap is one per process, and every test program shares it between its tests, so
// tests compare before and after instead of assuming a fresh heap.
#ifndef VARURUROR_TESTS_MEM_HEAP_TEST_SUPPORT_H
#define VARURUROR_TESTS_MEM_HEAP_TEST_SUPPORT_H

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "mem/heap/heap_checker.h"
#include "mem/heap/heap_state.h"
#include "plat/fault_injection.h"
#include "varururor/mem/dlmalloc.h"

namespace heap_test {

constexpr std::size_t kKiB = 1024;
constexpr std::size_t kMiB = 1024 * kKiB;
constexpr std::size_t kGranularity = 64 * kKiB;
constexpr std::size_t kMappingThreshold = 256 * kKiB;
constexpr std::size_t kTopFoot = 56;

// The documented rounding rules, written out again from their statement.
inline std::size_t ChunkSizeFor(std::size_t request) {
  return request < 11 ? 16 : (request + 19) & ~std::size_t{15};
}
inline std::size_t SegmentSizeFor(std::size_t chunk) {
  return (chunk + 65 + kGranularity) & ~(kGranularity - 1);
}
inline std::size_t MappingSizeFor(std::size_t chunk) {
  return (chunk + 79 + kGranularity) & ~(kGranularity - 1);
}
// A mapped chunk starts 8 bytes into its mapping and leaves 56 at the end; 8 bytes of it
// are overhead.
inline std::size_t MappedUsableFor(std::size_t request) {
  return MappingSizeFor(ChunkSizeFor(request)) - 8 - kTopFoot - 8;
}

inline std::uint32_t PatternWord(std::uint32_t seed, std::size_t index) {
  std::uint32_t x = seed * 0x9E3779B1u + static_cast<std::uint32_t>(index) * 0x85EBCA77u;
  return x ^ (x >> 15);
}

// Fills n bytes at p with a pattern that depends on seed and on each byte's position.
inline void Fill(void* p, std::size_t n, std::uint32_t seed) {
  unsigned char* bytes = static_cast<unsigned char*>(p);
  std::size_t words = n / 4;
  for (std::size_t i = 0; i < words; ++i) {
    std::uint32_t w = PatternWord(seed, i);
    std::memcpy(bytes + 4 * i, &w, 4);
  }
  std::uint32_t last = PatternWord(seed, words);
  std::memcpy(bytes + 4 * words, &last, n % 4);
}

inline ::testing::AssertionResult Intact(void const* p, std::size_t n, std::uint32_t seed) {
  unsigned char const* bytes = static_cast<unsigned char const*>(p);
  std::size_t words = n / 4;
  for (std::size_t i = 0; i <= words; ++i) {
    std::uint32_t expected = PatternWord(seed, i);
    std::size_t length = i < words ? 4 : n % 4;
    if (length != 0 && std::memcmp(bytes + 4 * i, &expected, length) != 0) {
      return ::testing::AssertionFailure()
             << "block " << p << " of " << n << " bytes differs at byte " << 4 * i;
    }
  }
  return ::testing::AssertionSuccess();
}

inline bool AllZero(void const* p, std::size_t n) {
  unsigned char const* bytes = static_cast<unsigned char const*>(p);
  return std::all_of(bytes, bytes + n, [](unsigned char b) { return b == 0; });
}

inline ::testing::AssertionResult HeapConsistent(std::vector<void*> const& live) {
  mem::heap::HeapCheck check = mem::heap::CheckHeap(live.data(), live.size());
  if (check.ok) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "heap check: " << check.problem;
}

// Only the structure; the footprint is not compared with the blocks the test holds.
inline ::testing::AssertionResult HeapConsistent() {
  mem::heap::HeapCheck check = mem::heap::CheckHeap();
  if (check.ok) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "heap check: " << check.problem;
}

// The largest run of free memory the heap holds: a request above it needs new system memory.
inline std::size_t LargestFreeSpace() {
  return std::max(dlfragmentationinfo(), dlmallinfo().keepcost);
}

// Three blocks of n bytes whose chunks lie side by side, so that freeing the middle one
// leaves a free chunk that cannot join a neighbour. Blocks that did not line up are kept
// in spares until the caller frees them.
struct AdjacentTriple {
  void* a = nullptr;
  void* b = nullptr;
  void* c = nullptr;
  std::vector<void*> spares;

  explicit AdjacentTriple(std::size_t n) {
    // Consecutive cuts from the top or the designated victim soon line up.
    for (int attempt = 0; attempt < 1000 && a == nullptr; ++attempt) {
      void* x = dlmalloc(n);
      void* y = dlmalloc(n);
      void* z = dlmalloc(n);
      if (static_cast<char*>(x) + ChunkSizeFor(n) == y &&
          static_cast<char*>(y) + ChunkSizeFor(n) == z) {
        a = x;
        b = y;
        c = z;
      } else {
        spares.insert(spares.end(), {x, y, z});
      }
    }
  }
  void FreeAll() {
    for (void* p : spares) dlfree(p);
    spares.clear();
  }
};

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
