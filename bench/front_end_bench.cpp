// What mem_Malloc/mem_Free add to the heap they call. Run it once per heap:
//   bench_front_end                      the library heap (dlmalloc) behind the front end
//   KVN_CRTMALLOC=1 bench_front_end      the platform heap (malloc) behind it
// Each pair of benchmarks allocates and frees the same sizes, once through the front end
// and once by calling that heap's own functions.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

#include "varururor/varururor.h"

namespace {

using Malloc = void* (*)(std::size_t);
using Free = void (*)(void*);

struct Heap {
  Malloc malloc;
  Free free;
};

void* FrontEndMalloc(std::size_t size) { return mem_Malloc(static_cast<unsigned>(size)); }

Heap Direct() { return mem_UseDL() ? Heap{dlmalloc, dlfree} : Heap{std::malloc, std::free}; }
Heap FrontEnd() { return Heap{FrontEndMalloc, mem_Free}; }

// One allocation and its free, the same size each time: the fastest path of a heap,
// where the front end's share is largest.
void PairOfCalls(benchmark::State& state, Heap heap) {
  std::size_t size = static_cast<std::size_t>(state.range(0));
  for (auto _ : state) {
    void* p = heap.malloc(size);
    benchmark::DoNotOptimize(p);
    heap.free(p);
  }
  state.SetLabel(mem_UseDL() ? "library heap" : "platform heap");
}

// A window of live blocks of mixed sizes, replaced one at a time.
void Churn(benchmark::State& state, Heap heap) {
  constexpr std::size_t kWindow = 1024;
  std::vector<void*> live(kWindow, nullptr);
  std::size_t next = 0;
  unsigned seed = 12345;
  for (auto _ : state) {
    seed = seed * 1103515245u + 12345u;
    std::size_t size = 8 + (seed >> 16) % 512;
    heap.free(live[next]);
    live[next] = heap.malloc(size);
    benchmark::DoNotOptimize(live[next]);
    next = (next + 1) % kWindow;
  }
  for (void* p : live) heap.free(p);
  state.SetLabel(mem_UseDL() ? "library heap" : "platform heap");
}

void BM_Pair_FrontEnd(benchmark::State& state) { PairOfCalls(state, FrontEnd()); }
void BM_Pair_Direct(benchmark::State& state) { PairOfCalls(state, Direct()); }
void BM_Churn_FrontEnd(benchmark::State& state) { Churn(state, FrontEnd()); }
void BM_Churn_Direct(benchmark::State& state) { Churn(state, Direct()); }

BENCHMARK(BM_Pair_Direct)->Arg(16)->Arg(100)->Arg(1000);
BENCHMARK(BM_Pair_FrontEnd)->Arg(16)->Arg(100)->Arg(1000);
BENCHMARK(BM_Churn_Direct);
BENCHMARK(BM_Churn_FrontEnd);

}  // namespace

int main(int argc, char** argv) {
  int started = 0;
  UTI_VaruRuror_initialize(started);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  UTI_VaruRuror_finalize(started);
  return 0;
}
