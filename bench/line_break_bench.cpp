// Wrapping long texts for display, against a plain greedy wrap into a std::string (the
// same lines, without the multi-byte and test-mode handling) and against copying the text.
//   BreakLineString/<KiB>/<width>   atr_String::BreakLineString of a text of words
//   AddLineBreaks/<KiB>/<width>     the same text with a line feed every 8 words
//   StdStringWrap/<KiB>/<width>     the greedy wrap into a std::string reserved once
//   CopyText/<KiB>                  std::string copy of the text: the floor
#include <benchmark/benchmark.h>

#include <cctype>
#include <string>

#include "varururor/varururor.h"

namespace {

constexpr int kWordsPerLine = 8;

std::string Words(long bytes, bool line_feeds) {
  static char const* const kWords[] = {"the", "element", "mesh", "of", "boundary", "conditions",
                                       "a", "solver"};
  std::string text;
  text.reserve(bytes + 16);
  for (long i = 0; static_cast<long>(text.size()) < bytes; ++i) {
    text += kWords[i % 8];
    text += line_feeds && i % kWordsPerLine == kWordsPerLine - 1 ? '\n' : ' ';
  }
  return text;
}

bool Space(char c) { return static_cast<unsigned char>(c) < 0x80 && std::isspace(c); }

// Lines end with the first word that reaches the width; the space after it is dropped.
std::string GreedyWrap(std::string const& text, unsigned width) {
  std::string out;
  out.reserve(text.size());
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = pos;
    while (end < text.size() && end - pos < width) {
      while (end < text.size() && Space(text[end])) ++end;
      while (end < text.size() && !Space(text[end])) ++end;
    }
    if (!out.empty()) out += '\n';
    out.append(text, pos, end - pos);
    pos = end < text.size() ? end + 1 : end;
  }
  return out;
}

void BreakLineString(benchmark::State& state) {
  atr_String text = atr_raw(Words(state.range(0) << 10, false).c_str());
  for (auto _ : state) {
    atr_String wrapped = atr_String::BreakLineString(text, static_cast<unsigned>(state.range(1)));
    benchmark::DoNotOptimize(wrapped.CStr());
  }
  state.SetBytesProcessed(state.iterations() * text.Length());
}

void AddLineBreaks(benchmark::State& state) {
  atr_String text = atr_raw(Words(state.range(0) << 10, true).c_str());
  for (auto _ : state) {
    atr_String wrapped =
        atr_String::AddLineBreaks(text, static_cast<unsigned>(state.range(1)), false);
    benchmark::DoNotOptimize(wrapped.CStr());
  }
  state.SetBytesProcessed(state.iterations() * text.Length());
}

void StdStringWrap(benchmark::State& state) {
  std::string text = Words(state.range(0) << 10, false);
  for (auto _ : state) {
    std::string wrapped = GreedyWrap(text, static_cast<unsigned>(state.range(1)));
    benchmark::DoNotOptimize(wrapped.data());
  }
  state.SetBytesProcessed(state.iterations() * text.size());
}

void CopyText(benchmark::State& state) {
  std::string text = Words(state.range(0) << 10, false);
  for (auto _ : state) {
    std::string copy = text;
    benchmark::DoNotOptimize(copy.data());
  }
  state.SetBytesProcessed(state.iterations() * text.size());
}

}  // namespace

BENCHMARK(BreakLineString)->Args({1024, 10})->Args({3072, 40})->Unit(benchmark::kMillisecond);
BENCHMARK(AddLineBreaks)->Args({3072, 40})->Unit(benchmark::kMillisecond);
BENCHMARK(StdStringWrap)->Args({1024, 10})->Args({3072, 40})->Unit(benchmark::kMillisecond);
BENCHMARK(CopyText)->Arg(3072)->Unit(benchmark::kMillisecond);
