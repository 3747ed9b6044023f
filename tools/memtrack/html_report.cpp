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
               "%" PRId64 " freed, peak %" PRId64 " at transaction %d, own peak %" PRId64
               "; below: peak %" PRId64 " at %d</span>",
               node.id, Html(node.name).c_str(), t.operations, t.allocated, t.freed,
               t.peak_live < 0 ? 0 : t.peak_live, t.peak_transaction, t.own_peak,
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
#legend { padding-left: 0; }
table { border-collapse: collapse; } td, th { padding: 2px 8px; text-align: right; }
</style>
)";

// Colours by phase, the same in the plot, the legend and the tree: a palette of colours
// that tell apart at a glance, in the order of the phase ids, then hues a golden angle
// apart. A phase too brief to show as a stretch of line gets a marker at its peak.
constexpr char kScript[] = R"(<script>
(function () {
  var data = JSON.parse(document.getElementById('data').textContent);
  var palette = ['#4e79a7', '#f28e2b', '#e15759', '#76b7b2', '#59a14f', '#edc948', '#b07aa1',
                 '#ff9da7', '#9c755f', '#17becf', '#bcbd22', '#393b79'];
  var ids = Object.keys(data.phases).map(Number);
  data.points.forEach(function (p) { if (ids.indexOf(p[2]) < 0) ids.push(p[2]); });
  ids.sort(function (a, b) { return a - b; });
  function colour(id) {
    var rank = ids.indexOf(id);
    if (rank < 0) return '#000';
    if (rank < palette.length) return palette[rank];
    return 'hsl(' + Math.round((rank * 137.508) % 360) + ',60%,' + (35 + 15 * (rank % 3)) + '%)';
  }
  var swatches = document.querySelectorAll('.phase');
  for (var i = 0; i < swatches.length; ++i) {
    var id = Number(swatches[i].getAttribute('data-id'));
    swatches[i].firstChild.style.background = id < 0 ? 'transparent' : colour(id);
  }

  var units = [['bytes', 1], ['KiB', 1024], ['MiB', 1048576], ['GiB', 1073741824]];
  function niceStep(range, count) {
    var raw = range / count, power = Math.pow(10, Math.floor(Math.log10(raw)));
    var steps = [1, 2, 5, 10];
    for (var k = 0; k < steps.length; ++k) if (steps[k] * power >= raw) return steps[k] * power;
    return 10 * power;
  }
  function label(value, step) {
    var digits = step >= 1 ? 0 : Math.min(6, Math.ceil(-Math.log10(step)));
    return value.toFixed(digits);
  }

  var canvas = document.getElementById('plot');
  var g = canvas.getContext('2d');
  var points = data.points, w = canvas.width, h = canvas.height;
  var left = 90, right = 20, top = 20, bottom = 55;
  var minT = points.length ? points[0][0] : 0, maxT = minT + 1, maxLive = 1;
  points.forEach(function (p) {
    minT = Math.min(minT, p[0]); maxT = Math.max(maxT, p[0]); maxLive = Math.max(maxLive, p[1]);
  });
  var unit = units[0];
  units.forEach(function (u) { if (maxLive >= u[1]) unit = u; });
  function x(t) { return left + (w - left - right) * (t - minT) / (maxT - minT); }
  function y(live) { return h - bottom - (h - top - bottom) * live / maxLive; }

  g.strokeStyle = '#888'; g.fillStyle = '#222'; g.font = '12px sans-serif'; g.lineWidth = 1;
  g.beginPath(); g.moveTo(left, top); g.lineTo(left, h - bottom); g.lineTo(w - right, h - bottom);
  g.stroke();
  var yStep = niceStep(maxLive / unit[1], 5), yTicks = 0;
  g.textAlign = 'right'; g.textBaseline = 'middle';
  for (var v = 0; v * unit[1] <= maxLive * 1.0001; v += yStep) {
    var py = y(v * unit[1]);
    g.beginPath(); g.moveTo(left - 5, py); g.lineTo(left, py); g.stroke();
    g.fillText(label(v, yStep), left - 8, py);
    ++yTicks;
  }
  var xStep = Math.max(1, niceStep(maxT - minT, 8)), xTicks = 0;
  g.textAlign = 'center'; g.textBaseline = 'top';
  for (var t = Math.ceil(minT / xStep) * xStep; t <= maxT; t += xStep) {
    var px = x(t);
    g.beginPath(); g.moveTo(px, h - bottom); g.lineTo(px, h - bottom + 5); g.stroke();
    g.fillText(String(t), px, h - bottom + 8);
    ++xTicks;
  }
  g.fillText('transaction (the number of the allocation operation)', left + (w - left - right) / 2,
             h - 20);
  g.save(); g.translate(16, top + (h - top - bottom) / 2); g.rotate(-Math.PI / 2);
  g.textBaseline = 'middle'; g.fillText('live (' + unit[0] + ')', 0, 0); g.restore();

  g.lineWidth = 1.5;
  for (var k = 1; k < points.length; ++k) {
    g.strokeStyle = colour(points[k][2]); g.beginPath();
    g.moveTo(x(points[k - 1][0]), y(points[k - 1][1]));
    g.lineTo(x(points[k][0]), y(points[k][1])); g.stroke();
  }

  // A phase narrower than a dozen pixels: a diamond at its peak, outlined to stand out.
  var markers = 0, legend = document.getElementById('legend');
  ids.forEach(function (id) {
    var phase = data.phases[id] || {path: 'phase ' + id};
    var brief = phase.first !== undefined && x(phase.last) - x(phase.first) < 12;
    if (brief) {
      var mx = x(phase.peak_t), my = y(phase.peak);
      g.fillStyle = colour(id); g.strokeStyle = '#000'; g.lineWidth = 1;
      g.beginPath(); g.moveTo(mx, my - 7); g.lineTo(mx + 6, my); g.lineTo(mx, my + 7);
      g.lineTo(mx - 6, my); g.closePath(); g.fill(); g.stroke();
      ++markers;
    }
    var item = document.createElement('li');
    var swatch = document.createElement('i');
    swatch.className = 'swatch'; swatch.style.background = colour(id);
    item.appendChild(swatch);
    var text = phase.path + (brief ? ' (brief: marked \u25C6)' : '');
    item.appendChild(document.createTextNode(text));
    item.setAttribute('data-id', id);
    legend.appendChild(item);
  });

  var status = document.getElementById('plot-status');
  status.textContent = 'plotted ' + points.length + ' points';
  status.setAttribute('data-points', points.length);
  status.setAttribute('data-x-ticks', xTicks);
  status.setAttribute('data-y-ticks', yTicks);
  status.setAttribute('data-markers', markers);
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
  std::fprintf(out, "<ul id=\"legend\"></ul>\n<p id=\"plot-status\">not plotted</p>\n");
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
    std::fprintf(out, "%s\"%d\":{\"path\":%s", comma, id, ScriptSafe(JsonString(path)).c_str());
    auto totals = analysis.by_phase().find(id);
    if (totals != analysis.by_phase().end()) {
      PhaseTotals const& t = totals->second;
      std::fprintf(out, ",\"first\":%d,\"last\":%d,\"peak\":%" PRId64 ",\"peak_t\":%d",
                   t.first_transaction, t.last_transaction, t.peak_live < 0 ? 0 : t.peak_live,
                   t.peak_transaction);
    }
    std::fprintf(out, "}");
    comma = ",";
  }
  std::fprintf(out, "}}</script>\n%s</body></html>\n", kScript);
}

}  // namespace memtrack
