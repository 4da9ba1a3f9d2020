// The integration driver and extinction: closed-form relaxation over many
// print intervals, a balanced network that stays put, short intervals and
// large times, the extinction threshold with its notices, and the stops on
// too many or too small steps.
#include <gtest/gtest.h>

#include <cmath>

#include "fio/fio.h"
#include "integrate/runge.h"
#include "integrate/xtinct.h"
#include "model/coefficients.h"
#include "model/derivs.h"
#include "model/konsts.h"
#include "support/model_networks.h"
#include "support/scratch.h"
#include "support/terminal.h"

namespace {

using ecodyn::konsts;
using ecodyn::runge;
using ecodyn::Vector;
using ecodyn::test::read_file;

// The settings of the simulation loop.
constexpr float tolerance = 1.0e-5f;
constexpr float first_step = 0.001f;
constexpr float min_step = 1.0e-5f;

// Runs in a scratch directory with the report file closed afterwards.
class Runge : public testing::Test {
 protected:
  ~Runge() override { fio::close(fio::report); }
  // Returns the report file's content so far.
  std::string report() {
    fio::close(fio::report);
    return read_file("fort.8");
  }
  ecodyn::test::ScratchDir dir_;
};

using RungeDeathTest = Runge;

// One compartment with biomass 10, input 5, export 2 and respiration 3,
// derived under linear donor control: dy/dt = 5 - 0.5*y, relaxing towards 10
// as y(t) = 10 + (y0 - 10)*exp(-t/2).
void relaxation() {
  ecodyn::test::clear_konsts();
  konsts.ncomp = 1;
  konsts.nliv = 1;
  konsts.inputs(1) = 5.0f;
  ecodyn::Network net;
  net.biomass(1) = 10.0f;
  net.exports(1) = 2.0f;
  net.respirations(1) = 3.0f;
  ecodyn::derive_coefficients(net, 2);
}

double relaxed(double y0, double t) { return 10.0 + (y0 - 10.0) * std::exp(-0.5 * t); }

// Compartments whose rates are all zero (every coefficient 0), so each
// biomass stays exactly where it is put.
void still_compartments(int n, int nliv) {
  ecodyn::test::clear_konsts();
  konsts.ncomp = n;
  konsts.nliv = nliv;
  konsts.mtype = 2;
}

TEST_F(Runge, RelaxationAgreesWithTheExactSolution) {
  relaxation();
  Vector b;
  b(1) = 30.0f;
  float t_from = 0.0f, t_to = 0.5f;
  for (int row = 1; row <= 60; ++row) {
    runge(b, 1, t_from, t_to, tolerance, first_step, min_step);
    const double exact = relaxed(30.0, t_to);
    ASSERT_NEAR(exact, b(1), 1.0e-6 * exact) << "t = " << t_to;
    t_from = t_to;
    t_to = t_from + 0.5f;
  }
}

class BalancedNetwork : public testing::TestWithParam<int> {
 protected:
  ecodyn::test::ScratchDir dir_;
};

TEST_P(BalancedNetwork, StaysPutOverManyIntervals) {
  const ecodyn::Network net = ecodyn::test::balanced_network(9, 5);
  ecodyn::derive_coefficients(net, GetParam());
  Vector b = net.biomass;
  float t_from = 0.0f;
  for (int row = 1; row <= 50; ++row) {
    runge(b, 9, t_from, t_from + 1.0f, tolerance, first_step, min_step);
    t_from = t_from + 1.0f;
  }
  for (int i = 1; i <= 9; ++i) EXPECT_NEAR(net.biomass(i), b(i), 1.0e-5f * net.biomass(i));
}

INSTANTIATE_TEST_SUITE_P(Runge, BalancedNetwork, testing::Values(1, 2, 3));

TEST_F(Runge, IntervalShorterThanTheFirstStep) {
  relaxation();
  Vector b;
  b(1) = 30.0f;
  runge(b, 1, 2.0f, 2.0005f, tolerance, first_step, min_step);
  EXPECT_NEAR(relaxed(30.0, 2.0005 - 2.0), b(1), 2e-6);
}

TEST_F(Runge, LargeTimesAreIntegratedInWholeClockSteps) {
  // From 32768 on, the first step of 0.001 no longer changes a
  // single-precision time; the driver steps one tick of the clock instead
  // (1/256 at 40000). Under a constant rate every later step is a multiple
  // of that tick, so the clock and the integrated time agree exactly.
  still_compartments(1, 1);
  konsts.inputs(1) = 2.0f;
  Vector b;
  b(1) = 30.0f;
  runge(b, 1, 40000.0f, 40001.0f, tolerance, first_step, min_step);
  EXPECT_EQ(32.0f, b(1));
  runge(b, 1, 40001.0f, 40000.0f, tolerance, first_step, min_step);  // backwards
  EXPECT_EQ(30.0f, b(1));
}

TEST_F(Runge, LargeTimesKeepTheAccuracyTheClockAllows) {
  // Each step's end time is rounded to the clock, at any time; at 40000 the
  // tick is 1/256 and a few steps per interval leave the clock a few
  // thousandths of a time unit away from the time integrated.
  relaxation();
  Vector b;
  b(1) = 30.0f;
  runge(b, 1, 40000.0f, 40001.0f, tolerance, first_step, min_step);
  EXPECT_NEAR(relaxed(30.0, 1.0), b(1), 1.0e-3 * b(1));

  b(1) = 30.0f;
  float t_from = 32766.0f;  // across 32768
  for (int row = 1; row <= 4; ++row) {
    runge(b, 1, t_from, t_from + 1.0f, tolerance, first_step, min_step);
    t_from = t_from + 1.0f;
  }
  EXPECT_NEAR(relaxed(30.0, 4.0), b(1), 1.0e-3 * b(1));
}

TEST_F(RungeDeathTest, EmptyIntervalStops) {
  relaxation();
  Vector b;
  b(1) = 30.0f;
  EXPECT_ERROR_STOP(runge(b, 1, 1.0f, 1.0f, tolerance, first_step, min_step),
                    " STEPSIZE NOT SIGNIFICANT IN RKQC.\n\n");
  const float t = 40000.0f;
  ASSERT_EQ(t, t + 0.001f);  // a print interval too small for the clock
  EXPECT_ERROR_STOP(runge(b, 1, t, t + 0.001f, tolerance, first_step, min_step),
                    " STEPSIZE NOT SIGNIFICANT IN RKQC.\n\n");
}

TEST_F(Runge, BiomassBelowTheThresholdGoesExtinct) {
  still_compartments(3, 3);
  Vector b;
  b(1) = 1.0e-10f;                          // at the threshold: not extinct
  b(2) = std::nextafter(1.0e-10f, 0.0f);  // just below it
  b(3) = 4.0f;
  const std::string terminal = ecodyn::test::terminal_output(
      [&] { runge(b, 3, 0.0f, 1.0f, tolerance, first_step, min_step); });
  const char* notice = " SPECIES  2 WENT EXTINCT AT T =       .001\n";
  EXPECT_EQ(notice, terminal);
  EXPECT_EQ(notice, report());
  EXPECT_EQ(1.0e-10f, b(1));
  EXPECT_NEAR(1.0e-9f, b(2), 1e-16f);
  EXPECT_EQ(4.0f, b(3));
  EXPECT_EQ(1.0e-9f, konsts.bref(2));
  EXPECT_EQ(1.0e-10f, konsts.inputs(2));
  EXPECT_EQ(0.0f, konsts.cexp(2));
  EXPECT_EQ(0.1f, konsts.cresp(2));
}

TEST_F(Runge, TwoExtinctionsInOneStepInIncreasingOrder) {
  still_compartments(4, 2);  // 3 and 4 non-living: the notice still says SPECIES
  Vector b;
  b(1) = 5.0f;
  b(2) = 2.0f;
  b(3) = -2.0f;  // already negative: below the threshold as well
  b(4) = 5.0e-11f;
  const std::string terminal = ecodyn::test::terminal_output(
      [&] { runge(b, 4, 3.0f, 5.0f, tolerance, first_step, min_step); });
  const char* notices =
      " SPECIES  3 WENT EXTINCT AT T =      3.001\n"
      " SPECIES  4 WENT EXTINCT AT T =      3.001\n";
  EXPECT_EQ(notices, terminal);
  EXPECT_EQ(notices, report());
}

TEST_F(Runge, ExtinctCompartmentRestsDisconnectedAndIsReportedOnce) {
  // Donor control between two compartments: 1 feeds 2 and 2 decays fast
  // enough to fall below the threshold within the first interval.
  ecodyn::test::clear_konsts();
  konsts.ncomp = 2;
  konsts.nliv = 2;
  konsts.mtype = 2;
  konsts.inputs(1) = 1.0f;
  konsts.cexp(1) = 0.1f;
  konsts.cexp(2) = 40.0f;
  konsts.cexch(2, 1) = 0.5f;  // 2 feeds 1
  Vector b;
  b(1) = 10.0f;
  b(2) = 1.0f;
  const std::string text = ecodyn::test::terminal_output([&] {
    float t_from = 0.0f;
    for (int row = 1; row <= 10; ++row) {
      runge(b, 2, t_from, t_from + 1.0f, tolerance, first_step, min_step);
      t_from = t_from + 1.0f;
    }
  });
  EXPECT_EQ(0u, text.find(" SPECIES  2 WENT EXTINCT AT T = ")) << text;
  EXPECT_EQ(std::string::npos, text.find("SPECIES", 2)) << text;
  EXPECT_NEAR(1.0e-9f, b(2), 1e-15f);
  for (int j = 1; j <= 2; ++j) {
    EXPECT_EQ(0.0f, konsts.cexch(2, j));
    EXPECT_EQ(0.0f, konsts.cexch(j, 2));
  }
  // Compartment 1 now relaxes alone, dy/dt = 1 - 0.1*y, towards 10.
  ecodyn::WorkVector y, dydt;
  y(1) = b(1);
  y(2) = b(2);
  ecodyn::derivs(0.0f, y, dydt);
  EXPECT_FLOAT_EQ(1.0f - 0.1f * b(1), dydt(1));
}

TEST_F(Runge, NoExtinctionAfterTheStepThatEndsTheInterval) {
  still_compartments(1, 1);
  Vector b;
  b(1) = 5.0e-11f;
  EXPECT_EQ("", ecodyn::test::terminal_output(
                    [&] { runge(b, 1, 0.0f, 0.0005f, tolerance, first_step, min_step); }));
  EXPECT_EQ(5.0e-11f, b(1));
  EXPECT_EQ(" SPECIES  1 WENT EXTINCT AT T =      1.001\n",
            ecodyn::test::terminal_output(
                [&] { runge(b, 1, 1.0f, 2.0f, tolerance, first_step, min_step); }));
}

// A compartment relaxing at rate k towards 1: explicit steps stay stable
// only below about 2.8/k.
void stiff(float k) {
  ecodyn::test::clear_konsts();
  konsts.ncomp = 1;
  konsts.nliv = 1;
  konsts.mtype = 2;
  konsts.inputs(1) = k;
  konsts.cexp(1) = k;
}

TEST_F(RungeDeathTest, TooManyStepsStop) {
  // An oscillation of angular frequency 100 around (10, 10), built from
  // donor-control terms with negative coefficients: dy1/dt = 1000 - 100*y2,
  // dy2/dt = 100*y1 - 1000. Over 100 time units it turns 10000 radians, far
  // more than 10000 steps of the accuracy asked for.
  ecodyn::test::clear_konsts();
  konsts.ncomp = 2;
  konsts.nliv = 2;
  konsts.mtype = 2;
  konsts.inputs(1) = 1000.0f;
  konsts.inputs(2) = -1000.0f;
  konsts.cexp(1) = -100.0f;
  konsts.cexp(2) = 100.0f;
  konsts.cexch(1, 2) = 100.0f;
  konsts.cexch(2, 1) = -100.0f;
  Vector b;
  b(1) = 11.0f;
  b(2) = 10.0f;
  EXPECT_ERROR_STOP(runge(b, 2, 0.0f, 100.0f, tolerance, first_step, min_step),
                    " MAXIMUM NUMBER OF STEPS EXCEEDED. MAX =   10000\n\n");
}

TEST_F(RungeDeathTest, StepBelowTheMinimumStops) {
  stiff(1.0e6f);  // stable steps near 3e-6, below the minimum of 1e-5
  Vector b;
  b(1) = 2.0f;
  EXPECT_ERROR_STOP(runge(b, 1, 0.0f, 1.0f, tolerance, first_step, min_step),
                    " STEPSIZE SMALLER THAN MINIMUM.\n\n");
}

TEST_F(Runge, StepThatEndsTheIntervalIsExemptFromTheMinimum) {
  stiff(1.0e6f);
  Vector b;
  b(1) = 2.0f;
  runge(b, 1, 0.0f, 1.0e-7f, tolerance, first_step, min_step);  // one step of 1e-7
  EXPECT_NEAR(1.0 + std::exp(-0.1), b(1), 1e-5);
}

}  // namespace
