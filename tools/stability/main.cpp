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
#include <string>
#include <vector>

#include "common/command_line.h"
#include "common/description.h"
#include "common/diagnostics.h"
#include "common/output_file.h"
#include "common/replaceable.h"
#include "fio/fio.h"
#include "model/coefficients.h"
#include "model/konsts.h"
#include "network/balance.h"
#include "network/loader.h"
#include "run/scenario.h"
#include "report.h"
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

struct Options {
  std::string network, csv, jacobian;
  std::vector<int> models{1, 2, 3};
  std::vector<std::string> perturb;
  int index = 0;  // 0: not given
  double time = 0;
  bool by_time = false, json = false;
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

// Returns ecodyn's message, the last line it wrote, without the
// carriage-control column: "BIOMASSES MUST BE GREATER THAN ZERO."
std::string message_of(const std::string& text) {
  std::string m;
  std::size_t from = 0;
  while (from < text.size()) {
    std::size_t end = text.find('\n', from);
    if (end == std::string::npos) end = text.size();
    const std::string line = end > from ? text.substr(from + 1, end - from - 1) : "";
    const std::size_t first = line.find_first_not_of(' ');
    if (first != std::string::npos) {
      m = line.substr(first, line.find_last_not_of(' ') - first + 1);
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
  // ecodyn checks the balance of an ordinary network before it asks for a
  // model, and stops there at a compartment without throughput.
  if (!net.restart) {
    const Terminal t = caught([&] { ecodyn::check_balance(net); });
    if (t.status != 0) {
      diagnostics.error(0, "description " + std::to_string(study.index) +
                               ": ecodyn refuses the network: " + message_of(t.text));
      return false;
    }
  }
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
  study.network = o.network;
  study.perturbations = o.perturb;
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
  const std::string out = o.json ? json(study) : report(study);
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
lies within what rounding the coefficients to single precision, and the
rates of a state not quite at rest, can move it), the
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
