// The steady-state check of an ordinary network and its throughput times.
#pragma once

#include "network/network.h"

namespace ecodyn {

// Every compartment's total inflow (its input and the flows into it), total
// outflow (export, respiration and the flows out of it) and their
// difference, inflow minus outflow.
struct Balance {
  Vector inflow, outflow, imbalance;
};

// Returns the totals of compartments 1 to ncomp, each summed in single
// precision in the order of the compartments; an imbalance whose magnitude
// is below the tolerance is set to zero (tolerance 0 keeps every one).
Balance balance_of(int ncomp, const Vector& inputs, const Vector& exports,
                   const Vector& respirations, const Matrix& exchange, float tolerance);

// Checks every compartment's balance of inflows and outflows against the
// network's tolerance and reports an unbalanced network on the terminal;
// then finds and reports the shortest and longest throughput times, keeping
// them in net.times. Stops the program when a compartment has no throughput.
void check_balance(Network& net);

}  // namespace ecodyn
