// The Runge-Kutta steps and the driver on dy/dt = input - k*y, known in
// closed form: rkqc at the edges of its rules and its stops, large times,
// extinctions, the driver's stops.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "integrate/rkqc.h"
#include "integrate/runge.h"
#include "model/derivs.h"
#include "support/program_state.h"
#include "support/scratch.h"

namespace {

using namespace ecodyn;
using namespace ecodyn::test;

// One compartment under donor control: dy/dt = input - k*y.
void relaxation(float input, float k) {
  donor_control(1, 1);
  konsts.inputs(1) = input;
  konsts.cexp(1) = k;
}

WorkVector rates(const WorkVector& y) { WorkVector d; derivs(0.0f, y, d); return d; }

// Two half steps minus one full step of rk4: what rkqc judges.
float doubling_difference(float y0, float h) {
  const WorkVector y = vec<WorkVector>({y0});
  WorkVector half, twice, full;
  rk4(derivs, y, rates(y), 1, 0.0f, h * 0.5f, half);
  rk4(derivs, half, rates(half), 1, h * 0.5f, h * 0.5f, twice);
  rk4(derivs, y, rates(y), 1, 0.0f, h, full);
  return std::fabs(twice(1) - full(1));
}

struct Step { float y, t, h_did, h_next; };

// One rkqc step from y0 at t0 over h, with the tolerance and the scale.
Step step(float y0, float t0, float h, float tolerance, float scale) {
  WorkVector y = vec<WorkVector>({y0}), dydt = rates(y), s = vec<WorkVector>({scale});
  Step r{0.0f, t0, 0.0f, 0.0f};
  rkqc(derivs, y, dydt, 1, r.t, h, tolerance, s, r.h_did, r.h_next);
  r.y = y(1);
  return r;
}

TEST(Rkqc, AcceptanceAndGrowthAtTheirEdges) {
  relaxation(2.0f, 0.0f);  // a constant rate: no error, four times the step
  Step s = step(3.0f, 1.0f, 0.25f, 1.0e-5f, 3.0f);
  EXPECT_EQ((std::vector<float>{3.5f, 1.25f, 0.25f, 1.0f}),
            (std::vector<float>{s.y, s.t, s.h_did, s.h_next}));
  relaxation(0.0f, 1.0f);
  const float d = doubling_difference(1.0f, 0.5f);
  ASSERT_NE(0.0f, d);
  s = step(1.0f, 0.0f, 0.5f, 1.0f, d);  // scaled error exactly the tolerance: accepted
  EXPECT_EQ(0.5f, s.h_did);
  EXPECT_EQ(0.5f, s.t);
  // Two half steps corrected by a fifteenth of their difference from the full
  // step: the Taylor steps give .60654283 + (.60654283 - .60677083) / 15.
  EXPECT_NEAR(0.60652763, s.y, 2e-7);
  s = step(1.0f, 0.0f, 0.5f, 1.0f, std::nextafter(d, 0.0f));  // one ulp more: shrunk
  EXPECT_EQ(0.5f * 0.9f, s.h_did);
  EXPECT_NEAR(std::exp(-0.45), s.y, 1e-5);  // retried from the state before the step
  s = step(1.0f, 0.0f, 0.5f, 1.0f, d / 16);  // 16 times the tolerance: shrunk by 0.9 * 16^-1/4
  EXPECT_EQ(0.5f * 0.9f * 0.5f, s.h_did);
  const float errcon = 6.0e-4f, tolerance = 1.0f / errcon;
  ASSERT_EQ(errcon, 1.0f / tolerance);
  s = step(1.0f, 0.0f, 0.5f, tolerance, d);  // error exactly errcon: four times the step
  EXPECT_EQ(2.0f, s.h_next);
  s = step(1.0f, 0.5f, 0.5f, tolerance, std::nextafter(d, 0.0f));  // just above: the formula
  EXPECT_NEAR(0.5 * 0.9 * std::pow(6.0e-4, -0.2), s.h_next, 1e-5);
}

TEST(Rkqc, StepThatDoesNotChangeTheTimeOrAnErrorThatIsNotANumberStops) {
  ScratchDir dir;
  const std::string insignificant = " STEPSIZE NOT SIGNIFICANT IN RKQC.\n\n";
  const std::string not_a_number = " STEP ERROR NOT A NUMBER IN RKQC.\n\n";
  const struct {
    float input, k, y, t, h;
    const std::string& terminal;
  } cases[] = {
      {1.0f, 1.0f, 1.0f, 0.0f, 0.0f, insignificant},
      {1.0f, 1.0f, 1.0f, 1.0e6f, 0.01f, insignificant},
      {std::numeric_limits<float>::quiet_NaN(), 1.0f, 1.0f, 0.0f, 0.1f, not_a_number},
      {0.0f, -1.0e30f, 1.0e30f, 0.0f, 0.1f, not_a_number},  // rates that overflow
  };
  for (const auto& c : cases) {
    relaxation(c.input, c.k);
    EXPECT_ERROR_STOP(step(c.y, c.t, c.h, 1.0e-5f, 1.0f), c.terminal);
  }
}

// The settings of the simulation loop: tolerance 1e-5, first step 0.001,
// minimum 1e-5.
void integrate(Vector& b, int n, float from, float to) {
  runge(derivs, b, n, from, to, 1.0e-5f, 0.001f, 1.0e-5f);
}

class Runge : public testing::Test {
 protected:
  ~Runge() override { fio::close(fio::report); }
  std::string report() {
    fio::close(fio::report);
    return read_file("fort.8");
  }
  ScratchDir dir_;
};

TEST_F(Runge, LargeTimesAreIntegratedInWholeClockSteps) {
  // From 32768 on, the first step of 0.001 no longer changes the time; the
  // driver steps one tick of the clock instead. Under a constant rate the
  // clock and the integrated time agree exactly, forwards and backwards.
  donor_control(1, 1);
  konsts.inputs(1) = 2.0f;
  Vector b = vec({30.0f});
  integrate(b, 1, 40000.0f, 40001.0f);
  EXPECT_EQ(32.0f, b(1));
  integrate(b, 1, 40001.0f, 40000.0f);
  EXPECT_EQ(30.0f, b(1));
}

// dy/dt = -2y, handed to the integrator in place of the model equations.
void decay(float, const WorkVector& y, WorkVector& dydt) { dydt(1) = -2.0f * y(1); }

TEST_F(Runge, IntegratesTheRightHandSideItIsGiven) {
  donor_control(1, 1);
  Vector b = vec({3.0f});
  runge(decay, b, 1, 0.0f, 1.0f, 1.0e-5f, 0.001f, 1.0e-5f);
  EXPECT_NEAR(3.0 * std::exp(-2.0), b(1), 1.0e-5);
}

// Below the threshold after a step, in increasing order; not after the step
// that ends the interval.
TEST_F(Runge, BiomassBelowTheThresholdGoesExtinctInIncreasingOrderAfterAStep) {
  donor_control(4, 2);  // 3 and 4 non-living: the notice still says SPECIES
  Vector b = vec({1.0e-10f, std::nextafter(1.0e-10f, 0.0f), -2.0f, 4.0f});
  const std::string terminal = terminal_output([&] { integrate(b, 4, 3.0f, 4.0f); });
  const char* notices =
      " SPECIES  2 WENT EXTINCT AT T =      3.001\n SPECIES  3 WENT EXTINCT AT T =      3.001\n";
  EXPECT_EQ(notices, terminal);
  EXPECT_EQ(notices, report());
  EXPECT_EQ(1.0e-10f, b(1));  // at the threshold: not extinct
  EXPECT_NEAR(1.0e-9f, b(2), 1e-16f);
  EXPECT_EQ(4.0f, b(4));
  EXPECT_EQ((std::vector<float>{1.0e-9f, 1.0e-10f, 0.0f, 0.1f}),
            (std::vector<float>{konsts.bref(2), konsts.inputs(2), konsts.cexp(2), konsts.cresp(2)}));
  donor_control(1, 1);
  b = vec({5.0e-11f});
  EXPECT_EQ("", terminal_output([&] { integrate(b, 1, 0.0f, 0.0005f); }));
  EXPECT_EQ(5.0e-11f, b(1));
  EXPECT_EQ(" SPECIES  1 WENT EXTINCT AT T =      1.001\n",
            terminal_output([&] { integrate(b, 1, 1.0f, 2.0f); }));
}

TEST_F(Runge, ExtinctCompartmentRestsDisconnectedAndIsReportedOnce) {
  donor_control(2, 2);
  konsts.inputs(1) = 1.0f;
  konsts.cexp(1) = 0.1f;
  konsts.cexp(2) = 40.0f;     // 2 falls below the threshold in the first interval
  konsts.cexch(2, 1) = 0.5f;     // 2 feeds 1
  konsts.cexch(1, 2) = 1.0e-12f;  // and 1 feeds 2, far too little to keep it
  Vector b = vec({10.0f, 1.0f});
  const std::string text = terminal_output([&] {
    for (float t = 0.0f; t < 10.0f; t = t + 1.0f) integrate(b, 2, t, t + 1.0f);
  });
  EXPECT_EQ(0u, text.find(" SPECIES  2 WENT EXTINCT AT T = ")) << text;
  EXPECT_EQ(std::string::npos, text.find("SPECIES", 2)) << text;
  EXPECT_NEAR(1.0e-9f, b(2), 1e-15f);
  EXPECT_EQ((std::vector<float>{0, 0, 0}),
            (std::vector<float>{konsts.cexch(2, 1), konsts.cexch(1, 2), konsts.cexch(2, 2)}));
}

TEST_F(Runge, StopsOnAnEmptyIntervalTooManyStepsAndTooSmallAStep) {
  relaxation(5.0f, 0.5f);
  Vector b = vec({30.0f});
  EXPECT_ERROR_STOP(integrate(b, 1, 1.0f, 1.0f), " STEPSIZE NOT SIGNIFICANT IN RKQC.\n\n");
  ASSERT_EQ(40000.0f, 40000.0f + 0.001f);  // an interval too small for the clock
  EXPECT_ERROR_STOP(integrate(b, 1, 40000.0f, 40000.001f), " STEPSIZE NOT SIGNIFICANT IN RKQC.\n\n");
  // An oscillation of angular frequency 100 around (10, 10) from donor terms
  // with negative coefficients turns 10000 radians in 100 time units.
  donor_control(2, 2);
  konsts.inputs(1) = 1000.0f;
  konsts.inputs(2) = -1000.0f;
  konsts.cexp(1) = konsts.cexch(2, 1) = -100.0f;
  konsts.cexp(2) = konsts.cexch(1, 2) = 100.0f;
  b = vec({11.0f, 10.0f});
  EXPECT_ERROR_STOP(integrate(b, 2, 0.0f, 100.0f), " MAXIMUM NUMBER OF STEPS EXCEEDED. MAX =   10000\n\n");
  // Relaxing at rate 8e4: steps of the accuracy asked for are near 3e-6,
  // under the minimum of 1e-5; the step that ends the interval is exempt.
  relaxation(8.0e4f, 8.0e4f);
  b = vec({2.0f});
  EXPECT_ERROR_STOP(integrate(b, 1, 0.0f, 1.0f), " STEPSIZE SMALLER THAN MINIMUM.\n\n");
  b = vec({2.0f});
  integrate(b, 1, 0.0f, 1.0e-6f);
  EXPECT_NEAR(1.0 + std::exp(-0.08), b(1), 1e-5);
}

}  // namespace
