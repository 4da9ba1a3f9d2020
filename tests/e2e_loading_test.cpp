// Loading networks with the real program in a scratch directory: the echo
// listing in fort.8, the messages and exit statuses of the stops, and the
// diagnostics for files that cannot be read.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/records.h"
#include "support/scratch.h"

namespace {

using namespace ecodyn::test;
using testing::_;
using testing::AllOf;
using testing::AnyOf;
using testing::HasSubstr;
using testing::Matcher;
using testing::Not;

const std::string numbers_1_2 = "           1        2\n";
// The listing of a vector of two, its values given as nine-column fields.
std::string vector_of_two(const std::string& a, const std::string& b) {
  return "\n\n" + numbers_1_2 + blanks(6) + a + b + "\n\n\n";
}

const std::string compartments_error = "0 ERROR NUMBER OF COMPARTMENTS MAX= 75\n";

class Loading : public testing::Test {
 protected:
  RunResult run(const std::string& network_file, const std::string& answers = "") {
    write_file("fort.7", network_file);
    return run_ecodyn(dir.path(), answers);
  }
  std::string report() { return read_file("fort.8"); }
  ScratchDir dir;
};

// Two compartments, one living; the head of the listings of negative values.
const std::string two_compartments = title("NEGATIVE") + counts(2, 1) + "PLANTS\nDETRITUS\n" +
                                     rec(1, "5.") + rec(2, "10.") + rec(-1);
const std::string two_compartments_listed =
    title_line("NEGATIVE") +
    " NUMBER OF COMPARTMENTS IS    2\n NUMBER OF LIVING COMPARTMENTS IS   1\n\n"
    " LIVING COMPARTMENTS\n\n" +
    name_line(1, "PLANTS") + "\n NON-LIVING COMPARTMENTS\n\n" + name_line(2, "DETRITUS") +
    "\n THE BIOMASSES\n\n\n"
    "           1        2\n"
    "       .500E+01 .100E+02\n\n\n";

TEST_F(Loading, EmptyNetworkFileEndsAtOnce) {
  const RunResult r = run("");
  EXPECT_EQ(0, r.status);
  EXPECT_EQ("", r.out);
  EXPECT_EQ("", r.err);
  EXPECT_FALSE(file_exists("fort.8"));
}

TEST_F(Loading, FileEndingAfterATitleEndsQuietly) {
  const RunResult r = run(title("ONLY A TITLE"));
  EXPECT_EQ(0, r.status);
  EXPECT_EQ("", r.out);
  EXPECT_EQ(title_line("ONLY A TITLE"), report());
}

TEST_F(Loading, MissingNetworkFileIsReportedNotCreated) {
  const RunResult r = run_ecodyn(dir.path(), "");
  EXPECT_EQ(2, r.status);
  EXPECT_THAT(r.err, HasSubstr("cannot open the network file fort.7"));
  EXPECT_FALSE(file_exists("fort.7"));
  EXPECT_FALSE(file_exists("fort.8"));
}

TEST_F(Loading, DirectoryAsNetworkFileIsReported) {
  std::filesystem::create_directory("fort.7");
  const RunResult r = run_ecodyn(dir.path(), "");
  EXPECT_EQ(2, r.status);
  EXPECT_THAT(r.err, HasSubstr("cannot open the network file fort.7: Is a directory"));
}

TEST_F(Loading, TitleWithoutLineEndIsStillATitle) {
  std::string file = title("ONLY A TITLE");
  file.pop_back();
  EXPECT_EQ(0, run(file).status);
  EXPECT_EQ(title_line("ONLY A TITLE"), report());
}

// Each network gets its own cycle; the answers are those a complete cycle
// asks for (model type, start, end, print and snapshot intervals, no change).
TEST_F(Loading, TwoNetworksInOneFile) {
  const std::string lake = title("LAKE") + counts(2) + "ALGAE\nZOOPLANKTON\n" + rec(1, "20.") +
                           rec(2, "30.") + rec(-1) + rec(1, "10.") + rec(-1) + rec(2, "1.") +
                           rec(-1) + rec(1, "4.") + rec(2, "5.") + rec(-1) + mrec(1, 2, "6.") +
                           mrec(-1, -1);
  const std::string pond = title("POND") + counts(1) + "FISH\n" + rec(1, "1.") + "\n" +
                           rec(1, "2.") + "\n\n" + rec(1, "2.") + "\n\n";
  const std::string answers = "2\n0\n10\n5\n0\nN\n";
  const RunResult r = run(lake + pond, answers + answers);
  EXPECT_EQ(0, r.status) << r.err;

  const std::string lake_listed =
      title_line("LAKE") + " NUMBER OF COMPARTMENTS IS    2\n\n LIVING COMPARTMENTS\n\n" +
      name_line(1, "ALGAE") + name_line(2, "ZOOPLANKTON") + "\n THE BIOMASSES\n" +
      vector_of_two(" .200E+02", " .300E+02") + "\n INPUT VECTOR\n" +
      vector_of_two(" .100E+02", zero) + " EXPORT VECTOR\n" + vector_of_two(zero, " .100E+01") +
      " RESPIRATION VECTOR\n" + vector_of_two(" .400E+01", " .500E+01") + " EXCHANGE MATRIX\n\n\n" +
      numbers_1_2 + "   1  " + zero + " .600E+01\n" + "   2  " + zero + zero + "\n\n\n";
  const std::string number_1 = "\n\n           1\n", one = number_1 + blanks(6);
  const std::string pond_listed =
      title_line("POND") + " NUMBER OF COMPARTMENTS IS    1\n\n LIVING COMPARTMENTS\n\n" +
      name_line(1, "FISH") + "\n THE BIOMASSES\n" + one + " .100E+01\n\n\n" + "\n INPUT VECTOR\n" +
      one + " .200E+01\n\n\n" + " EXPORT VECTOR\n" + one + zero + "\n\n\n" +
      " RESPIRATION VECTOR\n" + one + " .200E+01\n\n\n" + " EXCHANGE MATRIX\n" + number_1 +
      "   1  " + zero + "\n\n\n";
  const std::string text = report();
  EXPECT_EQ(lake_listed, text.substr(0, lake_listed.size()));
  EXPECT_NE(std::string::npos, text.find(pond_listed, lake_listed.size()));

  const std::string lake_times =
      " SHORTEST THROUGHPUT TIME IS  .2000E+01 IN  1\n"
      "  LONGEST THROUGHPUT TIME IS  .5000E+01 IN  2\n\n";
  const std::string pond_times =
      " SHORTEST THROUGHPUT TIME IS  .5000E+00 IN  1\n"
      "  LONGEST THROUGHPUT TIME IS  .5000E+00 IN  1\n\n";
  EXPECT_EQ(lake_times, r.out.substr(0, lake_times.size()));
  EXPECT_NE(std::string::npos, r.out.find(pond_times, lake_times.size()));
}

// A count of zero compartments passes: empty listings, nothing unbalanced,
// and the throughput times keep their starting values.
TEST_F(Loading, NoCompartments) {
  const RunResult r = run(title("NOTHING") + counts(0) + "\n\n\n\n\n");
  const std::string empty_vector = "\n\n\n\n\n\n";
  EXPECT_EQ(title_line("NOTHING") + " NUMBER OF COMPARTMENTS IS    0\n\n LIVING COMPARTMENTS\n\n" +
                "\n THE BIOMASSES\n" + empty_vector + "\n INPUT VECTOR\n" + empty_vector +
                " EXPORT VECTOR\n" + empty_vector + " RESPIRATION VECTOR\n" + empty_vector +
                " EXCHANGE MATRIX\n\n\n\n\n\n",
            report());
  const std::string times =
      " SHORTEST THROUGHPUT TIME IS  .1000E+26 IN  0\n"
      "  LONGEST THROUGHPUT TIME IS -.1000E+26 IN  0\n\n";
  EXPECT_EQ(times, r.out.substr(0, times.size()));
}

// A record the program refuses ends it with status 1 and its message on the
// terminal; what was listed before it stays in the report.
TEST_F(Loading, RefusedRecordStopsWithItsOwnMessage) {
  const std::string input_zero = "\n INPUT VECTOR\n" + vector_of_two(zero, zero);
  const std::string export_zero = " EXPORT VECTOR\n" + vector_of_two(zero, zero);
  const std::string three = title("INDEX") + counts(3) + "A\nB\nC\n";
  const std::string three_lists = three + rec(1, "1.") + rec(0) + "\n\n\n";
  const struct {
    const char* what;
    std::string network, terminal;
    Matcher<std::string> report = _;
  } cases[] = {
      {"76 compartments", title("TOO MANY") + counts(76), compartments_error,
       title_line("TOO MANY") + " NUMBER OF COMPARTMENTS IS   76\n"},
      {"malformed counts", title("COUNTS") + "  3ab\n" + "A\nB\nC\n", compartments_error,
       title_line("COUNTS")},
      {"malformed time", title("COUNTS") + "  1  0  0    1x.000\n" + "A\nB\nC\n",
       compartments_error, title_line("COUNTS")},
      {"negative input, listed", two_compartments + rec(1, "-1.") + rec(0) + "\n\n\n",
       "0 ERROR INPUT VECTOR CANNOT BE LESS THAN 0\n",
       two_compartments_listed + "\n INPUT VECTOR\n" + vector_of_two("-.100E+01", zero)},
      {"negative export, listed", two_compartments + "\n" + rec(2, "-0.5") + "\n\n\n",
       "0 ERROR EXPORT VECTOR CAN NOT HAVE VALUES LESS THAN 0\n",
       two_compartments_listed + input_zero + " EXPORT VECTOR\n" +
           vector_of_two(zero, "-.500E+00")},
      {"negative respiration, not listed", two_compartments + "\n\n" + rec(1, "-2.") + "\n\n",
       "0 ERROR RESPIRATIONS CANNOT BE LESS THAN 0.\n",
       two_compartments_listed + input_zero + export_zero},
      {"negative exchange, listed", two_compartments + "\n\n\n" + mrec(1, 2, "-2.") + "\n",
       "0 ERROR EXCHANGE MATRIX CAN NOT HAVE VALUES LESS THAN 0\n",
       two_compartments_listed + input_zero + export_zero + " RESPIRATION VECTOR\n" +
           vector_of_two(zero, zero) + " EXCHANGE MATRIX\n\n\n" + numbers_1_2 + "   1  " + zero +
           "-.200E+01\n" + "   2  " + zero + zero + "\n\n\n"},
      {"biomass index", three + rec(4, "1.") + rec(0) + "\n\n\n\n",
       "0 ERROR BIOMASS LIST INDEX   4 GREATER THAN NUMBER OF COMPARTMENTS\n"},
      {"respiration index", three + "\n\n\n" + rec(76, "1.") + "\n\n",
       "0 ERROR RESPIRATION LIST INDEX  76 GREATER THAN NUMBER OF COMPARTMENTS\n"},
      {"matrix origin", three_lists + mrec(5, 1, "1.") + "\n",
       "0 ERROR EXCHANGE MATRIX LIST INDEX   5 GREATER THAN NUMBER OF COMPARTMENTS\n"},
      {"matrix destination 0", three_lists + mrec(1, 0, "1.") + "\n",
       "0 ERROR EXCHANGE MATRIX LIST DESTINATION INDEX   0 OUT OF RANGE 1 TO  3\n"},
      {"matrix destination above", three_lists + mrec(2, 4, "1.") + "\n",
       "0 ERROR EXCHANGE MATRIX LIST DESTINATION INDEX   4 OUT OF RANGE 1 TO  3\n"},
      {"living above count", title("INDEX") + counts(3, 4) + "A\nB\nC\nD\n",
       "0 ERROR NUMBER OF LIVING COMPARTMENTS   4 GREATER THAN NUMBER OF COMPARTMENTS\n"},
      {"negative count", title("INDEX") + counts(-2) + "\n\n\n\n\n",
       "0 ERROR NUMBER OF COMPARTMENTS  -2 LESS THAN 0\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove("fort.8");
    const RunResult r = run(c.network);
    EXPECT_EQ(1, r.status);
    EXPECT_EQ(c.terminal, r.out);
    EXPECT_EQ("", r.err);
    EXPECT_THAT(report(), c.report);
  }
}

TEST_F(Loading, MalformedTitle) {
  const RunResult r = run(std::string(78, 'T') + "XY\n" + counts(1));
  EXPECT_EQ(1, r.status);
  EXPECT_EQ("0 ERROR IN TITLE\n", r.out);
  EXPECT_FALSE(file_exists("fort.8"));
}

TEST_F(Loading, UnreadableRecordsNameTheirLine) {
  RunResult r = run(title("LIST") + counts(2) + "A\nB\n" + rec(1, "2.") + "  2 two\n");
  EXPECT_EQ(2, r.status);
  EXPECT_EQ("", r.out);
  EXPECT_EQ(0u, r.err.find("ecodyn: fort.7, line 6: unreadable biomass list record")) << r.err;
  EXPECT_EQ(title_line("LIST") + " NUMBER OF COMPARTMENTS IS    2\n\n LIVING COMPARTMENTS\n\n" +
                name_line(1, "A") + name_line(2, "B"),
            report());
  // A file ending inside a description.
  r = run(title("SHORT") + counts(3) + "A\nB\n");
  EXPECT_EQ(2, r.status);
  EXPECT_THAT(r.err, AllOf(HasSubstr("fort.7, line 5: "), HasSubstr("name record")));
  r = run(title("SHORT") + counts(1) + "A\n" + rec(1, "1.") + rec(0));
  EXPECT_EQ(2, r.status);
  EXPECT_THAT(r.err, AllOf(HasSubstr("fort.7, line 6: "), HasSubstr("input list record")));
}

// A snapshot read back is listed like an ordinary network, without its
// restart columns, and gets no balance report or throughput times.
TEST_F(Loading, SnapshotIsListedLikeAnOrdinaryNetworkWithoutAnalysis) {
  const auto network = [](int mtype) {
    return title("RESTART", " 4") + counts(2, 1, mtype, "5.000") + "PLANTS\nDETRITUS\n" +
           rec(1, "5.", "4.") + rec(2, "10.", "9.") + rec(-1, "3.") + rec(1, "2.") + rec(-1) +
           rec(2, "1.", "0.1") + rec(-1) + rec(1, "1.", "0.2") + rec(-1) + mrec(1, 2, "1.", "0.2") +
           mrec(2, 1, "4.", "0.4") + mrec(-1, -1);
  };
  const RunResult ordinary = run(network(0));
  const std::string ordinary_listing = report();
  std::filesystem::remove("fort.8");
  EXPECT_THAT(ordinary.out, HasSubstr("THROUGHPUT TIME IS"));
  const RunResult snapshot = run(network(2));
  EXPECT_EQ(ordinary_listing, report());
  EXPECT_THAT(snapshot.out, Not(AnyOf(HasSubstr("THROUGHPUT"), HasSubstr("BALANCED"))));
}

}  // namespace
