// Writing a network description in the SCOR exchange format that
// ecodyn-import reads: title, counts, names, the biomass, input, export and
// respiration sections of "i value" lines and the flow section of
// "i j value" lines, each ended by -1. Values carry seven significant
// digits, as many as the network file holds; zero entries are left out.
#pragma once

#include <string>

#include "common/description.h"

namespace ecodyn::exporter {

using tools::NetworkValues;

// Throws tools::InputError, naming the line of the description, for a
// title or name that a SCOR reader would not read back as written (blank,
// a comment mark, a stray number, a name that reads as a biomass line).
void check_scor_texts(const NetworkValues& net);

// Returns the description as SCOR text, one line per record.
std::string scor(const NetworkValues& net);

// Throws tools::InputError, naming the title's line, if the SCOR text does
// not read back (by the importer's own reader) as the description: the
// same title, counts and names, and every value to the seven significant
// digits of the network file.
void check_reads_back(const NetworkValues& net, const std::string& text);

// Writes SCOR text as records to the unit.
void write_scor(fio::Unit unit, const std::string& text);

}  // namespace ecodyn::exporter
