// ecodyn-import on small hand-written SCOR files: the records it writes, the
// dialects it accepts, the warnings it gives, and the errors that leave no
// output behind.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>

#include "support/scratch.h"

namespace {

using ecodyn::test::blanks;
using ecodyn::test::read_file;
using ecodyn::test::right;
using ecodyn::test::RunResult;
using ecodyn::test::write_file;

std::string num(int i, int width) { return right(std::to_string(i), width); }

// Records of the network file as the importer writes them.
std::string title(const std::string& text, const std::string& digits = "") {
  return text + blanks(78 - static_cast<int>(text.size())) + digits + "\n";
}
std::string counts(int ncomp, int nliv) { return num(ncomp, 3) + num(nliv, 3) + "\n"; }
std::string name(const std::string& text) {
  return text + blanks(28 - static_cast<int>(text.size())) + "\n";
}
std::string rec(int i, const std::string& value) { return num(i, 3) + right(value, 14) + "\n"; }
std::string mrec(int i, int j, const std::string& value) {
  return num(i, 3) + num(j, 3) + right(value, 14) + "\n";
}
const std::string end = " -1  .0000000E+00\n";
const std::string matrix_end = " -1 -1  .0000000E+00\n";
const std::string importer = ECODYN_IMPORT_BINARY;

// A plant pool feeding a detritus pool, and the network file made of it.
const std::string two_pools =
    "Two pools\n"
    "2 1\n"
    "PLANTS\n"
    "DETRITUS\n"
    "1 10\n2 20\n-1\n"
    "1 5\n-1\n"
    "1 1\n2 2\n-1\n"
    "1 2\n-1\n"
    "1 2 3\n2 1 1\n-1\n";
const std::string two_pools_head = "Two pools\n2 1\nPLANTS\nDETRITUS\n";

// The network file of two pools, in pieces: the head with the given names,
// the biomass list, and the lists after it.
std::string head(const std::string& first = "PLANTS", const std::string& second = "DETRITUS") {
  return title("Two pools") + counts(2, 1) + name(first) + name(second);
}
const std::string biomass_list = rec(1, ".1000000E+02") + rec(2, ".2000000E+02") + end;
const std::string other_lists = rec(1, ".5000000E+01") + end +                           //
                                rec(1, ".1000000E+01") + rec(2, ".2000000E+01") + end +  //
                                rec(1, ".2000000E+01") + end +                           //
                                mrec(1, 2, ".3000000E+01") + mrec(2, 1, ".1000000E+01") +
                                matrix_end;
const std::string two_pools_net = head() + biomass_list + other_lists;

// The two-pool network with one line replaced (lines counted from 1).
std::string two_pools_changed(int line, const std::string& text) {
  std::string out;
  int n = 0;
  std::size_t k = 0;
  while (k < two_pools.size()) {
    const std::size_t e = two_pools.find('\n', k);
    ++n;
    out += (n == line ? text : two_pools.substr(k, e - k)) + "\n";
    k = e + 1;
  }
  return out;
}

class Import : public testing::Test {
 protected:
  // Runs the importer on the SCOR text (as in.scor) with the arguments.
  RunResult import(const std::string& scor, const std::string& args = "in.scor -o out.net") {
    write_file(dir.file("in.scor"), scor);
    return ecodyn::test::run(ECODYN_IMPORT_BINARY, dir.path(), "", args);
  }
  std::string output() { return read_file(dir.file("out.net")); }
  bool has_output() { return ecodyn::test::file_exists(dir.file("out.net")); }
  // Returns the files in the directory besides the input.
  std::set<std::string> others() {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
      const std::string n = e.path().filename().string();
      if (n != "in.scor") names.insert(n);
    }
    return names;
  }
  // Runs a shell command in the directory; returns its exit status.
  int shell(const std::string& command) {
    const int raw = std::system(("cd '" + dir.path() + "' && " + command).c_str());
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  }
  ecodyn::test::ScratchDir dir;
};

using ImportNetwork = Import;
using ImportDialect = Import;
using ImportWarnings = Import;
using ImportErrors = Import;
using ImportCommandLine = Import;

// --- the records written ---

TEST_F(ImportNetwork, WritesTitleCountsNamesAndListsWithTerminators) {
  const RunResult r = import(two_pools);
  EXPECT_EQ(0, r.status);
  EXPECT_EQ("", r.out);
  EXPECT_EQ("", r.err);
  EXPECT_EQ(two_pools_net, output());
  EXPECT_EQ(std::set<std::string>{"out.net"}, others());
}

TEST_F(ImportNetwork, WritesToStandardOutputWithoutAnOutputFile) {
  const RunResult r = import(two_pools, "in.scor");
  EXPECT_EQ(0, r.status);
  EXPECT_EQ(two_pools_net, r.out);
  EXPECT_TRUE(others().empty());
}

TEST_F(ImportNetwork, ReadsStandardInputForADash) {
  const RunResult r = ecodyn::test::run(ECODYN_IMPORT_BINARY, dir.path(), two_pools, "-");
  EXPECT_EQ(0, r.status);
  EXPECT_EQ(two_pools_net, r.out);
}

TEST_F(ImportNetwork, BalanceDigitsFillColumns79And80) {
  import(two_pools, "in.scor --balance-digits 3 -o out.net");
  EXPECT_EQ(title("Two pools", " 3"), output().substr(0, 81));
  import(two_pools, "in.scor --balance-digits -1 -o out.net");
  EXPECT_EQ(title("Two pools", "-1"), output().substr(0, 81));
  import(two_pools, "in.scor --balance-digits 12 -o out.net");
  EXPECT_EQ(title("Two pools", "12"), output().substr(0, 81));
}

TEST_F(ImportNetwork, LeavesZeroEntriesOut) {
  const RunResult r =
      import("Zeros\n2 1\nA\nB\n1 10\n2 0\n-1\n1 0.0\n-1\n-1\n-1\n1 1 0\n1 2 5\n-1\n");
  EXPECT_EQ(0, r.status);
  EXPECT_EQ(title("Zeros") + counts(2, 1) + name("A") + name("B") + rec(1, ".1000000E+02") + end +
                end + end + end + mrec(1, 2, ".5000000E+01") + matrix_end,
            output());
}

TEST_F(ImportNetwork, ReplacesAnExistingOutputFile) {
  write_file(dir.file("out.net"), "old\n");
  EXPECT_EQ(0, import(two_pools).status);
  EXPECT_EQ(two_pools_net, output());
  EXPECT_EQ(std::set<std::string>{"out.net"}, others());
}

// --- the dialects of the wild ---

TEST_F(ImportDialect, ValuesSeparatedByAnyBlanksAndTabs) {
  const RunResult r = import(
      "Two pools\n"
      "  2\t 1\n"
      "PLANTS\n"
      "DETRITUS\n"
      "  1     10\n\t2\t20\n  -1\n"
      "1       5\n -1\n"
      "   1 1\n   2 2\n-1\n"
      "1\t2\n-1\n"
      "  1  2     3\n  2\t1\t1\n -1 -1\n");
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_EQ(two_pools_net, output());
}

TEST_F(ImportDialect, SectionsListOnlySomeCompartments) {
  const RunResult r = import(
      "Three pools\n3 2\nA\nB\nC\n"
      "2 7.5\n-1\n"
      "-1\n"
      "3 1\n-1\n"
      "1 2\n3 4\n-1\n"
      "3 1 0.25\n-1\n");
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_EQ(title("Three pools") + counts(3, 2) + name("A") + name("B") + name("C") +
                rec(2, ".7500000E+01") + end + end + rec(3, ".1000000E+01") + end +
                rec(1, ".2000000E+01") + rec(3, ".4000000E+01") + end + mrec(3, 1, ".2500000E+00") +
                matrix_end,
            output());
}

TEST_F(ImportDialect, FortranExponentsWithOrWithoutTheLetter) {
  const RunResult r = import(two_pools_head +
                             "1 1.2-4\n2 3.5+2\n-1\n"
                             "1 1.5D2\n2 2.5d-1\n-1\n"
                             "1 7E1\n2 4.0e+00\n-1\n"
                             "1 .5\n2 6.\n-1\n"
                             "1 2 1.25E-3\n2 1 2-1\n-1\n");
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_EQ(head() + rec(1, ".1200000E-03") + rec(2, ".3500000E+03") + end +
                rec(1, ".1500000E+03") + rec(2, ".2500000E+00") + end + rec(1, ".7000000E+02") +
                rec(2, ".4000000E+01") + end + rec(1, ".5000000E+00") + rec(2, ".6000000E+01") +
                end + mrec(1, 2, ".1250000E-02") + mrec(2, 1, ".2000000E+00") + matrix_end,
            output());
}

TEST_F(ImportDialect, SelfFlowsAreKept) {
  const RunResult r = import(two_pools_changed(16, "2 2 0.5\n2 1 1"));
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_EQ(head() + biomass_list + rec(1, ".5000000E+01") + end + rec(1, ".1000000E+01") +
                rec(2, ".2000000E+01") + end + rec(1, ".2000000E+01") + end +
                mrec(1, 2, ".3000000E+01") + mrec(2, 1, ".1000000E+01") +
                mrec(2, 2, ".5000000E+00") + matrix_end,
            output());
}

TEST_F(ImportDialect, StrayNumberAtTheEndOfTheTitleIsDropped) {
  const RunResult r = import(two_pools_changed(1, "Two pools           0    "));
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_EQ(two_pools_net, output());
}

TEST_F(ImportDialect, StrayNumberOnALineAfterTheTitleIsDropped) {
  const RunResult r = import(two_pools_changed(1, "Two pools\n0"));
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_EQ(two_pools_net, output());
}

TEST_F(ImportDialect, NumberThatBelongsToTheTitleStays) {
  import(two_pools_changed(1, "Two pools 1998"));
  EXPECT_EQ(title("Two pools 1998"), output().substr(0, 79));
  import(two_pools_changed(1, "1998"));
  EXPECT_EQ(title("1998"), output().substr(0, 79));
}

TEST_F(ImportDialect, TrailingBlanksAndCrlfLineEnds) {
  std::string crlf;
  for (char c : two_pools) crlf += c == '\n' ? std::string("   \r\n") : std::string(1, c);
  const RunResult r = import(crlf);
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_EQ(two_pools_net, output());
}

TEST_F(ImportDialect, CarriageReturnLineEndsAndNoFinalLineEnd) {
  std::string cr;
  for (char c : two_pools) cr += c == '\n' ? '\r' : c;
  cr.pop_back();
  const RunResult r = import(cr);
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_EQ(two_pools_net, output());
}

TEST_F(ImportDialect, CommentLinesBeforeTheTitleAndBlankLinesAnywhere) {
  const RunResult r = import(
      "# network: two pools\n#\n\n  # units: none\n"
      "Two pools\n\n2 1\nPLANTS\n\nDETRITUS\n"
      "1 10\n\n2 20\n-1\n\n"
      "1 5\n-1\n"
      "1 1\n2 2\n-1\n"
      "1 2\n-1\n\n\n"
      "1 2 3\n2 1 1\n-1\n\n\n");
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_EQ(two_pools_net, output());
}

TEST_F(ImportDialect, ByteOrderMarkIsIgnored) {
  const RunResult r = import("\xEF\xBB\xBF" + two_pools);
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_EQ(two_pools_net, output());
}

TEST_F(ImportDialect, NamesKeepInnerBlanksAndLoseOuterOnes) {
  const RunResult r = import(two_pools_changed(3, "   GREEN\tPLANTS   "));
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_EQ(head("GREEN PLANTS") + biomass_list + other_lists, output());
}

// --- warnings ---

TEST_F(ImportWarnings, TitleCutTo78Characters) {
  const std::string long_title = std::string(78, 'T') + "dropped part";
  const RunResult r = import(two_pools_changed(1, long_title));
  EXPECT_EQ(0, r.status);
  EXPECT_EQ(std::string(78, 'T') + "\n", output().substr(0, 79));
  EXPECT_EQ(
      "ecodyn-import: in.scor, line 1: warning: the title is cut to 78 characters; "
      "'dropped part' is dropped\n",
      r.err);
}

TEST_F(ImportWarnings, NameCutTo25Characters) {
  const RunResult r = import(two_pools_changed(4, "DISSOLVED ORGANIC NUTRIENT"));
  EXPECT_EQ(0, r.status);
  EXPECT_EQ(head("PLANTS", "DISSOLVED ORGANIC NUTRIEN") + biomass_list + other_lists, output());
  EXPECT_EQ(
      "ecodyn-import: in.scor, line 4: warning: the name of compartment 2 is cut to 25 "
      "characters, 'DISSOLVED ORGANIC NUTRIEN'; 'T' is dropped\n",
      r.err);
}

TEST_F(ImportWarnings, NameCutBeforeACharacterThatWouldBeSplit) {
  // 24 letters and an e with acute accent (two bytes in UTF-8).
  const RunResult r = import(two_pools_changed(3, "ABCDEFGHIJKLMNOPQRSTUVWX\xC3\xA9"));
  EXPECT_EQ(0, r.status);
  EXPECT_EQ(head("ABCDEFGHIJKLMNOPQRSTUVWX") + biomass_list + other_lists, output());
  EXPECT_NE(std::string::npos, r.err.find("line 3: warning: the name of compartment 1 is cut"));
}

TEST_F(ImportWarnings, ValueWithMoreThanSevenSignificantDigits) {
  const RunResult r = import(two_pools_changed(5, "1 0.0034943619"));
  EXPECT_EQ(0, r.status);
  EXPECT_EQ(head() + rec(1, ".3494362E-02") + rec(2, ".2000000E+02") + end + other_lists, output());
  EXPECT_EQ(
      "ecodyn-import: in.scor, line 5: warning: the biomass of compartment 1 (0.0034943619) "
      "has more than seven significant digits and is written as 0.3494362E-02\n",
      r.err);
}

TEST_F(ImportWarnings, EveryValueThatLosesDigitsIsNamed) {
  const RunResult r = import(two_pools_changed(16, "1 2 12345678\n2 1 1.23456789-3"));
  EXPECT_EQ(0, r.status);
  EXPECT_NE(std::string::npos, r.err.find("line 16: warning: the flow from 1 to 2 (12345678)"));
  EXPECT_NE(std::string::npos, r.err.find("line 17: warning: the flow from 2 to 1 (1.23456789-3)"));
}

TEST_F(ImportWarnings, NoneForSevenDigitsOrFewer) {
  // 0.000986 shows as 0.9860001E-03 in single precision, yet reads back
  // as the same value: nothing is lost.
  const RunResult r = import(two_pools_head +
                             "1 1234567\n2 0.000986\n-1\n1 1.000000000\n-1\n-1\n-1\n"
                             "1 2 99.99999\n2 2 1200000000\n-1\n");
  EXPECT_EQ(0, r.status);
  EXPECT_EQ("", r.err);
  EXPECT_EQ(head() + rec(1, ".1234567E+07") + rec(2, ".9860001E-03") + end +
                rec(1, ".1000000E+01") + end + end + end + mrec(1, 2, ".9999999E+02") +
                mrec(2, 2, ".1200000E+10") + matrix_end,
            output());
}

TEST_F(ImportWarnings, ValueTooSmallForSinglePrecision) {
  const RunResult r = import(two_pools_changed(5, "1 1e-50"));
  EXPECT_EQ(0, r.status);
  EXPECT_EQ(head() + rec(2, ".2000000E+02") + end + other_lists, output());
  EXPECT_EQ(
      "ecodyn-import: in.scor, line 5: warning: the biomass of compartment 1 (1e-50) is too "
      "small for single precision and is written as zero\n",
      r.err);
}

TEST_F(ImportWarnings, EntryGivenTwiceKeepsTheLaterValue) {
  const RunResult r = import(two_pools_changed(6, "1 11\n2 20"));
  EXPECT_EQ(0, r.status);
  EXPECT_EQ(head() + rec(1, ".1100000E+02") + rec(2, ".2000000E+02") + end + other_lists, output());
  EXPECT_EQ(
      "ecodyn-import: in.scor, line 6: warning: compartment 1 appears again in the biomass "
      "section (first on line 5); the value of this line is kept\n",
      r.err);
}

// --- errors: status 2, the line and what was found, and no output ---

class ImportErrorCase : public Import {
 protected:
  // Imports the text and expects it refused with the message.
  void refused(const std::string& scor, const std::string& message) {
    const RunResult r = import(scor);
    EXPECT_EQ(2, r.status);
    EXPECT_EQ("", r.out);
    EXPECT_EQ("ecodyn-import: in.scor, " + message + "\n", r.err);
    EXPECT_TRUE(others().empty()) << "left behind: " << *others().begin();
  }
};
using ImportRefused = ImportErrorCase;

TEST_F(ImportRefused, MoreThan75Compartments) {
  refused(two_pools_changed(2, "76 70"),
          "line 2: the network has 76 compartments; ecodyn holds at most 75");
}

TEST_F(ImportRefused, NoCompartments) {
  refused(two_pools_changed(2, "0 0"), "line 2: the compartment count must be at least 1, found 0");
}

TEST_F(ImportRefused, LivingCountAboveTheTotal) {
  refused(two_pools_changed(2, "2 3"),
          "line 2: the living count 3 is above the compartment count 2");
}

TEST_F(ImportRefused, NoLivingCompartments) {
  refused(two_pools_changed(2, "2 0"),
          "line 2: the living count must be at least 1, found 0 (ecodyn would take every "
          "compartment as living)");
}

TEST_F(ImportRefused, CountsThatAreNotTwoIntegers) {
  refused(two_pools_changed(2, "two 1"),
          "line 2: expected the compartment count and the living count, found 'two 1'");
  refused(two_pools_changed(2, "2 1 0"),
          "line 2: expected the compartment count and the living count, found '2 1 0'");
  refused(two_pools_changed(2, "2.5 1"),
          "line 2: expected the compartment count and the living count, found '2.5 1'");
}

TEST_F(ImportRefused, IndexOutsideTheCompartments) {
  refused(two_pools_changed(6, "3 20"),
          "line 6: compartment 3 in the biomass section is outside 1 to 2");
  refused(two_pools_changed(8, "0 5"),
          "line 8: compartment 0 in the input section is outside 1 to 2");
  refused(two_pools_changed(16, "3 1 1"),
          "line 16: origin 3 in the flow section is outside 1 to 2");
  refused(two_pools_changed(16, "2 0 1"),
          "line 16: destination 0 in the flow section is outside 1 to 2");
  refused(two_pools_changed(16, "2 -1 1"),
          "line 16: destination -1 in the flow section is outside 1 to 2");
}

TEST_F(ImportRefused, NegativeValue) {
  refused(two_pools_changed(13, "1 -2"),
          "line 13: the respiration of compartment 1 is negative: -2");
  refused(two_pools_changed(16, "2 1 -1.0-3"), "line 16: the flow from 2 to 1 is negative: -1.0-3");
}

TEST_F(ImportRefused, ValueBeyondSinglePrecision) {
  refused(two_pools_changed(5, "1 1e39"),
          "line 5: the biomass of compartment 1 (1e39) is too large for single precision");
}

TEST_F(ImportRefused, SectionThatDoesNotEnd) {
  refused(
      two_pools.substr(0, two_pools.size() - 3),
      "line 16: the flow section (from line 15) does not end: the file ends before its -1 line");
  refused(two_pools_changed(14, ""),
          "line 15: the respiration section (from line 13) does not end: a flow line '1 2 3' "
          "follows without a -1 line before it");
}

TEST_F(ImportRefused, FileEndsBeforeASection) {
  refused("Two pools\n2 1\nPLANTS\nDETRITUS\n1 10\n-1\n1 5\n-1\n",
          "line 8: the file ends before the export section");
}

TEST_F(ImportRefused, TextWhereANumberMustStand) {
  refused(two_pools_changed(5, "1 ten"),
          "line 5: expected the biomass of compartment 1, found 'ten'");
  refused(two_pools_changed(5, "one 10"),
          "line 5: expected a compartment number in the biomass section, found 'one'");
  refused(two_pools_changed(11, "2 2,5"),
          "line 11: expected the export of compartment 2, found '2,5'");
  refused(two_pools_changed(15, "1 2 NaN"), "line 15: expected the flow from 1 to 2, found 'NaN'");
  refused(two_pools_changed(15, "1 x 3"),
          "line 15: expected a destination compartment in the flow section, found 'x'");
}

TEST_F(ImportRefused, LineWithTooFewOrTooManyFields) {
  refused(two_pools_changed(8, "1"),
          "line 8: the input section expects 'compartment value', found '1'");
  refused(two_pools_changed(8, "1 5 kg"),
          "line 8: the input section expects 'compartment value', found '1 5 kg'");
  refused(two_pools_changed(15, "1 2"),
          "line 15: the flow section expects 'origin destination flow', found '1 2'");
}

TEST_F(ImportRefused, FewerNamesThanTheCount) {
  refused("Two pools\n3 1\nPLANTS\nDETRITUS\n1 10\n2 20\n-1\n",
          "line 5: expected the name of compartment 3, found '1 10', a biomass line: the file "
          "gives fewer names than its 3 compartments");
  refused("Two pools\n3 1\nPLANTS\n", "line 3: the file ends after 1 of the 3 compartment names");
}

TEST_F(ImportRefused, TextAfterTheFlowSection) {
  refused(two_pools + "\nAnother network\n",
          "line 19: text after the end of the flow section: 'Another network' (one network per "
          "file)");
}

TEST_F(ImportRefused, NoNetworkAtAll) {
  refused("# only a comment\n\n", "line 2: the file holds no network");
  const RunResult r = import("");
  EXPECT_EQ(2, r.status);
  EXPECT_EQ("ecodyn-import: in.scor: the file holds no network\n", r.err);
  EXPECT_TRUE(others().empty());
}

TEST_F(ImportErrors, MissingInput) {
  const RunResult r =
      ecodyn::test::run(ECODYN_IMPORT_BINARY, dir.path(), "", "nothing.scor -o out.net");
  EXPECT_EQ(2, r.status);
  EXPECT_EQ("ecodyn-import: cannot read nothing.scor: No such file or directory\n", r.err);
  EXPECT_TRUE(others().empty());
}

TEST_F(ImportErrors, UnreadableInput) {
  std::filesystem::create_directory(dir.file("folder"));
  const RunResult r = ecodyn::test::run(ECODYN_IMPORT_BINARY, dir.path(), "", "folder -o out.net");
  EXPECT_EQ(2, r.status);
  EXPECT_EQ("ecodyn-import: cannot read folder: Is a directory\n", r.err);
  EXPECT_FALSE(has_output());
}

TEST_F(ImportErrors, ExistingOutputStaysAsItWas) {
  write_file(dir.file("out.net"), "old\n");
  const RunResult r = import(two_pools_changed(5, "1 -10"));
  EXPECT_EQ(2, r.status);
  EXPECT_EQ("old\n", output());
  EXPECT_EQ(std::set<std::string>{"out.net"}, others());
}

TEST_F(ImportErrors, OutputDirectoryMissing) {
  const RunResult r = import(two_pools, "in.scor -o nowhere/out.net");
  EXPECT_EQ(2, r.status);
  EXPECT_EQ("ecodyn-import: cannot write nowhere/out.net: No such file or directory\n", r.err);
  EXPECT_TRUE(others().empty());
}

TEST_F(ImportErrors, WriteThatFailsHalfwayLeavesNoFile) {
  // A full network of 75 compartments, far beyond a file size limit of 4 KiB.
  std::string big = "Big\n75 70\n";
  for (int i = 1; i <= 75; ++i) big += 'C' + std::to_string(i) + '\n';
  for (int s = 0; s < 4; ++s) {
    for (int i = 1; i <= 75; ++i) big += std::to_string(i) + " 1.5\n";
    big += "-1\n";
  }
  for (int i = 1; i <= 75; ++i)
    for (int j = 1; j <= 75; ++j) big += std::to_string(i) + " " + std::to_string(j) + " 2.5\n";
  big += "-1\n";
  write_file(dir.file("in.scor"), big);
  const int status = shell("ulimit -f 4 && '" + importer + "' in.scor -o out.net 2>errors");
  const std::string err = read_file(dir.file("errors"));
  std::filesystem::remove(dir.file("errors"));
  EXPECT_EQ(2, status);
  EXPECT_NE(std::string::npos, err.find("ecodyn-import: out.net is not written\n")) << err;
  EXPECT_TRUE(others().empty()) << "left behind: " << *others().begin();
}

TEST_F(ImportErrors, StandardOutputThatCannotBeWritten) {
  write_file(dir.file("in.scor"), two_pools);
  const int status = shell('\'' + importer + "' in.scor >/dev/full 2>errors");
  const std::string err = read_file(dir.file("errors"));
  std::filesystem::remove(dir.file("errors"));
  EXPECT_EQ(2, status);
  EXPECT_NE(std::string::npos, err.find("ecodyn-import: cannot write")) << err;
}

// --- the command line ---

TEST_F(ImportCommandLine, Help) {
  const RunResult r = ecodyn::test::run(ECODYN_IMPORT_BINARY, dir.path(), "", "--help");
  EXPECT_EQ(0, r.status);
  EXPECT_NE(std::string::npos, r.out.find("Usage: ecodyn-import [OPTIONS] INPUT"));
  EXPECT_NE(std::string::npos, r.out.find("-o,--output"));
  EXPECT_NE(std::string::npos, r.out.find("--balance-digits"));
  EXPECT_NE(std::string::npos, r.out.find("--version"));
}

TEST_F(ImportCommandLine, Version) {
  const RunResult r = ecodyn::test::run(ECODYN_IMPORT_BINARY, dir.path(), "", "--version");
  EXPECT_EQ(0, r.status);
  EXPECT_EQ(std::string("ecodyn-import ") + ECODYN_VERSION + "\n", r.out);
}

TEST_F(ImportCommandLine, InputIsRequired) {
  const RunResult r = ecodyn::test::run(ECODYN_IMPORT_BINARY, dir.path(), "", "-o out.net");
  EXPECT_EQ(2, r.status);
  EXPECT_NE(std::string::npos, r.err.find("INPUT is required"));
  EXPECT_FALSE(has_output());
}

TEST_F(ImportCommandLine, BalanceDigitsMustFitTheirTwoColumns) {
  for (const char* digits : {"100", "-10", "x"}) {
    const RunResult r =
        import(two_pools, std::string("in.scor --balance-digits ") + digits + " -o out.net");
    EXPECT_EQ(2, r.status) << digits;
    EXPECT_FALSE(has_output()) << digits;
  }
}

TEST_F(ImportCommandLine, UnknownOption) {
  const RunResult r = import(two_pools, "in.scor --fast -o out.net");
  EXPECT_EQ(2, r.status);
  EXPECT_FALSE(has_output());
}

}  // namespace
