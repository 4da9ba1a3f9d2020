#include "report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numbers>

#include "csv/csv.h"

namespace ecodyn::stability {

const char* const model_names[4] = {"", "generic predator control", "linear donor control",
                                    "damped Lotka-Volterra"};

namespace {

// Returns v with `digits` significant digits, as printf's %g writes it.
std::string num(double v, int digits = 4) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%.*g", digits, v);
  return buf;
}

// Returns a value exactly, for files: the shortest text that reads back as
// the same double.
std::string exact(double v) {
  char buf[48];
  for (int digits = 15; digits <= 17; ++digits) {
    std::snprintf(buf, sizeof buf, "%.*g", digits, v);
    if (std::strtod(buf, nullptr) == v) break;
  }
  return buf;
}

std::string eigenvalue_text(std::complex<double> v) {
  if (v.imag() == 0) return num(v.real());
  return num(v.real()) + (v.imag() < 0 ? " - " : " + ") + num(std::fabs(v.imag())) + "i";
}

std::string compartment(const Study& s, int i) {
  return std::to_string(i) + " " + s.names[static_cast<std::size_t>(i)];
}

std::string percent(double fraction) {
  return fraction >= 0.001 ? num(100 * fraction, 3) + "%" : num(100 * fraction, 2) + "%";
}

// A compartment is at rest within this fraction of its throughput, which
// single-precision flows reach where the balance tolerance is finer than
// their rounding.
constexpr double rest_fraction = 1.0e-5;


// Returns the parts after the label, separated by blanks, in lines of at
// most 78 characters (a part never broken), the later lines indented as far
// as the label.
std::string wrapped(const std::string& label, const std::vector<std::string>& parts) {
  std::string text = label;
  std::size_t column = label.size();
  for (std::size_t p = 0; p < parts.size(); ++p) {
    if (p > 0 && column + 1 + parts[p].size() > 78) {
      text += '\n';
      text.append(label.size(), ' ');
      column = label.size();
    } else if (p > 0) {
      text += ' ';
      ++column;
    }
    text += parts[p];
    column += parts[p].size();
  }
  return text + "\n";
}

// Returns the words of a text.
std::vector<std::string> words(const std::string& text) {
  std::vector<std::string> w;
  std::size_t from = 0;
  while (from < text.size()) {
    const std::size_t end = std::min(text.find(' ', from), text.size());
    if (end > from) w.push_back(text.substr(from, end - from));
    from = end + 1;
  }
  return w;
}

const char* verdict_word(Verdict v) {
  return v == Verdict::stable ? "stable" : v == Verdict::neutral ? "neutral" : "unstable";
}

bool oscillates(const Analysis& a) {
  return std::fabs(a.dominant.value.imag()) > a.dominant.tolerance;
}


std::string json_string(const std::string& s) {
  std::string q = "\"";
  for (const char c : s) {
    if (c == '"' || c == '\\') {
      q += '\\';
      q += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      q += buf;
    } else {
      q += c;
    }
  }
  return q + "\"";
}

std::string json_number(double v) { return std::isfinite(v) ? exact(v) : "null"; }

}  // namespace

bool at_rest(const Study& s, const Analysis& a) {
  for (std::size_t i = 0; i < a.rates.size(); ++i) {
    const double r = std::fabs(a.rates[i]);
    if (!(r < s.balance_tolerance || r <= rest_fraction * a.throughputs[i])) return false;
  }
  return true;
}

std::string report(const Study& s) {
  std::string out;
  out += s.title + "\n";
  out += s.network + ", description " + std::to_string(s.index) + " of " +
         std::to_string(s.count) + ": " + std::to_string(s.ncomp) + " compartments, " +
         std::to_string(s.nliv) + " living";
  if (s.mtype > 0) {
    out += "; a snapshot of model " + std::to_string(s.mtype) + " at time " +
           num(s.time, 7);
  }
  out += "\nstate: the " + std::string(s.mtype > 0 ? "snapshot's" : "network's") + " biomasses" +
         (s.perturbations.empty() ? "" : ", after " + std::to_string(s.perturbations.size()) +
                                       " perturbation" + (s.perturbations.size() == 1 ? "" : "s")) +
         "\n";
  for (const Result& r : s.results) {
    out += "\nModel " + std::to_string(r.model) + ", " + model_names[r.model] + "\n";
    if (!r.refusal.empty()) {
      out += "  not analysed: " + r.refusal + "\n";
      continue;
    }
    const Analysis& a = r.analysis;
    const double re = a.dominant.value.real(), im = std::fabs(a.dominant.value.imag());
    if (at_rest(s, a)) {
      out += wrapped("  equilibrium:  ",
                     words("yes, within the balance tolerance " + num(s.balance_tolerance) +
                           "; the largest rate of change is " +
                           percent(a.largest_relative_rate) + " of its compartment's throughput (" +
                           compartment(s, a.fastest_compartment) + ")"));
    } else {
      out += wrapped("  equilibrium:  ",
                     words("NO: " + compartment(s, a.fastest_compartment) + " changes by " +
                           num(a.largest_rate) + " per time unit, " +
                           percent(a.largest_relative_rate) +
                           " of its throughput; what follows describes the model linearized "
                           "at this state, which moves"));
    }
    switch (a.verdict) {
      case Verdict::stable:
        out += "  verdict:      STABLE: small departures from the state die away\n";
        break;
      case Verdict::neutral:
        out += wrapped("  verdict:      ",
                       words("NEUTRAL: the slowest mode neither grows nor decays: its rate lies "
                             "within " + num(a.dominant.tolerance, 2) +
                             " of zero, as far as single-precision coefficients can move it; "
                             "departures along it persist"));
        break;
      case Verdict::unstable:
        out += "  verdict:      UNSTABLE: small departures from the state grow\n";
        break;
    }
    out += "  dominant eigenvalue: " + eigenvalue_text(a.dominant.value) + " per time unit\n";
    if (a.verdict == Verdict::stable) {
      out += "  return time:  " + num(1 / std::fabs(re)) +
             " time units (the slowest mode shrinks by a factor e in that time)\n";
    } else if (a.verdict == Verdict::unstable) {
      out += "  growth time:  " + num(1 / re) +
             " time units (the fastest growing mode grows by a factor e\n"
             "                in that time)\n";
    }
    if (oscillates(a)) {
      out += "  period:       " + num(2 * std::numbers::pi / im) +
             " time units: the slowest mode oscillates\n";
    } else {
      out += "  period:       none: the slowest mode does not oscillate\n";
    }
    std::vector<std::string> carriers;
    for (const auto& [i, share] : a.carriers) {
      if (!carriers.empty()) carriers.back() += ',';
      carriers.push_back(compartment(s, i) + " (" + percent(share) + ")");
    }
    out += wrapped("  carried by:   ", carriers);
    out += "  s_min:        ";
    if (!a.s_min) {
      out += "none: no self-damping of the living compartments makes the state stable,\n"
             "                since the non-living compartments alone are not\n";
    } else if (*a.s_min == 0) {
      out += a.verdict == Verdict::stable ? "0: stable without self-damping\n"
                                          : "0: its slowest mode decays already, if barely\n";
    } else {
      out += num(*a.s_min) + " per time unit of self-damping on every living compartment\n"
             "                makes the state stable\n";
    }
  }
  return out;
}

std::string json(const Study& s) {
  std::string out;
  out += "{\"network\": " + json_string(s.network) + ", \"title\": " + json_string(s.title) +
         ", \"description\": " + std::to_string(s.index) +
         ", \"compartments\": " + std::to_string(s.ncomp) +
         ", \"living\": " + std::to_string(s.nliv) +
         ", \"snapshot_model\": " + (s.mtype > 0 ? std::to_string(s.mtype) : "null") +
         ", \"time\": " + (s.mtype > 0 ? json_number(s.time) : "null") + ", \"names\": [";
  for (int i = 1; i <= s.ncomp; ++i) out += (i > 1 ? ", " : "") + json_string(s.names[i]);
  out += "], \"perturbations\": [";
  for (std::size_t p = 0; p < s.perturbations.size(); ++p) {
    out += (p ? ", " : "") + json_string(s.perturbations[p]);
  }
  out += "],\n \"models\": [";
  for (std::size_t m = 0; m < s.results.size(); ++m) {
    const Result& r = s.results[m];
    out += std::string(m ? "," : "") + "\n  {\"model\": " + std::to_string(r.model) +
           ", \"name\": " + json_string(model_names[r.model]);
    if (!r.refusal.empty()) {
      out += ", \"error\": " + json_string(r.refusal) + "}";
      continue;
    }
    const Analysis& a = r.analysis;
    const double re = a.dominant.value.real();
    out += ", \"verdict\": \"" + std::string(verdict_word(a.verdict)) +
           "\", \"neutral_within\": " + json_number(a.dominant.tolerance) +
           ", \"equilibrium\": " + (at_rest(s, a) ? "true" : "false") +
           ", \"largest_relative_rate\": " + json_number(a.largest_relative_rate) +
           ", \"largest_rate\": " + json_number(a.largest_rate) +
           ", \"fastest_compartment\": " + std::to_string(a.fastest_compartment) +
           ",\n   \"dominant\": {\"real\": " + json_number(re) +
           ", \"imaginary\": " + json_number(a.dominant.value.imag()) +
           "}, \"return_time\": " + (re != 0 ? json_number(1 / std::fabs(re)) : "null") +
           ", \"period\": " +
           (oscillates(a) ? json_number(2 * std::numbers::pi / std::fabs(a.dominant.value.imag()))
                          : "null") +
           ", \"s_min\": " + (a.s_min ? json_number(*a.s_min) : "null") + ",\n   \"carriers\": [";
    for (std::size_t c = 0; c < a.carriers.size(); ++c) {
      out += std::string(c ? ", " : "") + "{\"compartment\": " +
             std::to_string(a.carriers[c].first) +
             ", \"name\": " + json_string(s.names[static_cast<std::size_t>(a.carriers[c].first)]) +
             ", \"share\": " + json_number(a.carriers[c].second) + "}";
    }
    out += "],\n   \"eigenvalues\": [";
    for (std::size_t e = 0; e < a.eigenvalues.size(); ++e) {
      out += std::string(e ? ", " : "") + "[" + json_number(a.eigenvalues[e].real()) + ", " +
             json_number(a.eigenvalues[e].imag()) + "]";
    }
    out += "]}";
  }
  out += "\n ]}\n";
  return out;
}

std::vector<std::string> eigenvalue_records(const Study& s) {
  std::vector<std::string> records{"model,real,imaginary,rank"};
  for (const Result& r : s.results) {
    if (!r.refusal.empty()) continue;
    const auto& values = r.analysis.eigenvalues;
    for (std::size_t e = 0; e < values.size(); ++e) {
      records.push_back(std::to_string(r.model) + "," + exact(values[e].real()) + "," +
                        exact(values[e].imag()) + "," + std::to_string(e + 1));
    }
  }
  return records;
}

std::vector<std::string> jacobian_records(const Study& s) {
  using ecodyn::csv::field;
  std::string head = "model,number,compartment";
  for (int j = 1; j <= s.ncomp; ++j) {
    head += ',';
    head += field(compartment(s, j));
  }
  std::vector<std::string> records{head};
  for (const Result& r : s.results) {
    if (!r.refusal.empty()) continue;
    for (int i = 1; i <= s.ncomp; ++i) {
      std::string rec = std::to_string(r.model) + "," + std::to_string(i) + "," +
                        field(s.names[static_cast<std::size_t>(i)]);
      for (int j = 1; j <= s.ncomp; ++j) {
        rec += ',';
        rec += exact(r.analysis.jacobian(i, j));
      }
      records.push_back(rec);
    }
  }
  return records;
}

}  // namespace ecodyn::stability
