#include <cinttypes>

#include "phase_tree.h"
#include "reports.h"

namespace memtrack {
namespace {

void WriteTotals(std::FILE* out, Totals const& t) {
  std::fprintf(out, "\"operations\":%" PRId64 ",\"allocated\":%" PRId64 ",\"freed\":%" PRId64,
               t.operations, t.allocated, t.freed);
}

void WritePhaseTotals(std::FILE* out, PhaseTotals const& t) {
  WriteTotals(out, t);
  std::fprintf(out, ",\"peak_live\":%" PRId64 ",\"peak_transaction\":%d,\"own_peak\":%" PRId64,
               t.peak_live < 0 ? 0 : t.peak_live, t.peak_transaction, t.own_peak);
}

void WriteNode(std::FILE* out, PhaseNode const& node) {
  std::fprintf(out, "{\"name\":%s,\"path\":%s,\"id\":%d,", JsonString(node.name).c_str(),
               JsonString(node.path).c_str(), node.id);
  WritePhaseTotals(out, node.totals);
  std::fprintf(out, ",\"subtree_peak_live\":%" PRId64 ",\"subtree_peak_transaction\":%d",
               node.subtree_peak < 0 ? 0 : node.subtree_peak, node.subtree_peak_transaction);
  std::fprintf(out, ",\"children\":[");
  char const* comma = "";
  for (auto const& [name, child] : node.children) {
    std::fputs(comma, out);
    WriteNode(out, *child);
    comma = ",";
  }
  std::fprintf(out, "]}");
}

}  // namespace

std::string JsonString(std::string const& text) {
  std::string quoted = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7F) {
      // Paths are bytes of any encoding: anything outside plain ASCII is escaped by value.
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      quoted += escaped;
    } else {
      quoted += static_cast<char>(c);
    }
  }
  return quoted + "\"";
}

void WriteJson(std::FILE* out, std::string const& base, Analysis const& analysis) {
  std::fprintf(out,
               "{\"run\":%s,\"records\":%" PRId64 ",\"peak_live\":%" PRId64
               ",\"peak_transaction\":%d,\"live_at_end\":%" PRId64
               ",\"unmatched_releases\":%" PRId64 ",\"transaction_gaps\":%" PRId64 ",\n",
               JsonString(base).c_str(), analysis.records(), analysis.peak_live(),
               analysis.peak_transaction(), analysis.live(), analysis.unmatched_releases(),
               analysis.transaction_gaps());
  std::fprintf(out, "\"phase_tree\":");
  WriteNode(out, *BuildPhaseTree(analysis));
  std::fprintf(out, ",\n\"threads\":[");
  char const* comma = "";
  for (auto const& [thread, totals] : analysis.by_thread()) {
    std::fprintf(out, "%s{\"thread\":%d,", comma, thread);
    WriteTotals(out, totals);
    std::fprintf(out, "}");
    comma = ",";
  }
  std::vector<Block> const& leaks = analysis.leaks();
  std::fprintf(out, "],\n\"leak_count\":%zu,\"leaks\":[", leaks.size());
  comma = "";
  for (std::size_t i = 0; i < leaks.size() && i < kJsonLeaks; ++i) {
    Block const& b = leaks[i];
    std::fprintf(out,
                 "%s\n{\"size\":%d,\"transaction\":%d,\"address\":%u,\"thread\":%d,\"phase\":%s}",
                 comma, b.size, b.transaction, b.pointer, b.thread,
                 JsonString(analysis.PhasePath(b.phase)).c_str());
    comma = ",";
  }
  std::fprintf(out, "]}\n");
}

void WriteDiffJson(std::FILE* out, std::string const& first, std::string const& second,
                   std::vector<PhaseDiff> const& diffs) {
  std::fprintf(out, "{\"first\":%s,\"second\":%s,\"phases\":[", JsonString(first).c_str(),
               JsonString(second).c_str());
  char const* comma = "";
  for (PhaseDiff const& d : diffs) {
    std::fprintf(out, "%s\n{\"path\":%s,\"first\":{", comma, JsonString(d.path).c_str());
    WritePhaseTotals(out, d.first);
    std::fprintf(out, "},\"second\":{");
    WritePhaseTotals(out, d.second);
    std::fprintf(out, "}}");
    comma = ",";
  }
  std::fprintf(out, "]}\n");
}

}  // namespace memtrack
