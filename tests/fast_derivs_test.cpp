// The fast evaluation of the model equations against the literal one, bit
// for bit, on random networks and states of every kind a run can produce.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>

#include "model/derivs.h"
#include "model/fast_derivs.h"
#include "support/program_state.h"
#include "support/scratch.h"

namespace {

using namespace ecodyn;

constexpr float inf = std::numeric_limits<float>::infinity();

// Every bit agrees, except that any two NaNs do (which NaN is left open).
bool same_bits(const WorkVector& a, const WorkVector& b, int n) {
  for (int i = 1; i <= n; ++i) {
    if (std::bit_cast<std::uint32_t>(a(i)) != std::bit_cast<std::uint32_t>(b(i)) &&
        !(std::isnan(a(i)) && std::isnan(b(i)))) return false;
  }
  return true;
}

std::mt19937 gen;
int between(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(gen); }
bool chance(double p) { return std::bernoulli_distribution(p)(gen); }
float magnitude(float lo, float hi) {
  return std::pow(10.0f, std::uniform_real_distribution<float>(lo, hi)(gen));
}

// Coefficients as derivation, perturbation or a snapshot may leave them:
// now and then zero of either sign, huge or infinite.
void random_network(int mtype, int n, double density) {
  konsts = Konsts{};
  konsts.ncomp = n;
  konsts.nliv = between(1, n);
  konsts.mtype = mtype;
  const float odd[] = {0.0f, -0.0f, 1.0e30f, inf};
  for (int i = 1; i <= n; ++i) {
    konsts.bref(i) = magnitude(-2, 3);
    konsts.inputs(i) = chance(0.02) ? -0.0f : chance(0.2) ? 0.0f : magnitude(-2, 2);
    konsts.cexp(i) = chance(0.3) ? 0.0f : magnitude(-3, 0);
    konsts.cresp(i) = chance(0.3) ? 0.0f : magnitude(-3, 0);
    for (int j = 1; j <= n; ++j) {
      if (chance(density)) konsts.cexch(i, j) = chance(0.2) ? odd[between(0, 3)] : magnitude(-4, 1);
    }
    if (i <= konsts.nliv && chance(0.5)) konsts.cexch(i, i) = (chance(0.8) ? -1 : 1) * magnitude(-6, -1);
  }
}

// A biomass near the reference or an odd one; under predator control only
// positive ones (or NaN), which it does not stop on.
float biomass(float ref, bool positive, bool wild) {
  const float odd[] = {1.0e-38f, 1.0e30f, wild ? (chance(0.5) ? inf : std::nanf("")) : 1.0e-40f,
                       1.0e-9f, 0.0f, -0.0f, -ref * magnitude(-3, 0), wild ? -inf : -1.0e30f};
  const int k = between(0, positive ? 5 : 9);
  return k < 4 ? odd[k] : k < 6 ? ref * magnitude(-1, 1) : odd[k - 2];
}

// The simulation loop's fading of the living self-coefficients.
void fade(float decay) {
  for (int i = 1; i <= konsts.nliv; ++i) {
    konsts.cexch(i, i) = konsts.cexch(i, i) * decay;
    if (-konsts.cexch(i, i) <= 1.0e-14f) konsts.cexch(i, i) = 0.0f;
  }
}

class FastDerivs : public testing::TestWithParam<int> {};

// 500 networks of 200 states: 100 as built, 50 after a fading, 50 after a
// second fading and an extinction.
TEST_P(FastDerivs, AgreesBitForBitWithTheLiteralEvaluation) {
  const int type = GetParam();
  gen.seed(20261207u + static_cast<unsigned>(type));
  const double densities[] = {0.0, 0.01, 0.05, 0.2, 0.5, 0.9, 1.0};
  long states = 0, fast = 0;
  for (int net = 0; net < 500; ++net) {
    const int n = net < 10 ? net + 1 : between(1, max_compartments);
    random_network(type, n, densities[net % 7]);
    const FastDerivsRun run;
    for (int s = 0; s < 200; ++s, ++states) {
      if (s == 100) fade(0.5f);
      if (s == 150) {
        fade(1.0e-20f);
        const int k = between(1, n);  // as xtinct leaves it
        konsts.bref(k) = 1.0e-9f;
        konsts.inputs(k) = 1.0e-10f;
        konsts.cexp(k) = 0.0f;
        konsts.cresp(k) = 0.1f;
        for (int j = 1; j <= n; ++j) konsts.cexch(j, k) = konsts.cexch(k, j) = 0.0f;
        coefficients_changed();
      }
      WorkVector y, literal, result;
      const bool wild = chance(0.25);
      for (int i = 1; i <= n; ++i) y(i) = biomass(konsts.bref(i), type == 1, wild);
      derivs_literal(0.0f, y, literal);
      derivs(0.0f, y, result);
      ASSERT_TRUE(same_bits(literal, result, n)) << "network " << net << " state " << s;
      const bool done = fast_derivs(y, result);
      fast += done;
      ASSERT_TRUE(!done || same_bits(literal, result, n)) << "network " << net << " state " << s;
    }
  }
  EXPECT_GT(fast, states / 2);  // declined only outside its conditions
}

INSTANTIATE_TEST_SUITE_P(ModelTypes, FastDerivs, testing::Values(1, 2, 3));

TEST(FastDerivsStop, PredatorControlStopsLikeTheLiteralEvaluation) {
  test::ScratchDir dir;
  gen.seed(7);
  random_network(1, 20, 0.3);
  build_fast_derivs();
  for (const float value : {0.0f, -0.0f, -1.0e-30f, -inf}) {
    for (const int k : {1, 11, 20}) {
      WorkVector y, dydt;
      for (int i = 1; i <= 20; ++i) y(i) = konsts.bref(i);
      y(k) = value;
      EXPECT_ERROR_STOP(fast_derivs(y, dydt), " BIOMASS DRIVEN NEGATIVE.\n");
      EXPECT_ERROR_STOP(derivs_literal(0.0f, y, dydt), " BIOMASS DRIVEN NEGATIVE.\n");
    }
  }
}

}  // namespace
