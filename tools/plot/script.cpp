#include "script.h"

#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <set>

namespace ecodyn::plot {
namespace {

// Appends the UTF-8 encoding of a code point below U+10000.
void append_utf8(std::string& s, unsigned c) {
  if (c < 0x80) {
    s += static_cast<char>(c);
  } else if (c < 0x800) {
    s += static_cast<char>(0xC0 | c >> 6);
    s += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    s += static_cast<char>(0xE0 | c >> 12);
    s += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    s += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// Returns the length of the valid UTF-8 sequence at the start of s (shortest
// form, no surrogates, at most U+10FFFF) and its code point; 0 if none.
std::size_t utf8_sequence(std::string_view s, unsigned& code) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned b = byte(0);
  std::size_t n = b < 0x80 ? 1 : b >= 0xC2 && b <= 0xDF ? 2 : b >= 0xE0 && b <= 0xEF ? 3
                                                          : b >= 0xF0 && b <= 0xF4 ? 4
                                                                                   : 0;
  if (n == 0 || s.size() < n) return 0;
  code = n == 1 ? b : b & (0x7F >> n);
  for (std::size_t i = 1; i < n; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    code = code << 6 | (byte(i) & 0x3F);
  }
  constexpr unsigned least[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < least[n] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return n;
}

}  // namespace

std::string number(double v) {
  if (!std::isfinite(v)) return "NaN";
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.6g", v);
  return buf;
}

std::string quoted(std::string_view text) {
  std::string q = "\"";
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if ((b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9') ||
        std::string_view(" .,:;_+-()/").find(c) != std::string_view::npos) {
      q += c;
    } else {
      char escape[8];
      std::snprintf(escape, sizeof escape, b < 0100 ? "\\%04o" : "\\%03o", b);
      q += escape;
    }
  }
  return q + "\"";
}

std::string shown(std::string_view text) {
  std::string s;
  while (!text.empty()) {
    unsigned code = 0;
    std::size_t n = utf8_sequence(text, code);
    if (n == 0) {
      n = 1;
      code = static_cast<unsigned char>(text[0]);  // Latin-1
    }
    const bool control = code < 0x20 || (code >= 0x7F && code < 0xA0);
    if (control)
      append_utf8(s, 0xFFFD);
    else if (n > 1 || code < 0x80)
      s.append(text.substr(0, n));
    else
      append_utf8(s, code);
    text.remove_prefix(n);
  }
  return s;
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

Script::Script(const Picture& picture, int cycle, tools::Spool& out)
    : picture_(picture), cycle_(cycle), out_(out) {
  out_.write("# Biomass against time from " + shown(picture.source) + ", drawn by ecodyn-plot.\n");
  out_.write("# Run it again with: gnuplot SCRIPT (or set outfile = 'name' first).\n\n");
}

void Script::input(std::size_t k) {
  if (open_) out_.write("EOD\n\n");
  open_ = false;
  input_ = k;
}

std::string Script::cycle_label(int number) const {
  const auto k = static_cast<std::size_t>(number - 1);
  if (k < picture_.cycle_labels.size() && !picture_.cycle_labels[k].empty())
    return picture_.cycle_labels[k];
  return "cycle " + std::to_string(number);
}

void Script::table(const Cycle& c) {
  if (open_) out_.write("EOD\n\n");
  open_ = false;
  if (cycle_ != 0 && c.number != cycle_) return;
  const bool compare = picture_.labels.size() > 1;
  if (panels_.size() == max_panels) {
    throw tools::InputError(c.line, "more than " + std::to_string(max_panels) +
                                        " tables to draw, the most one picture holds: choose one "
                                        "with --cycle" +
                                        (compare ? " or draw fewer reports" : ""));
  }
  Panel p;
  p.input = input_;
  p.number = c.number;
  p.title = c.title;
  p.data = (compare ? "$run" + std::to_string(input_ + 1) + "_cycle" : "$cycle") +
           std::to_string(c.number);
  std::set<int> seen;
  std::string head = p.data + " << EOD\n# time";
  for (std::size_t i = 0; i < c.columns.size(); ++i) {
    const tools::Column& col = c.columns[i];
    if (!seen.insert(col.number).second) continue;
    if (compare) {
      const auto [at, added] =
          compartments_.try_emplace({col.number, col.name}, compartment_list_.size());
      if (added && compartment_list_.size() == max_panels) {
        throw tools::InputError(c.line, "more than " + std::to_string(max_panels) +
                                            " compartments to draw, the most one picture holds: "
                                            "draw fewer reports, or one cycle with --cycle");
      }
      if (added) compartment_list_.emplace_back(col.number, col.name);
      p.compartment.push_back(at->second);
    }
    p.drawn.push_back(i);
    p.numbers.push_back(col.number);
    p.names.push_back(col.name.empty() ? "compartment " + std::to_string(col.number) : col.name);
    head += " | " + std::to_string(col.number) + " " + shown(col.name);
  }
  p.last.assign(p.drawn.size(), NAN);
  p.extinct.assign(p.drawn.size(), false);
  out_.write(head + "\n");
  panels_.push_back(std::move(p));
  open_ = true;
}

void Script::row(const Cycle& c, const tools::TableRow& row) {
  if (!open_ || panels_.back().number != c.number) return;
  Panel& p = panels_.back();
  const bool first = p.start.empty();
  std::string line = row.time;
  for (std::size_t i = 0; i < p.drawn.size(); ++i) {
    // The biomass, or its ratio to the biomass of the first row (undefined
    // when that is zero); nothing after the compartment went extinct, where
    // the floor ecodyn keeps it at would read as a recovery.
    double v = tools::value_of(row.values[p.drawn[i]]);
    if (first) p.start.push_back(v);
    if (picture_.relative) v = p.start[i] != 0.0 ? v / p.start[i] : NAN;
    if (p.extinct[i]) v = NAN;
    if (std::isfinite(v)) {
      const std::size_t panel = p.compartment.empty() ? panels_.size() - 1 : p.compartment[i];
      if (ranges_.size() <= panel) ranges_.resize(panel + 1, {INFINITY, -INFINITY});
      ranges_[panel] = {std::min(ranges_[panel].first, v), std::max(ranges_[panel].second, v)};
      p.last[i] = v;
      least_ = std::min(least_, v);
      if (v > 0) {
        low_ = std::min(low_, v);
        high_ = std::max(high_, v);
      }
    }
    line.append(" ").append(number(v));
  }
  if (!row.time.empty()) out_.write(line + "\n");  // a time too large for its field is left out
}

void Script::extinction(const Cycle& c, const tools::Extinction& e) {
  if (!open_ || panels_.back().number != c.number) return;
  Panel& p = panels_.back();
  const auto at = std::find(p.numbers.begin(), p.numbers.end(), e.compartment.number);
  const auto i = static_cast<std::size_t>(at - p.numbers.begin());
  if (at == p.numbers.end() || p.extinct[i] || e.time.empty()) return;
  // The line ends at the time of the notice at the last value drawn; the
  // other lines pass by this row (missing, "?"), where NaN would break them.
  p.extinct[i] = true;
  std::string line = e.time;
  for (std::size_t j = 0; j < p.drawn.size(); ++j) line.append(" ").append(j == i ? number(p.last[i]) : "?");
  out_.write(line + "\n");
  p.ends.push_back({i, {e.time, p.last[i]}});
}

std::pair<int, int> picture_size(const Picture& picture, int panels) {
  return {picture.width > 0 ? picture.width : default_width,
          picture.height > 0 ? picture.height : std::min(panel_height * panels, max_size)};
}

bool logarithmic(Scale scale, double low, double high) {
  return scale == Scale::logarithmic ||
         (scale == Scale::automatic && high > 0 && high / low > 1000.0);
}

std::string range_around(double low, double high, bool log) {
  if (low != high) return "";
  const double v = low;
  const double a = log ? v / 10 : v == 0 ? -1 : v < 0 ? 2 * v : 0,
               b = log ? v * 10 : v == 0 ? 1 : v < 0 ? 0 : 2 * v;
  return "set yrange [" + number(a) + ":" + number(b) + "]\n";
}

std::string settings(const Picture& picture, std::pair<int, int> extent, bool log, bool from_zero) {
  const auto [width, height] = extent;
  std::string s = "if (!exists(\"outfile\")) outfile = " + quoted(picture.output) + "\n";
  char size[64];
  switch (picture.format) {
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
  const auto unit = [](const std::string& u) { return u.empty() ? "" : " (" + shown(u) + ")"; };
  s += "set xlabel " + quoted("time" + unit(picture.time_unit)) + "\n";
  s += "set ylabel " +
       quoted(picture.relative ? "biomass / biomass at the start" : "biomass" + unit(picture.units)) +
       "\n";
  if (log) s += "set logscale y\nset format y '%g'\n";
  // A linear axis of biomasses starts at zero. Room above and below, so
  // that a line at the top or bottom of the range (a biomass at rest, a
  // compartment gone extinct) stays visible; the time axis spans the run.
  if (!log && from_zero) {
    s += "set yrange [0:*]\nset offsets graph 0, graph 0, graph 0.05, graph 0\n";
  } else {
    s += "set offsets graph 0, graph 0, graph 0.05, graph 0.05\n";
  }
  s += "set autoscale xfix\n";
  // Line colours that read well on white, repeated after the tenth.
  static const char* const colours[] = {"#1f4e9c", "#b35900", "#2e7d32", "#c62828", "#6a1b9a",
                                        "#6d4c41", "#c2185b", "#616161", "#7a7a00", "#00796b"};
  for (std::size_t k = 0; k < std::size(colours); ++k) {
    s += "set linetype " + std::to_string(k + 1) + " linecolor rgb '" + colours[k] +
         "' linewidth 2 pointtype 7 pointsize 1.2\n";
  }
  s += "set linetype cycle " + std::to_string(std::size(colours)) + "\n";
  s += "set grid\nset key below horizontal\nset style data lines\nset datafile missing '?'\n";
  return s;
}

std::pair<int, int> Script::size() const {
  const int panels = static_cast<int>(picture_.labels.size() > 1 ? compartment_list_.size()
                                                                 : panels_.size());
  return picture_size(picture_, panels);
}

void Script::finish() {
  if (open_) out_.write("EOD\n\n");
  open_ = false;
  if (panels_.empty()) {
    throw tools::InputError(0, cycle_ == 0 ? "no time-series table to draw"
                                           : "no time-series table in cycle " +
                                                 std::to_string(cycle_));
  }
  const bool compare = picture_.labels.size() > 1;
  const bool log = logarithmic(picture_.scale, low_, high_);
  std::string s;
  // The extinctions of each panel: time, value and the line type of the line
  // they end.
  const std::size_t panel_count = compare ? compartment_list_.size() : panels_.size();
  std::vector<std::string> ends(panel_count);
  for (std::size_t b = 0; b < panels_.size(); ++b) {
    const Panel& p = panels_[b];
    for (const auto& [i, end] : p.ends) {
      const std::size_t panel = compare ? p.compartment[i] : b;
      ends[panel] += end.first + " " + number(end.second) + " " +
                     std::to_string(compare ? b + 1 : i + 1) + "\n";
    }
  }
  for (std::size_t k = 0; k < panel_count; ++k) {
    if (!ends[k].empty()) s += "$ends" + std::to_string(k + 1) + " << EOD\n" + ends[k] + "EOD\n\n";
  }
  s += settings(picture_, size(), log, least_ >= 0);
  const bool multiplot = panel_count > 1;
  if (multiplot) s += "set multiplot layout " + std::to_string(panel_count) + ",1\n";
  // A panel of a single value: a range around it, where gnuplot would
  // find the range empty.
  const std::string range = !log && least_ >= 0 ? "set yrange [0:*]\n" : "set autoscale y\n";
  ranges_.resize(panel_count, {INFINITY, -INFINITY});
  const auto around = [&](std::size_t k) {
    return range_around(ranges_[k].first, ranges_[k].second, log);
  };
  const auto marks = [&](std::size_t k) {
    return ends[k].empty() ? std::string()
                           : ", \\\n     $ends" + std::to_string(k + 1) +
                                 " using 1:2:3 with points linecolor variable notitle";
  };
  if (!compare) {
    for (std::size_t k = 0; k < panels_.size(); ++k) {
      const Panel& p = panels_[k];
      const std::string title = multiplot ? cycle_label(p.number) + ": " + p.title : p.title;
      s += "set title " + quoted(shown(title)) + "\n" + around(k);
      s += "plot";
      for (std::size_t i = 0; i < p.drawn.size(); ++i) {
        s += (i == 0 ? " " : ", \\\n     ") + p.data + " using 1:" + std::to_string(i + 2) +
             " linetype " + std::to_string(i + 1) + " title " + quoted(shown(p.names[i]));
      }
      s += marks(k) + "\n";
      if (!around(k).empty()) s += range;
    }
  } else {
    // A line per table: its report's label, and what its cycle ran when the
    // report holds several.
    std::vector<int> tables(picture_.labels.size());
    for (const Panel& p : panels_) ++tables[p.input];
    for (std::size_t k = 0; k < compartment_list_.size(); ++k) {
      const auto& [number, name] = compartment_list_[k];
      s += "set title " + quoted(shown(std::to_string(number) + " " + name)) + "\n" + around(k);
      s += "plot";
      bool any = false;
      for (std::size_t b = 0; b < panels_.size(); ++b) {
        const Panel& p = panels_[b];
        const auto at = std::find(p.compartment.begin(), p.compartment.end(), k);
        if (at == p.compartment.end()) continue;
        std::string label = picture_.labels[p.input];
        if (tables[p.input] > 1) label += ", " + cycle_label(p.number);
        s += (any ? ", \\\n     " : " ") + p.data + " using 1:" +
             std::to_string(at - p.compartment.begin() + 2) + " linetype " + std::to_string(b + 1) +
             " title " + quoted(shown(label));
        any = true;
      }
      s += marks(k) + "\n";
      if (!around(k).empty()) s += range;
    }
  }
  if (multiplot) s += "unset multiplot\n";
  s += "set output\n";
  out_.write(s);
}

}  // namespace ecodyn::plot
