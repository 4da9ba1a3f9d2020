#include "common/scor_reader.h"

#include <optional>

#include "common/number.h"

namespace ecodyn::import {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\f' || c == '\v'; }

std::string trimmed(std::string_view s) {
  std::size_t a = 0, b = s.size();
  while (a < b && is_blank(s[a])) ++a;
  while (b > a && is_blank(s[b - 1])) --b;
  return std::string(s.substr(a, b - a));
}

std::vector<std::string> tokens(std::string_view s) {
  std::vector<std::string> t;
  std::size_t k = 0;
  while (k < s.size()) {
    while (k < s.size() && is_blank(s[k])) ++k;
    const std::size_t from = k;
    while (k < s.size() && !is_blank(s[k])) ++k;
    if (k > from) t.emplace_back(s.substr(from, k - from));
  }
  return t;
}

namespace {

// The kind of warning for an entry given twice, as a summary counts it.
constexpr const char* given_twice = "entries are given twice (the later one is kept)";

struct Line {
  int number;        // from 1, as an editor counts
  std::string text;  // without its line end
};

// Splits the text at LF, CRLF or a lone CR; drops a leading byte-order mark.
std::vector<Line> split_lines(std::string_view text) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  std::vector<Line> lines;
  std::size_t k = 0;
  int number = 0;
  while (k < text.size()) {
    std::size_t end = k;
    while (end < text.size() && text[end] != '\n' && text[end] != '\r') ++end;
    lines.push_back({++number, std::string(text.substr(k, end - k))});
    if (end < text.size() && text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n')
      ++end;
    k = end + 1;
  }
  return lines;
}

std::string quoted(const std::string& s) { return "'" + s + "'"; }

// Walks through the lines of the file, passing over blank ones.
class Cursor {
 public:
  explicit Cursor(std::vector<Line> lines) : lines_(std::move(lines)) {}

  // Returns the next line that is not blank, or nullptr at the end.
  const Line* next() {
    while (pos_ < lines_.size() && trimmed(lines_[pos_].text).empty()) ++pos_;
    return pos_ < lines_.size() ? &lines_[pos_++] : nullptr;
  }

  // Returns the next line that is not blank, without taking it.
  const Line* peek() {
    const std::size_t saved = pos_;
    const Line* line = next();
    pos_ = saved;
    return line;
  }

  // Passes over blank lines and "#" comment lines.
  void skip_comments() {
    while (pos_ < lines_.size()) {
      const std::string t = trimmed(lines_[pos_].text);
      if (!t.empty() && t[0] != '#') break;
      ++pos_;
    }
  }

  // Returns the number of the last line of the file (0 for an empty file).
  int last_line() const { return lines_.empty() ? 0 : lines_.back().number; }

 private:
  std::vector<Line> lines_;
  std::size_t pos_ = 0;
};

// Exporting programs put a number after the title, set off by a wide gap
// ("Cypress Wet Season ...           0"); it is not part of the title.
std::string without_stray_number(const std::string& title) {
  std::size_t start = title.size();
  while (start > 0 && !is_blank(title[start - 1])) --start;
  if (start == 0 || !parse_real(std::string_view(title).substr(start))) return title;
  std::size_t gap = start;
  while (gap > 0 && is_blank(title[gap - 1])) --gap;
  const bool wide = start - gap >= 2;
  if (!wide || gap == 0) return title;
  return title.substr(0, gap);
}

bool all_integers(const std::vector<std::string>& t) {
  for (const auto& s : t)
    if (!parse_integer(s)) return false;
  return true;
}

bool all_numbers(const std::vector<std::string>& t) {
  for (const auto& s : t)
    if (!parse_real(s)) return false;
  return true;
}

class Reader {
 public:
  Reader(std::string_view text, Diagnostics& diagnostics)
      : cursor_(split_lines(text)), diagnostics_(diagnostics) {}

  ScorNetwork read() {
    read_title();
    read_counts();
    read_names();
    for (int s = 0; s < section_count; ++s) read_vector_section(static_cast<Section>(s));
    read_flow_section();
    if (const Line* extra = cursor_.next()) {
      throw InputError(extra->number, "text after the end of the flow section: " +
                                          quoted(trimmed(extra->text)) + " (one network per file)");
    }
    return std::move(net_);
  }

 private:
  [[noreturn]] void fail_at_end(const std::string& text) {
    throw InputError(cursor_.last_line(), text);
  }

  void read_title() {
    cursor_.skip_comments();
    const Line* line = cursor_.next();
    if (line == nullptr) fail_at_end("the file holds no network");
    std::string title = trimmed(line->text);
    for (char& c : title)
      if (is_blank(c)) c = ' ';
    net_.title = without_stray_number(title);
    net_.title_line = line->number;
  }

  void read_counts() {
    const Line* line = cursor_.next();
    if (line == nullptr)
      fail_at_end("the file ends after the title, before the compartment counts");
    auto t = tokens(line->text);
    // A number of its own between the title and the counts is a stray one.
    if (t.size() == 1 && parse_real(t[0])) {
      const Line* after = cursor_.peek();
      if (after != nullptr) {
        const auto u = tokens(after->text);
        if (u.size() == 2 && all_integers(u)) {
          line = cursor_.next();
          t = u;
        }
      }
    }
    if (t.size() != 2 || !all_integers(t)) {
      throw InputError(line->number, "expected the compartment count and the living count, found " +
                                         quoted(trimmed(line->text)));
    }
    const int n = *parse_integer(t[0]), living = *parse_integer(t[1]);
    if (n > compartment_limit) {
      throw InputError(line->number, "the network has " + std::to_string(n) +
                                         " compartments; ecodyn holds at most " +
                                         std::to_string(compartment_limit));
    }
    if (n < 1) {
      throw InputError(line->number,
                       "the compartment count must be at least 1, found " + std::to_string(n));
    }
    if (living > n) {
      throw InputError(line->number, "the living count " + std::to_string(living) +
                                         " is above the compartment count " + std::to_string(n));
    }
    if (living < 1) {
      throw InputError(line->number, "the living count must be at least 1, found " +
                                         std::to_string(living) +
                                         " (ecodyn would take every compartment as living)");
    }
    net_.ncomp = n;
    net_.nliv = living;
  }

  void read_names() {
    for (int i = 1; i <= net_.ncomp; ++i) {
      const Line* line = cursor_.next();
      if (line == nullptr) {
        fail_at_end("the file ends after " + std::to_string(i - 1) + " of the " +
                    std::to_string(net_.ncomp) + " compartment names");
      }
      const auto t = tokens(line->text);
      if (t.size() == 2 && all_numbers(t) && parse_integer(t[0])) {
        throw InputError(line->number,
                         "expected the name of compartment " + std::to_string(i) + ", found " +
                             quoted(trimmed(line->text)) +
                             ", a biomass line: the file gives fewer names than its " +
                             std::to_string(net_.ncomp) + " compartments");
      }
      std::string name = trimmed(line->text);
      for (char& c : name)
        if (is_blank(c)) c = ' ';
      net_.names.push_back(name);
      net_.name_lines.push_back(line->number);
    }
  }

  // Returns the index of a section line, or nothing for its "-1" end.
  // role names the index ("origin"), expected describes it ("an origin
  // compartment").
  std::optional<int> index_of(const Line& line, const std::string& token, const char* section,
                              const char* role, const char* expected) {
    const auto i = parse_integer(token);
    if (!i) {
      throw InputError(line.number, std::string("expected ") + expected + " in the " + section +
                                        " section, found " + quoted(token));
    }
    if (*i == -1) return std::nullopt;
    if (*i < 1 || *i > net_.ncomp) {
      throw InputError(line.number, std::string(role) + " " + std::to_string(*i) + " in the " +
                                        section + " section is outside 1 to " +
                                        std::to_string(net_.ncomp));
    }
    return i;
  }

  SourceValue value_of(const Line& line, const std::string& token, const std::string& what) {
    const auto v = parse_real(token);
    if (!v) throw InputError(line.number, "expected " + what + ", found " + quoted(token));
    if (*v < 0) throw InputError(line.number, what + " is negative: " + token);
    return {*v, token, line.number};
  }

  const Line* section_line(const char* section, int& begins) {
    const Line* line = cursor_.next();
    if (line == nullptr) {
      if (begins == 0) fail_at_end(std::string("the file ends before the ") + section + " section");
      fail_at_end(std::string("the ") + section + " section (from line " + std::to_string(begins) +
                  ") does not end: the file ends before its -1 line");
    }
    if (begins == 0) begins = line->number;
    return line;
  }

  void read_vector_section(Section s) {
    const char* section = section_name(s);
    auto& entries = net_.vectors[s];
    int begins = 0;
    for (;;) {
      const Line* line = section_line(section, begins);
      const auto t = tokens(line->text);
      const auto i = index_of(*line, t[0], section, "compartment", "a compartment number");
      if (!i) return;
      if (t.size() == 3 && all_numbers(t)) {
        throw InputError(line->number, std::string("the ") + section + " section (from line " +
                                           std::to_string(begins) + ") does not end: a flow line " +
                                           quoted(trimmed(line->text)) +
                                           " follows without a -1 line before it");
      }
      if (t.size() != 2) {
        throw InputError(line->number, std::string("the ") + section +
                                           " section expects 'compartment value', found " +
                                           quoted(trimmed(line->text)));
      }
      const SourceValue v = value_of(*line, t[1], entry_name(s, *i));
      if (const auto old = entries.find(*i); old != entries.end()) {
        diagnostics_.warn(given_twice, line->number,
                          "compartment " + std::to_string(*i) + " appears again in the " + section +
                              " section (first on line " + std::to_string(old->second.line) +
                              "); the value of this line is kept");
      }
      entries[*i] = v;
    }
  }

  void read_flow_section() {
    int begins = 0;
    for (;;) {
      const Line* line = section_line("flow", begins);
      const auto t = tokens(line->text);
      const auto i = index_of(*line, t[0], "flow", "origin", "an origin compartment");
      if (!i) return;
      if (t.size() != 3) {
        throw InputError(line->number,
                         "the flow section expects 'origin destination flow', found " +
                             quoted(trimmed(line->text)));
      }
      const auto j = index_of(*line, t[1], "flow", "destination", "a destination compartment");
      if (!j) {
        throw InputError(line->number, "destination -1 in the flow section is outside 1 to " +
                                           std::to_string(net_.ncomp));
      }
      const SourceValue v = value_of(
          *line, t[2], "the flow from " + std::to_string(*i) + " to " + std::to_string(*j));
      if (const auto old = net_.flows.find({*i, *j}); old != net_.flows.end()) {
        diagnostics_.warn(given_twice, line->number, "the flow from " + std::to_string(*i) + " to " +
                                            std::to_string(*j) + " appears again (first on line " +
                                            std::to_string(old->second.line) +
                                            "); the value of this line is kept");
      }
      net_.flows[{*i, *j}] = v;
    }
  }

  Cursor cursor_;
  Diagnostics& diagnostics_;
  ScorNetwork net_;
};

}  // namespace

const char* section_name(Section s) {
  switch (s) {
    case biomass:
      return "biomass";
    case inputs:
      return "input";
    case exports:
      return "export";
    case respirations:
      return "respiration";
    case section_count:
      break;
  }
  return "";
}

std::string entry_name(Section s, int i) {
  const std::string n = std::to_string(i);
  switch (s) {
    case biomass:
      return "the biomass of compartment " + n;
    case inputs:
      return "the input to compartment " + n;
    case exports:
      return "the export of compartment " + n;
    case respirations:
      return "the respiration of compartment " + n;
    case section_count:
      break;
  }
  return "";
}

ScorNetwork read_scor(std::string_view text, Diagnostics& diagnostics) {
  return Reader(text, diagnostics).read();
}

}  // namespace ecodyn::import
