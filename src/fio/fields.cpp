#include "fio/fields.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace fio::fields {
namespace {

// Reads the digits at pos; returns -1 when there are none.
int number_at(std::string_view s, std::size_t& pos) {
  if (pos >= s.size() || !std::isdigit(static_cast<unsigned char>(s[pos]))) return -1;
  int n = 0;
  while (pos < s.size() && std::isdigit(static_cast<unsigned char>(s[pos])) && n < 100000)
    n = n * 10 + (s[pos++] - '0');
  return n;
}

bool is_real(char type) { return type == 'E' || type == 'F'; }

// Returns whether the mantissa of a numeric text (the part before its
// exponent) holds a digit other than zero.
bool nonzero_mantissa(std::string_view t) {
  for (std::size_t k = 0; k < t.size(); ++k) {
    const char c = t[k];
    if (c == 'E' || c == 'e' || c == 'D' || c == 'd' || c == 'Q' || c == 'q') break;
    if (k > 0 && (c == '+' || c == '-')) break;  // an exponent without its letter
    if (c >= '1' && c <= '9') return true;
  }
  return false;
}

}  // namespace

std::optional<std::vector<Field>> parse(std::string_view format) {
  if (format.size() < 2 || format.front() != '(' || format.back() != ')') return std::nullopt;
  const std::string_view body = format.substr(1, format.size() - 2);
  std::vector<Field> out;
  std::size_t pos = 0;
  while (pos < body.size()) {
    int repeat = number_at(body, pos);
    if (pos >= body.size()) return std::nullopt;
    char type = static_cast<char>(std::toupper(static_cast<unsigned char>(body[pos++])));
    if (type == 'X') {
      out.push_back({'X', repeat < 0 ? 1 : repeat, 0});
    } else {
      if (type == 'D' || type == 'G') type = 'E';
      if (type != 'A' && type != 'I' && type != 'E' && type != 'F') return std::nullopt;
      const int width = number_at(body, pos);
      if (width <= 0) return std::nullopt;
      int decimals = 0;
      if (pos < body.size() && body[pos] == '.') {
        ++pos;
        decimals = number_at(body, pos);
        if (decimals < 0) return std::nullopt;
      }
      for (int r = 0; r < (repeat < 0 ? 1 : repeat); ++r) out.push_back({type, width, decimals});
    }
    if (pos < body.size() && body[pos++] != ',') return std::nullopt;
  }
  return out;
}

Findings examine(std::string_view line, const std::vector<Field>& format, int used) {
  Findings found;
  std::size_t pos = 0;
  int field = 0;
  for (const Field& f : format) {
    if (f.type == 'X') {
      pos += static_cast<std::size_t>(f.width);
      continue;
    }
    if (field == used) break;
    const std::size_t start = pos;
    std::string_view text =
        start < line.size() ? line.substr(start, static_cast<std::size_t>(f.width)) : "";
    pos += static_cast<std::size_t>(f.width);
    if (f.type != 'A') {
      if (const std::size_t comma = text.find(','); comma != std::string_view::npos) {
        text = text.substr(0, comma);
        pos = start + comma + 1;
      }
      if (const std::size_t tab = text.find('\t');
          tab != std::string_view::npos && found.tab_column == 0) {
        found.tab_column = static_cast<int>(start + tab) + 1;
      }
      if (is_real(f.type) && f.decimals > 0 && text.find('.') == std::string_view::npos &&
          nonzero_mantissa(text)) {
        std::string t;
        for (const char c : text)
          if (c != ' ') t += c;
        found.implied.push_back({field, static_cast<int>(start) + 1,
                                 static_cast<int>(start) + f.width, t});
      }
    }
    ++field;
  }
  return found;
}

std::string e14_7(float value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value < 0 ? "-Infinity" : "Infinity";
  if (value == 0.0f) return "0.0000000E+00";
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.6E", static_cast<double>(std::fabs(value)));  // d.ddddddE+XX
  const int power = std::atoi(buf + 9) + 1;
  char out[40];
  std::snprintf(out, sizeof out, "%s0.%c%.6sE%c%02d", value < 0 ? "-" : "", buf[0], buf + 2,
                power < 0 ? '-' : '+', std::abs(power));
  return out;
}

}  // namespace fio::fields
