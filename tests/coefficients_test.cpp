// Coefficient derivation: the worked two-compartment example under each
// model type, what each type divides a flow by, the self-coefficients of the
// damped Lotka-Volterra model, when a snapshot keeps its coefficients, and
// the stop on a biomass that is not positive.
#include <gtest/gtest.h>

#include "model/coefficients.h"
#include "model/konsts.h"
#include "support/model_networks.h"
#include "support/scratch.h"
#include "support/terminal.h"

namespace {

using ecodyn::derive_coefficients;
using ecodyn::konsts;
using ecodyn::Network;
using ecodyn::test::two_compartments;

struct Example {
  int type;
  float cexch21;  // the flow from detritus into the living compartment
  float cexch11;  // the living compartment's diagonal
};

const char* type_name(const testing::TestParamInfo<Example>& p) {
  static const char* const names[] = {"", "PredatorControl", "DonorControl", "LotkaVolterra"};
  return names[p.param.type];
}

class WorkedExample : public testing::TestWithParam<Example> {};

TEST_P(WorkedExample, GivesTheTabulatedCoefficients) {
  const Example e = GetParam();
  const Network net = two_compartments();
  derive_coefficients(net, e.type);
  EXPECT_EQ(e.type, konsts.mtype);
  EXPECT_FLOAT_EQ(10.0f, konsts.bref(1));
  EXPECT_FLOAT_EQ(20.0f, konsts.bref(2));
  EXPECT_FLOAT_EQ(0.1f, konsts.cexp(1));
  EXPECT_FLOAT_EQ(0.1f, konsts.cexp(2));
  EXPECT_FLOAT_EQ(0.2f, konsts.cresp(1));
  EXPECT_EQ(0.0f, konsts.cresp(2));
  EXPECT_FLOAT_EQ(0.3f, konsts.cexch(1, 2));
  EXPECT_FLOAT_EQ(e.cexch21, konsts.cexch(2, 1));
  EXPECT_FLOAT_EQ(e.cexch11, konsts.cexch(1, 1));
  EXPECT_EQ(0.0f, konsts.cexch(2, 2));
}

INSTANTIATE_TEST_SUITE_P(Coefficients, WorkedExample,
                         testing::Values(Example{1, 0.1f, 0.0f},     // 1 / 10
                                         Example{2, 0.05f, 0.0f},    // 1 / 20
                                         Example{3, 0.005f, -0.16f}),  // 1 / 200; -4*4/100
                         type_name);

TEST(Coefficients, PredatorControlDividesByALivingRecipient) {
  Network net = two_compartments();
  konsts.nliv = 2;  // detritus counted as living: every flow is recipient controlled
  derive_coefficients(net, 1);
  EXPECT_FLOAT_EQ(0.15f, konsts.cexch(1, 2));  // 3 / 20
  EXPECT_FLOAT_EQ(0.1f, konsts.cexch(2, 1));   // 1 / 10
}

TEST(Coefficients, DonorControlDividesEveryFlowByItsDonor) {
  Network net = two_compartments();
  konsts.nliv = 2;
  net.exchange(2, 2) = 4.0f;
  derive_coefficients(net, 2);
  EXPECT_FLOAT_EQ(0.3f, konsts.cexch(1, 2));   // 3 / 10
  EXPECT_FLOAT_EQ(0.05f, konsts.cexch(2, 1));  // 1 / 20
  EXPECT_FLOAT_EQ(0.2f, konsts.cexch(2, 2));   // 4 / 20
}

TEST(Coefficients, LotkaVolterraDiagonals) {
  Network net = two_compartments();
  net.exchange(1, 1) = 2.0f;  // a living self-flow only adds to the supply
  net.exchange(2, 2) = 4.0f;  // a non-living one is donor controlled
  derive_coefficients(net, 3);
  EXPECT_FLOAT_EQ(-0.24f, konsts.cexch(1, 1));  // supply 5 - 2 + 1 + 2 = 6; -4*6/100
  EXPECT_FLOAT_EQ(0.2f, konsts.cexch(2, 2));    // 4 / 20
}

TEST(Coefficients, LotkaVolterraSelfCoefficientFollowsTheSignOfTheSupply) {
  Network net = two_compartments();
  net.respirations(1) = 6.0f;  // supply 5 - 6 + 1 = 0
  derive_coefficients(net, 3);
  EXPECT_EQ(0.0f, konsts.cexch(1, 1));
  net = two_compartments();
  net.respirations(1) = 8.0f;  // supply 5 - 8 + 1 = -2
  derive_coefficients(net, 3);
  EXPECT_FLOAT_EQ(0.08f, konsts.cexch(1, 1));  // -4*(-2)/100
}

TEST(Coefficients, LotkaVolterraMassActionBetweenLivingCompartments) {
  Network net = two_compartments();
  konsts.nliv = 2;
  derive_coefficients(net, 3);
  EXPECT_FLOAT_EQ(0.015f, konsts.cexch(1, 2));  // 3 / (10*20)
  EXPECT_FLOAT_EQ(0.005f, konsts.cexch(2, 1));  // 1 / (20*10)
  EXPECT_FLOAT_EQ(-0.03f, konsts.cexch(2, 2));  // supply 0 + 3 = 3; -4*3/400
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

TEST(Coefficients, SnapshotUnderItsOwnTypeKeepsWhatItCarries) {
  Network net = two_compartments();
  net.restart = true;
  net.biomass(2) = 0.0f;  // not checked: nothing is derived
  konsts.mtype = 3;
  konsts.bref(1) = 8.0f;
  konsts.cexp(1) = 0.7f;
  konsts.cexch(1, 1) = -0.5f;
  derive_coefficients(net, 3);
  EXPECT_EQ(3, konsts.mtype);
  EXPECT_EQ(8.0f, konsts.bref(1));
  EXPECT_EQ(0.7f, konsts.cexp(1));
  EXPECT_EQ(-0.5f, konsts.cexch(1, 1));
  EXPECT_EQ(0.0f, konsts.cexch(1, 2));
}

TEST(Coefficients, SnapshotUnderAnotherTypeIsDerivedAroundItsReferenceBiomass) {
  Network net = two_compartments();
  net.restart = true;
  konsts.mtype = 1;
  konsts.bref(1) = 8.0f;
  konsts.bref(2) = 25.0f;
  derive_coefficients(net, 3);
  EXPECT_EQ(3, konsts.mtype);
  EXPECT_EQ(8.0f, konsts.bref(1));
  EXPECT_EQ(25.0f, konsts.bref(2));
  EXPECT_FLOAT_EQ(0.125f, konsts.cexp(1));   // 1 / 8: losses per reference biomass
  EXPECT_FLOAT_EQ(0.08f, konsts.cexp(2));    // 2 / 25
  EXPECT_FLOAT_EQ(0.25f, konsts.cresp(1));   // 2 / 8
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

TEST(CoefficientsDeathTest, BiomassNotPositiveStops) {
  ecodyn::test::ScratchDir dir;
  Network net = two_compartments();
  net.biomass(2) = 0.0f;
  EXPECT_ERROR_STOP(derive_coefficients(net, 2), " BIOMASSES MUST BE GREATER THAN ZERO.\n");
  net = two_compartments();
  net.biomass(1) = -1.0f;
  EXPECT_ERROR_STOP(derive_coefficients(net, 1), " BIOMASSES MUST BE GREATER THAN ZERO.\n");
}

}  // namespace
