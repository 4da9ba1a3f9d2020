#include "common/number.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace ecodyn::import {
namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The parts of a real in the text: sign, digits before and after the point,
// and the exponent (sign and digits), all as written.
struct RealParts {
  bool negative = false;
  std::string_view whole, fraction;
  bool exponent_negative = false;
  std::string_view exponent;
};

std::optional<RealParts> split_real(std::string_view s) {
  RealParts p;
  std::size_t k = 0;
  auto digits = [&]() {
    const std::size_t from = k;
    while (k < s.size() && is_digit(s[k])) ++k;
    return s.substr(from, k - from);
  };
  if (k < s.size() && (s[k] == '+' || s[k] == '-')) p.negative = s[k++] == '-';
  p.whole = digits();
  if (k < s.size() && s[k] == '.') {
    ++k;
    p.fraction = digits();
  }
  if (p.whole.empty() && p.fraction.empty()) return std::nullopt;
  if (k == s.size()) return p;
  // The exponent: a letter E or D with an optional sign, or a bare sign.
  const char c = s[k];
  if (c == 'e' || c == 'E' || c == 'd' || c == 'D') {
    ++k;
    if (k < s.size() && (s[k] == '+' || s[k] == '-')) p.exponent_negative = s[k++] == '-';
  } else if (c == '+' || c == '-') {
    p.exponent_negative = c == '-';
    ++k;
  } else {
    return std::nullopt;
  }
  p.exponent = digits();
  if (p.exponent.empty() || k != s.size()) return std::nullopt;
  return p;
}

}  // namespace

std::optional<int> parse_integer(std::string_view text) {
  std::size_t k = 0;
  bool negative = false;
  if (k < text.size() && (text[k] == '+' || text[k] == '-')) negative = text[k++] == '-';
  if (k == text.size()) return std::nullopt;
  long long v = 0;
  for (; k < text.size(); ++k) {
    if (!is_digit(text[k])) return std::nullopt;
    v = v * 10 + (text[k] - '0');
    if (v > std::numeric_limits<int>::max()) return std::nullopt;
  }
  return static_cast<int>(negative ? -v : v);
}

std::optional<double> parse_real(std::string_view text) {
  const auto p = split_real(text);
  if (!p) return std::nullopt;
  // Rebuild the number in the form strtod knows.
  std::string c;
  if (p->negative) c += '-';
  c += p->whole.empty() ? "0" : std::string(p->whole);
  if (!p->fraction.empty()) {
    c += '.';
    c += p->fraction;
  }
  if (!p->exponent.empty()) {
    c += p->exponent_negative ? "e-" : "e";
    c += p->exponent;
  }
  errno = 0;
  const double v = std::strtod(c.c_str(), nullptr);
  if (errno == ERANGE && (v > 1.0 || v < -1.0)) return std::nullopt;
  return v;
}

int significant_digits(std::string_view text) {
  const auto p = split_real(text);
  if (!p) return 0;
  const std::string digits = std::string(p->whole) + std::string(p->fraction);
  const auto first = digits.find_first_not_of('0');
  if (first == std::string::npos) return 0;
  return static_cast<int>(digits.find_last_not_of('0') - first + 1);
}

std::string e14_7(float value) {
  if (value == 0.0f) return "0.0000000E+00";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.6e", static_cast<double>(value < 0 ? -value : value));
  const std::string s = buf;
  const std::size_t e = s.find('e');
  const long exponent = std::strtol(s.c_str() + e + 1, nullptr, 10) + 1;
  char out[64];
  std::snprintf(out, sizeof out, "%s0.%c%sE%c%02ld", value < 0 ? "-" : "", s[0],
                s.substr(2, e - 2).c_str(), exponent < 0 ? '-' : '+',
                exponent < 0 ? -exponent : exponent);
  return out;
}

}  // namespace ecodyn::import
