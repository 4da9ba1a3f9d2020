// Loading networks with the real program in a scratch directory: the echo
// listing in fort.8, the messages and exit statuses of the stops, and the
// diagnostics for files that cannot be read.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/scratch.h"

namespace {

using ecodyn::test::blanks;
using ecodyn::test::file_exists;
using ecodyn::test::read_file;
using ecodyn::test::right;
using ecodyn::test::RunResult;

std::string num(int i, int width) { return right(std::to_string(i), width); }

// Records of the network file.
std::string title(const std::string& text, const std::string& digits = "") {
  return text + blanks(78 - static_cast<int>(text.size())) + digits + "\n";
}
std::string counts(int ncomp, int nliv = 0, int mtype = 0, const std::string& time = "") {
  return num(ncomp, 3) + num(nliv, 3) + num(mtype, 3) + right(time, 10) + "\n";
}
std::string rec(int i, const std::string& a = "", const std::string& b = "") {
  return num(i, 3) + right(a, 14) + right(b, 14) + "\n";
}
std::string mrec(int i, int j, const std::string& flow = "", const std::string& coef = "") {
  return num(i, 3) + num(j, 3) + right(flow, 14) + right(coef, 14) + "\n";
}

// Lines of the report file.
std::string title_line(const std::string& text) { return std::string("1 ") + title(text) + "\n"; }
std::string name_line(int i, const std::string& name) {
  return blanks(1) + num(i, 2) + blanks(2) + name + blanks(25 - static_cast<int>(name.size())) +
         "\n";
}
const std::string zero = " .000E+00";
const std::string numbers_1_2 = "           1        2\n";
// The listing of a vector of two, its values given as nine-column fields.
std::string vector_of_two(const std::string& a, const std::string& b) {
  return "\n\n" + numbers_1_2 + blanks(6) + a + b + "\n\n\n";
}

const std::string compartments_error = "0 ERROR NUMBER OF COMPARTMENTS MAX= 75\n";

class Loading : public testing::Test {
 protected:
  RunResult run(const std::string& network_file, const std::string& answers = "") {
    ecodyn::test::write_file("fort.7", network_file);
    return ecodyn::test::run_ecodyn(dir.path(), answers);
  }
  std::string report() { return read_file("fort.8"); }
  ecodyn::test::ScratchDir dir;
};

// Two compartments, one living; the head of every listing below.
const std::string two_compartments = title("NEGATIVE") + counts(2, 1) + "PLANTS\nDETRITUS\n" +
                                     rec(1, "5.") + rec(2, "10.") + rec(-1);
const std::string two_compartments_listed =
    title_line("NEGATIVE") +
    " NUMBER OF COMPARTMENTS IS    2\n"
    " NUMBER OF LIVING COMPARTMENTS IS   1\n"
    "\n"
    " LIVING COMPARTMENTS\n"
    "\n" +
    name_line(1, "PLANTS") +
    "\n"
    " NON-LIVING COMPARTMENTS\n"
    "\n" +
    name_line(2, "DETRITUS") +
    "\n"
    " THE BIOMASSES\n"
    "\n"
    "\n"
    "           1        2\n"
    "       .500E+01 .100E+02\n"
    "\n"
    "\n";

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
  const RunResult r = ecodyn::test::run_ecodyn(dir.path(), "");
  EXPECT_EQ(2, r.status);
  EXPECT_NE(std::string::npos, r.err.find("cannot open the network file fort.7")) << r.err;
  EXPECT_FALSE(file_exists("fort.7"));
  EXPECT_FALSE(file_exists("fort.8"));
}

// Each network gets its own cycle; the answers are those a complete cycle
// asks for (model type, start, end, print and snapshot intervals, no change).
TEST_F(Loading, TwoNetworksInOneFile) {
  const std::string lake = title("LAKE") + counts(2) + "ALGAE\nZOOPLANKTON\n" +
                           rec(1, "20.") + rec(2, "30.") + rec(-1) + rec(1, "10.") + rec(-1) +
                           rec(2, "1.") + rec(-1) + rec(1, "4.") + rec(2, "5.") + rec(-1) +
                           mrec(1, 2, "6.") + mrec(-1, -1);
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
      " RESPIRATION VECTOR\n" + vector_of_two(" .400E+01", " .500E+01") +
      " EXCHANGE MATRIX\n\n\n" + numbers_1_2 + "   1  " + zero + " .600E+01\n" + "   2  " +
      zero + zero + "\n\n\n";
  const std::string number_1 = "\n\n           1\n", one = number_1 + blanks(6);
  const std::string pond_listed =
      title_line("POND") + " NUMBER OF COMPARTMENTS IS    1\n\n LIVING COMPARTMENTS\n\n" +
      name_line(1, "FISH") + "\n THE BIOMASSES\n" + one + " .100E+01\n\n\n" +
      "\n INPUT VECTOR\n" + one + " .200E+01\n\n\n" + " EXPORT VECTOR\n" + one + zero +
      "\n\n\n" + " RESPIRATION VECTOR\n" + one + " .200E+01\n\n\n" + " EXCHANGE MATRIX\n" +
      number_1 + "   1  " + zero + "\n\n\n";
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

TEST_F(Loading, SeventySixCompartmentsAreTooMany) {
  const RunResult r = run(title("TOO MANY") + counts(76));
  EXPECT_EQ(1, r.status);
  EXPECT_EQ(compartments_error, r.out);
  EXPECT_EQ(title_line("TOO MANY") + " NUMBER OF COMPARTMENTS IS   76\n", report());
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

TEST_F(Loading, NegativeInputIsListedThenStops) {
  const RunResult r = run(two_compartments + rec(1, "-1.") + rec(0) + "\n\n\n");
  EXPECT_EQ(1, r.status);
  EXPECT_EQ("0 ERROR INPUT VECTOR CANNOT BE LESS THAN 0\n", r.out);
  EXPECT_EQ(two_compartments_listed + "\n INPUT VECTOR\n" + vector_of_two("-.100E+01", zero),
            report());
}

TEST_F(Loading, NegativeExportIsListedThenStops) {
  const RunResult r = run(two_compartments + "\n" + rec(2, "-0.5") + "\n\n\n");
  EXPECT_EQ(1, r.status);
  EXPECT_EQ("0 ERROR EXPORT VECTOR CAN NOT HAVE VALUES LESS THAN 0\n", r.out);
  EXPECT_EQ(two_compartments_listed + "\n INPUT VECTOR\n" + vector_of_two(zero, zero) +
                " EXPORT VECTOR\n" + vector_of_two(zero, "-.500E+00"),
            report());
}

TEST_F(Loading, NegativeRespirationStopsBeforeItsListing) {
  const RunResult r = run(two_compartments + "\n\n" + rec(1, "-2.") + "\n\n");
  EXPECT_EQ(1, r.status);
  EXPECT_EQ("0 ERROR RESPIRATIONS CANNOT BE LESS THAN 0.\n", r.out);
  EXPECT_EQ(two_compartments_listed + "\n INPUT VECTOR\n" + vector_of_two(zero, zero) +
                " EXPORT VECTOR\n" + vector_of_two(zero, zero),
            report());
}

TEST_F(Loading, NegativeExchangeIsListedThenStops) {
  const RunResult r = run(two_compartments + "\n\n\n" + mrec(1, 2, "-2.") + "\n");
  EXPECT_EQ(1, r.status);
  EXPECT_EQ("0 ERROR EXCHANGE MATRIX CAN NOT HAVE VALUES LESS THAN 0\n", r.out);
  EXPECT_EQ(two_compartments_listed + "\n INPUT VECTOR\n" + vector_of_two(zero, zero) +
                " EXPORT VECTOR\n" + vector_of_two(zero, zero) + " RESPIRATION VECTOR\n" +
                vector_of_two(zero, zero) + " EXCHANGE MATRIX\n\n\n" + numbers_1_2 + "   1  " +
                zero + "-.200E+01\n" + "   2  " + zero + zero + "\n\n\n",
            report());
}

TEST_F(Loading, MalformedTitle) {
  const RunResult r = run(std::string(78, 'T') + "XY\n" + counts(1));
  EXPECT_EQ(1, r.status);
  EXPECT_EQ("0 ERROR IN TITLE\n", r.out);
  EXPECT_FALSE(file_exists("fort.8"));
}

TEST_F(Loading, MalformedCountsRecord) {
  for (const std::string& bad : {std::string("  3ab\n"), std::string("  1  0  0    1x.000\n")}) {
    std::filesystem::remove("fort.8");
    const RunResult r = run(title("COUNTS") + bad + "A\nB\nC\n");
    EXPECT_EQ(1, r.status);
    EXPECT_EQ(compartments_error, r.out);
    EXPECT_EQ(title_line("COUNTS"), report());
  }
}

TEST_F(Loading, MalformedListRecord) {
  const RunResult r = run(title("LIST") + counts(2) + "A\nB\n" + rec(1, "2.") + "  2 two\n");
  EXPECT_EQ(2, r.status);
  EXPECT_EQ("", r.out);
  EXPECT_EQ(0u, r.err.find("ecodyn: fort.7, line 6: unreadable biomass list record")) << r.err;
  EXPECT_EQ(title_line("LIST") + " NUMBER OF COMPARTMENTS IS    2\n\n LIVING COMPARTMENTS\n\n" +
                name_line(1, "A") + name_line(2, "B"),
            report());
}

TEST_F(Loading, FileEndingInsideADescription) {
  RunResult r = run(title("SHORT") + counts(3) + "A\nB\n");
  EXPECT_EQ(2, r.status);
  EXPECT_NE(std::string::npos, r.err.find("fort.7, line 5: ")) << r.err;
  EXPECT_NE(std::string::npos, r.err.find("name record")) << r.err;

  r = run(title("SHORT") + counts(1) + "A\n" + rec(1, "1.") + rec(0));
  EXPECT_EQ(2, r.status);
  EXPECT_NE(std::string::npos, r.err.find("fort.7, line 6: ")) << r.err;
  EXPECT_NE(std::string::npos, r.err.find("input list record")) << r.err;
}

// A snapshot read back is listed like an ordinary network, without its
// restart columns, and gets no balance report or throughput times.
TEST_F(Loading, SnapshotIsListedLikeAnOrdinaryNetworkWithoutAnalysis) {
  const auto network = [](int mtype) {
    return title("RESTART", " 4") + counts(2, 1, mtype, "5.000") + "PLANTS\nDETRITUS\n" +
           rec(1, "5.", "4.") + rec(2, "10.", "9.") + rec(-1, "3.") + rec(1, "2.") + rec(-1) +
           rec(2, "1.", "0.1") + rec(-1) + rec(1, "1.", "0.2") + rec(-1) +
           mrec(1, 2, "1.", "0.2") + mrec(2, 1, "4.", "0.4") + mrec(-1, -1);
  };
  const RunResult ordinary = run(network(0));
  const std::string ordinary_listing = report();
  std::filesystem::remove("fort.8");
  EXPECT_NE(std::string::npos, ordinary.out.find("THROUGHPUT TIME IS"));
  const RunResult snapshot = run(network(2));
  EXPECT_EQ(ordinary_listing, report());
  EXPECT_EQ(std::string::npos, snapshot.out.find("THROUGHPUT")) << snapshot.out;
  EXPECT_EQ(std::string::npos, snapshot.out.find("BALANCED")) << snapshot.out;
}

struct BadCount {
  const char* what;
  std::string network;
  std::string message;
};

void PrintTo(const BadCount& c, std::ostream* os) { *os << c.what; }

class RejectedRecord : public Loading, public testing::WithParamInterface<BadCount> {};

TEST_P(RejectedRecord, StopsWithItsOwnMessage) {
  const RunResult r = run(GetParam().network);
  EXPECT_EQ(1, r.status);
  EXPECT_EQ(GetParam().message + "\n", r.out);
  EXPECT_EQ("", r.err);
}

const std::string three = title("INDEX") + counts(3) + "A\nB\nC\n";
const std::string three_lists = three + rec(1, "1.") + rec(0) + "\n\n\n";

INSTANTIATE_TEST_SUITE_P(
    OutOfRange, RejectedRecord,
    testing::Values(
        BadCount{"BiomassIndex", three + rec(4, "1.") + rec(0) + "\n\n\n\n",
                 "0 ERROR BIOMASS LIST INDEX   4 GREATER THAN NUMBER OF COMPARTMENTS"},
        BadCount{"RespirationIndex", three + "\n\n\n" + rec(76, "1.") + "\n\n",
                 "0 ERROR RESPIRATION LIST INDEX  76 GREATER THAN NUMBER OF COMPARTMENTS"},
        BadCount{"MatrixOrigin", three_lists + mrec(5, 1, "1.") + "\n",
                 "0 ERROR EXCHANGE MATRIX LIST INDEX   5 GREATER THAN NUMBER OF COMPARTMENTS"},
        BadCount{"MatrixDestinationZero", three_lists + mrec(1, 0, "1.") + "\n",
                 "0 ERROR EXCHANGE MATRIX LIST DESTINATION INDEX   0 OUT OF RANGE 1 TO  3"},
        BadCount{"MatrixDestinationAbove", three_lists + mrec(2, 4, "1.") + "\n",
                 "0 ERROR EXCHANGE MATRIX LIST DESTINATION INDEX   4 OUT OF RANGE 1 TO  3"},
        BadCount{"LivingAboveCount", title("INDEX") + counts(3, 4) + "A\nB\nC\nD\n",
                 "0 ERROR NUMBER OF LIVING COMPARTMENTS   4 GREATER THAN NUMBER OF COMPARTMENTS"},
        BadCount{"NegativeCount", title("INDEX") + counts(-2) + "\n\n\n\n\n",
                 "0 ERROR NUMBER OF COMPARTMENTS  -2 LESS THAN 0"}),
    [](const testing::TestParamInfo<BadCount>& info) { return std::string(info.param.what); });

}  // namespace
