// ecodyn-export: a network balanced by a run of ecodyn made a steady state
// again, the choice of a description in a snapshot file,
// and inputs refused without leaving an output file.
#include <map>

#include "support/records.h"
#include "support/scratch.h"

namespace {

using namespace ecodyn::test;

const std::string examples = examples_dir + "networks/";

RunResult run_export(const std::string& dir, const std::string& args) {
  return run(ECODYN_EXPORT_BINARY, dir, "", args);
}

// The biomass list of the first description of a network file, by compartment.
std::map<int, double> biomasses(const std::string& text) {
  const auto lines = lines_of(text);
  std::map<int, double> out;
  for (std::size_t k = 2 + std::stoi(lines.at(1).substr(0, 3)); std::stoi(lines.at(k).substr(0, 3)) > 0;
       ++k) {
    out[std::stoi(lines[k].substr(0, 3))] = std::stod(lines[k].substr(3, 14));
  }
  return out;
}

TEST(ExportBalanced, ABalancingRunBecomesASteadyStateUnderEveryModelType) {
  ScratchDir dir;
  const std::string follow = "63 48 47 53 2 1 72\n";
  write_file("fort.7", read_file(examples + "lake_oneida_pre_zm.net"));
  // Linear donor control to t = 10, some 30 longest throughput times: the
  // unbalanced network settles at the model's equilibrium.
  RunResult r = run_ecodyn(dir.path(), "2\n0\n10\n1\n0\nN\n" + follow);
  ASSERT_EQ(0, r.status) << r.err;
  ASSERT_THAT(r.out, HasSubstr("NOT BALANCED"));
  r = run_export(dir.path(), "fort.18 --network -o balanced.net");
  ASSERT_EQ(0, r.status) << r.err;
  const std::string balanced = read_file("balanced.net");
  EXPECT_EQ(" 74 71\n", balanced.substr(81, 7));  // type and time blank
  const std::map<int, double> start = biomasses(balanced);
  ASSERT_EQ(74u, start.size());

  for (const char* type : {"1", "2", "3"}) {
    SCOPED_TRACE(std::string("model type ") + type);
    write_file("fort.7", balanced);
    r = run_ecodyn(dir.path(), std::string(type) + "\n0\n1\n0.5\n0\nN\n" + follow);
    ASSERT_EQ(0, r.status) << r.err;
    EXPECT_THAT(r.out, HasSubstr("LONGEST THROUGHPUT TIME"));
    EXPECT_THAT(r.out, Not(HasSubstr("NOT BALANCED")));
    EXPECT_THAT(r.out, Not(HasSubstr("EXTINCT")));
    const std::map<int, double> end = biomasses(read_file("fort.18"));
    ASSERT_EQ(start.size(), end.size());
    for (const auto& [i, b] : start) EXPECT_NEAR(b, end.at(i), 1e-4 * b) << "compartment " << i;
  }
}

// A run of the two-compartment network with snapshots at 0, 5 and 10.
class ExportSnapshots : public testing::Test {
 protected:
  void SetUp() override {
    write_file("fort.7", two_compartments_file());
    ASSERT_EQ(0, run_ecodyn(dir.path(), "2\n0\n10\n5\n5\nY\n1\n1\n5\nN\n").status);
  }
  RunResult exported(const std::string& args) { return run_export(dir.path(), "fort.18 " + args); }
  ScratchDir dir;
};

TEST_F(ExportSnapshots, ListsEveryDescriptionAndPicksOneByIndexOrTime) {
  RunResult r = exported("--list");
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_EQ(
      " INDEX  LINE  NCOMP  NLIV  TYPE        TIME  TITLE\n"
      "     1     1      2     1     2        .000  " + two_compartments_title + "\n"
      "     2    18      2     1     2       5.000  " + two_compartments_title + "\n"
      "     3    35      2     1     2      10.000  " + two_compartments_title + "\n",
      r.out);
  EXPECT_EQ(" INDEX  LINE  NCOMP  NLIV  TYPE        TIME  TITLE\n     1     1      2     1" +
                blanks(20) + two_compartments_title + "\n",
            run_export(dir.path(), "fort.7 --list").out);  // an ordinary network: no type or time
  const std::string second = exported("--index 2 --network").out;
  EXPECT_EQ(second, exported("--time 5 --network").out);
  EXPECT_THAT(second, StartsWith(title(two_compartments_title) + counts(2, 1)));
  EXPECT_EQ(exported("--index 3 --scor").out, exported("--scor").out);  // the last by default
  EXPECT_THAT(exported("--index 1 --scor").out,
              StartsWith(two_compartments_title + "\n2 1\nPLANTS\nDETRITUS\n1 5\n2 20\n-1\n1 5\n-1\n"));
}

TEST_F(ExportSnapshots, RefusedInputsNameFileAndLineAndLeaveNoOutput) {
  const std::string snapshots = read_file("fort.18");
  write_file("truncated.18", snapshots.substr(0, snapshots.find(" -1 -1")));
  const std::pair<std::string, std::string> cases[] = {
      {"truncated.18 --network",
       "ecodyn-export: truncated.18, line 17: the file ends where the exchange matrix list "
       "record is due\n"},
      {"fort.18 --index 4 --scor",
       "ecodyn-export: fort.18, line 51: the file ends after 3 network descriptions; there is "
       "no description 4\n"},
      {"fort.18 --time 5.001 --network",
       "ecodyn-export: fort.18, line 51: the file ends after 3 network descriptions; none is at "
       "time 5.001\n"},
      {"missing.18 --network",
       "ecodyn-export: cannot read missing.18: No such file or directory\n"},
  };
  for (const auto& [args, err] : cases) {
    SCOPED_TRACE(args);
    const RunResult r = run_export(dir.path(), args + " -o out.txt");
    EXPECT_EQ(2, r.status);
    EXPECT_EQ(err, r.err);
    EXPECT_EQ("", r.out);
    EXPECT_FALSE(file_exists("out.txt"));
  }
}

}  // namespace
