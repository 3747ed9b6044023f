// What mem_Malloc/mem_Free add to the heap they call. Run it once per heap:
//   bench_front_end                      the library heap (dlmalloc) behind the front end
//   KVN_CRTMALLOC=1 bench_front_end      the platform heap (malloc) behind it
// Each pair of benchmarks allocates and frees the same sizes, once through the front end
// and once by calling that heap's own functions, both as direct calls.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

#include "varururor/varururor.h"

namespace {

struct FrontEnd {
  static void* Malloc(std::size_t size) { return mem_Malloc(static_cast<unsigned>(size)); }
  static void Free(void* p) { mem_Free(p); }
};

struct LibraryHeap {
  static void* Malloc(std::size_t size) { return dlmalloc(size); }
  static void Free(void* p) { dlfree(p); }
};

struct PlatformHeap {
  static void* Malloc(std::size_t size) { return std::malloc(size); }
  static void Free(void* p) { std::free(p); }
};

char const* HeapName() { return mem_UseDL() ? "library heap" : "platform heap"; }

// One allocation and its free, the same size each time: the fastest path of a heap,
// where the front end's share is largest.
template <typename Heap>
void Pair(benchmark::State& state) {
  std::size_t size = static_cast<std::size_t>(state.range(0));
  for (auto _ : state) {
    void* p = Heap::Malloc(size);
    benchmark::DoNotOptimize(p);
    Heap::Free(p);
  }
  state.SetLabel(HeapName());
}

// A window of live blocks of mixed sizes, replaced one at a time.
template <typename Heap>
void Churn(benchmark::State& state) {
  constexpr std::size_t kWindow = 1024;
  std::vector<void*> live(kWindow, nullptr);
  std::size_t next = 0;
  unsigned seed = 12345;
  for (auto _ : state) {
    seed = seed * 1103515245u + 12345u;
    std::size_t size = 8 + (seed >> 16) % 512;
    Heap::Free(live[next]);
    live[next] = Heap::Malloc(size);
    benchmark::DoNotOptimize(live[next]);
    next = (next + 1) % kWindow;
  }
  for (void* p : live) Heap::Free(p);
  state.SetLabel(HeapName());
}

// The heap that serves the process, called directly.
template <template <typename> class Benchmark>
void Direct(benchmark::State& state) {
  if (mem_UseDL()) {
    Benchmark<LibraryHeap>::Run(state);
  } else {
    Benchmark<PlatformHeap>::Run(state);
  }
}

template <typename Heap>
struct PairOf {
  static void Run(benchmark::State& state) { Pair<Heap>(state); }
};
template <typename Heap>
struct ChurnOf {
  static void Run(benchmark::State& state) { Churn<Heap>(state); }
};

void BM_Pair_Direct(benchmark::State& state) { Direct<PairOf>(state); }
void BM_Pair_FrontEnd(benchmark::State& state) { Pair<FrontEnd>(state); }
void BM_Churn_Direct(benchmark::State& state) { Direct<ChurnOf>(state); }
void BM_Churn_FrontEnd(benchmark::State& state) { Churn<FrontEnd>(state); }

BENCHMARK(BM_Pair_Direct)->Arg(16)->Arg(100)->Arg(1000);
BENCHMARK(BM_Pair_FrontEnd)->Arg(16)->Arg(100)->Arg(1000);
BENCHMARK(BM_Churn_Direct);
BENCHMARK(BM_Churn_FrontEnd);

}  // namespace
