// One step of the classical fourth-order Runge-Kutta method, and one
// quality-controlled step that estimates its local error by step doubling
// and adapts the step size. Both take their derivatives from the right-hand
// side they are given.
#pragma once

#include "network/arrays.h"

namespace ecodyn {

// The right-hand side of the system being integrated: fills dydt with the
// derivatives at (t, y) and changes nothing else it is given. A plain
// function, so that nothing is allocated to carry it.
using Rhs = void (&)(float t, const WorkVector& y, WorkVector& dydt);

// Returns in y_out the state at t + h reached by one classical Runge-Kutta
// step from y, whose derivatives dydt the caller has evaluated.
void rk4(Rhs rhs, const WorkVector& y, const WorkVector& dydt, int ncomp, float t, float h,
         WorkVector& y_out);

// Advances y and t by one step whose largest error, relative to scale, is
// at most tolerance: tries h_try, shrinks it until the step is accepted,
// returns the step taken in h_did and a step for next time in h_next. dydt
// holds the derivatives at (t, y) on entry and is work space afterwards.
// Stops the program when the step no longer changes t, or when the error
// estimate is not a finite number.
void rkqc(Rhs rhs, WorkVector& y, WorkVector& dydt, int ncomp, float& t, float h_try,
          float tolerance, const WorkVector& scale, float& h_did, float& h_next);

}  // namespace ecodyn
