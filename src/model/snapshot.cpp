#include "model/snapshot.h"

#include <cmath>
#include <cstring>
#include <initializer_list>

#include "fio/fio.h"
#include "model/flow_laws.h"
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
    exports(i) = flow::linear(k.cexp(i), y(i));
    respirations(i) = flow::linear(k.cresp(i), y(i));
    // Donor availability under predator control; y(i) > 0 has been checked.
    float avail = 1.0f;
    if (k.mtype == 1) avail = flow::availability(k.bref(i), y(i));
    for (int j = 1; j <= n; ++j) {
      const float c = k.cexch(i, j);
      if (k.mtype == 2 || j > k.nliv) {
        exchange(i, j) = flow::donor(c, y(i));
      } else if (k.mtype == 3) {
        exchange(i, j) = flow::mass_action(c, y(i), y(j));
      } else {
        exchange(i, j) = flow::predator(c, y(j), avail);
      }
    }
  }
}

// Every finite single-precision value survives the seven significant
// digits of E14.7 as a finite value (the largest float is written as
// .3402823E+39, which reads back as a float); infinities and NaN are
// written as text that no reader takes. A record is listed when its first
// value is positive; a NaN there would silently drop the entry, so it
// counts as out of range too.
bool unlistable(float first, std::initializer_list<float> others) {
  if (std::isnan(first)) return true;
  if (!(first > 0.0f)) return false;
  if (!std::isfinite(first)) return true;
  for (const float v : others) {
    if (!std::isfinite(v)) return true;
  }
  return false;
}

constexpr const char* out_of_range = "(1X,'SNAPSHOT VALUE FOR ',A,' ',I2,' IS OUT OF RANGE.')";

fio::ConstChars text(const char* s) { return {s, static_cast<int>(std::strlen(s))}; }

// Stops the program, before anything of the snapshot is written, if a value
// it would list could not be read back: after an overflowing perturbation,
// or in a network whose values lie near the largest float.
void check_values(const Vector& y, const Vector& exports, const Vector& respirations,
                  const Matrix& exchange) {
  const Konsts& k = konsts;
  const int n = k.ncomp;
  const auto stop = [](const char* what, int i) { fio::error_stop(out_of_range, text(what), i); };
  for (int i = 1; i <= n; ++i) {
    if (unlistable(y(i), {k.bref(i), k.cexch(i, i)})) stop("BIOMASS", i);
  }
  if (!std::isfinite(k.tmax)) {
    fio::error_stop("(1X,'SNAPSHOT VALUE FOR THE LONGEST THROUGHPUT TIME IS OUT OF RANGE.')");
  }
  for (int i = 1; i <= n; ++i) {
    if (unlistable(k.inputs(i), {})) stop("INPUT", i);
  }
  for (int i = 1; i <= n; ++i) {
    if (unlistable(exports(i), {k.cexp(i)})) stop("EXPORT", i);
  }
  for (int i = 1; i <= n; ++i) {
    if (unlistable(respirations(i), {k.cresp(i)})) stop("RESPIRATION", i);
  }
  for (int i = 1; i <= n; ++i) {
    for (int j = 1; j <= n; ++j) {
      if (unlistable(exchange(i, j), {k.cexch(i, j)})) {
        fio::error_stop("(1X,'SNAPSHOT VALUE FOR THE FLOW FROM ',I2,' TO ',I2,' IS OUT OF RANGE.')",
                        i, j);
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
  check_values(y, exports, respirations, exchange);

  const RestartColumns restart{k.mtype, t, k.tmax, &k.bref, &k.cexp, &k.cresp, &k.cexch};
  const Description d{&names,   balance_digits, n,        k.nliv,    &y,      &k.inputs,
                      &exports, &respirations,  &exchange, &restart};
  write_network(unit, d);
}

}  // namespace ecodyn
