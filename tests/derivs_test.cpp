// Model equations: the worked example under each model type, a balanced
// network as an equilibrium, the behaviour of each flow law away from the
// steady state, extinct compartments, and the stop of predator control on a
// biomass that is not positive.
#include <gtest/gtest.h>

#include <cmath>

#include "model/coefficients.h"
#include "model/derivs.h"
#include "model/konsts.h"
#include "support/model_networks.h"
#include "support/scratch.h"
#include "support/terminal.h"

namespace {

using ecodyn::derive_coefficients;
using ecodyn::derivs;
using ecodyn::konsts;
using ecodyn::WorkVector;
using ecodyn::test::two_compartments;

// Returns dydt of the two-compartment example under a model type at (y1, y2).
WorkVector example_rates(int type, float y1, float y2) {
  derive_coefficients(two_compartments(), type);
  WorkVector y, dydt;
  y(1) = y1;
  y(2) = y2;
  derivs(0.0f, y, dydt);
  return dydt;
}

struct Rates {
  int type;
  float d1, d2;
};

const char* type_name(const testing::TestParamInfo<Rates>& p) {
  static const char* const names[] = {"", "PredatorControl", "DonorControl", "LotkaVolterra"};
  return names[p.param.type];
}

class WorkedExample : public testing::TestWithParam<Rates> {};

TEST_P(WorkedExample, RatesAtHalfThePlantBiomassAndAtTheSteadyState) {
  const Rates r = GetParam();
  WorkVector d = example_rates(r.type, 5.0f, 20.0f);
  EXPECT_NEAR(r.d1, d(1), 1e-6);
  EXPECT_NEAR(r.d2, d(2), 1e-6);
  d = example_rates(r.type, 10.0f, 20.0f);
  EXPECT_NEAR(0.0f, d(1), 1e-6);
  EXPECT_NEAR(0.0f, d(2), 1e-6);
}

INSTANTIATE_TEST_SUITE_P(Derivs, WorkedExample,
                         testing::Values(Rates{1, 2.5f, -1.0f}, Rates{2, 3.0f, -1.5f},
                                         Rates{3, 6.5f, -1.0f}),
                         type_name);

class BalancedNetwork : public testing::TestWithParam<int> {};

TEST_P(BalancedNetwork, IsAnEquilibrium) {
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

INSTANTIATE_TEST_SUITE_P(Derivs, BalancedNetwork, testing::Values(1, 2, 3));

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
  WorkVector y, dydt;
  y(1) = -3.0f;  // no sign test under donor control
  y(2) = 7.0f;
  derivs(0.0f, y, dydt);
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
  WorkVector y, dydt;
  y(1) = 5.0f;
  y(2) = 20.0f;
  derivs(0.0f, y, dydt);
  EXPECT_FLOAT_EQ(3.5f + 0.5f - 1.5f, dydt(1));
}

class ExtinctCompartment : public testing::TestWithParam<int> {};

TEST_P(ExtinctCompartment, RestsAtItsResidueAndExchangesNothing) {
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

INSTANTIATE_TEST_SUITE_P(Derivs, ExtinctCompartment, testing::Values(1, 2, 3));

TEST(DerivsDeathTest, PredatorControlStopsOnABiomassNotPositive) {
  ecodyn::test::ScratchDir dir;
  derive_coefficients(two_compartments(), 1);
  WorkVector y, dydt;
  y(1) = 0.0f;  // living
  y(2) = 20.0f;
  EXPECT_ERROR_STOP(derivs(0.0f, y, dydt), " BIOMASS DRIVEN NEGATIVE.\n");
  y(1) = 10.0f;
  y(2) = -1.0f;  // non-living
  EXPECT_ERROR_STOP(derivs(0.0f, y, dydt), " BIOMASS DRIVEN NEGATIVE.\n");
}

}  // namespace
