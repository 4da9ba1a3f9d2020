// The whole program driven through its terminal dialogue: refusals and their
// continuations, perturbations, the table's timing, snapshots and restarts.
// Expected terminal text is worked out from the record formats.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <vector>

#include "support/network_text.h"
#include "support/scratch.h"

namespace {

using namespace ecodyn::test;

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

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

// Returns the times of the snapshots in a snapshot file of the two-compartment
// network (the counts records of model type t).
std::vector<std::string> snapshot_times(const std::string& snapshots, int type) {
  const std::string head = "  2  1  " + std::to_string(type);
  std::vector<std::string> out;
  for (const auto& l : lines(snapshots)) {
    if (l.size() == 19 && l.compare(0, 9, head) == 0) out.push_back(l.substr(9));
  }
  return out;
}

// Returns the times of the table rows on the terminal.
std::vector<std::string> row_times(const std::string& terminal) {
  std::vector<std::string> out;
  for (const auto& l : lines(terminal)) {
    if (l.size() > 10 && l[6] == '.' && l.find("E+") != std::string::npos) {
      out.push_back(l.substr(0, 10));
    }
  }
  return out;
}

TEST(RunDialogue, EveryRefusalRepeatsItsQuestion) {
  ScratchDir dir;
  write_file("fort.7", two_compartments());
  const RunResult r = run_ecodyn(dir.path(), "0\n4\n3\n0\n0\n10\n0\n11\n10\n-1\n11\n10\nN\n");
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
  EXPECT_EQ(std::vector<std::string>{"    10.000"}, snapshot_times(read_file("fort.18"), 3));
}

TEST(RunDialogue, MissingAnswerEndsWithStatusTwoNamingTheQuestion) {
  ScratchDir dir;
  write_file("fort.7", two_compartments());
  const RunResult r = run_ecodyn(dir.path(), "2\n0\n");
  EXPECT_EQ(2, r.status);
  EXPECT_NE(std::string::npos, r.err.find("\"end time\"")) << r.err;
  EXPECT_NE(std::string::npos, read_file("fort.8").find("EXCHANGE MATRIX"));
}

TEST(RunDialogue, UnreadableAnswerEndsWithStatusTwo) {
  ScratchDir dir;
  write_file("fort.7", two_compartments());
  const RunResult r = run_ecodyn(dir.path(), "two\n");
  EXPECT_EQ(2, r.status);
  EXPECT_NE(std::string::npos, r.err.find("\"which type model\"")) << r.err;
}

TEST(PerturbationDialogue, RefusalsLeadBackToTheQuestionAndChangesAreLogged) {
  ScratchDir dir;
  write_file("fort.7", two_compartments());
  const RunResult r = run_ecodyn(dir.path(),
                                 "2\n0\n10\n5\n0\n"
                                 "Y\n7\n2\n1\n-1\n"      // kind 7 refused, then a negative value
                                 "y\n1\n0\n"             // compartment 0
                                 "Y\n5\n1 3\n"           // terminal ncomp + 1
                                 "YES\n5\n1\n2\n0.5\n"   // origin and terminal on two lines
                                 "Y\n1\n2\n0\n"          // a biomass of zero is accepted
                                 " Y\n");                // a blank first: no
  const std::string expected_dialogue =
      perturb_question + kind_menu + " ONLY VALUES 1 TO 5 ALLOWED. TRY AGAIN.\n" +
      " WHICH COMPARTMENT?\n OLD VALUE =  .5000E+01\n NEW VALUE?\n" +
      " NEGATIVE VALUES NOT ALLOWED. TRY AGAIN.\n" + perturb_question + kind_menu +
      " WHICH COMPARTMENT?\n COMPONENT DESIGNATION OUT OF BOUNDS. TRY AGAIN.\n" +
      perturb_question + kind_menu +
      " GIVE ORIGIN AND TERMINAL NODES ON NEXT LINE.\n"
      " COMPONENT DESIGNATION OUT OF BOUNDS. TRY AGAIN.\n" +
      perturb_question + kind_menu +
      " GIVE ORIGIN AND TERMINAL NODES ON NEXT LINE.\n"
      " OLD VALUE =  .3000E+00\n NEW VALUE?\n" +
      perturb_question + kind_menu + " WHICH COMPARTMENT?\n OLD VALUE =  .2000E+02\n NEW VALUE?\n" +
      perturb_question + "\n    TIME        1         2\n      .000  .100E+02  .000E+00\n";
  const std::string head = times_of_two + model_menu + " START TIME?\n END TIME?\n PRINT INTERVAL?\n" +
                           snapshot_question;
  ASSERT_EQ(head + expected_dialogue, r.out.substr(0, head.size() + expected_dialogue.size()));
  EXPECT_EQ(0, r.status) << r.err;

  const std::string report = read_file("fort.8");
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
  EXPECT_NE(std::string::npos, report.find(log)) << report;
}

TEST(PerturbationDialogue, OnlyAFirstCharacterYMeansYes) {
  for (const std::string answer : {"n", "", " Y", "N", "x"}) {
    ScratchDir dir;
    write_file("fort.7", two_compartments());
    const RunResult r = run_ecodyn(dir.path(), "2\n0\n10\n5\n0\n" + answer + "\n");
    EXPECT_EQ(std::string::npos, r.out.find(" WHICH KIND?")) << "answer '" << answer << "'";
    EXPECT_EQ(0, r.status) << r.err;
  }
  for (const std::string answer : {"Y", "y", "YES", "yes please"}) {
    ScratchDir dir;
    write_file("fort.7", two_compartments());
    const RunResult r = run_ecodyn(dir.path(), "2\n0\n10\n5\n0\n" + answer + "\n2\n1\n5\nN\n");
    EXPECT_NE(std::string::npos, r.out.find(" WHICH KIND?")) << "answer '" << answer << "'";
    EXPECT_NE(std::string::npos, read_file("fort.8").find(" INPUT TO  1 =  .5000E+01"));
  }
}

// Ten compartments, each fed by an input and losing it by respiration.
std::string ten_compartments() {
  std::string s = title_record("TEN") + counts_record(10, 0);
  for (int i = 1; i <= 10; ++i) s += "SPECIES " + std::to_string(i) + "\n";
  for (int list = 0; list < 4; ++list) {
    for (int i = 1; i <= 10; ++i) s += list == 2 ? "" : vector_record(i, {1});
    s += vector_record(-1);
  }
  return s + matrix_record(-1, -1);
}

TEST(SpeciesQuestion, OutOfBoundsEntryAsksForAllSevenAgain) {
  ScratchDir dir;
  write_file("fort.7", ten_compartments());
  const RunResult r =
      run_ecodyn(dir.path(), "2\n0\n2\n1\n0\nN\n1 2 3 4 5 6 11\n10 1 2 3 4 5 5\n");
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

TEST(SpeciesQuestion, NotAskedForFiveCompartments) {
  ScratchDir dir;
  write_file("fort.7", two_compartments());
  const RunResult r = run_ecodyn(dir.path(), "2\n0\n2\n1\n0\nN\n");
  EXPECT_EQ(std::string::npos, r.out.find("CHOOSE EXACTLY 7"));
  EXPECT_EQ(0, r.status);
}

TEST(TableTiming, RowsStepByThePrintIntervalPastTheEnd) {
  ScratchDir dir;
  write_file("fort.7", two_compartments());
  const RunResult r = run_ecodyn(dir.path(), "2\n0\n10\n3\n0\nN\n");
  EXPECT_EQ((std::vector<std::string>{"      .000", "     3.000", "     6.000", "     9.000",
                                      "    12.000"}),
            row_times(r.out));
  EXPECT_EQ(std::vector<std::string>{"    12.000"}, snapshot_times(read_file("fort.18"), 2));
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
      {"2", "1", {"      .000", "     2.000", "     4.000", "     6.000", "     8.000",
                  "    10.000"}},
  };
  for (const auto& c : cases) {
    ScratchDir dir;
    write_file("fort.7", two_compartments());
    const RunResult r = run_ecodyn(dir.path(), std::string("2\n0\n10\n") + c.print + "\n" +
                                                   c.snap + "\nN\n");
    EXPECT_EQ(c.times, snapshot_times(read_file("fort.18"), 2))
        << "print " << c.print << " snap " << c.snap;
    EXPECT_EQ(0, r.status);
  }
}

TEST(TableTiming, IntervalCapEndsTheCycleAndTheNextNetworkRuns) {
  ScratchDir dir;
  write_file("fort.7", two_compartments("FIRST") + two_compartments("SECOND"));
  const RunResult r = run_ecodyn(dir.path(), "2\n0\n20000\n1\n0\nN\n2\n0\n10000\n1\n0\nN\n");
  EXPECT_EQ(0, r.status) << r.err;
  const auto rows = row_times(r.out);
  ASSERT_EQ(20002u, rows.size());  // 10001 rows in each cycle
  EXPECT_EQ(" 10000.000", rows[10000]);
  const std::string cap = " 10000.000  .100E+02  .200E+02\n PRINT INTERVAL IS TOO SMALL!\n";
  EXPECT_NE(std::string::npos, r.out.find(cap + times_of_two + model_menu));
  // The second run, to 10000, ends normally with its 10000th row.
  EXPECT_EQ(r.out.find("TOO SMALL"), r.out.rfind("TOO SMALL"));
  EXPECT_EQ(" 10000.000  .100E+02  .200E+02\n", r.out.substr(r.out.size() - 31));
  // The cap message goes to the terminal only.
  EXPECT_EQ(std::string::npos, read_file("fort.8").find("TOO SMALL"));
}

// Returns the biomass records (index and value) of the last snapshot.
std::vector<std::pair<int, double>> last_biomasses(const std::string& snapshots) {
  auto all = lines(snapshots);
  std::size_t start = 0;
  for (std::size_t k = 0; k + 1 < all.size(); ++k) {
    if (all[k + 1].size() == 19 && all[k + 1][8] != ' ') start = k + 4;  // after title, counts, 2 names
  }
  std::vector<std::pair<int, double>> out;
  for (std::size_t k = start; k < all.size(); ++k) {
    const int i = std::stoi(all[k].substr(0, 3));
    if (i <= 0) break;
    out.emplace_back(i, std::stod(all[k].substr(3, 14)));
  }
  return out;
}

TEST(Restart, ResumingASnapshotContinuesTheRun) {
  const std::string perturb = "Y\n1\n1\n5\nN\n";  // plants start at half their biomass
  std::vector<std::pair<int, double>> straight, resumed;
  {
    ScratchDir dir;
    write_file("fort.7", two_compartments());
    ASSERT_EQ(0, run_ecodyn(dir.path(), "1\n0\n10\n1\n0\n" + perturb).status);
    straight = last_biomasses(read_file("fort.18"));
  }
  {
    ScratchDir dir;
    write_file("fort.7", two_compartments());
    ASSERT_EQ(0, run_ecodyn(dir.path(), "1\n0\n5\n1\n0\n" + perturb).status);
    write_file("fort.7", read_file("fort.18"));
    std::filesystem::remove("fort.18");
    const RunResult r = run_ecodyn(dir.path(), "1\n10\n1\n0\nN\n");
    ASSERT_EQ(0, r.status) << r.err;
    EXPECT_EQ(std::string::npos, r.out.find("THROUGHPUT TIME"));
    EXPECT_NE(std::string::npos, r.out.find(model_menu + " RESTART AT T =      5.000\n END TIME?\n"));
    resumed = last_biomasses(read_file("fort.18"));
  }
  ASSERT_EQ(2u, straight.size());
  ASSERT_EQ(straight.size(), resumed.size());
  EXPECT_NE(5.0, straight[0].second);  // the run has moved
  for (std::size_t k = 0; k < straight.size(); ++k) {
    EXPECT_NEAR(straight[k].second, resumed[k].second, 2e-5 * straight[k].second);
  }
}

TEST(Restart, AnotherModelTypeDerivesNewCoefficientsKeepingTheReferenceBiomass) {
  ScratchDir dir;
  write_file("fort.7", two_compartments());
  ASSERT_EQ(0, run_ecodyn(dir.path(), "2\n0\n5\n5\n0\nY\n1\n1\n5\nN\n").status);
  write_file("fort.7", read_file("fort.18"));
  std::filesystem::remove("fort.18");
  // Snapshot interval 0.001 puts a snapshot at the restart time itself.
  const RunResult r = run_ecodyn(dir.path(), "1\n6\n1\n0.001\nN\n");
  ASSERT_EQ(0, r.status) << r.err;
  const auto records = lines(read_file("fort.18"));
  // Biomass record of the plants: biomass as snapshot, bref 10 as loaded.
  ASSERT_GT(records.size(), 5u);
  EXPECT_EQ("  2  1  1     5.000", records[1]);
  EXPECT_EQ("  .1000000E+02", records[4].substr(17, 14));
}

}  // namespace
