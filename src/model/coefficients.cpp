#include "model/coefficients.h"

#include "fio/fio.h"
#include "model/fast_derivs.h"
#include "model/konsts.h"

namespace ecodyn {

namespace {

// Returns the net supply of a living compartment at the steady state: what
// comes in from outside and from every compartment (its own self-flow
// included), less what it respires.
float supply(const Network& net, int i) {
  const Konsts& k = konsts;
  float s = k.inputs(i) - net.respirations(i);
  for (int j = 1; j <= k.ncomp; ++j) s = s + net.exchange(j, i);
  return s;
}

}  // namespace

void derive_coefficients(const Network& net, int model_type) {
  Konsts& k = konsts;
  k.mtype = model_type;
  coefficients_changed();

  const int n = k.ncomp;
  const int nliv = k.nliv;
  const Vector& b = net.biomass;

  for (int i = 1; i <= n; ++i) {
    k.cexp(i) = 0.0f;
    k.cresp(i) = 0.0f;
    if (b(i) <= 0.0f) fio::error_stop("(1X,'BIOMASSES MUST BE GREATER THAN ZERO.')");
    // A snapshot keeps the reference state its model was built around.
    if (!net.restart) k.bref(i) = b(i);
    for (int j = 1; j <= n; ++j) k.cexch(i, j) = 0.0f;
  }

  if (model_type != 3) {
    // Linear losses per unit of the compartment's own biomass. Under
    // predator control a flow into a living compartment is set by the
    // consumer, so its coefficient is per unit of the recipient; every
    // other flow is per unit of the donor.
    for (int i = 1; i <= n; ++i) {
      k.cexp(i) = net.exports(i) / b(i);
      k.cresp(i) = net.respirations(i) / b(i);
      for (int j = 1; j <= n; ++j) {
        if (model_type == 1 && j <= nliv) {
          k.cexch(i, j) = net.exchange(i, j) / b(j);
        } else {
          k.cexch(i, j) = net.exchange(i, j) / b(i);
        }
      }
    }
    return;
  }

  // Damped Lotka-Volterra: feeding by living compartments is mass action,
  // per unit of donor times recipient; flows into detritus stay donor
  // controlled. Losses are per unit of the reference biomass.
  for (int i = 1; i <= n; ++i) {
    k.cexp(i) = net.exports(i) / k.bref(i);
    k.cresp(i) = net.respirations(i) / k.bref(i);
    for (int j = 1; j <= n; ++j) {
      if (j <= nliv) {
        k.cexch(i, j) = net.exchange(i, j) / (b(i) * b(j));
      } else {
        k.cexch(i, j) = net.exchange(i, j) / b(i);
      }
    }
  }
  // The self-term c*y*(y - bref) of a living compartment vanishes at 0 and at
  // bref and peaks at bref/2 with the value -c*bref^2/4; choosing that peak
  // equal to the compartment's supply gives c = -4*supply/bref^2, which damps
  // the compartment towards its reference biomass.
  for (int i = 1; i <= nliv; ++i) {
    const float s = supply(net, i);
    k.cexch(i, i) = -(s * 4.0f) / (k.bref(i) * k.bref(i));
  }
}

}  // namespace ecodyn
