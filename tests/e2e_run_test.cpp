// The whole program driven through its terminal dialogue: refusals and their
// continuations, perturbations, the table's timing, snapshots and restarts;
// and at a real terminal (a pseudo-terminal) and at the end of a pipe,
// answered only after each prompt has appeared: every prompt must be out
// before its answer is awaited. Expected terminal text is worked out from the
// record formats.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <vector>

#include "support/records.h"
#include "support/scratch.h"

namespace {

using namespace ecodyn::test;
using testing::HasSubstr;
using testing::Not;

const std::string times_of_two =
    " SHORTEST THROUGHPUT TIME IS  .1667E+01 IN  1\n"
    "  LONGEST THROUGHPUT TIME IS  .6667E+01 IN  2\n"
    "\n";
const std::string model_menu =
    " WHICH TYPE MODEL DO YOU WANT?\n"
    "    1. GENERIC PREDATOR CONTROL\n"
    "    2. LINEAR DONOR CONTROL\n"
    "    3. DAMPED LOTKA - VOLTERRA\n";
const std::string kind_menu =
    " WHICH KIND?\n"
    "    1. BIOMASS\n"
    "    2. INPUT\n"
    "    3. EXPORT\n"
    "    4. RESPIRATION\n"
    "    5. INTERNAL EXCHANGE\n";
const std::string perturb_question = " DO YOU WISH TO PERTURB A PARAMETER? (Y/N)\n";
const std::string snapshot_question = " SNAPSHOT INTERVAL? (DEFAULT [0] SNAPS ONLY AT END.)\n";

// A run of ecodyn on a network file in a fresh directory, with the report
// and snapshot files it left.
struct Outcome {
  RunResult r;
  std::string report, snapshots;
};

Outcome run_on(const std::string& answers, const std::string& network = two_compartments_file()) {
  ScratchDir dir;
  write_file("fort.7", network);
  const RunResult r = run_ecodyn(dir.path(), answers);
  return {r, read_file("fort.8"), read_file("fort.18")};
}

// Returns the times of the snapshots in a snapshot file of the two-compartment
// network (the counts records of model type t).
std::vector<std::string> snapshot_times(const std::string& snapshots, int type) {
  const std::string head = "  2  1  " + std::to_string(type);
  std::vector<std::string> out;
  for (const auto& l : lines_of(snapshots)) {
    if (l.size() == 19 && l.compare(0, 9, head) == 0) out.push_back(l.substr(9));
  }
  return out;
}

// Returns the times of the table rows on the terminal.
std::vector<std::string> row_times(const std::string& terminal) {
  std::vector<std::string> out;
  for (const auto& l : lines_of(terminal)) {
    if (l.size() > 10 && l[6] == '.' && l.find("E+") != std::string::npos) {
      out.push_back(l.substr(0, 10));
    }
  }
  return out;
}

TEST(RunDialogue, EveryRefusalRepeatsItsQuestion) {
  const auto [r, report, snapshots] = run_on("0\n4\n3\n0\n0\n10\n0\n11\n10\n-1\n11\n10\nN\n");
  const std::string refusal = " ONLY TYPES 1 TO 3 ALLOWED. TRY AGAIN.\n";
  EXPECT_EQ(times_of_two + model_menu + refusal + model_menu + refusal + model_menu +
                " START TIME?\n"
                " END TIME?\n"
                " END TIME MUST BE GREATER THAN START TIME.\n"
                " END TIME?\n"
                " PRINT INTERVAL?\n"
                " PRINT INTERVAL MUST BE GREATER THAN ZERO.\n"
                " PRINT INTERVAL?\n"
                " PRINT INTERVAL MUST BE SMALLER THAN INTEGRATION INTERVAL.\n"
                " PRINT INTERVAL?\n" +
                snapshot_question + " SNAPSHOT INTERVAL OUT OF BOUNDS.\n" + snapshot_question +
                " SNAPSHOT INTERVAL OUT OF BOUNDS.\n" + snapshot_question + perturb_question +
                "\n"
                "    TIME        1         2\n"
                "      .000  .100E+02  .200E+02\n"
                "    10.000  .100E+02  .200E+02\n",
            r.out);
  EXPECT_EQ(0, r.status) << r.err;
  // A snapshot interval equal to the span: one snapshot, with the last row.
  EXPECT_EQ(std::vector<std::string>{"    10.000"}, snapshot_times(snapshots, 3));
}

TEST(RunDialogue, MissingOrUnreadableAnswerEndsWithStatusTwoNamingTheQuestion) {
  const std::pair<const char*, const char*> cases[] = {{"2\n0\n", "\"end time\""},
                                                       {"two\n", "\"which type model\""}};
  for (const auto& [answers, question] : cases) {
    const auto [r, report, snapshots] = run_on(answers);
    EXPECT_EQ(2, r.status);
    EXPECT_THAT(r.err, HasSubstr(question));
    EXPECT_THAT(report, HasSubstr("EXCHANGE MATRIX"));
  }
}

TEST(PerturbationDialogue, RefusalsLeadBackToTheQuestionAndChangesAreLogged) {
  const auto [r, report, snapshots] = run_on(
      "2\n0\n10\n5\n0\n"
      "Y\n7\n2\n1\n-1\n"     // kind 7 refused, then a negative value
      "y\n1\n0\n"            // compartment 0
      "Y\n5\n1 3\n"          // terminal ncomp + 1
      "YES\n5\n1\n2\n0.5\n"  // origin and terminal on two lines
      "Y\n1\n2\n0\n"         // a biomass of zero is accepted
      " Y\n");               // a blank first: no
  const std::string expected_dialogue =
      perturb_question + kind_menu + " ONLY VALUES 1 TO 5 ALLOWED. TRY AGAIN.\n" +
      " WHICH COMPARTMENT?\n OLD VALUE =  .5000E+01\n NEW VALUE?\n" +
      " NEGATIVE VALUES NOT ALLOWED. TRY AGAIN.\n" + perturb_question + kind_menu +
      " WHICH COMPARTMENT?\n COMPONENT DESIGNATION OUT OF BOUNDS. TRY AGAIN.\n" + perturb_question +
      kind_menu +
      " GIVE ORIGIN AND TERMINAL NODES ON NEXT LINE.\n"
      " COMPONENT DESIGNATION OUT OF BOUNDS. TRY AGAIN.\n" +
      perturb_question + kind_menu +
      " GIVE ORIGIN AND TERMINAL NODES ON NEXT LINE.\n"
      " OLD VALUE =  .3000E+00\n NEW VALUE?\n" +
      perturb_question + kind_menu + " WHICH COMPARTMENT?\n OLD VALUE =  .2000E+02\n NEW VALUE?\n" +
      perturb_question + "\n    TIME        1         2\n      .000  .100E+02  .000E+00\n";
  const std::string head = times_of_two + model_menu +
                           " START TIME?\n END TIME?\n PRINT INTERVAL?\n" + snapshot_question;
  ASSERT_EQ(head + expected_dialogue, r.out.substr(0, head.size() + expected_dialogue.size()));
  EXPECT_EQ(0, r.status) << r.err;
  const std::string log =
      " THE FOLLOWING COEFFICIENTS HAVE BEEN CHANGED:\n"
      "\n"
      " COEFF FOR FLOW FROM  1 TO  2 =  .5000E+00\n"
      " BIOMASS IN  2 =  .0000E+00\n"
      "\n"
      "    TIME        1         2\n"
      "\n"
      "\n"
      "      .000  .100E+02  .000E+00\n";
  EXPECT_THAT(report, HasSubstr(log));
}

TEST(PerturbationDialogue, OnlyAFirstCharacterYMeansYes) {
  for (const std::string answer : {"n", "", " Y", "N", "x"}) {
    SCOPED_TRACE("answer '" + answer + "'");
    const auto [r, report, snapshots] = run_on("2\n0\n10\n5\n0\n" + answer + "\n");
    EXPECT_THAT(r.out, Not(HasSubstr(" WHICH KIND?")));
    EXPECT_EQ(0, r.status) << r.err;
  }
  for (const std::string answer : {"Y", "y", "YES", "yes please"}) {
    SCOPED_TRACE("answer '" + answer + "'");
    const auto [r, report, snapshots] = run_on("2\n0\n10\n5\n0\n" + answer + "\n2\n1\n5\nN\n");
    EXPECT_THAT(r.out, HasSubstr(" WHICH KIND?"));
    EXPECT_THAT(report, HasSubstr(" INPUT TO  1 =  .5000E+01"));
  }
}

// Ten compartments, each fed by an input and losing it by respiration.
std::string ten_compartments() {
  std::string s = title("TEN") + counts(10);
  for (int i = 1; i <= 10; ++i) s += "SPECIES " + std::to_string(i) + "\n";
  for (int list = 0; list < 4; ++list) {
    for (int i = 1; i <= 10; ++i) s += list == 2 ? "" : rec(i, "1.");
    s += rec(-1);
  }
  return s + mrec(-1, -1);
}

TEST(SpeciesQuestion, OutOfBoundsEntryAsksForAllSevenAgain) {
  const RunResult r =
      run_on("2\n0\n2\n1\n0\nN\n1 2 3 4 5 6 11\n10 1 2 3 4 5 5\n", ten_compartments()).r;
  const std::string prompt =
      " CHOOSE EXACTLY 7 SPECIES WHOSE BIOMASSES YOU WISH TO FOLLOW.\n"
      " ENTER THEIR NUMBERS ON A SINGLE LINE HERE.\n";
  const std::string expected = perturb_question + prompt + " 11 IS OUT OF BOUNDS. TRY AGAIN.\n" +
                               prompt +
                               "\n    TIME       10         1         2         3         4"
                               "         5         5\n"
                               "      .000  .100E+01  .100E+01  .100E+01  .100E+01  .100E+01"
                               "  .100E+01  .100E+01\n";
  const auto at = r.out.find(perturb_question);
  ASSERT_NE(std::string::npos, at);
  EXPECT_EQ(expected, r.out.substr(at, expected.size()));
  EXPECT_EQ(0, r.status) << r.err;
}

// Two compartments (fewer than seven): no species are chosen.
TEST(TableTiming, RowsStepByThePrintIntervalPastTheEnd) {
  const auto [r, report, snapshots] = run_on("2\n0\n10\n3\n0\nN\n");
  EXPECT_EQ((std::vector<std::string>{"      .000", "     3.000", "     6.000", "     9.000",
                                      "    12.000"}),
            row_times(r.out));
  EXPECT_EQ(std::vector<std::string>{"    12.000"}, snapshot_times(snapshots, 2));
  EXPECT_THAT(r.out, Not(HasSubstr("CHOOSE EXACTLY 7")));
  EXPECT_EQ(0, r.status);
}

struct SnapCase {
  const char* print;
  const char* snap;
  std::vector<std::string> times;
};

TEST(TableTiming, SnapshotsAtTheirDueTimes) {
  const std::vector<SnapCase> cases = {
      {"1", "0", {"    10.000"}},
      {"1", "2.5", {"      .000", "     3.000", "     5.000", "     8.000", "    10.000"}},
      {"1", "4", {"      .000", "     4.000", "     8.000"}},
      // The due time falls behind and advances one snapshot interval a row.
      {"2",
       "1",
       {"      .000", "     2.000", "     4.000", "     6.000", "     8.000", "    10.000"}},
  };
  for (const auto& c : cases) {
    const auto [r, report, snapshots] =
        run_on(std::string("2\n0\n10\n") + c.print + "\n" + c.snap + "\nN\n");
    EXPECT_EQ(c.times, snapshot_times(snapshots, 2)) << "print " << c.print << " snap " << c.snap;
    EXPECT_EQ(0, r.status);
  }
}

// Under the damped Lotka-Volterra model the self-coefficients fade by
// exp(-print interval / (2 * longest throughput time)) after every row but
// the last: three times from 0 to 4 (the snapshot carries them).
TEST(TableTiming, SelfCoefficientsFadeAfterEveryRow) {
  const auto [r, report, snapshots] = run_on("3\n0\n4\n1\n0\nN\n");
  ASSERT_EQ(0, r.status) << r.err;
  const auto records = lines_of(snapshots);
  ASSERT_GT(records.size(), 4u);
  EXPECT_NEAR(-0.16 * std::exp(-3.0 / (2.0 * 20.0 / 3.0)), std::stod(records[4].substr(31)), 2e-7);
}

TEST(TableTiming, IntervalCapEndsTheCycleAndTheNextNetworkRuns) {
  const auto [r, report, snapshots] =
      run_on("2\n0\n20000\n1\n0\nN\n2\n0\n10000\n1\n0\nN\n",
             two_compartments_file("FIRST") + two_compartments_file("SECOND"));
  EXPECT_EQ(0, r.status) << r.err;
  const auto rows = row_times(r.out);
  ASSERT_EQ(20002u, rows.size());  // 10001 rows in each cycle
  EXPECT_EQ(" 10000.000", rows[10000]);
  const std::string cap = " 10000.000  .100E+02  .200E+02\n PRINT INTERVAL IS TOO SMALL!\n";
  EXPECT_THAT(r.out, HasSubstr(cap + times_of_two + model_menu));
  // The second run, to 10000, ends normally with its 10000th row.
  EXPECT_EQ(r.out.find("TOO SMALL"), r.out.rfind("TOO SMALL"));
  EXPECT_EQ(" 10000.000  .100E+02  .200E+02\n", r.out.substr(r.out.size() - 31));
  // The cap message goes to the terminal only.
  EXPECT_THAT(report, Not(HasSubstr("TOO SMALL")));
}

// Returns the biomass records (index and value) of the last snapshot.
std::vector<std::pair<int, double>> last_biomasses(const std::string& snapshots) {
  auto all = lines_of(snapshots);
  std::size_t start = 0;
  for (std::size_t k = 0; k + 1 < all.size(); ++k) {
    if (all[k + 1].size() == 19 && all[k + 1][8] != ' ')
      start = k + 4;  // after title, counts, 2 names
  }
  std::vector<std::pair<int, double>> out;
  for (std::size_t k = start; k < all.size(); ++k) {
    const int i = std::stoi(all[k].substr(0, 3));
    if (i <= 0) break;
    out.emplace_back(i, std::stod(all[k].substr(3, 14)));
  }
  return out;
}

// Runs the two-compartment network with the first answers, then the
// snapshot it left with the second answers.
Outcome resume(const std::string& first, const std::string& second) {
  ScratchDir dir;
  write_file("fort.7", two_compartments_file());
  EXPECT_EQ(0, run_ecodyn(dir.path(), first).status);
  write_file("fort.7", read_file("fort.18"));
  std::filesystem::remove("fort.18");
  const RunResult r = run_ecodyn(dir.path(), second);
  return {r, read_file("fort.8"), read_file("fort.18")};
}

TEST(Restart, ResumingASnapshotContinuesTheRun) {
  const std::string perturb = "Y\n1\n1\n5\nN\n";  // plants start at half their biomass
  const Outcome straight = run_on("1\n0\n10\n1\n0\n" + perturb);
  ASSERT_EQ(0, straight.r.status);
  const Outcome resumed = resume("1\n0\n5\n1\n0\n" + perturb, "1\n10\n1\n0\nN\n");
  ASSERT_EQ(0, resumed.r.status) << resumed.r.err;
  EXPECT_THAT(resumed.r.out, Not(HasSubstr("THROUGHPUT TIME")));
  EXPECT_THAT(resumed.r.out, HasSubstr(model_menu + " RESTART AT T =      5.000\n END TIME?\n"));
  const auto a = last_biomasses(straight.snapshots), b = last_biomasses(resumed.snapshots);
  ASSERT_EQ(2u, a.size());
  ASSERT_EQ(a.size(), b.size());
  EXPECT_NE(5.0, a[0].second);  // the run has moved
  for (std::size_t k = 0; k < a.size(); ++k) {
    EXPECT_NEAR(a[k].second, b[k].second, 2e-5 * a[k].second);
  }
}

TEST(Restart, AnotherModelTypeDerivesNewCoefficientsKeepingTheReferenceBiomass) {
  // Snapshot interval 0.001 puts a snapshot at the restart time itself.
  const Outcome o = resume("2\n0\n5\n5\n0\nY\n1\n1\n5\nN\n", "1\n6\n1\n0.001\nN\n");
  ASSERT_EQ(0, o.r.status) << o.r.err;
  const auto records = lines_of(o.snapshots);
  // Biomass record of the plants: biomass as snapshot, bref 10 as loaded.
  ASSERT_GT(records.size(), 5u);
  EXPECT_EQ("  2  1  1     5.000", records[1]);
  EXPECT_EQ("  .1000000E+02", records[4].substr(17, 14));
}

// --- snapshots that must read back ---

// The plants perturbed to a biomass of 60 with the given export coefficient,
// under donor control with a snapshot due at the start.
std::string exporting(const std::string& coefficient) {
  return "2\n0\n10\n5\n1\nY\n1\n1\n60\nY\n3\n1\n" + coefficient + "\nN\n";
}

TEST(SnapshotRange, AnExportBeyondTheLargestFloatStopsBeforeTheSnapshotIsBegun) {
  // Two cycles: the first leaves its snapshots, the second overflows.
  ScratchDir dir;
  const std::string first = "2\n0\n10\n5\n5\nN\n";
  write_file("fort.7", two_compartments_file());
  ASSERT_EQ(0, run_ecodyn(dir.path(), first).status);
  const std::string first_snapshots = read_file("fort.18");
  ASSERT_FALSE(first_snapshots.empty());
  write_file("fort.7", two_compartments_file() + two_compartments_file());
  const RunResult r = run_ecodyn(dir.path(), first + exporting("1e38"));  // 60e38 overflows
  EXPECT_EQ(1, r.status) << r.err;
  EXPECT_THAT(r.out, testing::EndsWith("      .000  .600E+02  .200E+02\n"
                                       " SNAPSHOT VALUE FOR EXPORT  1 IS OUT OF RANGE.\n"));
  EXPECT_EQ(first_snapshots, read_file("fort.18"));
}

TEST(SnapshotRange, AnExportJustInsideTheLargestFloatIsWrittenAndReadsBack) {
  ScratchDir dir;
  write_file("fort.7", two_compartments_file());
  run_ecodyn(dir.path(), exporting("5e36"));  // the integration itself may give up
  const std::string snapshot = read_file("fort.18");
  ASSERT_THAT(snapshot, HasSubstr("\n  1  .3000000E+39  .5000000E+37\n"));
  write_file("fort.7", snapshot);
  const RunResult r = run_ecodyn(dir.path(), "2\n1\n1\n0\nN\n");
  EXPECT_THAT(r.out, HasSubstr(" RESTART AT T =       .000\n"));
  EXPECT_THAT(read_file("fort.8"), HasSubstr(" EXPORT VECTOR"));
  EXPECT_THAT(r.err, Not(HasSubstr("unreadable")));
}

// --- at a terminal and at a pipe ---

// A child running ecodyn, its output read as it comes.
class Session {
 public:
  // with_pty: on a pseudo-terminal; otherwise on two pipes.
  Session(const std::string& dir, bool with_pty) {
    if (with_pty) {
      pid_ = forkpty(&out_, nullptr, nullptr, nullptr);
      if (pid_ == 0) exec(dir);
      in_ = out_;
    } else {
      int to_child[2], from_child[2];
      if (pipe(to_child) != 0 || pipe(from_child) != 0) return;
      pid_ = fork();
      if (pid_ == 0) {
        dup2(to_child[0], 0);
        dup2(from_child[1], 1);
        close(to_child[1]);
        close(from_child[0]);
        exec(dir);
      }
      close(to_child[0]);
      close(from_child[1]);
      in_ = to_child[1];
      out_ = from_child[0];
    }
  }
  ~Session() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }

  // Waits up to five seconds for text to appear in the output; true if it did.
  bool expect(const std::string& text) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (seen_.find(text, cursor_) == std::string::npos) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          until - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd p{out_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
      char buf[4096];
      const ssize_t n = read(out_, buf, sizeof buf);
      if (n <= 0) return false;
      seen_.append(buf, static_cast<std::size_t>(n));
    }
    cursor_ = seen_.find(text, cursor_) + text.size();
    return true;
  }

  void answer(const std::string& line) {
    const std::string s = line + "\n";
    ASSERT_EQ(static_cast<ssize_t>(s.size()), write(in_, s.data(), s.size()));
  }

  // Returns the exit status, or minus the number of the signal that ended it.
  int wait_status() {
    int raw = 0;
    waitpid(pid_, &raw, 0);
    pid_ = -1;
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -WTERMSIG(raw);
  }

  void signal(int sig) { kill(pid_, sig); }

  const std::string& seen() const { return seen_; }

 private:
  [[noreturn]] static void exec(const std::string& dir) {
    if (chdir(dir.c_str()) == 0) execl(ECODYN_BINARY, "ecodyn", static_cast<char*>(nullptr));
    _exit(127);
  }

  pid_t pid_ = -1;
  int in_ = -1, out_ = -1;
  std::string seen_;
  std::size_t cursor_ = 0;
};

void converse(bool with_pty) {
  ScratchDir dir;
  write_file("fort.7", two_compartments_file());
  Session s(dir.path(), with_pty);
  const std::pair<const char*, const char*> dialogue[] = {
      {"3. DAMPED LOTKA - VOLTERRA", "2"},
      {"START TIME?", "0"},
      {"END TIME?", "4"},
      {"PRINT INTERVAL?", "2"},
      {"SNAPSHOT INTERVAL? (DEFAULT [0] SNAPS ONLY AT END.)", "0"},
      {"DO YOU WISH TO PERTURB A PARAMETER? (Y/N)", "y"},
      {"5. INTERNAL EXCHANGE", "1"},
      {"WHICH COMPARTMENT?", "1"},
      {"NEW VALUE?", "8"},
      {"DO YOU WISH TO PERTURB A PARAMETER? (Y/N)", "n"},
  };
  for (const auto& [prompt, reply] : dialogue) {
    ASSERT_TRUE(s.expect(prompt)) << "no prompt \"" << prompt << "\" before the answer; saw:\n"
                                  << s.seen();
    s.answer(reply);
  }
  ASSERT_TRUE(s.expect("     4.000")) << s.seen();
  EXPECT_EQ(0, s.wait_status());
  EXPECT_NE(std::string::npos, read_file("fort.8").find(" BIOMASS IN  1 =  .8000E+01"));
}

TEST(Terminal, EveryPromptAppearsBeforeItsAnswerIsAwaited) { converse(true); }

TEST(Terminal, PromptsReachAPipeBeforeTheAnswerIsAwaited) { converse(false); }

TEST(Terminal, AnInterruptLeavesTheReportWithAllWrittenToIt) {
  for (const int sig : {SIGINT, SIGTERM}) {
    ScratchDir dir;
    write_file("fort.7", two_compartments_file());
    Session s(dir.path(), false);
    ASSERT_TRUE(s.expect("3. DAMPED LOTKA - VOLTERRA")) << s.seen();
    s.signal(sig);
    EXPECT_EQ(-sig, s.wait_status());
    EXPECT_NE(std::string::npos, read_file("fort.8").find(" EXCHANGE MATRIX")) << sig;
  }
}

TEST(Terminal, LastLinesWithoutLineEndAreRead) {
  ScratchDir dir;
  std::string network = two_compartments_file();
  network.pop_back();  // the matrix terminator ends the file without a line end
  write_file("fort.7", network);
  const RunResult r = run_ecodyn(dir.path(), "2\n0\n10\n10\n0\nN");  // and so does "N"
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_NE(std::string::npos, r.out.find("    10.000  .100E+02  .200E+02\n")) << r.out;
}

}  // namespace
