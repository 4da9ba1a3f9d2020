// The dynamic model on the worked two-compartment example and on balanced
// networks: the coefficients of each model type (what each flow law divides
// a flow by, the self-coefficients of the damped Lotka-Volterra model, when a
// snapshot keeps its coefficients), the rates of the model equations at and
// away from the steady state, extinct compartments, and the stops on a
// biomass that is not positive. Then the network snapshots: exact records of
// the example under each flow law, what is left out, an extinct compartment,
// snapshots appended one after another, the loaded state reproduced, and the
// out-of-bounds stop that leaves no partial description behind.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <limits>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "fio/fio.h"
#include "integrate/xtinct.h"
#include "model/coefficients.h"
#include "model/derivs.h"
#include "model/konsts.h"
#include "model/snapshot.h"
#include "support/model_networks.h"
#include "support/records.h"
#include "support/scratch.h"
#include "support/terminal.h"

namespace {

using ecodyn::derive_coefficients;
using ecodyn::derivs;
using ecodyn::konsts;
using ecodyn::Network;
using ecodyn::snapit;
using ecodyn::Vector;
using ecodyn::WorkVector;
using ecodyn::test::blanks;
using ecodyn::test::read_file;
using ecodyn::test::two_compartments;
using ecodyn::test::values;
using testing::ElementsAre;
using testing::FloatEq;

// Returns dydt at (y1, y2) under the coefficients in konsts.
WorkVector rates_at(float y1, float y2) {
  WorkVector y, dydt;
  y(1) = y1;
  y(2) = y2;
  derivs(0.0f, y, dydt);
  return dydt;
}

// Returns dydt of the two-compartment example under a model type at (y1, y2).
WorkVector example_rates(int type, float y1, float y2) {
  derive_coefficients(two_compartments(), type);
  return rates_at(y1, y2);
}

struct Example {
  int type;
  float cexch21;  // the flow from detritus into the living compartment
  float cexch11;  // the living compartment's diagonal
  float d1, d2;   // the rates at half the plant biomass
};

class WorkedExample : public testing::TestWithParam<Example> {};

TEST_P(WorkedExample, GivesTheTabulatedCoefficients) {
  const Example e = GetParam();
  derive_coefficients(two_compartments(), e.type);
  EXPECT_EQ(e.type, konsts.mtype);
  EXPECT_THAT(values(konsts.bref, 2), ElementsAre(FloatEq(10.0f), FloatEq(20.0f)));
  EXPECT_THAT(values(konsts.cexp, 2), ElementsAre(FloatEq(0.1f), FloatEq(0.1f)));
  EXPECT_THAT(values(konsts.cresp, 2), ElementsAre(FloatEq(0.2f), 0.0f));
  EXPECT_FLOAT_EQ(0.3f, konsts.cexch(1, 2));
  EXPECT_FLOAT_EQ(e.cexch21, konsts.cexch(2, 1));
  EXPECT_FLOAT_EQ(e.cexch11, konsts.cexch(1, 1));
  EXPECT_EQ(0.0f, konsts.cexch(2, 2));
}

TEST_P(WorkedExample, RatesAtHalfThePlantBiomassAndAtTheSteadyState) {
  const Example e = GetParam();
  WorkVector d = example_rates(e.type, 5.0f, 20.0f);
  EXPECT_NEAR(e.d1, d(1), 1e-6);
  EXPECT_NEAR(e.d2, d(2), 1e-6);
  d = example_rates(e.type, 10.0f, 20.0f);
  EXPECT_NEAR(0.0f, d(1), 1e-6);
  EXPECT_NEAR(0.0f, d(2), 1e-6);
}

INSTANTIATE_TEST_SUITE_P(Model, WorkedExample,
                         testing::Values(Example{1, 0.1f, 0.0f, 2.5f, -1.0f},   // 1 / 10
                                         Example{2, 0.05f, 0.0f, 3.0f, -1.5f},  // 1 / 20
                                         // 1 / 200; -4*4/100
                                         Example{3, 0.005f, -0.16f, 6.5f, -1.0f}),
                         ecodyn::test::type_name<Example>);

class EveryModelType : public testing::TestWithParam<int> {};

TEST_P(EveryModelType, BalancedNetworkIsAnEquilibrium) {
  const ecodyn::Network net = ecodyn::test::balanced_network(9, 5);
  derive_coefficients(net, GetParam());
  WorkVector y, dydt;
  for (int i = 1; i <= 9; ++i) y(i) = net.biomass(i);
  derivs(0.0f, y, dydt);
  for (int i = 1; i <= 9; ++i) {
    float throughput = konsts.inputs(i);
    for (int j = 1; j <= 9; ++j) throughput += net.exchange(j, i);
    EXPECT_NEAR(0.0f, dydt(i), 4e-7f * throughput) << "compartment " << i;
  }
}

TEST_P(EveryModelType, ExtinctCompartmentRestsAtItsResidueAndExchangesNothing) {
  const ecodyn::Network net = ecodyn::test::balanced_network(6, 4);
  derive_coefficients(net, GetParam());
  const int k = 3;
  konsts.bref(k) = 1.0e-9f;
  konsts.inputs(k) = 1.0e-10f;
  konsts.cexp(k) = 0.0f;
  konsts.cresp(k) = 0.1f;
  for (int j = 1; j <= 6; ++j) konsts.cexch(k, j) = konsts.cexch(j, k) = 0.0f;
  WorkVector y, at_residue, elsewhere;
  for (int i = 1; i <= 6; ++i) y(i) = net.biomass(i) * 0.75f;
  y(k) = 1.0e-9f;
  derivs(0.0f, y, at_residue);
  EXPECT_NEAR(0.0f, at_residue(k), 1e-17f);
  y(k) = 5.0f;  // no other compartment sees what k holds
  derivs(0.0f, y, elsewhere);
  for (int i = 1; i <= 6; ++i) {
    if (i != k) {
      EXPECT_EQ(at_residue(i), elsewhere(i)) << "compartment " << i;
    }
  }
  EXPECT_FLOAT_EQ(1.0e-10f - 0.5f, elsewhere(k));
}

INSTANTIATE_TEST_SUITE_P(Model, EveryModelType, testing::Values(1, 2, 3));

// What each flow law divides a flow by, and the self-coefficients of the
// damped Lotka-Volterra model, on variations of the example.
TEST(Coefficients, FlowLawsOnVariationsOfTheExample) {
  const float none = std::nanf("");  // not checked
  const struct {
    const char* what;
    int type, nliv;
    float flow11, flow22, respiration1;  // the example changed
    float c11, c12, c21, c22;            // cexch expected (a zero exactly)
  } cases[] = {
      // Detritus counted as living: every flow is recipient controlled.
      {"predator control, 3 / 20, 1 / 10", 1, 2, 0, 0, 2, none, 0.15f, 0.1f, none},
      {"donor control, 3 / 10, 1 / 20, 4 / 20", 2, 2, 0, 4, 2, none, 0.3f, 0.05f, 0.2f},
      // A living self-flow only adds to the supply; a non-living one is
      // donor controlled.
      {"Lotka-Volterra, supply 5 - 2 + 1 + 2: -4*6/100", 3, 1, 2, 4, 2, -0.24f, none, none, 0.2f},
      // The self-coefficient follows the sign of the supply.
      {"Lotka-Volterra, supply 5 - 6 + 1 = 0", 3, 1, 0, 0, 6, 0, none, none, none},
      {"Lotka-Volterra, supply 5 - 8 + 1: -4*(-2)/100", 3, 1, 0, 0, 8, 0.08f, none, none, none},
      // Mass action between living compartments; supply of 2: 0 + 3.
      {"Lotka-Volterra, 3 / (10*20), 1 / (20*10), -4*3/400", 3, 2, 0, 0, 2, none, 0.015f, 0.005f,
       -0.03f},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Network net = two_compartments();
    konsts.nliv = c.nliv;
    net.exchange(1, 1) = c.flow11;
    net.exchange(2, 2) = c.flow22;
    net.respirations(1) = c.respiration1;
    derive_coefficients(net, c.type);
    const float expected[] = {c.c11, c.c12, c.c21, c.c22};
    const float derived[] = {konsts.cexch(1, 1), konsts.cexch(1, 2), konsts.cexch(2, 1),
                             konsts.cexch(2, 2)};
    for (int k = 0; k < 4; ++k) {
      if (expected[k] == 0.0f) {
        EXPECT_EQ(0.0f, derived[k]);
      } else if (!std::isnan(expected[k])) {
        EXPECT_FLOAT_EQ(expected[k], derived[k]) << "coefficient " << k;
      }
    }
  }
}

TEST(Coefficients, OrdinaryNetworkIsAlwaysDerivedAndStaleValuesCleared) {
  const Network net = two_compartments();
  konsts.mtype = 2;  // as the dialogue leaves it for an ordinary network
  konsts.cexch(2, 2) = 9.0f;
  konsts.bref(1) = 99.0f;
  derive_coefficients(net, 2);
  EXPECT_EQ(0.0f, konsts.cexch(2, 2));
  EXPECT_FLOAT_EQ(10.0f, konsts.bref(1));
  EXPECT_FLOAT_EQ(0.05f, konsts.cexch(2, 1));
}

TEST(Coefficients, SnapshotUnderAnotherTypeIsDerivedAroundItsReferenceBiomass) {
  Network net = two_compartments();
  net.restart = true;
  konsts.mtype = 1;
  konsts.bref(1) = 8.0f;
  konsts.bref(2) = 25.0f;
  derive_coefficients(net, 3);
  EXPECT_EQ(3, konsts.mtype);
  EXPECT_EQ((std::vector<float>{8, 25}), values(konsts.bref, 2));
  EXPECT_FLOAT_EQ(0.125f, konsts.cexp(1));      // 1 / 8: losses per reference biomass
  EXPECT_FLOAT_EQ(0.08f, konsts.cexp(2));       // 2 / 25
  EXPECT_FLOAT_EQ(0.25f, konsts.cresp(1));      // 2 / 8
  EXPECT_FLOAT_EQ(0.005f, konsts.cexch(2, 1));  // flows per current biomasses: 1 / (20*10)
  EXPECT_FLOAT_EQ(0.3f, konsts.cexch(1, 2));    // 3 / 10
  EXPECT_FLOAT_EQ(-0.25f, konsts.cexch(1, 1));  // -4*4/64

  net = two_compartments();
  net.restart = true;
  konsts.mtype = 3;
  konsts.bref(1) = 8.0f;
  derive_coefficients(net, 2);
  EXPECT_EQ(8.0f, konsts.bref(1));
  EXPECT_FLOAT_EQ(0.1f, konsts.cexp(1));  // 1 / 10: per current biomass
  EXPECT_FLOAT_EQ(0.05f, konsts.cexch(2, 1));
}

TEST(Derivs, PredatorControlFollowsTheDonorsAvailability) {
  // Flows out of detritus into the plants scale with exp(1 - 20/y2).
  for (const double y2 : {0.02, 10.0, 2.0e6}) {
    const WorkVector d = example_rates(1, 10.0f, static_cast<float>(y2));
    const double avail = std::exp(1.0 - 20.0 / y2);
    const double d1 = 5.0 - 0.3 * 10.0 + 0.1 * 10.0 * avail - 3.0;
    const double d2 = -0.1 * y2 + 3.0 - 0.1 * 10.0 * avail;
    EXPECT_NEAR(d1, d(1), 1e-6 * (5.0 + std::fabs(d1)));
    EXPECT_NEAR(d2, d(2), 1e-6 * std::fabs(d2));
  }
  // Starved donor: nothing flows; plentiful donor: nearly e times the
  // recipient-controlled flow.
  EXPECT_NEAR(-1.0f, example_rates(1, 10.0f, 0.02f)(1), 1e-6);
  EXPECT_NEAR(-1.0 + std::exp(1.0), example_rates(1, 10.0f, 2.0e6f)(1), 1e-4);
}

TEST(Derivs, DonorControlIsLinearAndIgnoresTheDiagonal) {
  derive_coefficients(two_compartments(), 2);
  konsts.cexch(1, 1) = 123.0f;
  konsts.cexch(2, 2) = 0.5f;
  const WorkVector dydt = rates_at(-3.0f, 7.0f);  // no sign test under donor control
  // A self-flow leaves and enters alike; it cancels up to the rounding at
  // its own size (123 * 3 = 369).
  EXPECT_NEAR(5.0f + 0.9f + 0.35f + 0.9f, dydt(1), 4e-5);  // input, losses, in from 2, out to 2
  EXPECT_NEAR(-0.7f - 0.9f - 0.35f, dydt(2), 1e-6);
}

TEST(Derivs, LotkaVolterraSelfTermAndNegativeBiomass) {
  // At y1 = 0 the self-term and every flow of compartment 1 vanish.
  WorkVector d = example_rates(3, 0.0f, 20.0f);
  EXPECT_FLOAT_EQ(5.0f, d(1));
  EXPECT_FLOAT_EQ(-2.0f, d(2));
  // y1 = -5: self-term -0.16*(-5)*(-15) = -12, from 2: 0.005*20*(-5), to 2: 0.3*(-5).
  d = example_rates(3, -5.0f, 20.0f);
  EXPECT_FLOAT_EQ(5.0f + 1.5f - 12.0f - 0.5f + 1.5f, d(1));
  EXPECT_FLOAT_EQ(-2.0f + 0.5f - 1.5f, d(2));
  // With the self-coefficient faded to 0, plain mass action remains.
  konsts.cexch(1, 1) = 0.0f;
  EXPECT_FLOAT_EQ(3.5f + 0.5f - 1.5f, rates_at(5.0f, 20.0f)(1));
}

TEST(ModelDeathTest, CoefficientsStopOnABiomassNotPositive) {
  ecodyn::test::ScratchDir dir;
  const std::tuple<int, float, int> cases[] = {{2, 0.0f, 2}, {1, -1.0f, 1}};  // i, biomass, type
  for (const auto& [i, biomass, type] : cases) {
    Network net = two_compartments();
    net.biomass(i) = biomass;
    EXPECT_ERROR_STOP(derive_coefficients(net, type), " BIOMASSES MUST BE GREATER THAN ZERO.\n");
  }
}

TEST(ModelDeathTest, PredatorControlStopsOnABiomassNotPositive) {
  ecodyn::test::ScratchDir dir;
  derive_coefficients(two_compartments(), 1);
  EXPECT_ERROR_STOP(rates_at(0.0f, 20.0f), " BIOMASS DRIVEN NEGATIVE.\n");   // living
  EXPECT_ERROR_STOP(rates_at(10.0f, -1.0f), " BIOMASS DRIVEN NEGATIVE.\n");  // non-living
}

class Snapshot : public testing::Test {
 protected:
  ~Snapshot() override {
    fio::close(fio::snapshot_file);
    fio::close(fio::report);
  }
  // Derives the example's coefficients under a model type and returns it.
  Network example(int type) {
    Network net = ecodyn::test::two_compartments();
    ecodyn::derive_coefficients(net, type);
    konsts.tmax = 6.25f;
    return net;
  }
  // Writes a snapshot of net at biomasses y and time t.
  void snap(Network& net, const Vector& y, float t) {
    snapit(t, net.names, net.balance_digits, y, net.exports, net.respirations, net.exchange, 75);
  }
  // Returns the snapshot file written so far; the unit stays open, as it
  // does for the whole run.
  std::string file() {
    std::fflush(nullptr);
    return read_file("fort.18");
  }
  ecodyn::test::ScratchDir dir_;
};

using SnapshotDeathTest = Snapshot;

Vector biomasses(float y1, float y2) {
  Vector y;
  y(1) = y1;
  y(2) = y2;
  return y;
}

// Title, counts and name records of the example, as written.
std::string head(int type, const char* time) {
  return "TWO COMPARTMENTS" + blanks(78 - 16) + " 4\n" +    //
         "  2  1  " + std::to_string(type) + time + "\n" +  //
         "PLANTS" + blanks(22) + "\n" +                     //
         "DETRITUS" + blanks(20) + "\n";
}

TEST_F(Snapshot, LotkaVolterraAtTheSteadyState) {
  // The living diagonal carries the self-coefficient in the biomass record
  // and has no matrix record: its flow -0.16*10*10 is negative. The flow
  // from detritus is 0.005*20*10 with 0.005 held as 0.0049999999, which
  // gives 0.99999994 in single precision.
  Network net = example(3);
  snap(net, net.biomass, 2.5f);
  EXPECT_EQ(head(3, "     2.500") +
                "  1  .1000000E+02  .1000000E+02 -.1600000E+00\n"
                "  2  .2000000E+02  .2000000E+02  .0000000E+00\n"
                " -1  .6250000E+01\n"
                "  1  .5000000E+01\n"
                " -1  .0000000E+00\n"
                "  1  .1000000E+01  .1000000E+00\n"
                "  2  .2000000E+01  .1000000E+00\n"
                " -1  .0000000E+00\n"
                "  1  .2000000E+01  .2000000E+00\n"
                " -1  .0000000E+00\n"
                "  1  2  .3000000E+01  .3000000E+00\n"
                "  2  1  .9999999E+00  .5000000E-02\n"
                " -1 -1  .0000000E+00\n",
            file());
  // The program state now holds the current flows.
  EXPECT_FLOAT_EQ(-16.0f, net.exchange(1, 1));
  EXPECT_FLOAT_EQ(1.0f, net.exchange(2, 1));
}

TEST_F(Snapshot, PredatorControlWithTheDonorBelowItsReference) {
  // Detritus at half its reference: its flow into the plants is
  // exp(1 - 20/10) * 0.1 * 10, with exp(-1) = 0.36787944 held in single
  // precision as 0.36787945.
  Network net = example(1);
  snap(net, biomasses(10.0f, 10.0f), 0.0f);
  EXPECT_EQ(head(1, "      .000") +
                "  1  .1000000E+02  .1000000E+02  .0000000E+00\n"
                "  2  .1000000E+02  .2000000E+02  .0000000E+00\n"
                " -1  .6250000E+01\n"
                "  1  .5000000E+01\n"
                " -1  .0000000E+00\n"
                "  1  .1000000E+01  .1000000E+00\n"
                "  2  .1000000E+01  .1000000E+00\n"
                " -1  .0000000E+00\n"
                "  1  .2000000E+01  .2000000E+00\n"
                " -1  .0000000E+00\n"
                "  1  2  .3000000E+01  .3000000E+00\n"
                "  2  1  .3678795E+00  .1000000E+00\n"
                " -1 -1  .0000000E+00\n",
            file());
}

TEST_F(Snapshot, BiomassNotPositiveIsLeftOutUnderDonorControlAndLotkaVolterra) {
  for (const int type : {2, 3}) {
    Network net = example(type);
    snap(net, biomasses(10.0f, type == 2 ? 0.0f : -4.0f), 1.0f);
  }
  const std::string text = file();
  // Donor control, detritus empty: no biomass, export or outflow records.
  EXPECT_NE(std::string::npos, text.find("  1  .1000000E+02  .1000000E+02  .0000000E+00\n"
                                         " -1  .6250000E+01\n"
                                         "  1  .5000000E+01\n"
                                         " -1  .0000000E+00\n"
                                         "  1  .1000000E+01  .1000000E+00\n"
                                         " -1  .0000000E+00\n"
                                         "  1  .2000000E+01  .2000000E+00\n"
                                         " -1  .0000000E+00\n"
                                         "  1  2  .3000000E+01  .3000000E+00\n"
                                         " -1 -1  .0000000E+00\n"))
      << text;
  // Lotka-Volterra, detritus negative: likewise unlisted.
  EXPECT_NE(std::string::npos, text.find("  1  .1000000E+02  .1000000E+02 -.1600000E+00\n"
                                         " -1  .6250000E+01\n"))
      << text;
}

TEST_F(Snapshot, ExtinctCompartment) {
  Network net = example(2);
  ecodyn::WorkVector y;
  y(1) = 10.0f;
  y(2) = 0.0f;
  ecodyn::test::terminal_output([&] { ecodyn::xtinct(4.0f, y, 2); });
  snap(net, biomasses(y(1), y(2)), 4.0f);
  EXPECT_EQ(head(2, "     4.000") +
                "  1  .1000000E+02  .1000000E+02  .0000000E+00\n"
                "  2  .1000000E-08  .1000000E-08  .0000000E+00\n"
                " -1  .6250000E+01\n"
                "  1  .5000000E+01\n"
                "  2  .1000000E-09\n"
                " -1  .0000000E+00\n"
                "  1  .1000000E+01  .1000000E+00\n"
                " -1  .0000000E+00\n"
                "  1  .2000000E+01  .2000000E+00\n"
                "  2  .1000000E-09  .1000000E+00\n"
                " -1  .0000000E+00\n"
                " -1 -1  .0000000E+00\n",
            file());
}

TEST_F(Snapshot, SnapshotsFollowOneAnother) {
  Network net = example(2);
  snap(net, net.biomass, 1.0f);
  const std::string first = file();
  snap(net, biomasses(12.0f, 18.0f), 2.0f);
  const std::string both = file();
  ASSERT_EQ(0u, both.find(first));
  const std::string second = both.substr(first.size());
  EXPECT_EQ(0u, second.find(head(2, "     2.000") + "  1  .1200000E+02  .1000000E+02")) << second;
}

// Returns the values of every list record (index > 0) of one snapshot, in
// the order written, keyed by list: 0 biomass ... 4 matrix.
struct Record {
  int list, i, j;
  std::vector<float> values;
};

std::vector<Record> list_records(const std::string& text, int ncomp) {
  std::istringstream in(text);
  std::string line;
  for (int k = 0; k < 2 + ncomp; ++k) std::getline(in, line);
  std::vector<Record> records;
  int list = 0;
  while (std::getline(in, line)) {
    Record r{list, std::atoi(line.substr(0, 3).c_str()), 0, {}};
    std::size_t at = 3;
    if (list == 4) {
      r.j = std::atoi(line.substr(3, 3).c_str());
      at = 6;
    }
    for (; at < line.size(); at += 14) {
      r.values.push_back(std::strtof(line.substr(at, 14).c_str(), nullptr));
    }
    if (r.i <= 0) {
      ++list;
      continue;
    }
    records.push_back(r);
  }
  return records;
}

class FirstSnapshot : public Snapshot, public testing::WithParamInterface<int> {};

TEST_P(FirstSnapshot, OfAnUnperturbedBalancedNetworkReproducesTheLoadedValues) {
  Network net = ecodyn::test::balanced_network(6, 4);
  const Network loaded = net;
  ecodyn::derive_coefficients(net, GetParam());
  snap(net, net.biomass, 0.0f);
  const auto near = [](float expected, float actual) {
    EXPECT_NEAR(expected, actual, 1.0e-6f * expected);
  };
  int count[5] = {};
  for (const Record& r : list_records(file(), 6)) {
    ++count[r.list];
    switch (r.list) {
      case 0:
        near(loaded.biomass(r.i), r.values[0]);
        near(loaded.biomass(r.i), r.values[1]);  // reference biomass
        break;
      case 1:
        near(konsts.inputs(r.i), r.values[0]);
        break;
      case 2:
        near(loaded.exports(r.i), r.values[0]);
        break;
      case 3:
        near(loaded.respirations(r.i), r.values[0]);
        break;
      case 4:
        near(loaded.exchange(r.i, r.j), r.values[0]);
        break;
    }
  }
  // Every positive flow is listed, except a living diagonal under
  // Lotka-Volterra, which is the negative self-term.
  int flows = 0;
  for (int i = 1; i <= 6; ++i) {
    for (int j = 1; j <= 6; ++j) {
      const bool self_term = GetParam() == 3 && i == j && i <= 4;
      if (loaded.exchange(i, j) > 0 && !self_term) ++flows;
    }
  }
  EXPECT_EQ((std::vector<int>{6, 6, 6, 6, flows}), std::vector<int>(count, count + 5));
}

INSTANTIATE_TEST_SUITE_P(Snapshot, FirstSnapshot, testing::Values(1, 2, 3));

TEST_F(SnapshotDeathTest, PredatorControlStopsBeforeWritingAnythingOfAnOutOfBoundsSnapshot) {
  Network net = example(1);
  snap(net, net.biomass, 0.0f);
  const std::string before = file();
  EXPECT_ERROR_STOP(snap(net, biomasses(10.0f, 0.0f), 1.0f), " BIOMASS  2 IS OUT OF BOUNDS.\n");
  EXPECT_EQ(before, read_file("fort.18"));
  EXPECT_ERROR_STOP(snap(net, biomasses(-1.0f, 0.0f), 1.0f), " BIOMASS  1 IS OUT OF BOUNDS.\n");
  EXPECT_EQ(before, read_file("fort.18"));
}

// Every value a snapshot lists must read back as a number: an infinite or
// NaN value stops the run before the snapshot's first record.
TEST_F(SnapshotDeathTest, AValueThatWouldNotReadBackStopsBeforeTheSnapshotIsBegun) {
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const std::pair<std::function<void()>, const char*> cases[] = {
      {[&] { konsts.bref(2) = inf; }, " SNAPSHOT VALUE FOR BIOMASS  2 IS OUT OF RANGE.\n"},
      {[&] { konsts.tmax = nan; },
       " SNAPSHOT VALUE FOR THE LONGEST THROUGHPUT TIME IS OUT OF RANGE.\n"},
      {[&] { konsts.inputs(1) = inf; }, " SNAPSHOT VALUE FOR INPUT  1 IS OUT OF RANGE.\n"},
      {[&] { konsts.cexp(2) = 1.0e38f; },  // times a biomass of 20
       " SNAPSHOT VALUE FOR EXPORT  2 IS OUT OF RANGE.\n"},
      {[&] { konsts.cresp(1) = nan; }, " SNAPSHOT VALUE FOR RESPIRATION  1 IS OUT OF RANGE.\n"},
      {[&] { konsts.cexch(2, 1) = 1.0e38f; },
       " SNAPSHOT VALUE FOR THE FLOW FROM  2 TO  1 IS OUT OF RANGE.\n"},
  };
  for (const auto& [spoil, message] : cases) {
    SCOPED_TRACE(message);
    Network net = example(2);
    snap(net, net.biomass, 0.0f);
    const std::string before = file();
    spoil();
    EXPECT_ERROR_STOP(snap(net, net.biomass, 1.0f), message);
    EXPECT_EQ(before, file());
  }
}

}  // namespace
