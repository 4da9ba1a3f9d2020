// The network descriptions of a snapshot file, read the way ecodyn reads a
// network file: fixed columns, blanks inside a number ignored, a blank field
// zero, lists ended by an index of zero or below or by their length.
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "common/report_reader.h"

namespace ecodyn::tools {
namespace {

constexpr int max_compartments = 75;

// Columns first to first + width - 1 (counted from 1) of a record, as if the
// record were padded with blanks; the blanks are dropped, since the reader
// ignores them inside a number.
std::string field(std::string_view record, std::size_t first, std::size_t width) {
  std::string f;
  for (std::size_t c = first - 1; c < first - 1 + width && c < record.size(); ++c)
    if (record[c] != ' ') f += record[c];
  return f;
}

bool all_digits(const std::string& s, std::size_t from, std::size_t to) {
  if (from >= to) return false;
  for (std::size_t i = from; i < to; ++i)
    if (s[i] < '0' || s[i] > '9') return false;
  return true;
}

// An I field: an optional sign and digits; blank is zero.
std::optional<int> integer_field(const std::string& f) {
  if (f.empty()) return 0;
  const std::size_t d = f[0] == '+' || f[0] == '-' ? 1 : 0;
  if (!all_digits(f, d, f.size()) || f.size() - d > 9) return std::nullopt;
  return std::atoi(f.c_str());
}

// An E or F field: an optional sign, digits with or without a decimal
// point, and an optional exponent (E or D with an optional sign, or a sign
// alone); without a decimal point the last `decimals` digits are decimals.
// Blank is zero. The value goes through double precision, as in the
// formatted-input run-time, and is stored as single precision.
std::optional<float> real_field(const std::string& f, int decimals) {
  if (f.empty()) return 0.0f;
  std::size_t i = 0;
  std::string mantissa;
  if (f[i] == '+' || f[i] == '-') mantissa += f[i++];
  const std::size_t start = i;
  bool point = false;
  std::string numerals;
  for (; i < f.size(); ++i) {
    if (f[i] >= '0' && f[i] <= '9') {
      numerals += f[i];
    } else if (f[i] == '.' && !point) {
      point = true;
      numerals += '.';
    } else {
      break;
    }
  }
  if (i == start || numerals == ".") return std::nullopt;
  long power = 0;
  if (i < f.size()) {
    const char c = f[i];
    if (c == 'E' || c == 'e' || c == 'D' || c == 'd')
      ++i;
    else if (c != '+' && c != '-')
      return std::nullopt;
    std::size_t d = i < f.size() && (f[i] == '+' || f[i] == '-') ? i + 1 : i;
    if (!all_digits(f, d, f.size()) || f.size() - d > 6) return std::nullopt;
    power = std::atol(f.c_str() + i);
  }
  if (!point) power -= decimals;
  mantissa += numerals + "e" + std::to_string(power);
  return static_cast<float>(std::strtod(mantissa.c_str(), nullptr));
}

// Returns a value in the manner of the E14.7 editing of the writer, with a
// 0 before the decimal point: "0.5000000E+03".
std::string seven_digits(float v) {
  if (v == 0.0f) return "0.0000000E+00";
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.6E", static_cast<double>(v));  // "-5.000000E+02"
  std::string s = buf;
  const bool negative = s[0] == '-';
  if (negative) s.erase(0, 1);
  const std::size_t e = s.find('E');
  const int power = std::atoi(s.c_str() + e + 1) + 1;
  std::snprintf(buf, sizeof buf, "%s0.%c%sE%c%02d", negative ? "-" : "", s[0],
                s.substr(2, e - 2).c_str(), power < 0 ? '-' : '+', std::abs(power));
  return buf;
}

struct SnapshotReader {
  std::vector<std::string_view> records;
  std::size_t next = 0;  // index of the next record

  int line() const { return static_cast<int>(next); }  // of the record just taken

  [[noreturn]] void fail(const std::string& what) const { throw InputError(line(), what); }

  // Returns the next record; at the end of the file, fails naming what was
  // expected.
  std::string_view take(const char* what) {
    if (next == records.size()) {
      ++next;
      fail(std::string("the file ends where a ") + what + " is due");
    }
    return records[next++];
  }

  int int_at(std::string_view record, std::size_t first, std::size_t width, const char* what) {
    const auto v = integer_field(field(record, first, width));
    if (!v) fail(std::string("unreadable ") + what);
    return *v;
  }

  float real_at(std::string_view record, std::size_t first, std::size_t width, int decimals,
                const char* what) {
    const auto v = real_field(field(record, first, width), decimals);
    if (!v) fail(std::string("unreadable ") + what);
    return *v;
  }

  // Reads a vector list; values: how many value fields the reader parses.
  // Returns the first value of each compartment (1 to ncomp), zero where
  // no record gives one.
  std::vector<float> vector_list(int ncomp, int values, const char* what) {
    std::vector<float> v(ncomp + 1, 0.0f);
    for (int n = 1; n <= ncomp + 1; ++n) {
      const std::string_view r = take(what);
      const int i = int_at(r, 1, 3, what);
      float first = 0.0f;
      for (int k = 0; k < values; ++k) {
        const float x = real_at(r, 4 + 14 * k, 14, 7, what);
        if (k == 0) first = x;
      }
      if (i <= 0) break;
      if (i > ncomp)
        fail(std::string(what) + ": index " + std::to_string(i) +
             " above the number of compartments");
      v[i] = first;
    }
    return v;
  }

  void matrix_list(int ncomp) {
    const char* what = "exchange matrix list record";
    for (int n = 1; n <= (ncomp + 1) * (ncomp + 1); ++n) {
      const std::string_view r = take(what);
      const int i = int_at(r, 1, 3, what), j = int_at(r, 4, 3, what);
      real_at(r, 7, 14, 7, what);
      real_at(r, 21, 14, 7, what);
      if (i <= 0) return;
      if (i > ncomp || j < 1 || j > ncomp)
        fail(std::string(what) + ": index out of the range of compartments");
    }
  }

  // Reads one description into c; false at the end of the file.
  bool description(Cycle& c) {
    if (next == records.size()) return false;
    const std::string_view title = take("title record");
    c.line = line();
    int_at(title, 79, 2, "title record (balance digits in columns 79-80)");
    c.title = std::string(title.substr(0, std::min<std::size_t>(78, title.size())));
    while (!c.title.empty() && c.title.back() == ' ') c.title.pop_back();
    // Like ecodyn, take the end of the file before the counts as the end.
    if (next == records.size()) return false;
    const std::string_view counts = take("counts record");
    const char* what = "counts record";
    const int ncomp = int_at(counts, 1, 3, what);
    int nliv = int_at(counts, 4, 3, what);
    int_at(counts, 7, 3, what);
    const float time = real_at(counts, 10, 10, 3, what);
    if (ncomp < 0 || ncomp > max_compartments)
      fail("the number of compartments " + std::to_string(ncomp) + " is not between 0 and 75");
    if (nliv <= 0) nliv = ncomp;
    if (nliv > ncomp) fail("more living compartments than compartments");
    for (int i = 1; i <= ncomp; ++i) {
      std::string_view name = take("name record");
      name = name.substr(0, std::min<std::size_t>(25, name.size()));
      while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
      while (!name.empty() && name.front() == ' ') name.remove_prefix(1);
      c.columns.push_back({i, std::string(name)});
    }
    const std::vector<float> biomass = vector_list(ncomp, 3, "biomass list record");
    vector_list(ncomp, 1, "input list record");
    vector_list(ncomp, 2, "export list record");
    vector_list(ncomp, 2, "respiration list record");
    matrix_list(ncomp);
    char t[32];
    std::snprintf(t, sizeof t, "%.3f", static_cast<double>(time));
    TableRow row;
    row.line = c.line;
    row.time = t;
    for (int i = 1; i <= ncomp; ++i) row.values.push_back(seven_digits(biomass[i]));
    c.rows.push_back(std::move(row));
    return true;
  }
};

}  // namespace

std::vector<Cycle> read_snapshots(std::string_view text) {
  SnapshotReader r;
  while (!text.empty()) {
    const std::size_t eol = text.find('\n');
    std::string_view record = text.substr(0, eol);
    if (!record.empty() && record.back() == '\r') record.remove_suffix(1);
    r.records.push_back(record);
    if (eol == std::string_view::npos) break;
    text.remove_prefix(eol + 1);
  }
  std::vector<Cycle> snapshots;
  for (;;) {
    Cycle c;
    c.number = static_cast<int>(snapshots.size()) + 1;
    if (!r.description(c)) break;
    snapshots.push_back(std::move(c));
  }
  return snapshots;
}

}  // namespace ecodyn::tools
