// The library heap against its peers on the patterns that decide an allocator's speed.
// Every benchmark runs for every allocator this process can reach: the library heap
// (dlmalloc ... called directly; the front end adds about a nanosecond), glibc, and
// mimalloc and tcmalloc from their Debian libraries; jemalloc only when preloaded
// (LD_PRELOAD=libjemalloc.so.2), since its library cannot be loaded later.
//
// The single-thread benchmarks run twice: first while the process has one thread (the
// library heap then takes no lock), then, after the two-thread benchmarks, in a process
// that has had a second thread, where every operation takes the lock uncontended.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "replay/allocator_family.h"
#include "varururor/varururor.h"

namespace {

using bench::AllocatorFamily;

constexpr char const* kFamilies[] = {"dl", "glibc", "jemalloc", "mimalloc", "tcmalloc"};

// A fixed pseudo-random sequence, the same for every allocator.
class Sequence {
 public:
  explicit Sequence(std::uint32_t seed) : state_(seed) {}
  std::uint32_t Next() {
    state_ = state_ * 1664525u + 1013904223u;
    return state_ >> 8;
  }

 private:
  std::uint32_t state_;
};

void WriteFirstByte(void* p) { static_cast<unsigned char volatile*>(p)[0] = 1; }

// One block of 16 bytes allocated and freed: the fastest path there is.
void Pair16(benchmark::State& state, AllocatorFamily heap) {
  for (auto _ : state) {
    void* p = heap.malloc(16);
    benchmark::DoNotOptimize(p);
    heap.free(p);
  }
}

// Small objects of 8 to 128 bytes, a window of 4096 live ones replaced in random order.
void SmallChurn(benchmark::State& state, AllocatorFamily heap) {
  constexpr std::size_t kWindow = 4096;
  constexpr std::uint32_t kSizeSteps = 121;
  constexpr std::size_t kSmallest = 8;
  std::vector<void*> live(kWindow, nullptr);
  Sequence random(static_cast<std::uint32_t>(state.thread_index()) + 1);
  for (auto _ : state) {
    std::uint32_t r = random.Next();
    void*& slot = live[r % kWindow];
    heap.free(slot);
    slot = heap.malloc(kSmallest + (r >> 12) % kSizeSteps);
    WriteFirstByte(slot);
  }
  for (void* p : live) heap.free(p);
}

// Sizes spread evenly over the powers of two from 8 bytes to 64 KiB, 1024 live blocks.
void MixedSizes(benchmark::State& state, AllocatorFamily heap) {
  constexpr std::size_t kWindow = 1024;
  constexpr std::uint32_t kLowestPower = 3;
  constexpr std::uint32_t kPowers = 14;
  std::vector<void*> live(kWindow, nullptr);
  Sequence random(7);
  for (auto _ : state) {
    std::uint32_t r = random.Next();
    std::uint32_t power = kLowestPower + r % kPowers;
    std::size_t size = (std::size_t{1} << power) + (r >> 8) % (std::size_t{1} << power);
    void*& slot = live[(r >> 4) % kWindow];
    heap.free(slot);
    slot = heap.malloc(size);
    WriteFirstByte(slot);
  }
  for (void* p : live) heap.free(p);
}

// A buffer grown by a quarter at a time from 16 bytes to 1 MiB, as a growing array is.
void ReallocGrowth(benchmark::State& state, AllocatorFamily heap) {
  constexpr std::size_t kStart = 16;
  constexpr std::size_t kEnd = std::size_t{1} << 20;
  for (auto _ : state) {
    void* p = nullptr;
    for (std::size_t size = kStart; size < kEnd; size += size / 4) {
      p = heap.realloc(p, size);
      WriteFirstByte(p);
    }
    heap.free(p);
  }
}

// Blocks of 256 KiB to 4 MiB, each written once per page, four live at a time.
void LargeBlocks(benchmark::State& state, AllocatorFamily heap) {
  constexpr std::size_t kWindow = 4;
  constexpr std::size_t kPage = 4096;
  constexpr std::size_t kSmallest = std::size_t{256} << 10;
  constexpr std::uint32_t kSteps = 16;
  std::vector<void*> live(kWindow, nullptr);
  Sequence random(11);
  for (auto _ : state) {
    std::uint32_t r = random.Next();
    std::size_t size = kSmallest * (1 + r % kSteps);
    void*& slot = live[(r >> 4) % kWindow];
    heap.free(slot);
    slot = heap.malloc(size);
    for (std::size_t offset = 0; offset < size; offset += kPage) {
      static_cast<unsigned char volatile*>(slot)[offset] = 1;
    }
  }
  for (void* p : live) heap.free(p);
}

using Benchmark = void (*)(benchmark::State&, AllocatorFamily);

struct Pattern {
  char const* name;
  Benchmark run;
};

constexpr Pattern kPatterns[] = {
    {"Pair16", Pair16},           {"SmallChurn", SmallChurn},
    {"MixedSizes", MixedSizes},   {"ReallocGrowth", ReallocGrowth},
    {"LargeBlocks", LargeBlocks},
};

void RegisterSingleThreaded(std::vector<AllocatorFamily> const& heaps, char const* process) {
  for (Pattern const& pattern : kPatterns) {
    for (AllocatorFamily const& heap : heaps) {
      std::string name = std::string(pattern.name) + "/" + heap.name + "/" + process;
      benchmark::RegisterBenchmark(name.c_str(), pattern.run, heap);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  int started = 0;
  UTI_VaruRuror_initialize(started);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

  std::vector<AllocatorFamily> heaps;
  for (char const* name : kFamilies) {
    AllocatorFamily heap;
    std::string error;
    if (bench::FindAllocatorFamily(name, &heap, &error)) heaps.push_back(heap);
  }
  // In registration order: alone, then two threads, then alone again in a process that
  // has had threads.
  RegisterSingleThreaded(heaps, "one-thread-process");
  for (AllocatorFamily const& heap : heaps) {
    std::string name = std::string("SmallChurn/") + heap.name + "/two-threads";
    benchmark::RegisterBenchmark(name.c_str(), SmallChurn, heap)->Threads(2)->UseRealTime();
  }
  RegisterSingleThreaded(heaps, "threaded-process");
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  UTI_VaruRuror_finalize(started);
  return 0;
}
