#include "model/fast_derivs.h"

// The vectors never cross a function boundary outside this file, so their
// argument-passing convention does not matter.
#pragma GCC diagnostic ignored "-Wpsabi"

#include <cmath>
#include <cstdint>
#include <cstring>

#include "fio/fio.h"
#include "model/flow_laws.h"
#include "model/konsts.h"

// How the fast evaluation gets the literal result.
//
// The literal evaluation sums, for each compartment i, its exchange terms
// over the partners j = 1..ncomp in one chain of single-precision additions.
// The chains of different compartments are independent. Here the partners
// are the outer loop and the compartments the inner one: for each j in
// increasing order, the term of pair (i, j) is added to the running sum of
// every compartment i at once, eight compartments to a vector. Each lane
// performs the very operations of the literal chain, in its order, with the
// same products rounded at the same places (vector arithmetic rounds like
// scalar arithmetic; no fused multiply-add), so each sum comes out bit for
// bit as the literal one.
//
// A block is the eight compartments of one lane group paired with one
// partner j. A block whose sixteen coefficients (i -> j and j -> i) are all
// zero is left out. That is exact only where the literal terms of such a
// pair leave the sum unchanged:
//
//  - Model type 1 adds (d + 0) - 0, the flows of a coefficient not above
//    zero being zero whatever the biomasses. d + 0 is d unless d is -0
//    (-0 + 0 = +0).
//  - Model types 2 and 3 add products of a zero coefficient with
//    biomasses. With finite biomasses each product is a signed zero and
//    d + (+-0) and d - (+-0) are d unless d is -0. An infinite biomass
//    makes the product a NaN (0 * inf), so a biomass that is not finite
//    rules the skipping out.
//  - A running sum that is not -0 never becomes -0 by adding or
//    subtracting (an exact cancellation gives +0), so it suffices that the
//    sum is not -0 where the exchange terms begin: after the linear terms,
//    and under type 3 after a living compartment's self-term.
//
// When a plan leaves blocks out and a state does not meet these conditions,
// fast_derivs declines and derivs takes the literal evaluation. A plan that
// leaves nothing out (a dense network) has no conditions.
//
// Model type 1 tests the sign of every coefficient at every call, as the
// literal evaluation does, so a coefficient that has faded or been zeroed
// contributes nothing. Under type 3 the diagonal pair of a living
// compartment is left out of its chain (its self-term stands in for it):
// that lane keeps its sum across the partner j = i.
//
// The plan holds packed copies of the coefficients. Within the run of a
// cycle they change in two ways only: the simulation loop fades the
// diagonal of the living compartments between print intervals (a scaling
// that may end at zero), which each evaluation copies afresh from konsts;
// and an extinction zeroes a row and a column, after which xtinct calls
// coefficients_changed and the plan is rebuilt. Neither can make a
// coefficient nonzero that was zero, so no left-out block ever comes to
// matter. The loader, the derivation and the perturbations write konsts
// before the run starts, when the plan is built; outside a run derivs uses
// the literal evaluation (see derivs.cpp).

namespace ecodyn {

namespace {

constexpr int lanes = 8;
constexpr int max_groups = (max_compartments + lanes - 1) / lanes;
constexpr int padded = max_groups * lanes;
constexpr int max_blocks = max_compartments * max_groups;

typedef float Lanes __attribute__((vector_size(lanes * sizeof(float))));
typedef std::int32_t Mask __attribute__((vector_size(lanes * sizeof(float))));

// The coefficients of one block: cin(l) of the flow j -> i and cout(l) of
// the flow i -> j, for the compartment i in lane l.
struct Block {
  Lanes cin;
  Lanes cout;
};

struct Plan {
  bool built = false;
  unsigned generation = 0;
  int ncomp = 0;
  int nliv = 0;
  int mtype = 0;
  int groups = 0;
  bool leaves_out = false;           // some block left out: conditions apply
  int pos[max_compartments + 1]{};   // lane position of compartment i
  int first[max_compartments + 2]{}; // blocks of partner j: first(j) .. first(j+1)-1
  int group[max_blocks]{};           // lane group of each block
  Block block[max_blocks]{};
  // Where the living diagonal (i, i) lies, to follow its fading: block
  // index and lane, or -1 when its block is left out.
  int diag_block[max_compartments + 1]{};
  int diag_lane[max_compartments + 1]{};
  Mask living[max_groups]{};  // -1 in the lanes of living compartments
};

Plan plan;
unsigned generation = 1;

bool is_negative_zero(float x) {
  std::uint32_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  return bits == 0x80000000u;
}

Lanes broadcast(float x) { return Lanes{x, x, x, x, x, x, x, x}; }

// The per-call state of the compartments, by lane group and lane.
struct State {
  Lanes y[max_groups];
  Lanes d[max_groups];    // the running sums
  Lanes aux[max_groups];  // type 1: availability; type 3: y if living, else 1
  float& at(Lanes* v, int p) { return v[p / lanes][p % lanes]; }
};

// Copies the faded diagonal of the living compartments into the plan.
void refresh_diagonal() {
  for (int i = 1; i <= plan.nliv; ++i) {
    const int b = plan.diag_block[i];
    if (b < 0) continue;
    const float c = konsts.cexch(i, i);
    plan.block[b].cin[plan.diag_lane[i]] = c;
    plan.block[b].cout[plan.diag_lane[i]] = c;
  }
}

// Linear donor control: (c(j,i)*y(j) + d) - c(i,j)*y(i).
__attribute__((target_clones("avx2", "default"))) void sweep_donor(State& s,
                                                                   const WorkVector& yj) {
  Lanes* d = s.d;
  const Lanes* y = s.y;
  for (int j = 1; j <= plan.ncomp; ++j) {
    const Lanes y_j = broadcast(yj(j));
    for (int b = plan.first[j]; b < plan.first[j + 1]; ++b) {
      const int g = plan.group[b];
      const Block& k = plan.block[b];
      d[g] = (flow::donor(k.cin, y_j) + d[g]) - flow::donor(k.cout, y[g]);
    }
  }
}

// Damped Lotka-Volterra. With a(x) = y(x) for a living x and 1 otherwise,
// every pair is (d - (c(i,j)*y(i))*a(j)) + (c(j,i)*y(j))*a(i): a product
// with 1 is exact, so this is the literal sum of each kind of pair.
__attribute__((target_clones("avx2", "default"))) void sweep_lotka_volterra(
    State& s, const WorkVector& yj) {
  Lanes* d = s.d;
  const Lanes* y = s.y;
  const Lanes* a = s.aux;
  for (int j = 1; j <= plan.ncomp; ++j) {
    const bool living = j <= plan.nliv;
    const Lanes y_j = broadcast(yj(j));
    const Lanes a_j = broadcast(living ? yj(j) : 1.0f);
    const float kept = s.at(d, plan.pos[j]);
    for (int b = plan.first[j]; b < plan.first[j + 1]; ++b) {
      const int g = plan.group[b];
      const Block& k = plan.block[b];
      d[g] = (d[g] - flow::mass_action(k.cout, y[g], a_j)) + flow::mass_action(k.cin, y_j, a[g]);
    }
    // A living compartment's pair with itself is its self-term, added before.
    if (living) s.at(d, plan.pos[j]) = kept;
  }
}

// Generic predator control: (d + inflow) - outflow, each flow zero unless
// its coefficient is above zero.
__attribute__((target_clones("avx2", "default"))) void sweep_predator(
    State& s, const WorkVector& yj, const WorkVector& avail) {
  Lanes* d = s.d;
  const Lanes* y = s.y;
  const Lanes* av = s.aux;
  const Mask* living_i = plan.living;
  const Lanes zero{};
  for (int j = 1; j <= plan.ncomp; ++j) {
    const bool living_j = j <= plan.nliv;
    const Lanes y_j = broadcast(yj(j));
    const Lanes avail_j = broadcast(avail(j));
    for (int b = plan.first[j]; b < plan.first[j + 1]; ++b) {
      const int g = plan.group[b];
      const Block& k = plan.block[b];
      const Lanes out = living_j ? flow::predator(k.cout, y_j, av[g]) : flow::donor(k.cout, y[g]);
      const Lanes in = living_i[g] ? flow::predator(k.cin, y[g], avail_j) : flow::donor(k.cin, y_j);
      const Lanes outflow = reinterpret_cast<Lanes>((k.cout > zero) & reinterpret_cast<Mask>(out));
      const Lanes inflow = reinterpret_cast<Lanes>((k.cin > zero) & reinterpret_cast<Mask>(in));
      d[g] = d[g] + inflow - outflow;
    }
  }
}

}  // namespace

void coefficients_changed() { ++generation; }

void build_fast_derivs() {
  const Konsts& k = konsts;
  const int n = k.ncomp;
  plan.built = true;
  plan.generation = generation;
  plan.ncomp = n;
  plan.nliv = k.nliv;
  plan.mtype = k.mtype;
  plan.groups = (n + lanes - 1) / lanes;
  plan.leaves_out = false;
  // comp[p]: the compartment in lane position p, 0 for an empty lane.
  int comp[padded] = {};
  for (int i = 1; i <= n; ++i) {
    plan.pos[i] = i - 1;
    comp[i - 1] = i;
  }
  for (int p = 0; p < padded; ++p) {
    plan.living[p / lanes][p % lanes] = comp[p] >= 1 && comp[p] <= k.nliv ? -1 : 0;
  }
  for (int i = 1; i <= n; ++i) plan.diag_block[i] = -1;

  int count = 0;
  for (int j = 1; j <= n; ++j) {
    plan.first[j] = count;
    for (int g = 0; g < plan.groups; ++g) {
      Block blk{};
      bool any = false;
      for (int l = 0; l < lanes; ++l) {
        const int i = comp[g * lanes + l];
        if (i == 0) continue;
        blk.cin[l] = k.cexch(j, i);
        blk.cout[l] = k.cexch(i, j);
        // NaN counts as nonzero, and is kept.
        if (!(blk.cin[l] == 0.0f) || !(blk.cout[l] == 0.0f)) any = true;
      }
      if (!any) {
        plan.leaves_out = true;
        continue;
      }
      const int p = plan.pos[j];
      if (p / lanes == g) {
        plan.diag_block[j] = count;
        plan.diag_lane[j] = p % lanes;
      }
      plan.group[count] = g;
      plan.block[count] = blk;
      ++count;
    }
  }
  plan.first[n + 1] = count;
}

FastDerivsShape fast_derivs_shape() {
  return {plan.first[plan.ncomp + 1], plan.ncomp * plan.groups};
}

bool fast_derivs(const WorkVector& y, WorkVector& dydt) {
  const Konsts& k = konsts;
  if (!plan.built || plan.ncomp != k.ncomp || plan.nliv != k.nliv || plan.mtype != k.mtype) {
    return false;
  }
  if (plan.generation != generation) build_fast_derivs();
  const int n = k.ncomp;
  const int nliv = k.nliv;

  WorkVector avail;
  State s;
  for (int g = 0; g < max_groups; ++g) s.y[g] = s.d[g] = s.aux[g] = Lanes{};

  if (plan.mtype == 1) {
    // The availability of every donor first, stopping before anything is
    // written, as the literal evaluation does.
    for (int i = 1; i <= n; ++i) {
      if (y(i) <= 0.0f) fio::error_stop("(1X,'BIOMASS DRIVEN NEGATIVE.')");
      avail(i) = flow::availability(k.bref(i), y(i));
    }
  } else if (plan.leaves_out) {
    for (int i = 1; i <= n; ++i) {
      if (!std::isfinite(y(i))) return false;
    }
  }

  for (int i = 1; i <= n; ++i) {
    const int p = plan.pos[i];
    float d = k.inputs(i) - flow::linear(k.cexp(i) + k.cresp(i), y(i));
    if (plan.mtype == 3 && i <= nliv) d = flow::add_self_term(d, k.cexch(i, i), k.bref(i), y(i));
    if (plan.leaves_out && is_negative_zero(d)) return false;
    s.at(s.y, p) = y(i);
    s.at(s.d, p) = d;
    if (plan.mtype == 1) s.at(s.aux, p) = avail(i);
    if (plan.mtype == 3) s.at(s.aux, p) = i <= nliv ? y(i) : 1.0f;
  }

  refresh_diagonal();
  switch (plan.mtype) {
    case 1:
      sweep_predator(s, y, avail);
      break;
    case 3:
      sweep_lotka_volterra(s, y);
      break;
    default:
      sweep_donor(s, y);
      break;
  }
  for (int i = 1; i <= n; ++i) dydt(i) = s.at(s.d, plan.pos[i]);
  return true;
}

}  // namespace ecodyn
