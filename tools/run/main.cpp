// ecodyn-run: runs one scenario of ecodyn without the dialogue. The options
// become the answers a user would type; the network, the answers and all
// that ecodyn writes are kept in a directory of their own.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "common/description.h"
#include "common/command_line.h"
#include "common/diagnostics.h"
#include "fio/fio.h"
#include "model/coefficients.h"
#include "model/konsts.h"
#include "network/loader.h"
#include "scenario.h"

namespace {

namespace fs = std::filesystem;
using namespace ecodyn::runner;
using ecodyn::tools::complain;
using ecodyn::tools::InputError;
using ecodyn::tools::NetworkValues;

constexpr int exit_failure = fio::exit_bad_io;

// The files of a run, in its directory.
constexpr const char* network_name = "fort.7";
constexpr const char* answers_name = "answers";
constexpr const char* transcript_name = "terminal.txt";
constexpr const char* csv_name = "fort.8.csv";
constexpr const char* plot_name = "fort.8.svg";
constexpr const char* const run_files[] = {network_name, answers_name, "fort.8", "fort.18",
                                           transcript_name, csv_name, plot_name};

struct Options {
  std::string network, dir, ecodyn;
  std::vector<int> models{2};
  std::string start, end, print, snapshot = "0";
  int index = 0;  // 0: not given
  std::string time;
  std::string follow;
  std::vector<std::string> perturb;
  bool force = false, csv = false, plot = false;
};

// The description picked from the network file, and where it stands.
struct Chosen {
  NetworkValues net;
  int first_line = 0, last_line = 0;
};

float real_option(const std::string& text, const char* option) {
  const std::optional<float> v = parse_real(text);
  if (!v) throw ScenarioError(std::string(option) + ": '" + text + "' is not a number");
  return *v;
}

// Reads every description of the network file and keeps the one asked for:
// by --index, by --time (to the three decimals of the counts record), or
// the last. Returns false after a diagnostic when there is none.
bool choose(const Options& o, Chosen& chosen) {
  struct stat st;
  const int reason = stat(o.network.c_str(), &st) != 0 ? errno : S_ISDIR(st.st_mode) ? EISDIR : 0;
  if (reason != 0 || !fio::connect(fio::network_file, o.network.c_str(), true)) {
    complain("cannot read " + o.network + ": " + std::strerror(reason ? reason : errno ? errno : EIO));
    return false;
  }
  const ecodyn::tools::Diagnostics diagnostics(o.network);
  const long long wanted_time =
      o.time.empty() ? 0 : std::llround(real_option(o.time, "--time") * 1000.0);
  static NetworkValues net;
  int count = 0;
  bool found = false;
  try {
    while (ecodyn::tools::read_description(fio::network_file, net)) {
      ++count;
      const bool wanted = o.index > 0       ? o.index == count
                          : !o.time.empty() ? std::llround(net.time * 1000.0) == wanted_time
                                            : true;
      if (wanted) {
        chosen.net = net;
        chosen.first_line = net.line;
        chosen.last_line = fio::records_read(fio::network_file);
        found = true;
      }
    }
    const int last = fio::records_read(fio::network_file);
    if (count == 0) throw InputError(last, "the file holds no network description");
    if (!found) {
      const std::string held = "the file holds " + std::to_string(count) +
                               " network description" + (count == 1 ? "" : "s");
      throw InputError(last, held + (o.index > 0 ? "; there is no description " +
                                                       std::to_string(o.index)
                                                 : "; none is at time " + o.time));
    }
  } catch (const InputError& e) {
    diagnostics.error(e.line(), e.what());
    return false;
  }
  fio::close(fio::network_file);
  return true;
}

// Makes the directory of the run; a directory that holds anything is used
// only with --force, which removes the files of an earlier run.
bool prepare_directory(const Options& o) {
  std::error_code ec;
  fs::create_directories(o.dir, ec);
  if (ec || !fs::is_directory(o.dir, ec)) {
    complain("cannot make the directory " + o.dir + ": " +
             (ec ? ec.message() : std::string(std::strerror(ENOTDIR))));
    return false;
  }
  if (!fs::is_empty(o.dir, ec) && !o.force) {
    complain(o.dir + " is not empty (--force runs there, replacing the files of a run)");
    return false;
  }
  for (const char* f : run_files) fs::remove(fs::path(o.dir) / f, ec);
  return true;
}

bool write_text(const fs::path& path, const std::string& text) {
  FILE* f = std::fopen(path.c_str(), "w");
  bool ok = f && std::fwrite(text.data(), 1, text.size(), f) == text.size();
  if (f && std::fclose(f) != 0) ok = false;
  if (!ok) complain("cannot write " + path.string() + ": " + std::strerror(errno ? errno : EIO));
  return ok;
}

// Returns lines first to last of a file, each with its line end.
bool copy_lines(const std::string& file, int first, int last, std::string& text) {
  FILE* f = std::fopen(file.c_str(), "r");
  if (!f) {
    complain("cannot read " + file + ": " + std::strerror(errno));
    return false;
  }
  char* line = nullptr;
  std::size_t capacity = 0;
  for (int n = 1; n <= last; ++n) {
    const ssize_t got = getline(&line, &capacity, f);
    if (got < 0) break;
    if (n < first) continue;
    text.append(line, static_cast<std::size_t>(got));
    if (text.back() != '\n') text += '\n';
  }
  std::free(line);
  std::fclose(f);
  return true;
}

// The values the perturbations of a cycle under `model` start from, taken
// the way ecodyn takes them: the network loaded from the run's own network
// file and, when a coefficient is changed, the coefficients derived by the
// program's own derivation (a snapshot run under its own model type keeps
// those it carries).
Values starting_values(const fs::path& network, int model, bool derive) {
  static ecodyn::Network net;
  if (!fio::connect(fio::network_file, network.c_str(), true) ||
      !fio::connect(fio::report, "/dev/null", false)) {
    throw ScenarioError("cannot read " + network.string() + ": " + std::strerror(errno));
  }
  ecodyn::load_network(net);
  fio::close(fio::network_file);
  fio::close(fio::report);
  if (derive && (!net.restart || model != ecodyn::konsts.mtype)) {
    ecodyn::derive_coefficients(net, model);
  }
  const ecodyn::Konsts& k = ecodyn::konsts;
  return {net.biomass, k.inputs, k.cexp, k.cresp, k.cexch};
}

// Returns the program `name` beside this one (in an installation), or where
// the build tree has it: in the folder `folder` beside this one's (the other
// companion programs), or two folders up (ecodyn); otherwise the name, to
// be found on the PATH.
std::string companion(const std::string& name, const std::string& folder) {
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec).parent_path();
  if (!ec) {
    for (const fs::path& p : {self / name, self.parent_path() / folder / name,
                              self.parent_path().parent_path() / name}) {
      if (access(p.c_str(), X_OK) == 0) return p.string();
    }
  }
  return name;
}

volatile std::sig_atomic_t child_pid = 0;
volatile std::sig_atomic_t signal_received = 0;

// Hands an interrupt or termination on to the program running.
extern "C" void forward(int sig) {
  signal_received = sig;
  if (child_pid > 0) kill(child_pid, sig);
}

// Runs program in dir with standard input from `input` (or /dev/null) and
// standard output and error into `output` (or inherited when -1). Returns
// the exit status, or 128 + the signal that ended it; -1 when it cannot be
// started.
int run_in(const std::string& dir, const std::vector<std::string>& argv, const char* input,
           int output, const std::function<void(int)>& wait) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  int ready[2];
  if (pipe2(ready, O_CLOEXEC) != 0) return -1;
  const pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    for (const int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGXFSZ}) std::signal(sig, SIG_DFL);
    const bool there = chdir(dir.c_str()) == 0;
    const int in = there ? open(input ? input : "/dev/null", O_RDONLY) : -1;
    if (in >= 0 && dup2(in, 0) == 0 &&
        (output < 0 || (dup2(output, 1) == 1 && dup2(output, 2) == 2))) {
      if (argv[0].find('/') == std::string::npos) {
        execvp(args[0], args.data());
      } else {
        execv(args[0], args.data());
      }
    }
    const int reason = errno;
    (void)!write(ready[1], &reason, sizeof reason);
    _exit(127);
  }
  close(ready[1]);
  int reason = 0;
  const bool started = read(ready[0], &reason, sizeof reason) != sizeof reason;
  close(ready[0]);
  child_pid = pid;
  if (started) wait(pid);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  child_pid = 0;
  if (!started) {
    complain("cannot run " + argv[0] + ": " + std::strerror(reason));
    return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Shows, on a terminal, how far the run has come: rows written of rows
// expected, the cycle and the time taken.
class Progress {
 public:
  Progress(std::vector<int> rows) : rows_(std::move(rows)), shown_(isatty(2) == 1) {
    for (const int r : rows_) total_ += r;
  }

  // Takes one line of ecodyn's terminal output.
  void line(const std::string& l) {
    if (l.rfind("    TIME", 0) == 0) {
      ++cycle_;
    } else if (cycle_ > 0 && l.size() >= 20 && (l.size() - 10) % 10 == 0 && l[6] == '.') {
      ++done_;
    }
    draw(false);
  }

  void draw(bool last) {
    if (!shown_) return;
    const auto now = std::chrono::steady_clock::now();
    if (!last && now - drawn_ < std::chrono::milliseconds(100)) return;
    drawn_ = now;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    const int width = 30;
    const int filled = total_ > 0 ? static_cast<int>(1.0 * width * done_ / total_) : 0;
    std::fprintf(stderr, "\r[%s%s] %d/%d rows  cycle %d/%zu  %.1f s ",
                 std::string(std::min(filled, width), '#').c_str(),
                 std::string(width - std::min(filled, width), ' ').c_str(), done_, total_,
                 std::max(cycle_, 1), rows_.size(), seconds);
    if (last) std::fputc('\n', stderr);
    std::fflush(stderr);
  }

 private:
  std::vector<int> rows_;
  bool shown_;
  int total_ = 0, done_ = 0, cycle_ = 0;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now(), drawn_{};
};

// Copies ecodyn's terminal output from the pipe into the transcript, line
// by line into the progress display. Returns false if the transcript could
// not be written.
bool keep_transcript(int from, FILE* transcript, Progress& progress) {
  char buf[65536];
  std::string line;
  bool ok = true;
  for (;;) {
    const ssize_t got = read(from, buf, sizeof buf);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    ok = std::fwrite(buf, 1, static_cast<std::size_t>(got), transcript) ==
             static_cast<std::size_t>(got) && ok;
    for (ssize_t k = 0; k < got; ++k) {
      if (buf[k] != '\n') {
        line += buf[k];
        continue;
      }
      progress.line(line);
      line.clear();
    }
  }
  progress.draw(true);
  return std::fflush(transcript) == 0 && ok;
}

// Writes the end of the transcript to standard error, after a run that
// did not end normally.
void show_end(const fs::path& transcript) {
  FILE* f = std::fopen(transcript.c_str(), "r");
  if (!f) return;
  std::vector<std::string> lines;
  char* line = nullptr;
  std::size_t capacity = 0;
  while (getline(&line, &capacity, f) >= 0) {
    lines.emplace_back(line);
    if (lines.size() > 6) lines.erase(lines.begin());
  }
  std::free(line);
  std::fclose(f);
  for (const std::string& l : lines) std::fputs(l.c_str(), stderr);
}

int run(Options& o) {
  Chosen chosen;
  if (!choose(o, chosen)) return exit_failure;
  const NetworkValues& net = chosen.net;
  const bool restart = net.mtype > 0;
  if (o.dir.empty()) o.dir = fs::path(o.network).stem().string();
  const fs::path dir = o.dir;

  std::vector<std::string> names{""};
  for (int i = 1; i <= net.ncomp; ++i) names.push_back(net.name(i));

  Cycle cycle;
  std::string text;
  try {
    cycle.restart = restart;
    if (restart && !o.start.empty()) {
      throw ScenarioError("--start: the network is a snapshot at time " +
                          exact_text(net.time) + ", where ecodyn starts it");
    }
    cycle.start = restart ? net.time : o.start.empty() ? 0.0f : real_option(o.start, "--start");
    cycle.end = real_option(o.end, "--end");
    // The default: a hundred rows.
    cycle.print = o.print.empty() ? (cycle.end - cycle.start) / 100.0f
                                  : real_option(o.print, "--print");
    cycle.snapshot = real_option(o.snapshot, "--snapshot");
    check_times(cycle);
    for (const std::string& p : o.perturb) cycle.perturbations.push_back(parse_perturbation(p, names));
    if (!o.follow.empty()) {
      if (net.ncomp <= 7) {
        throw ScenarioError("--follow: the network has " + std::to_string(net.ncomp) +
                            " compartments, and ecodyn tabulates all of them");
      }
      std::size_t from = 0;
      for (;;) {
        const std::size_t comma = o.follow.find(',', from);
        cycle.followed.push_back(
            find_compartment(names, o.follow.substr(from, comma - from), "--follow"));
        if (comma == std::string::npos) break;
        from = comma + 1;
      }
      if (cycle.followed.size() != 7) {
        throw ScenarioError("--follow: ecodyn tabulates exactly 7 compartments; " +
                            std::to_string(cycle.followed.size()) + " given");
      }
    } else if (net.ncomp > 7) {
      cycle.followed = {1, 2, 3, 4, 5, 6, 7};
    }
    if (!prepare_directory(o)) return exit_failure;

    std::string description;
    if (!copy_lines(o.network, chosen.first_line, chosen.last_line, description)) {
      return exit_failure;
    }
    std::string network;
    for (std::size_t m = 0; m < o.models.size(); ++m) network += description;
    if (!write_text(dir / network_name, network)) return exit_failure;

    const bool derive =
        std::any_of(cycle.perturbations.begin(), cycle.perturbations.end(),
                    [](const Perturbation& p) { return changes_coefficient(p) && p.factor; });
    for (const int model : o.models) {
      cycle.model = model;
      Values values = starting_values(dir / network_name, model, derive);
      text += answers(cycle, values);
    }
  } catch (const ScenarioError& e) {
    complain(e.what());
    return exit_failure;
  }
  if (!write_text(dir / answers_name, text)) return exit_failure;

  // ecodyn's terminal output goes through a pipe into the transcript.
  FILE* transcript = std::fopen((dir / transcript_name).c_str(), "w");
  int pipe_ends[2];
  if (!transcript || pipe2(pipe_ends, O_CLOEXEC) != 0) {
    complain("cannot write " + (dir / transcript_name).string() + ": " + std::strerror(errno));
    return exit_failure;
  }
  // Every cycle has the same times, whatever its model type.
  Progress progress(std::vector<int>(o.models.size(), expected_rows(cycle)));
  struct sigaction handler {};
  handler.sa_handler = forward;
  for (const int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &handler, nullptr);

  std::string ecodyn = o.ecodyn.empty() ? companion("ecodyn", "run") : o.ecodyn;
  // It runs in the directory of the run.
  if (ecodyn.find('/') != std::string::npos) ecodyn = fs::absolute(ecodyn).string();
  bool kept = true;
  int status = run_in(o.dir, {ecodyn}, answers_name, pipe_ends[1], [&](int) {
    close(pipe_ends[1]);
    pipe_ends[1] = -1;
    kept = keep_transcript(pipe_ends[0], transcript, progress);
  });
  close(pipe_ends[0]);
  if (pipe_ends[1] >= 0) close(pipe_ends[1]);
  if (std::fclose(transcript) != 0) kept = false;
  if (signal_received != 0) {
    std::signal(signal_received, SIG_DFL);
    std::raise(signal_received);
  }
  if (status < 0) return exit_failure;
  if (!kept) {
    complain("cannot write " + (dir / transcript_name).string());
    return exit_failure;
  }
  if (status != 0) {
    complain("ecodyn ended with status " + std::to_string(status) + " in " + o.dir +
             "; the end of " + (dir / transcript_name).string() + ":");
    show_end(dir / transcript_name);
    return status;
  }
  const auto tool = [&](const char* name, const char* folder, const char* output) {
    const int s = run_in(o.dir, {companion(name, folder), "fort.8", "-o", output}, nullptr, -1,
                         [](int) {});
    return s < 0 ? exit_failure : s;
  };
  if (o.csv && (status = tool("ecodyn-csv", "csv", csv_name)) != 0) return status;
  if (o.plot && (status = tool("ecodyn-plot", "plot", plot_name)) != 0) return status;
  return 0;
}

constexpr const char* description =
    "Runs one scenario of ecodyn without the dialogue: the options become the answers, and the "
    "network, the answers and everything ecodyn writes are kept in a directory.";

constexpr const char* footer =
    R"(NETWORK is a network file or a snapshot file; the description run is the
last in the file unless --index or --time picks another. It is copied to
DIR/fort.7, once for each model type of --model (one cycle each), and the
answers go to DIR/answers, as a user would type them: `ecodyn < answers` in
DIR runs the scenario again. ecodyn writes DIR/fort.8, DIR/fort.18 and its
terminal output DIR/terminal.txt; --csv adds DIR/fort.8.csv (ecodyn-csv),
--plot DIR/fort.8.svg (ecodyn-plot).

Compartments are given by number or by name: a name matches, ignoring case,
the compartment named so, or else the one compartment whose name contains
it; an unknown or ambiguous name is refused with the candidates listed.

--perturb KIND:COMPARTMENT=VALUE sets a value before the run, KIND one of
biomass, input, export, respiration (the coefficients of the model) and
exchange, which takes two compartments: "exchange:3,5=0.2" for the flow from
3 to 5. =xFACTOR multiplies the value ecodyn shows as OLD VALUE, at full
single precision; perturbations apply in the order given, in every cycle.

The times are checked as ecodyn's dialogue checks them. With a terminal on
standard error a progress bar shows the rows written.

Exit status: ecodyn's (0 normal end, 1 an error stop of the model, 2 a file
or an answer that cannot be used); 2 for an option, network or directory
that cannot be used; 128 + N when ecodyn was ended by signal N.)";

}  // namespace

int main(int argc, char** argv) {
  fio::set_program_name("ecodyn-run");

  CLI::App app{description, "ecodyn-run"};
  Options o;
  app.add_option("NETWORK", o.network, "network file or snapshot file to run")
      ->type_name("FILE")
      ->required();
  app.add_option("--model", o.models, "model types, one cycle each: 1 generic predator control, "
                                      "2 linear donor control, 3 damped Lotka-Volterra")
      ->delimiter(',')
      ->check(CLI::Range(1, 3))
      ->type_name("LIST")
      ->allow_extra_args(false)
      ->capture_default_str();
  app.add_option("--start", o.start, "start time (default 0; a snapshot starts at its own time)")
      ->type_name("T");
  app.add_option("--end", o.end, "end time")->type_name("T")->required();
  app.add_option("--print", o.print, "print interval (default: a hundredth of the span)")
      ->type_name("DT");
  app.add_option("--snapshot", o.snapshot, "snapshot interval (default 0: a snapshot at the end)")
      ->type_name("DT");
  app.add_option("--follow", o.follow,
                 "the 7 compartments to tabulate, numbers or names separated by commas "
                 "(networks of more than 7 compartments; default 1 to 7)")
      ->type_name("LIST");
  app.add_option("--perturb", o.perturb, "a change before the run: KIND:COMPARTMENT=VALUE or "
                                         "KIND:COMPARTMENT=xFACTOR (repeatable)")
      ->type_name("CHANGE")
      ->allow_extra_args(false);
  CLI::Option* index =
      app.add_option("--index", o.index, "run this description of the file, from 1")
          ->check(CLI::PositiveNumber);
  app.add_option("--time", o.time, "run the snapshot at this time")->type_name("T")->excludes(index);
  app.add_option("--dir", o.dir, "directory of the run (default: the network file's name "
                                 "without extension)")
      ->type_name("DIR");
  app.add_flag("--force", o.force, "run in a directory that is not empty");
  app.add_flag("--csv", o.csv, "also write the tables as fort.8.csv");
  app.add_flag("--plot", o.plot, "also draw the tables as fort.8.svg");
  app.add_option("--ecodyn", o.ecodyn, "the ecodyn to run (default: the one beside ecodyn-run)")
      ->type_name("PROGRAM");
  if (const auto status = ecodyn::tools::parse_command_line(app, argc, argv, footer)) {
    return *status;
  }
  return fio::run([&] { return run(o); });
}
