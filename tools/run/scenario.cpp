#include "scenario.h"

#include "scenario/scenario.h"

#include <cctype>
#include <charconv>
#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace ecodyn::runner {

std::string trimmed(const std::string& s) {
  const std::size_t first = s.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

namespace {

std::string listing(const std::vector<std::string>& names, const std::vector<int>& which) {
  std::string s;
  for (const int i : which) s += "\n  " + std::to_string(i) + " " + names[i];
  return s;
}

// The value a perturbation changes, as the dialogue shows it as OLD VALUE.
float& target(const Perturbation& p, Values& v) {
  switch (p.kind) {
    case Kind::biomass: return v.biomass(p.i);
    case Kind::input: return v.inputs(p.i);
    case Kind::export_coefficient: return v.cexp(p.i);
    case Kind::respiration_coefficient: return v.cresp(p.i);
    case Kind::exchange: break;
  }
  return v.cexch(p.i, p.j);
}

}  // namespace

float parse_real(const std::string& text, const std::string& what, const std::string& expected) {
  const std::string t = trimmed(text);
  const std::string quoted = what + ": '" + t + "' ";
  char* end = nullptr;
  errno = 0;
  // Decimal numbers only: no hexadecimal, infinity or NaN.
  const double d = t.empty() || t.find_first_not_of("0123456789+-.eE") != std::string::npos
                       ? 0.0
                       : std::strtod(t.c_str(), &end);
  if (end == nullptr || *end != '\0') throw ScenarioError(quoted + "is not " + expected);
  const float f = static_cast<float>(d);
  if (!std::isfinite(f)) {
    throw ScenarioError(quoted + "is beyond single precision (at most " + exact_text(FLT_MAX) + ")");
  }
  if ((errno == ERANGE && std::fabs(d) < 1.0) || (d != 0.0 && std::fabs(f) < FLT_MIN)) {
    throw ScenarioError(quoted + "is too close to 0 for single precision (the least is " +
                        exact_text(FLT_MIN) + ")");
  }
  return f;
}

std::string exact_text(float v) {
  char buf[32];
  // The shortest text of the value, as one would type it ("10", "0.25",
  // "1e+30"), if ecodyn's reading (decimal to double, then single) gives it
  // back; else the fewest significant digits that do.
  const auto [end, error] = std::to_chars(buf, buf + sizeof buf - 1, v);
  *end = '\0';
  if (error == std::errc() && static_cast<float>(std::strtod(buf, nullptr)) == v) return buf;
  for (int digits = 1;; ++digits) {
    std::snprintf(buf, sizeof buf, "%.*g", digits, static_cast<double>(v));
    // Nine significant digits always read back exactly.
    if (digits == 9 || static_cast<float>(std::strtod(buf, nullptr)) == v) return buf;
  }
}

int find_compartment(const std::vector<std::string>& names, const std::string& text,
                     const std::string& what) {
  const int ncomp = static_cast<int>(names.size()) - 1;
  const std::string t = trimmed(text);
  if (!t.empty() && t.find_first_not_of("0123456789") == std::string::npos) {
    const long n = t.size() > 4 ? 0 : std::atol(t.c_str());
    if (n < 1 || n > ncomp) {
      throw ScenarioError(what + ": compartment " + t + " is out of range 1 to " +
                          std::to_string(ncomp));
    }
    return static_cast<int>(n);
  }
  const std::string key = lower(t);
  std::vector<int> equal, containing;
  for (int i = 1; i <= ncomp; ++i) {
    const std::string name = lower(trimmed(names[i]));
    if (name == key) equal.push_back(i);
    if (!key.empty() && name.find(key) != std::string::npos) containing.push_back(i);
  }
  const std::vector<int>& found = equal.empty() ? containing : equal;
  if (found.size() == 1) return found[0];
  if (found.empty()) {
    std::vector<int> all;
    for (int i = 1; i <= ncomp; ++i) all.push_back(i);
    throw ScenarioError(what + ": no compartment is named '" + t + "'; the compartments are:" +
                        listing(names, all));
  }
  throw ScenarioError(what + ": '" + t + "' names " + std::to_string(found.size()) +
                      " compartments; give one of them by number:" + listing(names, found));
}

Perturbation parse_perturbation(const std::string& change, const std::vector<std::string>& names) {
  const std::string what = "--perturb \"" + change + "\"";
  const std::size_t colon = change.find(':');
  const std::size_t equals = change.rfind('=');
  if (colon == std::string::npos || equals == std::string::npos || equals < colon) {
    throw ScenarioError(what + ": expected KIND:COMPARTMENT=VALUE or KIND:COMPARTMENT=xFACTOR");
  }
  static const char* const kinds[] = {"biomass", "input", "export", "respiration", "exchange"};
  const std::string kind = lower(trimmed(change.substr(0, colon)));
  Perturbation p;
  int k = 0;
  while (k < 5 && kind != kinds[k]) ++k;
  if (k == 5) {
    throw ScenarioError(what + ": unknown kind '" + kind +
                        "'; the kinds are biomass, input, export, respiration and exchange");
  }
  p.kind = static_cast<Kind>(k + 1);

  const std::string where = change.substr(colon + 1, equals - colon - 1);
  if (p.kind == Kind::exchange) {
    const std::size_t comma = where.find(',');
    if (comma == std::string::npos) {
      throw ScenarioError(what + ": an exchange takes two compartments, ORIGIN,DESTINATION");
    }
    p.i = find_compartment(names, where.substr(0, comma), what);
    p.j = find_compartment(names, where.substr(comma + 1), what);
  } else {
    p.i = find_compartment(names, where, what);
  }

  std::string value = trimmed(change.substr(equals + 1));
  p.factor = !value.empty() && (value[0] == 'x' || value[0] == 'X' || value[0] == '*');
  if (p.factor) value.erase(0, 1);
  const std::string expected = std::string(p.factor ? "a factor" : "a value") + " of 0 or more";
  p.value = parse_real(value, what, expected);
  if (p.value < 0.0f) throw ScenarioError(what + ": '" + value + "' is not " + expected);
  return p;
}

void check_times(const Cycle& c) {
  const float span = c.end - c.start;
  const std::string start = exact_text(c.start);
  if (!(c.end > c.start)) {
    throw ScenarioError("--end " + exact_text(c.end) + " must be greater than the start time, " +
                        start);
  }
  if (!(c.print > 0.0f)) throw ScenarioError("--print must be greater than 0");
  if (c.print > span) {
    throw ScenarioError("--print " + exact_text(c.print) + " is longer than the span, " +
                        exact_text(span));
  }
  if (c.snapshot < 0.0f || c.snapshot > span) {
    throw ScenarioError("--snapshot " + exact_text(c.snapshot) + " must lie from 0 to the span, " +
                        exact_text(span));
  }
}

std::string answers(const Cycle& c, Values& values) {
  std::string a = std::to_string(c.model) + "\n";
  if (!c.restart) a += exact_text(c.start) + "\n";
  a += exact_text(c.end) + "\n" + exact_text(c.print) + "\n" + exact_text(c.snapshot) + "\n";
  for (const Perturbation& p : c.perturbations) {
    float& v = target(p, values);
    float stored = 0;
    const std::string product = "--perturb: " + exact_text(v) + " times " + exact_text(p.value);
    switch (scenario::changed_value(v, p.factor, p.value, stored)) {
      case scenario::Held::beyond_range:
        throw ScenarioError(product + " is beyond single precision");
      case scenario::Held::below_normal:
        throw ScenarioError(product + " is too close to 0 for single precision");
      case scenario::Held::yes: break;
    }
    v = stored;
    char line[64];
    std::snprintf(line, sizeof line, "Y\n%d\n%d", static_cast<int>(p.kind), p.i);
    a += line;
    if (p.kind == Kind::exchange) a += ' ' + std::to_string(p.j);
    a += '\n' + exact_text(stored) + '\n';
  }
  a += "N\n";
  for (std::size_t k = 0; k < c.followed.size(); ++k) {
    a += std::to_string(c.followed[k]);
    a += k + 1 < c.followed.size() ? ' ' : '\n';
  }
  return a;
}

int expected_rows(const Cycle& c) {
  int rows = 1;
  float t_to = c.start + c.print;
  for (int interval = 1; interval <= 10000; ++interval) {
    ++rows;
    if (t_to >= c.end) break;
    t_to = t_to + c.print;
  }
  return rows;
}

}  // namespace ecodyn::runner
