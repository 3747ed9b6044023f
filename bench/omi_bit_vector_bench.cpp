// The blocked bit vector against std::vector<bool> and boost::dynamic_bitset: the set
// operations and the traversal of set bits, on dense sets (every block present, half the
// bits set) and sparse ones (one block in 64 present, dense inside), over ranges of 2^20 to
// 2^27 bits. A plain word-by-word AND of two arrays of the same size is the bandwidth
// reference. bytes_per_second counts the two operands read (2 x range / 8 bytes); the
// vector's set operations also recount the result and free all-zero blocks in that pass.
//   bench_omi_bit_vectors [--benchmark_filter=...]
#include <benchmark/benchmark.h>

#include <boost/dynamic_bitset.hpp>
#include <memory>
#include <random>
#include <vector>

#include "varururor/varururor.h"

namespace {

enum Density : int { kDense, kSparse };
char const* const kDensityNames[] = {"dense", "sparse"};
enum Operation : int { kAnd, kOr, kXor, kMinus };

constexpr unsigned kBitsPerBlock = 8192;
constexpr unsigned kSparseBlockStride = 64;  // one present block in this many
constexpr unsigned kSeed = 777;

// A set's words: in each used block of 8192 bits, every bit set with probability 1/2.
std::vector<unsigned> Words(Density density, unsigned range, unsigned salt) {
  std::mt19937 random(kSeed + salt);
  std::vector<unsigned> words(range / 32, 0);
  unsigned block_step = density == kDense ? 1 : kSparseBlockStride;
  for (unsigned block = 0; block * kBitsPerBlock < range; block += block_step) {
    for (unsigned w = 0; w < kBitsPerBlock / 32; ++w) {
      words[block * (kBitsPerBlock / 32) + w] = static_cast<unsigned>(random());
    }
  }
  return words;
}

// Calls f with the number of every set bit of words.
template <typename F>
void ForEachBit(std::vector<unsigned> const& words, F f) {
  for (std::size_t w = 0; w < words.size(); ++w) {
    for (unsigned word = words[w]; word != 0; word &= word - 1) {
      f(static_cast<unsigned>(w * 32 + __builtin_ctz(word)));
    }
  }
}

unsigned Range(benchmark::State const& state) { return 1u << state.range(1); }
Density DensityOf(benchmark::State const& state) { return static_cast<Density>(state.range(0)); }

// Labels the run and counts the two operands as read, once per iteration.
void Report(benchmark::State& state) {
  state.SetLabel(kDensityNames[DensityOf(state)]);
  state.SetBytesProcessed(static_cast<long long>(state.iterations()) * 2 * (Range(state) / 8));
}

omi_BlkBitVect* NewBlkBitVect(std::vector<unsigned> const& words) {
  omi_BlkBitVect* v = new omi_BlkBitVect;
  ForEachBit(words, [v](unsigned bit) { v->SetBit(bit); });
  return v;
}

std::vector<bool> NewVectorBool(std::vector<unsigned> const& words) {
  std::vector<bool> v(words.size() * 32);
  ForEachBit(words, [&v](unsigned bit) { v[bit] = true; });
  return v;
}

boost::dynamic_bitset<unsigned> NewDynamicBitset(std::vector<unsigned> const& words) {
  return boost::dynamic_bitset<unsigned>(words.begin(), words.end());
}

void Apply(omi_BlkBitVect& a, omi_BlkBitVect const& b, Operation op) {
  switch (op) {
    case kAnd:
      a &= b;
      break;
    case kOr:
      a |= b;
      break;
    case kXor:
      a ^= b;
      break;
    case kMinus:
      a -= b;
      break;
  }
}

void Apply(boost::dynamic_bitset<unsigned>& a, boost::dynamic_bitset<unsigned> const& b,
           Operation op) {
  switch (op) {
    case kAnd:
      a &= b;
      break;
    case kOr:
      a |= b;
      break;
    case kXor:
      a ^= b;
      break;
    case kMinus:
      a -= b;
      break;
  }
}

// std::vector<bool> has no set operations: bit by bit through its proxies.
void Apply(std::vector<bool>& a, std::vector<bool> const& b, Operation op) {
  std::size_t n = a.size();
  for (std::size_t i = 0; i < n; ++i) {
    bool x = a[i];
    bool y = b[i];
    switch (op) {
      case kAnd:
        a[i] = x && y;
        break;
      case kOr:
        a[i] = x || y;
        break;
      case kXor:
        a[i] = x != y;
        break;
      case kMinus:
        a[i] = x && !y;
        break;
    }
  }
}

// Each iteration combines a fresh copy of the first operand, so that an operation never
// meets its own result; the copy is not timed.
template <Operation op>
void BM_SetOp_BlkBitVect(benchmark::State& state) {
  std::unique_ptr<omi_BlkBitVect> a(NewBlkBitVect(Words(DensityOf(state), Range(state), 1)));
  std::unique_ptr<omi_BlkBitVect> b(NewBlkBitVect(Words(DensityOf(state), Range(state), 2)));
  for (auto _ : state) {
    state.PauseTiming();
    omi_BlkBitVect c(*a);
    state.ResumeTiming();
    Apply(c, *b, op);
    benchmark::DoNotOptimize(c.Count());
  }
  Report(state);
}

template <Operation op, bool count>
void BM_SetOp_DynamicBitset(benchmark::State& state) {
  auto a = NewDynamicBitset(Words(DensityOf(state), Range(state), 1));
  auto b = NewDynamicBitset(Words(DensityOf(state), Range(state), 2));
  for (auto _ : state) {
    state.PauseTiming();
    boost::dynamic_bitset<unsigned> c(a);
    state.ResumeTiming();
    Apply(c, b, op);
    if (count) benchmark::DoNotOptimize(c.count());
    benchmark::ClobberMemory();
  }
  Report(state);
}

template <Operation op>
void BM_SetOp_VectorBool(benchmark::State& state) {
  std::vector<bool> a = NewVectorBool(Words(DensityOf(state), Range(state), 1));
  std::vector<bool> b = NewVectorBool(Words(DensityOf(state), Range(state), 2));
  for (auto _ : state) {
    state.PauseTiming();
    std::vector<bool> c(a);
    state.ResumeTiming();
    Apply(c, b, op);
    benchmark::ClobberMemory();
  }
  Report(state);
}

// The bandwidth reference: a &= b over plain arrays of words.
void BM_WordAnd_Reference(benchmark::State& state) {
  std::vector<unsigned> a = Words(DensityOf(state), Range(state), 1);
  std::vector<unsigned> b = Words(DensityOf(state), Range(state), 2);
  for (auto _ : state) {
    state.PauseTiming();
    std::vector<unsigned> c(a);
    state.ResumeTiming();
    for (std::size_t i = 0; i < c.size(); ++i) c[i] &= b[i];
    benchmark::DoNotOptimize(c.data());
    benchmark::ClobberMemory();
  }
  Report(state);
}

// Traversals: every set bit in ascending order, their numbers summed.
void BM_Traverse_BlkBitVect(benchmark::State& state) {
  std::unique_ptr<omi_BlkBitVect> a(NewBlkBitVect(Words(DensityOf(state), Range(state), 1)));
  for (auto _ : state) {
    omi_BlkBitVectTrav trav(a.get());
    unsigned long long sum = 0;
    unsigned bit = 0;
    for (bool found = trav.First(bit); found; found = trav.Next(bit)) sum += bit;
    benchmark::DoNotOptimize(sum);
  }
  Report(state);
  state.counters["per_bit"] = benchmark::Counter(
      a->Count(), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_Traverse_DynamicBitset(benchmark::State& state) {
  auto a = NewDynamicBitset(Words(DensityOf(state), Range(state), 1));
  for (auto _ : state) {
    unsigned long long sum = 0;
    for (auto i = a.find_first(); i != a.npos; i = a.find_next(i)) sum += i;
    benchmark::DoNotOptimize(sum);
  }
  Report(state);
  state.counters["per_bit"] = benchmark::Counter(
      a.count(), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_Traverse_VectorBool(benchmark::State& state) {
  std::vector<bool> a = NewVectorBool(Words(DensityOf(state), Range(state), 1));
  unsigned long long members = 0;
  for (bool bit : a) members += bit;
  for (auto _ : state) {
    unsigned long long sum = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
      if (a[i]) sum += i;
    }
    benchmark::DoNotOptimize(sum);
  }
  Report(state);
  state.counters["per_bit"] = benchmark::Counter(
      members, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void Ranges(benchmark::internal::Benchmark* b) {
  for (int density : {kDense, kSparse}) {
    for (int log2_range : {20, 24, 27}) b->Args({density, log2_range});
  }
  b->Unit(benchmark::kMicrosecond);
}

BENCHMARK(BM_WordAnd_Reference)->Apply(Ranges);
BENCHMARK_TEMPLATE(BM_SetOp_BlkBitVect, kAnd)->Apply(Ranges);
BENCHMARK_TEMPLATE(BM_SetOp_BlkBitVect, kOr)->Apply(Ranges);
BENCHMARK_TEMPLATE(BM_SetOp_BlkBitVect, kXor)->Apply(Ranges);
BENCHMARK_TEMPLATE(BM_SetOp_BlkBitVect, kMinus)->Apply(Ranges);
BENCHMARK_TEMPLATE(BM_SetOp_DynamicBitset, kAnd, false)->Apply(Ranges);
BENCHMARK_TEMPLATE(BM_SetOp_DynamicBitset, kAnd, true)->Apply(Ranges);
BENCHMARK_TEMPLATE(BM_SetOp_DynamicBitset, kOr, false)->Apply(Ranges);
BENCHMARK_TEMPLATE(BM_SetOp_DynamicBitset, kXor, false)->Apply(Ranges);
BENCHMARK_TEMPLATE(BM_SetOp_DynamicBitset, kMinus, false)->Apply(Ranges);
BENCHMARK_TEMPLATE(BM_SetOp_VectorBool, kAnd)->Apply(Ranges);
BENCHMARK(BM_Traverse_BlkBitVect)->Apply(Ranges);
BENCHMARK(BM_Traverse_DynamicBitset)->Apply(Ranges);
BENCHMARK(BM_Traverse_VectorBool)->Apply(Ranges);

}  // namespace
