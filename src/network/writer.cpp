#include "network/writer.h"

#include <array>

namespace ecodyn {

void write_title(fio::Unit unit, const NameTable& names, int balance_digits) {
  fio::write(unit, "(19A4,A2,I2)", names.title(), balance_digits);
}

void write_title(fio::Unit unit, const NameTable& names) {
  fio::write(unit, "(19A4,A2)", names.title());
}

namespace {

// Returns the format that renders t in ten columns: F10.3 where it fits,
// otherwise as many decimals as fit, otherwise an exponent.
const char* time_format(float t) {
  const double x = t;
  if (x >= 0) {
    if (x < 999999.9995) return "(3I3,F10.3)";
    if (x < 9999999.995) return "(3I3,F10.2)";
    if (x < 99999999.95) return "(3I3,F10.1)";
    if (x < 999999999.5) return "(3I3,F10.0)";
    return "(3I3,1PE10.4)";
  }
  if (x > -99999.9995) return "(3I3,F10.3)";
  if (x > -999999.995) return "(3I3,F10.2)";
  if (x > -9999999.95) return "(3I3,F10.1)";
  if (x > -99999999.5) return "(3I3,F10.0)";
  return "(3I3,1PE10.3)";
}

}  // namespace

void write_counts(fio::Unit unit, int ncomp, int nliv, int mtype, float t) {
  fio::write(unit, time_format(t), ncomp, nliv, mtype, t);
}

void write_counts(fio::Unit unit, int ncomp, int nliv) {
  fio::write(unit, "(3I3,F10.3)", ncomp, nliv);
}

void write_name(fio::Unit unit, const NameTable& names, int i) {
  fio::write(unit, "(19A4,A2,I2)", names.name(i));
}

void write_vector_record(fio::Unit unit, int i, std::span<const float> values) {
  fio::write(unit, "(I3,3E14.7)", i, values);
}

void write_matrix_record(fio::Unit unit, int i, int j, std::span<const float> values) {
  fio::write(unit, "(I3,I3,2E14.7)", i, j, values);
}

void write_network(fio::Unit unit, const Description& d) {
  const NameTable& names = *d.names;
  const RestartColumns* r = d.restart;
  const int n = d.ncomp;
  constexpr float zero = 0.0f;

  if (d.balance_digits) {
    write_title(unit, names, *d.balance_digits);
  } else {
    write_title(unit, names);
  }
  if (r != nullptr) {
    write_counts(unit, n, d.nliv, r->mtype, r->time);
  } else {
    write_counts(unit, n, d.nliv);
  }
  for (int i = 1; i <= n; ++i) write_name(unit, names, i);

  // An entry left out reads back as zero, so only positive values are
  // listed. The values written with each record: the entry alone in an
  // ordinary network, the entry and its coefficients in a restart network.
  const auto vector_list = [&](const Vector& v, const Vector* c1, const Matrix* c2, float end) {
    for (int i = 1; i <= n; ++i) {
      if (!(v(i) > zero)) continue;
      std::array<float, 3> values{v(i), 0.0f, 0.0f};
      std::size_t count = 1;
      if (r != nullptr && c1 != nullptr) values[count++] = (*c1)(i);
      if (r != nullptr && c2 != nullptr) values[count++] = (*c2)(i, i);
      write_vector_record(unit, i, std::span<const float>(values.data(), count));
    }
    const std::array<float, 1> terminator{end};
    write_vector_record(unit, ndfl, terminator);
  };
  // The biomass terminator carries the longest throughput time, the time
  // scale over which the running model fades its self-coefficients.
  vector_list(*d.biomass, r ? r->bref : nullptr, r ? r->cexch : nullptr, r ? r->tmax : zero);
  vector_list(*d.inputs, nullptr, nullptr, zero);
  vector_list(*d.exports, r ? r->cexp : nullptr, nullptr, zero);
  vector_list(*d.respirations, r ? r->cresp : nullptr, nullptr, zero);

  for (int i = 1; i <= n; ++i) {
    for (int j = 1; j <= n; ++j) {
      const float flow = (*d.exchange)(i, j);
      if (!(flow > zero)) continue;
      const std::array<float, 2> values{flow, r ? (*r->cexch)(i, j) : 0.0f};
      write_matrix_record(unit, i, j, std::span<const float>(values.data(), r ? 2 : 1));
    }
  }
  const std::array<float, 1> terminator{zero};
  write_matrix_record(unit, ndfl, ndfl, terminator);
}

}  // namespace ecodyn
