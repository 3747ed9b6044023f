// Message translation against snprintf of the same text, and the time to load a
// dictionary of 100,000 entries.
//   Translate3/untranslated   the message is not in a dictionary (none is loaded)
//   Translate3/dictionary     found by bisection in a dictionary of 100,000 entries
//   Snprintf3                 snprintf of the same three values into a stack buffer
//   SnprintfString3           the same into a std::string, which a caller keeps as the result
//   DictionaryLoad/100000     atr_tr_enable(true) and atr_trReleaseDB() of a UTF-8 file
#include <benchmark/benchmark.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "varururor/varururor.h"

namespace {

constexpr char kMessage[] = "File %1$s has %2$d lines and %3$.2f MB";
constexpr char kPrintfFormat[] = "File %s has %d lines and %.2f MB";
constexpr char kFileName[] = "results.dat";
constexpr int kLines = 12345;
constexpr double kMegabytes = 3.14159;
constexpr int kEntries = 100000;
constexpr int kPrintfBytes = 256;
constexpr char kDictionaryName[] = "bench_Dict.py";

// A dictionary of kEntries realistic entries (French-like text, some accents and
// placeholders), with kMessage among them, in a scratch directory for the process.
class Dictionary {
 public:
  Dictionary() {
    directory_ = std::filesystem::temp_directory_path() / "vr_text_bench";
    std::filesystem::create_directories(directory_);
    std::ofstream out(directory_ / kDictionaryName, std::ios::binary | std::ios::trunc);
    out << "# -*- coding: utf-8 -*-\ntr = {}\n";
    for (int i = 0; i < kEntries - 1; ++i) {
      out << "tr['Message number " << i << " about %1$s in module " << i % 97
          << "'] = r'Message num\xC3\xA9ro " << i << " concernant %1$s dans le module " << i % 97
          << "'\n";
    }
    out << "tr['" << kMessage << "'] = r'Le fichier %1$s a %2$d lignes et %3$.2f Mo'\n";
  }
  ~Dictionary() {
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
  }

  // Points the dictionary search at the file, in a UTF-8 locale.
  void Use() const {
    setenv("KOV_PATH", directory_.c_str(), 1);
    setenv("KOVRIN_SUPPORTED_LOCALE", "1", 1);
    setenv("KOVRIN_TRANSLATION_DICTIONARY", kDictionaryName, 1);
    setenv("KOVRIN_LANG", "C.UTF-8", 1);
  }

 private:
  std::filesystem::path directory_;
};

void Translate3(benchmark::State& state) {
  atr_trReleaseDB();
  Dictionary const* dictionary = nullptr;
  if (state.range(0) != 0) {
    static Dictionary shared;
    dictionary = &shared;
    dictionary->Use();
    atr_tr_enable(true);
    if (std::string(atr_raw(kMessage).CStr()) == kMessage) {
      state.SkipWithError("the message is not in the dictionary");
      return;
    }
  }
  for (auto _ : state) {
    atr_translate t(kMessage);
    atr_SubstituteFormat(t, 1, kFileName);
    atr_SubstituteFormat(t, 2, kLines);
    atr_SubstituteFormat(t, 3, kMegabytes);
    atr_String text = t.Result();
    benchmark::DoNotOptimize(text.CStr());
  }
  atr_trReleaseDB();
  state.SetLabel(dictionary != nullptr ? "dictionary" : "untranslated");
}
BENCHMARK(Translate3)->Arg(0)->Arg(1);

void Snprintf3(benchmark::State& state) {
  for (auto _ : state) {
    char buffer[kPrintfBytes];
    std::snprintf(buffer, sizeof buffer, kPrintfFormat, kFileName, kLines, kMegabytes);
    benchmark::DoNotOptimize(buffer);
  }
}
BENCHMARK(Snprintf3);

void SnprintfString3(benchmark::State& state) {
  for (auto _ : state) {
    char buffer[kPrintfBytes];
    int n = std::snprintf(buffer, sizeof buffer, kPrintfFormat, kFileName, kLines, kMegabytes);
    std::string text(buffer, n);
    benchmark::DoNotOptimize(text.data());
  }
}
BENCHMARK(SnprintfString3);

void DictionaryLoad(benchmark::State& state) {
  static Dictionary dictionary;
  dictionary.Use();
  atr_trReleaseDB();
  for (auto _ : state) {
    atr_tr_enable(true);
    atr_trReleaseDB();
  }
  state.SetItemsProcessed(state.iterations() * kEntries);
}
BENCHMARK(DictionaryLoad)->Arg(kEntries)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
