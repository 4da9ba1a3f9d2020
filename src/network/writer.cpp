#include "network/writer.h"

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

}  // namespace ecodyn
