// Printing through aio_ostream against the stdio call it wraps, fprintf on the same
// file, and against std::ostream. All write to /dev/null, so formatting and the
// library's own work are what is measured.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>

#include "varururor/varururor.h"

namespace {

constexpr char kSink[] = "/dev/null";
constexpr int kWidth = 12;

// A spread of values: ints of every magnitude, doubles with varied digits.
int IntValue(unsigned i) { return static_cast<int>(i * 2654435761u) >> (i % 31); }
double DoubleValue(unsigned i) { return (IntValue(i) % 1000003) / 7.0; }

class Sink {
 public:
  Sink() : file_(std::fopen(kSink, "w")) { stream_.attach(file_, false); }
  ~Sink() { stream_.close(); }
  FILE* file() { return file_; }
  aio_ostream& stream() { return stream_; }

 private:
  FILE* file_;
  aio_ostream stream_;
};

void BM_Int_Aio(benchmark::State& state) {
  Sink sink;
  unsigned i = 0;
  for (auto _ : state) sink.stream().print_int(IntValue(++i));
}

void BM_Int_Fprintf(benchmark::State& state) {
  Sink sink;
  unsigned i = 0;
  for (auto _ : state) std::fprintf(sink.file(), "%d", IntValue(++i));
}

void BM_Int_StdOstream(benchmark::State& state) {
  std::ofstream out(kSink);
  unsigned i = 0;
  for (auto _ : state) out << IntValue(++i);
}

void BM_IntWidth_Aio(benchmark::State& state) {
  Sink sink;
  unsigned i = 0;
  for (auto _ : state) aio_setwidth(sink.stream(), kWidth).print_int(IntValue(++i));
}

void BM_IntWidth_Fprintf(benchmark::State& state) {
  Sink sink;
  unsigned i = 0;
  for (auto _ : state) std::fprintf(sink.file(), "%*d", kWidth, IntValue(++i));
}

void BM_Double_Aio(benchmark::State& state) {
  Sink sink;
  unsigned i = 0;
  for (auto _ : state) sink.stream().print_double(DoubleValue(++i));
}

// The call print_double makes with the default flags and precision.
void BM_Double_Fprintf(benchmark::State& state) {
  Sink sink;
  unsigned i = 0;
  int const precision = 6;
  for (auto _ : state) std::fprintf(sink.file(), "%.*g", precision, DoubleValue(++i));
}

void BM_Double_StdOstream(benchmark::State& state) {
  std::ofstream out(kSink);
  unsigned i = 0;
  for (auto _ : state) out << DoubleValue(++i);
}

void BM_Text_Aio(benchmark::State& state) {
  Sink sink;
  for (auto _ : state) sink.stream().print("a short line of text\n");
}

void BM_Text_Fputs(benchmark::State& state) {
  Sink sink;
  for (auto _ : state) std::fputs("a short line of text\n", sink.file());
}

BENCHMARK(BM_Int_Aio);
BENCHMARK(BM_Int_Fprintf);
BENCHMARK(BM_Int_StdOstream);
BENCHMARK(BM_IntWidth_Aio);
BENCHMARK(BM_IntWidth_Fprintf);
BENCHMARK(BM_Double_Aio);
BENCHMARK(BM_Double_Fprintf);
BENCHMARK(BM_Double_StdOstream);
BENCHMARK(BM_Text_Aio);
BENCHMARK(BM_Text_Fputs);

}  // namespace
