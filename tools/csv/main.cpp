// ecodyn-csv: the time-series tables of an ecodyn report file (or the
// biomasses of a snapshot file) as CSV, for spreadsheets and data frames.
#include <CLI/CLI.hpp>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/command_line.h"
#include "common/description.h"
#include "common/diagnostics.h"
#include "common/output_file.h"
#include "common/replaceable.h"
#include "common/report_reader.h"
#include "csv.h"
#include "fio/fio.h"

namespace {

using namespace ecodyn;
using tools::complain;

constexpr int exit_failure = fio::exit_bad_io;
// Any units but the terminal's and ecodyn's own.
constexpr auto output_unit = static_cast<fio::Unit>(20);
constexpr auto snapshot_unit = static_cast<fio::Unit>(21);

constexpr const char* description =
    "Writes the time-series tables of an ecodyn report file as CSV: one record per table row, "
    "the compartments as columns.";

constexpr const char* footer =
    R"(
The wide table has the columns cycle, time and one per tabulated compartment,
headed by its number and name as the report lists them ("3 ZOOPLANKTON");
a compartment tabulated twice has two columns, in the order of the table.
When the cycles of a run tabulate different compartments, each new one adds
a column, left empty in the rows of the other cycles. --long gives one record
per row and compartment instead: cycle,time,compartment,name,biomass.

Values are the digits the report prints (three significant digits, as
.123E+02), with a 0 put before a leading decimal point so that every CSV
reader takes them as numbers: 0.123E+02; a time or value the report could
only print as asterisks is an empty field. Records end with CRLF and fields
holding a comma or a double quote are quoted (RFC 4180).

--snapshots reads a snapshot file of ecodyn instead (any network file will
do): one record per snapshot with the biomass of every compartment to seven
significant digits, as ecodyn reads it back (a compartment without a biomass
record has biomass zero); the first column counts the snapshots.

--events writes the extinctions of the report to a second file:
cycle,time,compartment,name.

Any error leaves no output (an existing output file is kept as it was).
Exit status: 0 when the tables were written, 2 otherwise.)";

void write_records(fio::Unit unit, const std::vector<std::string>& records) {
  for (const std::string& r : records) {
    const std::string line = r + "\r";
    fio::write(unit, "(A)", fio::ConstChars{line.data(), static_cast<int>(line.size())});
  }
}

// Returns a value in the manner of the E14.7 editing of the writer, with a
// 0 before the decimal point: "0.5000000E+03".
std::string seven_digits(float v) {
  if (v == 0.0f) return "0.0000000E+00";
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.6E", static_cast<double>(std::fabs(v)));  // "5.000000E+02"
  const std::string s = buf;
  const int power = std::atoi(s.c_str() + 9) + 1;
  std::snprintf(buf, sizeof buf, "%s0.%c%sE%c%02d", v < 0 ? "-" : "", s[0], s.substr(2, 6).c_str(),
                power < 0 ? '-' : '+', std::abs(power));
  return buf;
}

// Returns every description of a snapshot (or network) file, read as ecodyn
// reads it back, as a "cycle" of one row: the biomass of every compartment
// (zero without a biomass record), with seven significant digits. A record
// that cannot be read ends the program after the record layer's diagnostic.
std::vector<tools::Cycle> read_snapshots(fio::Unit unit) {
  static tools::NetworkValues net;
  std::vector<tools::Cycle> snapshots;
  while (tools::read_description(unit, net)) {
    tools::Cycle c{static_cast<int>(snapshots.size()) + 1, net.line, net.title(), {}, {}, {}};
    char time[32];
    std::snprintf(time, sizeof time, "%.3f", static_cast<double>(net.time));
    tools::TableRow row{net.line, time, {}};
    for (int i = 1; i <= net.ncomp; ++i) {
      c.columns.push_back({i, net.name(i)});
      row.values.push_back(seven_digits(net.biomass(i)));
    }
    c.rows.push_back(std::move(row));
    snapshots.push_back(std::move(c));
  }
  return snapshots;
}

// Writes the records to the file, whole or not at all; false after a
// diagnostic.
bool write_file(const std::string& path, const std::vector<std::string>& records) {
  std::string error;
  tools::OutputFile file;
  if (!file.open(output_unit, path, error)) {
    complain(error);
    return false;
  }
  write_records(output_unit, records);
  if (!file.commit(error)) {
    complain(error);
    return false;
  }
  return true;
}

struct Options {
  std::string input = "fort.8", output, snapshots, events;
  bool tidy = false;
};

// Reads the report or snapshot file and writes its tables; returns the
// exit status.
int write_tables(const Options& o) {
  const std::string path = o.snapshots.empty() ? o.input : o.snapshots;
  const auto text = tools::read_text_file(path);
  if (!text) return exit_failure;
  std::vector<tools::Cycle> cycles;
  try {
    if (!o.snapshots.empty() && !fio::connect(snapshot_unit, path.c_str(), true)) {
      complain("cannot read " + path + ": " + std::strerror(errno ? errno : EIO));
      return exit_failure;
    }
    cycles = o.snapshots.empty() ? tools::read_report(*text) : read_snapshots(snapshot_unit);
  } catch (const tools::InputError& e) {
    tools::Diagnostics(path).error(e.line(), e.what());
    return exit_failure;
  }
  const char* group = o.snapshots.empty() ? "cycle" : "snapshot";
  const std::vector<std::string> table =
      o.tidy ? csv::tidy(cycles, group) : csv::wide(cycles, group);

  const bool to_file = !o.output.empty() && o.output != "-";
  for (const std::string& file : {to_file ? o.output : std::string(), o.events}) {
    std::string error;
    if (!file.empty() && !tools::replaceable(file, {path}, error)) {
      complain(error);
      return exit_failure;
    }
  }
  if (!o.events.empty() && !write_file(o.events, csv::events(cycles))) return exit_failure;
  if (!to_file) {
    write_records(fio::terminal, table);
    return fio::exit_normal;
  }
  return write_file(o.output, table) ? fio::exit_normal : exit_failure;
}

}  // namespace

int main(int argc, char** argv) {
  fio::set_program_name("ecodyn-csv");

  CLI::App app{description, "ecodyn-csv"};
  Options o;
  CLI::Option* input_option =
      app.add_option("REPORT", o.input, "report file of ecodyn to read (default fort.8)")
          ->type_name("FILE");
  app.add_option("-o,--output", o.output, "CSV file to write (default: standard output)")
      ->type_name("FILE");
  app.add_flag("--long", o.tidy, "one record per row and compartment instead of one per row");
  CLI::Option* snap_option =
      app.add_option("--snapshots", o.snapshots, "read this snapshot file instead of a report")
          ->type_name("FILE")
          ->excludes(input_option);
  app.add_option("--events", o.events, "also write the extinctions to this CSV file")
      ->type_name("FILE")
      ->excludes(snap_option);
  if (const auto status = ecodyn::tools::parse_command_line(app, argc, argv, footer)) {
    return *status;
  }
  return fio::run([&] { return write_tables(o); });
}
