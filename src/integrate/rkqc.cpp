#include "integrate/rkqc.h"

#include <cmath>

#include "fio/fio.h"

namespace ecodyn {

namespace {

constexpr float pgrow = -0.2f;     // exponent of the growth of the next step
constexpr float pshrnk = -0.25f;   // exponent of the shrinking of a rejected step
constexpr float safety = 0.9f;     // keeps the new step a little on the safe side
constexpr float errcon = 6.0e-4f;  // (4/safety)^(1/pgrow): at or below, simply grow 4x
constexpr float one = 1.0f;        // largest accepted scaled error

// The two half steps and the full step differ by 15 times the leading error
// term of the half-step result; adding a fifteenth of the difference cancels
// it and makes the accepted step fifth-order accurate.
constexpr float fcor = 1.0f / 15.0f;

// Returns the power x^p evaluated in double precision and kept as a float.
float power(float x, float p) {
  return static_cast<float>(std::pow(static_cast<double>(x), static_cast<double>(p)));
}

}  // namespace

void rk4(Rhs rhs, const WorkVector& y, const WorkVector& dydt, int ncomp, float t, float h,
         WorkVector& y_out) {
  WorkVector trial;
  WorkVector k2;  // second stage, later the fourth
  WorkVector k3;  // third stage, later the sum of both midpoint stages
  const float hh = h * 0.5f;
  const float h6 = h / 6.0f;
  const float t_mid = t + hh;
  for (int i = 1; i <= ncomp; ++i) trial(i) = y(i) + hh * dydt(i);
  rhs(t_mid, trial, k2);
  for (int i = 1; i <= ncomp; ++i) trial(i) = y(i) + hh * k2(i);
  rhs(t_mid, trial, k3);
  for (int i = 1; i <= ncomp; ++i) {
    trial(i) = y(i) + h * k3(i);
    k3(i) = k2(i) + k3(i);
  }
  WorkVector& k4 = k2;
  rhs(t + h, trial, k4);
  for (int i = 1; i <= ncomp; ++i) {
    y_out(i) = y(i) + h6 * ((dydt(i) + k4(i)) + (k3(i) + k3(i)));
  }
}

void rkqc(Rhs rhs, WorkVector& y, WorkVector& dydt, int ncomp, float& t, float h_try,
          float tolerance, const WorkVector& scale, float& h_did, float& h_next) {
  const float t_saved = t;
  WorkVector y_saved;
  WorkVector dydt_saved;
  WorkVector y_temp;
  for (int i = 1; i <= ncomp; ++i) {
    y_saved(i) = y(i);
    dydt_saved(i) = dydt(i);
  }
  float h = h_try;
  float err_max;
  for (;;) {
    // Two half steps into y, from the saved state and derivatives.
    const float hh = h * 0.5f;
    rk4(rhs, y_saved, dydt_saved, ncomp, t_saved, hh, y_temp);
    t = t_saved + hh;
    rhs(t, y_temp, dydt);
    rk4(rhs, y_temp, dydt, ncomp, t, hh, y);
    t = t_saved + h;
    if (t == t_saved) fio::error_stop("(1X,'STEPSIZE NOT SIGNIFICANT IN RKQC.',/)");
    // One full step, and the difference of the two results as error estimate.
    rk4(rhs, y_saved, dydt_saved, ncomp, t_saved, h, y_temp);
    err_max = 0.0f;
    bool finite = true;
    for (int i = 1; i <= ncomp; ++i) {
      y_temp(i) = y(i) - y_temp(i);
      const float e = std::fabs(y_temp(i) / scale(i));
      if (!std::isfinite(e)) finite = false;
      if (e > err_max) err_max = e;
    }
    // Derivatives that overflow or are undefined give an estimate no step
    // size can bring within the tolerance.
    if (!finite) fio::error_stop("(1X,'STEP ERROR NOT A NUMBER IN RKQC.',/)");
    err_max = err_max / tolerance;
    if (!(err_max > one)) break;
    h = (safety * h) * power(err_max, pshrnk);
  }
  h_did = h;
  if (err_max > errcon) {
    h_next = (safety * h) * power(err_max, pgrow);
  } else {
    h_next = h * 4.0f;
  }
  for (int i = 1; i <= ncomp; ++i) y(i) = y(i) + y_temp(i) * fcor;
}

}  // namespace ecodyn
