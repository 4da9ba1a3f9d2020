#include "model/derivs.h"

#include "fio/fio.h"
#include "model/fast_derivs.h"
#include "model/flow_laws.h"
#include "model/konsts.h"

namespace ecodyn {

namespace {

// Generic predator control. A consumer j takes from donor i in proportion
// to its own biomass and to the donor's availability exp(1 - bref/y), which
// is 1 at the reference biomass, vanishes as the donor is eaten out and
// saturates at e when it is plentiful. Flows into detritus are donor
// controlled.
void predator_control(const WorkVector& y, WorkVector& dydt) {
  const Konsts& k = konsts;
  const int n = k.ncomp;
  const int nliv = k.nliv;
  // The availability depends on the donor only: one exponential per
  // compartment and call, not one per flow.
  WorkVector avail;
  for (int i = 1; i <= n; ++i) {
    if (y(i) <= 0.0f) fio::error_stop("(1X,'BIOMASS DRIVEN NEGATIVE.')");
    avail(i) = flow::availability(k.bref(i), y(i));
  }
  for (int i = 1; i <= n; ++i) {
    float d = k.inputs(i) - flow::linear(k.cexp(i) + k.cresp(i), y(i));
    const bool living = i <= nliv;
    // A coefficient of zero or less carries no flow.
    for (int j = 1; j <= n; ++j) {
      const float out_c = k.cexch(i, j);
      const float in_c = k.cexch(j, i);
      float outflow = 0.0f;
      float inflow = 0.0f;
      if (out_c > 0.0f) {
        outflow = j <= nliv ? flow::predator(out_c, y(j), avail(i)) : flow::donor(out_c, y(i));
      }
      if (in_c > 0.0f) {
        inflow = living ? flow::predator(in_c, y(i), avail(j)) : flow::donor(in_c, y(j));
      }
      d = d + inflow - outflow;
    }
    dydt(i) = d;
  }
}

// Linear donor control: every flow in proportion to its donor's biomass.
void donor_control(const WorkVector& y, WorkVector& dydt) {
  const Konsts& k = konsts;
  const int n = k.ncomp;
  for (int i = 1; i <= n; ++i) {
    float d = k.inputs(i) - flow::linear(k.cexp(i) + k.cresp(i), y(i));
    for (int j = 1; j <= n; ++j) {
      d = (flow::donor(k.cexch(j, i), y(j)) + d) - flow::donor(k.cexch(i, j), y(i));
    }
    dydt(i) = d;
  }
}

// Damped Lotka-Volterra: feeding by a living compartment is mass action in
// donor and recipient; flows into detritus are donor controlled; a living
// compartment's diagonal coefficient is its self-term c*y*(y - bref).
void lotka_volterra(const WorkVector& y, WorkVector& dydt) {
  const Konsts& k = konsts;
  const int n = k.ncomp;
  const int nliv = k.nliv;
  for (int i = 1; i <= nliv; ++i) {
    float d = k.inputs(i) - flow::linear(k.cexp(i) + k.cresp(i), y(i));
    d = flow::add_self_term(d, k.cexch(i, i), k.bref(i), y(i));
    // The partners in increasing order, the compartment itself left out.
    for (int j = 1; j <= nliv; ++j) {
      if (j != i) {
        d = d - flow::mass_action(k.cexch(i, j), y(i), y(j)) +
            flow::mass_action(k.cexch(j, i), y(j), y(i));
      }
    }
    for (int j = nliv + 1; j <= n; ++j) {
      d = d - flow::donor(k.cexch(i, j), y(i)) + flow::mass_action(k.cexch(j, i), y(j), y(i));
    }
    dydt(i) = d;
  }
  for (int i = nliv + 1; i <= n; ++i) {
    float d = k.inputs(i) - flow::linear(k.cexp(i) + k.cresp(i), y(i));
    for (int j = 1; j <= nliv; ++j) {
      d = d - flow::mass_action(k.cexch(i, j), y(i), y(j)) + flow::donor(k.cexch(j, i), y(j));
    }
    for (int j = nliv + 1; j <= n; ++j) {
      d = d - flow::donor(k.cexch(i, j), y(i)) + flow::donor(k.cexch(j, i), y(j));
    }
    dydt(i) = d;
  }
}

bool fast_run = false;

// Up to eight compartments fill one vector of the fast evaluation; so few
// are summed as fast by their literal chains.
constexpr int fast_from = 9;

}  // namespace

FastDerivsRun::FastDerivsRun() {
  build_fast_derivs();
  fast_run = true;
}

FastDerivsRun::~FastDerivsRun() { fast_run = false; }

void derivs(float t, const WorkVector& y, WorkVector& dydt) {
  if (fast_run && konsts.ncomp >= fast_from && fast_derivs(y, dydt)) return;
  derivs_literal(t, y, dydt);
}

void derivs_literal(float /*t*/, const WorkVector& y, WorkVector& dydt) {
  switch (konsts.mtype) {
    case 1:
      predator_control(y, dydt);
      break;
    case 3:
      lotka_volterra(y, dydt);
      break;
    default:
      donor_control(y, dydt);
      break;
  }
}

}  // namespace ecodyn
