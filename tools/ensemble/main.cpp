// ecodyn-ensemble: many scenarios of one network at once (model types,
// sweeps of values, draws of random factors), each member run in a worker
// process and stored, as it completes, in one SQLite database, then
// summarized over the accepted members.
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "common/command_line.h"
#include "common/diagnostics.h"
#include "common/replaceable.h"
#include "database.h"
#include "fio/fio.h"
#include "member.h"
#include "plan.h"
#include "shards.h"

namespace {

using namespace ecodyn::ensemble;
using ecodyn::tools::complain;
using Clock = std::chrono::steady_clock;

constexpr int exit_failure = fio::exit_bad_io;

struct Command {
  Options o;
  std::string output, csv;
  bool force = false;
  int jobs = 0;  // 0: the cores online
  std::string shard = "1/1";
  bool resume = false;
};

// The signals that end an ensemble early: the members received are
// committed, then the program ends by the signal.
constexpr int stopping[] = {SIGINT, SIGTERM, SIGHUP};
volatile std::sig_atomic_t signal_received = 0;
extern "C" void on_signal(int sig) {
  if (signal_received == 0) signal_received = sig;
}

std::string reason(int error) { return std::strerror(error != 0 ? error : EIO); }

// Writes all of data; false, errno set, when a write fails.
bool write_all(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t put = write(fd, data, size);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    data += put;
    size -= static_cast<std::size_t>(put);
  }
  return true;
}

// Reads exactly size bytes; false at the end of the pipe or on a failure.
bool read_all(int fd, char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t got = read(fd, data, size);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    data += got;
    size -= static_cast<std::size_t>(got);
  }
  return true;
}

// A worker has ended before its members were done.
class WorkerFailure : public std::runtime_error {
 public:
  WorkerFailure() : std::runtime_error("a worker has ended unexpectedly") {}
};

// A worker: runs the members whose numbers come on tasks, each one's
// message to results, until tasks ends.
[[noreturn]] void work(const Plan& plan, const ecodyn::scenario::Base& base, int tasks,
                       int results) {
  std::string message;
  long long member = 0;
  while (read_all(tasks, reinterpret_cast<char*>(&member), sizeof member)) {
    message.clear();
    encode(run_member(plan, base, member), message);
    if (!write_all(results, message.data(), message.size())) _exit(1);
  }
  _exit(0);
}

struct Worker {
  pid_t pid = -1;
  int tasks = -1, results = -1;
  std::string buffer;   // what has come and is not yet a whole message
  int outstanding = 0;  // members handed out and not yet back
};

// Shows on a terminal how far the ensemble has come.
class Progress {
 public:
  explicit Progress(long long total) : total_(total), shown_(isatty(2) == 1) {}

  void draw(long long done, long long accepted, bool last = false) {
    if (!shown_) return;
    const auto now = Clock::now();
    if (!last && now - drawn_ < std::chrono::milliseconds(200)) return;
    drawn_ = now;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0;
    const int width = 30;
    const int filled = total_ > 0 ? static_cast<int>(width * done / total_) : width;
    std::string left = "--";
    if (rate > 0) {
      const auto s = static_cast<long long>(static_cast<double>(total_ - done) / rate + 0.5);
      char text[32];
      std::snprintf(text, sizeof text, "%lld:%02lld", s / 60, s % 60);
      left = text;
    }
    std::fprintf(stderr, "\r[%s%s] %lld/%lld members  %lld accepted  %.1f/s  %s left ",
                 std::string(static_cast<std::size_t>(filled), '#').c_str(),
                 std::string(static_cast<std::size_t>(width - filled), ' ').c_str(), done, total_,
                 accepted, rate, left.c_str());
    if (last) std::fputc('\n', stderr);
    std::fflush(stderr);
  }

 private:
  long long total_;
  bool shown_;
  Clock::time_point start_ = Clock::now(), drawn_{};
};

// The workers and the one writer.
class Pool {
 public:
  Pool(const Plan& plan, const ecodyn::scenario::Base& base, int jobs) {
    for (int k = 0; k < jobs; ++k) {
      int tasks[2], results[2];
      if (pipe2(tasks, O_CLOEXEC) != 0)
        throw DatabaseError("cannot start a worker: " + reason(errno));
      if (pipe2(results, O_CLOEXEC) != 0) {
        close(tasks[0]);
        close(tasks[1]);
        throw DatabaseError("cannot start a worker: " + reason(errno));
      }
      const pid_t pid = fork();
      if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        for (const int sig : stopping) std::signal(sig, SIG_IGN);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        for (const Worker& w : workers_) {
          close(w.tasks);
          close(w.results);
        }
        close(tasks[1]);
        close(results[0]);
        work(plan, base, tasks[0], results[1]);
      }
      const int error = errno;
      close(tasks[0]);
      close(results[1]);
      if (pid < 0) {
        close(tasks[1]);
        close(results[0]);
        throw DatabaseError("cannot start a worker: " + reason(error));
      }
      workers_.push_back({pid, tasks[1], results[0], {}, 0});
    }
  }

  ~Pool() { stop(); }

  // Ends the workers at once.
  void stop() {
    for (Worker& w : workers_) {
      if (w.pid > 0) kill(w.pid, SIGKILL);
    }
    reap();
  }

  // Lets the workers end by themselves once their members are done.
  void finish() {
    for (Worker& w : workers_) {
      if (w.tasks >= 0) close(w.tasks);
      w.tasks = -1;
    }
    reap();
  }

  std::vector<Worker>& workers() { return workers_; }

 private:
  void reap() {
    for (Worker& w : workers_) {
      if (w.tasks >= 0) close(w.tasks);
      if (w.results >= 0) close(w.results);
      w.tasks = w.results = -1;
      while (w.pid > 0 && waitpid(w.pid, nullptr, 0) < 0 && errno == EINTR) {
      }
      w.pid = -1;
    }
  }

  std::vector<Worker> workers_;
};

// Runs the members in the workers and stores each as it comes, committed
// at most a tenth of a second or so after it came. Returns the members
// stored; stops early at a signal.
long long run_members(const Plan& plan, const ecodyn::scenario::Base& base, Database& db, int jobs,
                      const std::vector<Members>& ranges, const sigset_t& open_mask,
                      long long& accepted) {
  long long total = 0;
  for (const Members& r : ranges) total += r.size();
  Progress progress(total);
  Pool pool(plan, base, jobs);
  std::size_t range = 0;  // the next member to hand out: next of ranges[range]
  long long next = ranges.empty() ? 0 : ranges[0].first;
  long long done = 0;
  constexpr int handed = 4;  // the members each worker has in hand at most
  const auto hand_out = [&](Worker& w) {
    std::vector<long long> batch;
    while (w.outstanding < handed && range < ranges.size()) {
      if (next > ranges[range].last) {
        if (++range < ranges.size()) next = ranges[range].first;
        continue;
      }
      batch.push_back(next);
      next += ranges[range].step;
      ++w.outstanding;
    }
    if (!batch.empty() && !write_all(w.tasks, reinterpret_cast<const char*>(batch.data()),
                                     batch.size() * sizeof(long long))) {
      throw WorkerFailure();
    }
  };
  for (Worker& w : pool.workers()) hand_out(w);

  // A transaction holds the members of a tenth of a second, at most 16 of
  // them (a disk that fills loses little).
  constexpr int most_in_transaction = 16;
  bool open = false;
  int in_transaction = 0;
  Clock::time_point opened;
  const auto commit = [&] {
    if (open) db.commit();
    open = false;
    in_transaction = 0;
  };
  // For the tests: the writer stops after this many members as at SIGTERM.
  const char* stop_text = std::getenv("ECODYN_ENSEMBLE_STOP_AFTER");
  const long long stop_after = stop_text ? std::atoll(stop_text) : -1;
  std::vector<pollfd> fds;
  char chunk[65536];
  try {
    while (done < total && signal_received == 0) {
      fds.clear();
      for (const Worker& w : pool.workers()) fds.push_back({w.results, POLLIN, 0});
      timespec wait{0, 200'000'000};
      if (open) {
        const auto left = std::chrono::milliseconds(100) - (Clock::now() - opened);
        const long long ns = std::max<long long>(
            0, std::chrono::duration_cast<std::chrono::nanoseconds>(left).count());
        wait = {static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
      }
      const int ready = ppoll(fds.data(), fds.size(), &wait, &open_mask);
      if (ready < 0 && errno != EINTR) {
        throw DatabaseError("cannot wait for the workers: " + reason(errno));
      }
      for (std::size_t k = 0; ready > 0 && k < fds.size(); ++k) {
        if (fds[k].revents == 0 || done == stop_after) continue;
        Worker& w = pool.workers()[k];
        const ssize_t got = read(w.results, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) throw WorkerFailure();
        w.buffer.append(chunk, static_cast<std::size_t>(got));
        std::size_t at = 0;
        std::uint32_t size = 0;
        while (done != stop_after && w.buffer.size() - at >= sizeof size) {
          std::memcpy(&size, w.buffer.data() + at, sizeof size);
          if (w.buffer.size() - at - sizeof size < size) break;
          const Result r = decode(std::string_view(w.buffer).substr(at + sizeof size, size));
          at += sizeof size + size;
          if (!open) {
            db.begin();
            open = true;
            opened = Clock::now();
          }
          db.insert(r);
          ++done;
          accepted += r.accepted;
          --w.outstanding;
          if (++in_transaction == most_in_transaction) commit();
        }
        w.buffer.erase(0, at);
        if (done == stop_after) signal_received = SIGTERM;
        if (signal_received == 0 && w.outstanding <= handed / 2) hand_out(w);
      }
      if (open && (Clock::now() - opened >= std::chrono::milliseconds(100) || done == total)) {
        commit();
      }
      progress.draw(done, accepted);
    }
  } catch (const WorkerFailure&) {
    commit();  // the members that have come are whole
    throw;
  }
  // At a signal, what has come is committed before the workers are ended.
  commit();
  if (signal_received != 0) {
    pool.stop();
  } else {
    pool.finish();
  }
  progress.draw(done, accepted, true);
  return done;
}

// Computes the summary in `parts` processes, each reading its share of the
// step ranges from its own connection, and writes the rows as they come,
// in one transaction. db is closed meanwhile (a connection must not cross
// a fork) and open again afterwards. Returns false at a signal, the
// summary left empty.
bool summarize_in_parts(Database& db, int parts, const sigset_t& open_mask) {
  const std::string path = db.path();
  db.close(true);
  struct Part {
    pid_t pid = -1;
    int fd = -1;
    std::string buffer;
  };
  std::vector<Part> helpers;
  const auto end_all = [&](int sig) {
    for (Part& h : helpers) {
      if (sig != 0 && h.pid > 0) kill(h.pid, sig);
      if (h.fd >= 0) close(h.fd);
      int status = 0;
      while (h.pid > 0 && waitpid(h.pid, &status, 0) < 0 && errno == EINTR) {
      }
      if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) sig = sig != 0 ? sig : -1;
      h = Part{};
    }
    return sig == 0;
  };
  for (int k = 0; k < parts; ++k) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
      end_all(SIGKILL);
      throw DatabaseError("cannot start the summary: " + reason(errno));
    }
    const pid_t pid = fork();
    if (pid == 0) {
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      for (const int sig : stopping) std::signal(sig, SIG_IGN);
      close(ends[0]);
      std::string out;
      try {
        Database part = Database::open(path, true);
        part.compute_summary(
            [&](const SummaryRow& r) {
              out.append(reinterpret_cast<const char*>(&r), sizeof r);
              if (out.size() >= 65536) {
                if (!write_all(ends[1], out.data(), out.size())) _exit(1);
                out.clear();
              }
            },
            2'000'000 / static_cast<std::size_t>(parts), k, parts);
      } catch (const std::runtime_error& e) {
        complain(e.what());
        _exit(2);
      }
      _exit(write_all(ends[1], out.data(), out.size()) ? 0 : 1);
    }
    const int error = errno;
    close(ends[1]);
    helpers.push_back({pid, ends[0], {}});
    if (pid < 0) {
      end_all(SIGKILL);
      throw DatabaseError("cannot start the summary: " + reason(error));
    }
  }
  db = Database::open(path, true);
  db.begin();
  db.exec("DELETE FROM summary");
  std::vector<pollfd> fds;
  char chunk[65536];
  for (;;) {
    fds.clear();
    for (const Part& h : helpers) fds.push_back({h.fd, POLLIN, 0});
    bool open = false;
    for (const Part& h : helpers) open = open || h.fd >= 0;
    if (!open || signal_received != 0) break;
    if (ppoll(fds.data(), fds.size(), nullptr, &open_mask) < 0) {
      if (errno == EINTR) continue;
      end_all(SIGKILL);
      throw DatabaseError("cannot wait for the summary: " + reason(errno));
    }
    for (std::size_t k = 0; k < helpers.size(); ++k) {
      Part& h = helpers[k];
      if (fds[k].revents == 0) continue;
      const ssize_t got = read(h.fd, chunk, sizeof chunk);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) {
        close(h.fd);
        h.fd = -1;
        continue;
      }
      h.buffer.append(chunk, static_cast<std::size_t>(got));
      std::size_t at = 0;
      for (; h.buffer.size() - at >= sizeof(SummaryRow); at += sizeof(SummaryRow)) {
        SummaryRow r;
        std::memcpy(&r, h.buffer.data() + at, sizeof r);
        db.insert_summary(r);
      }
      h.buffer.erase(0, at);
    }
  }
  if (signal_received != 0) {
    end_all(SIGKILL);
    return false;
  }
  if (!end_all(0)) throw DatabaseError("cannot write the summary into " + path);
  db.commit();
  return true;
}

// Loads the network as the options pick it; false after a message.
bool load(const Options& o, ecodyn::scenario::Base& base) {
  const ecodyn::scenario::Outcome loaded = ecodyn::scenario::load(o.network.c_str(), o.index, base);
  if (loaded.ending == ecodyn::scenario::Ending::error_stop) {
    complain(o.network + ": ecodyn refuses the network: " + loaded.message);
    return false;
  }
  // A record the record layer could not read it has named already.
  if (loaded.ending != ecodyn::scenario::Ending::normal && loaded.message != "cannot be read") {
    complain(loaded.message.rfind("cannot", 0) == 0 ? loaded.message
                                                    : o.network + ": " + loaded.message);
  }
  return loaded.ending == ecodyn::scenario::Ending::normal;
}

// Checks every scenario's fixed changes and sweep values against the
// coefficients of its model type; throws ScenarioError for one that cannot
// be applied.
void check_scenarios(const Plan& plan, const ecodyn::scenario::Base& base) {
  for (long long s = 1; s <= plan.scenarios(); ++s) {
    const ScenarioId id = scenario_id(plan, s);
    if (ecodyn::scenario::prepare(base, id.model).ending != ecodyn::scenario::Ending::normal) {
      continue;  // the members of the scenario end in ecodyn's error stop
    }
    const std::vector<ecodyn::scenario::Change> c = changes(plan, {s, s, 1}, {});
    for (std::size_t k = 0; k < c.size(); ++k) {
      const ecodyn::scenario::Outcome o = ecodyn::scenario::apply(c[k]);
      if (o.ending != ecodyn::scenario::Ending::normal) {
        const std::string option =
            k < plan.fixed.size() ? "--perturb \"" + plan.perturb_texts[k] + "\""
                                  : "--sweep \"" + plan.sweeps[k - plan.fixed.size()].text + "\"";
        throw ScenarioError(option + " under " + label(plan, s) + ": " + o.message);
      }
    }
  }
}

// Checks that the output may be written: nothing there, or with --force a
// regular file that is not the network.
void check_output(const Command& c) {
  struct stat st;
  if ((lstat(c.output.c_str(), &st) == 0 || errno != ENOENT) && !c.force && !c.resume) {
    throw ScenarioError(c.output + " exists (--force replaces it)");
  }
  std::string error;
  if (!ecodyn::tools::replaceable(c.output, {c.o.network}, error)) throw ScenarioError(error);
  if (stat(c.output.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    throw ScenarioError("cannot write " + c.output + ": not a regular file");
  }
  if (!c.csv.empty()) {
    if (stat(c.csv.c_str(), &st) != 0) return;  // made afresh
    if (!S_ISDIR(st.st_mode)) throw ScenarioError("--csv " + c.csv + ": not a directory");
    for (const char* name : {"/summary.csv", "/outcomes.csv"}) {
      const std::string path = c.csv + name;
      if (!c.force && lstat(path.c_str(), &st) == 0) {
        throw ScenarioError(path + " exists (--force replaces it)");
      }
      std::string error;
      if (c.force && !ecodyn::tools::replaceable(path, {c.o.network, c.output}, error)) {
        throw ScenarioError(error);
      }
    }
  }
}

// Opens a database to resume: its settings must be `wanted` but for the
// program. Sets present to the members it holds; the summary is emptied
// (written anew at the end).
Database resume(const std::string& path, const Settings& wanted, std::vector<long long>& present) {
  Database db = Database::open(path, true);
  check_format(db);
  const std::string differs = resume_difference(db.read_settings(), wanted);
  if (!differs.empty()) throw ScenarioError("--resume: " + differs);
  db.exec(
      "PRAGMA journal_mode = WAL; PRAGMA synchronous = NORMAL; PRAGMA cache_size = -8192;"
      "DELETE FROM summary;");
  present = stored_members(db);
  return db;
}

// Merges the parts into one database.
int merge_parts(const std::vector<std::string>& parts, const std::string& output, bool force,
                bool partial, int jobs) {
  struct stat st;
  if ((lstat(output.c_str(), &st) == 0 || errno != ENOENT) && !force) {
    throw ScenarioError(output + " exists (--force replaces it)");
  }
  std::string error;
  if (!ecodyn::tools::replaceable(output, parts, error)) throw ScenarioError(error);
  if (stat(output.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    throw ScenarioError("cannot write " + output + ": not a regular file");
  }
  for (const int sig : stopping) {
    struct sigaction now {};
    if (sigaction(sig, nullptr, &now) == 0 && now.sa_handler == SIG_IGN) continue;
    struct sigaction handler {};
    handler.sa_handler = on_signal;
    sigaction(sig, &handler, nullptr);
  }
  Merged m;
  try {
    sigset_t open_mask;
    sigprocmask(SIG_BLOCK, nullptr, &open_mask);
    if (jobs == 0) jobs = static_cast<int>(std::max(1L, sysconf(_SC_NPROCESSORS_ONLN)));
    m = merge(parts, output, partial, &signal_received,
              [&](Database& db) { return summarize_in_parts(db, jobs, open_mask); });
  } catch (const DatabaseError&) {
    if (signal_received != 0) ecodyn::tools::end_by_signal(signal_received);
    throw;
  }
  std::printf("%lld members (shard %s), %lld trajectory rows, in %s\n", m.members,
              m.shard.c_str(), m.rows, output.c_str());
  if (std::fflush(stdout) != 0) {
    complain("cannot write standard output: " + reason(errno));
    return exit_failure;
  }
  return 0;
}

int run_ensemble(Command& c) {
  const Shard shard = parse_shard(c.shard);
  if (c.resume) {
    struct stat st;
    if (stat(c.output.c_str(), &st) != 0) {
      throw ScenarioError("--resume: " + c.output + " does not exist (" + reason(errno) + ")");
    }
  }
  check_output(c);
  ecodyn::scenario::Base base;
  if (!load(c.o, base)) return exit_failure;
  Plan plan = make_plan(c.o, base);
  plan.description = base.index;
  check_scenarios(plan, base);
  const std::string hash = file_hash(c.o.network);
  if (!base.balanced) {
    complain("note: " + c.o.network +
             " is not balanced: no member rests at its steady state, and each one shows the "
             "network settling as well as the response to its changes");
  }
  if (!c.csv.empty() && mkdir(c.csv.c_str(), 0777) != 0 && errno != EEXIST) {
    throw DatabaseError("cannot make the directory " + c.csv + ": " + reason(errno));
  }
  Settings wanted = settings(plan, hash);
  for (auto& [key, value] : wanted) {
    if (key == "shard") value = shard_text(shard);
  }
  if (c.force && !c.resume) {
    for (const char* end : {"", "-wal", "-shm", "-journal"}) {
      const std::string path = c.output + end;
      if (unlink(path.c_str()) != 0 && errno != ENOENT) {
        throw DatabaseError("cannot remove " + path + ": " + reason(errno));
      }
    }
  }
  std::vector<long long> present;
  std::optional<Database> opened;
  if (c.resume) {
    opened.emplace(resume(c.output, wanted, present));
  } else {
    opened.emplace(Database::create(c.output));
    opened->describe(plan, wanted);
  }
  Database& db = *opened;
  const std::vector<Members> ranges = members_of_shard(shard, plan.members(), present);

  // The signals that stop the ensemble are taken only while the writer
  // waits for the workers.
  sigset_t blocked, open_mask;
  sigemptyset(&blocked);
  for (const int sig : stopping) {
    struct sigaction now {};
    if (sigaction(sig, nullptr, &now) == 0 && now.sa_handler == SIG_IGN) continue;
    sigaddset(&blocked, sig);
    struct sigaction handler {};
    handler.sa_handler = on_signal;
    sigaction(sig, &handler, nullptr);
  }
  sigprocmask(SIG_BLOCK, &blocked, &open_mask);
  long long accepted = 0;
  long long done = 0;
  const int jobs =
      c.jobs > 0 ? c.jobs : static_cast<int>(std::max(1L, sysconf(_SC_NPROCESSORS_ONLN)));
  try {
    done = run_members(plan, base, db, jobs, ranges, open_mask, accepted);
  } catch (const std::runtime_error& e) {
    db.close();
    throw;
  }
  if (signal_received == 0) {
    try {
      summarize_in_parts(db, jobs, open_mask);
      if (signal_received == 0 && !c.csv.empty()) db.write_csv(c.csv);
    } catch (const std::runtime_error&) {
      db.close();
      throw;
    }
  }
  if (c.resume && signal_received == 0) {
    // The members of the database, those of earlier runs too.
    Statement all(db.handle(), "SELECT count(*), coalesce(sum(accepted), 0) FROM outcome", c.output);
    all.step();
    done = all.integer(0);
    accepted = all.integer(1);
  }
  db.close();
  if (signal_received != 0) ecodyn::tools::end_by_signal(signal_received);
  sigprocmask(SIG_SETMASK, &open_mask, nullptr);
  std::printf("%lld members of %lld scenarios, %lld accepted, in %s\n", done, plan.scenarios(),
              accepted, c.output.c_str());
  if (std::fflush(stdout) != 0) {
    complain("cannot write standard output: " + reason(errno));
    return exit_failure;
  }
  return 0;
}

// Prints the ecodyn-run command that reruns member k of the database, and
// the answers ecodyn reads from it.
int show_member(const std::string& path, long long k) {
  Settings stored;
  {
    Database db = Database::open(path);
    stored = db.read_settings();
  }
  Options o = options_of(stored);
  if (o.network.empty()) throw DatabaseError(path + ": not an ensemble database");
  ecodyn::scenario::Base base;
  if (!load(o, base)) return exit_failure;
  std::string hash;
  for (const auto& [key, value] : stored) {
    if (key == "network_hash") hash = value;
  }
  if (file_hash(o.network) != hash) {
    throw ScenarioError(o.network + " has changed since the ensemble was run (its hash differs)");
  }
  if (base.net.restart) o.start.clear();
  if (base.konsts.ncomp <= 7 || o.follow == "1,2,3,4,5,6,7") o.follow.clear();
  Plan plan = make_plan(o, base);
  plan.description = base.index;
  if (k < 1 || k > plan.members()) {
    throw ScenarioError("member " + std::to_string(k) + ": the ensemble has members 1 to " +
                        std::to_string(plan.members()));
  }
  const MemberId id = member_id(plan, k);
  const std::vector<Factor> factors = draw_factors(plan, id.draw);
  std::string text = member_command(plan, id, factors) + "\n";

  // The answers, as ecodyn-run writes them.
  ecodyn::runner::Cycle cycle;
  cycle.model = scenario_id(plan, id.scenario).model;
  cycle.restart = plan.snapshot;
  cycle.start = plan.start;
  cycle.end = plan.end;
  cycle.print = plan.print;
  for (const ecodyn::scenario::Change& ch : changes(plan, id, factors)) {
    cycle.perturbations.push_back(
        {static_cast<ecodyn::runner::Kind>(ch.kind), ch.i, ch.j, ch.factor, ch.value});
  }
  if (plan.ncomp() > 7) cycle.followed = plan.followed;
  ecodyn::runner::Values values;
  if (ecodyn::scenario::prepare(base, cycle.model).ending == ecodyn::scenario::Ending::normal) {
    using ecodyn::scenario::Kind;
    using ecodyn::scenario::target;
    for (int i = 1; i <= plan.ncomp(); ++i) {
      values.biomass(i) = target(Kind::biomass, i, 0);
      values.inputs(i) = target(Kind::input, i, 0);
      values.cexp(i) = target(Kind::export_coefficient, i, 0);
      values.cresp(i) = target(Kind::respiration_coefficient, i, 0);
      for (int j = 1; j <= plan.ncomp(); ++j) values.cexch(i, j) = target(Kind::exchange, i, j);
    }
  }
  const std::string answers = ecodyn::runner::answers(cycle, values);
  for (std::size_t from = 0; from < answers.size();) {
    const std::size_t end = answers.find('\n', from);
    text += "# " + answers.substr(from, end - from) + "\n";
    from = end == std::string::npos ? answers.size() : end + 1;
  }
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0) {
    complain("cannot write standard output: " + reason(errno));
    return exit_failure;
  }
  return 0;
}

template <class F>
int guarded(F&& f) {
  try {
    return f();
  } catch (const std::runtime_error& e) {
    complain(e.what());
    return exit_failure;
  }
}

constexpr const char* description =
    "Runs many scenarios of one network at once (model types, sweeps of values, draws of random "
    "factors), each member in a worker process, and stores every member's outcome and "
    "trajectory and the summary over the accepted members in one SQLite database.";

constexpr const char* footer =
    R"(ecodyn-ensemble member DB K prints the ecodyn-run command that reruns member K
of the database DB exactly, then the answers ecodyn reads, each after '# '.

ecodyn-ensemble merge -o ALL PART... joins the shards of an ensemble
(--shard I/N: the members K with (K - 1) mod N = I - 1) into the database
a single run writes; --resume continues an interrupted database.

The scenarios are every model type of --model times every combination of
the --sweep values (the model type varying slowest, the last sweep fastest);
each has --draws members. Member K is draw d of scenario s, K = (s - 1) *
draws + d; draw d's factors come from the seed and d alone, the same in every
scenario. A member's changes are the --perturb ones, then its scenario's
sweep values, then its factors, each applied as ecodyn-run applies it.

--vary "KIND:WHICH=uniform:S%" draws a factor from 1 - S/100 to 1 + S/100,
"=lognormal:SIGMA" exp(SIGMA z), z standard normal, for every compartment
of WHICH (a number or name, all, living or nonliving; for exchange every
flow between two of them).

A member is rejected when ecodyn stops it with an error, with
--reject-extinction when a compartment goes extinct, and with --limits
LOW,HIGH when a biomass leaves LOW to HIGH times its starting value; a run
that reaches 10000 print intervals is accepted. Rejected members are kept.

The database (-o) is written as members complete; a signal (SIGINT, SIGTERM,
SIGHUP) or a full disk leaves it valid with every member completed. The
layout is in ecodyn-ensemble(5).

Exit status: 0 when every member has run; 2 for an option, network or file
that cannot be used, or a database that cannot be written; 128 + N, by the
signal, when signal N ended the ensemble.)";

}  // namespace

int main(int argc, char** argv) {
  fio::set_program_name("ecodyn-ensemble");
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);

  if (argc >= 2 && std::string(argv[1]) == "member") {
    CLI::App app{
        "Prints the ecodyn-run command, and its answers, that rerun one member of an "
        "ensemble database exactly.",
        "ecodyn-ensemble member"};
    std::string db;
    long long k = 0;
    app.add_option("DB", db, "the ensemble database")->type_name("FILE")->required();
    app.add_option("K", k, "the member")->type_name("K")->required();
    if (const auto status = ecodyn::tools::parse_command_line(app, argc - 1, argv + 1, "")) {
      return *status;
    }
    return fio::run([&] { return guarded([&] { return show_member(db, k); }); });
  }

  if (argc >= 2 && std::string(argv[1]) == "merge") {
    CLI::App app{
        "Merges the parts of an ensemble (shards, or merges of shards) into the database a "
        "single run writes, summary included.",
        "ecodyn-ensemble merge"};
    std::vector<std::string> parts;
    std::string output;
    bool force = false, partial = false;
    int jobs = 0;
    app.add_option("PART", parts, "the parts' databases")->type_name("FILE")->required();
    app.add_option("-o,--output", output, "the database to write")->type_name("FILE")->required();
    app.add_flag("--force", force, "replace an existing database");
    app.add_option("--jobs", jobs, "processes of the summary (default: the cores online)")
        ->type_name("N")
        ->check(CLI::Range(1, 1024));
    app.add_flag("--partial", partial,
                 "merge some shards of an ensemble (all of one split), e.g. 1 and 3 of 4, into "
                 "a part labelled 1,3/4");
    if (const auto status = ecodyn::tools::parse_command_line(app, argc - 1, argv + 1, "")) {
      return *status;
    }
    return fio::run([&] { return guarded([&] { return merge_parts(parts, output, force, partial, jobs); }); });
  }

  CLI::App app{description, "ecodyn-ensemble"};
  Command c;
  Options& o = c.o;
  std::string models = "2";
  app.add_option("NETWORK", o.network, "network file or snapshot file")
      ->type_name("FILE")
      ->required();
  app.add_option("-o,--output", c.output, "the database to write")->type_name("FILE")->required();
  app.add_option("--model", models,
                 "model types, one scenario each (with the sweeps): "
                 "1 generic predator control, 2 linear donor control, "
                 "3 damped Lotka-Volterra, e.g. 2,3")
      ->type_name("LIST")
      ->capture_default_str();
  app.add_option("--start", o.start, "start time (default 0; a snapshot starts at its own time)")
      ->type_name("T");
  app.add_option("--end", o.end, "end time")->type_name("T")->required();
  app.add_option("--print", o.print, "print interval (default: a hundredth of the span)")
      ->type_name("DT");
  app.add_option("--perturb", o.perturb,
                 "a change of every member: KIND:COMPARTMENT=VALUE or "
                 "=xFACTOR, as ecodyn-run takes it (repeatable)")
      ->type_name("CHANGE")
      ->allow_extra_args(false);
  app.add_option("--sweep", o.sweep,
                 "values of one change, a scenario each: "
                 "KIND:COMPARTMENT=V1,V2,... (values or xFACTORs; repeatable)")
      ->type_name("SWEEP")
      ->allow_extra_args(false);
  app.add_option("--vary", o.vary,
                 "random factors of each draw: KIND:WHICH=uniform:S% or "
                 "KIND:WHICH=lognormal:SIGMA (repeatable)")
      ->type_name("VARY")
      ->allow_extra_args(false);
  app.add_option("--draws", o.draws, "members of each scenario (default 1)")->type_name("N");
  app.add_option("--seed", o.seed, "seed of the random factors (default 1)")->type_name("S");
  app.add_option("--record", o.record,
                 "the compartments whose trajectories are stored: all, "
                 "followed or none (default followed)")
      ->type_name("WHAT");
  app.add_option("--follow", o.follow,
                 "the 7 compartments followed, numbers or names separated "
                 "by commas (networks of more than 7; default 1 to 7)")
      ->type_name("LIST");
  app.add_flag("--reject-extinction", o.reject_extinction,
               "reject a member in which a compartment goes extinct");
  app.add_option("--limits", o.limits,
                 "reject a member in which a biomass leaves LOW to HIGH "
                 "times its starting value")
      ->type_name("LOW,HIGH");
  app.add_option("--within", o.within,
                 "the band of the resilience, a fraction of each starting "
                 "biomass (default 0.1)")
      ->type_name("F");
  app.add_option("--index", o.index,
                 "run this description of the file, from 1 (default: the "
                 "last)")
      ->check(CLI::PositiveNumber);
  app.add_option("--jobs", c.jobs, "worker processes (default: the cores online)")
      ->type_name("N")
      ->check(CLI::Range(1, 1024));
  app.add_option("--csv", c.csv, "also write DIR/summary.csv and DIR/outcomes.csv")
      ->type_name("DIR");
  app.add_flag("--force", c.force, "replace an existing database (and CSV files)");
  app.add_option("--shard", c.shard,
                 "run only shard I of N: the members K with (K - 1) mod N = I - 1 "
                 "(default 1/1)")
      ->type_name("I/N");
  app.add_flag("--resume", c.resume,
               "continue the database of -o, made with the same options: run only the "
               "members it lacks")
      ->excludes("--force");
  const auto check = [&] {
    o.models_text = models;
    o.models.clear();
    std::size_t from = 0;
    for (;;) {
      const std::size_t comma = models.find(',', from);
      const std::string m = models.substr(from, comma - from);
      if (m != "1" && m != "2" && m != "3") {
        throw CLI::ValidationError("--model",
                                   "model types are 1, 2 and 3, separated by commas: " + models);
      }
      o.models.push_back(m[0] - '0');
      if (comma == std::string::npos) break;
      from = comma + 1;
    }
  };
  if (const auto status = ecodyn::tools::parse_command_line(app, argc, argv, footer, check)) {
    return *status;
  }
  return fio::run([&] { return guarded([&] { return run_ensemble(c); }); });
}
