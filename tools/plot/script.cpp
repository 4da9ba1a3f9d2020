#include "script.h"

#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <set>

namespace ecodyn::plot {
namespace {

std::string number(double v) {
  if (!std::isfinite(v)) return "NaN";
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.6g", v);
  return buf;
}

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

void Script::table(const Cycle& c) {
  if (open_) out_.write("EOD\n\n");
  open_ = false;
  if (cycle_ != 0 && c.number != cycle_) return;
  if (panels_.size() == max_panels) {
    throw tools::InputError(c.line, "more than " + std::to_string(max_panels) +
                                        " tables to draw, the most one picture holds: choose one "
                                        "with --cycle");
  }
  Panel p{c.number, c.title, {}, {}, {}};
  std::set<int> seen;
  std::string head = "$cycle" + std::to_string(c.number) + " << EOD\n# time";
  for (std::size_t i = 0; i < c.columns.size(); ++i) {
    const tools::Column& col = c.columns[i];
    if (!seen.insert(col.number).second) continue;
    p.drawn.push_back(i);
    p.names.push_back(col.name.empty() ? "compartment " + std::to_string(col.number) : col.name);
    head += " | " + std::to_string(col.number) + " " + shown(col.name);
  }
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
    // when that is zero).
    double v = tools::value_of(row.values[p.drawn[i]]);
    if (first) p.start.push_back(v);
    if (picture_.relative) v = p.start[i] != 0.0 ? v / p.start[i] : NAN;
    if (std::isfinite(v)) {
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

std::pair<int, int> Script::size() const {
  const int panels = static_cast<int>(panels_.size());
  return {picture_.width > 0 ? picture_.width : default_width,
          picture_.height > 0 ? picture_.height : std::min(panel_height * panels, max_size)};
}

void Script::finish() {
  if (open_) out_.write("EOD\n\n");
  open_ = false;
  if (panels_.empty()) {
    throw tools::InputError(0, cycle_ == 0 ? "no time-series table to draw"
                                           : "no time-series table in cycle " +
                                                 std::to_string(cycle_));
  }
  const auto [width, height] = size();
  const bool log = picture_.scale == Scale::logarithmic ||
                   (picture_.scale == Scale::automatic && spans_decades());
  std::string s = "if (!exists(\"outfile\")) outfile = " + quoted(picture_.output) + "\n";
  char size[64];
  switch (picture_.format) {
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
  s += "set xlabel 'time'\n";
  s += picture_.relative ? "set ylabel 'biomass / biomass at the start'\n" : "set ylabel 'biomass'\n";
  if (log) s += "set logscale y\nset format y '%g'\n";
  // A linear axis of biomasses starts at zero. Room above and below, so
  // that a line at the top or bottom of the range (a biomass at rest, a
  // compartment gone extinct) stays visible; the time axis spans the run.
  if (!log && least_ >= 0) {
    s += "set yrange [0:*]\nset offsets graph 0, graph 0, graph 0.05, graph 0\n";
  } else {
    s += "set offsets graph 0, graph 0, graph 0.05, graph 0.05\n";
  }
  s += "set autoscale xfix\n";
  s += "set grid\nset key outside right top\nset style data lines\n";
  const bool multiplot = panels_.size() > 1;
  if (multiplot) s += "set multiplot layout " + std::to_string(panels_.size()) + ",1\n";
  for (const Panel& p : panels_) {
    const std::string title =
        multiplot ? "cycle " + std::to_string(p.number) + ": " + p.title : p.title;
    s += "set title " + quoted(shown(title)) + "\n";
    s += "plot";
    const std::string data = "$cycle" + std::to_string(p.number);
    for (std::size_t i = 0; i < p.drawn.size(); ++i) {
      s += (i == 0 ? " " : ", \\\n     ") + data + " using 1:" + std::to_string(i + 2) +
           " linewidth 2 title " + quoted(shown(p.names[i]));
    }
    s += "\n";
  }
  if (multiplot) s += "unset multiplot\n";
  s += "set output\n";
  out_.write(s);
}

}  // namespace ecodyn::plot
