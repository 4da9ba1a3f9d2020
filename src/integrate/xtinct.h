// Extinction: a compartment whose biomass has fallen below the threshold is
// held at a small residual biomass, cut off from every other compartment.
#pragma once

#include "network/arrays.h"

namespace ecodyn {

// Declares compartment k extinct at time t: sets y(k) and its reference
// biomass to 1.0e-9, gives it a constant input of 1.0e-10 and a loss of 0.1
// per unit time (so that 1.0e-9 is its resting state), clears its row and
// column of exchange coefficients, and reports it to the run's observer.
void xtinct(float t, WorkVector& y, int k);

}  // namespace ecodyn
