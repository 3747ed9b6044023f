// A memory pool's Alloc/Free of large blocks, with the cache manager's free lists on,
// against mem_Malloc/mem_Free of the same sizes. Run with the free lists on:
//   KOV_CACHEMANAGER_USEFREELIST=1 bench_memory_pool
// (KVN_CRTMALLOC=1 as well puts the platform heap behind mem_Malloc).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

#include "varururor/varururor.h"

namespace {

constexpr unsigned kManagerLimit = 256u << 20;
constexpr unsigned kPoolHigh = 1u << 30;  // no tolerance warnings while measuring
constexpr int kPoolId = 1;
constexpr int kWindow = 8;

mem_MemoryPool* Pool() {
  static mem_MemoryPool* pool = [] {
    mem_MemoryContainer& container = mem_MemoryContainer::Instance();
    container.CacheManager().SetMemoryLimit(kManagerLimit);
    mem_MemoryPool* created = container.CreatePool(kPoolId);
    created->SetMemoryLimit(0, kPoolHigh, 0.0);
    return created;
  }();
  return pool;
}

struct PoolBlocks {
  static void* Alloc(unsigned size) { return Pool()->Alloc(size); }
  static void Free(void* p) { Pool()->Free(p); }
};

struct FrontEnd {
  static void* Alloc(unsigned size) { return mem_Malloc(size); }
  static void Free(void* p) { mem_Free(p); }
};

bool FreeListsOn(benchmark::State& state) {
  if (std::getenv("KOV_CACHEMANAGER_USEFREELIST") != nullptr) return true;
  state.SkipWithError("set KOV_CACHEMANAGER_USEFREELIST");
  return false;
}

// One block allocated, its first byte written, and freed: the same size each time.
template <typename Heap>
void Pair(benchmark::State& state) {
  if (!FreeListsOn(state)) return;
  unsigned const size = static_cast<unsigned>(state.range(0));
  for (auto _ : state) {
    auto* p = static_cast<char*>(Heap::Alloc(size));
    *p = 1;
    benchmark::DoNotOptimize(p);
    Heap::Free(p);
  }
}

// Eight live blocks from 64 KiB to 4 MiB, replaced one at a time.
template <typename Heap>
void Churn(benchmark::State& state) {
  if (!FreeListsOn(state)) return;
  std::vector<void*> live(kWindow, nullptr);
  unsigned seed = 12345;
  int next = 0;
  for (auto _ : state) {
    seed = seed * 1103515245u + 12345u;
    unsigned const size = (64u << 10) << ((seed >> 16) % 7);  // 64 KiB .. 4 MiB
    Heap::Free(live[next]);
    auto* p = static_cast<char*>(Heap::Alloc(size));
    *p = 1;
    live[next] = p;
    next = (next + 1) % kWindow;
  }
  for (void* p : live) Heap::Free(p);
}

BENCHMARK_TEMPLATE(Pair, PoolBlocks)->RangeMultiplier(4)->Range(64 << 10, 4 << 20);
BENCHMARK_TEMPLATE(Pair, FrontEnd)->RangeMultiplier(4)->Range(64 << 10, 4 << 20);
BENCHMARK_TEMPLATE(Churn, PoolBlocks);
BENCHMARK_TEMPLATE(Churn, FrontEnd);

}  // namespace
