// The integer-keyed table against std::map, std::unordered_map and absl::flat_hash_map:
// insertion, lookup, removal and the ordered visit, per key, for three kinds of keys:
//   dense      0 .. N-1;
//   clustered  clusters of 4096 keys, successive keys 1 to 3 apart (half the numbers of a
//              cluster's stretch are keys), the clusters spread evenly over the 32-bit range;
//   random     distinct random 32-bit keys (N up to 100000: each such key costs the table a
//              value block and a bit block of its own, so 10^6 of them would not fit in the
//              32-bit address space).
// Keys are inserted, looked up and removed in a shuffled order. The insertion benchmarks
// also report the heap bytes the filled container holds per key (bytes_per_key): for the
// standard containers glibc's in-use bytes (mallinfo2), for the table the in-use bytes of
// the heap behind the library's front end; both include the heap's chunk overhead.
//   bench_omi_tables [--benchmark_filter=...]
#include <absl/container/flat_hash_map.h>
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <algorithm>
#include <map>
#include <memory>
#include <random>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "varururor/varururor.h"

namespace {

enum KeyKind : int { kDense, kClustered, kRandom };
char const* const kKindNames[] = {"dense", "clustered", "random"};

constexpr unsigned kClusterKeys = 4096;
constexpr unsigned kClusterSpan = 4 * kClusterKeys;  // room for a cluster's keys, gaps included
constexpr unsigned kSeed = 20240601;

std::vector<unsigned> MakeKeys(KeyKind kind, unsigned n) {
  std::mt19937 random(kSeed + static_cast<unsigned>(kind));
  std::vector<unsigned> keys;
  keys.reserve(n);
  if (kind == kDense) {
    for (unsigned k = 0; k < n; ++k) keys.push_back(k);
  } else if (kind == kClustered) {
    unsigned clusters = (n + kClusterKeys - 1) / kClusterKeys;
    unsigned long long stride = (1ull << 32) / clusters;
    for (unsigned c = 0; c < clusters && keys.size() < n; ++c) {
      unsigned long long room = stride > kClusterSpan ? stride - kClusterSpan : 1;
      unsigned key = static_cast<unsigned>(c * stride + random() % room);
      for (unsigned i = 0; i < kClusterKeys && keys.size() < n; ++i) {
        keys.push_back(key);
        key += 1 + random() % 3;
      }
    }
  } else {
    std::unordered_set<unsigned> seen;
    while (keys.size() < n) {
      unsigned key = static_cast<unsigned>(random());
      if (seen.insert(key).second) keys.push_back(key);
    }
  }
  std::shuffle(keys.begin(), keys.end(), random);
  return keys;
}

// The heap bytes in use: glibc's for the standard containers, the library's for the table.
unsigned long long GlibcInUse() {
  struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
}
unsigned long long LibraryInUse() {
  if (mem_UseDL() == 0) return GlibcInUse();
  return mem_DLMallinfo().uordblks;
}

struct OmiTable {
  static constexpr bool kLibraryHeap = true;
  omi_UintTable<int> table;
  bool Insert(unsigned key, int value) { return table.Insert(key, value); }
  int const* Find(unsigned key) const { return table.Find(key); }
  bool Remove(unsigned key) { return table.Remove(key); }
  template <typename F>
  void Visit(F f) const {
    omi_UintTableIterator<int> it(table);
    for (it.First(); !it.IsDone(); it.Next()) f(it.CurrentKey(), it.CurrentValue());
  }
};

template <typename Map>
struct StandardMap {
  static constexpr bool kLibraryHeap = false;
  Map map;
  bool Insert(unsigned key, int value) { return map.insert_or_assign(key, value).second; }
  int const* Find(unsigned key) const {
    auto it = map.find(key);
    return it == map.end() ? nullptr : &it->second;
  }
  bool Remove(unsigned key) { return map.erase(key) != 0; }
  template <typename F>
  void Visit(F f) const {
    for (auto const& [key, value] : map) f(key, value);
  }
};

using StdMap = StandardMap<std::map<unsigned, int>>;
using StdUnorderedMap = StandardMap<std::unordered_map<unsigned, int>>;
using AbslFlatHashMap = StandardMap<absl::flat_hash_map<unsigned, int>>;

template <typename C>
std::unique_ptr<C> Fill(std::vector<unsigned> const& keys) {
  std::unique_ptr<C> c(new C);
  for (unsigned key : keys) c->Insert(key, static_cast<int>(key));
  return c;
}

void PerKey(benchmark::State& state, unsigned n, KeyKind kind) {
  state.counters["per_key"] = benchmark::Counter(
      n, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  state.SetLabel(kKindNames[kind]);
}

template <typename C>
void BM_Insert(benchmark::State& state) {
  KeyKind kind = static_cast<KeyKind>(state.range(0));
  unsigned n = static_cast<unsigned>(state.range(1));
  std::vector<unsigned> keys = MakeKeys(kind, n);
  double bytes_per_key = 0;
  for (auto _ : state) {
    unsigned long long before = C::kLibraryHeap ? LibraryInUse() : GlibcInUse();
    std::unique_ptr<C> c = Fill<C>(keys);
    benchmark::DoNotOptimize(c.get());
    state.PauseTiming();
    unsigned long long after = C::kLibraryHeap ? LibraryInUse() : GlibcInUse();
    bytes_per_key = static_cast<double>(after - before) / n;
    c.reset();
    state.ResumeTiming();
  }
  state.counters["bytes_per_key"] = bytes_per_key;
  PerKey(state, n, kind);
}

template <typename C>
void BM_Lookup(benchmark::State& state) {
  KeyKind kind = static_cast<KeyKind>(state.range(0));
  unsigned n = static_cast<unsigned>(state.range(1));
  std::vector<unsigned> keys = MakeKeys(kind, n);
  std::unique_ptr<C> c = Fill<C>(keys);
  std::shuffle(keys.begin(), keys.end(), std::mt19937(kSeed));
  for (auto _ : state) {
    long long sum = 0;
    for (unsigned key : keys) sum += *c->Find(key);
    benchmark::DoNotOptimize(sum);
  }
  PerKey(state, n, kind);
}

template <typename C>
void BM_Remove(benchmark::State& state) {
  KeyKind kind = static_cast<KeyKind>(state.range(0));
  unsigned n = static_cast<unsigned>(state.range(1));
  std::vector<unsigned> keys = MakeKeys(kind, n);
  std::vector<unsigned> order = keys;
  std::shuffle(order.begin(), order.end(), std::mt19937(kSeed));
  for (auto _ : state) {
    state.PauseTiming();
    std::unique_ptr<C> c = Fill<C>(keys);
    state.ResumeTiming();
    for (unsigned key : order) c->Remove(key);
    benchmark::DoNotOptimize(c.get());
    state.PauseTiming();
    c.reset();
    state.ResumeTiming();
  }
  PerKey(state, n, kind);
}

template <typename C>
void BM_OrderedVisit(benchmark::State& state) {
  KeyKind kind = static_cast<KeyKind>(state.range(0));
  unsigned n = static_cast<unsigned>(state.range(1));
  std::unique_ptr<C> c = Fill<C>(MakeKeys(kind, n));
  for (auto _ : state) {
    unsigned long long sum = 0;
    c->Visit([&sum](unsigned key, int value) { sum += key ^ static_cast<unsigned>(value); });
    benchmark::DoNotOptimize(sum);
  }
  PerKey(state, n, kind);
}

void Sizes(benchmark::internal::Benchmark* b) {
  for (int kind : {kDense, kClustered}) {
    for (int n : {1000, 100000, 1000000, 10000000}) b->Args({kind, n});
  }
  for (int n : {1000, 100000}) b->Args({kRandom, n});
  b->Unit(benchmark::kMillisecond);
}

BENCHMARK_TEMPLATE(BM_Insert, OmiTable)->Apply(Sizes);
BENCHMARK_TEMPLATE(BM_Insert, StdMap)->Apply(Sizes);
BENCHMARK_TEMPLATE(BM_Insert, StdUnorderedMap)->Apply(Sizes);
BENCHMARK_TEMPLATE(BM_Insert, AbslFlatHashMap)->Apply(Sizes);
BENCHMARK_TEMPLATE(BM_Lookup, OmiTable)->Apply(Sizes);
BENCHMARK_TEMPLATE(BM_Lookup, StdMap)->Apply(Sizes);
BENCHMARK_TEMPLATE(BM_Lookup, StdUnorderedMap)->Apply(Sizes);
BENCHMARK_TEMPLATE(BM_Lookup, AbslFlatHashMap)->Apply(Sizes);
BENCHMARK_TEMPLATE(BM_Remove, OmiTable)->Apply(Sizes);
BENCHMARK_TEMPLATE(BM_Remove, StdMap)->Apply(Sizes);
BENCHMARK_TEMPLATE(BM_Remove, StdUnorderedMap)->Apply(Sizes);
BENCHMARK_TEMPLATE(BM_Remove, AbslFlatHashMap)->Apply(Sizes);
BENCHMARK_TEMPLATE(BM_OrderedVisit, OmiTable)->Apply(Sizes);
BENCHMARK_TEMPLATE(BM_OrderedVisit, StdMap)->Apply(Sizes);

}  // namespace

int main(int argc, char** argv) {
  int started = 0;
  UTI_VaruRuror_initialize(started);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::AddCustomContext("table heap", mem_UseDL() != 0 ? "library heap" : "platform heap");
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  UTI_VaruRuror_finalize(started);
  return 0;
}
