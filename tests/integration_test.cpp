// The Runge-Kutta steps and the integration driver. On one compartment with
// dy/dt = input - k*y, whose steps and solutions are known in closed form:
// rk4 against the fourth-order Taylor polynomial, rkqc at the edges of its
// acceptance and growth rules, after rejections, and its stops; relaxation
// over many print intervals, short intervals and large times. Then a
// balanced network that stays put, the extinction threshold with its
// notices, and the stops on too many or too small steps.
#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <limits>

#include "fio/fio.h"
#include "integrate/rkqc.h"
#include "integrate/runge.h"
#include "model/coefficients.h"
#include "model/derivs.h"
#include "model/konsts.h"
#include "support/model_networks.h"
#include "support/scratch.h"
#include "support/terminal.h"

namespace {

using ecodyn::derivs;
using ecodyn::konsts;
using ecodyn::rk4;
using ecodyn::rkqc;
using ecodyn::runge;
using ecodyn::Vector;
using ecodyn::WorkVector;
using ecodyn::test::donor_control;
using ecodyn::test::read_file;

// One compartment under donor control: dy/dt = input - k*y.
void relaxation(float input, float k) {
  donor_control(1, 1);
  konsts.inputs(1) = input;
  konsts.cexp(1) = k;
}

WorkVector state(float y1) {
  WorkVector y;
  y(1) = y1;
  return y;
}

WorkVector rates(const WorkVector& y) {
  WorkVector d;
  derivs(0.0f, y, d);
  return d;
}

// Returns two half steps minus one full step of rk4 from y over h: the
// difference whose size, relative to the scale, rkqc judges.
float doubling_difference(const WorkVector& y, float h) {
  WorkVector half, twice, full;
  rk4(derivs, y, rates(y), 1, 0.0f, h * 0.5f, half);
  rk4(derivs, half, rates(half), 1, h * 0.5f, h * 0.5f, twice);
  rk4(derivs, y, rates(y), 1, 0.0f, h, full);
  return twice(1) - full(1);
}

TEST(Rk4, ConstantRateIsExact) {
  relaxation(2.0f, 0.0f);
  const WorkVector y = state(3.0f);
  WorkVector out;
  rk4(derivs, y, rates(y), 1, 0.0f, 0.25f, out);
  EXPECT_EQ(3.5f, out(1));
  EXPECT_EQ(3.0f, y(1));
}

TEST(Rk4, LinearDecayFollowsTheTaylorPolynomial) {
  relaxation(0.0f, 1.0f);
  for (const float h : {0.5f, 0.1f, -0.3f}) {
    const WorkVector y = state(2.0f);
    WorkVector out;
    rk4(derivs, y, rates(y), 1, 7.0f, h, out);
    const double z = -static_cast<double>(h);
    const double expected = 2.0 * (1 + z + z * z / 2 + z * z * z / 6 + z * z * z * z / 24);
    EXPECT_NEAR(expected, out(1), 4e-7 * expected) << "h = " << h;
  }
}

// What one rkqc step left: y, the time, the step done and the next to try.
struct Step {
  float y, t, h_did, h_next;
};

// One rkqc step from y0 at t0, tried over h, with the tolerance and the scale.
Step step(float y0, float t0, float h, float tolerance, float scale) {
  WorkVector y = state(y0), dydt = rates(y), s = state(scale);
  Step r{0.0f, t0, 0.0f, 0.0f};
  rkqc(derivs, y, dydt, 1, r.t, h, tolerance, s, r.h_did, r.h_next);
  r.y = y(1);
  return r;
}

TEST(Rkqc, RatesThatDoNotChangeWithTheStateAreAcceptedAsTried) {
  relaxation(0.0f, 0.0f);  // zero rates
  Step s = step(3.0f, 1.0f, 0.25f, 1.0e-5f, 1.0f);
  EXPECT_EQ(3.0f, s.y);
  EXPECT_EQ(1.25f, s.t);
  EXPECT_EQ(0.25f, s.h_did);
  EXPECT_EQ(1.0f, s.h_next);
  relaxation(2.0f, 0.0f);  // a constant rate
  s = step(3.0f, 0.0f, 0.25f, 1.0e-5f, 3.0f);
  EXPECT_FLOAT_EQ(3.5f, s.y);
  EXPECT_EQ(0.25f, s.h_did);
  EXPECT_EQ(1.0f, s.h_next);
}

TEST(Rkqc, ErrorOfExactlyTheToleranceIsAccepted) {
  relaxation(0.0f, 1.0f);
  const float d = std::fabs(doubling_difference(state(1.0f), 0.5f));
  ASSERT_NE(0.0f, d);
  Step s = step(1.0f, 0.0f, 0.5f, 1.0f, d);  // scaled error d/|d| = 1
  EXPECT_EQ(0.5f, s.h_did);
  EXPECT_EQ(0.5f, s.t);
  EXPECT_NEAR(std::exp(-0.5), s.y, 1e-5);
  // One unit in the last place more error and the step is rejected: shrunk
  // by 0.9 times a power of the error that rounds to 1 here.
  s = step(1.0f, 0.0f, 0.5f, 1.0f, std::nextafter(d, 0.0f));
  EXPECT_EQ(0.5f * 0.9f, s.h_did);
}

TEST(Rkqc, ErrorOfExactlyErrconGivesFourTimesTheStep) {
  relaxation(0.0f, 1.0f);
  const float d = std::fabs(doubling_difference(state(1.0f), 0.5f));
  const float errcon = 6.0e-4f;
  const float tolerance = 1.0f / errcon;
  ASSERT_EQ(errcon, 1.0f / tolerance);  // scaled error 1 / tolerance is exactly errcon
  Step s = step(1.0f, 0.0f, 0.5f, tolerance, d);
  EXPECT_EQ(0.5f, s.h_did);
  EXPECT_EQ(2.0f, s.h_next);
  // Just above errcon the growth formula gives 0.9 * errcon^-0.2, about 3.97.
  s = step(1.0f, 0.5f, 0.5f, tolerance, std::nextafter(d, 0.0f));
  EXPECT_EQ(0.5f, s.h_did);
  EXPECT_NEAR(0.5 * 0.9 * std::pow(6.0e-4, -0.2), s.h_next, 1e-5);
}

TEST(Rkqc, RejectedStepsRetryFromTheSavedState) {
  // A fast decay: the step of 0.5 is far too long and is shrunk until the
  // error is within tolerance; the result must then be the solution over the
  // step actually taken.
  relaxation(0.0f, 50.0f);
  WorkVector y = state(1.0f), dydt = rates(y), scale;
  const float h_try = 0.5f, t0 = 3.0f;
  scale(1) = 1.0f + std::fabs(h_try * dydt(1));
  float t = t0, h_did = 0, h_next = 0;
  rkqc(derivs, y, dydt, 1, t, h_try, 1.0e-5f, scale, h_did, h_next);
  EXPECT_LT(h_did, 0.9f * 0.9f * h_try);  // at least two rejections
  EXPECT_GT(h_did, 0.0f);
  EXPECT_EQ(t0 + h_did, t);
  EXPECT_NEAR(std::exp(-50.0 * h_did), y(1), 1.0e-5 * scale(1));
}

TEST(RkqcDeathTest, StepThatDoesNotChangeTheTimeOrAnErrorThatIsNotANumberStops) {
  ecodyn::test::ScratchDir dir;
  const std::string insignificant = " STEPSIZE NOT SIGNIFICANT IN RKQC.\n\n";
  const std::string not_a_number = " STEP ERROR NOT A NUMBER IN RKQC.\n\n";
  const struct {
    float input, k, y, t, h;
    const std::string& terminal;
  } cases[] = {
      {1.0f, 1.0f, 1.0f, 0.0f, 0.0f, insignificant},
      {1.0f, 1.0f, 1.0f, 1.0e6f, 0.01f, insignificant},
      {std::numeric_limits<float>::quiet_NaN(), 1.0f, 1.0f, 0.0f, 0.1f,
       not_a_number},                                       // undefined rates
      {0.0f, -1.0e30f, 1.0e30f, 0.0f, 0.1f, not_a_number},  // rates that overflow: explosive growth
  };
  for (const auto& c : cases) {
    relaxation(c.input, c.k);
    EXPECT_ERROR_STOP(step(c.y, c.t, c.h, 1.0e-5f, 1.0f), c.terminal);
  }
}

// Integrates b (n compartments) from one time to another with the settings
// of the simulation loop: tolerance 1e-5, first step 0.001, minimum 1e-5.
void integrate(Vector& b, int n, float from, float to) {
  runge(derivs, b, n, from, to, 1.0e-5f, 0.001f, 1.0e-5f);
}

// Integrates over `rows` intervals of the given width from `from`, as the
// simulation loop does from one table row to the next.
void integrate_rows(Vector& b, int n, float from, int rows, float width = 1.0f) {
  for (int row = 1; row <= rows; ++row, from = from + width) integrate(b, n, from, from + width);
}

// A vector of biomasses for compartments 1 onwards.
Vector biomasses(std::initializer_list<float> values) {
  Vector b;
  int i = 0;
  for (const float v : values) b(++i) = v;
  return b;
}

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
void derived_relaxation() {
  donor_control(1, 1);
  konsts.inputs(1) = 5.0f;
  ecodyn::Network net;
  net.biomass(1) = 10.0f;
  net.exports(1) = 2.0f;
  net.respirations(1) = 3.0f;
  ecodyn::derive_coefficients(net, 2);
}

double relaxed(double y0, double t) { return 10.0 + (y0 - 10.0) * std::exp(-0.5 * t); }

TEST_F(Runge, RelaxationAgreesWithTheExactSolution) {
  derived_relaxation();
  Vector b = biomasses({30.0f});
  float t_from = 0.0f, t_to = 0.5f;
  for (int row = 1; row <= 60; ++row) {
    integrate(b, 1, t_from, t_to);
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
  integrate_rows(b, 9, 0.0f, 50);
  for (int i = 1; i <= 9; ++i) EXPECT_NEAR(net.biomass(i), b(i), 1.0e-5f * net.biomass(i));
}

INSTANTIATE_TEST_SUITE_P(Runge, BalancedNetwork, testing::Values(1, 2, 3));

// dy/dt = -2y, handed to the integrator in place of the model equations.
void decay(float /*t*/, const WorkVector& y, WorkVector& dydt) { dydt(1) = -2.0f * y(1); }

TEST_F(Runge, IntegratesTheRightHandSideItIsGiven) {
  donor_control(1, 1);  // under which derivs would hold the biomass still
  Vector b = biomasses({3.0f});
  runge(decay, b, 1, 0.0f, 1.0f, 1.0e-5f, 0.001f, 1.0e-5f);
  EXPECT_NEAR(3.0 * std::exp(-2.0), b(1), 1.0e-5);
}

TEST_F(Runge, IntervalShorterThanTheFirstStep) {
  derived_relaxation();
  Vector b = biomasses({30.0f});
  integrate(b, 1, 2.0f, 2.0005f);
  EXPECT_NEAR(relaxed(30.0, 2.0005 - 2.0), b(1), 2e-6);
}

TEST_F(Runge, LargeTimesAreIntegratedInWholeClockSteps) {
  // From 32768 on, the first step of 0.001 no longer changes a
  // single-precision time; the driver steps one tick of the clock instead
  // (1/256 at 40000). Under a constant rate every later step is a multiple
  // of that tick, so the clock and the integrated time agree exactly.
  donor_control(1, 1);
  konsts.inputs(1) = 2.0f;
  Vector b = biomasses({30.0f});
  integrate(b, 1, 40000.0f, 40001.0f);
  EXPECT_EQ(32.0f, b(1));
  integrate(b, 1, 40001.0f, 40000.0f);  // backwards
  EXPECT_EQ(30.0f, b(1));
}

TEST_F(Runge, LargeTimesKeepTheAccuracyTheClockAllows) {
  // Each step's end time is rounded to the clock, at any time; at 40000 the
  // tick is 1/256 and a few steps per interval leave the clock a few
  // thousandths of a time unit away from the time integrated.
  derived_relaxation();
  Vector b = biomasses({30.0f});
  integrate(b, 1, 40000.0f, 40001.0f);
  EXPECT_NEAR(relaxed(30.0, 1.0), b(1), 1.0e-3 * b(1));
  b(1) = 30.0f;
  integrate_rows(b, 1, 32766.0f, 4);  // across 32768
  EXPECT_NEAR(relaxed(30.0, 4.0), b(1), 1.0e-3 * b(1));
}

TEST_F(RungeDeathTest, EmptyIntervalStops) {
  derived_relaxation();
  Vector b = biomasses({30.0f});
  EXPECT_ERROR_STOP(integrate(b, 1, 1.0f, 1.0f), " STEPSIZE NOT SIGNIFICANT IN RKQC.\n\n");
  const float t = 40000.0f;
  ASSERT_EQ(t, t + 0.001f);  // a print interval too small for the clock
  EXPECT_ERROR_STOP(integrate(b, 1, t, t + 0.001f), " STEPSIZE NOT SIGNIFICANT IN RKQC.\n\n");
}

TEST_F(Runge, BiomassBelowTheThresholdGoesExtinct) {
  donor_control(3, 3);
  // At the threshold: not extinct; just below it: extinct.
  Vector b = biomasses({1.0e-10f, std::nextafter(1.0e-10f, 0.0f), 4.0f});
  const std::string terminal = ecodyn::test::terminal_output([&] { integrate(b, 3, 0.0f, 1.0f); });
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
  donor_control(4, 2);  // 3 and 4 non-living: the notice still says SPECIES
  // 3 already negative: below the threshold as well.
  Vector b = biomasses({5.0f, 2.0f, -2.0f, 5.0e-11f});
  const std::string terminal = ecodyn::test::terminal_output([&] { integrate(b, 4, 3.0f, 5.0f); });
  const char* notices =
      " SPECIES  3 WENT EXTINCT AT T =      3.001\n"
      " SPECIES  4 WENT EXTINCT AT T =      3.001\n";
  EXPECT_EQ(notices, terminal);
  EXPECT_EQ(notices, report());
}

TEST_F(Runge, ExtinctCompartmentRestsDisconnectedAndIsReportedOnce) {
  // Donor control between two compartments: 1 feeds 2 and 2 decays fast
  // enough to fall below the threshold within the first interval.
  donor_control(2, 2);
  konsts.inputs(1) = 1.0f;
  konsts.cexp(1) = 0.1f;
  konsts.cexp(2) = 40.0f;
  konsts.cexch(2, 1) = 0.5f;  // 2 feeds 1
  Vector b = biomasses({10.0f, 1.0f});
  const std::string text = ecodyn::test::terminal_output([&] { integrate_rows(b, 2, 0.0f, 10); });
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
  donor_control(1, 1);
  Vector b = biomasses({5.0e-11f});
  EXPECT_EQ("", ecodyn::test::terminal_output([&] { integrate(b, 1, 0.0f, 0.0005f); }));
  EXPECT_EQ(5.0e-11f, b(1));
  EXPECT_EQ(" SPECIES  1 WENT EXTINCT AT T =      1.001\n",
            ecodyn::test::terminal_output([&] { integrate(b, 1, 1.0f, 2.0f); }));
}

TEST_F(RungeDeathTest, TooManyStepsStop) {
  // An oscillation of angular frequency 100 around (10, 10), built from
  // donor-control terms with negative coefficients: dy1/dt = 1000 - 100*y2,
  // dy2/dt = 100*y1 - 1000. Over 100 time units it turns 10000 radians, far
  // more than 10000 steps of the accuracy asked for.
  donor_control(2, 2);
  konsts.inputs(1) = 1000.0f;
  konsts.inputs(2) = -1000.0f;
  konsts.cexp(1) = -100.0f;
  konsts.cexp(2) = 100.0f;
  konsts.cexch(1, 2) = 100.0f;
  konsts.cexch(2, 1) = -100.0f;
  Vector b = biomasses({11.0f, 10.0f});
  EXPECT_ERROR_STOP(integrate(b, 2, 0.0f, 100.0f),
                    " MAXIMUM NUMBER OF STEPS EXCEEDED. MAX =   10000\n\n");
}

TEST_F(RungeDeathTest, StepBelowTheMinimumStops) {
  // Relaxing towards 1 at rate k = 1e6: explicit steps stay stable only
  // below about 2.8/k, near 3e-6, below the minimum of 1e-5.
  relaxation(1.0e6f, 1.0e6f);
  Vector b = biomasses({2.0f});
  EXPECT_ERROR_STOP(integrate(b, 1, 0.0f, 1.0f), " STEPSIZE SMALLER THAN MINIMUM.\n\n");
}

TEST_F(Runge, StepThatEndsTheIntervalIsExemptFromTheMinimum) {
  relaxation(1.0e6f, 1.0e6f);  // as above
  Vector b = biomasses({2.0f});
  integrate(b, 1, 0.0f, 1.0e-7f);  // one step of 1e-7
  EXPECT_NEAR(1.0 + std::exp(-0.1), b(1), 1e-5);
}

}  // namespace
