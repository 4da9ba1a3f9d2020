// ecodyn-run: runs one scenario of ecodyn without the dialogue. The options
// become the answers a user would type; the network, the answers and all
// that ecodyn writes are kept in a directory of their own.
#include <fcntl.h>
#include <sys/file.h>
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
#include <deque>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/command_line.h"
#include "common/description.h"
#include "common/diagnostics.h"
#include "common/replaceable.h"
#include "fio/fio.h"
#include "model/coefficients.h"
#include "model/konsts.h"
#include "network/loader.h"
#include "scenario.h"
#include "stability/stability.h"

namespace {

namespace fs = std::filesystem;
using namespace ecodyn::runner;
using ecodyn::tools::complain;
using ecodyn::tools::InputError;
using ecodyn::tools::NetworkValues;

constexpr int exit_failure = fio::exit_bad_io;

// The files of a run, in its directory; the copy of the network as it was
// read is there only while the run starts, the lock while the run lasts.
constexpr const char* network_name = "fort.7";
constexpr const char* answers_name = "answers";
constexpr const char* transcript_name = "terminal.txt";
constexpr const char* csv_name = "fort.8.csv";
constexpr const char* plot_name = "fort.8.svg";
constexpr const char* copy_name = ".ecodyn-run.input";
constexpr const char* lock_name = ".ecodyn-run.lock";
constexpr const char* const run_files[] = {network_name, answers_name,     "fort.8",  "fort.18",
                                           transcript_name, csv_name, plot_name, copy_name};

// A file or directory that ecodyn-run cannot use; the message says which
// and why.
class Failure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Returns the system's text for an error number (of EIO for none).
std::string reason(int error) { return std::strerror(error != 0 ? error : EIO); }

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
// The directory of a run, claimed while the run lasts by a lock (flock(2))
// on DIR/.ecodyn-run.lock. ecodyn and the companions inherit the lock, so
// that it holds while any of them runs; the kernel lets go of it when the
// last of them ends, however it ends, and a lock file left behind by a run
// that was killed holds nothing.
class Claim {
 public:
  // Makes the directory if need be and locks it; throws Failure if it
  // cannot be made or locked, or another run holds it.
  void take(const std::string& dir);
  // Removes the copy of the network.
  void drop_copy();
  // Removes the copy of the network and the lock, and the directory if it
  // was made for the run and holds nothing.
  void release();

  std::string copy;  // the copy of the network, once made

 private:
  std::string dir_, lock_;
  int fd_ = -1;
  bool made_ = false;
};

Claim claim;

void Claim::take(const std::string& dir) {
  dir_ = dir;
  std::error_code ec;
  made_ = fs::create_directories(dir, ec);
  if (ec || !fs::is_directory(dir, ec)) {
    throw Failure("cannot make the directory " + dir + ": " + (ec ? ec.message() : reason(ENOTDIR)));
  }
  lock_ = (fs::path(dir) / lock_name).string();
  // A lock file that a run ending just now removed after it was opened here
  // locks nothing: it is opened anew.
  for (int attempt = 0; attempt < 100; ++attempt) {
    const int fd = open(lock_.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW, 0666);
    if (fd < 0) throw Failure("cannot write " + lock_ + ": " + reason(errno));
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int error = errno;
      close(fd);
      if (error == EWOULDBLOCK) break;
      throw Failure("cannot lock " + lock_ + ": " + reason(error));
    }
    struct stat held, named;
    if (fstat(fd, &held) == 0 && stat(lock_.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
        held.st_ino == named.st_ino) {
      fd_ = fd;
      return;
    }
    close(fd);
  }
  throw Failure("cannot run in " + dir + ": another run holds it (" + lock_ + ")");
}

void Claim::drop_copy() {
  if (!copy.empty()) unlink(copy.c_str());
  copy.clear();
}

void Claim::release() {
  drop_copy();
  if (fd_ >= 0) {
    unlink(lock_.c_str());
    close(fd_);
    fd_ = -1;
  }
  if (made_) rmdir(dir_.c_str());
  made_ = false;
}

volatile std::sig_atomic_t child_pid = 0;
volatile std::sig_atomic_t signal_received = 0;

// Hands a signal on to the program running.
extern "C" void forward(int sig) {
  signal_received = sig;
  if (child_pid > 0) kill(child_pid, sig);
}

// The signals handed on: those that end a process unless caught, but for
// the faults of a program itself (SIGSEGV, SIGABRT and the like), which end
// it at once, and SIGPIPE and SIGXFSZ, which ecodyn ignores (its writes fail
// instead). One ignored when ecodyn-run starts stays ignored, in ecodyn too.
struct Forwarded {
  std::vector<int> caught, ignored;
  sigset_t set;   // the ones caught
  sigset_t mask;  // the signal mask ecodyn-run started with
} forwarded;

// Notes how the signals handed on are handled as the program starts.
void note_forwarded() {
  std::vector<int> all{SIGHUP,    SIGINT,  SIGQUIT, SIGTERM,   SIGUSR1, SIGUSR2, SIGALRM,
                       SIGVTALRM, SIGPROF, SIGIO,   SIGSTKFLT, SIGPWR,  SIGXCPU};
  for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) all.push_back(sig);
  sigemptyset(&forwarded.set);
  for (const int sig : all) {
    struct sigaction now {};
    const bool ignored = sigaction(sig, nullptr, &now) == 0 && now.sa_handler == SIG_IGN;
    (ignored ? forwarded.ignored : forwarded.caught).push_back(sig);
    if (!ignored) sigaddset(&forwarded.set, sig);
  }
  sigprocmask(SIG_SETMASK, nullptr, &forwarded.mask);
}

// Catches the signals handed on, without restarting what they cut short.
void catch_forwarded() {
  struct sigaction handler {};
  handler.sa_handler = forward;
  for (const int sig : forwarded.caught) sigaction(sig, &handler, nullptr);
  for (const int sig : forwarded.ignored) std::signal(sig, SIG_IGN);
}

// Ends ecodyn-run by the signal that has come, if one has (the program it
// ran has ended): the copy of the network and the lock removed, nothing
// more started.
void stop_if_signalled() {
  const int sig = signal_received;
  if (sig == 0) return;
  claim.release();
  ecodyn::tools::end_by_signal(sig);
}

// Writes all of data; returns false, errno set, when a write fails.
bool write_all(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t put = write(fd, data, size);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) {
      if (put == 0) errno = EIO;
      return false;
    }
    data += put;
    size -= static_cast<std::size_t>(put);
  }
  return true;
}

// Writes text to path, replacing what is there; throws Failure saying why
// it could not.
void write_text(const fs::path& path, const std::string& text) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  int error = fd < 0 || !write_all(fd, text.data(), text.size()) ? errno : 0;
  if (fd >= 0 && close(fd) != 0 && error == 0) error = errno;
  if (error != 0) throw Failure("cannot write " + path.string() + ": " + reason(error));
}

// Opens the network file, which may be a pipe (whose writer is awaited).
int open_input(const std::string& path) {
  for (;;) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st;
    const int error = fd < 0 ? errno : fstat(fd, &st) != 0 ? errno : S_ISDIR(st.st_mode) ? EISDIR : 0;
    if (error == 0) return fd;
    if (fd >= 0) close(fd);
    stop_if_signalled();
    if (error != EINTR) throw Failure("cannot read " + path + ": " + reason(error));
  }
}

// Copies the network, read once from beginning to end as it comes, into
// the run's directory, where the run reads it; closes from.
void copy_input(int from, const std::string& name, const std::string& copy) {
  const int to = open(copy.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (to < 0) {
    close(from);
    throw Failure("cannot write " + copy + ": " + reason(errno));
  }
  claim.copy = copy;
  char buf[65536];
  std::size_t size = 0;
  int read_error = 0, write_error = 0;
  for (;;) {
    const ssize_t got = read(from, buf, sizeof buf);
    if (got < 0 && errno == EINTR) {
      stop_if_signalled();
      continue;
    }
    if (got <= 0) {
      read_error = got < 0 ? errno : 0;
      break;
    }
    if (!write_all(to, buf, static_cast<std::size_t>(got))) {
      write_error = errno;
      break;
    }
    size += static_cast<std::size_t>(got);
  }
  close(from);
  if (close(to) != 0 && write_error == 0) write_error = errno;
  if (read_error != 0) throw Failure("cannot read " + name + ": " + reason(read_error));
  if (write_error != 0) throw Failure("cannot write " + copy + ": " + reason(write_error));
  if (size == 0) throw Failure(name + ": the file is empty");
}

// Checks that the claimed directory may take the run: it holds nothing but
// the lock or, with --force, each file of a run in it is a regular file and
// not the network given, which the run would write over.
void check_directory(const Options& o) {
  std::error_code ec;
  bool empty = true;
  for (const fs::directory_entry& e : fs::directory_iterator(o.dir, ec)) {
    empty = empty && e.path().filename() == lock_name;
  }
  if (ec) throw Failure("cannot read the directory " + o.dir + ": " + ec.message());
  if (empty) return;
  if (!o.force) {
    throw Failure(o.dir + " is not empty (--force runs there, replacing the files of a run)");
  }
  for (const char* name : run_files) {
    const std::string path = (fs::path(o.dir) / name).string();
    struct stat st;
    std::string error;
    if (lstat(path.c_str(), &st) != 0) continue;
    if (!ecodyn::tools::replaceable(path, {o.network}, error)) throw Failure(error);
    if (!S_ISREG(st.st_mode)) {
      throw Failure("cannot write " + path +
                    ": not a regular file (--force replaces only the files of a run)");
    }
  }
}

// Removes the files of an earlier run, as check_directory found them.
void remove_earlier_run(const Options& o) {
  for (const char* name : run_files) {
    const fs::path path = fs::path(o.dir) / name;
    if (unlink(path.c_str()) != 0 && errno != ENOENT) {
      throw Failure("cannot remove " + path.string() + ": " + reason(errno));
    }
  }
}

// Reads every description of the copy of the network file and keeps the
// one asked for: by --index, by --time (to the three decimals of the counts
// record, or else the nearest within half the spacing of the times, with a
// warning), or the last. Returns false after a diagnostic when there is none.
bool choose(const Options& o, const std::optional<float>& time, NetworkValues& chosen) {
  if (!fio::connect(fio::network_file, claim.copy.c_str(), true)) {
    throw Failure("cannot read " + claim.copy + ": " + reason(errno));
  }
  fio::set_file_name(fio::network_file, o.network.c_str());
  ecodyn::tools::Diagnostics diagnostics(o.network);
  static NetworkValues net;
  static ecodyn::tools::Choice choice(o.index, time ? std::optional<double>(*time) : std::nullopt);
  int count = 0;
  try {
    while (ecodyn::tools::read_description(fio::network_file, net)) {
      stop_if_signalled();  // a file of many snapshots takes a while
      choice.offer(++count, net);
    }
    const int last = fio::records_read(fio::network_file);
    if (count == 0) throw InputError(last, "the file holds no network description");
    if (choice.chosen() == nullptr) {
      const std::string held = "the file holds " + std::to_string(count) +
                               " network description" + (count == 1 ? "" : "s");
      throw InputError(last, held + (o.index > 0 ? "; there is no description " +
                                                       std::to_string(o.index)
                                                 : "; none is at time " + o.time +
                                                       " or within half the spacing of their "
                                                       "times"));
    }
  } catch (const InputError& e) {
    diagnostics.error(e.line(), e.what());
    return false;
  }
  fio::close(fio::network_file);
  chosen = *choice.chosen();
  if (choice.nearest()) {
    char at[32];
    std::snprintf(at, sizeof at, "%.3f", static_cast<double>(chosen.time));
    diagnostics.warn("", chosen.line,
                     "no description is at time " + o.time + "; the nearest, at " + at +
                         ", is taken");
  }
  return true;
}

// Returns lines first to last of a file, each with its line end.
std::string copy_lines(const std::string& file, int first, int last) {
  FILE* f = std::fopen(file.c_str(), "r");
  if (!f) throw Failure("cannot read " + file + ": " + reason(errno));
  std::string text;
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
  return text;
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
    throw Failure("cannot read " + network.string() + ": " + reason(errno));
  }
  ecodyn::load_network(net);
  fio::close(fio::network_file);
  fio::close(fio::report);
  // The linear analysis tells beforehand what the run will show: an
  // unstable steady state departs from itself under that model.
  if (!net.restart) {
    try {
      const std::string note = ecodyn::stability::instability_note(net, model);
      if (!note.empty()) complain(note);
    } catch (const fio::Stop&) {
      // ecodyn stops on this network too, and says why.
    }
  }
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

// Runs program in dir with standard input from `input` (or /dev/null) and
// standard output and error into `output` (or inherited when -1); wait is
// called while it runs. Returns the exit status, or 128 + the signal that
// ended it; -1 when it cannot be started or a signal has come before.
int run_in(const std::string& dir, const std::vector<std::string>& argv, const char* input,
           int output, const std::function<void()>& wait) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  int ready[2];
  if (pipe2(ready, O_CLOEXEC) != 0) {
    complain("cannot run " + argv[0] + ": " + reason(errno));
    return -1;
  }
  // A signal waits until the program it is handed on to is known.
  sigset_t mask;
  sigprocmask(SIG_BLOCK, &forwarded.set, &mask);
  const pid_t pid = signal_received != 0 ? -1 : fork();
  if (pid == 0) {
    for (const int sig : forwarded.caught) std::signal(sig, SIG_DFL);
    for (const int sig : {SIGPIPE, SIGXFSZ}) std::signal(sig, SIG_DFL);
    sigprocmask(SIG_SETMASK, &forwarded.mask, nullptr);
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
    const int error = errno;
    (void)!write(ready[1], &error, sizeof error);
    _exit(127);
  }
  const int fork_error = errno;
  child_pid = pid > 0 ? pid : 0;
  sigprocmask(SIG_SETMASK, &mask, nullptr);
  close(ready[1]);
  int error = fork_error;
  ssize_t got = -1;
  while (pid > 0 && (got = read(ready[0], &error, sizeof error)) < 0 && errno == EINTR) {
  }
  close(ready[0]);
  if (pid < 0 || got == sizeof error) {
    while (pid > 0 && waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    child_pid = 0;
    if (signal_received == 0) complain("cannot run " + argv[0] + ": " + reason(error));
    return -1;
  }
  wait();
  // Ended, but not reaped until no signal can be handed on to its number.
  siginfo_t info;
  while (waitid(P_PID, pid, &info, WEXITED | WNOWAIT) != 0 && errno == EINTR) {
  }
  child_pid = 0;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
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

// Passes on to standard error what a user must not miss in the transcript:
// a network that is not balanced does not rest at its own steady state, and
// the run shows it settling as well as any response to the changes.
void pass_on(const std::string& line) {
  static bool told = false;
  if (told || line != " INPUT NETWORK IS NOT BALANCED TO YOUR SPECIFICATIONS.") return;
  told = true;
  complain("ecodyn:" + line);
  complain(
      "note: the network is not at rest under any model type; the run shows it settling as well "
      "as the response to the changes (the comparison of throughputs is in the transcript; "
      "ecodyn-export --network of a snapshot of a type 2 run gives a balanced network)");
}

// Copies ecodyn's terminal output from the pipe into the transcript, line
// by line into the progress display, and keeps its last lines. Returns 0,
// or the reason the transcript could not be written.
int keep_transcript(int from, FILE* transcript, Progress& progress, std::deque<std::string>& last) {
  char buf[65536];
  std::string line;
  int error = 0;
  const auto keep = [&] {
    last.push_back(line);
    if (last.size() > 6) last.pop_front();
    line.clear();
  };
  for (;;) {
    const ssize_t got = read(from, buf, sizeof buf);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    const auto size = static_cast<std::size_t>(got);
    if (error == 0 && std::fwrite(buf, 1, size, transcript) != size) error = errno;
    for (std::size_t k = 0; k < size; ++k) {
      if (buf[k] != '\n') {
        if (line.size() < 4096) line += buf[k];
        continue;
      }
      progress.line(line);
      pass_on(line);
      keep();
    }
  }
  if (!line.empty()) keep();
  progress.draw(true);
  if (std::fflush(transcript) != 0 && error == 0) error = errno;
  return error;
}

// Runs the scenario the options give; returns the exit status. Throws for
// an option, network or file that cannot be used.
int run_scenario(Options& o) {
  // The options' values are checked before anything is read or written.
  const auto optional_real = [](const std::string& text, const char* option) {
    return text.empty() ? std::optional<float>() : parse_real(text, option);
  };
  const std::optional<float> time = optional_real(o.time, "--time");
  const std::optional<float> start = optional_real(o.start, "--start");
  const std::optional<float> print = optional_real(o.print, "--print");
  Cycle cycle;
  cycle.end = parse_real(o.end, "--end");
  cycle.snapshot = parse_real(o.snapshot, "--snapshot");

  const int input = open_input(o.network);
  if (o.dir.empty()) o.dir = fs::path(o.network).stem().string();
  const fs::path dir = o.dir;
  claim.take(o.dir);
  stop_if_signalled();
  check_directory(o);
  copy_input(input, o.network, (dir / copy_name).string());
  static NetworkValues net;
  if (!choose(o, time, net)) return exit_failure;
  const bool restart = net.mtype > 0;

  std::vector<std::string> names{""};
  for (int i = 1; i <= net.ncomp; ++i) names.push_back(net.name(i));

  cycle.restart = restart;
  if (restart && start) {
    throw ScenarioError("--start: the network is a snapshot at time " + exact_text(net.time) +
                        ", where ecodyn starts it");
  }
  cycle.start = restart ? net.time : start.value_or(0.0f);
  // The default: a hundred rows.
  cycle.print = print ? *print : (cycle.end - cycle.start) / 100.0f;
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

  const std::string description = copy_lines(claim.copy, net.line, net.end_line);
  claim.drop_copy();
  if (o.force) remove_earlier_run(o);
  std::string network;
  for (std::size_t m = 0; m < o.models.size(); ++m) network += description;
  write_text(dir / network_name, network);
  const bool derive =
      std::any_of(cycle.perturbations.begin(), cycle.perturbations.end(),
                  [](const Perturbation& p) { return changes_coefficient(p) && p.factor; });
  std::string text;
  for (const int model : o.models) {
    cycle.model = model;
    Values values = starting_values(dir / network_name, model, derive);
    text += answers(cycle, values);
  }
  write_text(dir / answers_name, text);

  // ecodyn's terminal output goes through a pipe into the transcript.
  const std::string transcript_path = (dir / transcript_name).string();
  FILE* transcript = std::fopen(transcript_path.c_str(), "we");
  if (!transcript) throw Failure("cannot write " + transcript_path + ": " + reason(errno));
  int pipe_ends[2];
  if (pipe2(pipe_ends, O_CLOEXEC) != 0) {
    const int error = errno;
    std::fclose(transcript);
    throw Failure("cannot run ecodyn: " + reason(error));
  }
  // Every cycle has the same times, whatever its model type.
  Progress progress(std::vector<int>(o.models.size(), expected_rows(cycle)));
  std::string ecodyn = o.ecodyn.empty() ? companion("ecodyn", "run") : o.ecodyn;
  // It runs in the directory of the run.
  if (ecodyn.find('/') != std::string::npos) ecodyn = fs::absolute(ecodyn).string();
  int transcript_error = 0;
  std::deque<std::string> last;
  int status = run_in(o.dir, {ecodyn}, answers_name, pipe_ends[1], [&] {
    close(pipe_ends[1]);
    pipe_ends[1] = -1;
    transcript_error = keep_transcript(pipe_ends[0], transcript, progress, last);
  });
  close(pipe_ends[0]);
  if (pipe_ends[1] >= 0) close(pipe_ends[1]);
  if (std::fclose(transcript) != 0 && transcript_error == 0) transcript_error = errno;
  stop_if_signalled();
  if (status < 0) return exit_failure;
  if (transcript_error != 0) {
    complain("cannot write " + transcript_path + ": " + reason(transcript_error));
  }
  if (status != 0) {
    complain("ecodyn ended with status " + std::to_string(status) + " in " + o.dir +
             "; the end of its terminal output:");
    for (const std::string& l : last) std::fprintf(stderr, "%s\n", l.c_str());
    return status;
  }
  if (transcript_error != 0) return exit_failure;
  // The picture names each cycle by its model type.
  static const char* const model_names[] = {"", "generic predator control", "linear donor control",
                                            "damped Lotka-Volterra"};
  std::string cycle_labels;
  for (const int model : o.models)
    cycle_labels += (cycle_labels.empty() ? "" : ",") + ("model " + std::to_string(model) + " (") +
                    model_names[model] + ")";
  const auto tool = [&](const char* name, const char* folder, const char* output) {
    std::vector<std::string> args{companion(name, folder), "fort.8", "-o", output};
    if (std::string_view(name) == "ecodyn-plot") args.insert(args.end(), {"--cycle-labels", cycle_labels});
    const int s = run_in(o.dir, args, nullptr, -1, [] {});
    stop_if_signalled();
    return s < 0 ? exit_failure : s;
  };
  if (o.csv && (status = tool("ecodyn-csv", "csv", csv_name)) != 0) return status;
  if (o.plot && (status = tool("ecodyn-plot", "plot", plot_name)) != 0) return status;
  return 0;
}

int run(Options& o) {
  // The copy of the network and the lock go however the run ends.
  const struct Release {
    ~Release() { claim.release(); }
  } release;
  catch_forwarded();
  try {
    return run_scenario(o);
  } catch (const std::runtime_error& e) {
    complain(e.what());
    return exit_failure;
  }
}

constexpr const char* description =
    "Runs one scenario of ecodyn without the dialogue: the options become the answers, and the "
    "network, the answers and everything ecodyn writes are kept in a directory.";

constexpr const char* footer =
    R"(NETWORK is a network file or a snapshot file, or a pipe (read once); the
description run is the last in the file unless --index or --time picks
another. It is copied to DIR/fort.7, once for each model type of --model
(one cycle each), and the answers go to DIR/answers, as a user would type
them: `ecodyn < answers` in DIR runs the scenario again. ecodyn writes
DIR/fort.8, DIR/fort.18 and its terminal output DIR/terminal.txt; --csv adds
DIR/fort.8.csv (ecodyn-csv), --plot DIR/fort.8.svg (ecodyn-plot).

DIR is locked while the run lasts (DIR/.ecodyn-run.lock): a second run there
is refused. --force removes the regular files of an earlier run named as
above, and refuses anything else under those names, the network given
included.

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
that cannot be used; 128 + N when ecodyn was ended by signal N. A signal to
ecodyn-run that ends ecodyn (SIGINT, SIGTERM, SIGQUIT and the like) is
handed on to it, and ecodyn-run then ends by that signal.)";

}  // namespace

int main(int argc, char** argv) {
  fio::set_program_name("ecodyn-run");
  note_forwarded();

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
  app.add_flag("--force", o.force,
               "run in a directory that is not empty, replacing the files of an earlier run");
  app.add_flag("--csv", o.csv, "also write the tables as fort.8.csv");
  app.add_flag("--plot", o.plot, "also draw the tables as fort.8.svg");
  app.add_option("--ecodyn", o.ecodyn, "the ecodyn to run (default: the one beside ecodyn-run)")
      ->type_name("PROGRAM");
  if (const auto status = ecodyn::tools::parse_command_line(app, argc, argv, footer)) {
    return *status;
  }
  return fio::run([&] { return run(o); });
}
