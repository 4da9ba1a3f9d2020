#include "scor_output.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/diagnostics.h"

namespace ecodyn::exporter {
namespace {

using tools::InputError;

std::vector<std::string> tokens(const std::string& s) {
  std::vector<std::string> out;
  std::size_t k = 0;
  while (k < s.size()) {
    while (k < s.size() && s[k] == ' ') ++k;
    const std::size_t start = k;
    while (k < s.size() && s[k] != ' ') ++k;
    if (k > start) out.push_back(s.substr(start, k - start));
  }
  return out;
}

bool is_number(const std::string& t) {
  char* end = nullptr;
  std::strtod(t.c_str(), &end);
  return !t.empty() && *end == '\0';
}

bool is_integer(const std::string& t) {
  char* end = nullptr;
  std::strtol(t.c_str(), &end, 10);
  return !t.empty() && *end == '\0';
}

// Writes one line of text as a record.
void line(fio::Unit unit, const std::string& text) {
  fio::write(unit, "(A)", fio::ConstChars{text.data(), static_cast<int>(text.size())});
}

// Returns the value with seven significant digits and no trailing zeros.
std::string value(float v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.7g", static_cast<double>(v));
  return buf;
}

}  // namespace

void check_scor_texts(const NetworkValues& net) {
  if (net.ncomp < 1) {
    throw InputError(net.line + 1, "a SCOR network needs at least one compartment");
  }
  const std::string title = net.title();
  const std::size_t first = title.find_first_not_of(' ');
  if (first == std::string::npos) throw InputError(net.line, "the title is blank");
  if (title[first] == '#') {
    throw InputError(net.line, "the title begins with '#', which a SCOR reader skips as a comment");
  }
  const std::size_t last_gap = title.rfind("  ");
  if (last_gap != std::string::npos && title.find(' ', last_gap + 2) == std::string::npos &&
      is_number(title.substr(title.find_first_not_of(' ', last_gap)))) {
    throw InputError(net.line,
                     "the title ends in a number set off by two or more blanks, which a SCOR "
                     "reader drops as a stray number");
  }
  for (int i = 1; i <= net.ncomp; ++i) {
    const int at = net.line + 1 + i;
    const std::vector<std::string> t = tokens(net.name(i));
    if (t.empty())
      throw InputError(at, "the name of compartment " + std::to_string(i) + " is blank");
    if (t.size() == 2 && is_integer(t[0]) && is_number(t[1])) {
      throw InputError(
          at, "the name of compartment " + std::to_string(i) + " reads as a biomass line in SCOR");
    }
  }
}

void write_scor(fio::Unit unit, const NetworkValues& net) {
  const int n = net.ncomp;
  std::string title = net.title();
  title.erase(0, title.find_first_not_of(' '));
  line(unit, title);
  line(unit, std::to_string(n) + " " + std::to_string(net.nliv));
  for (int i = 1; i <= n; ++i) {
    std::string name = net.name(i);
    line(unit, name.erase(0, name.find_first_not_of(' ')));
  }
  for (const Vector* v : {&net.biomass, &net.inputs, &net.exports, &net.respirations}) {
    for (int i = 1; i <= n; ++i) {
      if ((*v)(i) > 0.0f) line(unit, std::to_string(i) + " " + value((*v)(i)));
    }
    line(unit, "-1");
  }
  for (int i = 1; i <= n; ++i) {
    for (int j = 1; j <= n; ++j) {
      const float f = net.exchange(i, j);
      if (f > 0.0f) line(unit, std::to_string(i) + " " + std::to_string(j) + " " + value(f));
    }
  }
  line(unit, "-1");
}

}  // namespace ecodyn::exporter
