// Every misuse the library heap detects (mem_Free and mem_Realloc reach it as dlfree and
// dlrealloc) ends the process with one line on standard error that
// names the operation, the address and what was found. The blocks are prepared here and
// the misuse happens in the death test's child, so that the line's address is known.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "heap_test_support.h"

namespace {

struct Misuse {
  char const* what;
  char const* operation;
  void const* address;
  char const* finding;  // a regular expression for the start of the finding
  std::function<void()> act;
};

std::string ExpectedLine(Misuse const& misuse) {
  char address[32];
  std::snprintf(address, sizeof address, "0x%08lx",
                static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(misuse.address)));
  // Exactly one line, and nothing else.
  return std::string("^VaruRuror: ") + misuse.operation + "\\(" + address +
         "\\): " + misuse.finding + "[^\n]*\n$";
}

constexpr char kNotABlock[] = "not a block of the library heap";
constexpr char kNotLive[] = "not a live block \\(freed already";
constexpr char kTagsOverwritten[] = "boundary tags overwritten";
constexpr char kMappingGone[] = "not a block of the library heap \\(a block with its own mapping";

TEST(HeapMisuseMessage, EachMisuseSaysWhatItFound) {
  // A forked child, not a fresh run of the program: the blocks lie where they lie here.
  std::string const style = GTEST_FLAG_GET(death_test_style);
  GTEST_FLAG_SET(death_test_style, "fast");
  // Blocks side by side keep the freed ones from joining a neighbour.
  char* before = static_cast<char*>(dlmalloc(100));
  char* freed = static_cast<char*>(dlmalloc(100));
  char* after = static_cast<char*>(dlmalloc(100));
  char* zeroed = static_cast<char*>(dlcalloc(1, 256));
  char* overrun = static_cast<char*>(dlmalloc(100));
  char* underrun = static_cast<char*>(dlmalloc(100));
  // Earlier tests of the program may have moved the mapping threshold, and left free
  // chunks large enough to serve the request.
  std::size_t const threshold = mem::heap::g_heap_params.mapping_threshold;
  dlmallopt(DL_M_MMAP_THRESHOLD, 256 << 10);
  char* mapped = static_cast<char*>(dlmalloc(heap_test::LargestFreeSpace() + (1 << 20)));
  dlmallopt(DL_M_MMAP_THRESHOLD, static_cast<int>(threshold));
  ASSERT_EQ(reinterpret_cast<std::uintptr_t>(mapped) % 4096, 16u) << "not a mapped block";
  // Freed last, so that no later request takes its memory again.
  dlfree(freed);
  void* from_malloc = std::malloc(64);
  alignas(16) char on_stack[64] = {};

  std::vector<Misuse> cases = {
      {"a stack address", "dlfree", on_stack + 16, kNotLive, [&] { dlfree(on_stack + 16); }},
      {"inside a block", "dlfree", zeroed + 64, kNotLive, [&] { dlfree(zeroed + 64); }},
      {"inside a block, misaligned", "dlfree", zeroed + 5, kNotABlock, [&] { dlfree(zeroed + 5); }},
      {"a double free", "dlfree", freed, kNotLive, [&] { dlfree(freed); }},
      {"resizing a freed block", "dlrealloc", freed, kNotLive, [&] { dlrealloc(freed, 200); }},
      {"an overrun into the next head", "dlfree", overrun, kTagsOverwritten,
       [&] {
         std::memset(overrun, 0, 112);
         dlfree(overrun);
       }},
      {"an overrun, resized", "dlrealloc", overrun, kTagsOverwritten,
       [&] {
         std::memset(overrun, 0, 112);
         dlrealloc(overrun, 10);
       }},
      {"an underrun over the head", "dlfree", underrun, kTagsOverwritten,
       [&] {
         std::memset(underrun - 8, 0xFF, 8);
         dlfree(underrun);
       }},
      // Both frees in the child, so that nothing can take the address range between them.
      {"a double free of a block with its own mapping", "dlfree", mapped, kMappingGone,
       [&] {
         dlfree(mapped);
         dlfree(mapped);
       }},
  };
#ifndef __SANITIZE_ADDRESS__
  // AddressSanitizer reports the read of its own block's header itself.
  cases.push_back({"a block of the C library", "dlfree", from_malloc, "not a (live )?block",
                   [&] { dlfree(from_malloc); }});
#endif
  for (Misuse const& misuse : cases) {
    EXPECT_EXIT(misuse.act(), ::testing::KilledBySignal(SIGABRT), ExpectedLine(misuse))
        << misuse.what;
  }
  dlfree(before);
  dlfree(after);
  dlfree(zeroed);
  dlfree(overrun);
  dlfree(underrun);
  dlfree(mapped);
  std::free(from_malloc);
  GTEST_FLAG_SET(death_test_style, style);
}

}  // namespace
