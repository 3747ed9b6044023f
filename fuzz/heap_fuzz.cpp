// libFuzzer drives the heap's shadow model (tests/support/heap_model.h): the input chooses
// the operations and their sizes, and anything the model finds wrong aborts, which libFuzzer
// reports with the input. Each input frees what it allocated, so the next starts afresh.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "heap_model.h"

constexpr std::size_t kMaxLiveBytes = 24 * heap_test::kMiB;
constexpr std::size_t kMaxLiveBlocks = 64;
constexpr int kMaxSteps = 256;
// Filling whole blocks of megabytes byte by byte would leave little time for anything else.
constexpr std::size_t kPatternStride = 4096;

// The model's checks are for a heap that has its first segment.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  dlfree(dlmalloc(1));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  heap_test::HeapModel model(
      kMaxLiveBytes, kMaxLiveBlocks, kPatternStride,
      [&input](std::size_t bound) {
        return bound == 0 ? 0 : input.ConsumeIntegralInRange<std::size_t>(0, bound - 1);
      },
      [](std::string const& problem) {
        std::fprintf(stderr, "heap_fuzz: %s\n", problem.c_str());
        std::abort();
      });
  for (int step = 0; step < kMaxSteps && input.remaining_bytes() > 0; ++step) model.RandomStep();
  model.Finish();
  return 0;
}
