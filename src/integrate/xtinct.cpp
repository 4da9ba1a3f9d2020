#include "integrate/xtinct.h"

#include "integrate/observer.h"
#include "model/fast_derivs.h"
#include "model/konsts.h"

namespace ecodyn {

void xtinct(float t, WorkVector& y, int k) {
  Konsts& c = konsts;
  // Input 1.0e-10 against a loss of 0.1 * y rests at exactly 1.0e-9, ten
  // times above the threshold, so the compartment is never reported again.
  y(k) = 1.0e-9f;
  c.bref(k) = 1.0e-9f;
  c.inputs(k) = 1.0e-10f;
  c.cexp(k) = 0.0f;
  c.cresp(k) = 0.1f;
  for (int j = 1; j <= c.ncomp; ++j) {
    c.cexch(j, k) = 0.0f;
    c.cexch(k, j) = 0.0f;
  }
  coefficients_changed();
  report_extinction(t, k);
}

}  // namespace ecodyn
