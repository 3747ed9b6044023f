// The integer multimap against std::unordered_multimap<int, int>: filling a map with N
// values under N / 8 random keys (eight values per key on average), and membership tests of
// (key, value) pairs that are present, in random order. The fill includes the map's
// destruction; items_per_second counts values.
//   bench_omi_multimap [--benchmark_filter=...]
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <unordered_map>
#include <utility>
#include <vector>

#include "varururor/varururor.h"

namespace {

constexpr unsigned kValuesPerKey = 8;
constexpr unsigned kSeed = 99;

std::vector<std::pair<int, int>> Pairs(unsigned n) {
  std::mt19937 random(kSeed);
  std::vector<std::pair<int, int>> pairs(n);
  int keys = static_cast<int>(std::max(1u, n / kValuesPerKey));
  for (unsigned i = 0; i < n; ++i) {
    pairs[i] = {static_cast<int>(random() % keys) - keys / 2, static_cast<int>(i)};
  }
  return pairs;
}

std::vector<std::pair<int, int>> Shuffled(std::vector<std::pair<int, int>> pairs) {
  std::shuffle(pairs.begin(), pairs.end(), std::mt19937(kSeed + 1));
  return pairs;
}

void BM_Insert_IntMultiMap(benchmark::State& state) {
  auto pairs = Pairs(static_cast<unsigned>(state.range(0)));
  for (auto _ : state) {
    omi_IntMultiMap<int> map;
    for (auto const& kv : pairs) map.Insert(kv.first, kv.second);
    benchmark::DoNotOptimize(map.ValueCount());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_Insert_IntMultiMap)->Arg(1 << 14)->Arg(1 << 20)->Unit(benchmark::kMillisecond);

void BM_Insert_StdUnorderedMultimap(benchmark::State& state) {
  auto pairs = Pairs(static_cast<unsigned>(state.range(0)));
  for (auto _ : state) {
    std::unordered_multimap<int, int> map;
    for (auto const& kv : pairs) map.emplace(kv.first, kv.second);
    benchmark::DoNotOptimize(map.size());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_Insert_StdUnorderedMultimap)
    ->Arg(1 << 14)
    ->Arg(1 << 20)
    ->Unit(benchmark::kMillisecond);

void BM_Lookup_IntMultiMap(benchmark::State& state) {
  auto pairs = Pairs(static_cast<unsigned>(state.range(0)));
  omi_IntMultiMap<int> map;
  for (auto const& kv : pairs) map.Insert(kv.first, kv.second);
  auto queries = Shuffled(pairs);
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(map.IsMember(queries[i].first, queries[i].second));
    i = i + 1 == queries.size() ? 0 : i + 1;
  }
}
BENCHMARK(BM_Lookup_IntMultiMap)->Arg(1 << 14)->Arg(1 << 20);

void BM_Lookup_StdUnorderedMultimap(benchmark::State& state) {
  auto pairs = Pairs(static_cast<unsigned>(state.range(0)));
  std::unordered_multimap<int, int> map;
  for (auto const& kv : pairs) map.emplace(kv.first, kv.second);
  auto queries = Shuffled(pairs);
  size_t i = 0;
  for (auto _ : state) {
    auto range = map.equal_range(queries[i].first);
    bool member = std::any_of(range.first, range.second,
                              [&](auto const& kv) { return kv.second == queries[i].second; });
    benchmark::DoNotOptimize(member);
    i = i + 1 == queries.size() ? 0 : i + 1;
  }
}
BENCHMARK(BM_Lookup_StdUnorderedMultimap)->Arg(1 << 14)->Arg(1 << 20);

}  // namespace

BENCHMARK_MAIN();
