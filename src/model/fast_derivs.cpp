#include "model/fast_derivs.h"

#include <algorithm>
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
// The chains of different compartments are independent. Here eight
// compartments form a lane group whose sums are one vector, and up to four
// groups form a set whose vectors stay in registers while the set's
// partners pass by in increasing order: in each slot every group of the set
// adds the terms of one of its partners (a different one per group), so
// that the chains of the set advance side by side. Each lane performs the
// very operations of the literal chain, in its order, with the same
// products rounded at the same places (vector arithmetic rounds like scalar
// arithmetic; no fused multiply-add), so each sum comes out bit for bit as
// the literal one.
//
// A block is the eight compartments of one lane group paired with one
// partner j. A block whose sixteen coefficients (i -> j and j -> i) are all
// zero is left out, and a group with fewer partners than the others of its
// set fills its last slots with blocks of zero coefficients. Both are exact
// only where the literal terms of a pair without coefficients leave the sum
// unchanged:
//
//  - Model type 1 adds (d + 0) - 0, the flows of a coefficient not above
//    zero being zero whatever the biomasses. d + 0 is d unless d is -0
//    (-0 + 0 = +0).
//  - Model types 2 and 3 add products of a zero coefficient with
//    biomasses. With finite biomasses each product is a signed zero and
//    d + (+-0) and d - (+-0) are d unless d is -0. An infinite biomass
//    makes the product a NaN (0 * inf), so a biomass that is not finite
//    rules the skipping and the padding out.
//  - A running sum that is not -0 never becomes -0 by adding or
//    subtracting (an exact cancellation gives +0), so it suffices that the
//    sum is not -0 where the exchange terms begin: after the linear terms,
//    and under type 3 after a living compartment's self-term.
//
// When a plan leaves blocks out or pads slots and a state does not meet
// these conditions, fast_derivs declines and derivs takes the literal
// evaluation. A plan that does neither (a dense network) has no conditions.
//
// Model type 1 gives a flow only where its coefficient is above zero. The
// plan holds every coefficient that is not as +0, so the sign needs no
// test at every pair: with a biomass above zero and an availability not
// below zero, a product with +0 is +0, the very flow the literal
// evaluation adds, provided both are finite (0 * inf is a NaN). A state
// with a biomass or an availability that is not finite is left to the
// literal evaluation.
//
// Under type 3 the diagonal pair of a living compartment is left out of
// its chain (its self-term stands in for it): its lane carries zero
// coefficients, like a left-out block.
//
// The plan holds packed copies of the coefficients. Within the run of a
// cycle they change in two ways only: the simulation loop fades the
// diagonal of the living compartments between print intervals (a scaling
// that may end at zero), which each evaluation compares with konsts and
// copies when it has changed; and an extinction zeroes a row and a column,
// after which xtinct calls coefficients_changed and the plan is rebuilt.
// Neither can make a coefficient nonzero that was zero, or one above zero
// that was not, so no left-out block ever comes to matter. The loader, the
// derivation and the perturbations write konsts before the run starts,
// when the plan is built; outside a run derivs uses the literal evaluation
// (see derivs.cpp).

namespace ecodyn {

namespace {

constexpr int lanes = 8;
constexpr int max_groups = (max_compartments + lanes - 1) / lanes;
constexpr int padded = max_groups * lanes;
constexpr int max_width = 4;                               // lane groups summed together
constexpr int max_entries = max_groups * max_compartments;  // every set's slots, padded

// The sweeps are compiled twice, for AVX2 and for any x86-64, and the one
// the processor can run is chosen when the program starts. Clang 14 cannot
// compile the clones (it aborts); its builds, the fuzzing build, keep the
// version for any machine.
#if defined(__clang__)
#define ECODYN_CLONES
#else
#define ECODYN_CLONES __attribute__((target_clones("avx2", "default")))
#endif

typedef float Lanes __attribute__((vector_size(lanes * sizeof(float)), may_alias));
typedef std::int32_t Mask __attribute__((vector_size(lanes * sizeof(float)), may_alias));

// The coefficients of one block: cin(l) of the flow j -> i and cout(l) of
// the flow i -> j, for the compartment i in lane l of the group.
struct Block {
  Lanes cin;
  Lanes cout;
};

// A set of lane groups summed side by side: its partners with a living
// compartment first, slot by slot, one entry per group in each slot.
struct Set {
  int first_group = 0;
  int width = 0;      // groups in the set, 1 to max_width
  int living = 0;     // slots whose partners are living
  int nonliving = 0;  // slots whose partners are not
  int first_entry = 0;
};

struct Plan {
  bool built = false;
  unsigned generation = 0;
  int ncomp = 0;
  int nliv = 0;
  int mtype = 0;
  int groups = 0;
  int sets = 0;
  bool leaves_out = false;  // a block left out or a slot padded: conditions apply
  int visited = 0;          // blocks that carry a coefficient
  Set set[max_groups];
  // Entry e: the block and the lane position of its partner j (j - 1).
  Block block[max_entries];
  int partner[max_entries];
  Mask living[max_groups];  // -1 in the lanes of living compartments
  // The living diagonals (i, i) in the plan, to follow their fading.
  int diagonals = 0;
  int diag_entry[max_compartments];
  int diag_lane[max_compartments];
  int diag_of[max_compartments];
  float diag_value[max_compartments];  // as copied into the block
};

Plan plan;
unsigned generation = 1;

// The per-call state of the compartments by lane position (compartment
// i in position i - 1), padded with zeros to whole groups.
struct State {
  alignas(32) float y[padded];
  alignas(32) float d[padded];    // the running sums
  alignas(32) float aux[padded];  // type 1: availability; type 3: y if living, else 1
  // y and aux of each partner in every lane, filled by the sweep.
  Lanes y_partner[max_compartments];
  Lanes aux_partner[max_compartments];
};

// What a pair law needs of the compartments of one group.
struct Member {
  Lanes y;
  Lanes aux;
  Mask living;
};

inline Lanes group(const float* v, int g) { return *reinterpret_cast<const Lanes*>(v + g * lanes); }

// Fills y_partner (and aux_partner) of the state. A macro, not a function:
// a vector built from scalars in a function of its own would be built for
// the baseline processor even where it is inlined into a vector-extension
// clone.
#define ECODYN_SPREAD_PARTNERS(s, with_aux)                              \
  for (int p = 0; p < plan.ncomp; ++p) {                                \
    const float x = (s).y[p];                                           \
    (s).y_partner[p] = Lanes{x, x, x, x, x, x, x, x};                   \
    if (with_aux) {                                                     \
      const float a = (s).aux[p];                                       \
      (s).aux_partner[p] = Lanes{a, a, a, a, a, a, a, a};               \
    }                                                                   \
  }

// Copies the faded diagonal of the living compartments into the plan. It
// changes once per print interval, so it is written only when it differs:
// a vector load right after a store into one of its lanes would wait.
void refresh_diagonal() {
  for (int k = 0; k < plan.diagonals; ++k) {
    const float c = konsts.cexch(plan.diag_of[k], plan.diag_of[k]);
    if (std::memcmp(&plan.diag_value[k], &c, sizeof c) == 0) continue;
    plan.diag_value[k] = c;
    const float held = plan.mtype != 1 || c > 0.0f ? c : 0.0f;
    Block& blk = plan.block[plan.diag_entry[k]];
    blk.cin[plan.diag_lane[k]] = blk.cout[plan.diag_lane[k]] = held;
  }
}

// The sums of one set of W groups; the pair law of each model type.
template <int W, class Pair>
__attribute__((always_inline)) inline void sweep_set(const Set& set, State& s, Pair pair) {
  Lanes d[W];
  Member i[W];
  for (int m = 0; m < W; ++m) {
    const int g = set.first_group + m;
    d[m] = group(s.d, g);
    i[m] = Member{group(s.y, g), group(s.aux, g), plan.living[g]};
  }
  int e = set.first_entry;
  for (int k = 0; k < set.living; ++k, e += W) {
    for (int m = 0; m < W; ++m) d[m] = pair.template at<true>(d[m], i[m], e + m);
  }
  for (int k = 0; k < set.nonliving; ++k, e += W) {
    for (int m = 0; m < W; ++m) d[m] = pair.template at<false>(d[m], i[m], e + m);
  }
  for (int m = 0; m < W; ++m) *reinterpret_cast<Lanes*>(s.d + (set.first_group + m) * lanes) = d[m];
}

template <class Pair>
__attribute__((always_inline)) inline void sweep(State& s, Pair pair) {
  for (int t = 0; t < plan.sets; ++t) {
    const Set& set = plan.set[t];
    switch (set.width) {
      case 1: sweep_set<1>(set, s, pair); break;
      case 2: sweep_set<2>(set, s, pair); break;
      case 3: sweep_set<3>(set, s, pair); break;
      default: sweep_set<4>(set, s, pair); break;
    }
  }
}

// Linear donor control: (c(j,i)*y(j) + d) - c(i,j)*y(i).
struct DonorPair {
  const State& s;
  template <bool living_j>
  Lanes at(Lanes d, const Member& i, int e) const {
    const Block& k = plan.block[e];
    const Lanes y_j = s.y_partner[plan.partner[e]];
    return (flow::donor(k.cin, y_j) + d) - flow::donor(k.cout, i.y);
  }
};

// Damped Lotka-Volterra. With a(x) = y(x) for a living x and 1 otherwise,
// every pair is (d - (c(i,j)*y(i))*a(j)) + (c(j,i)*y(j))*a(i); a product
// with 1 is exact, so this is the literal sum of each kind of pair.
struct LotkaVolterraPair {
  const State& s;
  template <bool living_j>
  Lanes at(Lanes d, const Member& i, int e) const {
    const Block& k = plan.block[e];
    const Lanes y_j = s.y_partner[plan.partner[e]];
    const Lanes y_i = i.y;
    if constexpr (living_j) {
      return (d - flow::mass_action(k.cout, y_i, y_j)) + flow::mass_action(k.cin, y_j, i.aux);
    } else {
      return (d - flow::donor(k.cout, y_i)) + flow::mass_action(k.cin, y_j, i.aux);
    }
  }
};

// Generic predator control: (d + inflow) - outflow. The plan holds each
// coefficient that is not above zero as +0, whose flows are +0 as the
// literal evaluation's are: the biomasses and availabilities are finite
// and not negative.
struct PredatorPair {
  const State& s;
  template <bool living_j>
  Lanes at(Lanes d, const Member& i, int e) const {
    const Block& k = plan.block[e];
    const int j = plan.partner[e];
    const Lanes y_j = s.y_partner[j];
    const Lanes y_i = i.y;
    Lanes outflow;
    if constexpr (living_j) {
      outflow = flow::predator(k.cout, y_j, i.aux);
    } else {
      outflow = flow::donor(k.cout, y_i);
    }
    const Mask living_in = reinterpret_cast<Mask>(flow::predator(k.cin, y_i, s.aux_partner[j]));
    const Mask donor_in = reinterpret_cast<Mask>(flow::donor(k.cin, y_j));
    const Lanes inflow = reinterpret_cast<Lanes>((i.living & living_in) | (~i.living & donor_in));
    return d + inflow - outflow;
  }
};

ECODYN_CLONES void sweep_donor(State& s) {
  ECODYN_SPREAD_PARTNERS(s, false);
  sweep(s, DonorPair{s});
}

ECODYN_CLONES void sweep_lotka_volterra(State& s) {
  ECODYN_SPREAD_PARTNERS(s, false);
  sweep(s, LotkaVolterraPair{s});
}

ECODYN_CLONES void sweep_predator(State& s) {
  ECODYN_SPREAD_PARTNERS(s, true);
  sweep(s, PredatorPair{s});
}

// Returns whether any of the n values is -0.
bool any_negative_zero(const float* v, int n) {
  std::uint32_t found = 0;
  for (int p = 0; p < n; ++p) {
    std::uint32_t bits;
    std::memcpy(&bits, v + p, sizeof bits);
    found |= bits == 0x80000000u;
  }
  return found != 0;
}

}  // namespace

void coefficients_changed() { ++generation; }

void build_fast_derivs() {
  const Konsts& k = konsts;
  const int n = k.ncomp;
  const int nliv = k.nliv;
  plan.built = true;
  plan.generation = generation;
  plan.ncomp = n;
  plan.nliv = nliv;
  plan.mtype = k.mtype;
  plan.groups = (n + lanes - 1) / lanes;
  plan.sets = (plan.groups + max_width - 1) / max_width;
  plan.leaves_out = false;
  plan.visited = 0;
  plan.diagonals = 0;
  for (int p = 0; p < padded; ++p) plan.living[p / lanes][p % lanes] = p < nliv ? -1 : 0;

  // Under type 3 a living compartment's pair with itself is its self-term,
  // not summed with the pairs. Under type 1 a coefficient not above zero
  // carries no flow: it is held as +0.
  const auto coefficient = [&](float c) { return k.mtype != 1 || c > 0.0f ? c : 0.0f; };
  const auto self_term = [&](int i, int j) { return k.mtype == 3 && i == j && i <= nliv; };
  // The partners of each group that carry a coefficient, in increasing order.
  static int partners[max_groups][max_compartments];
  int count[max_groups][2] = {};  // living partners, the others
  for (int g = 0; g < plan.groups; ++g) {
    for (int j = 1; j <= n; ++j) {
      bool any = false;
      for (int i = g * lanes + 1; i <= std::min(n, g * lanes + lanes); ++i) {
        // NaN counts as nonzero, and is kept.
        if (self_term(i, j)) continue;
        if (!(k.cexch(j, i) == 0.0f) || !(k.cexch(i, j) == 0.0f)) any = true;
      }
      if (!any) {
        plan.leaves_out = true;
        continue;
      }
      partners[g][count[g][0] + count[g][1]] = j;
      ++count[g][j <= nliv ? 0 : 1];
      ++plan.visited;
    }
  }

  int e = 0;
  for (int t = 0, g0 = 0; t < plan.sets; ++t) {
    Set& set = plan.set[t];
    // Groups spread evenly over the sets.
    set.width = (plan.groups - g0 + plan.sets - t - 1) / (plan.sets - t);
    set.first_group = g0;
    set.first_entry = e;
    set.living = set.nonliving = 0;
    for (int m = 0; m < set.width; ++m) {
      set.living = std::max(set.living, count[g0 + m][0]);
      set.nonliving = std::max(set.nonliving, count[g0 + m][1]);
    }
    for (int phase = 0; phase < 2; ++phase) {
      const int slots = phase == 0 ? set.living : set.nonliving;
      for (int slot = 0; slot < slots; ++slot) {
        for (int m = 0; m < set.width; ++m, ++e) {
          const int g = g0 + m;
          Block& blk = plan.block[e];
          blk = Block{};
          plan.partner[e] = 0;
          // A slot past the group's partners is padding: no coefficient.
          if (slot >= count[g][phase]) {
            plan.leaves_out = true;
            continue;
          }
          const int j = partners[g][(phase == 0 ? 0 : count[g][0]) + slot];
          plan.partner[e] = j - 1;
          for (int l = 0; l < lanes; ++l) {
            const int i = g * lanes + l + 1;
            if (i > n) break;
            if (self_term(i, j)) {
              plan.leaves_out = true;
              continue;
            }
            blk.cin[l] = coefficient(k.cexch(j, i));
            blk.cout[l] = coefficient(k.cexch(i, j));
            if (i == j && i <= nliv) {
              plan.diag_entry[plan.diagonals] = e;
              plan.diag_lane[plan.diagonals] = l;
              plan.diag_of[plan.diagonals] = i;
              plan.diag_value[plan.diagonals] = k.cexch(i, i);
              ++plan.diagonals;
            }
          }
        }
      }
    }
    g0 += set.width;
  }
}

FastDerivsShape fast_derivs_shape() { return {plan.visited, plan.ncomp * plan.groups}; }

bool fast_derivs(const WorkVector& y, WorkVector& dydt) {
  const Konsts& k = konsts;
  if (!plan.built || plan.ncomp != k.ncomp || plan.nliv != k.nliv || plan.mtype != k.mtype) {
    return false;
  }
  if (plan.generation != generation) build_fast_derivs();
  const int n = k.ncomp;
  const int nliv = k.nliv;

  State s;
  for (int p = n; p < padded; ++p) s.y[p] = s.d[p] = s.aux[p] = 0.0f;
  if (plan.mtype == 1) {
    // The availability of every donor first, stopping before anything is
    // written, as the literal evaluation does.
    for (int i = 1; i <= n; ++i) {
      if (y(i) <= 0.0f) fio::error_stop("(1X,'BIOMASS DRIVEN NEGATIVE.')");
      s.aux[i - 1] = flow::availability(k.bref(i), y(i));
    }
    bool finite = true;
    for (int i = 1; i <= n; ++i) {
      finite = finite && std::isfinite(y(i)) && std::isfinite(s.aux[i - 1]);
    }
    if (!finite) return false;
  } else if (plan.leaves_out) {
    bool finite = true;
    for (int i = 1; i <= n; ++i) finite = finite && std::isfinite(y(i));
    if (!finite) return false;
  }
  for (int i = 1; i <= n; ++i) {
    s.y[i - 1] = y(i);
    s.d[i - 1] = k.inputs(i) - flow::linear(k.cexp(i) + k.cresp(i), y(i));
  }
  if (plan.mtype == 3) {
    for (int i = 1; i <= nliv; ++i) {
      s.d[i - 1] = flow::add_self_term(s.d[i - 1], k.cexch(i, i), k.bref(i), y(i));
    }
    for (int i = 1; i <= n; ++i) s.aux[i - 1] = i <= nliv ? y(i) : 1.0f;
  }
  if (plan.leaves_out && any_negative_zero(s.d, n)) return false;

  refresh_diagonal();
  switch (plan.mtype) {
    case 1: sweep_predator(s); break;
    case 3: sweep_lotka_volterra(s); break;
    default: sweep_donor(s); break;
  }
  for (int i = 1; i <= n; ++i) dydt(i) = s.d[i - 1];
  return true;
}

}  // namespace ecodyn
