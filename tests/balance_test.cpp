// The balance check of an ordinary network and its throughput times, as the
// terminal shows them: the report of an unbalanced network with its advice,
// the tolerance that balance_digits selects, ties, and the stop for a
// compartment without throughput.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "fio/fio.h"
#include "model/konsts.h"
#include "network/balance.h"
#include "network/loader.h"
#include "support/scratch.h"

namespace {

using ecodyn::konsts;

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
    konsts.ncomp = konsts.nliv = n;
    konsts.inputs = {};
    net.balance_tolerance = 0.001f;
  }
  // Returns what the balance check writes to the terminal.
  std::string terminal() {
    std::fflush(stdout);
    testing::internal::CaptureStdout();
    ecodyn::check_balance(net);
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
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
  EXPECT_EQ(" SHORTEST THROUGHPUT TIME IS  .0000E+00 IN  2\n"
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

struct ToleranceCase {
  int balance_digits;
  float imbalance;  // inflow minus outflow of the one compartment
  bool reported;
};

void PrintTo(const ToleranceCase& c, std::ostream* os) {
  *os << "balance_digits " << c.balance_digits << ", imbalance " << c.imbalance;
}

class Tolerance : public Balance, public testing::WithParamInterface<ToleranceCase> {};

TEST_P(Tolerance, AnImbalanceAtTheToleranceCounts) {
  const ToleranceCase c = GetParam();
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

INSTANTIATE_TEST_SUITE_P(
    BalanceDigits, Tolerance,
    testing::Values(ToleranceCase{0, 0.001f, true}, ToleranceCase{0, -0.001f, true},
                    ToleranceCase{0, 0.0005f, false}, ToleranceCase{4, 0.001f, true},
                    ToleranceCase{4, -0.0005f, false}, ToleranceCase{5, 0.0005f, true},
                    ToleranceCase{5, 0.00005f, false}, ToleranceCase{2, 0.1f, true},
                    ToleranceCase{2, 0.05f, false}, ToleranceCase{1, 1.0f, true},
                    ToleranceCase{1, -0.5f, false}),
    [](const testing::TestParamInfo<ToleranceCase>& info) {
      return "Digits" + std::to_string(info.param.balance_digits) +
             (info.param.reported ? "AtTolerance" : "HalfTolerance") +
             (info.param.imbalance < 0 ? "Outflow" : "Inflow");
    });

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
  EXPECT_EQ(" SHORTEST THROUGHPUT TIME IS  .5000E+00 IN  2\n"
            "  LONGEST THROUGHPUT TIME IS  .4000E+01 IN  1\n"
            "\n",
            terminal());
  EXPECT_EQ(2, net.times.shortest_in);
  EXPECT_EQ(1, net.times.longest_in);
}

TEST_F(Balance, NoCompartmentsLeaveTheStartingValues) {
  network(0);
  EXPECT_EQ(" SHORTEST THROUGHPUT TIME IS  .1000E+26 IN  0\n"
            "  LONGEST THROUGHPUT TIME IS -.1000E+26 IN  0\n"
            "\n",
            terminal());
  EXPECT_EQ(-1.0e25f, net.times.longest);
  EXPECT_EQ(0, net.times.longest_in);
}

class BalanceDeathTest : public Balance {
 protected:
  // Returns what a balance check that has to stop the program wrote to the
  // terminal, which the dying process sends to a file.
  std::string terminal_at_stop() {
    EXPECT_EXIT(
        {
          if (std::freopen("terminal.txt", "w", stdout) == nullptr) std::abort();
          ecodyn::check_balance(net);
        },
        testing::ExitedWithCode(1), "");
    return ecodyn::test::read_file("terminal.txt");
  }
};

TEST_F(BalanceDeathTest, CompartmentWithoutFlowsStops) {
  network(2);
  konsts.inputs(1) = 1.0f;
  net.exports(1) = 1.0f;
  net.biomass(1) = 1.0f;
  EXPECT_EQ(" ALL THROUGHPUTS MUST BE POSITIVE.\n", terminal_at_stop());
}

TEST_F(BalanceDeathTest, CompartmentWithoutFlowsStopsAfterTheReport) {
  network(2);
  konsts.inputs(1) = 3.0f;
  net.exports(1) = 1.0f;
  net.biomass(1) = 1.0f;
  EXPECT_EQ(not_balanced +
                "   1  .300E+01    .100E+01     .200E+01\n"
                "   2  .000E+00    .000E+00     .000E+00\n" +
                advice + " ALL THROUGHPUTS MUST BE POSITIVE.\n",
            terminal_at_stop());
}

}  // namespace
