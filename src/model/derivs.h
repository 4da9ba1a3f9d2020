// The right-hand side of the dynamic model: the rate of change of every
// compartment's biomass under the model type held in konsts.
#pragma once

#include "network/arrays.h"

namespace ecodyn {

// Fills dydt(1..ncomp) with the time derivatives of the biomasses y under
// konsts.mtype. The model is autonomous: t is not used. Under model type 1
// a biomass of zero or less stops the program before dydt is touched.
// While a FastDerivsRun lives it takes the fast evaluation of
// model/fast_derivs.h, otherwise the literal one; both give the same
// results bit for bit (of a NaN, which no comparison tells from another,
// the sign and payload depend on the order of the operands the compiler
// chose).
void derivs(float t, const WorkVector& y, WorkVector& dydt);

// The literal evaluation: every ordered pair of compartments, one chain of
// single-precision sums per compartment. The reference of the fast one.
void derivs_literal(float t, const WorkVector& y, WorkVector& dydt);

// The run of one cycle: from construction, after the coefficients have
// been derived and perturbed, until destruction, the coefficients change
// only by the fading of the living self-coefficients and by extinctions.
// Over that span derivs evaluates with a plan built from konsts at the
// start.
class FastDerivsRun {
 public:
  FastDerivsRun();
  ~FastDerivsRun();
  FastDerivsRun(const FastDerivsRun&) = delete;
  FastDerivsRun& operator=(const FastDerivsRun&) = delete;
};

}  // namespace ecodyn
