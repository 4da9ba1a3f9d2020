// The Runge-Kutta steps on one compartment with dy/dt = input - k*y, whose
// steps and solutions are known in closed form: rk4 against the fourth-order
// Taylor polynomial, rkqc at the edges of its acceptance and growth rules,
// after rejections, and its stops.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "integrate/rkqc.h"
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
using ecodyn::WorkVector;

// One compartment under donor control: dy/dt = input - k*y.
void relaxation(float input, float k) {
  ecodyn::test::clear_konsts();
  konsts.ncomp = 1;
  konsts.nliv = 1;
  konsts.mtype = 2;
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
  rk4(y, rates(y), 1, 0.0f, h * 0.5f, half);
  rk4(half, rates(half), 1, h * 0.5f, h * 0.5f, twice);
  rk4(y, rates(y), 1, 0.0f, h, full);
  return twice(1) - full(1);
}

TEST(Rk4, ConstantRateIsExact) {
  relaxation(2.0f, 0.0f);
  const WorkVector y = state(3.0f);
  WorkVector out;
  rk4(y, rates(y), 1, 0.0f, 0.25f, out);
  EXPECT_EQ(3.5f, out(1));
  EXPECT_EQ(3.0f, y(1));
}

TEST(Rk4, LinearDecayFollowsTheTaylorPolynomial) {
  relaxation(0.0f, 1.0f);
  for (const float h : {0.5f, 0.1f, -0.3f}) {
    const WorkVector y = state(2.0f);
    WorkVector out;
    rk4(y, rates(y), 1, 7.0f, h, out);
    const double z = -static_cast<double>(h);
    const double expected = 2.0 * (1 + z + z * z / 2 + z * z * z / 6 + z * z * z * z / 24);
    EXPECT_NEAR(expected, out(1), 4e-7 * expected) << "h = " << h;
  }
}

TEST(Rkqc, ZeroRatesAreAcceptedAtOnce) {
  relaxation(0.0f, 0.0f);
  WorkVector y = state(3.0f), dydt = rates(y), scale = state(1.0f);
  float t = 1.0f, h_did = 0, h_next = 0;
  rkqc(y, dydt, 1, t, 0.25f, 1.0e-5f, scale, h_did, h_next);
  EXPECT_EQ(3.0f, y(1));
  EXPECT_EQ(1.25f, t);
  EXPECT_EQ(0.25f, h_did);
  EXPECT_EQ(1.0f, h_next);
}

TEST(Rkqc, StateIndependentRatesAreAcceptedAsTried) {
  relaxation(2.0f, 0.0f);
  WorkVector y = state(3.0f), dydt = rates(y), scale = state(3.0f);
  float t = 0.0f, h_did = 0, h_next = 0;
  rkqc(y, dydt, 1, t, 0.25f, 1.0e-5f, scale, h_did, h_next);
  EXPECT_FLOAT_EQ(3.5f, y(1));
  EXPECT_EQ(0.25f, h_did);
  EXPECT_EQ(1.0f, h_next);
}

TEST(Rkqc, ErrorOfExactlyTheToleranceIsAccepted) {
  relaxation(0.0f, 1.0f);
  const float d = doubling_difference(state(1.0f), 0.5f);
  ASSERT_NE(0.0f, d);
  WorkVector y = state(1.0f), dydt = rates(y), scale = state(std::fabs(d));
  float t = 0.0f, h_did = 0, h_next = 0;
  rkqc(y, dydt, 1, t, 0.5f, 1.0f, scale, h_did, h_next);  // scaled error d/|d| = 1
  EXPECT_EQ(0.5f, h_did);
  EXPECT_EQ(0.5f, t);
  EXPECT_NEAR(std::exp(-0.5), y(1), 1e-5);

  // One unit in the last place more error and the step is rejected: shrunk
  // by 0.9 times a power of the error that rounds to 1 here.
  y = state(1.0f);
  dydt = rates(y);
  scale = state(std::nextafter(std::fabs(d), 0.0f));
  t = 0.0f;
  rkqc(y, dydt, 1, t, 0.5f, 1.0f, scale, h_did, h_next);
  EXPECT_EQ(0.5f * 0.9f, h_did);
}

TEST(Rkqc, ErrorOfExactlyErrconGivesFourTimesTheStep) {
  relaxation(0.0f, 1.0f);
  const float d = doubling_difference(state(1.0f), 0.5f);
  const float errcon = 6.0e-4f;
  const float tolerance = 1.0f / errcon;
  ASSERT_EQ(errcon, 1.0f / tolerance);  // scaled error 1 / tolerance is exactly errcon
  WorkVector y = state(1.0f), dydt = rates(y), scale = state(std::fabs(d));
  float t = 0.0f, h_did = 0, h_next = 0;
  rkqc(y, dydt, 1, t, 0.5f, tolerance, scale, h_did, h_next);
  EXPECT_EQ(0.5f, h_did);
  EXPECT_EQ(2.0f, h_next);

  // Just above errcon the growth formula gives 0.9 * errcon^-0.2, about 3.97.
  y = state(1.0f);
  dydt = rates(y);
  scale = state(std::nextafter(std::fabs(d), 0.0f));
  rkqc(y, dydt, 1, t, 0.5f, tolerance, scale, h_did, h_next);
  EXPECT_EQ(0.5f, h_did);
  EXPECT_NEAR(0.5 * 0.9 * std::pow(6.0e-4, -0.2), h_next, 1e-5);
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
  rkqc(y, dydt, 1, t, h_try, 1.0e-5f, scale, h_did, h_next);
  EXPECT_LT(h_did, 0.9f * 0.9f * h_try);  // at least two rejections
  EXPECT_GT(h_did, 0.0f);
  EXPECT_EQ(t0 + h_did, t);
  EXPECT_NEAR(std::exp(-50.0 * h_did), y(1), 1.0e-5 * scale(1));
}

TEST(RkqcDeathTest, StepThatDoesNotChangeTheTimeStops) {
  ecodyn::test::ScratchDir dir;
  relaxation(1.0f, 1.0f);
  WorkVector y = state(1.0f), dydt = rates(y), scale = state(1.0f);
  float h_did = 0, h_next = 0;
  float t = 0.0f;
  EXPECT_ERROR_STOP(rkqc(y, dydt, 1, t, 0.0f, 1.0e-5f, scale, h_did, h_next),
                    " STEPSIZE NOT SIGNIFICANT IN RKQC.\n\n");
  t = 1.0e6f;
  EXPECT_ERROR_STOP(rkqc(y, dydt, 1, t, 0.01f, 1.0e-5f, scale, h_did, h_next),
                    " STEPSIZE NOT SIGNIFICANT IN RKQC.\n\n");
}

TEST(RkqcDeathTest, ErrorThatIsNotANumberStops) {
  ecodyn::test::ScratchDir dir;
  // Undefined rates.
  relaxation(std::numeric_limits<float>::quiet_NaN(), 1.0f);
  WorkVector y = state(1.0f), dydt = rates(y), scale = state(1.0f);
  float t = 0.0f, h_did = 0, h_next = 0;
  EXPECT_ERROR_STOP(rkqc(y, dydt, 1, t, 0.1f, 1.0e-5f, scale, h_did, h_next),
                    " STEP ERROR NOT A NUMBER IN RKQC.\n\n");
  // Rates that overflow: explosive growth from a huge biomass.
  relaxation(0.0f, -1.0e30f);
  y = state(1.0e30f);
  dydt = rates(y);
  EXPECT_ERROR_STOP(rkqc(y, dydt, 1, t, 0.1f, 1.0e-5f, scale, h_did, h_next),
                    " STEP ERROR NOT A NUMBER IN RKQC.\n\n");
}

}  // namespace
