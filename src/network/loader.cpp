#include "network/loader.h"

#include <array>
#include <cmath>
#include <span>

#include "fio/fio.h"
#include "model/konsts.h"
#include "network/listing.h"

namespace ecodyn {

namespace {

constexpr const char* compartments_error = "('0 ERROR NUMBER OF COMPARTMENTS MAX=',I3)";
constexpr const char* index_error =
    "('0 ERROR ',A,' LIST INDEX',I4,' GREATER THAN NUMBER OF COMPARTMENTS')";

fio::ConstChars text(const char* s) {
  int n = 0;
  while (s[n] != '\0') ++n;
  return {s, n};
}

// One record of a vector list: the index and up to three values.
struct VectorRecord {
  int i = 0;
  std::array<float, 3> v{};
};

// Reads one vector list by the list rule: at most ncomp + 1 records, ended
// early by a record whose index is zero or below. Each record with a positive
// index is handed to take(record). Returns the first value of the record that
// ended the list: the terminator, or the last record when there was none.
// values: how many value fields are parsed (the rest of the line is ignored).
template <class Take>
float read_vector_list(int ncomp, int values, const char* list, const char* record_name,
                       Take take) {
  float last = 0;
  for (int n = 1; n <= ncomp + 1; ++n) {
    VectorRecord r;
    const std::span<float> fields(r.v.data(), static_cast<std::size_t>(values));
    const fio::Status st = fio::read(fio::network_file, "(I3,3E14.7)", r.i, fields);
    if (st != fio::ok) fio::bad_record(fio::network_file, st, record_name);
    last = r.v[0];
    if (r.i <= 0) break;
    if (r.i > ncomp) fio::error_stop(index_error, text(list), r.i);
    take(r);
  }
  return last;
}

// Reads the matrix list: at most (ncomp + 1) squared records, ended early by
// a record whose origin index is zero or below.
void read_matrix_list(Network& net, int ncomp, bool restart) {
  const int limit = (ncomp + 1) * (ncomp + 1);
  for (int n = 1; n <= limit; ++n) {
    int i = 0, j = 0;
    float flow = 0, coefficient = 0;
    const fio::Status st =
        fio::read(fio::network_file, "(I3,I3,2E14.7)", i, j, flow, coefficient);
    if (st != fio::ok) fio::bad_record(fio::network_file, st, "exchange matrix list record");
    if (i <= 0) return;
    if (i > ncomp) fio::error_stop(index_error, text("EXCHANGE MATRIX"), i);
    if (j < 1 || j > ncomp) {
      fio::error_stop(
          "('0 ERROR EXCHANGE MATRIX LIST DESTINATION INDEX',I4,' OUT OF RANGE 1 TO',I3)", j,
          ncomp);
    }
    net.exchange(i, j) = flow;
    if (restart) konsts.cexch(i, j) = coefficient;
  }
}

// Returns true if any of entries 1..n is below zero.
bool any_negative(const Vector& v, int n) {
  for (int i = 1; i <= n; ++i) {
    if (v(i) < 0.0f) return true;
  }
  return false;
}

void read_names(Network& net, int first, int last) {
  for (int i = first; i <= last; ++i) {
    const fio::Status st = fio::read(fio::network_file, "(6A4,A1)", net.names.name(i));
    if (st != fio::ok) fio::bad_record(fio::network_file, st, "name record");
    fio::write(fio::report, "(1X,I2,2X,6A4,A1)", i, net.names.name(i));
  }
}

}  // namespace

float balance_tolerance(int balance_digits) {
  if (balance_digits == 0) return 0.001f;
  return static_cast<float>(std::pow(10.0, 1 - balance_digits));
}

LoadResult load_network(Network& net) {
  net.restart = false;

  // Title record.
  fio::Status st =
      fio::read(fio::network_file, "(19A4,A2,I2)", net.names.title(), net.balance_digits);
  if (st == fio::end) return LoadResult::end_of_file;
  if (st == fio::error) fio::error_stop("('0 ERROR IN TITLE')");
  net.balance_tolerance = balance_tolerance(net.balance_digits);
  fio::write(fio::report, "(1H1,1X,19A4,A2,/)", net.names.title());

  // Counts record.
  int ncomp = 0, nliv = 0, mtype = 0;
  float snap_time = 0;
  st = fio::read(fio::network_file, "(3I3,F10.3)", ncomp, nliv, mtype, snap_time);
  if (st == fio::end) return LoadResult::end_of_file;
  if (st == fio::error) fio::error_stop(compartments_error, max_compartments);
  konsts.ncomp = ncomp;
  konsts.nliv = nliv;
  konsts.mtype = mtype;
  net.snap_time = snap_time;
  net.restart = mtype > 0;
  fio::write(fio::report, "(1X,26HNUMBER OF COMPARTMENTS IS ,I4)", ncomp);
  if (ncomp > max_compartments) fio::error_stop(compartments_error, max_compartments);
  if (ncomp < 0) fio::error_stop("('0 ERROR NUMBER OF COMPARTMENTS',I4,' LESS THAN 0')", ncomp);

  if (nliv <= 0) nliv = konsts.nliv = ncomp;
  if (nliv > ncomp) {
    fio::error_stop(
        "('0 ERROR NUMBER OF LIVING COMPARTMENTS',I4,' GREATER THAN NUMBER OF COMPARTMENTS')",
        nliv);
  }
  if (nliv < ncomp) fio::write(fio::report, "(1X,'NUMBER OF LIVING COMPARTMENTS IS',I4)", nliv);

  // Names.
  fio::write(fio::report, "(/,1X,'LIVING COMPARTMENTS',/)");
  read_names(net, 1, nliv);
  if (nliv < ncomp) {
    fio::write(fio::report, "(/,1X,'NON-LIVING COMPARTMENTS',/)");
    read_names(net, nliv + 1, ncomp);
  }

  // Every entry that no record sets is zero.
  net.biomass = {};
  konsts.inputs = {};
  net.exports = {};
  net.respirations = {};
  net.exchange = {};
  const bool restart = net.restart;
  if (restart) {
    konsts.bref = {};
    konsts.cexp = {};
    konsts.cresp = {};
    konsts.cexch = {};
  }

  // Biomasses; a snapshot also carries the reference biomasses, under the
  // damped Lotka-Volterra model the self-coefficients, and on the list's
  // terminator the longest throughput time of the network it came from.
  const float terminator_value =
      read_vector_list(ncomp, 3, "BIOMASS", "biomass list record", [&](const VectorRecord& r) {
        net.biomass(r.i) = r.v[0];
        if (restart) konsts.bref(r.i) = r.v[1];
        if (restart && mtype == 3) konsts.cexch(r.i, r.i) = r.v[2];
      });
  if (restart) {
    net.times.longest = terminator_value;
    net.times.longest_in = 0;
  }
  fio::write(fio::report, "(/,1X,'THE BIOMASSES')");
  vecprt(net.biomass, ncomp, max_compartments);

  read_vector_list(ncomp, 1, "INPUT", "input list record",
                   [&](const VectorRecord& r) { konsts.inputs(r.i) = r.v[0]; });
  fio::write(fio::report, "(/,1X,12HINPUT VECTOR)");
  vecprt(konsts.inputs, ncomp, max_compartments);
  if (any_negative(konsts.inputs, ncomp)) {
    fio::error_stop("('0 ERROR INPUT VECTOR CANNOT BE LESS THAN 0')");
  }

  read_vector_list(ncomp, 2, "EXPORT", "export list record", [&](const VectorRecord& r) {
    net.exports(r.i) = r.v[0];
    if (restart) konsts.cexp(r.i) = r.v[1];
  });
  fio::write(fio::report, "(1X,13HEXPORT VECTOR)");
  vecprt(net.exports, ncomp, max_compartments);
  if (any_negative(net.exports, ncomp)) {
    fio::error_stop("('0 ERROR EXPORT VECTOR CAN NOT HAVE VALUES LESS THAN 0')");
  }

  read_vector_list(ncomp, 2, "RESPIRATION", "respiration list record",
                   [&](const VectorRecord& r) {
                     net.respirations(r.i) = r.v[0];
                     if (restart) konsts.cresp(r.i) = r.v[1];
                   });
  if (any_negative(net.respirations, ncomp)) {
    fio::error_stop("('0 ERROR RESPIRATIONS CANNOT BE LESS THAN 0.')");
  }
  fio::write(fio::report, "(1X,18HRESPIRATION VECTOR)");
  vecprt(net.respirations, ncomp, max_compartments);

  read_matrix_list(net, ncomp, restart);
  fio::write(fio::report, "(1X,15HEXCHANGE MATRIX)");
  matprt(net.exchange, ncomp, max_compartments);
  for (int j = 1; j <= ncomp; ++j) {
    for (int i = 1; i <= ncomp; ++i) {
      if (net.exchange(i, j) < 0.0f) {
        fio::error_stop("('0 ERROR EXCHANGE MATRIX CAN NOT HAVE VALUES LESS THAN 0')");
      }
    }
  }
  return LoadResult::loaded;
}

}  // namespace ecodyn
