// atr_String against std::string over a realistic spread of lengths: most texts below
// 64 bytes, a tail up to 4 KiB. Run it once per heap:
//   bench_string                    strings from the library heap
//   KVN_CRTMALLOC=1 bench_string    both from the platform heap (the fair footprint)
#include <benchmark/benchmark.h>

#include <climits>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "varururor/varururor.h"

namespace {

constexpr int kTexts = 1024;
constexpr int kKiB = 1024;
constexpr int kFootprintStrings = 10000;
constexpr char kPiece[] = "_appended";  // 9 bytes, a typical short edit
// libstdc++ keeps up to 15 bytes in the string object itself.
constexpr std::size_t kStdInlineCapacity = 15;

// The block the string's sizing rule asks for a text of n bytes: header and text in one
// block of 32-byte steps below 239 bytes, else a 12-byte header and an exact text block.
constexpr int kHeaderBytes = 12;
constexpr int kStep = 32;
constexpr int kClassBias = 17;
constexpr int kLargestInlineClass = 7;

int SizedBlockBytes(int n) {
  int k = (n + kClassBias) / kStep;
  return k <= kLargestInlineClass ? kStep * k + kStep : kHeaderBytes + n + 1;
}

// Bytes the heap that serves the strings reports in use.
double HeapInUse() { return mem_UseDL() ? mem_DLMallinfo().uordblks : mem_Mallinfo().in_use; }

// A string class of the benchmark's own, as client modules derive theirs.
class ClientString : public atr_StringBase {
 public:
  ClientString() = default;
  explicit ClientString(char const* s) : atr_StringBase(s) {}
  ClientString& operator=(char const* s) {
    atr_StringBase::operator=(s);
    return *this;
  }
  ClientString& Append(char const* s, int n) {
    append(s, n, 0, n);
    return *this;
  }
  using atr_StringBase::CStr;
  using atr_StringBase::Length;
};

atr_String MakeAtr(char const* s) {
  atr_String result;
  atr_StringBasePrv(s).AssignTo(result);
  return result;
}

// Lengths: 70% below 32, 20% from 32 to 63, 8% from 64 to 511, 2% from 512 to 4096.
std::vector<std::string> const& Texts() {
  static std::vector<std::string> const texts = [] {
    std::mt19937 random(2024);
    auto between = [&](int lo, int hi) {
      return std::uniform_int_distribution<int>(lo, hi)(random);
    };
    std::vector<std::string> result;
    for (int i = 0; i < kTexts; ++i) {
      int bucket = between(0, 99);
      int length = bucket < 70   ? between(1, 31)
                   : bucket < 90 ? between(32, 63)
                   : bucket < 98 ? between(64, 511)
                                 : between(512, 4 * kKiB);
      std::string text;
      for (int c = 0; c < length; ++c) text += static_cast<char>('a' + between(0, 25));
      result.push_back(text);
    }
    return result;
  }();
  return texts;
}

std::vector<std::string> ShortTexts() {
  std::vector<std::string> result;
  for (auto const& t : Texts()) {
    if (t.size() < 64) result.push_back(t);
  }
  return result;
}

template <typename Container>
std::size_t Next(std::size_t i, Container const& c) {
  return i + 1 == c.size() ? 0 : i + 1;
}

void SetLabel(benchmark::State& state) {
  state.SetLabel(mem_UseDL() ? "library heap" : "platform heap");
}

// Copy (and destroy) one text of the spread.
void BM_Copy_Atr(benchmark::State& state) {
  std::vector<atr_String> pool;
  for (auto const& t : Texts()) pool.push_back(MakeAtr(t.c_str()));
  std::size_t i = 0;
  for (auto _ : state) {
    atr_String copy(pool[i]);
    benchmark::DoNotOptimize(copy);
    i = Next(i, pool);
  }
  SetLabel(state);
}

void BM_Copy_Std(benchmark::State& state) {
  std::vector<std::string> const& pool = Texts();
  std::size_t i = 0;
  for (auto _ : state) {
    std::string copy(pool[i]);
    benchmark::DoNotOptimize(copy);
    i = Next(i, pool);
  }
}

// Copy of texts of one length (bytes in the argument).
void BM_CopyOfLength_Atr(benchmark::State& state) {
  atr_String text = MakeAtr(std::string(state.range(0), 'k').c_str());
  for (auto _ : state) {
    atr_String copy(text);
    benchmark::DoNotOptimize(copy);
  }
  SetLabel(state);
}

void BM_CopyOfLength_Std(benchmark::State& state) {
  std::string text(state.range(0), 'k');
  for (auto _ : state) {
    std::string copy(text);
    benchmark::DoNotOptimize(copy);
  }
}

// Assign a text of the spread to a string that already holds one.
void BM_AssignText_Atr(benchmark::State& state) {
  std::vector<std::string> const& pool = Texts();
  ClientString target("start");
  std::size_t i = 0;
  for (auto _ : state) {
    target = pool[i].c_str();
    benchmark::DoNotOptimize(target);
    i = Next(i, pool);
  }
  SetLabel(state);
}

void BM_AssignText_Std(benchmark::State& state) {
  std::vector<std::string> const& pool = Texts();
  std::string target("start");
  std::size_t i = 0;
  for (auto _ : state) {
    target = pool[i].c_str();
    benchmark::DoNotOptimize(target);
    i = Next(i, pool);
  }
}

// Assign one string to another (sharing for atr_String).
void BM_AssignString_Atr(benchmark::State& state) {
  std::vector<atr_String> pool;
  for (auto const& t : Texts()) pool.push_back(MakeAtr(t.c_str()));
  atr_String target;
  std::size_t i = 0;
  for (auto _ : state) {
    target = pool[i];
    benchmark::DoNotOptimize(target);
    i = Next(i, pool);
  }
  SetLabel(state);
}

void BM_AssignString_Std(benchmark::State& state) {
  std::vector<std::string> const& pool = Texts();
  std::string target;
  std::size_t i = 0;
  for (auto _ : state) {
    target = pool[i];
    benchmark::DoNotOptimize(target);
    i = Next(i, pool);
  }
}

// A short edit of a short text: make the string, append 9 bytes, destroy it.
void BM_AppendShort_Atr(benchmark::State& state) {
  std::vector<std::string> const pool = ShortTexts();
  std::size_t i = 0;
  for (auto _ : state) {
    ClientString s(pool[i].c_str());
    s.Append(kPiece, sizeof kPiece - 1);
    benchmark::DoNotOptimize(s);
    i = Next(i, pool);
  }
  SetLabel(state);
}

void BM_AppendShort_Std(benchmark::State& state) {
  std::vector<std::string> const pool = ShortTexts();
  std::size_t i = 0;
  for (auto _ : state) {
    std::string s(pool[i].c_str());
    s.append(kPiece, sizeof kPiece - 1);
    benchmark::DoNotOptimize(s);
    i = Next(i, pool);
  }
}

// A copy that is then edited (copy-on-write pays here): append to a copy of a short text.
void BM_AppendToCopy_Atr(benchmark::State& state) {
  std::vector<atr_String> pool;
  for (auto const& t : ShortTexts()) pool.push_back(MakeAtr(t.c_str()));
  atr_String piece = MakeAtr(kPiece);
  std::size_t i = 0;
  for (auto _ : state) {
    atr_String s(pool[i]);
    s.Append(piece);
    benchmark::DoNotOptimize(s);
    i = Next(i, pool);
  }
  SetLabel(state);
}

void BM_AppendToCopy_Std(benchmark::State& state) {
  std::vector<std::string> const pool = ShortTexts();
  std::string const piece(kPiece);
  std::size_t i = 0;
  for (auto _ : state) {
    std::string s(pool[i]);
    s.append(piece);
    benchmark::DoNotOptimize(s);
    i = Next(i, pool);
  }
}

// Build a 200-byte text from 20 appends of 10 bytes.
void BM_BuildByAppends_Atr(benchmark::State& state) {
  for (auto _ : state) {
    ClientString s;
    for (int k = 0; k < 20; ++k) s.Append("0123456789", 10);
    benchmark::DoNotOptimize(s);
  }
  SetLabel(state);
}

void BM_BuildByAppends_Std(benchmark::State& state) {
  for (auto _ : state) {
    std::string s;
    for (int k = 0; k < 20; ++k) s.append("0123456789", 10);
    benchmark::DoNotOptimize(s);
  }
}

// The middle half of a text of the spread.
void BM_Substr_Atr(benchmark::State& state) {
  std::vector<atr_String> pool;
  for (auto const& t : Texts()) pool.push_back(MakeAtr(t.c_str()));
  std::size_t i = 0;
  for (auto _ : state) {
    unsigned length = pool[i].Length();
    atr_String part = pool[i].Substr(length / 4, length / 2);
    benchmark::DoNotOptimize(part);
    i = Next(i, pool);
  }
  SetLabel(state);
}

void BM_Substr_Std(benchmark::State& state) {
  std::vector<std::string> const& pool = Texts();
  std::size_t i = 0;
  for (auto _ : state) {
    std::size_t length = pool[i].size();
    std::string part = pool[i].substr(length / 4, length / 2);
    benchmark::DoNotOptimize(part);
    i = Next(i, pool);
  }
}

// Heap bytes per string, strings of the spread, all alive at once: what the heap
// reports in use, and what the strings ask for (the sizing rule; std::string's capacity
// beyond its inline buffer). Only under the platform heap does one heap serve both.
void BM_Footprint_Atr(benchmark::State& state) {
  double measured = 0;
  double requested = 0;
  for (auto _ : state) {
    std::vector<ClientString> strings(kFootprintStrings);
    double before = HeapInUse();
    requested = 0;
    for (int k = 0; k < kFootprintStrings; ++k) {
      std::string const& t = Texts()[k % kTexts];
      strings[k] = t.c_str();
      requested += SizedBlockBytes(static_cast<int>(t.size()));
    }
    measured = HeapInUse() - before;
  }
  state.counters["heap_per_string"] = measured / kFootprintStrings;
  state.counters["asked_per_string"] = requested / kFootprintStrings;
  SetLabel(state);
}

void BM_Footprint_Std(benchmark::State& state) {
  double measured = 0;
  double requested = 0;
  for (auto _ : state) {
    std::vector<std::string> strings(kFootprintStrings);
    double before = HeapInUse();
    requested = 0;
    for (int k = 0; k < kFootprintStrings; ++k) {
      strings[k] = Texts()[k % kTexts];
      std::size_t capacity = strings[k].capacity();
      requested += capacity > kStdInlineCapacity ? capacity + 1 : 0;
    }
    measured = HeapInUse() - before;
  }
  state.counters["heap_per_string"] = measured / kFootprintStrings;
  state.counters["asked_per_string"] = requested / kFootprintStrings;
}

BENCHMARK(BM_Copy_Atr);
BENCHMARK(BM_Copy_Std);
BENCHMARK(BM_CopyOfLength_Atr)->Arg(16)->Arg(64)->Arg(kKiB)->Arg(4 * kKiB);
BENCHMARK(BM_CopyOfLength_Std)->Arg(16)->Arg(64)->Arg(kKiB)->Arg(4 * kKiB);
BENCHMARK(BM_AssignText_Atr);
BENCHMARK(BM_AssignText_Std);
BENCHMARK(BM_AssignString_Atr);
BENCHMARK(BM_AssignString_Std);
BENCHMARK(BM_AppendShort_Atr);
BENCHMARK(BM_AppendShort_Std);
BENCHMARK(BM_AppendToCopy_Atr);
BENCHMARK(BM_AppendToCopy_Std);
BENCHMARK(BM_BuildByAppends_Atr);
BENCHMARK(BM_BuildByAppends_Std);
BENCHMARK(BM_Substr_Atr);
BENCHMARK(BM_Substr_Std);
BENCHMARK(BM_Footprint_Atr)->Iterations(1);
BENCHMARK(BM_Footprint_Std)->Iterations(1);

}  // namespace
