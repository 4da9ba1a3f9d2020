// Writing a network description in the SCOR exchange format that
// ecodyn-import reads: title, counts, names, the biomass, input, export and
// respiration sections of "i value" lines and the flow section of
// "i j value" lines, each ended by -1. Values carry seven significant
// digits, as many as the network file holds; zero entries are left out.
#pragma once

#include "common/description.h"

namespace ecodyn::exporter {

using tools::NetworkValues;

// Throws tools::InputError, naming the line of the description, for a
// title or name that a SCOR reader would not read back as written (blank,
// a comment mark, a stray number, a name that reads as a biomass line).
void check_scor_texts(const NetworkValues& net);

// Writes the description as SCOR records to the unit.
void write_scor(fio::Unit unit, const NetworkValues& net);

}  // namespace ecodyn::exporter
