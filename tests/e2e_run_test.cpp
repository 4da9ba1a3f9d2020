// The whole program through its terminal dialogue: refusals, perturbations,
// the table's timing; at a pseudo-terminal and at a pipe every
// prompt must be out before its answer is awaited.
#include <cmath>
#include <map>
#include <regex>

#include "support/records.h"
#include "support/scratch.h"

namespace {

using namespace ecodyn::test;

const std::string times_of_two =
    " SHORTEST THROUGHPUT TIME IS  .1667E+01 IN  1\n  LONGEST THROUGHPUT TIME IS  .6667E+01 IN  2\n\n";
const std::string model_menu =
    " WHICH TYPE MODEL DO YOU WANT?\n    1. GENERIC PREDATOR CONTROL\n    2. LINEAR DONOR CONTROL\n"
    "    3. DAMPED LOTKA - VOLTERRA\n";
const std::string kind_menu =
    " WHICH KIND?\n    1. BIOMASS\n    2. INPUT\n    3. EXPORT\n    4. RESPIRATION\n"
    "    5. INTERNAL EXCHANGE\n";
const std::string perturb_question = " DO YOU WISH TO PERTURB A PARAMETER? (Y/N)\n";
const std::string snapshot_question = " SNAPSHOT INTERVAL? (DEFAULT [0] SNAPS ONLY AT END.)\n";
const std::string table_head = "\n    TIME        1         2\n";

struct Outcome { RunResult r; std::string report, snapshots; };

// Runs ecodyn on a network in a fresh directory.
Outcome run_on(const std::string& answers, const std::string& network = two_compartments_file()) {
  ScratchDir dir;
  write_file("fort.7", network);
  const RunResult r = run_ecodyn(dir.path(), answers);
  return {r, read_file("fort.8"), read_file("fort.18")};
}

TEST(RunDialogue, EveryRefusalRepeatsItsQuestion) {
  const Outcome o = run_on("0\n4\n3\n0\n0\n10\n0\n11\n10\n-1\n11\n10\nN\n");
  const std::string refusal = " ONLY TYPES 1 TO 3 ALLOWED. TRY AGAIN.\n";
  EXPECT_EQ(times_of_two + model_menu + refusal + model_menu + refusal + model_menu +
                " START TIME?\n END TIME?\n END TIME MUST BE GREATER THAN START TIME.\n"
                " END TIME?\n PRINT INTERVAL?\n PRINT INTERVAL MUST BE GREATER THAN ZERO.\n"
                " PRINT INTERVAL?\n PRINT INTERVAL MUST BE SMALLER THAN INTEGRATION INTERVAL.\n"
                " PRINT INTERVAL?\n" +
                snapshot_question + " SNAPSHOT INTERVAL OUT OF BOUNDS.\n" + snapshot_question +
                " SNAPSHOT INTERVAL OUT OF BOUNDS.\n" + snapshot_question + perturb_question + table_head +
                "      .000  .100E+02  .200E+02\n    10.000  .100E+02  .200E+02\n",
            o.r.out);
  EXPECT_EQ(0, o.r.status) << o.r.err;
  // A snapshot interval equal to the span: one snapshot, with the last row.
  EXPECT_EQ("  2  1  3    10.000", lines_of(o.snapshots).at(1));
  EXPECT_EQ(std::string::npos, o.snapshots.find(two_compartments_title, 1));
}

TEST(RunDialogue, MissingOrUnreadableAnswerEndsWithStatusTwoNamingTheQuestion) {
  const std::pair<const char*, const char*> cases[] = {
      {"2\n0\n", "ecodyn: no answer to the question \"end time\": the terminal input has ended\n"},
      {"2\nzero\n", "ecodyn: unreadable answer to the question \"start time\" (answer 2 on the "
                    "terminal input): "}};
  for (const auto& [answers, message] : cases) {
    const Outcome o = run_on(answers);
    EXPECT_EQ(2, o.r.status);
    EXPECT_THAT(o.r.err, testing::StartsWith(message));
    EXPECT_THAT(o.report, HasSubstr("EXCHANGE MATRIX"));
  }
}

TEST(PerturbationDialogue, RefusalsLeadBackToTheQuestionAndChangesAreLogged) {
  const Outcome o = run_on(
      "2\n0\n10\n5\n0\n"
      "Y\n7\n0\n2\n1\n-1\n"  // kinds 7 and 0 refused, then a negative value
      "y\n1\n0\n"            // compartment 0
      "Y\n5\n1 3\n"          // terminal ncomp + 1
      "YES\n5\n1\n2\n0.5\n"  // origin and terminal on two lines
      "Y\n1\n2\n0\n"         // a biomass of zero is accepted
      " Y\n");               // a blank first: no
  const std::string dialogue =
      perturb_question + kind_menu + repeat(" ONLY VALUES 1 TO 5 ALLOWED. TRY AGAIN.\n", 2) +
      " WHICH COMPARTMENT?\n OLD VALUE =  .5000E+01\n NEW VALUE?\n" +
      " NEGATIVE VALUES NOT ALLOWED. TRY AGAIN.\n" + perturb_question + kind_menu +
      " WHICH COMPARTMENT?\n COMPONENT DESIGNATION OUT OF BOUNDS. TRY AGAIN.\n" + perturb_question +
      kind_menu + " GIVE ORIGIN AND TERMINAL NODES ON NEXT LINE.\n"
      " COMPONENT DESIGNATION OUT OF BOUNDS. TRY AGAIN.\n" + perturb_question + kind_menu +
      " GIVE ORIGIN AND TERMINAL NODES ON NEXT LINE.\n OLD VALUE =  .3000E+00\n NEW VALUE?\n" +
      perturb_question + kind_menu + " WHICH COMPARTMENT?\n OLD VALUE =  .2000E+02\n NEW VALUE?\n" +
      perturb_question + table_head + "      .000  .100E+02  .000E+00\n";
  const std::string head =
      times_of_two + model_menu + " START TIME?\n END TIME?\n PRINT INTERVAL?\n" + snapshot_question;
  EXPECT_EQ(head + dialogue, o.r.out.substr(0, head.size() + dialogue.size()));
  EXPECT_EQ(0, o.r.status) << o.r.err;
  EXPECT_THAT(o.report, HasSubstr(" THE FOLLOWING COEFFICIENTS HAVE BEEN CHANGED:\n\n"
                                  " COEFF FOR FLOW FROM  1 TO  2 =  .5000E+00\n"
                                  " BIOMASS IN  2 =  .0000E+00\n" +
                                  table_head + "\n\n      .000  .100E+02  .000E+00\n"));
}

// Only a first character Y or y means yes, also on a last line without line end.
TEST(PerturbationDialogue, OnlyAFirstCharacterYMeansYes) {
  for (const std::string answer : {"n\n", "\n", " Y\n", "x\n", "Y", "y\n", "YES\n", "yes please\n"}) {
    SCOPED_TRACE("answer '" + answer + "'");
    const bool yes = answer[0] == 'Y' || answer[0] == 'y';
    const Outcome o = run_on("2\n0\n10\n5\n0\n" + answer + (answer == "Y" ? "" : "2\n1\n5\nN\n"));
    EXPECT_EQ(yes, o.r.out.find(" WHICH KIND?") != std::string::npos);
    EXPECT_EQ(yes && answer != "Y", o.report.find(" INPUT TO  1 =  .5000E+01") != std::string::npos);
  }
}

// n compartments, each fed by an input and losing it by respiration, at
// biomass, input and respiration i (or 1).
std::string uniform(int n, bool by_index) {
  std::string list;
  for (int i = 1; i <= n; ++i) list += rec(i, by_index ? std::to_string(i) + "." : "1.");
  list += rec(-1);
  return title("UNIFORM") + counts(n) + repeat("C\n", n) + list + list + rec(-1) + list + mrec(-1, -1);
}

// Of more than seven compartments, seven are chosen (an entry out of bounds
// asks for all seven again); seven are followed without a question.
TEST(SpeciesQuestion, OutOfBoundsEntryAsksForAllSevenAgain) {
  const RunResult r = run_on("2\n0\n2\n1\n0\nN\n1 2 3 4 5 6 11\n10 1 2 3 4 5 5\n", uniform(10, false)).r;
  const std::string prompt =
      " CHOOSE EXACTLY 7 SPECIES WHOSE BIOMASSES YOU WISH TO FOLLOW.\n"
      " ENTER THEIR NUMBERS ON A SINGLE LINE HERE.\n";
  EXPECT_THAT(r.out,
              HasSubstr(perturb_question + prompt + " 11 IS OUT OF BOUNDS. TRY AGAIN.\n" + prompt +
                        "\n    TIME       10         1         2         3         4         5         5\n" +
                        "      .000" + repeat("  .100E+01", 7) + "\n"));
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_THAT(run_on("2\n0\n1\n1\n0\nN\n", uniform(7, true)).r.out,
              HasSubstr(perturb_question +
                        "\n    TIME        1         2         3         4         5         6         7\n"
                        "      .000  .100E+01  .200E+01  .300E+01  .400E+01  .500E+01  .600E+01  .700E+01\n"
                        "     1.000  .100E+01"));
}

// Under Lotka-Volterra the self-coefficients fade by exp(-print interval /
// (2 * longest throughput time)) after every row but the last, and are
// dropped only at 1e-14: after 384 fadings -0.16 is near -5e-14.
TEST(TableTiming, SelfCoefficientsFadeAfterEveryRow) {
  for (const int end : {4, 385}) {
    const Outcome o = run_on("3\n0\n" + std::to_string(end) + "\n1\n0\nN\n");
    ASSERT_EQ(0, o.r.status) << o.r.err;
    const double faded = -0.16 * std::exp(-(end - 1) / (2.0 * 20.0 / 3.0));
    EXPECT_NEAR(faded, std::stod(lines_of(o.snapshots).at(4).substr(31)), 1e-4 * -faded) << end;
  }
}

// The plants perturbed to 60 with an export coefficient of 5e36, a snapshot
// due at the start (the integration itself may give up).
TEST(SnapshotRange, AnExportJustInsideTheLargestFloatIsWrittenAndReadsBack) {
  const std::string snapshot = run_on("2\n0\n10\n5\n1\nY\n1\n1\n60\nY\n3\n1\n5e36\nN\n").snapshots;
  ASSERT_THAT(snapshot, HasSubstr("\n  1  .3000000E+39  .5000000E+37\n"));
  const Outcome o = run_on("2\n1\n1\n0\nN\n", snapshot);
  EXPECT_THAT(o.r.out, HasSubstr(" RESTART AT T =       .000\n"));
  EXPECT_THAT(o.report, HasSubstr(" EXPORT VECTOR"));
  EXPECT_THAT(o.r.err, Not(HasSubstr("unreadable")));
}

// ecodyn at a pipe and at a pseudo-terminal (through script(1)), fed one
// answer at a time through a named pipe, each only once its prompt is out.
TEST(Terminal, EveryPromptAppearsBeforeItsAnswerIsAwaitedAtATerminalAndAtAPipe) {
  const std::pair<const char*, const char*> dialogue[] = {
      {"3. DAMPED LOTKA - VOLTERRA", "2"}, {"START TIME?", "0"}, {"END TIME?", "4"}, {"PRINT INTERVAL?", "2"},
      {"SNAPSHOT INTERVAL? (DEFAULT [0] SNAPS ONLY AT END.)", "0"}, {"PERTURB A PARAMETER? (Y/N)", "y"},
      {"5. INTERNAL EXCHANGE", "1"}, {"WHICH COMPARTMENT?", "1"}, {"NEW VALUE?", "8"},
      {"PERTURB A PARAMETER? (Y/N)", "n"}, {"     4.000", ""}};
  // Waits up to five seconds for the n-th line holding the text.
  std::string script =
      "w() { for i in $(seq 500); do [ \"$(grep -cF \"$1\" out)\" -ge $2 ] && return; sleep 0.01; done;"
      " echo \"no prompt '$1' before its answer\" >&2; return 1; }; mkfifo in; touch out;"
      " { timeout 20 $ECODYN <in >out; echo $? >status; } & exec 3>in";
  std::map<std::string, int> seen;
  for (const auto& [prompt, reply] : dialogue) {
    script += std::string(" && w '") + prompt + "' " + std::to_string(++seen[prompt]);
    if (*reply) script += std::string(" && echo ") + reply + " >&3";
  }
  for (const char* ecodyn : {"'" ECODYN_BINARY "'", "'script -qefc " ECODYN_BINARY " /dev/null'"}) {
    SCOPED_TRACE(ecodyn);
    ScratchDir dir;
    write_file("fort.7", two_compartments_file());
    const auto [status, err] = shell(
        dir.path(), "ECODYN=" + std::string(ecodyn) + "; " + script + "; r=$?; exec 3>&-; wait; exit $r");
    EXPECT_EQ(0, status) << err << read_file("out");
    EXPECT_EQ("0\n", read_file("status"));
    EXPECT_THAT(read_file("fort.8"), HasSubstr(" BIOMASS IN  1 =  .8000E+01"));
  }
}

}  // namespace

// A typing mistake at a terminal (here a pseudo-terminal through script(1))
// is explained and its question asked again, the answers before it kept;
// the same answers from a file are read as they always were: an unreadable
// one ends the run naming its question, one with more values than its
// question takes is read with a warning.
TEST(TypingMistakes, AreAskedAgainAtATerminalAndReadAsAlwaysFromAFile) {
  const std::string number = " GIVE A NUMBER, SUCH AS 2.5 OR 1.0E-3. TRY AGAIN.\n";
  const std::string comma = " WRITE DECIMALS WITH A POINT, NOT A COMMA. TRY AGAIN.\n";
  const struct {
    std::string before, wrong, good;  // answer lines
    std::string at_terminal;
    int status;                      // from a file
    Matcher<std::string> from_file;  // its standard error
  } cases[] = {
      {"", "tow\n", "2\n", " GIVE A WHOLE NUMBER. TRY AGAIN.\n" + model_menu, 2,
       HasSubstr("unreadable answer to the question \"which type model\" (answer 1")},
      {"", "zero\n", "0\n", number + " START TIME?\n", 2,
       HasSubstr("unreadable answer to the question \"start time\" (answer 2")},
      {"", "10O\n", "10\n", number + " END TIME?\n", 0,
       HasSubstr("'10O' to the question \"end time\" (answer 3 on the terminal input) was read as "
                 "10: the rest of the line is not used")},
      {"", "5 5\n", "5\n", " GIVE ONE VALUE ONLY. TRY AGAIN.\n PRINT INTERVAL?\n", 0,
       "ecodyn: warning: the answer '5 5' to the question \"print interval\" (answer 4 on the "
       "terminal input) was read as 5: the rest of the line is not used\n"},
      {"", "0,0\n", "0\n", comma + snapshot_question, 0,
       "ecodyn: warning: the answer '0,0' to the question \"snapshot interval\" (answer 5 on the "
       "terminal input) was read as 0: a comma separates values; write 0.0\n"},
      {"Y\n", "biomass\n", "1\n", " GIVE A WHOLE NUMBER. TRY AGAIN.\n WHICH COMPARTMENT?\n", 2,
       HasSubstr("\"which kind\" (answer 7")},
      {"", "1,5\n", "1\n", " GIVE ONE VALUE ONLY. TRY AGAIN.\n WHICH COMPARTMENT?\n", 0,
       HasSubstr("the answer '1,5' to the question \"which compartment\" (answer 8")},
      {"", "0,74\n", "0.74\n", comma + " OLD VALUE =  .1000E+02\n NEW VALUE?\n", 0,
       "ecodyn: warning: the answer '0,74' to the question \"new value\" (answer 9 on the terminal "
       "input) was read as 0: a comma separates values; write 0.74\n"},
      {"Y\n5\n", "1 x\n", "1 2\n", " GIVE WHOLE NUMBERS ONLY. TRY AGAIN.\n GIVE ORIGIN", 2,
       HasSubstr("\"origin and terminal nodes\" (answer 12")},
  };
  const std::string ending = "0.5\nN\n";
  // Every mistake in one dialogue at the terminal.
  std::string dialogue;
  for (const auto& c : cases) dialogue += c.before + c.wrong + c.good;
  ScratchDir dir;
  write_file("fort.7", two_compartments_file());
  write_file("answers", dialogue + ending);
  const auto [status, err] =
      shell(dir.path(), "timeout 20 script -qefc " ECODYN_BINARY " /dev/null <answers >out");
  EXPECT_EQ(0, status) << err;
  const std::string out = std::regex_replace(read_file("out"), std::regex("\r"), "");
  for (const auto& c : cases) EXPECT_THAT(out, HasSubstr(c.at_terminal)) << c.wrong;
  EXPECT_THAT(read_file("fort.8"), AllOf(HasSubstr(" BIOMASS IN  1 =  .7400E+00\n"),
                                         HasSubstr("COEFF FOR FLOW FROM  1 TO  2 =  .5000E+00")));
  // From a file: each mistake alone among good answers.
  for (std::size_t k = 0; k < std::size(cases); ++k) {
    SCOPED_TRACE(cases[k].wrong);
    std::string answers;
    for (std::size_t j = 0; j < std::size(cases); ++j)
      answers += cases[j].before + (j == k ? cases[j].wrong : cases[j].good);
    const RunResult r = run_ecodyn(dir.path(), answers + ending);
    EXPECT_EQ(cases[k].status, r.status);
    EXPECT_THAT(r.err, cases[k].from_file);
  }
}
