// Numbers as SCOR files write them: integers for indices and counts, and
// reals that may carry a Fortran exponent without its letter ("1.2-4" is
// 1.2E-4, "3.5+2" is 350) or with D in place of E.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace ecodyn::import {

// Returns the integer the text spells ("12", "-1", "+3"), or nothing.
std::optional<int> parse_integer(std::string_view text);

// Returns the real the text spells, or nothing for anything else (words,
// "1,5", "nan", "inf", a bare exponent). Values beyond the range of double
// give nothing as well.
std::optional<double> parse_real(std::string_view text);

// Returns the number of significant digits of a text accepted by
// parse_real: its digits without the zeros before the first and after the
// last one that is not zero (0 for zero; 2 for "0.00120", "1.2-4", "1200").
int significant_digits(std::string_view text);

// Returns the value as the network file shows it, for messages
// ("0.3494362E-02").
std::string e14_7(float value);

}  // namespace ecodyn::import
