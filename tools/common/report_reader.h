// Reading back what ecodyn wrote: the time-series tables of a report file
// with the compartment names of each cycle's echo listing and its
// extinction notices. Values are kept as the text they were printed with, so
// that nothing is lost or invented on the way to a spreadsheet or a plot.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/diagnostics.h"

namespace ecodyn::tools {

// A tabulated compartment: its number and its name as listed (trailing
// blanks removed).
struct Column {
  int number = 0;
  std::string name;
};

// One row: the time and one value per column, as printed (see
// printed_number); an empty text for a field the run-time filled with
// asterisks because the value did not fit.
struct TableRow {
  int line = 0;
  std::string time;
  std::vector<std::string> values;
};

// "SPECIES k WENT EXTINCT AT T = t".
struct Extinction {
  int line = 0;
  std::string time;
  Column compartment;
};

// One network of the run: the columns of its table (empty when the cycle
// ended before its table), the rows and the extinctions in the order
// written. In a snapshot file each description is one "cycle" of one row
// with every compartment as a column.
struct Cycle {
  int number = 0;  // counted from 1 in the order of the file
  int line = 0;    // of the title
  std::string title;
  std::vector<Column> columns;
  std::vector<TableRow> rows;
  std::vector<Extinction> extinctions;
};

// Returns every cycle of a report file; throws InputError naming the line
// for a file that is not a report or whose table cannot be read.
std::vector<Cycle> read_report(std::string_view text);

// Returns the text of a printed number without its blanks and with a 0
// before a leading decimal point (".250" -> "0.250", "-.1E+02" ->
// "-0.1E+02"), so that every CSV reader parses it; "" for a field of
// asterisks; nothing if the field holds no number. exponent: the field is
// E-edited (mantissa and exponent), otherwise F-edited.
std::optional<std::string> printed_number(std::string_view field, bool exponent);

// Returns the numeric value of a text from printed_number (NaN for "").
double value_of(const std::string& printed);

// Returns the whole content of a file, or nothing after a diagnostic
// "cannot read FILE: reason".
std::optional<std::string> read_text_file(const std::string& path);

}  // namespace ecodyn::tools
