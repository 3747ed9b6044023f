// Small-object churn, 4 to 128 bytes: the thread-block pool behind the front end against
// the library heap alone and against the process's malloc. Run it once plainly and once
// per peer with the peer preloaded, so that "system" is that peer's malloc:
//   bench_small_objects
//   LD_PRELOAD=/usr/lib/i386-linux-gnu/libjemalloc.so.2 bench_small_objects --benchmark_filter=System
// (likewise libmimalloc.so.2 and libtcmalloc_minimal.so.4).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

#include "varururor/varururor.h"

namespace {

constexpr unsigned kSmallest = 4;
constexpr unsigned kLargest = 128;
constexpr std::size_t kWindow = 4096;

struct Routed {
  static void Enter() { mem_TBAllocator(2); }
  static void Leave() { mem_TBAllocator(0); }
  static void* Malloc(unsigned size) { return mem_Malloc(size); }
  static void Free(void* p) { mem_Free(p); }
};

struct Unrouted {
  static void Enter() { mem_TBAllocator(0); }
  static void Leave() {}
  static void* Malloc(unsigned size) { return mem_Malloc(size); }
  static void Free(void* p) { mem_Free(p); }
};

struct System {
  static void Enter() {}
  static void Leave() {}
  static void* Malloc(unsigned size) { return std::malloc(size); }
  static void Free(void* p) { std::free(p); }
};

// A window of live blocks; each iteration frees one at random and takes a new one.
template <typename Family>
void Churn(benchmark::State& state) {
  Family::Enter();
  std::vector<void*> live(kWindow);
  unsigned seed = 2026;
  auto next_random = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return seed >> 8;
  };
  for (void*& p : live) p = Family::Malloc(kSmallest + next_random() % (kLargest - kSmallest + 1));
  for (auto _ : state) {
    unsigned r = next_random();
    void*& slot = live[r % kWindow];
    Family::Free(slot);
    slot = Family::Malloc(kSmallest + (r >> 12) % (kLargest - kSmallest + 1));
    benchmark::DoNotOptimize(slot);
  }
  for (void* p : live) Family::Free(p);
  Family::Leave();
  char const* preload = std::getenv("LD_PRELOAD");
  state.SetLabel(preload != nullptr ? preload : "glibc");
}

BENCHMARK_TEMPLATE(Churn, Routed);
BENCHMARK_TEMPLATE(Churn, Unrouted);
BENCHMARK_TEMPLATE(Churn, System);

}  // namespace
