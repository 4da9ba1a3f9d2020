// ecodyn-stability: the stability of a network's state under ecodyn's
// dynamic models: the Jacobian of the model ecodyn would run, its
// eigenvalues and what they mean for an ecologist.
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <functional>
#include <numbers>
#include <string>
#include <vector>

#include "common/command_line.h"
#include "common/description.h"
#include "common/diagnostics.h"
#include "common/output_file.h"
#include "common/replaceable.h"
#include "csv/csv.h"
#include "fio/fio.h"
#include "model/coefficients.h"
#include "model/konsts.h"
#include "network/loader.h"
#include "run/scenario.h"
#include "stability.h"

namespace {

using namespace ecodyn::stability;
using ecodyn::Konsts;
using ecodyn::konsts;
using ecodyn::tools::complain;
using ecodyn::tools::Diagnostics;
using ecodyn::tools::NetworkValues;

constexpr int exit_failure = fio::exit_bad_io;
// Any unit but the terminal's and ecodyn's own.
constexpr auto output_unit = static_cast<fio::Unit>(20);

const char* const model_names[] = {"", "generic predator control", "linear donor control",
                                   "damped Lotka-Volterra"};

struct Options {
  std::string network, csv, jacobian;
  std::vector<int> models{1, 2, 3};
  std::vector<std::string> perturb;
  int index = 0;  // 0: not given
  double time = 0;
  bool by_time = false, json = false;
};

// What the model of one type gives at the state.
struct Result {
  int model = 0;
  std::string refusal;  // why it was not analysed; empty when it was
  Analysis analysis;
};

// The description analysed and its results.
struct Study {
  std::string title;
  int index = 0, count = 0, ncomp = 0, nliv = 0, mtype = 0;
  float time = 0;
  float balance_tolerance = 0;
  std::vector<std::string> names{""};  // names[i], i from 1
  std::vector<Result> results;
};

// What ecodyn writes to its terminal while f runs, and the status of the
// stop f ends with (0 when it returns).
struct Terminal {
  int status = 0;
  std::string text;
};

// Runs f with standard output caught, so that a message of ecodyn's own
// code can be told on standard error.
template <class F>
Terminal caught(F&& f) {
  Terminal t;
  std::fflush(stdout);
  std::FILE* tmp = std::tmpfile();
  const int saved = tmp ? dup(1) : -1;
  const bool redirected = saved >= 0 && dup2(fileno(tmp), 1) == 1;
  try {
    f();
  } catch (const fio::Stop& stop) {
    t.status = stop.status;
  }
  std::fflush(stdout);
  if (redirected) dup2(saved, 1);
  if (saved >= 0) close(saved);
  if (tmp) {
    std::rewind(tmp);
    char buf[512];
    std::size_t got;
    while ((got = std::fread(buf, 1, sizeof buf, tmp)) > 0) t.text.append(buf, got);
    std::fclose(tmp);
  }
  return t;
}

// Returns ecodyn's message without the carriage-control column and the
// line ends: "BIOMASSES MUST BE GREATER THAN ZERO."
std::string message_of(const std::string& text) {
  std::string m;
  std::size_t from = 0;
  while (from < text.size()) {
    std::size_t end = text.find('\n', from);
    if (end == std::string::npos) end = text.size();
    const std::string line = end > from ? text.substr(from + 1, end - from - 1) : "";
    const std::size_t first = line.find_first_not_of(' ');
    if (first != std::string::npos) {
      m += (m.empty() ? "" : " ") + line.substr(first, line.find_last_not_of(' ') - first + 1);
    }
    from = end + 1;
  }
  return m;
}

std::string trimmed(std::string s) {
  const std::size_t end = s.find_last_not_of(' ');
  return end == std::string::npos ? "" : s.substr(0, end + 1);
}

std::string name_text(const ecodyn::NameTable& names, int row, int words, std::size_t length) {
  std::string s;
  for (int w = 1; w <= words; ++w) s.append(names.word(row, w).data(), 4);
  s.resize(length);
  return trimmed(s);
}

// The lines of the network file read by the last load.
int lines_read = 0;

// Loads descriptions of the network file with ecodyn's own loader (its
// listing to nowhere) until the count-th, into net and konsts. Returns the
// number loaded (fewer at the end of the file). A description ecodyn
// refuses ends the program with status 2 after its message.
int load(const std::string& path, int count, ecodyn::Network& net,
         const std::function<void(int, const ecodyn::Network&)>& each = {}) {
  if (!fio::connect(fio::network_file, path.c_str(), true) ||
      !fio::connect(fio::report, "/dev/null", false)) {
    complain("cannot read " + path + ": " + std::strerror(errno ? errno : EIO));
    throw fio::Stop{exit_failure};
  }
  int loaded = 0;
  lines_read = 0;
  while (count == 0 || loaded < count) {
    ecodyn::LoadResult r = ecodyn::LoadResult::end_of_file;
    const Terminal t = caught([&] { r = ecodyn::load_network(net); });
    if (t.status == fio::exit_error_stop) {
      Diagnostics(path).error(fio::records_read(fio::network_file),
                              "ecodyn refuses the network: " + message_of(t.text));
      throw fio::Stop{exit_failure};
    }
    if (t.status != 0) throw fio::Stop{t.status};  // the record layer has told why
    if (r == ecodyn::LoadResult::end_of_file) break;
    ++loaded;
    if (each) each(loaded, net);
  }
  lines_read = fio::records_read(fio::network_file);
  fio::close(fio::network_file);
  fio::close(fio::report);
  return loaded;
}

// The description the options pick, loaded into net and konsts as ecodyn
// loads it; fills the study's description. Returns false after a diagnostic.
bool choose(const Options& o, ecodyn::Network& net, Study& study) {
  struct stat st;
  const int reason = stat(o.network.c_str(), &st) != 0 ? errno : S_ISDIR(st.st_mode) ? EISDIR : 0;
  if (reason != 0) {
    complain("cannot read " + o.network + ": " + std::strerror(reason));
    return false;
  }
  Diagnostics diagnostics(o.network);
  static ecodyn::tools::Choice choice(o.index, o.by_time ? std::optional<double>(o.time)
                                                         : std::nullopt);
  static NetworkValues offered;
  const int count = load(o.network, 0, net, [&](int n, const ecodyn::Network& loaded) {
    offered.time = loaded.snap_time;
    offered.line = n;  // marks the description
    choice.offer(n, offered);
  });
  const int last = lines_read;
  if (count == 0) {
    diagnostics.error(last, "the file holds no network description");
    return false;
  }
  const NetworkValues* chosen = choice.chosen();
  char t[32];
  std::snprintf(t, sizeof t, "%.3f", o.time);
  if (chosen == nullptr) {
    const std::string held = "the file ends after " + std::to_string(count) +
                             " network description" + (count == 1 ? "" : "s");
    diagnostics.error(last, held + (o.index > 0 ? "; there is no description " +
                                                      std::to_string(o.index)
                                                : std::string("; none is at time ") + t +
                                                      " or within half the spacing of their "
                                                      "times"));
    return false;
  }
  if (choice.nearest()) {
    char at[32];
    std::snprintf(at, sizeof at, "%.3f", static_cast<double>(chosen->time));
    diagnostics.warn("", 0,
                     "description " + std::to_string(chosen->line) + ": no description is at time " +
                         t + "; the nearest, at " + at + ", is taken");
  }
  study.index = chosen->line;
  study.count = count;
  load(o.network, study.index, net);
  study.title = name_text(net.names, 0, 20, 78);
  study.ncomp = konsts.ncomp;
  study.nliv = konsts.nliv;
  study.mtype = konsts.mtype;
  study.time = net.snap_time;
  study.balance_tolerance = net.balance_tolerance;
  for (int i = 1; i <= konsts.ncomp; ++i) study.names.push_back(name_text(net.names, i, 7, 25));
  return true;
}

// Returns whether every coefficient of the model and every biomass is a
// finite number.
bool finite(const Konsts& k, const State& y) {
  for (int i = 1; i <= k.ncomp; ++i) {
    if (!std::isfinite(y[i - 1]) || !std::isfinite(k.bref(i)) || !std::isfinite(k.inputs(i)) ||
        !std::isfinite(k.cexp(i)) || !std::isfinite(k.cresp(i))) {
      return false;
    }
    for (int j = 1; j <= k.ncomp; ++j) {
      if (!std::isfinite(k.cexch(i, j))) return false;
    }
  }
  return true;
}

// Analyses the model of one type: the coefficients as ecodyn derives them
// (a snapshot under its own type keeps those it carries), the perturbations
// applied as ecodyn-run applies them.
Result analyse_model(int model, const ecodyn::Network& loaded, const Konsts& loaded_konsts,
                     const std::vector<ecodyn::runner::Perturbation>& perturbations) {
  using namespace ecodyn::runner;
  Result result;
  result.model = model;
  konsts = loaded_konsts;
  if (!loaded.restart || konsts.mtype != model) {
    const Terminal t = caught([&] { ecodyn::derive_coefficients(loaded, model); });
    if (t.status != 0) {
      result.refusal = "ecodyn stops: " + message_of(t.text);
      return result;
    }
  }
  Values values{loaded.biomass, konsts.inputs, konsts.cexp, konsts.cresp, konsts.cexch};
  Cycle cycle;
  cycle.model = model;
  cycle.perturbations = perturbations;
  answers(cycle, values);  // applies them
  konsts.inputs = values.inputs;
  konsts.cexp = values.cexp;
  konsts.cresp = values.cresp;
  konsts.cexch = values.cexch;
  const State y = state_of(values.biomass, konsts.ncomp);
  if (!finite(konsts, y)) {
    result.refusal = "a biomass or coefficient is beyond single precision";
    return result;
  }
  if (model == 1 && first_not_positive(y) != 0) {
    result.refusal = "the biomass of compartment " + std::to_string(first_not_positive(y)) +
                     " is not above zero, where generic predator control has no rates "
                     "(ecodyn stops: BIOMASS DRIVEN NEGATIVE.)";
    return result;
  }
  result.analysis = analyse(konsts, y);
  return result;
}

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

// A compartment is at rest when its rate of change is within the network's
// balance tolerance, as ecodyn's balance check judges a network, or within
// this fraction of its throughput, which single-precision flows reach.
constexpr double rest_fraction = 1.0e-5;

// Returns whether the state is an equilibrium: every compartment at rest.
bool at_rest(const Study& s, const Analysis& a) {
  for (std::size_t i = 0; i < a.rates.size(); ++i) {
    const double r = std::fabs(a.rates[i]);
    if (!(r < s.balance_tolerance || r <= rest_fraction * a.throughputs[i])) return false;
  }
  return true;
}

// Returns the parts after the label, separated by blanks, in lines of at
// most 78 characters (a part never broken), the later lines indented as far
// as the label.
std::string wrapped(const std::string& label, const std::vector<std::string>& parts) {
  std::string text = label;
  std::size_t column = label.size();
  for (std::size_t p = 0; p < parts.size(); ++p) {
    if (p > 0 && column + 1 + parts[p].size() > 78) {
      text += "\n" + std::string(label.size(), ' ');
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
  return std::fabs(a.dominant.value.imag()) > neutral_fraction * a.largest_magnitude;
}

void report(const Study& s, const Options& o, std::string& out) {
  out += s.title + "\n";
  out += o.network + ", description " + std::to_string(s.index) + " of " +
         std::to_string(s.count) + ": " + std::to_string(s.ncomp) + " compartments, " +
         std::to_string(s.nliv) + " living";
  if (s.mtype > 0) {
    out += "; a snapshot of model " + std::to_string(s.mtype) + " at time " +
           num(s.time, 7);
  }
  out += "\nstate: the " + std::string(s.mtype > 0 ? "snapshot's" : "network's") + " biomasses" +
         (o.perturb.empty() ? "" : ", after " + std::to_string(o.perturb.size()) +
                                       " perturbation" + (o.perturb.size() == 1 ? "" : "s")) +
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
        out += "  verdict:      NEUTRAL: the slowest mode neither grows nor decays (its rate is\n"
               "                within a billionth of the fastest mode's of zero): departures\n"
               "                along it persist\n";
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
      out += "0: stable without self-damping\n";
    } else {
      out += num(*a.s_min) + " per time unit of self-damping on every living compartment\n"
             "                makes the state stable\n";
    }
  }
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

void json(const Study& s, const Options& o, std::string& out) {
  out += "{\"network\": " + json_string(o.network) + ", \"title\": " + json_string(s.title) +
         ", \"description\": " + std::to_string(s.index) +
         ", \"compartments\": " + std::to_string(s.ncomp) +
         ", \"living\": " + std::to_string(s.nliv) +
         ", \"snapshot_model\": " + (s.mtype > 0 ? std::to_string(s.mtype) : "null") +
         ", \"time\": " + (s.mtype > 0 ? json_number(s.time) : "null") + ", \"names\": [";
  for (int i = 1; i <= s.ncomp; ++i) out += (i > 1 ? ", " : "") + json_string(s.names[i]);
  out += "], \"perturbations\": [";
  for (std::size_t p = 0; p < o.perturb.size(); ++p) {
    out += (p ? ", " : "") + json_string(o.perturb[p]);
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
           "\", \"equilibrium\": " + (at_rest(s, a) ? "true" : "false") +
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

// Writes the records, each ended with CRLF, to the file, whole or not at
// all; false after a diagnostic.
bool write_records(const std::string& path, const std::vector<std::string>& records) {
  std::string error;
  ecodyn::tools::OutputFile file;
  if (!file.open(output_unit, path, error)) {
    complain(error);
    return false;
  }
  for (const std::string& r : records) {
    const std::string line = r + "\r";
    fio::write(output_unit, "(A)", fio::ConstChars{line.data(), static_cast<int>(line.size())});
  }
  if (!file.commit(error)) {
    complain(error);
    return false;
  }
  return true;
}

int run(const Options& o) {
  // The outputs are checked before anything is read or written.
  std::string error;
  for (const std::string* path : {&o.csv, &o.jacobian}) {
    if (!path->empty() && !ecodyn::tools::replaceable(*path, {o.network}, error)) {
      complain(error);
      return exit_failure;
    }
  }
  if (!o.csv.empty() && !o.jacobian.empty() &&
      (ecodyn::tools::same_file(o.csv, o.jacobian) ||
       ecodyn::tools::link_target(o.csv) == ecodyn::tools::link_target(o.jacobian))) {
    complain("--csv and --jacobian name the same file, " + o.csv);
    return exit_failure;
  }

  static ecodyn::Network net;
  Study study;
  if (!choose(o, net, study)) return exit_failure;
  if (study.ncomp == 0) {
    Diagnostics(o.network).error(0, "description " + std::to_string(study.index) +
                                        " has no compartments");
    return exit_failure;
  }
  std::vector<ecodyn::runner::Perturbation> perturbations;
  static Konsts loaded;
  loaded = konsts;
  try {
    for (const std::string& p : o.perturb) {
      perturbations.push_back(ecodyn::runner::parse_perturbation(p, study.names));
    }
    for (const int model : o.models) {
      study.results.push_back(analyse_model(model, net, loaded, perturbations));
    }
  } catch (const ecodyn::runner::ScenarioError& e) {
    complain(e.what());
    return exit_failure;
  } catch (const std::runtime_error& e) {
    complain(e.what());
    return exit_failure;
  }

  if (!o.csv.empty() && !write_records(o.csv, eigenvalue_records(study))) return exit_failure;
  if (!o.jacobian.empty() && !write_records(o.jacobian, jacobian_records(study))) {
    return exit_failure;
  }
  std::string out;
  if (o.json) {
    json(study, o, out);
  } else {
    report(study, o, out);
  }
  errno = 0;
  if (std::fwrite(out.data(), 1, out.size(), stdout) != out.size() || std::fflush(stdout) != 0) {
    complain(std::string("cannot write standard output: ") + std::strerror(errno ? errno : EIO));
    return exit_failure;
  }
  int status = fio::exit_normal;
  for (const Result& r : study.results) {
    if (!r.refusal.empty()) {
      complain("model " + std::to_string(r.model) + " not analysed: " + r.refusal);
      status = fio::exit_error_stop;
    }
  }
  return status;
}

constexpr const char* description =
    "Tells whether the state of a network is stable under ecodyn's dynamic models: the "
    "Jacobian of the model ecodyn would run, its eigenvalues and what they mean.";

constexpr const char* footer =
    R"(NETWORK is a network file or a snapshot file; the description analysed is
the last in the file unless --index or --time picks another (--time: the
snapshot at that time, to three decimals, or else the nearest within half
the spacing of the times, with a warning). The model of each type is the one
ecodyn would run: the coefficients derived by ecodyn's own derivation (a
snapshot under its own model type keeps the coefficients it carries), then
the changes of --perturb, as ecodyn-run applies them. The state is the
biomasses (a snapshot's: its state), after any biomass perturbation.

For each model type the report tells whether the state is an equilibrium
(every rate of change within the network's balance tolerance or within a
hundred-thousandth of the compartment's throughput; otherwise the analysis
describes the model linearized at a state that moves), the verdict (stable
when every eigenvalue's real part is below zero, neutral when the largest
lies within a billionth of the largest eigenvalue's magnitude of zero), the
dominant eigenvalue, the return time 1/|Re| of the slowest mode (or the
growth time of the fastest growing one), its period 2*pi/|Im| when it
oscillates, the compartments carrying most of its eigenvector, and s_min:
the smallest self-damping added to every living compartment's diagonal that
makes the state stable, to four significant digits.

--csv writes the eigenvalues (model,real,imaginary,rank; rank 1 the dominant)
and --jacobian the matrices (model,number,compartment, then one column per
compartment: J(i,j) is the change of compartment i's rate with compartment
j's biomass), both as RFC 4180 CSV with CRLF line ends and every value to
full double precision. --json writes the results as JSON on standard output
instead of the report. An output file is written whole or not at all.

Exit status: 0 when every model type was analysed; 1 when one could not be
(ecodyn would stop: its message on standard error), the others reported; 2
for an option, network, perturbation or file that cannot be used.)";

}  // namespace

int main(int argc, char** argv) {
  fio::set_program_name("ecodyn-stability");

  CLI::App app{description, "ecodyn-stability"};
  Options o;
  app.add_option("NETWORK", o.network, "network file or snapshot file to analyse")
      ->type_name("FILE")
      ->required();
  app.add_option("--model", o.models, "model types: 1 generic predator control, 2 linear donor "
                                      "control, 3 damped Lotka-Volterra")
      ->delimiter(',')
      ->check(CLI::Range(1, 3))
      ->type_name("LIST")
      ->allow_extra_args(false)
      ->capture_default_str();
  app.add_option("--perturb", o.perturb, "a change before the analysis, as ecodyn-run takes it: "
                                         "KIND:COMPARTMENT=VALUE or KIND:COMPARTMENT=xFACTOR "
                                         "(repeatable)")
      ->type_name("CHANGE")
      ->allow_extra_args(false);
  CLI::Option* index =
      app.add_option("--index", o.index, "analyse this description of the file, from 1")
          ->check(CLI::PositiveNumber);
  CLI::Option* time = app.add_option("--time", o.time, "analyse the snapshot at this time")
                          ->type_name("T")
                          ->excludes(index);
  app.add_option("--csv", o.csv, "write the eigenvalues to FILE as CSV")->type_name("FILE");
  app.add_option("--jacobian", o.jacobian, "write the Jacobian to FILE as CSV")->type_name("FILE");
  app.add_flag("--json", o.json, "write the results as JSON instead of the report");
  if (const auto status = ecodyn::tools::parse_command_line(app, argc, argv, footer)) {
    return *status;
  }
  o.by_time = time->count() > 0;
  return fio::run([&] { return run(o); });
}
