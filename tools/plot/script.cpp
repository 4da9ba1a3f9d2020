#include "script.h"

#include <strings.h>

#include <cmath>
#include <cstdio>
#include <set>

namespace ecodyn::plot {
namespace {

// The positions in the table head of the compartments drawn: each
// compartment once, in the order of the head.
std::vector<std::size_t> drawn(const Cycle& c) {
  std::vector<std::size_t> k;
  std::set<int> seen;
  for (std::size_t i = 0; i < c.columns.size(); ++i)
    if (seen.insert(c.columns[i].number).second) k.push_back(i);
  return k;
}

// The value drawn for column k of a row: the biomass, or its ratio to the
// biomass of the first row (undefined when that is zero).
double drawn_value(const Cycle& c, const tools::TableRow& row, std::size_t k, bool relative) {
  const double v = tools::value_of(row.values[k]);
  if (!relative) return v;
  const double start = tools::value_of(c.rows.front().values[k]);
  return start != 0.0 ? v / start : std::nan("");
}

std::string number(double v) {
  if (!std::isfinite(v)) return "NaN";
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.6g", v);
  return buf;
}

}  // namespace

std::string quoted(const std::string& s) {
  std::string q = "'";
  for (char c : s) {
    if (c == '\'') q += '\'';
    q += c;
  }
  return q + "'";
}

bool format_of(const std::string& output, Format& format) {
  const std::size_t dot = output.rfind('.');
  if (dot == std::string::npos || output.find('/', dot) != std::string::npos) return false;
  const std::string ext = output.substr(dot + 1);
  static const struct {
    const char* ext;
    Format format;
  } known[] = {{"svg", Format::svg}, {"png", Format::png}, {"pdf", Format::pdf}};
  for (const auto& k : known) {
    if (strcasecmp(ext.c_str(), k.ext) == 0) {
      format = k.format;
      return true;
    }
  }
  return false;
}

namespace {

// The smallest and largest positive value drawn, and the smallest of all.
struct Extremes {
  double low = INFINITY, high = 0, least = INFINITY;
};

Extremes extremes(const std::vector<Cycle>& cycles, bool relative) {
  Extremes e;
  for (const Cycle& c : cycles) {
    for (const tools::TableRow& row : c.rows) {
      for (std::size_t k : drawn(c)) {
        const double v = drawn_value(c, row, k, relative);
        if (!std::isfinite(v)) continue;
        e.least = std::min(e.least, v);
        if (v > 0) {
          e.low = std::min(e.low, v);
          e.high = std::max(e.high, v);
        }
      }
    }
  }
  return e;
}

}  // namespace

bool spans_decades(const std::vector<Cycle>& cycles, bool relative) {
  const Extremes e = extremes(cycles, relative);
  return e.high > 0 && e.high / e.low > 1000.0;
}

std::string script(const std::vector<Cycle>& cycles, const Picture& p) {
  const int panels = static_cast<int>(cycles.size());
  const int width = p.width > 0 ? p.width : default_width;
  const int height = p.height > 0 ? p.height : panel_height * panels;
  const bool log = p.scale == Scale::logarithmic ||
                   (p.scale == Scale::automatic && spans_decades(cycles, p.relative));
  std::string s;
  s += "# Biomass against time from " + p.source + ", drawn by ecodyn-plot.\n";
  s += "# Run it again with: gnuplot SCRIPT (or set outfile = 'name' first).\n";
  s += "if (!exists(\"outfile\")) outfile = " + quoted(p.output) + "\n";
  char size[64];
  switch (p.format) {
    case Format::svg:
      std::snprintf(size, sizeof size, "%d,%d", width, height);
      s += std::string("set terminal svg size ") + size + " font 'Sans,12' background '#ffffff'\n";
      break;
    case Format::png:
      std::snprintf(size, sizeof size, "%d,%d", width, height);
      s += std::string("set terminal pngcairo size ") + size + " font 'Sans,10'\n";
      break;
    case Format::pdf:
      std::snprintf(size, sizeof size, "%.2fin,%.2fin", width / 100.0, height / 100.0);
      s += std::string("set terminal pdfcairo size ") + size + " font 'Sans,8'\n";
      break;
  }
  s += "set termoption noenhanced\n";
  s += "set output outfile\n\n";

  for (const Cycle& c : cycles) {
    s += "$cycle" + std::to_string(c.number) + " << EOD\n# time";
    for (std::size_t k : drawn(c))
      s += " | " + std::to_string(c.columns[k].number) + " " + c.columns[k].name;
    s += "\n";
    for (const tools::TableRow& row : c.rows) {
      if (row.time.empty()) continue;  // a time too large for its field
      s += row.time;
      for (std::size_t k : drawn(c))
        s.append(" ").append(number(drawn_value(c, row, k, p.relative)));
      s += "\n";
    }
    s += "EOD\n\n";
  }

  s += "set xlabel 'time'\n";
  s += p.relative ? "set ylabel 'biomass / biomass at the start'\n" : "set ylabel 'biomass'\n";
  if (log) s += "set logscale y\nset format y '%g'\n";
  // A linear axis of biomasses starts at zero. Room above and below, so
  // that a line at the top or bottom of the range (a biomass at rest, a
  // compartment gone extinct) stays visible; the time axis spans the run.
  if (!log && extremes(cycles, p.relative).least >= 0) {
    s += "set yrange [0:*]\nset offsets graph 0, graph 0, graph 0.05, graph 0\n";
  } else {
    s += "set offsets graph 0, graph 0, graph 0.05, graph 0.05\n";
  }
  s += "set autoscale xfix\n";
  s += "set grid\nset key outside right top\nset style data lines\n";
  if (panels > 1) s += "set multiplot layout " + std::to_string(panels) + ",1\n";
  for (const Cycle& c : cycles) {
    const std::string title =
        panels > 1 ? "cycle " + std::to_string(c.number) + ": " + c.title : c.title;
    s += "set title " + quoted(title) + "\n";
    s += "plot";
    const std::string data = "$cycle" + std::to_string(c.number);
    int col = 2;
    const std::vector<std::size_t> ks = drawn(c);
    for (std::size_t i = 0; i < ks.size(); ++i, ++col) {
      const tools::Column& comp = c.columns[ks[i]];
      const std::string name =
          comp.name.empty() ? "compartment " + std::to_string(comp.number) : comp.name;
      s += (i == 0 ? " " : ", \\\n     ") + data + " using 1:" + std::to_string(col) +
           " linewidth 2 title " + quoted(name);
    }
    s += "\n";
  }
  if (panels > 1) s += "unset multiplot\n";
  s += "set output\n";
  return s;
}

}  // namespace ecodyn::plot
