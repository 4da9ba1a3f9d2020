// The fast evaluation of the model equations against the literal one, bit
// for bit: random networks of every size, living count and density under
// each model type, with perturbed, faded and extinct coefficients, at
// states with every kind of biomass a run can meet or the dialogue can set;
// the stop on a biomass that is not positive; and which blocks a sparse
// network visits.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>

#include "model/derivs.h"
#include "model/fast_derivs.h"
#include "model/konsts.h"
#include "support/model_networks.h"
#include "support/terminal.h"

namespace {

using ecodyn::fast_derivs;
using ecodyn::konsts;
using ecodyn::WorkVector;

constexpr float inf = std::numeric_limits<float>::infinity();
constexpr float nan = std::numeric_limits<float>::quiet_NaN();

// Returns true when dydt(1..n) of both evaluations agree in every bit,
// except that any two NaNs agree. Which NaN an operation with two NaN
// operands returns depends on the order in which the compiler hands them to
// the processor, which the language leaves open; no comparison, sign test
// or output of the program can tell NaNs apart (a NaN biomass stops the
// integration as an error estimate that is not a number).
bool same_bits(const WorkVector& a, const WorkVector& b, int n) {
  for (int i = 1; i <= n; ++i) {
    if (std::isnan(a(i)) && std::isnan(b(i))) continue;
    if (std::bit_cast<std::uint32_t>(a(i)) != std::bit_cast<std::uint32_t>(b(i))) {
      return false;
    }
  }
  return true;
}

class Random {
 public:
  explicit Random(unsigned seed) : gen_(seed) {}
  int between(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(gen_); }
  bool chance(double p) { return std::bernoulli_distribution(p)(gen_); }
  // A positive value spread over many orders of magnitude.
  float magnitude(float lo_exp, float hi_exp) {
    return std::pow(10.0f, std::uniform_real_distribution<float>(lo_exp, hi_exp)(gen_));
  }

  // A coefficient as derivation, a perturbation or a snapshot may leave it:
  // mostly ordinary, now and then zero of either sign, huge or infinite.
  float coefficient() {
    switch (between(0, 19)) {
      case 0: return 0.0f;
      case 1: return -0.0f;
      case 2: return 1.0e30f;
      case 3: return inf;
      default: return magnitude(-4, 1);
    }
  }

  // A biomass around the reference, or one of the values the integration
  // or the dialogue can produce; not finite only if wild. Model type 1
  // stops on any biomass not above zero, so its states keep them positive
  // (or NaN).
  float biomass(float ref, bool positive, bool wild) {
    switch (between(0, positive ? 5 : 9)) {
      case 0: return 1.0e-38f;
      case 1: return 1.0e30f;
      case 2: return !wild ? 1.0e-40f : chance(0.5) ? inf : nan;
      case 3: return 1.0e-9f;  // an extinct compartment's residue
      case 6: return 0.0f;
      case 7: return -0.0f;
      case 8: return -ref * magnitude(-3, 0);
      case 9: return wild ? -inf : -1.0e30f;
      default: return ref * magnitude(-1, 1);
    }
  }

 private:
  std::mt19937 gen_;
};

// Fills konsts with a random network of n compartments under model type
// mtype, of which a fraction `density` of the ordered pairs carry a flow.
void random_network(Random& r, int mtype, int n, double density) {
  ecodyn::test::clear_konsts();
  konsts.ncomp = n;
  konsts.nliv = r.between(1, n);
  konsts.mtype = mtype;
  for (int i = 1; i <= n; ++i) {
    konsts.bref(i) = r.magnitude(-2, 3);
    konsts.inputs(i) = r.chance(0.02) ? -0.0f : r.chance(0.2) ? 0.0f : r.magnitude(-2, 2);
    konsts.cexp(i) = r.chance(0.3) ? 0.0f : r.magnitude(-3, 0);
    konsts.cresp(i) = r.chance(0.3) ? 0.0f : r.magnitude(-3, 0);
    for (int j = 1; j <= n; ++j) {
      if (r.chance(density)) konsts.cexch(i, j) = r.coefficient();
    }
    // A self-coefficient of either sign, as the derivation leaves it.
    if (i <= konsts.nliv && r.chance(0.5)) {
      konsts.cexch(i, i) = (r.chance(0.8) ? -1.0f : 1.0f) * r.magnitude(-6, -1);
    }
  }
}

// The simulation loop's fading of the living self-coefficients.
void fade(float decay) {
  for (int i = 1; i <= konsts.nliv; ++i) {
    konsts.cexch(i, i) = konsts.cexch(i, i) * decay;
    if (-konsts.cexch(i, i) <= 1.0e-14f) konsts.cexch(i, i) = 0.0f;
  }
}

// What xtinct does to the coefficients of compartment k.
void extinguish(int k) {
  konsts.bref(k) = 1.0e-9f;
  konsts.inputs(k) = 1.0e-10f;
  konsts.cexp(k) = 0.0f;
  konsts.cresp(k) = 0.1f;
  for (int j = 1; j <= konsts.ncomp; ++j) konsts.cexch(j, k) = konsts.cexch(k, j) = 0.0f;
  ecodyn::coefficients_changed();
}

struct TypeCase {
  int type;
};

class FastDerivs : public testing::TestWithParam<TypeCase> {};

// 500 networks of 200 states each: 100 with the coefficients the plan was
// built from, 50 after a fading of the self-coefficients and 50 after a
// second fading and an extinction.
TEST_P(FastDerivs, AgreesBitForBitWithTheLiteralEvaluation) {
  const int type = GetParam().type;
  Random r(20261207u + static_cast<unsigned>(type));
  const double densities[] = {0.0, 0.01, 0.05, 0.2, 0.5, 0.9, 1.0};
  long states = 0, fast = 0;
  for (int net = 0; net < 500; ++net) {
    const int n = net < 10 ? net + 1 : r.between(1, ecodyn::max_compartments);
    random_network(r, type, n, densities[net % 7]);
    const ecodyn::FastDerivsRun run;
    for (int s = 0; s < 200; ++s) {
      if (s == 100) fade(0.5f);  // positive diagonals become 0, negative ones halve
      if (s == 150) {
        fade(1.0e-20f);  // and now all are 0
        extinguish(r.between(1, n));
      }
      WorkVector y, literal, fast_result, through_derivs;
      const bool wild = r.chance(0.25);
      for (int i = 1; i <= n; ++i) y(i) = r.biomass(konsts.bref(i), type == 1, wild);
      ecodyn::derivs_literal(0.0f, y, literal);
      ecodyn::derivs(0.0f, y, through_derivs);
      ASSERT_TRUE(same_bits(literal, through_derivs, n)) << "network " << net << " state " << s;
      if (fast_derivs(y, fast_result)) {
        ++fast;
        ASSERT_TRUE(same_bits(literal, fast_result, n)) << "network " << net << " state " << s;
      }
      ++states;
    }
  }
  EXPECT_EQ(100000, states);
  // The fast evaluation declines only states outside its conditions.
  EXPECT_GT(fast, states / 2);
}

// Model type 1 stops on the first biomass not above zero, living or not,
// whichever evaluation runs; it never gets as far as writing dydt.
TEST(FastDerivsDeathTest, PredatorControlStopsLikeTheLiteralEvaluation) {
  ecodyn::test::ScratchDir dir;
  Random r(7);
  random_network(r, 1, 20, 0.3);
  ecodyn::build_fast_derivs();
  const float not_positive[] = {0.0f, -0.0f, -1.0e-30f, -inf};
  const int where[] = {1, 11, 20};
  for (const float value : not_positive) {
    for (const int k : where) {
      WorkVector y, dydt;
      for (int i = 1; i <= 20; ++i) y(i) = konsts.bref(i);
      y(k) = value;
      EXPECT_ERROR_STOP(fast_derivs(y, dydt), " BIOMASS DRIVEN NEGATIVE.\n");
      EXPECT_ERROR_STOP(ecodyn::derivs_literal(0.0f, y, dydt), " BIOMASS DRIVEN NEGATIVE.\n");
    }
  }
}

// Twenty compartments (lane groups 1-8, 9-16, 17-20) with the flows 1 -> 2
// and 18 -> 17 only: partners 1 and 2 meet group 1, partners 17 and 18
// meet group 3, and 4 of the 60 blocks are visited.
TEST(FastDerivs, VisitsOnlyTheBlocksWithAFlow) {
  ecodyn::test::donor_control(20, 20);
  konsts.cexch(1, 2) = 0.5f;
  konsts.cexch(18, 17) = 0.25f;
  ecodyn::build_fast_derivs();
  EXPECT_EQ(4, ecodyn::fast_derivs_shape().blocks_visited);
  EXPECT_EQ(60, ecodyn::fast_derivs_shape().blocks_total);
}

INSTANTIATE_TEST_SUITE_P(ModelTypes, FastDerivs,
                         testing::Values(TypeCase{1}, TypeCase{2}, TypeCase{3}),
                         ecodyn::test::type_name<TypeCase>);

}  // namespace
