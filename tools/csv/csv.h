// The tables of a report or snapshot file as CSV text (RFC 4180): one
// string per record, without its line end.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "common/report_reader.h"

namespace ecodyn::csv {

using tools::Cycle;

// Returns a field quoted as RFC 4180 requires: in double quotes, with each
// double quote doubled, when it holds a comma, a double quote or a line end.
std::string field(std::string_view text);

// Returns the wide table: "GROUP,time", then one column per tabulated
// compartment headed "number name". The columns are those of the first
// table with their repetitions in the order given; a later table that
// tabulates other compartments adds columns, and its rows leave the
// columns it lacks empty. group: "cycle" or "snapshot".
std::vector<std::string> wide(const std::vector<Cycle>& cycles, const char* group);

// Returns the tidy table "GROUP,time,compartment,name,biomass": one record
// per row and compartment; a compartment tabulated twice gives one record.
std::vector<std::string> tidy(const std::vector<Cycle>& cycles, const char* group);

// Returns the extinctions "cycle,time,compartment,name".
std::vector<std::string> events(const std::vector<Cycle>& cycles);

}  // namespace ecodyn::csv
