#include "integrate/runge.h"

#include <cmath>
#include <limits>

#include "fio/fio.h"
#include "integrate/rkqc.h"
#include "integrate/xtinct.h"

namespace ecodyn {

namespace {

constexpr float zero = 0.0f;
constexpr float tiny = 1.0e-30f;   // keeps every error scale above zero
constexpr float small = 1.0e-10f;  // extinction threshold of a biomass
constexpr int max_steps = 10000;

// Returns the distance from t to the next representable time towards
// direction.
float spacing(float t, float direction) {
  const float inf = std::numeric_limits<float>::infinity();
  return std::nextafter(t, direction > zero ? inf : -inf) - t;
}

}  // namespace

void runge(Rhs rhs, Vector& biomass, int ncomp, float t_from, float t_to, float tolerance,
           float first_step, float min_step) {
  float t = t_from;
  // Nothing carries over from the previous interval: each starts again from
  // the first step, which may at most quadruple from one step to the next.
  float h = std::fabs(first_step);
  if (t_to - t_from < zero) h = -h;
  WorkVector y;
  WorkVector dydt;
  WorkVector scale;
  for (int i = 1; i <= ncomp; ++i) y(i) = biomass(i);

  for (int step = 1; step <= max_steps; ++step) {
    rhs(t, y, dydt);
    // The error allowed in a component grows with its biomass and with the
    // change one step makes in it; tiny keeps an empty compartment from
    // demanding an exact step.
    for (int i = 1; i <= ncomp; ++i) scale(i) = std::fabs(y(i)) + std::fabs(h * dydt(i)) + tiny;
    const float t_new = t + h;
    if ((t_new - t_to) * (t_new - t_from) > zero) h = t_to - t;
    // Far from time zero a single-precision time cannot resolve a small
    // step; integrate exactly one spacing of the clock instead.
    if (t + h == t && t_to - t != zero) h = spacing(t, t_to - t);
    float h_did = 0.0f;
    float h_next = 0.0f;
    rkqc(rhs, y, dydt, ncomp, t, h, tolerance, scale, h_did, h_next);
    // The step that reaches the end of the interval is exempt from the
    // checks below; the next interval starts afresh anyway.
    if ((t - t_to) * (t_to - t_from) >= zero) {
      for (int i = 1; i <= ncomp; ++i) biomass(i) = y(i);
      return;
    }
    if (std::fabs(h_next) < min_step) fio::error_stop("(1X,'STEPSIZE SMALLER THAN MINIMUM.',/)");
    h = h_next;
    for (int i = 1; i <= ncomp; ++i) {
      if (y(i) < small) xtinct(t, y, i);
    }
  }
  fio::error_stop("(1X,'MAXIMUM NUMBER OF STEPS EXCEEDED. MAX = ',I7,/)", max_steps);
}

}  // namespace ecodyn
