// libFuzzer drives the heap's shadow model (tests/support/heap_model.h): the input chooses
// the operations (allocate, zero-allocate, resize, align, free, trim, change the memory
// limit) and their sizes, and the model checks the whole heap after every step. Anything
// wrong aborts, which libFuzzer reports with the input that did it. Each input ends by
// freeing what it allocated, so that every input starts from a heap with nothing live.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "heap_model.h"

namespace {

constexpr std::size_t kMaxLiveBytes = 24 * heap_model::kMiB;
constexpr std::size_t kMaxLiveBlocks = 64;
constexpr int kMaxSteps = 256;
// Filling whole blocks of megabytes byte by byte would leave little time for anything else.
constexpr std::size_t kPatternStride = 4096;

}  // namespace

// The statistics are all zero until the heap has its first segment; the checks are for
// a heap that has one.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  dlfree(dlmalloc(1));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  heap_model::HeapModel model(
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
