// From a SCOR network to the records of an ecodyn network file: the title
// and names cut to their fields, the values in single precision.
#pragma once

#include <array>
#include <optional>

#include "common/diagnostics.h"
#include "network/arrays.h"
#include "common/scor_reader.h"

namespace ecodyn::import {

inline constexpr int title_width = 78;
inline constexpr int name_width = 25;

struct ImportedNetwork {
  NameTable names;  // row 0 the title, rows 1..ncomp the names
  int ncomp = 0;
  int nliv = 0;
  std::array<Vector, section_count> vectors;  // biomass, inputs, exports, respirations
  Matrix flows;                               // flows(i,j): from i to j
};

// Converts the network. Warns of every title or name cut to its field and
// of every value that the network file cannot show to all its digits;
// throws InputError for a value beyond single precision.
ImportedNetwork convert(const ScorNetwork& scor, Diagnostics& diagnostics);

// The compartment whose inflows and outflows differ the most, and by how
// much (0 and compartment 0 when none differ).
struct Imbalance {
  float magnitude = 0.0f;
  int compartment = 0;
};

// Returns the largest imbalance as ecodyn's balance check finds it in the
// network file written: on the values as ecodyn reads them back from their
// seven digits, summed in single precision in ecodyn's order.
Imbalance largest_imbalance(const ImportedNetwork& net);

// Returns the largest flow of the network: input, export, respiration or
// exchange.
float largest_flow(const ImportedNetwork& net);

// Returns the largest balance_digits (the smallest tolerance) with which
// ecodyn finds the imbalance balanced, or nothing when none in -9 to 99 does.
std::optional<int> passing_balance_digits(float imbalance);

}  // namespace ecodyn::import
