// The right-hand side of the dynamic model: the rate of change of every
// compartment's biomass under the model type held in konsts.
#pragma once

#include "network/arrays.h"

namespace ecodyn {

// Fills dydt(1..ncomp) with the time derivatives of the biomasses y under
// konsts.mtype. The model is autonomous: t is not used. Under model type 1
// a biomass of zero or less stops the program before dydt is touched.
void derivs(float t, const WorkVector& y, WorkVector& dydt);

}  // namespace ecodyn
