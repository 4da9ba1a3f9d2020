// Reading network descriptions by the list rules: terminators, the record
// limits of a list, the last record for an index winning, ignored columns,
// the restart columns of a snapshot and the zero defaults of every cycle.
#include <gtest/gtest.h>

#include <string>

#include "fio/fio.h"
#include "model/konsts.h"
#include "network/loader.h"
#include "support/scratch.h"

namespace {

using ecodyn::konsts;
using ecodyn::LoadResult;
using ecodyn::test::blanks;
using ecodyn::test::right;

std::string num(int i, int width) { return right(std::to_string(i), width); }

// Title record: the title in columns 1-78, balance_digits in 79-80.
std::string title(const std::string& text, const std::string& digits = "") {
  return text + blanks(78 - static_cast<int>(text.size())) + digits + "\n";
}

// Counts record: ncomp, nliv, mtype in three columns each, the time in ten.
std::string counts(int ncomp, int nliv = 0, int mtype = 0, const std::string& time = "") {
  return num(ncomp, 3) + num(nliv, 3) + num(mtype, 3) + right(time, 10) + "\n";
}

// Names "C1", "C2", ... for compartments 1 to n.
std::string names(int n) {
  std::string s;
  for (int k = 1; k <= n; ++k) s.append("C").append(std::to_string(k)).append("\n");
  return s;
}

// Vector list record: index in columns 1-3, values in 4-17, 18-31, 32-45.
std::string rec(int i, const std::string& a = "", const std::string& b = "",
                const std::string& c = "") {
  return num(i, 3) + right(a, 14) + right(b, 14) + right(c, 14) + "\n";
}

// Matrix list record: origin 1-3, destination 4-6, flow 7-20, coefficient 21-34.
std::string mrec(int i, int j, const std::string& flow = "", const std::string& coef = "") {
  return num(i, 3) + num(j, 3) + right(flow, 14) + right(coef, 14) + "\n";
}

const std::string blank = "\n";

class ListRules : public testing::Test {
 protected:
  void TearDown() override {
    fio::close(fio::network_file);
    fio::close(fio::report);
  }
  LoadResult load() { return ecodyn::load_network(net); }

  ecodyn::test::ScratchDir dir;
  ecodyn::Network net;
};

TEST_F(ListRules, BlankLineEndsAList) {
  ecodyn::test::write_file("fort.7", title("BLANK TERMINATORS") + counts(3) + names(3) +
                                         rec(2, "4.") + blank +            // biomass
                                         rec(3, "1.") + blank +            // inputs
                                         blank + blank +                   // exports, respirations
                                         mrec(1, 2, "2.") + blank);        // exchange
  ASSERT_EQ(LoadResult::loaded, load());
  EXPECT_EQ(0.0f, net.biomass(1));
  EXPECT_EQ(4.0f, net.biomass(2));
  EXPECT_EQ(0.0f, net.biomass(3));
  EXPECT_EQ(1.0f, konsts.inputs(3));
  EXPECT_EQ(0.0f, konsts.inputs(2));
  EXPECT_EQ(2.0f, net.exchange(1, 2));
  EXPECT_EQ(0.0f, net.exchange(2, 1));
  EXPECT_EQ(LoadResult::end_of_file, load());  // every record was consumed
}

TEST_F(ListRules, DecimalPointDecidesTheScaleOfAnExponentField) {
  ecodyn::test::write_file("fort.7", title("FIELDS") + counts(5) + names(5) +
                                         rec(1, "5") + rec(2, "5.") + rec(3, "1.5E2") +
                                         rec(4, "25E1") + rec(5, "1 2 . 5") + rec(0) +
                                         blank + blank + blank + blank);
  ASSERT_EQ(LoadResult::loaded, load());
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
  ecodyn::test::write_file("fort.7", title("LIMITS") + counts(2) + names(2) +
                                         rec(1, "1.") + rec(2, "2.") + rec(-1) +  // biomass
                                         rec(2, "1.") + rec(1, "3.") + rec(2, "7.") +  // inputs
                                         rec(2, "4.") + rec(0) +                       // exports
                                         rec(1, "6.") + rec(1, "8.") + rec(1, "9.") +  // resp.
                                         mrec(2, 1, "5.") + mrec(0, 0));
  ASSERT_EQ(LoadResult::loaded, load());
  EXPECT_EQ(1.0f, net.biomass(1));
  EXPECT_EQ(2.0f, net.biomass(2));
  EXPECT_EQ(3.0f, konsts.inputs(1));
  EXPECT_EQ(7.0f, konsts.inputs(2));
  EXPECT_EQ(0.0f, net.exports(1));
  EXPECT_EQ(4.0f, net.exports(2));
  EXPECT_EQ(9.0f, net.respirations(1));
  EXPECT_EQ(0.0f, net.respirations(2));
  EXPECT_EQ(5.0f, net.exchange(2, 1));
  EXPECT_EQ(LoadResult::end_of_file, load());
}

// The matrix list of one compartment holds at most four records; the fifth
// is the next network's title. Only the origin index marks a terminator.
TEST_F(ListRules, MatrixListEndsAfterNcompPlusOneSquaredRecords) {
  ecodyn::test::write_file(
      "fort.7", title("FIRST") + counts(1) + names(1) + blank + blank + blank + blank +
                    mrec(1, 1, "1.") + mrec(1, 1, "2.") + mrec(1, 1, "3.") + mrec(1, 1, "4.") +
                    title("SECOND") + counts(2) + names(2) + blank + blank + blank + blank +
                    mrec(1, 2, "3.") + mrec(0, 5) +
                    title("THIRD") + counts(1) + names(1) + blank + blank + blank + blank +
                    mrec(-1, -1));
  ASSERT_EQ(LoadResult::loaded, load());
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
  ecodyn::test::write_file(
      "fort.7", title("COMMENTS") + counts(1) + names(1) +
                    num(1, 3) + right("2.", 14) + blanks(28) + note + "\n" + rec(0) +
                    num(1, 3) + right("3.", 14) + note + "\n" + rec(0) +
                    num(1, 3) + right("1.", 14) + blanks(14) + note + "\n" + rec(0) +
                    num(1, 3) + right("1.", 14) + blanks(14) + note + "\n" + rec(0) +
                    num(1, 3) + num(1, 3) + right("0.5", 14) + blanks(14) + note + "\n" +
                    mrec(0, 0));
  ASSERT_EQ(LoadResult::loaded, load());
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
  ecodyn::test::write_file("fort.7", title("ORDINARY") + counts(2, 0, 0, "7.5") + names(2) +
                                         rec(1, "2.", "3.", "4.") + rec(-1, "100.") +
                                         blank + rec(1, "1.", "0.5") + rec(0) +
                                         rec(1, "1.", "0.25") + rec(0) +
                                         mrec(1, 2, "1.", "0.125") + mrec(0, 0));
  ASSERT_EQ(LoadResult::loaded, load());
  EXPECT_FALSE(net.restart);
  EXPECT_EQ(2.0f, net.biomass(1));
  EXPECT_EQ(-9.0f, konsts.bref(1));
  EXPECT_EQ(-9.0f, konsts.cexp(1));
  EXPECT_EQ(-9.0f, konsts.cresp(1));
  EXPECT_EQ(-9.0f, konsts.cexch(1, 1));
  EXPECT_EQ(-9.0f, konsts.cexch(1, 2));
  EXPECT_EQ(-9.0f, net.times.longest);
  EXPECT_EQ(1.0f, net.exchange(1, 2));
}

TEST_F(ListRules, SnapshotCarriesItsCoefficients) {
  konsts.cexp(2) = konsts.cresp(1) = konsts.cexch(1, 1) = konsts.cexch(2, 1) = -9.0f;
  ecodyn::test::write_file("fort.7", title("SNAPSHOT", " 3") + counts(2, 1, 2, "12.500") +
                                         names(2) + rec(1, "2.", "3.", "4.") +
                                         rec(2, "5.", "6.", "7.") + rec(-1, "42.") +
                                         rec(1, "1.") + rec(-1) +
                                         rec(1, "1.", "0.5") + rec(-1) +
                                         rec(2, "1.", "0.25") + rec(-1) +
                                         mrec(1, 2, "1.", "0.125") + mrec(-1, -1));
  ASSERT_EQ(LoadResult::loaded, load());
  EXPECT_TRUE(net.restart);
  EXPECT_EQ(2, konsts.mtype);
  EXPECT_EQ(1, konsts.nliv);
  EXPECT_EQ(12.5f, net.snap_time);
  EXPECT_EQ(3, net.balance_digits);
  EXPECT_EQ(3.0f, konsts.bref(1));
  EXPECT_EQ(6.0f, konsts.bref(2));
  EXPECT_EQ(0.5f, konsts.cexp(1));
  EXPECT_EQ(0.0f, konsts.cexp(2));   // not listed: zero, not what was there
  EXPECT_EQ(0.0f, konsts.cresp(1));
  EXPECT_EQ(0.25f, konsts.cresp(2));
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
  ecodyn::test::write_file(
      "fort.7", title("TYPE 3") + counts(2, 2, 3, "1.000") + names(2) +
                    rec(1, "2.", "3.", "-0.5") + rec(2, "5.", "6.", "-0.25") + rec(-1, "42.") +
                    blank + blank + blank + mrec(2, 2, "1.", "-0.75") + mrec(-1, -1) +
                    title("TYPE 3 AGAIN") + counts(1, 1, 3) + names(1) +
                    rec(1, "2.", "3.", "-0.5") + rec(1, "8.", "4.", "-0.125") +
                    blank + blank + blank + blank);
  ASSERT_EQ(LoadResult::loaded, load());
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
  const std::string every_list = rec(1, "1.") + rec(2, "2.") + rec(0) + rec(1, "3.") +
                                 rec(2, "4.") + rec(0) + rec(1, "5.") + rec(2, "6.") + rec(0) +
                                 rec(1, "7.") + rec(2, "8.") + rec(0) + mrec(1, 1, "9.") +
                                 mrec(1, 2, "10.") + mrec(2, 1, "11.") + mrec(2, 2, "12.") +
                                 mrec(0, 0);
  ecodyn::test::write_file("fort.7", title("FULL") + counts(2) + names(2) + every_list +
                                         title("EMPTY") + counts(2) + names(2) + blank + blank +
                                         blank + blank + blank);
  ASSERT_EQ(LoadResult::loaded, load());
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
  ecodyn::test::write_file("fort.7", title("LIVING") + counts(3, 0) + body +
                                         title("LIVING") + counts(3, 3) + body);
  ASSERT_EQ(LoadResult::loaded, load());
  EXPECT_EQ(3, konsts.nliv);
  ASSERT_EQ(LoadResult::loaded, load());
  EXPECT_EQ(3, konsts.nliv);
  ASSERT_TRUE(fio::close(fio::report));
  const std::string report = ecodyn::test::read_file("fort.8");
  ASSERT_EQ(0u, report.size() % 2);
  EXPECT_EQ(report.substr(0, report.size() / 2), report.substr(report.size() / 2));
  EXPECT_EQ(std::string::npos, report.find("NUMBER OF LIVING"));
  EXPECT_EQ(std::string::npos, report.find("NON-LIVING"));
}

TEST_F(ListRules, NamesAreTwentyFiveColumnsAndTheTitleSeventyEight) {
  const std::string name = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";  // column 26 is not read
  const std::string long_title = std::string(77, 'T') + "U";
  ecodyn::test::write_file("fort.7", long_title + "12\n" + counts(1) + name + "\n" + blank +
                                         blank + blank + blank + blank);
  ASSERT_EQ(LoadResult::loaded, load());
  EXPECT_EQ(12, net.balance_digits);
  EXPECT_EQ((ecodyn::Word{'T', 'U', ' ', ' '}), net.names.word(0, 20));
  EXPECT_EQ((ecodyn::Word{'U', 'V', 'W', 'X'}), net.names.word(1, 6));
  EXPECT_EQ((ecodyn::Word{'Y', ' ', ' ', ' '}), net.names.word(1, 7));
}

}  // namespace
