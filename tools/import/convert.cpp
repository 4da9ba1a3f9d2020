#include "convert.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

#include "network/balance.h"
#include "network/loader.h"
#include "common/number.h"

namespace ecodyn::import {
namespace {

// Significant digits of a value in the network file (E14.7).
constexpr int digits_held = 7;

// Returns the first `width` bytes of text, or fewer so as not to split a
// UTF-8 character; what is left over goes to `rest`.
std::string cut(const std::string& text, int width, std::string& rest) {
  const std::size_t w = static_cast<std::size_t>(width);
  if (text.size() <= w) {
    rest.clear();
    return text;
  }
  std::size_t end = w;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  rest = text.substr(end);
  return text.substr(0, end);
}

// Puts text, padded with blanks, into the first `width` characters of a
// row of the name table; the rest of the row stays blank.
void fill_row(std::array<Word, 20>& row, const std::string& text, int width) {
  for (auto& word : row) word.fill(' ');
  for (int k = 0; k < width && k < static_cast<int>(text.size()); ++k) row[k / 4][k % 4] = text[k];
}

float single(const SourceValue& v, const std::string& what, Diagnostics& diagnostics) {
  if (v.value > std::numeric_limits<float>::max()) {
    throw InputError(v.line, what + " (" + v.text + ") is too large for single precision");
  }
  const float f = static_cast<float>(v.value);
  if (f == 0.0f && v.value != 0.0) {
    diagnostics.warn("values are too small for single precision and are written as zero", v.line,
                     what + " (" + v.text + ") is too small for single precision and is written as zero");
  } else if (f != 0.0f && f < std::numeric_limits<float>::min()) {
    diagnostics.warn("values are below the range of single precision", v.line,
                     what + " (" + v.text + ") is below the range of single precision and is written as " +
                                 e14_7(f));
  } else if (significant_digits(v.text) > digits_held) {
    // Seven digits read back give the single-precision value nearest to
    // them, so a value of seven digits or fewer comes through unchanged.
    diagnostics.warn("values have more than seven significant digits and lose the others", v.line,
                     what + " (" + v.text + ") has more than seven significant digits "
                                 "and is written as " +
                                 e14_7(f));
  }
  return f;
}

// Returns the value ecodyn reads from the seven digits written for v: the
// decimal number goes through double precision and is stored as single
// precision, as in the formatted-input run-time.
float as_read_back(float v) { return static_cast<float>(std::strtod(e14_7(v).c_str(), nullptr)); }

}  // namespace

ImportedNetwork convert(const ScorNetwork& scor, Diagnostics& diagnostics) {
  ImportedNetwork net;
  net.ncomp = scor.ncomp;
  net.nliv = scor.nliv;
  std::string rest;

  const std::string title = cut(scor.title, title_width, rest);
  if (!rest.empty()) {
    diagnostics.warn("titles are cut", scor.title_line, "the title is cut to " + std::to_string(title_width) +
                                          " characters; '" + rest + "' is dropped");
  }
  fill_row(net.names.rows[0], title, title_width);

  for (int i = 1; i <= scor.ncomp; ++i) {
    const std::string name = cut(scor.names[i - 1], name_width, rest);
    if (!rest.empty()) {
      diagnostics.warn("names are cut to " + std::to_string(name_width) + " characters",
                       scor.name_lines[i - 1], "the name of compartment " + std::to_string(i) +
                                                   " is cut to " + std::to_string(name_width) +
                                                   " characters, '" + name + "'; '" + rest +
                                                   "' is dropped");
    }
    fill_row(net.names.rows[i], name, name_width);
  }

  for (int s = 0; s < section_count; ++s) {
    for (const auto& [i, v] : scor.vectors[s])
      net.vectors[s](i) = single(v, entry_name(static_cast<Section>(s), i), diagnostics);
  }
  // A missing input, export or respiration is a zero flow; a missing storage
  // is more likely a gap in the data than a compartment without biomass.
  for (int i = 1; i <= scor.ncomp; ++i) {
    if (scor.vectors[biomass].count(i) == 0) {
      diagnostics.warn("compartments have no biomass record and take biomass 0",
                       scor.name_lines[i - 1],
                       "compartment " + std::to_string(i) + " (" + scor.names[i - 1] +
                           ") has no biomass record and takes biomass 0");
    }
  }
  for (const auto& [ij, v] : scor.flows) {
    const auto [i, j] = ij;
    net.flows(i, j) =
        single(v, "the flow from " + std::to_string(i) + " to " + std::to_string(j), diagnostics);
  }
  return net;
}

Imbalance largest_imbalance(const ImportedNetwork& net) {
  std::array<Vector, section_count> v;
  Matrix flows;
  for (int s = 0; s < section_count; ++s) {
    for (int i = 1; i <= net.ncomp; ++i) v[s](i) = as_read_back(net.vectors[s](i));
  }
  for (int i = 1; i <= net.ncomp; ++i) {
    for (int j = 1; j <= net.ncomp; ++j) flows(i, j) = as_read_back(net.flows(i, j));
  }
  const Balance b = balance_of(net.ncomp, v[inputs], v[exports], v[respirations], flows, 0.0f);
  Imbalance largest;
  for (int i = 1; i <= net.ncomp; ++i) {
    if (std::fabs(b.imbalance(i)) > largest.magnitude) largest = {std::fabs(b.imbalance(i)), i};
  }
  return largest;
}

float largest_flow(const ImportedNetwork& net) {
  float largest = 0.0f;
  for (int i = 1; i <= net.ncomp; ++i) {
    for (int s = inputs; s < section_count; ++s) largest = std::max(largest, net.vectors[s](i));
    for (int j = 1; j <= net.ncomp; ++j) largest = std::max(largest, net.flows(i, j));
  }
  return largest;
}

std::optional<int> passing_balance_digits(float imbalance) {
  for (int digits = 99; digits >= -9; --digits) {
    // 0 selects the default tolerance, that of 4.
    if (digits != 0 && imbalance < balance_tolerance(digits)) return digits;
  }
  return std::nullopt;
}

}  // namespace ecodyn::import
