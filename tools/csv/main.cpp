// ecodyn-csv: the time-series tables of an ecodyn report file (or the
// biomasses of a snapshot file) as CSV, for spreadsheets and data frames.
#include <CLI/CLI.hpp>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <system_error>

#include "common/command_line.h"
#include "common/description.h"
#include "common/diagnostics.h"
#include "common/output_file.h"
#include "common/replaceable.h"
#include "common/report_reader.h"
#include "common/spool.h"
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
record has biomass zero). The columns: cycle, snapshot, time, then the
compartments. cycle counts the cycles of the run that wrote the snapshots:
a new cycle begins where the model type or the title changes or the time
goes back; snapshot counts the snapshots.

--events writes the extinctions of the report to a second file:
cycle,time,compartment,name.

The input is read once, as a stream (a pipe will do), in bounded memory; the
records wait in a temporary file in TMPDIR (default /tmp) until it is read
whole. An empty input, a report line longer than 4096 characters, a wide
table of more than 10000 columns, and an output that is the input are
refused. Any error leaves no output (an existing output file is kept as it
was). Exit status: 0 when the tables were written, 2 otherwise.)";

// Reads every description of a snapshot (or network) file, read as ecodyn
// reads it back, and hands it to the tables as a cycle of one row: the
// biomass of every compartment (zero without a biomass record), with seven
// significant digits. A record that cannot be read ends the program after
// the record layer's diagnostic.
void read_snapshots(csv::Tables& tables) {
  static tools::NetworkValues net;
  int count = 0, cycle = 0, model = 0;
  std::string title;
  double last_time = 0;
  while (tools::read_description(snapshot_unit, net)) {
    // A cycle of the run begins where the model type or the title changes
    // or the time goes back.
    if (cycle == 0 || net.mtype != model || net.title() != title || net.time < last_time) ++cycle;
    model = net.mtype;
    title = net.title();
    last_time = net.time;
    tables.run_cycle(cycle);
    tools::Cycle c{++count, net.line, net.title(), {}};
    char time[32];
    std::snprintf(time, sizeof time, "%.3f", static_cast<double>(net.time));
    tools::TableRow row{net.line, time, {}};
    for (int i = 1; i <= net.ncomp; ++i) {
      c.columns.push_back({i, net.name(i)});
      row.values.push_back(csv::seven_digits(net.biomass(i)));
    }
    tables.table(c);
    tables.row(c, row);
    fio::check_signal();
  }
  if (fio::records_read(snapshot_unit) == 0) throw tools::InputError(0, "the file is empty");
}

// Where the records of a table go: a file that appears whole once every
// record is written, or standard output.
class Output {
 public:
  // Opens the file (standard output for "" or "-"); false after a diagnostic.
  bool open(const std::string& path) {
    to_file_ = !path.empty() && path != "-";
    std::string error;
    if (to_file_ && !file_.open(output_unit, path, error)) {
      complain(error);
      return false;
    }
    return true;
  }

  // Writes a record; records go out in blocks of some 64 KB.
  void put(std::string_view record) {
    block_.append(record).append("\r\n");
    if (block_.size() >= 65536) flush();
  }

  // Puts the file in place (writes out standard output); false after a
  // diagnostic.
  bool commit() {
    flush();
    if (!to_file_) {
      if (std::fflush(stdout) != 0 || std::ferror(stdout)) standard_output_failed();
      return true;
    }
    std::string error;
    if (file_.commit(error)) return true;
    complain(error);
    return false;
  }

 private:
  void flush() {
    if (block_.empty()) return;
    if (to_file_) {
      // One record of the layer holds the block; the layer ends its last line.
      fio::write(output_unit, "(A)",
                 fio::ConstChars{block_.data(), static_cast<int>(block_.size() - 1)});
    } else if (std::fwrite(block_.data(), 1, block_.size(), stdout) != block_.size()) {
      standard_output_failed();
    }
    block_.clear();
  }

  [[noreturn]] static void standard_output_failed() {
    const int error = errno ? errno : EIO;
    fio::check_signal();  // a write cut short by a signal is the signal's doing
    complain(std::string("cannot write standard output: ") + std::strerror(error));
    throw fio::Stop{exit_failure};
  }

  bool to_file_ = false;
  tools::OutputFile file_;
  std::string block_;  // records not yet written
};

struct Options {
  std::string input = "fort.8", output, snapshots, events;
  bool tidy = false;
};

// Reads the report or snapshot file and writes its tables; returns the
// exit status.
int write_tables(const Options& o) {
  const std::string path = o.snapshots.empty() ? o.input : o.snapshots;
  const bool to_file = !o.output.empty() && o.output != "-";
  std::string error;
  if (!tools::distinct({to_file ? o.output : std::string(), o.events}, error)) {
    complain(error);
    return exit_failure;
  }
  for (const std::string& file : {to_file ? o.output : std::string(), o.events}) {
    if (!file.empty() && !tools::replaceable(file, {path}, error)) {
      complain(error);
      return exit_failure;
    }
  }
  const char* group = o.snapshots.empty() ? "cycle" : "snapshot";
  return tools::reading(path, [&] {
    tools::Spool body, events;
    csv::Tables tables(group, o.tidy, body, o.events.empty() ? nullptr : &events);
    // The input is read once, as a stream: a pipe will do.
    if (o.snapshots.empty()) {
      tools::read_report(path, tables);
    } else {
      if (!fio::connect(snapshot_unit, path.c_str(), true))
        throw std::system_error(errno ? errno : EIO, std::generic_category());
      read_snapshots(tables);
    }
    if (!o.events.empty()) {
      Output out;
      if (!out.open(o.events)) return exit_failure;
      tables.write_events([&](std::string_view r) { out.put(r); });
      if (!out.commit()) return exit_failure;
    }
    Output out;
    if (!out.open(o.output)) return exit_failure;
    tables.write_table([&](std::string_view r) { out.put(r); });
    return out.commit() ? fio::exit_normal : exit_failure;
  });
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
