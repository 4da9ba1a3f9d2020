// ecodyn-run on real files: the answers it writes are the dialogue's, in its
// order, with factors applied exactly to the values ecodyn shows; one cycle
// per model type; a snapshot resumed; the options it refuses before running.
#include "support/records.h"
#include "support/scratch.h"

namespace {

using namespace ecodyn::test;

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
                                                  "--print 5 --snapshot 25 --dir first");
  ASSERT_EQ(0, r.status) << r.err;
  const std::string network = read_file(examples_dir + "grazing_chain.net");
  EXPECT_EQ(network + network, read_file("first/fort.7"));
  const auto answers = lines_of(read_file("first/answers"));
  ASSERT_EQ(12u, answers.size());
  EXPECT_EQ("1", answers[0]);
  EXPECT_EQ("3", answers[6]);
  EXPECT_EQ(2, count(read_file("first/fort.8"), "THE FOLLOWING COEFFICIENTS HAVE BEEN CHANGED"));

  // The snapshot at 25 of the second cycle goes on under its own type: no
  // start time is asked, and ecodyn says where it restarts.
  r = run_runner(dir.path(), "first/fort.18 --index 5 --model 3 --end 40 --print 5 --dir resumed");
  ASSERT_EQ(0, r.status) << r.err;
  EXPECT_EQ("3\n40\n5\n0\nN\n", read_file("resumed/answers"));
  EXPECT_THAT(read_file("resumed/terminal.txt"), HasSubstr("RESTART AT T =     25.000"));
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
      {lake + "--perturb 'biomass:zander=2'", "no compartment is named 'zander'"},
      {lake + "--perturb 'biomass:75=2'", "compartment 75 is out of range 1 to 74"},
      {lake + "--perturb 'carbon:1=2'", "unknown kind 'carbon'"},
      {lake + "--perturb 'input:1=-2'", "is not a value of 0 or more"},
      {lake + "--perturb 'export:1=x'", "'' is not a factor of 0 or more"},
      {lake + "--start 3", "--end 3 must be greater than the start time, 3"},
      {lake + "--print 4", "--print 4 is longer than the span, 3"},
      {lake + "--snapshot -1", "--snapshot -1 must lie from 0 to the span"},
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
  // A directory in use is left alone unless --force is given.
  const std::string two = examples_dir + "two_compartments.net --end 3 --dir out";
  fs::create_directory("out");
  write_file("out/notes", "mine");
  EXPECT_EQ(2, run_runner(dir.path(), two).status);
  EXPECT_FALSE(file_exists("out/fort.7"));
  EXPECT_EQ(0, run_runner(dir.path(), two + " --force").status);
  EXPECT_EQ("mine", read_file("out/notes"));
  // ecodyn's own status, with the end of its terminal.
  std::string network = two_compartments_file();
  network.replace(network.find("       10.0000"), 14, "        0.0000");
  write_file("zero.net", network);
  const RunResult r = run_runner(dir.path(), "zero.net --end 3");
  EXPECT_EQ(1, r.status);
  EXPECT_THAT(r.err, AllOf(HasSubstr("ecodyn ended with status 1 in zero"),
                           HasSubstr("BIOMASSES MUST BE GREATER THAN ZERO.")));
}

}  // namespace
