// Reading back what ecodyn wrote: the time-series tables of a report file
// with the compartment names of each cycle's echo listing and its
// extinction notices, handed over row by row as they are read. Values are
// kept as the text they were printed with, so that nothing is lost or
// invented on the way to a spreadsheet or a plot.
#pragma once

#include <cstdio>
#include <functional>
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

// One network of the run as far as it is read: the columns of its table
// are known once its head has been read.
struct Cycle {
  int number = 0;  // counted from 1 in the order of the file
  int line = 0;    // of the title
  std::string title;
  std::vector<Column> columns;
};

// Receives the tables of a report as the reader comes to them.
class ReportHandler {
 public:
  virtual ~ReportHandler() = default;
  // The head of the cycle's table has been read; its rows follow.
  virtual void table(const Cycle& cycle) = 0;
  virtual void row(const Cycle& cycle, const TableRow& row) = 0;
  virtual void extinction(const Cycle& cycle, const Extinction& extinction) = 0;
};

// The longest line read; ecodyn writes none longer than 80 characters.
constexpr std::size_t longest_line = 4096;

// Reads a report from the stream a line at a time, in bounded memory, and
// hands its tables to the handler as they come; a signal to stop ends the
// program between lines. Throws InputError naming the line for an empty
// input, a line longer than longest_line, a file that is not a report or a
// table that cannot be read, and std::system_error when the stream cannot
// be read.
void read_report(std::FILE* in, ReportHandler& handler);

// Reads the report in the file at path (a pipe or a device will do: it is
// opened and read once) as read_report above.
void read_report(const std::string& path, ReportHandler& handler);

// Returns what body returns, body reading the file at path; for what it
// throws, a diagnostic and status 2: an InputError with the file and line,
// a std::system_error as "cannot read PATH: reason", any other
// std::runtime_error as it is worded.
int reading(const std::string& path, const std::function<int()>& body);

// Returns the text of a printed number without its blanks and with a 0
// before a leading decimal point (".250" -> "0.250", "-.1E+02" ->
// "-0.1E+02"), so that every CSV reader parses it; "" for a field of
// asterisks; nothing if the field holds no number. exponent: the field is
// E-edited (mantissa and exponent), otherwise F-edited.
std::optional<std::string> printed_number(std::string_view field, bool exponent);

// Returns the numeric value of a text from printed_number (NaN for "").
double value_of(const std::string& printed);

}  // namespace ecodyn::tools
