// One self-contained page: no network, the data embedded as JSON, the plot drawn on a
// canvas by the page's own script, the phase tree as static HTML.
#include <cinttypes>

#include "phase_tree.h"
#include "reports.h"

namespace memtrack {
namespace {

std::string Html(std::string const& text) {
  std::string escaped;
  for (char c : text) {
    switch (c) {
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      case '&':
        escaped += "&amp;";
        break;
      case '"':
        escaped += "&quot;";
        break;
      default:
        escaped += c;
    }
  }
  return escaped;
}

// JSON inside a script element: "<" may not appear, or "</script>" would end it.
std::string ScriptSafe(std::string const& json) {
  std::string safe;
  for (char c : json) {
    if (c == '<') {
      safe += "\\u003c";
    } else {
      safe += c;
    }
  }
  return safe;
}

void WriteTreeNode(std::FILE* out, PhaseNode const& node) {
  PhaseTotals const& t = node.totals;
  std::fprintf(out,
               "<li><span class=\"phase\" data-id=\"%d\"><i class=\"swatch\"></i>%s</span> "
               "<span class=\"figures\">%" PRId64 " operations, %" PRId64
               " bytes allocated, "
               "%" PRId64 " freed, peak %" PRId64 " at transaction %d; below: peak %" PRId64
               " at %d</span>",
               node.id, Html(node.name).c_str(), t.operations, t.allocated, t.freed,
               t.peak_live < 0 ? 0 : t.peak_live, t.peak_transaction,
               node.subtree_peak < 0 ? 0 : node.subtree_peak, node.subtree_peak_transaction);
  if (!node.children.empty()) {
    std::fprintf(out, "<ul>");
    for (auto const& [name, child] : node.children) WriteTreeNode(out, *child);
    std::fprintf(out, "</ul>");
  }
  std::fprintf(out, "</li>\n");
}

constexpr char kStyle[] = R"(<style>
body { font: 14px sans-serif; margin: 1.5em; color: #222; }
h1 { word-break: break-all; }
canvas { border: 1px solid #bbb; }
ul { list-style: none; padding-left: 1.4em; }
.figures { color: #555; }
.swatch { display: inline-block; width: 0.8em; height: 0.8em; margin-right: 0.4em; }
table { border-collapse: collapse; } td, th { padding: 2px 8px; text-align: right; }
</style>
)";

// Colours by phase id, the same in the plot and the tree.
constexpr char kScript[] = R"(<script>
(function () {
  var data = JSON.parse(document.getElementById('data').textContent);
  function colour(id) { return 'hsl(' + ((id * 137) % 360) + ',65%,45%)'; }
  var swatches = document.querySelectorAll('.phase');
  for (var i = 0; i < swatches.length; ++i) {
    var id = Number(swatches[i].getAttribute('data-id'));
    swatches[i].firstChild.style.background = id < 0 ? 'transparent' : colour(id);
  }
  var canvas = document.getElementById('plot');
  var g = canvas.getContext('2d');
  var points = data.points, w = canvas.width, h = canvas.height, m = 50;
  var maxT = 1, maxLive = 1;
  points.forEach(function (p) { maxT = Math.max(maxT, p[0]); maxLive = Math.max(maxLive, p[1]); });
  function x(t) { return m + (w - 2 * m) * t / maxT; }
  function y(live) { return h - m - (h - 2 * m) * live / maxLive; }
  g.strokeStyle = '#888'; g.beginPath();
  g.moveTo(m, m); g.lineTo(m, h - m); g.lineTo(w - m, h - m); g.stroke();
  g.fillStyle = '#222'; g.font = '12px sans-serif';
  g.fillText(maxLive + ' bytes', 4, m - 8);
  g.fillText('transaction ' + maxT, w - m - 100, h - m + 20);
  for (var k = 1; k < points.length; ++k) {
    g.strokeStyle = colour(points[k][2]); g.beginPath();
    g.moveTo(x(points[k - 1][0]), y(points[k - 1][1]));
    g.lineTo(x(points[k][0]), y(points[k][1])); g.stroke();
  }
  if (points.length === 1) {
    g.fillStyle = colour(points[0][2]); g.fillRect(x(points[0][0]) - 2, y(points[0][1]) - 2, 4, 4);
  }
  var status = document.getElementById('plot-status');
  status.textContent = 'plotted ' + points.length + ' points';
  status.setAttribute('data-points', points.length);
})();
</script>
)";

}  // namespace

void WriteHtml(std::FILE* out, std::string const& base, Analysis const& analysis) {
  std::fprintf(out, "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">\n");
  std::fprintf(out, "<title>memtrack: %s</title>\n%s</head><body>\n", Html(base).c_str(), kStyle);
  std::fprintf(out, "<h1>Memory tracking: %s</h1>\n", Html(base).c_str());
  std::fprintf(out,
               "<p>%" PRId64 " records. Peak of live bytes %" PRId64 " at transaction %d; %" PRId64
               " bytes in %zu blocks live at the end.</p>\n",
               analysis.records(), analysis.peak_live(), analysis.peak_transaction(),
               analysis.live(), analysis.leaks().size());
  std::fprintf(out, "<h2>Live bytes over transactions, coloured by phase</h2>\n");
  std::fprintf(out, "<canvas id=\"plot\" width=\"1000\" height=\"400\"></canvas>\n");
  std::fprintf(out, "<p id=\"plot-status\">not plotted</p>\n");
  std::fprintf(out, "<h2>Phases</h2>\n<ul id=\"phase-tree\">\n");
  WriteTreeNode(out, *BuildPhaseTree(analysis));
  std::fprintf(out,
               "</ul>\n<h2>Threads</h2>\n<table id=\"threads\"><tr><th>thread</th>"
               "<th>operations</th><th>allocated</th><th>freed</th></tr>\n");
  for (auto const& [thread, t] : analysis.by_thread()) {
    std::fprintf(
        out, "<tr><td>%d</td><td>%" PRId64 "</td><td>%" PRId64 "</td><td>%" PRId64 "</td></tr>\n",
        thread, t.operations, t.allocated, t.freed);
  }
  std::vector<Block> const& leaks = analysis.leaks();
  std::fprintf(out, "</table>\n<h2>Blocks live at the end (%zu), largest first</h2>\n",
               leaks.size());
  std::fprintf(out,
               "<table id=\"leaks\"><tr><th>size</th><th>transaction</th><th>thread</th>"
               "<th>phase</th></tr>\n");
  for (std::size_t i = 0; i < leaks.size() && i < kJsonLeaks; ++i) {
    std::fprintf(out, "<tr><td>%d</td><td>%d</td><td>%d</td><td>%s</td></tr>\n", leaks[i].size,
                 leaks[i].transaction, leaks[i].thread,
                 Html(analysis.PhasePath(leaks[i].phase)).c_str());
  }
  std::fprintf(out, "</table>\n<script type=\"application/json\" id=\"data\">{\"points\":[");
  char const* comma = "";
  for (PlotPoint const& p : analysis.plot()) {
    std::fprintf(out, "%s[%d,%" PRId64 ",%d]", comma, p.transaction, p.live, p.phase);
    comma = ",";
  }
  std::fprintf(out, "],\"phases\":{");
  comma = "";
  for (auto const& [id, path] : analysis.phases()) {
    std::fprintf(out, "%s\"%d\":%s", comma, id, ScriptSafe(JsonString(path)).c_str());
    comma = ",";
  }
  std::fprintf(out, "}}</script>\n%s</body></html>\n", kScript);
}

}  // namespace memtrack
