// The whole program through its terminal dialogue: refusals, perturbations,
// the table's timing; at a pseudo-terminal and at a pipe every
// prompt must be out before its answer is awaited. ecodyn-run: the answers,
// the refusals, the files it keeps and the signals it hands on.
#include <cmath>
#include <csignal>
#include <map>
#include <regex>
#include <set>

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

RunResult run_runner(const std::string& dir, const std::string& args) {
  return run(ECODYN_RUN_BINARY, dir, "", args);
}

int count(const std::string& text, const std::string& what) {
  int n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(Runner, WritesTheDialoguesAnswersWithExactProductsAndRunsThem) {
  ScratchDir dir;
  const RunResult r = run_runner(
      dir.path(), examples_dir + "two_compartments.net --end 10 --print 2.5 --snapshot 5 --dir out "
                  "--perturb 'exchange:plants,2=x3' --perturb 'biomass:DETRITUS=x0.1' "
                  "--perturb 'biomass:2=x0.1'");
  ASSERT_EQ(0, r.status) << r.err;
  // Linear donor control: the coefficient of the flow from 1 to 2 is the
  // flow over the donor's biomass, 3/10 in single precision; the second
  // factor on the detritus applies to the value the first one left.
  const auto answers = lines_of(read_file("out/answers"));
  ASSERT_EQ(18u, answers.size());
  EXPECT_EQ((std::vector<std::string>{"2", "0", "10", "2.5", "5", "Y", "5", "1 2"}),
            std::vector<std::string>(answers.begin(), answers.begin() + 8));
  EXPECT_EQ((std::vector<std::string>{"Y", "2", "N"}),
            (std::vector<std::string>{answers[13], answers[15], answers[17]}));
  EXPECT_EQ(3.0f / 10.0f * 3.0f, std::strtof(answers[8].c_str(), nullptr));
  EXPECT_EQ(20.0f * 0.1f * 0.1f, std::strtof(answers[16].c_str(), nullptr));
  EXPECT_EQ(two_compartments_file(), read_file("out/fort.7"));
  // ecodyn ran there: its report, snapshots at 0, 5 and 10, and its terminal.
  EXPECT_THAT(read_file("out/fort.8"), HasSubstr(" BIOMASS IN  2 =  .2000E+00"));
  EXPECT_EQ(3, count(read_file("out/fort.18"), "TWO COMPARTMENTS"));
  EXPECT_THAT(read_file("out/terminal.txt"), HasSubstr("    10.000"));
  EXPECT_EQ("", r.out + r.err);  // no progress bar but on a terminal
}

TEST(Runner, RunsTheLakeExactlyAsAHandWrittenAnswerFileDoes) {
  ScratchDir dir;
  const std::string lake = examples_dir + "networks/lake_oneida_pre_zm.net";
  const RunResult r = run_runner(
      dir.path(), lake + " --model 1 --end 1 --print 0.5 --dir out --follow "
                         "'blue-green algae,daphnia pulicaria,daphnia galeata mendotae,leptodora,"
                         "walleye age 4+, Cormorants ,72' --perturb 'biomass:Walleye Age 4+=x0.5' "
                         "--perturb 'input:Blue-green Algae=0.5' --perturb 'export:3=0' "
                         "--perturb 'respiration:cormorants=2' --perturb 'exchange:2,Cormorants=1'");
  ASSERT_EQ(0, r.status) << r.err;
  // Said on standard error, not only in the transcript: the linear analysis
  // beforehand, then that the network is not balanced.
  EXPECT_THAT(r.err, StartsWith("ecodyn-run: note: under model 1 the steady state is unstable "
                                "(dominant eigenvalue 1.1e+02 per time unit): small departures "
                                "grow\necodyn-run: ecodyn: INPUT NETWORK IS NOT BALANCED TO YOUR "
                                "SPECIFICATIONS.\necodyn-run: note: the network is not at rest"));
  // Compartment 2's biomass is .1891800E+00 in the network file.
  const std::string answers =
      "1\n0\n1\n0.5\n0\nY\n1\n2\n0.09459\nY\n2\n63\n0.5\nY\n3\n3\n0\nY\n4\n1\n2\n"
      "Y\n5\n2 1\n1\nN\n63 48 47 53 2 1 72\n";
  EXPECT_EQ(answers, read_file("out/answers"));
  fs::create_directory("by_hand");
  fs::copy_file(lake, "by_hand/fort.7");
  const RunResult h = run_ecodyn(dir.file("by_hand"), answers);
  ASSERT_EQ(0, h.status);
  EXPECT_EQ(h.out, read_file("out/terminal.txt"));
  for (const char* f : {"fort.8", "fort.18"}) {
    EXPECT_EQ(read_file(std::string("by_hand/") + f), read_file(std::string("out/") + f)) << f;
  }
}

TEST(Runner, RunsOneCyclePerModelTypeAndResumesASnapshot) {
  ScratchDir dir;
  RunResult r = run_runner(dir.path(), examples_dir + "grazing_chain.net --model 1,3 --end 50 "
                                                  "--print 5 --snapshot 25 --dir first --plot");
  ASSERT_EQ(0, r.status) << r.err;
  EXPECT_EQ("", r.err);  // stable under both: no note
  // The picture names each cycle by its model type.
  EXPECT_THAT(read_file("first/fort.8.svg"), testing::AllOf(HasSubstr(">model 1 (generic predator control): "),
                                                   HasSubstr(">model 3 (damped Lotka-Volterra): ")));
  const std::string network = read_file(examples_dir + "grazing_chain.net");
  EXPECT_EQ(network + network, read_file("first/fort.7"));
  const auto answers = lines_of(read_file("first/answers"));
  ASSERT_EQ(12u, answers.size());
  EXPECT_EQ("1", answers[0]);
  EXPECT_EQ("3", answers[6]);
  EXPECT_EQ(2, count(read_file("first/fort.8"), "THE FOLLOWING COEFFICIENTS HAVE BEEN CHANGED"));

  // The snapshot at 25 of the second cycle goes on under its own type: no
  // start time is asked, and ecodyn says where it restarts.
  // A print and a snapshot interval may be the whole span.
  r = run_runner(dir.path(), "first/fort.18 --index 5 --model 3 --end 40 --print 15 --snapshot 15 "
                             "--dir resumed");
  ASSERT_EQ(0, r.status) << r.err;
  EXPECT_EQ("3\n40\n15\n15\nN\n", read_file("resumed/answers"));
  EXPECT_THAT(read_file("resumed/terminal.txt"), HasSubstr("RESTART AT T =     25.000"));
  EXPECT_EQ("", r.err);  // a balanced network: nothing to pass on
  // No snapshot at 26: the last nearest (the 5th, on line 101), within half the spacing of 25.
  r = run_runner(dir.path(), "first/fort.18 --time 26 --end 40 --dir near");
  EXPECT_EQ(0, r.status);
  EXPECT_EQ("ecodyn-run: first/fort.18, line 101: warning: no description is at time 26; the "
            "nearest, at 25.000, is taken\n",
            r.err);
  EXPECT_THAT(read_file("near/terminal.txt"), HasSubstr("RESTART AT T =     25.000"));
  r = run_runner(dir.path(), "first/fort.18 --time 25 --start 0 --end 40 --dir again");
  EXPECT_EQ(2, r.status);
  EXPECT_THAT(r.err, HasSubstr("--start: the network is a snapshot at time 25"));
}

TEST(Runner, RefusesWhatTheDialogueWouldRefuseBeforeRunningAndPassesOnEcodynsStatus) {
  ScratchDir dir;
  const std::string lake = examples_dir + "networks/lake_oneida_pre_zm.net --end 3 ";
  const struct {
    std::string args, message;
  } refused[] = {
      {lake + "--follow walleye,1,2,3,4,5,6", "'walleye' names 3 compartments"},
      {lake + "--follow 1,2,3", "exactly 7 compartments; 3 given"},
      {lake + "--start 3", "--end 3 must be greater than the start time, 3"},
      {lake + "--print 4", "--print 4 is longer than the span, 3"},
      {lake + "--print 0", "--print must be greater than 0"},
      {lake + "--snapshot -1", "--snapshot -1 must lie from 0 to the span, 3"},
      {lake + "--start 1 --snapshot 2.5", "--snapshot 2.5 must lie from 0 to the span, 2"},
      {lake + "--perturb 'exchange:2,1=x1.2e-38'", "0.002429112 times 1.2e-38 is too close to 0"},
      {examples_dir + "two_compartments.net --end 3 --follow 1", "ecodyn tabulates all of them"},
      {examples_dir + "two_compartments.net --end 3 --index 2", "there is no description 2"},
  };
  for (const auto& c : refused) {
    fs::remove_all("out");
    const RunResult r = run_runner(dir.path(), c.args + " --dir out");
    EXPECT_EQ(2, r.status) << c.args;
    EXPECT_THAT(r.err, HasSubstr(c.message)) << c.args;
    EXPECT_FALSE(file_exists("out/fort.8")) << c.args;
  }
  // A directory in use is left alone unless --force is given, which
  // removes only the files of a run.
  const std::string two = examples_dir + "two_compartments.net --end 3 --dir out";
  fs::create_directory("out");
  write_file("out/notes", "mine");
  write_file("out/fort.8.csv", "of an earlier run");
  EXPECT_EQ(2, run_runner(dir.path(), two).status);
  EXPECT_FALSE(file_exists("out/fort.7"));
  EXPECT_EQ(0, run_runner(dir.path(), two + " --force").status);
  EXPECT_EQ("mine", read_file("out/notes"));
  EXPECT_FALSE(file_exists("out/fort.8.csv"));
  // ecodyn's own status, with the end of its terminal.
  std::string network = two_compartments_file();
  network.replace(network.find("       10.0000"), 14, "        0.0000");
  write_file("zero.net", network);
  const RunResult r = run_runner(dir.path(), "zero.net --end 3");
  EXPECT_EQ(1, r.status);
  EXPECT_THAT(r.err, AllOf(HasSubstr("ecodyn ended with status 1 in zero"),
                           HasSubstr("BIOMASSES MUST BE GREATER THAN ZERO.")));
}

// Every file and folder under the working directory, with its contents.
std::map<std::string, std::string> files_here() {
  std::map<std::string, std::string> files;
  for (const fs::directory_entry& e : fs::recursive_directory_iterator(".")) {
    if (e.path().filename() == ".ecodyn-run.lock") continue;  // a run takes over one left behind
    files[e.path().lexically_relative(".")] = e.is_regular_file() ? read_file(e.path()) : "(directory)";
  }
  return files;
}

// The network, and two stand-ins for ecodyn: one that holds on until a
// signal, which it takes as the end of its run, and one that fills its
// terminal and fails. The shell commands run with RUN and w (which waits
// for a file to be written).
const std::string report = examples_dir + "expected/two_compartments/fort.8";
const std::string runner_shell = "RUN='" ECODYN_RUN_BINARY
                                 "'; w() { for i in $(seq 1000); do [ -s $1 ] && return; sleep 0.01; done; }; ";
void write_runner_files() {
  write_file("n.net", two_compartments_file());
  // Short sleeps, not a long one in the background: that one, not yet
  // started when the signal came, outlived it holding ecodyn-run's pipe.
  write_file("held", "#!/bin/sh\ntrap 'cp " + report + " fort.8; exit 0' HUP INT QUIT TERM USR1 USR2 ALRM\n"
                     "echo $$ >pid; for i in $(seq 400); do sleep 0.05; done\n");
  write_file("full", "#!/bin/sh\nfor i in $(seq 100); do printf '%050d\\n' 0; done\necho ended >&2; exit 2\n");
  for (const char* f : {"held", "full"}) fs::permissions(f, fs::perms::owner_all);
}

// A run never writes over or removes the network it was given, nor any
// file but those of an earlier run with --force, nor the files of a run that
// holds the directory; it reads a pipe once; every refusal says why.
TEST(Runner, KeepsEveryFileButThoseOfAnEarlierRunAndSaysWhyItStops) {
  const struct {
    std::string setup, command;
    int status;
    std::string message, written;  // written: "" when nothing may change
  } cases[] = {
      {"cp n.net fort.7", "$RUN fort.7 --dir . --force --end 3", 2,
       "cannot write ./fort.7: it is the input fort.7", ""},
      {"$RUN n.net --end 3 --dir run1", "$RUN run1/fort.18 --dir run1 --force --end 5", 2,
       "cannot write run1/fort.18: it is the input run1/fort.18", ""},
      {"mkdir -p out/fort.8", "$RUN n.net --end 3 --dir out --force", 2,
       "cannot write out/fort.8: Is a directory", ""},
      {"mkdir out; echo mine >mine; ln -s ../mine out/fort.8",
       "$RUN n.net --end 3 --dir out --force", 2,
       "cannot write out/fort.8: not a regular file (--force replaces only the files of a run)", ""},
      {"", "printf 'A\\nB\\n' | $RUN /dev/stdin --end 3", 2, "/dev/stdin, line 2: unreadable", ""},
      {"", "$RUN n.net --end 3 --time abc", 2, "--time: 'abc' is not a number", ""},
      {"", "$RUN n.net --end 3 --perturb biomass:1=1e-46", 2, "'1e-46' is too close to 0", ""},
      {"", "$RUN /dev/stdin --end 3 --dir e </dev/null", 2, "/dev/stdin: the file is empty", ""},
      {"", "cat n.net | $RUN /dev/stdin --end 3 --dir p", 0, "", "p/fort.8"},
      {"mkfifo f", "cat n.net >f & timeout 10 $RUN f --end 3 --dir q", 0, "", "q/fort.8"},
      {"mkdir out; : >out/.ecodyn-run.lock", "$RUN n.net --end 3 --dir out", 0, "", "out/fort.8"},
      // ecodyn, still running, holds the directory after ecodyn-run is killed.
      {"$RUN n.net --end 3 --dir out --ecodyn ./held >/dev/null 2>&1 & w out/pid; kill -9 $!",
       "$RUN n.net --end 3 --dir out --force", 2,
       "cannot run in out: another run holds it (out/.ecodyn-run.lock)", ""},
      {"", "ulimit -f 4; $RUN n.net --end 3 --dir out --ecodyn ./full", 2,
       "cannot write out/terminal.txt: File too large\necodyn-run: ecodyn ended with status 2 in "
       "out; the end of its terminal output:\n" + repeat(std::string(50, '0') + "\n", 5) + "ended\n",
       "out/terminal.txt"},
  };
  for (const auto& c : cases) {
    ScratchDir dir;
    write_runner_files();
    shell(dir.path(), runner_shell + (c.setup.empty() ? ":" : c.setup));
    const auto before = files_here();
    const auto [status, err] = shell(dir.path(), runner_shell + c.command);
    auto after = files_here();
    EXPECT_EQ(c.status, status) << c.command;
    EXPECT_EQ(c.message.empty(), err.empty()) << c.command << err;
    EXPECT_THAT(err, HasSubstr(c.message)) << c.command;
    if (!c.written.empty()) {
      EXPECT_NE("", after[c.written]) << c.command;
      std::erase_if(after, [&](const auto& f) { return before.count(f.first) == 0; });
    }
    EXPECT_EQ(before, after) << c.command;
    shell(dir.path(), "p=$(cat out/pid) && kill $p && while kill -0 $p; do sleep 0.01; done 2>/dev/null");
  }
}

// A signal that ends ecodyn ends ecodyn-run the same way, handed on to
// ecodyn (which here ends its run at it) and once ecodyn has ended; nothing
// runs after it (no --csv), and the claim on the directory goes.
TEST(Runner, HandsOnEachSignalThatEndsEcodynAndEndsByItRunningNothingMore) {
  // Not ignored, however the tests were started (in the background of a
  // shell without job control SIGINT and SIGQUIT are, and would stay so).
  for (const int sig : {SIGINT, SIGQUIT}) std::signal(sig, SIG_DFL);
  for (const int sig : {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGUSR1, SIGUSR2, SIGALRM}) {
    ScratchDir dir;
    write_runner_files();
    // bash, for its job control: a job in the background is not made to
    // ignore SIGINT and SIGQUIT.
    write_file("signal", runner_shell + "set -m; ulimit -c 0; $RUN n.net --end 3 --dir out --csv "
                                        "--ecodyn ./held & w out/pid; kill -$1 $!; wait $!");
    EXPECT_EQ(128 + sig, shell(dir.path(), "bash signal " + std::to_string(sig)).first) << sig;
    EXPECT_EQ(read_file(report), read_file("out/fort.8")) << sig;
    std::set<std::string> files;
    for (const fs::directory_entry& e : fs::directory_iterator("out")) files.insert(e.path().filename());
    EXPECT_EQ((std::set<std::string>{"answers", "fort.7", "fort.8", "pid", "terminal.txt"}), files);
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
