// ecodyn-import on small hand-written SCOR files: the records it writes, the
// dialects it accepts, its warnings, the errors that leave no output behind
// and where the output goes.
#include <sys/stat.h>

#include <regex>
#include <set>

#include "support/records.h"
#include "support/scratch.h"

namespace {

using namespace ecodyn::test;

const std::string end = " -1  .0000000E+00\n", matrix_end = " -1 -1  .0000000E+00\n";
const std::string importer = ECODYN_IMPORT_BINARY;

// The two-compartment network as SCOR, and the network file made of it.
const std::string two_pools =
    "Two pools\n2 1\nPLANTS\nDETRITUS\n1 10\n2 20\n-1\n1 5\n-1\n1 1\n2 2\n-1\n1 2\n-1\n1 2 3\n2 1 1\n-1\n";
const std::string two_pools_head = "Two pools\n2 1\nPLANTS\nDETRITUS\n";
std::string head(const std::string& first = "PLANTS", const std::string& second = "DETRITUS") {
  return title("Two pools") + counts(2, 1) + name(first) + name(second);
}
const std::string biomass_list = rec(1, ".1000000E+02") + rec(2, ".2000000E+02") + end;
const std::string other_lists = rec(1, ".5000000E+01") + end + rec(1, ".1000000E+01") +
                                rec(2, ".2000000E+01") + end + rec(1, ".2000000E+01") + end +
                                mrec(1, 2, ".3000000E+01") + mrec(2, 1, ".1000000E+01") + matrix_end;
const std::string two_pools_net = head() + biomass_list + other_lists;

// The two-pool network with line `line` (from 1) replaced; a text with other line ends.
std::string two_pools_changed(int line, const std::string& text) {
  std::string out;
  int n = 0;
  for (const std::string& l : lines_of(two_pools)) out += (++n == line ? text : l) + "\n";
  return out;
}
std::string ending(const std::string& text, const std::string& eol) {
  return std::regex_replace(text, std::regex("\n"), eol);
}

struct Accepted {
  const char* what;
  std::string scor;
  Matcher<std::string> net, err = _;
};

class Import : public testing::Test {
 protected:
  RunResult import(const std::string& scor, const std::string& args = "in.scor -o out.net") {
    write_file(dir.file("in.scor"), scor);
    return run_import(dir.path(), args);
  }
  std::string output() { return read_file(dir.file("out.net")); }
  // The files in the directory besides the input.
  std::set<std::string> others() {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir.path())) {
      if (e.path().filename() != "in.scor") names.insert(e.path().filename().string());
    }
    return names;
  }
  ScratchDir dir;
};

TEST_F(Import, WritesTheNetworkFileToAFileOrStandardOutput) {
  write_file(dir.file("out.net"), "old\n");
  RunResult r = import(two_pools);
  EXPECT_EQ((std::vector<std::string>{"", ""}), (std::vector<std::string>{r.out, r.err}));
  EXPECT_EQ(two_pools_net, output());
  EXPECT_EQ(std::set<std::string>{"out.net"}, others());
  const mode_t mask = umask(0);
  umask(mask);
  const auto mode = [&] {
    return static_cast<mode_t>(fs::status(dir.file("out.net")).permissions());
  };
  EXPECT_EQ(0666 & ~mask, mode());  // as if created afresh
  fs::permissions(dir.file("out.net"), static_cast<fs::perms>(0640));
  import(two_pools);
  EXPECT_EQ(0640u, mode());  // the mode of the file replaced
  EXPECT_EQ(two_pools_net, import(two_pools, "in.scor").out);
  EXPECT_EQ(two_pools_net, run_import(dir.path(), "-", two_pools).out);
  for (const auto& [option, field] : {std::pair{"3", " 3"}, {"-1", "-1"}, {"12", "12"}}) {
    EXPECT_EQ(title("Two pools", field),
              import(two_pools, std::string("in.scor --balance-digits ") + option).out.substr(0, 81));
  }
}

TEST_F(Import, AcceptedDialectsAndWarnings) {
  const Accepted cases[] = {
      {"zero entries are left out",
       "Zeros\n2 1\nA\nB\n1 10\n2 0\n-1\n1 0.0\n-1\n-1\n-1\n1 1 0\n1 2 5\n-1\n",
       title("Zeros") + counts(2, 1) + name("A") + name("B") + rec(1, ".1000000E+02") + end + end +
           end + end + mrec(1, 2, ".5000000E+01") + matrix_end},
      {"values separated by any blanks and tabs",
       "Two pools\n  2\t 1\nPLANTS\nDETRITUS\n  1     10\n\t2\t20\n  -1\n1       5\n -1\n"
       "   1 1\n   2 2\n-1\n1\t2\n-1\n  1  2     3\n  2\t1\t1\n -1 -1\n",
       two_pools_net},
      {"Fortran exponents with or without the letter",
       two_pools_head + "1 1.2-4\n2 3.5+2\n-1\n1 1.5D2\n2 2.5d-1\n-1\n1 7E1\n2 4.0e+00\n-1\n"
                        "1 .5\n2 6.\n-1\n1 2 1.25E-3\n2 1 2-1\n-1\n",
       head() + rec(1, ".1200000E-03") + rec(2, ".3500000E+03") + end + rec(1, ".1500000E+03") +
           rec(2, ".2500000E+00") + end + rec(1, ".7000000E+02") + rec(2, ".4000000E+01") + end +
           rec(1, ".5000000E+00") + rec(2, ".6000000E+01") + end + mrec(1, 2, ".1250000E-02") +
           mrec(2, 1, ".2000000E+00") + matrix_end},
      {"self-flows are kept", two_pools_changed(16, "2 2 0.5\n2 1 1"),
       head() + biomass_list + other_lists.substr(0, other_lists.size() - matrix_end.size()) +
           mrec(2, 2, ".5000000E+00") + matrix_end},
      {"a stray number at the end of the title is dropped",
       two_pools_changed(1, "Two pools           0    "), two_pools_net},
      {"a stray number on a line after the title is dropped", two_pools_changed(1, "Two pools\n0"),
       two_pools_net},
      {"a number that belongs to the title stays", two_pools_changed(1, "Two pools 1998"),
       StartsWith(title("Two pools 1998"))},
      {"a title that is a number stays", two_pools_changed(1, "1998"), StartsWith(title("1998"))},
      {"trailing blanks and CRLF line ends", ending(two_pools, "   \r\n"), two_pools_net},
      {"CR line ends and no final line end", ending(two_pools, "\r").substr(0, two_pools.size() - 1),
       two_pools_net},
      {"comment lines before the title and blank lines anywhere",
       "# network: two pools\n#\n\n  # units: none\nTwo pools\n\n2 1\nPLANTS\n\nDETRITUS\n"
       "1 10\n\n2 20\n-1\n\n1 5\n-1\n1 1\n2 2\n-1\n1 2\n-1\n\n\n1 2 3\n2 1 1\n-1\n\n\n",
       two_pools_net},
      {"a byte order mark is ignored", "\xEF\xBB\xBF" + two_pools, two_pools_net},
      {"names keep inner blanks and lose outer ones", two_pools_changed(3, "   GREEN\tPLANTS   "),
       head("GREEN PLANTS") + biomass_list + other_lists},
      // Warnings name what is cut, rounded or repeated.
      {"title cut to 78 characters", two_pools_changed(1, std::string(78, 'T') + "dropped part"),
       StartsWith(std::string(78, 'T') + "\n"),
       "ecodyn-import: in.scor, line 1: warning: the title is cut to 78 characters; "
       "'dropped part' is dropped\n"},
      {"name cut to 25 characters", two_pools_changed(4, "DISSOLVED ORGANIC NUTRIENT"),
       head("PLANTS", "DISSOLVED ORGANIC NUTRIEN") + biomass_list + other_lists,
       "ecodyn-import: in.scor, line 4: warning: the name of compartment 2 is cut to 25 "
       "characters, 'DISSOLVED ORGANIC NUTRIEN'; 'T' is dropped\n"},
      // 24 letters and an e with acute accent (two bytes in UTF-8).
      {"name cut before a character that would be split",
       two_pools_changed(3, "ABCDEFGHIJKLMNOPQRSTUVWX\xC3\xA9"),
       head("ABCDEFGHIJKLMNOPQRSTUVWX") + biomass_list + other_lists,
       HasSubstr("line 3: warning: the name of compartment 1 is cut")},
      {"value with more than seven significant digits", two_pools_changed(5, "1 0.0034943619"),
       head() + rec(1, ".3494362E-02") + rec(2, ".2000000E+02") + end + other_lists,
       "ecodyn-import: in.scor, line 5: warning: the biomass of compartment 1 (0.0034943619) "
       "has more than seven significant digits and is written as 0.3494362E-02\n"},
      {"values that lose digits are counted in one line",
       two_pools_changed(16, "1 2 12345678\n2 1 1.23456789-3"), _,
       HasSubstr("ecodyn-import: in.scor: warning: 2 values have more than seven significant "
                 "digits and lose the others (lines 16, 17; --verbose lists each)\n")},
      // 0.000986 shows as 0.9860001E-03 in single precision, yet reads back
      // as the same value: nothing is lost.
      {"none for seven digits or fewer",
       two_pools_head + "1 1234567\n2 0.000986\n-1\n1 1.000000000\n-1\n-1\n-1\n"
                        "1 2 99.99999\n2 2 1200000000\n-1\n",
       head() + rec(1, ".1234567E+07") + rec(2, ".9860001E-03") + end + rec(1, ".1000000E+01") +
           end + end + end + mrec(1, 2, ".9999999E+02") + mrec(2, 2, ".1200000E+10") + matrix_end,
       Not(HasSubstr("digits and"))},
      {"value too small for single precision", two_pools_changed(5, "1 1e-50"),
       head() + rec(2, ".2000000E+02") + end + other_lists,
       "ecodyn-import: in.scor, line 5: warning: the biomass of compartment 1 (1e-50) is too "
       "small for single precision and is written as zero\n"},
      {"a compartment without a biomass record takes biomass 0", two_pools_changed(6, ""),
       head() + rec(1, ".1000000E+02") + end + other_lists,
       "ecodyn-import: in.scor, line 4: warning: compartment 2 (DETRITUS) has no biomass record "
       "and takes biomass 0\n"},
      {"a tolerance wider than a thousandth of the largest flow", two_pools_changed(16, "2 1 0.5"),
       _,
       HasSubstr("ecodyn-import: in.scor: warning: the tolerance of --balance-digits 1, 1, is "
                 "wider than a thousandth of the largest flow, 5: with it the network is balanced "
                 "only in name\n")},
      {"entry given twice keeps the later value", two_pools_changed(6, "1 11\n2 20"),
       head() + rec(1, ".1100000E+02") + rec(2, ".2000000E+02") + end + other_lists,
       "ecodyn-import: in.scor, line 6: warning: compartment 1 appears again in the biomass "
       "section (first on line 5); the value of this line is kept\n"},
  };
  for (const Accepted& c : cases) {
    SCOPED_TRACE(c.what);
    const RunResult r = import(c.scor);
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_THAT(output(), c.net);
    EXPECT_THAT(r.err, c.err);
  }
  // --verbose names each value, --quiet nothing.
  const std::string rounded = two_pools_changed(16, "1 2 12345678\n2 1 1.23456789-3");
  EXPECT_THAT(import(rounded, "--verbose in.scor -o out.net").err,
              AllOf(HasSubstr("line 16: warning: the flow from 1 to 2 (12345678)"),
                    HasSubstr("line 17: warning: the flow from 2 to 1 (1.23456789-3)")));
  const RunResult quiet = import(rounded, "--quiet in.scor -o out.net");
  EXPECT_EQ(0, quiet.status);
  EXPECT_EQ("", quiet.err);
}

// 1000.0011 is written 0.1000001E+04, which ecodyn reads as 1000.00098 in
// single precision: the plants then balance to 0.00098, within 0.001 (the
// value as given would be off by 0.0011).
TEST_F(Import, BalanceIsJudgedOnTheValuesEcodynReadsBack) {
  std::string scor = two_pools_changed(8, "1 1000.0011");
  scor.replace(scor.find("\n1 1\n"), 5, "\n1 996\n");
  const RunResult r = import(scor, "in.scor -o fort.7");
  EXPECT_THAT(r.err, AllOf(HasSubstr("is written as 0.1000001E+04"), Not(HasSubstr("imbalance"))));
  EXPECT_THAT(run_ecodyn(dir.path(), "").out,
              AllOf(HasSubstr("THROUGHPUT TIME"), Not(HasSubstr("NOT BALANCED"))));
}

// Refused: status 2, the line and what was found, and no output.
TEST_F(Import, RefusedInputsNameTheLineAndLeaveNoOutput) {
  write_file(dir.file("out.net"), "old\n");
  const std::pair<std::string, std::string> cases[] = {
      {"", "the file holds no network"},
      {ending(two_pools_changed(5, "1 ten"), "\r\n"),  // a CRLF is one line end
       "line 5: expected the biomass of compartment 1, found 'ten'"},
      {two_pools_changed(2, "99999999999 1"),
       "line 2: expected the compartment count and the living count, found '99999999999 1'"},
      {two_pools_changed(2, "76 70"), "line 2: the network has 76 compartments; ecodyn holds at most 75"},
      {two_pools_changed(2, "0 0"), "line 2: the compartment count must be at least 1, found 0"},
      {two_pools_changed(2, "2 3"), "line 2: the living count 3 is above the compartment count 2"},
      {two_pools_changed(2, "2 0"),
       "line 2: the living count must be at least 1, found 0 (ecodyn would take every "
       "compartment as living)"},
      {two_pools_changed(2, "2 1 0"),
       "line 2: expected the compartment count and the living count, found '2 1 0'"},
      {two_pools_changed(6, "3 20"), "line 6: compartment 3 in the biomass section is outside 1 to 2"},
      {two_pools_changed(16, "3 1 1"), "line 16: origin 3 in the flow section is outside 1 to 2"},
      {two_pools_changed(16, "2 0 1"), "line 16: destination 0 in the flow section is outside 1 to 2"},
      {two_pools_changed(13, "1 -2"), "line 13: the respiration of compartment 1 is negative: -2"},
      {two_pools_changed(16, "2 1 -1.0-3"), "line 16: the flow from 2 to 1 is negative: -1.0-3"},
      {two_pools_changed(5, "1 1e39"),
       "line 5: the biomass of compartment 1 (1e39) is too large for single precision"},
      {two_pools.substr(0, two_pools.size() - 3),
       "line 16: the flow section (from line 15) does not end: the file ends before its -1 line"},
      {two_pools_changed(14, ""),
       "line 15: the respiration section (from line 13) does not end: a flow line '1 2 3' "
       "follows without a -1 line before it"},
      {"Two pools\n2 1\nPLANTS\nDETRITUS\n1 10\n-1\n1 5\n-1\n",
       "line 8: the file ends before the export section"},
      {two_pools_changed(15, "1 2"),
       "line 15: the flow section expects 'origin destination flow', found '1 2'"},
      {"Two pools\n3 1\nPLANTS\nDETRITUS\n1 10\n2 20\n-1\n",
       "line 5: expected the name of compartment 3, found '1 10', a biomass line: the file "
       "gives fewer names than its 3 compartments"},
      {"Two pools\n3 1\nPLANTS\n", "line 3: the file ends after 1 of the 3 compartment names"},
      {two_pools + "\nAnother network\n",
       "line 19: text after the end of the flow section: 'Another network' (one network per "
       "file)"},
      {"# only a comment\n\n", "line 2: the file holds no network"},
  };
  for (const auto& [scor, message] : cases) {
    SCOPED_TRACE(message);
    const RunResult r = import(scor);
    EXPECT_EQ(2, r.status);
    EXPECT_EQ("", r.out);
    EXPECT_EQ(std::string("ecodyn-import: in.scor") + (scor.empty() ? ": " : ", ") + message + "\n", r.err);
    EXPECT_EQ("old\n", output());
    EXPECT_EQ(std::set<std::string>{"out.net"}, others());
  }
}

TEST_F(Import, RefusedRunsWriteNothing) {
  fs::create_directory(dir.file("folder"));
  for (const auto& [args, err] :
       {std::pair{"nothing.scor", "cannot read nothing.scor: No such file or directory"},
        {"folder", "cannot read folder: Is a directory"},
        {"in.scor -o nowhere/out.net", "cannot write nowhere/out.net: No such file or directory"},
        {"-o out.net", "INPUT is required"},
        {"in.scor --balance-digits 100", "--balance-digits"},  // two columns
        {"in.scor -o in.scor", "cannot write in.scor: it is the input in.scor"},
        {"in.scor -o link.scor", "cannot write link.scor: it is the input in.scor"},
        {"/dev/zero", "cannot read /dev/zero: larger than 16 MB, more than any network"}}) {
    SCOPED_TRACE(args);
    fs::create_symlink("in.scor", dir.file("link.scor"));
    const RunResult r = import(two_pools, args);
    fs::remove(dir.file("link.scor"));
    EXPECT_EQ(2, r.status);
    EXPECT_THAT(r.err, HasSubstr(err));
    EXPECT_EQ(std::set<std::string>{"folder"}, others());
    EXPECT_EQ(two_pools, read_file(dir.file("in.scor")));
  }
  EXPECT_THAT(run_import(dir.path(), "--help").out, HasSubstr("Usage: ecodyn-import [OPTIONS] INPUT"));
  EXPECT_EQ(std::string("ecodyn-import ") + ECODYN_VERSION + "\n", run_import(dir.path(), "--version").out);
}

// Each target of -o: the status and messages, the file that must hold the
// network afterwards, and the kind of file the target is after.
TEST_F(Import, DevicesAndPipesAreWrittenDirectlyAndOnlyRegularFilesReplaced) {
  using fs::file_type;
  write_file(dir.file("in.scor"), two_pools);
  const std::string run = "'" + importer + "' in.scor ", status = "; echo $? >status";
  // Some 30 KiB written, beyond a limit of 4 KiB.
  const std::string big = "'" + examples_dir + "networks/scor/lake_oneida_pre_zm.txt'";
  const struct {
    const char* what;
    std::string command;  // leaves the importer's status in "status"
    int status;
    Matcher<std::string> err;
    const char* got;  // the file that must hold the network, or nullptr
    const char* path;
    file_type kind;
  } targets[] = {
      {"a device that takes nothing", run + "-o /dev/full" + status, 2,
       "ecodyn-import: cannot write /dev/full: No space left on device\n", nullptr, "/dev/full",
       file_type::character},
      {"standard output that takes nothing", run + ">/dev/full" + status, 2,
       HasSubstr("ecodyn-import: cannot write"), nullptr, "/dev/full", file_type::character},
      {"a named pipe, read at the other end",
       "mkfifo pipe && { { timeout 20 " + run + "-o pipe" + status +
           "; } & timeout 20 cat pipe >got; wait; }",
       0, "", "got", "pipe", file_type::fifo},
      {"standard output into a pipe", "{ " + run + "-o /dev/stdout" + status + "; } | cat >got", 0, "", "got",
       "got", file_type::regular},
      {"a link to a file: the file is replaced",
       "echo old >linked && ln -s linked link && " + run + "-o link" + status, 0, "", "linked", "link",
       file_type::symlink},
      {"a directory", "mkdir folder && " + run + "-o folder" + status, 2,
       "ecodyn-import: cannot write folder: Is a directory\n", nullptr, "folder", file_type::directory},
      {"a file that grows beyond the size limit",
       "ulimit -f 4 && '" + importer + "' " + big + " -o big.net" + status, 2,
       HasSubstr("ecodyn-import: big.net is not written\n"), nullptr, "big.net", file_type::not_found},
  };
  for (const auto& t : targets) {
    SCOPED_TRACE(t.what);
    fs::remove(dir.file("status"));
    EXPECT_THAT(shell(dir.path(), t.command).second, t.err);
    EXPECT_EQ(std::to_string(t.status) + "\n", read_file(dir.file("status")));
    if (t.got != nullptr) { EXPECT_EQ(two_pools_net, read_file(dir.file(t.got))); }
    EXPECT_EQ(t.kind, fs::symlink_status(t.path[0] == '/' ? t.path : dir.file(t.path)).type());
    for (const std::string& name : others()) EXPECT_NE('.', name[0]) << "a temporary file is left";
  }
}

// The published networks: each example is the import of its SCOR file, and
// comes back through ecodyn-export --scor and --network unchanged.
class Published : public testing::TestWithParam<std::string> {};

// Imports a published network with the balance digits given ("" for none)
// and checks that the importer's word on the balance is what ecodyn finds;
// returns the --balance-digits the importer says would pass, if any.
std::string foretold_balance(const ScratchDir& dir, const std::string& scor,
                             const std::string& digits, RunResult& r) {
  const std::string option = digits.empty() ? "" : "--balance-digits " + digits + " ";
  r = run_import(dir.path(), option + "'" + scor + "'");
  EXPECT_EQ(0, r.status) << r.err;
  write_file(dir.file("fort.7"), r.out);
  const bool unbalanced = run_ecodyn(dir.path(), "").out.find("NOT BALANCED") != std::string::npos;
  EXPECT_EQ(unbalanced, r.err.find("will report the network NOT BALANCED") != std::string::npos)
      << digits << ": " << r.err;
  std::smatch passing;
  return std::regex_search(r.err, passing, std::regex("--balance-digits (\\S+) ")) ? passing[1].str() : "";
}

TEST_P(Published, ExampleIsTheImportOfTheSharedFileWithItsBalanceForetold) {
  ScratchDir dir;
  const std::string examples = examples_dir + "networks/";
  const std::string scor = examples + "scor/" + GetParam() + ".txt";
  const std::string network = read_file(examples + GetParam() + ".net");
  const std::string first = network.substr(0, network.find('\n'));
  const std::string digits = first.size() > 78 ? first.substr(78) : "";
  RunResult r;
  std::string passing = foretold_balance(dir, scor, digits, r);
  EXPECT_EQ(network, r.out) << "regenerate with scripts/import-examples.sh";
  EXPECT_EQ(network, run(ECODYN_EXPORT_BINARY, dir.path(), "", "fort.7 --network").out);
  ASSERT_EQ(0, run(ECODYN_EXPORT_BINARY, dir.path(), "", "fort.7 --scor -o again.scor").status);
  r = run_import(dir.path(), (digits.empty() ? "" : "--balance-digits " + digits) + " again.scor");
  EXPECT_EQ(network, r.out);
  // Without balance digits; the digits named pass, one more does not.
  if (passing.empty()) passing = foretold_balance(dir, scor, "", r);
  if (passing.empty()) return;
  EXPECT_EQ("", foretold_balance(dir, scor, passing, r)) << passing;
  EXPECT_NE("", foretold_balance(dir, scor, std::to_string(std::stoi(passing) + 1), r)) << passing;
}

INSTANTIATE_TEST_SUITE_P(SharedNetworks, Published,
                         testing::Values("cone_spring", "oyster_reef", "silver_springs",
                                         "baltic_sea_aggregated", "crystal_river_creek_control",
                                         "chesapeake_bay_mesohaline", "cypress_wetland_wet_season",
                                         "lake_oneida_pre_zm"),
                         [](const auto& info) { return info.param; });

}  // namespace
