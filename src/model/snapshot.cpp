#include "model/snapshot.h"

#include <cmath>

#include "fio/fio.h"
#include "model/konsts.h"
#include "network/writer.h"

namespace ecodyn {

namespace {

constexpr fio::Unit unit = fio::snapshot_file;

// Returns the current flows of the running model into exports,
// respirations and exchange.
void current_flows(const Vector& y, Vector& exports, Vector& respirations, Matrix& exchange) {
  const Konsts& k = konsts;
  const int n = k.ncomp;
  for (int i = 1; i <= n; ++i) {
    exports(i) = k.cexp(i) * y(i);
    respirations(i) = k.cresp(i) * y(i);
    // Donor availability under predator control; y(i) > 0 has been checked.
    float avail = 1.0f;
    if (k.mtype == 1) {
      avail = static_cast<float>(std::exp(static_cast<double>(1.0f - k.bref(i) / y(i))));
    }
    for (int j = 1; j <= n; ++j) {
      const float c = k.cexch(i, j);
      if (k.mtype == 2 || j > k.nliv) {
        exchange(i, j) = c * y(i);
      } else if (k.mtype == 3) {
        exchange(i, j) = c * y(i) * y(j);
      } else {
        exchange(i, j) = avail * (c * y(j));
      }
    }
  }
}

}  // namespace

void snapit(float t, const NameTable& names, int balance_digits, const Vector& y, Vector& exports,
            Vector& respirations, Matrix& exchange, int /*ld*/) {
  const Konsts& k = konsts;
  const int n = k.ncomp;
  // Under predator control every donor's availability needs its biomass to
  // be positive. Checking before the first record keeps a snapshot that
  // cannot be completed out of the file altogether, so that what the file
  // holds always reads back.
  if (k.mtype == 1) {
    for (int i = 1; i <= n; ++i) {
      if (y(i) <= 0.0f) fio::error_stop("(1X,'BIOMASS ',I2,' IS OUT OF BOUNDS.')", i);
    }
  }

  current_flows(y, exports, respirations, exchange);

  const RestartColumns restart{k.mtype, t, k.tmax, &k.bref, &k.cexp, &k.cresp, &k.cexch};
  const Description d{&names,   balance_digits, n,        k.nliv,    &y,      &k.inputs,
                      &exports, &respirations,  &exchange, &restart};
  write_network(unit, d);
}

}  // namespace ecodyn
