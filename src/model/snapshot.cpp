#include "model/snapshot.h"

#include <array>

#include "fio/fio.h"
#include "model/flow_laws.h"
#include "model/konsts.h"
#include "network/writer.h"

namespace ecodyn {

namespace {

constexpr float zero = 0.0f;  // value on the terminators of the flow lists
constexpr fio::Unit unit = fio::snapshot_file;

// Writes a vector list record of index i with the given values.
template <class... V>
void record(int i, V... values) {
  const std::array<float, sizeof...(V)> v{values...};
  write_vector_record(unit, i, v);
}

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

  write_title(unit, names, balance_digits);
  write_counts(unit, n, k.nliv, k.mtype, t);
  for (int i = 1; i <= n; ++i) write_name(unit, names, i);

  current_flows(y, exports, respirations, exchange);

  // Only positive values are listed: an absent entry reads back as zero.
  // The biomass terminator carries the longest throughput time, the time
  // scale of the fading self-coefficients.
  for (int i = 1; i <= n; ++i) {
    if (y(i) > zero) record(i, y(i), k.bref(i), k.cexch(i, i));
  }
  record(ndfl, k.tmax);
  for (int i = 1; i <= n; ++i) {
    if (k.inputs(i) > zero) record(i, k.inputs(i));
  }
  record(ndfl, zero);
  for (int i = 1; i <= n; ++i) {
    if (exports(i) > zero) record(i, exports(i), k.cexp(i));
  }
  record(ndfl, zero);
  for (int i = 1; i <= n; ++i) {
    if (respirations(i) > zero) record(i, respirations(i), k.cresp(i));
  }
  record(ndfl, zero);
  for (int i = 1; i <= n; ++i) {
    for (int j = 1; j <= n; ++j) {
      if (exchange(i, j) > zero) {
        const std::array<float, 2> v{exchange(i, j), k.cexch(i, j)};
        write_matrix_record(unit, i, j, v);
      }
    }
  }
  const std::array<float, 1> v{zero};
  write_matrix_record(unit, ndfl, ndfl, v);
}

}  // namespace ecodyn
