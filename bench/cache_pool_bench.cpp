// Cache-pool churn against the allocation front end (small-block routing on) and against
// the process's malloc: a window of live objects; each iteration frees one at random,
// allocates a new one and writes to it (through Ptr for the pool). Arguments: the
// smallest and largest request in bytes.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

#include "varururor/varururor.h"

namespace {

constexpr std::size_t kWindow = 4096;

struct Random {
  unsigned seed = 2026;
  unsigned Next() {
    seed = seed * 1103515245u + 12345u;
    return seed >> 8;
  }
};

void SetLabel(benchmark::State& state) {
  char const* preload = std::getenv("LD_PRELOAD");
  state.SetLabel(preload != nullptr ? preload : "glibc");
}

void CachePool(benchmark::State& state) {
  unsigned smallest = static_cast<unsigned>(state.range(0));
  unsigned span = static_cast<unsigned>(state.range(1)) - smallest + 1;
  mem_Allocator allocator(nullptr);
  mem_CachePool* pool = mem_CachePool::CreatePool(&allocator);
  std::vector<mem_CachePoolID> live(kWindow);
  Random random;
  for (mem_CachePoolID& h : live) h = pool->Alloc(smallest + random.Next() % span);
  for (auto _ : state) {
    unsigned r = random.Next();
    mem_CachePoolID& slot = live[r % kWindow];
    pool->Free(slot);
    slot = pool->Alloc(smallest + (r >> 12) % span);
    *static_cast<char*>(pool->Ptr(slot)) = 1;
    benchmark::ClobberMemory();
  }
  pool->Delete();
}

template <void* (*Malloc)(unsigned), void (*Free)(void*)>
void Heap(benchmark::State& state) {
  unsigned smallest = static_cast<unsigned>(state.range(0));
  unsigned span = static_cast<unsigned>(state.range(1)) - smallest + 1;
  std::vector<void*> live(kWindow);
  Random random;
  for (void*& p : live) p = Malloc(smallest + random.Next() % span);
  for (auto _ : state) {
    unsigned r = random.Next();
    void*& slot = live[r % kWindow];
    Free(slot);
    slot = Malloc(smallest + (r >> 12) % span);
    *static_cast<char*>(slot) = 1;
    benchmark::ClobberMemory();
  }
  for (void* p : live) Free(p);
}

void* SystemMalloc(unsigned size) { return std::malloc(size); }
void SystemFree(void* p) { std::free(p); }

void FrontEndRouted(benchmark::State& state) {
  mem_TBAllocator(2);
  Heap<mem_Malloc, mem_Free>(state);
  mem_TBAllocator(0);
}

void System(benchmark::State& state) {
  Heap<SystemMalloc, SystemFree>(state);
  SetLabel(state);
}

void Sizes(benchmark::internal::Benchmark* b) {
  b->Args({16, 128})->Args({129, 1024})->Args({1025, 4096})->Args({16, 4096});
}

BENCHMARK(CachePool)->Apply(Sizes);
BENCHMARK(FrontEndRouted)->Apply(Sizes);
BENCHMARK(System)->Apply(Sizes);

}  // namespace
