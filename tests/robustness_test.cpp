// Faults from outside: closed standard streams, endless network files,
// signals at any moment, a file-size limit, null answers, and a write or
// read that fails at any record. The network file is never touched, the
// program never hangs, and every record written before the fault is kept.
// The record layer's read outcomes and the counts its diagnostics name.
#include <fcntl.h>
#include <poll.h>
#include <stdio_ext.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <random>
#include <thread>

#include "fio/fio.h"
#include "run/cycle.h"
#include "support/scratch.h"

namespace {

using namespace ecodyn::test;

// True if part is a prefix of whole that ends at a line end (or is empty).
bool whole_lines_of(const std::string& part, const std::string& whole) {
  return whole.compare(0, part.size(), part) == 0 && (part.empty() || part.back() == '\n');
}

// The record layer: read outcomes, the records counted, the longest line,
// files that cannot be opened or written.
TEST(Fio, ReadOutcomesRecordCountsAndUnwritableFiles) {
  ScratchDir dir;
  write_file("fort.7", "  1\n  x\n" + std::string(65536, ' ') + "\n" + std::string(65537, ' '));
  int i = 0;
  EXPECT_EQ(fio::ok, fio::read(fio::network_file, "(I3)", i));
  EXPECT_EQ(1, i);
  EXPECT_EQ(fio::error, fio::read(fio::network_file, "(I3)", i));
  EXPECT_EQ(2, fio::records_read(fio::network_file));  // an unreadable record counts
  EXPECT_EQ(fio::ok, fio::read(fio::network_file, "(I3)", i));  // the longest line there is
  EXPECT_THROW(fio::read(fio::network_file, "(I3)", i), fio::Stop);
  EXPECT_EQ(4, fio::records_read(fio::network_file));
  EXPECT_EQ(fio::end, fio::read(fio::network_file, "(I3)", i));
  fio::close(fio::network_file);
  fs::remove("fort.7");
  fs::create_directory("fort.7");
  EXPECT_FALSE(fio::connect(fio::network_file, "fort.7", true));
  EXPECT_EQ(EISDIR, errno);
  // A report that cannot be opened, or fails only when closed: status 2.
  const auto write = [] { fio::write(fio::report, "(1X,'A')"); return 0; };
  fs::create_directory("fort.8");
  EXPECT_EQ(2, fio::run(write));
  fs::remove("fort.8");
  fs::create_symlink("/dev/full", "fort.8");
  EXPECT_EQ(2, fio::run(write));
}

// Closed, they get /dev/null: a diagnostic for a closed standard error is
// lost rather than written into the report that took its descriptor.
TEST(StandardStreams, ClosedOnesNeverLetAFileTakeTheirPlace) {
  const std::pair<const char*, const char*> cases[] = {
      {"<answers >&- 2>err", "ecodyn: cannot write the terminal: Bad file descriptor\n"},
      {"<&- >out 2>err",
       "ecodyn: no answer to the question \"which type model\": the terminal input has ended\n"},
      {"<&- >out 2>&-", ""},
  };
  for (const auto& [redirections, diagnostic] : cases) {
    ScratchDir dir;
    write_file("fort.7", two_compartments_file());
    write_file("answers", read_file(examples_dir + "two_compartments.answers"));
    EXPECT_EQ(2, shell(dir.path(), "'" ECODYN_BINARY "' " + std::string(redirections)).first);
    EXPECT_EQ(diagnostic, read_file("err"));
    EXPECT_EQ(two_compartments_file(), read_file("fort.7"));
    EXPECT_THAT(read_file("fort.8"), Not(HasSubstr("ecodyn:")));
  }
}

TEST(NetworkFile, EndlessOrHugeWithoutLineEndIsAMalformedRecord) {
  ScratchDir dir;
  for (const char* make : {"ln -s /dev/zero fort.7", "truncate -s 4G fort.7"}) {
    EXPECT_EQ(2, shell(dir.path(), "rm -f fort.7 && " + std::string(make) + " && '" ECODYN_BINARY
                                   "' </dev/null >out 2>err").first) << make;
    EXPECT_EQ("ecodyn: fort.7, line 1: unreadable record (a line longer than 65536 characters)\n",
              read_file("err"));
  }
}

// Starts ecodyn in the current directory with the answers as its input.
pid_t start_ecodyn(const char* answers) {
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(open(answers, O_RDONLY), 0);
    dup2(open("/dev/null", O_WRONLY), 1);
    dup2(open("err", O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
    execl(ECODYN_BINARY, "ecodyn", nullptr);
    _exit(127);
  }
  return pid;
}

// Waits up to ten seconds; returns the status as the shell gives it, or -1
// for a process that is still running (it is killed).
int finish(pid_t pid) {
  // Called directly: the header of glibc 2.36 lacks C linkage.
  const int fd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  if (fd < 0) throw std::runtime_error(std::string("pidfd_open: ") + std::strerror(errno));
  pollfd ended{fd, POLLIN, 0};
  const bool hangs = poll(&ended, 1, 10000) != 1;
  close(fd);
  if (hangs) kill(pid, SIGKILL);
  int raw = 0;
  waitpid(pid, &raw, 0);
  if (hangs) return -1;
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
}

// A run of 5000 rows and 100 snapshots, short enough to be interrupted
// hundreds of times; length is that of the quickest whole run seen, so that
// the signals fall within a run however fast or loaded the machine is.
class LongRun : public testing::Test {
 protected:
  void SetUp() override {
    write_file("fort.7", two_compartments_file());
    write_file("answers", "2\n0\n100\n0.02\n1\nN\n");
    for (int k = 0; k < 3; ++k) {
      const auto start = std::chrono::steady_clock::now();
      ASSERT_EQ(0, finish(start_ecodyn("answers")));
      length = std::min(length, std::chrono::steady_clock::now() - start);
    }
    report = read_file("fort.8");
    snapshots = read_file("fort.18");
  }
  ScratchDir dir;
  std::string report, snapshots;
  std::chrono::steady_clock::duration length = std::chrono::hours(1);
};

// Each run finds files of an earlier run, longer than its own and unlike
// them: a file it has written to holds its own records and nothing else.
TEST_F(LongRun, SignalsAtRandomMomentsKeepEveryRecordOnceAndNeverHang) {
  std::string earlier;
  while (earlier.size() <= std::max(report.size(), snapshots.size())) earlier += " AN EARLIER RUN\n";
  std::mt19937 random(20261207);
  int interrupted = 0;
  for (int k = 0; k < 200; ++k) {
    const int sig = k % 3 == 0 ? SIGTERM : k % 3 == 1 ? SIGINT : SIGHUP;
    write_file("fort.8", earlier);
    write_file("fort.18", earlier);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = start_ecodyn("answers");
    using Ticks = std::chrono::steady_clock::duration;
    std::this_thread::sleep_for(Ticks(std::uniform_int_distribution<Ticks::rep>(0, length.count() - 1)(random)));
    kill(pid, sig);
    const int status = finish(pid);
    ASSERT_NE(-1, status) << "hangs after signal " << sig << " in run " << k;
    ASSERT_TRUE(status == 128 + sig || status == 0) << status;
    interrupted += status != 0;
    if (status == 0) length = std::min(length, std::chrono::steady_clock::now() - start);
    for (const auto& [name, whole] : {std::pair{"fort.8", &report}, {"fort.18", &snapshots}}) {
      const std::string kept = read_file(name);
      ASSERT_TRUE(kept == earlier || whole_lines_of(kept, *whole))
          << name << " after run " << k << ", status " << status;
    }
  }
  EXPECT_GT(interrupted, 100) << "of 200 runs of " << std::chrono::duration<double, std::milli>(length).count()
                              << " ms";
}

TEST_F(LongRun, AFileSizeLimitFailsTheWriteAndKeepsWhatFitted) {
  EXPECT_EQ(2, shell(dir.path(), "ulimit -f 128 && '" ECODYN_BINARY "' <answers >/dev/null 2>err").first);
  EXPECT_THAT(read_file("err"), testing::MatchesRegex("ecodyn: cannot write fort.1?8: File too large\n"));
  EXPECT_EQ(report.substr(0, read_file("fort.8").size()), read_file("fort.8"));
  EXPECT_EQ(snapshots.substr(0, read_file("fort.18").size()), read_file("fort.18"));
}

TEST(NullAnswers, KeepTheValueTheyAnswerFor) {
  ScratchDir dir;
  std::string network = two_compartments_file();
  network.replace(network.find("  2  1\n"), 7, "  2  1  0     5.000\n");  // time 5, ordinary
  write_file("fort.7", network);
  // A lone comma for the start time, then for the new biomass of 1.
  const RunResult r = run_ecodyn(dir.path(), "2\n,\n15\n10\n0\nY\n1\n1\n,\nN\n");
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_THAT(r.out, HasSubstr("\n     5.000  .100E+02  .200E+02\n"));
  EXPECT_THAT(read_file("fort.8"), HasSubstr("\n BIOMASS IN  1 =  .1000E+02\n"));
}

// Runs the whole program in this process in the current directory, with
// the answers on standard input; the terminal and standard error go to files.
int run_in_process(const std::string& answers) {
  std::fflush(nullptr);
  const int saved[3] = {dup(0), dup(1), dup(2)};
  const int files[3] = {open(answers.c_str(), O_RDONLY), open("terminal", O_WRONLY | O_CREAT | O_TRUNC, 0644),
                        open("err", O_WRONLY | O_CREAT | O_TRUNC, 0644)};
  for (int fd = 0; fd < 3; ++fd) { dup2(files[fd], fd); close(files[fd]); }
  __fpurge(stdin);
  std::clearerr(stdin);
  const int status = ecodyn::run_program();
  std::fflush(nullptr);
  for (int fd = 0; fd < 3; ++fd) { dup2(saved[fd], fd); close(saved[fd]); }
  __fpurge(stdin);
  std::clearerr(stdin);
  return status;
}

// The n-th write, then the n-th read, made to fail for n = 1, 2, ... until
// the run completes: each time status 2, a diagnostic naming the file or the
// question, and every record before the fault kept in every file.
TEST(FaultInjection, EveryWriteAndReadOfAWholeExampleCanFail) {
  ScratchDir dir;
  write_file("fort.7", read_file(examples_dir + "grazing_chain.net"));
  write_file("answers", read_file(examples_dir + "grazing_chain.extinction.answers"));
  ASSERT_EQ(0, run_in_process("answers"));
  const std::string files[] = {"terminal", "fort.8", "fort.18"};
  std::string full[3];
  for (int f = 0; f < 3; ++f) full[f] = read_file(files[f]);

  for (const bool writes : {true, false}) {
    std::size_t kept[3] = {0, 0, 0};
    int n = 1;
    for (;; ++n) {
      for (const std::string& f : files) std::remove(f.c_str());
      writes ? fio::fail_nth_write(n) : fio::fail_nth_read(n);
      const int status = run_in_process("answers");
      fio::fail_nth_write(0);
      fio::fail_nth_read(0);
      if (status == 0) break;
      ASSERT_EQ(2, status) << (writes ? "write " : "read ") << n;
      const std::string err = read_file("err");
      EXPECT_THAT(err, testing::ContainsRegex(writes ? "cannot write (fort\\.1?8|the terminal): No space left"
                                                     : "^ecodyn: fort\\.7, line |question")) << n;
      for (int f = 0; f < 3; ++f) {
        const std::string part = read_file(files[f]);
        ASSERT_TRUE(whole_lines_of(part, full[f]) || (f == 0 && full[f].starts_with(part)))
            << files[f] << " after fault " << n;
        EXPECT_GE(part.size(), kept[f]) << files[f] << " lost records at fault " << n;
        kept[f] = part.size();
      }
    }
    EXPECT_GT(n, writes ? 100 : 20);
  }
}

}  // namespace
