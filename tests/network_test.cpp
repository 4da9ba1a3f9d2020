// Loading network descriptions (the matrix-list limit, restart columns, zero
// defaults), the balance check, and the counts records the writer gives a
// snapshot, whose times read back in ten columns.
#include "network/balance.h"
#include "network/loader.h"
#include "network/writer.h"
#include "support/program_state.h"
#include "support/records.h"
#include "support/scratch.h"

namespace {

using namespace ecodyn::test;
using ecodyn::konsts;
using ecodyn::LoadResult;
using floats = std::vector<float>;

const std::string four_blank = "\n\n\n\n";

class ListRules : public testing::Test {
 protected:
  ~ListRules() override {
    fio::close(fio::network_file);
    fio::close(fio::report);
  }
  LoadResult load() { return ecodyn::load_network(net); }
  LoadResult load(const std::string& file) {
    write_file("fort.7", file);
    return load();
  }
  ScratchDir dir;
  ecodyn::Network net;
};

// A matrix list holds at most (ncomp + 1)^2 records; only the origin index
// marks a terminator. An ordinary network ignores the restart columns; a
// snapshot carries its reference biomasses, coefficients, the longest
// throughput time (on the biomass terminator) and under type 3 the
// self-coefficients, which a later matrix record overrides. Entries not
// listed are zero.
TEST_F(ListRules, MatrixListLimitAndTheCoefficientsOfSnapshots) {
  const std::string head = counts(1) + "X\n" + four_blank;
  ASSERT_EQ(LoadResult::loaded,
            load(title("FIRST") + head + repeat(mrec(1, 1, "1."), 3) + mrec(1, 1, "4.") +
                 title("SECOND") + counts(2) + "X\nY\n" + four_blank + mrec(1, 2, "3.") +
                 mrec(0, 5) + title("THIRD") + head + mrec(-1, -1)));
  EXPECT_EQ(4.0f, net.exchange(1, 1));
  ASSERT_EQ(LoadResult::loaded, load());
  EXPECT_EQ((floats{0, 3}), (floats{net.exchange(1, 1), net.exchange(1, 2)}));
  ASSERT_EQ(LoadResult::loaded, load());
  EXPECT_EQ('T', net.names.word(0, 1)[0]);
  EXPECT_EQ(LoadResult::end_of_file, load());
  fio::close(fio::network_file);
  konsts.bref(1) = konsts.cexp(1) = konsts.cexch(1, 2) = -9.0f;
  const std::string lists = rec(1, "2.", "3.", "-0.5") + rec(2, "5.", "6.", "-0.25") +
                            rec(-1, "42.") + rec(1, "1.") + rec(-1) + rec(1, "1.", "0.5") +
                            rec(-1) + rec(2, "1.", "0.25") + rec(-1) + mrec(1, 2, "1.", "0.125") +
                            mrec(2, 2, "1.", "-0.75") + mrec(-1, -1);
  ASSERT_EQ(LoadResult::loaded, load(title("ORDINARY") + counts(2, 1, 0, "7.5") + "A\nB\n" +
                                     lists + title("TWO", " 3") + counts(2, 1, 2, "12.500") +
                                     "A\nB\n" + lists + title("THREE") + counts(2, 2, 3, "1.") +
                                     "A\nB\n" + lists));
  EXPECT_FALSE(net.restart);
  EXPECT_EQ((floats{-9, -9, -9}), (floats{konsts.bref(1), konsts.cexp(1), konsts.cexch(1, 2)}));
  ASSERT_EQ(LoadResult::loaded, load());
  EXPECT_TRUE(net.restart);
  EXPECT_EQ(2, konsts.mtype);
  EXPECT_EQ(12.5f, net.snap_time);
  EXPECT_EQ(3, net.balance_digits);
  EXPECT_EQ((floats{3, 6}), values(konsts.bref, 2));
  EXPECT_EQ((floats{0.5f, 0}), values(konsts.cexp, 2));
  EXPECT_EQ((floats{0, 0.25f}), values(konsts.cresp, 2));
  EXPECT_EQ((floats{0, 0.125f, 0, -0.75f}), (floats{konsts.cexch(1, 1), konsts.cexch(1, 2),
                                                    konsts.cexch(2, 1), konsts.cexch(2, 2)}));
  EXPECT_EQ(42.0f, net.times.longest);
  ASSERT_EQ(LoadResult::loaded, load());
  EXPECT_EQ((floats{-0.5f, -0.75f}), (floats{konsts.cexch(1, 1), konsts.cexch(2, 2)}));
}

const std::string not_balanced =
    "\n INPUT NETWORK IS NOT BALANCED TO YOUR SPECIFICATIONS.\n\n COMPARISON OF THROUGHPUTS\n\n"
    "      INPUTS      OUTPUTS    IMBALANCE\n\n";
std::string times(const char* shortest, int s, const char* longest, int l) {
  return std::string(" SHORTEST THROUGHPUT TIME IS ") + shortest + " IN " + num(s, 2) +
         "\n  LONGEST THROUGHPUT TIME IS " + longest + " IN " + num(l, 2) + "\n\n";
}

class Balance : public testing::Test {
 protected:
  void network(int n) {
    net = {};
    konsts.ncomp = konsts.nliv = n;
    konsts.inputs = {};
    net.balance_tolerance = 0.001f;
  }
  std::string terminal() { return terminal_output([&] { ecodyn::check_balance(net); }); }
  ScratchDir dir;
  ecodyn::Network net;
};

TEST_F(Balance, ReportsAndThroughputTimes) {
  // Balanced; a self-flow enters both totals (time 3 / 6, not 3 / 2); no biomass in 2.
  network(2);
  konsts.inputs(1) = net.respirations(1) = 2.0f;
  net.exchange(1, 1) = 4.0f;
  net.biomass(1) = 3.0f;
  konsts.inputs(2) = net.exports(2) = 1.0f;
  EXPECT_EQ(times(" .0000E+00", 2, " .5000E+00", 1), terminal());
  EXPECT_EQ(0.5f, net.times.longest);
  // Ties go to the lower number: times 4, 0.5, 0.5, 4.
  network(4);
  for (int i = 1; i <= 4; ++i) {
    net.biomass(i) = i == 1 || i == 4 ? 4.0f : 1.0f;
    konsts.inputs(i) = net.respirations(i) = i == 1 || i == 4 ? 1.0f : 2.0f;
  }
  EXPECT_EQ(times(" .5000E+00", 2, " .4000E+01", 1), terminal());
  EXPECT_EQ(4.0f, net.times.longest);
  network(0);
  EXPECT_EQ(times(" .1000E+26", 0, "-.1000E+26", 0), terminal());
  EXPECT_EQ(-1.0e25f, net.times.longest);
}

// balance_digits, the two columns after the title, sets the tolerance; an
// imbalance of the tolerance counts, half of it does not.
TEST_F(Balance, ToleranceFromTheTitleRecord) {
  const struct {
    const char* digits;
    float tolerance;
  } cases[] = {{"  ", 0.001f}, {" 1", 1.0f}, {" 2", 0.1f}, {" 5", 0.0001f}, {"-1", 100.0f}};
  std::string file;
  for (const auto& c : cases) file += std::string(78, 'T') + c.digits + "\n  0\n\n\n\n\n\n";
  write_file("fort.7", file);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.digits);
    ASSERT_EQ(LoadResult::loaded, ecodyn::load_network(net));
    EXPECT_FLOAT_EQ(c.tolerance, net.balance_tolerance);
    const float tolerance = net.balance_tolerance;
    for (const float imbalance : {tolerance, -tolerance / 2}) {
      network(1);
      net.balance_tolerance = tolerance;
      net.biomass(1) = 1.0f;
      (imbalance > 0 ? konsts.inputs(1) : net.exports(1)) = std::abs(imbalance);
      EXPECT_EQ(imbalance > 0, terminal().starts_with(not_balanced)) << imbalance;
    }
  }
  fio::close(fio::network_file);
  fio::close(fio::report);
}

// A compartment without flows stops the program: at once in a network
// otherwise balanced, after the report (and its advice) in one that is not.
TEST_F(Balance, CompartmentWithoutFlowsStops) {
  const std::string stop = " ALL THROUGHPUTS MUST BE POSITIVE.\n";
  network(2);
  konsts.inputs(1) = net.exports(1) = net.biomass(1) = 1.0f;
  EXPECT_ERROR_STOP(ecodyn::check_balance(net), stop);
  konsts.inputs(1) = 3.0f;
  const std::string text = terminal_output([&] { EXPECT_THROW(ecodyn::check_balance(net), fio::Stop); });
  EXPECT_TRUE(text.starts_with(not_balanced + "   1  .300E+01    .100E+01     .200E+01\n"
                                              "   2  .000E+00    .000E+00     .000E+00\n\n\n")) << text;
  EXPECT_TRUE(text.ends_with("UNIT 18.\n\n\n" + stop)) << text;
}

TEST(NetworkWriter, TimesOutsideThreeDecimalsStillReadBack) {
  ScratchDir dir;
  const std::pair<float, const char*> cases[] = {
      {999999.9375f, "999999.938"}, {1000000.0f, "1000000.00"}, {9999999.0f, "9999999.00"},
      {12345678.0f, "12345678.0"},  {123456792.0f, "123456792."}, {1.5e9f, "1.5000E+09"},
      {-99999.9f, "-99999.898"},    {-123456.5f, "-123456.50"}, {-2.5e8f, "-2.500E+08"}};
  for (const auto& [t, field] : cases) {
    ecodyn::write_counts(fio::snapshot_file, 3, 2, 1, t);
    ASSERT_TRUE(fio::close(fio::snapshot_file));
    const std::string record = read_file("fort.18");
    EXPECT_EQ(std::string("  3  2  1") + field + "\n", record) << t;
    write_file("fort.7", record);
    int n = 0, l = 0, m = 0;
    float back = -1;
    EXPECT_EQ(fio::ok, fio::read(fio::network_file, "(3I3,F10.3)", n, l, m, back));
    fio::close(fio::network_file);
    EXPECT_NEAR(t, back, std::abs(t) * 1e-4) << t;
  }
}

}  // namespace
