// memtrack: reads the files of a tracked run ("<base>.memT<n>", "<base>.phaseStack") and
// reports per phase, per thread, the peak of live bytes and the blocks left live.
//
//   memtrack [--json | --html FILE] BASE
//   memtrack [--json] BASE --diff OTHER_BASE
//
// Exit status 0 on success, 2 on bad input or a bad command line.
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "analysis.h"
#include "reports.h"
#include "run_reader.h"

namespace {

constexpr int kBadInput = 2;

int Usage() {
  std::fprintf(stderr,
               "usage: memtrack [--json | --html FILE] BASE\n"
               "       memtrack [--json] BASE --diff OTHER_BASE\n"
               "BASE is a run's output base name: BASE.memT0, BASE.memT1, ... and "
               "BASE.phaseStack\n");
  return kBadInput;
}

// Reads and analyses a run; null after printing why not.
std::unique_ptr<memtrack::Analysis> AnalyseRun(std::string const& base) {
  std::map<std::int32_t, std::string> phases;
  memtrack::ReadError error;
  if (!memtrack::ReadPhases(base, &phases, &error)) {
    std::fprintf(stderr, "memtrack: %s\n", error.Message().c_str());
    return nullptr;
  }
  auto analysis = std::make_unique<memtrack::Analysis>(std::move(phases));
  memtrack::Analysis* target = analysis.get();
  if (!memtrack::ReadRecords(
          base, [target](mem::tracker::Record const& r) { target->Add(r); }, &error)) {
    std::fprintf(stderr, "memtrack: %s\n", error.Message().c_str());
    return nullptr;
  }
  analysis->Finish();
  return analysis;
}

}  // namespace

int main(int argc, char** argv) {
  bool json = false;
  char const* html = nullptr;
  char const* base = nullptr;
  char const* other = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--json") == 0) {
      json = true;
    } else if (std::strcmp(argv[i], "--html") == 0 && i + 1 < argc) {
      html = argv[++i];
    } else if (std::strcmp(argv[i], "--diff") == 0 && i + 1 < argc) {
      other = argv[++i];
    } else if (argv[i][0] == '-' || base != nullptr) {
      return Usage();
    } else {
      base = argv[i];
    }
  }
  if (base == nullptr || (json && html != nullptr) || (html != nullptr && other != nullptr)) {
    return Usage();
  }

  std::unique_ptr<memtrack::Analysis> first = AnalyseRun(base);
  if (!first) return kBadInput;
  if (other != nullptr) {
    std::unique_ptr<memtrack::Analysis> second = AnalyseRun(other);
    if (!second) return kBadInput;
    std::vector<memtrack::PhaseDiff> diffs = memtrack::DiffByPhase(*first, *second);
    if (json) {
      memtrack::WriteDiffJson(stdout, base, other, diffs);
    } else {
      memtrack::WriteDiffText(stdout, base, other, diffs);
    }
    return 0;
  }
  if (html != nullptr) {
    std::FILE* out = std::fopen(html, "w");
    if (out == nullptr) {
      std::fprintf(stderr, "memtrack: %s: cannot write the page\n", html);
      return kBadInput;
    }
    memtrack::WriteHtml(out, base, *first);
    if (std::fclose(out) != 0) {
      std::fprintf(stderr, "memtrack: %s: cannot write the page\n", html);
      return kBadInput;
    }
    return 0;
  }
  if (json) {
    memtrack::WriteJson(stdout, base, *first);
  } else {
    memtrack::WriteText(stdout, base, *first);
  }
  return 0;
}
