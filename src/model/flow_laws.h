// The flow laws of the dynamic model, written once for the model equations,
// for the flows a snapshot records and, with their slopes, for the Jacobian
// of the linear analysis. Each law fixes its order of multiplication, so
// that every caller rounds the products alike; the templates take
// single-precision reals or vectors of them, and doubles for the analysis.
#pragma once

#include <cmath>

namespace ecodyn::flow {

// A loss in proportion to the compartment's own biomass: the export
// cexp*y and the respiration cresp*y.
template <class T>
inline T linear(T c, T y) {
  return c * y;
}

// Donor control: a flow in proportion to the donor's biomass, c*y(donor).
template <class T>
inline T donor(T c, T y_donor) {
  return c * y_donor;
}

// Mass action: a flow in proportion to donor and recipient alike,
// (c*y(donor))*y(recipient).
template <class T>
inline T mass_action(T c, T y_donor, T y_recipient) {
  return c * y_donor * y_recipient;
}

// Predator control: a flow in proportion to the recipient's biomass and to
// the donor's availability, (c*y(recipient))*avail(donor).
template <class T>
inline T predator(T c, T y_recipient, T avail_donor) {
  return c * y_recipient * avail_donor;
}

// A living compartment's damping under type 3, c*y*(y - bref), added to
// the running sum d as d - (c*bref)*y + (y*y)*c.
template <class T>
inline T add_self_term(T d, T c, T bref, T y) {
  return d - c * bref * y + y * y * c;
}

// The availability of a donor, exp(1 - bref/y): 1 at the reference
// biomass, towards 0 as the donor is eaten out, towards e when it is
// plentiful. The exponent is rounded to single precision, the exponential
// taken in double precision and rounded back.
inline float availability(float bref, float y) {
  const float x = 1.0f - bref / y;
  return static_cast<float>(std::exp(static_cast<double>(x)));
}

// The slopes of the laws, for the Jacobian of the model: the change of a
// flow with the biomass of its donor or of its recipient, in the precision
// of the arguments.

// Returns d/dy of linear(c, y) and of donor(c, y_donor): c.
template <class T>
inline T linear_slope(T c) {
  return c;
}

// Returns d/dy(donor) of mass_action(c, y_donor, y_recipient): c*y(recipient).
template <class T>
inline T mass_action_by_donor(T c, T y_recipient) {
  return c * y_recipient;
}

// Returns d/dy(recipient) of mass_action(c, y_donor, y_recipient): c*y(donor).
template <class T>
inline T mass_action_by_recipient(T c, T y_donor) {
  return c * y_donor;
}

// Returns d/dy(recipient) of predator(c, y_recipient, avail): c*avail(donor).
template <class T>
inline T predator_by_recipient(T c, T avail_donor) {
  return c * avail_donor;
}

// Returns d/dy(donor) of predator(c, y_recipient, avail(donor)):
// c*y(recipient) times the availability's slope.
template <class T>
inline T predator_by_donor(T c, T y_recipient, T avail_slope_donor) {
  return c * y_recipient * avail_slope_donor;
}

// Returns d/dy of the self-term c*y*(y - bref): c*(2y - bref).
template <class T>
inline T self_term_slope(T c, T bref, T y) {
  return c * (y + y - bref);
}

// The availability exp(1 - bref/y) in double precision throughout, for the
// linear analysis of the model.
inline double availability(double bref, double y) { return std::exp(1.0 - bref / y); }

// Returns d/dy of exp(1 - bref/y): the availability times bref/y^2.
inline double availability_slope(double bref, double y) {
  return availability(bref, y) * bref / (y * y);
}

}  // namespace ecodyn::flow
