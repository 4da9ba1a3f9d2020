#include "common/description.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <span>
#include <string>

#include "common/diagnostics.h"

namespace ecodyn::tools {
namespace {

// Returns n characters of consecutive words without trailing blanks.
std::string text_of(std::span<const Word> words, std::size_t n) {
  std::string s;
  for (const Word& w : words) s.append(w.data(), w.size());
  s.resize(n);
  const std::size_t end = s.find_last_not_of(' ');
  return end == std::string::npos ? "" : s.substr(0, end + 1);
}

std::string number(float v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%g", static_cast<double>(v));
  return buf;
}

// The line of the record read last.
int line(fio::Unit unit) { return fio::records_read(unit); }

// A value read as infinity (beyond the largest float, such as 1.0E+39) or
// NaN cannot be written back in a form any reader of network files takes:
// it is refused where it is read.
void check_finite(fio::Unit unit, float v, const std::string& what) {
  if (!std::isfinite(v)) {
    throw InputError(line(unit), what + " is beyond single precision (it reads as " +
                                     (std::isnan(v) ? "NaN" : "infinity") + ")");
  }
}

void check_index(fio::Unit unit, int i, int ncomp, const char* list) {
  if (i > ncomp) {
    throw InputError(line(unit), std::string(list) + " index " + std::to_string(i) +
                                     " is above the number of compartments, " +
                                     std::to_string(ncomp));
  }
}

// Reads one vector list: at most ncomp + 1 records, ended early by a record
// whose index is zero or below; a later record for an index wins. values:
// how many value fields are parsed, as the loader parses them (the rest of
// a record is ignored); only the first one is kept. negative: what a
// negative value is called when the loader refuses it (nullptr when it
// does not).
void read_vector_list(fio::Unit unit, int ncomp, int values, const char* list, const char* negative,
                      Vector& v) {
  const std::string record = std::string(list) + " list record";
  std::array<int, max_compartments + 1> set_at{};  // line of the record that set entry i
  for (int n = 1; n <= ncomp + 1; ++n) {
    int i = 0;
    std::array<float, 3> fields{};
    const fio::Status st = fio::read(
        unit, "(I3,3E14.7)", i, std::span<float>(fields.data(), static_cast<std::size_t>(values)));
    if (st != fio::ok) fio::bad_record(unit, st, record.c_str());
    if (i <= 0) break;
    check_index(unit, i, ncomp, list);
    for (int k = 0; k < values; ++k) {
      check_finite(unit, fields[k],
                   (k == 0 ? std::string("the ") + list + " of compartment "
                           : "value " + std::to_string(k + 1) + " of the " + list +
                                 " record of compartment ") +
                       std::to_string(i));
    }
    v(i) = fields[0];
    set_at[i] = line(unit);
  }
  for (int i = 1; negative != nullptr && i <= ncomp; ++i) {
    if (v(i) < 0.0f) {
      throw InputError(set_at[i], std::string("negative ") + negative + " " + number(v(i)) +
                                      " of compartment " + std::to_string(i));
    }
  }
}

// Reads the matrix list: at most (ncomp + 1) squared records, ended early by
// a record whose origin index is zero or below.
void read_matrix_list(fio::Unit unit, int ncomp, Matrix& m) {
  const int limit = (ncomp + 1) * (ncomp + 1);
  std::array<int, Matrix::ld * Matrix::ld> set_at{};
  for (int n = 1; n <= limit; ++n) {
    int i = 0, j = 0;
    float flow = 0, coefficient = 0;
    const fio::Status st = fio::read(unit, "(I3,I3,2E14.7)", i, j, flow, coefficient);
    if (st != fio::ok) fio::bad_record(unit, st, "exchange matrix list record");
    if (i <= 0) break;
    check_index(unit, i, ncomp, "exchange matrix");
    if (j < 1 || j > ncomp) {
      throw InputError(line(unit), "exchange matrix destination index " + std::to_string(j) +
                                       " is outside 1 to " + std::to_string(ncomp));
    }
    check_finite(unit, flow,
                 "the flow from " + std::to_string(i) + " to " + std::to_string(j));
    check_finite(unit, coefficient,
                 "the coefficient of the flow from " + std::to_string(i) + " to " +
                     std::to_string(j));
    m(i, j) = flow;
    set_at[(i - 1) + (j - 1) * Matrix::ld] = line(unit);
  }
  for (int i = 1; i <= ncomp; ++i) {
    for (int j = 1; j <= ncomp; ++j) {
      if (m(i, j) < 0.0f) {
        throw InputError(set_at[(i - 1) + (j - 1) * Matrix::ld],
                         "negative flow " + number(m(i, j)) + " from " + std::to_string(i) +
                             " to " + std::to_string(j));
      }
    }
  }
}

}  // namespace

std::string NetworkValues::title() const { return text_of(names.title(), 78); }

std::string NetworkValues::name(int i) const { return text_of(names.name(i), 25); }

Description NetworkValues::as_ordinary() const {
  Description d;
  d.names = &names;
  if (balance_digits != 0) d.balance_digits = balance_digits;
  d.ncomp = ncomp;
  d.nliv = nliv;
  d.biomass = &biomass;
  d.inputs = &inputs;
  d.exports = &exports;
  d.respirations = &respirations;
  d.exchange = &exchange;
  return d;
}

long long millis(double t) { return std::llround(t * 1000.0); }

void Choice::offer(int count, const NetworkValues& net) {
  const double t = net.time;
  if (count > 1 && t != previous_) {
    const double gap = std::fabs(t - previous_);
    if (spacing_ == 0 || gap < spacing_) spacing_ = gap;
  }
  previous_ = t;
  count_ = count;
  bool take = false;
  if (index_ > 0) {
    take = count == index_;
  } else if (!time_) {
    take = true;
  } else if (millis(t) == millis(*time_)) {
    take = exact_ = true;
  } else if (!exact_) {
    const double d = std::fabs(t - *time_);
    take = !any_ || d <= distance_;
    if (take) distance_ = d;
  }
  if (take) {
    kept_ = net;
    any_ = true;
  }
}

const NetworkValues* Choice::chosen() const {
  if (!any_) return nullptr;
  if (time_ && !exact_ && index_ == 0 && !(spacing_ > 0 && distance_ <= spacing_ / 2)) {
    return nullptr;
  }
  return &kept_;
}

bool read_description(fio::Unit unit, NetworkValues& net) {
  fio::Status st = fio::read(unit, "(19A4,A2,I2)", net.names.title(), net.balance_digits);
  if (st == fio::end) return false;
  if (st != fio::ok) fio::bad_record(unit, st, "title record");
  net.line = line(unit);

  st = fio::read(unit, "(3I3,F10.3)", net.ncomp, net.nliv, net.mtype, net.time);
  if (st == fio::end) return false;
  if (st != fio::ok) fio::bad_record(unit, st, "counts record");
  if (net.mtype > 0) check_finite(unit, net.time, "the time of the snapshot");
  const int ncomp = net.ncomp;
  if (ncomp > max_compartments || ncomp < 0) {
    throw InputError(line(unit), "the number of compartments, " + std::to_string(ncomp) +
                                     ", is outside 0 to " + std::to_string(max_compartments));
  }
  if (net.nliv <= 0) net.nliv = ncomp;
  if (net.nliv > ncomp) {
    throw InputError(line(unit), "the number of living compartments, " + std::to_string(net.nliv) +
                                     ", is above the number of compartments, " +
                                     std::to_string(ncomp));
  }

  for (int i = 1; i <= ncomp; ++i) {
    st = fio::read(unit, "(6A4,A1)", net.names.name(i));
    if (st != fio::ok) fio::bad_record(unit, st, "name record");
  }

  net.biomass = {};
  net.inputs = {};
  net.exports = {};
  net.respirations = {};
  net.exchange = {};
  read_vector_list(unit, ncomp, 3, "biomass", nullptr, net.biomass);
  read_vector_list(unit, ncomp, 1, "input", "input", net.inputs);
  read_vector_list(unit, ncomp, 2, "export", "export", net.exports);
  read_vector_list(unit, ncomp, 2, "respiration", "respiration", net.respirations);
  read_matrix_list(unit, ncomp, net.exchange);
  net.end_line = line(unit);
  return true;
}

}  // namespace ecodyn::tools
