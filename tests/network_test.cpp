// Loading network descriptions. The list rules: terminators, the record
// limits of a list, the last record for an index winning, ignored columns,
// the restart columns of a snapshot and the zero defaults of every cycle. The
// vector and matrix listings of the report file, line by line: blocks of
// eight compartments, values in nine-column slots under their numbers, two
// empty lines before a listing and after every block. The balance check of
// an ordinary network and its throughput times, as the terminal shows them:
// the report of an unbalanced network with its advice, the tolerance that
// balance_digits selects, ties, and the stop for a compartment without
// throughput.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "fio/fio.h"
#include "model/konsts.h"
#include "network/balance.h"
#include "network/listing.h"
#include "network/loader.h"
#include "support/model_networks.h"
#include "support/records.h"
#include "support/scratch.h"
#include "support/terminal.h"

namespace {

using namespace ecodyn::test;
using ecodyn::konsts;
using ecodyn::LoadResult;
using floats = std::vector<float>;

const std::string blank = "\n";

class ListRules : public testing::Test {
 protected:
  void TearDown() override {
    fio::close(fio::network_file);
    fio::close(fio::report);
  }
  LoadResult load() { return ecodyn::load_network(net); }
  // Writes the network file and loads its first network.
  LoadResult load(const std::string& network_file) {
    write_file("fort.7", network_file);
    return load();
  }

  ecodyn::test::ScratchDir dir;
  ecodyn::Network net;
};

TEST_F(ListRules, BlankLineEndsAList) {
  ASSERT_EQ(LoadResult::loaded, load(title("BLANK TERMINATORS") + counts(3) + names(3) +
                                     rec(2, "4.") + blank +       // biomass
                                     rec(3, "1.") + blank +       // inputs
                                     blank + blank +              // exports, respirations
                                     mrec(1, 2, "2.") + blank));  // exchange
  EXPECT_EQ((floats{0, 4, 0}), values(net.biomass, 3));
  EXPECT_EQ((floats{0, 0, 1}), values(konsts.inputs, 3));
  EXPECT_EQ(2.0f, net.exchange(1, 2));
  EXPECT_EQ(0.0f, net.exchange(2, 1));
  EXPECT_EQ(LoadResult::end_of_file, load());  // every record was consumed
}

TEST_F(ListRules, DecimalPointDecidesTheScaleOfAnExponentField) {
  ASSERT_EQ(LoadResult::loaded, load(title("FIELDS") + counts(5) + names(5) + rec(1, "5") +
                                     rec(2, "5.") + rec(3, "1.5E2") + rec(4, "25E1") +
                                     rec(5, "1 2 . 5") + rec(0) + blank + blank + blank + blank));
  EXPECT_FLOAT_EQ(5.0e-7f, net.biomass(1));  // no point: seven implied decimals
  EXPECT_EQ(5.0f, net.biomass(2));
  EXPECT_EQ(150.0f, net.biomass(3));
  EXPECT_FLOAT_EQ(2.5e-5f, net.biomass(4));  // 25 x 10**-7, then the exponent
  EXPECT_EQ(12.5f, net.biomass(5));          // blanks inside a field are ignored
}

// A full list with its terminator takes ncomp + 1 records; ncomp + 1 records
// of positive index end the list without one, the last for an index winning,
// and the next list starts right after.
TEST_F(ListRules, VectorListEndsAfterNcompPlusOneRecords) {
  ASSERT_EQ(LoadResult::loaded, load(title("LIMITS") + counts(2) + names(2) + rec(1, "1.") +
                                     rec(2, "2.") + rec(-1) +                      // biomass
                                     rec(2, "1.") + rec(1, "3.") + rec(2, "7.") +  // inputs
                                     rec(2, "4.") + rec(0) +                       // exports
                                     rec(1, "6.") + rec(1, "8.") + rec(1, "9.") +  // resp.
                                     mrec(2, 1, "5.") + mrec(0, 0)));
  EXPECT_EQ((floats{1, 2}), values(net.biomass, 2));
  EXPECT_EQ((floats{3, 7}), values(konsts.inputs, 2));
  EXPECT_EQ((floats{0, 4}), values(net.exports, 2));
  EXPECT_EQ((floats{9, 0}), values(net.respirations, 2));
  EXPECT_EQ(5.0f, net.exchange(2, 1));
  EXPECT_EQ(LoadResult::end_of_file, load());
}

// The matrix list of one compartment holds at most four records; the fifth
// is the next network's title. Only the origin index marks a terminator.
TEST_F(ListRules, MatrixListEndsAfterNcompPlusOneSquaredRecords) {
  ASSERT_EQ(LoadResult::loaded,
            load(title("FIRST") + counts(1) + names(1) + blank + blank + blank + blank +
                 mrec(1, 1, "1.") + mrec(1, 1, "2.") + mrec(1, 1, "3.") + mrec(1, 1, "4.") +
                 title("SECOND") + counts(2) + names(2) + blank + blank + blank + blank +
                 mrec(1, 2, "3.") + mrec(0, 5) + title("THIRD") + counts(1) + names(1) + blank +
                 blank + blank + blank + mrec(-1, -1)));
  EXPECT_EQ(4.0f, net.exchange(1, 1));
  ASSERT_EQ(LoadResult::loaded, load());
  EXPECT_EQ('S', net.names.word(0, 1)[0]);
  EXPECT_EQ(3.0f, net.exchange(1, 2));
  EXPECT_EQ(0.0f, net.exchange(1, 1));
  ASSERT_EQ(LoadResult::loaded, load());
  EXPECT_EQ('T', net.names.word(0, 1)[0]);
  EXPECT_EQ(LoadResult::end_of_file, load());
}

// Input records are parsed to column 17, export and respiration records to
// 31, matrix records to 34, biomass records to 45; the rest is ignored.
TEST_F(ListRules, IgnoredColumnsMayHoldText) {
  const std::string note = "NOTE: 1,2 ?";
  ASSERT_EQ(LoadResult::loaded,
            load(title("COMMENTS") + counts(1) + names(1) + num(1, 3) + right("2.", 14) +
                 blanks(28) + note + "\n" + rec(0) + num(1, 3) + right("3.", 14) + note + "\n" +
                 rec(0) + num(1, 3) + right("1.", 14) + blanks(14) + note + "\n" + rec(0) +
                 num(1, 3) + right("1.", 14) + blanks(14) + note + "\n" + rec(0) + num(1, 3) +
                 num(1, 3) + right("0.5", 14) + blanks(14) + note + "\n" + mrec(0, 0)));
  EXPECT_EQ(2.0f, net.biomass(1));
  EXPECT_EQ(3.0f, konsts.inputs(1));
  EXPECT_EQ(1.0f, net.exports(1));
  EXPECT_EQ(1.0f, net.respirations(1));
  EXPECT_EQ(0.5f, net.exchange(1, 1));
}

TEST_F(ListRules, RestartColumnsAreIgnoredInAnOrdinaryNetwork) {
  konsts.bref(1) = konsts.cexp(1) = konsts.cresp(1) = -9.0f;
  konsts.cexch(1, 1) = konsts.cexch(1, 2) = -9.0f;
  net.times.longest = -9.0f;
  ASSERT_EQ(LoadResult::loaded,
            load(title("ORDINARY") + counts(2, 0, 0, "7.5") + names(2) + rec(1, "2.", "3.", "4.") +
                 rec(-1, "100.") + blank + rec(1, "1.", "0.5") + rec(0) + rec(1, "1.", "0.25") +
                 rec(0) + mrec(1, 2, "1.", "0.125") + mrec(0, 0)));
  EXPECT_FALSE(net.restart);
  EXPECT_EQ(2.0f, net.biomass(1));
  EXPECT_THAT((floats{konsts.bref(1), konsts.cexp(1), konsts.cresp(1), konsts.cexch(1, 1),
                      konsts.cexch(1, 2), net.times.longest}),
              testing::Each(-9.0f));
  EXPECT_EQ(1.0f, net.exchange(1, 2));
}

TEST_F(ListRules, SnapshotCarriesItsCoefficients) {
  konsts.cexp(2) = konsts.cresp(1) = konsts.cexch(1, 1) = konsts.cexch(2, 1) = -9.0f;
  ASSERT_EQ(LoadResult::loaded,
            load(title("SNAPSHOT", " 3") + counts(2, 1, 2, "12.500") + names(2) +
                 rec(1, "2.", "3.", "4.") + rec(2, "5.", "6.", "7.") + rec(-1, "42.") +
                 rec(1, "1.") + rec(-1) + rec(1, "1.", "0.5") + rec(-1) + rec(2, "1.", "0.25") +
                 rec(-1) + mrec(1, 2, "1.", "0.125") + mrec(-1, -1)));
  EXPECT_TRUE(net.restart);
  EXPECT_EQ(2, konsts.mtype);
  EXPECT_EQ(1, konsts.nliv);
  EXPECT_EQ(12.5f, net.snap_time);
  EXPECT_EQ(3, net.balance_digits);
  EXPECT_EQ((floats{3, 6}), values(konsts.bref, 2));
  EXPECT_EQ((floats{0.5f, 0}), values(konsts.cexp, 2));  // not listed: zero, not what was there
  EXPECT_EQ((floats{0, 0.25f}), values(konsts.cresp, 2));
  EXPECT_EQ(0.125f, konsts.cexch(1, 2));
  EXPECT_EQ(0.0f, konsts.cexch(2, 1));
  EXPECT_EQ(0.0f, konsts.cexch(1, 1));  // the third column is only for type 3
  EXPECT_EQ(0.0f, konsts.cexch(2, 2));
  EXPECT_EQ(42.0f, net.times.longest);  // any snapshot: from the terminator
  EXPECT_EQ(0, net.times.longest_in);
}

// Under the damped Lotka-Volterra model the biomass records carry the
// self-coefficients; a matrix record for the diagonal, read later, wins.
// Without a terminator the longest throughput time is the last record's.
TEST_F(ListRules, DampedLotkaVolterraSnapshotCarriesSelfCoefficients) {
  ASSERT_EQ(LoadResult::loaded,
            load(title("TYPE 3") + counts(2, 2, 3, "1.000") + names(2) +
                 rec(1, "2.", "3.", "-0.5") + rec(2, "5.", "6.", "-0.25") + rec(-1, "42.") + blank +
                 blank + blank + mrec(2, 2, "1.", "-0.75") + mrec(-1, -1) + title("TYPE 3 AGAIN") +
                 counts(1, 1, 3) + names(1) + rec(1, "2.", "3.", "-0.5") +
                 rec(1, "8.", "4.", "-0.125") + blank + blank + blank + blank));
  EXPECT_EQ(-0.5f, konsts.cexch(1, 1));
  EXPECT_EQ(-0.75f, konsts.cexch(2, 2));
  EXPECT_EQ(1.0f, net.exchange(2, 2));
  EXPECT_EQ(42.0f, net.times.longest);
  ASSERT_EQ(LoadResult::loaded, load());
  EXPECT_EQ(8.0f, net.biomass(1));
  EXPECT_EQ(4.0f, konsts.bref(1));
  EXPECT_EQ(-0.125f, konsts.cexch(1, 1));
  EXPECT_EQ(8.0f, net.times.longest);
}

TEST_F(ListRules, EntriesNotListedAreZeroInTheNextCycleToo) {
  const std::string every_list =
      rec(1, "1.") + rec(2, "2.") + rec(0) + rec(1, "3.") + rec(2, "4.") + rec(0) + rec(1, "5.") +
      rec(2, "6.") + rec(0) + rec(1, "7.") + rec(2, "8.") + rec(0) + mrec(1, 1, "9.") +
      mrec(1, 2, "10.") + mrec(2, 1, "11.") + mrec(2, 2, "12.") + mrec(0, 0);
  ASSERT_EQ(LoadResult::loaded,
            load(title("FULL") + counts(2) + names(2) + every_list + title("EMPTY") + counts(2) +
                 names(2) + blank + blank + blank + blank + blank));
  EXPECT_EQ(8.0f, net.respirations(2));
  EXPECT_EQ(12.0f, net.exchange(2, 2));
  ASSERT_EQ(LoadResult::loaded, load());
  for (int i = 1; i <= 2; ++i) {
    EXPECT_EQ(0.0f, net.biomass(i));
    EXPECT_EQ(0.0f, konsts.inputs(i));
    EXPECT_EQ(0.0f, net.exports(i));
    EXPECT_EQ(0.0f, net.respirations(i));
    for (int j = 1; j <= 2; ++j) EXPECT_EQ(0.0f, net.exchange(i, j));
  }
}

// A living count of 0 means all compartments are living: the listing is the
// one of a network that says so explicitly.
TEST_F(ListRules, NoLivingCountMeansAllLiving) {
  const std::string body = names(3) + rec(1, "1.") + blank + blank + blank + blank + blank;
  ASSERT_EQ(LoadResult::loaded,
            load(title("LIVING") + counts(3, 0) + body + title("LIVING") + counts(3, 3) + body));
  EXPECT_EQ(3, konsts.nliv);
  ASSERT_EQ(LoadResult::loaded, load());
  EXPECT_EQ(3, konsts.nliv);
  ASSERT_TRUE(fio::close(fio::report));
  const std::string report = read_file("fort.8");
  ASSERT_EQ(0u, report.size() % 2);
  EXPECT_EQ(report.substr(0, report.size() / 2), report.substr(report.size() / 2));
  EXPECT_EQ(std::string::npos, report.find("NUMBER OF LIVING"));
  EXPECT_EQ(std::string::npos, report.find("NON-LIVING"));
}

TEST_F(ListRules, NamesAreTwentyFiveColumnsAndTheTitleSeventyEight) {
  const std::string name = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";  // column 26 is not read
  const std::string long_title = std::string(77, 'T') + "U";
  ASSERT_EQ(LoadResult::loaded, load(long_title + "12\n" + counts(1) + name + "\n" + blank + blank +
                                     blank + blank + blank));
  EXPECT_EQ(12, net.balance_digits);
  EXPECT_EQ((ecodyn::Word{'T', 'U', ' ', ' '}), net.names.word(0, 20));
  EXPECT_EQ((ecodyn::Word{'U', 'V', 'W', 'X'}), net.names.word(1, 6));
  EXPECT_EQ((ecodyn::Word{'Y', ' ', ' ', ' '}), net.names.word(1, 7));
}

// A matrix row: its label and the values (each already a nine-column field).
std::string row(int i, const std::string& values) { return label(i) + values + "\n"; }

const std::string two_empty = "\n\n";

class Listing : public testing::Test {
 protected:
  // Returns what the listings wrote to the report file.
  std::string report() {
    EXPECT_TRUE(fio::close(fio::report));
    return read_file("fort.8");
  }
  ScratchDir dir;
  ecodyn::Vector v;
  ecodyn::Matrix m;
};

TEST_F(Listing, EightEntriesMakeOneBlock) {
  for (int k = 1; k <= 8; ++k) v(k) = static_cast<float>(k);
  v(9) = 99.0f;  // beyond n: not listed
  ecodyn::vecprt(v, 8, 75);
  EXPECT_EQ(
      "\n\n"
      "           1        2        3        4        5        6        7        8\n"
      "       .100E+01 .200E+01 .300E+01 .400E+01 .500E+01 .600E+01 .700E+01 .800E+01\n"
      "\n\n",
      report());
}

TEST_F(Listing, NinthEntryMakesASecondBlock) {
  v(1) = 0.5f;
  v(9) = -1234.5f;
  ecodyn::vecprt(v, 9, 75);
  EXPECT_EQ(two_empty + numbers(1, 8) + blanks(6) + " .500E+00" + repeat(zero, 7) + "\n" +
                two_empty +
                "           9\n"
                "      -.123E+04\n" +
                two_empty,
            report());
}

TEST_F(Listing, TwentyEntriesMakeThreeBlocks) {
  for (int k = 1; k <= 20; ++k) v(k) = 0.25f * static_cast<float>(k);
  ecodyn::vecprt(v, 20, 75);
  EXPECT_EQ(two_empty + numbers(1, 8) +
                "       .250E+00 .500E+00 .750E+00 .100E+01 .125E+01 .150E+01 .175E+01 .200E+01\n" +
                two_empty + numbers(9, 16) +
                "       .225E+01 .250E+01 .275E+01 .300E+01 .325E+01 .350E+01 .375E+01 .400E+01\n" +
                two_empty + numbers(17, 20) + "       .425E+01 .450E+01 .475E+01 .500E+01\n" +
                two_empty,
            report());
}

TEST_F(Listing, SeventyFiveEntriesEndWithABlockOfThree) {
  v(75) = 7.5f;
  ecodyn::vecprt(v, 75, 75);
  const std::string text = report();
  const auto lines = lines_of(text);
  ASSERT_EQ(2u + 10u * 4u, lines.size());
  EXPECT_EQ(numbers(73, 75), lines[2 + 9 * 4] + "\n");
  EXPECT_EQ(blanks(6) + zero + zero + " .750E+01", lines[3 + 9 * 4]);
}

// Entry (i,j) stands in the line of row i under the heading of column j.
TEST_F(Listing, TwentyByTwentyMatrixMakesThreeColumnBlocks) {
  m(1, 9) = -3.0f;
  m(2, 17) = 5.0f;
  m(17, 2) = 0.25f;
  m(20, 20) = 0.001f;
  m(21, 1) = 99.0f;  // beyond n: not listed
  ecodyn::matprt(m, 20, 75);

  std::string expected = two_empty + numbers(1, 8);
  for (int i = 1; i <= 20; ++i) {
    expected += row(i, i == 17 ? zero + " .250E+00" + repeat(zero, 6) : repeat(zero, 8));
  }
  expected += two_empty + numbers(9, 16);
  for (int i = 1; i <= 20; ++i) {
    expected += row(i, i == 1 ? "-.300E+01" + repeat(zero, 7) : repeat(zero, 8));
  }
  expected += two_empty + numbers(17, 20);
  for (int i = 1; i <= 20; ++i) {
    if (i == 2) {
      expected += row(i, " .500E+01" + repeat(zero, 3));
    } else if (i == 20) {
      expected += row(i, repeat(zero, 3) + " .100E-02");
    } else {
      expected += row(i, repeat(zero, 4));
    }
  }
  expected += two_empty;
  EXPECT_EQ(expected, report());
}

// Seventy compartments: rows 1 to 65 through nine column blocks, then rows
// 66 to 70 through the same nine blocks.
TEST_F(Listing, SeventyBySeventyMatrixHasTwoRowBlocks) {
  m(65, 1) = 2.0f;
  m(1, 70) = 1.5f;
  m(66, 70) = 7.0f;
  m(70, 66) = 0.125f;
  ecodyn::matprt(m, 70, 75);
  const auto lines = lines_of(report());

  // Per column block: its heading, its rows and two empty lines.
  const std::size_t first_block = 1 + 65 + 2, second_block = 1 + 5 + 2;
  ASSERT_EQ(2 + 9 * first_block + 9 * second_block, lines.size());
  EXPECT_EQ("", lines[0]);
  EXPECT_EQ("", lines[1]);
  for (int s = 0; s < 9; ++s) {
    const int first = 8 * s + 1, last = s == 8 ? 70 : 8 * s + 8;
    const std::size_t top = 2 + s * first_block;
    const std::size_t bottom = 2 + 9 * first_block + s * second_block;
    EXPECT_EQ(numbers(first, last), lines[top] + "\n");
    EXPECT_EQ(numbers(first, last), lines[bottom] + "\n");
    for (int i = 1; i <= 65; ++i) {
      EXPECT_EQ(label(i), lines[top + i].substr(0, 6));
      EXPECT_EQ(6u + 9u * (last - first + 1), lines[top + i].size());
    }
    for (int i = 66; i <= 70; ++i) {
      EXPECT_EQ(label(i), lines[bottom + i - 65].substr(0, 6));
    }
    EXPECT_EQ("", lines[top + 66]);
    EXPECT_EQ("", lines[top + 67]);
    EXPECT_EQ("", lines[bottom + 6]);
    EXPECT_EQ("", lines[bottom + 7]);
  }
  const std::size_t last_top = 2 + 8 * first_block;  // columns 65 to 70
  const std::size_t last_bottom = 2 + 9 * first_block + 8 * second_block;
  EXPECT_EQ(row(65, " .200E+01" + repeat(zero, 7)), lines[2 + 65] + "\n");
  EXPECT_EQ(row(1, repeat(zero, 5) + " .150E+01"), lines[last_top + 1] + "\n");
  EXPECT_EQ(row(66, repeat(zero, 5) + " .700E+01"), lines[last_bottom + 1] + "\n");
  EXPECT_EQ(row(70, zero + " .125E+00" + repeat(zero, 4)), lines[last_bottom + 5] + "\n");
}

const std::string not_balanced =
    "\n"
    " INPUT NETWORK IS NOT BALANCED TO YOUR SPECIFICATIONS.\n"
    "\n"
    " COMPARISON OF THROUGHPUTS\n"
    "\n"
    "      INPUTS      OUTPUTS    IMBALANCE\n"
    "\n";

const std::string advice =
    "\n\n"
    " IF YOU WISH TO BALANCE THE INPUT AND RERUN, TRY THE FOLLOWING:\n"
    "    MODEL TYPE = 2\n"
    "    START TIME = 0.\n"
    "    END TIME = CA. 5 OR 10 X LONGEST THROUGHPUT TIME\n"
    "    PRINT INTERVAL < OR = 0.1 X END TIME\n"
    "    SNAPSHOT INTERVAL = 0 (DEFAULT)\n"
    "    NO PARAMETER PERTURBATIONS\n"
    "    A BALANCED NETWORK SHOULD ISSUE FROM UNIT 18.\n"
    "\n\n";

class Balance : public testing::Test {
 protected:
  // A network of n compartments without flows and the default tolerance.
  void SetUp() override { network(0); }
  void network(int n) {
    net = {};
    konsts.ncomp = konsts.nliv = n;
    konsts.inputs = {};
    net.balance_tolerance = 0.001f;
  }
  // Returns what the balance check writes to the terminal.
  std::string terminal() {
    return ecodyn::test::terminal_output([&] { ecodyn::check_balance(net); });
  }
  ecodyn::test::ScratchDir dir;
  ecodyn::Network net;
};

// A self-flow enters both totals: it leaves the balance alone but shortens
// the throughput time (3 / 6 instead of 3 / 2).
TEST_F(Balance, BalancedNetworkShowsOnlyTheThroughputTimes) {
  network(2);
  konsts.inputs(1) = 2.0f;
  net.respirations(1) = 2.0f;
  net.exchange(1, 1) = 4.0f;
  net.biomass(1) = 3.0f;
  konsts.inputs(2) = 1.0f;
  net.exports(2) = 1.0f;  // biomass 0: throughput time 0
  EXPECT_EQ(
      " SHORTEST THROUGHPUT TIME IS  .0000E+00 IN  2\n"
      "  LONGEST THROUGHPUT TIME IS  .5000E+00 IN  1\n"
      "\n",
      terminal());
  EXPECT_EQ(0.5f, net.times.longest);
  EXPECT_EQ(1, net.times.longest_in);
}

TEST_F(Balance, UnbalancedNetworkListsEveryCompartmentAndGivesAdvice) {
  network(3);
  konsts.inputs(1) = 10.0f;  // in 10, out 2 + 3 + 4: imbalance 1
  net.exports(1) = 2.0f;
  net.respirations(1) = 3.0f;
  net.exchange(1, 2) = 4.0f;
  net.respirations(2) = 4.0f;  // in 4, out 4
  konsts.inputs(3) = 0.5f;     // in 0.5, out 1.5: imbalance -1
  net.exports(3) = 1.5f;
  net.biomass(1) = 19.0f;  // throughput 9.5
  net.biomass(2) = 2.0f;   // throughput 4
  net.biomass(3) = 3.0f;   // throughput 1
  EXPECT_EQ(not_balanced +
                "   1  .100E+02    .900E+01     .100E+01\n"
                "   2  .400E+01    .400E+01     .000E+00\n"
                "   3  .500E+00    .150E+01    -.100E+01\n" +
                advice +
                " SHORTEST THROUGHPUT TIME IS  .5000E+00 IN  2\n"
                "  LONGEST THROUGHPUT TIME IS  .3000E+01 IN  3\n"
                "\n",
            terminal());
  EXPECT_EQ(3.0f, net.times.longest);
}

TEST_F(Balance, AnImbalanceAtTheToleranceCountsAndHalfOfItDoesNot) {
  const struct {
    int balance_digits;
    float imbalance;  // inflow minus outflow of the one compartment
    bool reported;
  } cases[] = {{0, 0.001f, true},    {0, -0.001f, true}, {0, 0.0005f, false},  {4, 0.001f, true},
               {4, -0.0005f, false}, {5, 0.0005f, true}, {5, 0.00005f, false}, {2, 0.1f, true},
               {2, 0.05f, false},    {1, 1.0f, true},    {1, -0.5f, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "balance_digits " << c.balance_digits << ", imbalance " << c.imbalance);
    network(1);
    net.balance_tolerance = ecodyn::balance_tolerance(c.balance_digits);
    net.biomass(1) = 1.0f;
    if (c.imbalance > 0) {
      konsts.inputs(1) = c.imbalance;
    } else {
      net.exports(1) = -c.imbalance;
    }
    const std::string text = terminal();
    EXPECT_EQ(c.reported, text.starts_with(not_balanced)) << text;
  }
}

// balance_digits is the two-column integer at the end of the title record.
TEST_F(Balance, TitleFieldSelectsTheTolerance) {
  std::string file;
  for (const char* digits : {"  ", " 1", " 2", " 4", " 5", "-1"}) {
    file += std::string(78, 'T') + digits + "\n  0\n\n\n\n\n\n";  // no compartments
  }
  ecodyn::test::write_file("fort.7", file);
  const struct {
    int digits;
    float tolerance;
  } expected[] = {{0, 0.001f}, {1, 1.0f}, {2, 0.1f}, {4, 0.001f}, {5, 0.0001f}, {-1, 100.0f}};
  for (const auto& e : expected) {
    ASSERT_EQ(ecodyn::LoadResult::loaded, ecodyn::load_network(net));
    EXPECT_EQ(e.digits, net.balance_digits);
    EXPECT_FLOAT_EQ(e.tolerance, net.balance_tolerance) << "balance_digits " << e.digits;
  }
  EXPECT_EQ(0.001f, ecodyn::balance_tolerance(0));
  EXPECT_EQ(1.0f, ecodyn::balance_tolerance(1));
  fio::close(fio::network_file);
  fio::close(fio::report);
}

TEST_F(Balance, TiesGoToTheLowerNumber) {
  network(4);
  const float biomass[] = {4.0f, 1.0f, 1.0f, 4.0f};  // times 4, 0.5, 0.5, 4
  const float flow[] = {1.0f, 2.0f, 2.0f, 1.0f};
  for (int i = 1; i <= 4; ++i) {
    net.biomass(i) = biomass[i - 1];
    konsts.inputs(i) = net.respirations(i) = flow[i - 1];
  }
  EXPECT_EQ(
      " SHORTEST THROUGHPUT TIME IS  .5000E+00 IN  2\n"
      "  LONGEST THROUGHPUT TIME IS  .4000E+01 IN  1\n"
      "\n",
      terminal());
  EXPECT_EQ(2, net.times.shortest_in);
  EXPECT_EQ(1, net.times.longest_in);
}

TEST_F(Balance, NoCompartmentsLeaveTheStartingValues) {
  network(0);
  EXPECT_EQ(
      " SHORTEST THROUGHPUT TIME IS  .1000E+26 IN  0\n"
      "  LONGEST THROUGHPUT TIME IS -.1000E+26 IN  0\n"
      "\n",
      terminal());
  EXPECT_EQ(-1.0e25f, net.times.longest);
  EXPECT_EQ(0, net.times.longest_in);
}

using BalanceDeathTest = Balance;

// A compartment without flows stops the program: at once in a network
// otherwise balanced, after the report in one that is not.
TEST_F(BalanceDeathTest, CompartmentWithoutFlowsStops) {
  const std::pair<float, std::string> cases[] = {
      {1.0f, " ALL THROUGHPUTS MUST BE POSITIVE.\n"},
      {3.0f, not_balanced +
                 "   1  .300E+01    .100E+01     .200E+01\n"
                 "   2  .000E+00    .000E+00     .000E+00\n" +
                 advice + " ALL THROUGHPUTS MUST BE POSITIVE.\n"}};
  for (const auto& [input, terminal_text] : cases) {
    network(2);
    konsts.inputs(1) = input;
    net.exports(1) = 1.0f;
    net.biomass(1) = 1.0f;
    EXPECT_ERROR_STOP(ecodyn::check_balance(net), terminal_text);
  }
}

}  // namespace
