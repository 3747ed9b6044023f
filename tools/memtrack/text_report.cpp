#include <cinttypes>

#include "phase_tree.h"
#include "reports.h"

namespace memtrack {
namespace {

void PrintNode(std::FILE* out, PhaseNode const& node, int depth) {
  PhaseTotals const& t = node.totals;
  std::fprintf(
      out, "  %*s%-*s %10" PRId64 " %14" PRId64 " %14" PRId64 " %14" PRId64 " %12d %14" PRId64 "\n",
      2 * depth, "", 34 - 2 * depth, node.name.c_str(), t.operations, t.allocated, t.freed,
      t.peak_live < 0 ? 0 : t.peak_live, t.peak_transaction, t.own_peak);
  for (auto const& [name, child] : node.children) PrintNode(out, *child, depth + 1);
}

}  // namespace

void WriteText(std::FILE* out, std::string const& base, Analysis const& analysis) {
  std::fprintf(out, "Run %s: %" PRId64 " records, %zu phases, %zu threads\n", base.c_str(),
               analysis.records(), analysis.phases().size(), analysis.by_thread().size());
  std::fprintf(out, "Peak of live bytes: %" PRId64 " at transaction %d\n", analysis.peak_live(),
               analysis.peak_transaction());
  std::fprintf(out, "Live bytes at the end: %" PRId64 " in %zu blocks\n", analysis.live(),
               analysis.leaks().size());
  if (analysis.unmatched_releases() > 0) {
    std::fprintf(out, "Releases of blocks not seen allocated: %" PRId64 "\n",
                 analysis.unmatched_releases());
  }
  if (analysis.transaction_gaps() > 0) {
    std::fprintf(out, "Breaks in the transaction numbers: %" PRId64 "\n",
                 analysis.transaction_gaps());
  }

  std::fprintf(out,
               "\nPhases (own operations, bytes; peak live = the program's highest live bytes "
               "reached by them, own peak = the most bytes of the phase's own blocks live at "
               "once)\n");
  std::fprintf(out, "  %-34s %10s %14s %14s %14s %12s %14s\n", "phase", "operations", "allocated",
               "freed", "peak live", "at trans.", "own peak");
  PrintNode(out, *BuildPhaseTree(analysis), 0);

  std::fprintf(out, "\nThreads\n  %-8s %10s %14s %14s\n", "thread", "operations", "allocated",
               "freed");
  for (auto const& [thread, t] : analysis.by_thread()) {
    std::fprintf(out, "  %-8d %10" PRId64 " %14" PRId64 " %14" PRId64 "\n", thread, t.operations,
                 t.allocated, t.freed);
  }

  std::vector<Block> const& leaks = analysis.leaks();
  std::fprintf(out, "\nBlocks live at the end, largest first (%zu)\n", leaks.size());
  if (!leaks.empty()) {
    std::fprintf(out, "  %12s %12s %10s %8s  %s\n", "size", "transaction", "address", "thread",
                 "phase");
  }
  for (std::size_t i = 0; i < leaks.size() && i < kTextLeaks; ++i) {
    Block const& b = leaks[i];
    std::fprintf(out, "  %12d %12d 0x%08x %8d  %s\n", b.size, b.transaction, b.pointer, b.thread,
                 analysis.PhasePath(b.phase).c_str());
  }
  if (leaks.size() > kTextLeaks) {
    std::int64_t rest = 0;
    for (std::size_t i = kTextLeaks; i < leaks.size(); ++i) rest += leaks[i].size;
    std::fprintf(out, "  ... and %zu smaller blocks of %" PRId64 " bytes\n",
                 leaks.size() - kTextLeaks, rest);
  }
}

void WriteDiffText(std::FILE* out, std::string const& first, std::string const& second,
                   std::vector<PhaseDiff> const& diffs) {
  std::fprintf(out, "Phases of %s (first) against %s (second)\n", first.c_str(), second.c_str());
  std::fprintf(out, "  %-40s %12s %12s %14s %14s %14s %14s\n", "phase", "ops first", "ops second",
               "alloc first", "alloc second", "peak first", "peak second");
  for (PhaseDiff const& d : diffs) {
    std::fprintf(out,
                 "  %-40s %12" PRId64 " %12" PRId64 " %14" PRId64 " %14" PRId64 " %14" PRId64
                 " %14" PRId64 "\n",
                 d.path.c_str(), d.first.operations, d.second.operations, d.first.allocated,
                 d.second.allocated, d.first.peak_live < 0 ? 0 : d.first.peak_live,
                 d.second.peak_live < 0 ? 0 : d.second.peak_live);
  }
}

}  // namespace memtrack
