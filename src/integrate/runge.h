// The integration driver: carries the biomasses over one print interval by
// adaptive Runge-Kutta steps, declaring extinct every compartment that falls
// below the threshold on the way.
#pragma once

#include "integrate/rkqc.h"
#include "network/arrays.h"

namespace ecodyn {

// Advances biomass(1..ncomp) from t_from to t_to under the right-hand side
// rhs (the model equations, derivs), starting with a step of magnitude
// first_step, keeping every step's scaled error within tolerance.
// Stops the program when the steps become smaller than min_step or more than
// max_steps are needed; biomass is written back only when t_to is reached.
void runge(Rhs rhs, Vector& biomass, int ncomp, float t_from, float t_to, float tolerance,
           float first_step, float min_step);

}  // namespace ecodyn
