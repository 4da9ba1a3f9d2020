// A fast evaluation of the model equations with bit for bit the results of
// derivs' literal evaluation: it visits only the pairs of compartments that
// carry a coefficient and sums many compartments side by side.
#pragma once

#include "network/arrays.h"

namespace ecodyn {

// Builds the plan of the evaluation from konsts as they stand: which pairs
// of compartments can carry a flow, with packed copies of their
// coefficients. The plan stays valid while coefficients change only by the
// fading of the living self-coefficients, and, after coefficients_changed,
// by extinction.
void build_fast_derivs();

// Marks the coefficients of konsts as rewritten (an extinction); the next
// evaluation rebuilds its plan from them.
void coefficients_changed();

// Fills dydt(1..ncomp) as derivs' literal evaluation would, using the plan
// built last, and returns true; or returns false, with dydt untouched, when
// it cannot guarantee the identical result (no plan for konsts' counts and
// model type, or a state outside the conditions of the plan). Under model
// type 1 it stops the program on a biomass of zero or less exactly as the
// literal evaluation does.
bool fast_derivs(const WorkVector& y, WorkVector& dydt);

// What the plan built last visits: pairs of compartments in blocks of
// side-by-side sums, out of all blocks of the network.
struct FastDerivsShape {
  int blocks_visited = 0;
  int blocks_total = 0;
};
FastDerivsShape fast_derivs_shape();

}  // namespace ecodyn
