// ecodyn-plot: draws the time-series tables of ecodyn report files, or the
// summary of an ensemble database, as a picture (SVG, PNG or PDF) with
// gnuplot.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "common/command_line.h"
#include "common/diagnostics.h"
#include "common/output_file.h"
#include "common/replaceable.h"
#include "common/report_reader.h"
#include "common/spool.h"
#include "ensemble.h"
#include "fio/fio.h"
#include "gnuplot.h"
#include "script.h"

namespace {

using namespace ecodyn;
using tools::complain;

constexpr int exit_failure = fio::exit_bad_io;
constexpr auto script_unit = static_cast<fio::Unit>(20);

constexpr const char* description =
    "Draws the time-series tables of ecodyn report files: biomass against time. For one report, "
    "one line per compartment and one panel per cycle of the run; for several, one panel per "
    "compartment and one line per report and cycle. For an ensemble database of ecodyn-ensemble, "
    "one panel per compartment and, per scenario, the median and the 5-95% and 25-75% bands.";

constexpr const char* footer =
    R"(
The format follows the name of the picture: .svg, .png or .pdf. The default
size is 900 by 500 pixels per panel (PDF: 9 by 5 inches per panel), at most
20000 high; --size sets the size of the whole picture, of at most 100 panels
and 100 tables. Several reports are compared compartment by compartment
(matched by number and name); each line is labelled by --label, given once
for each report in order, or by default by the folder of the report (its
name if it has none), and, where a report holds several cycles, by what
the cycle ran (--cycle-labels) or its number. A compartment that went
extinct has its line end at the time of the notice, with a marker.
The biomass axis is logarithmic when the biomasses drawn span more than three
decades (--log and --linear decide instead). A compartment tabulated twice is
drawn once. An ensemble database (an SQLite file of ecodyn-ensemble) is
drawn alone: per compartment recorded, per scenario, the median over the
accepted members between a light band from the 5% to the 95% quantile and
a darker one from the 25% to the 75%; --compartments and --scenarios pick
some. Bytes of a title or name that are not valid UTF-8 are read as
Latin-1; a control character is shown as U+FFFD.

gnuplot (Debian package gnuplot-nox) draws the picture from a script that
holds the tables; --script keeps that script, to restyle the picture and
draw it again with "gnuplot SCRIPT". The picture appears only when gnuplot
has finished it; on any error an existing picture is kept as it was. The
report is read once, as a stream (a pipe will do), in bounded memory; the
script waits in a temporary file in TMPDIR (default /tmp).

Exit status: 0 when the picture was drawn, 2 otherwise.)";

// Parses "WIDTHxHEIGHT".
bool parse_size(const std::string& text, int& width, int& height) {
  int used = 0;
  return std::sscanf(text.c_str(), "%dx%d%n", &width, &height, &used) == 2 &&
         used == static_cast<int>(text.size()) && width >= 100 && height >= 100 &&
         width <= plot::max_size && height <= plot::max_size;
}

// Keeps a copy of the script in a file; false after a diagnostic.
bool keep_script(tools::Spool& script, const std::string& path) {
  std::string error;
  tools::OutputFile file;
  if (!file.open(script_unit, path, error)) {
    complain(error);
    return false;
  }
  script.rewind();
  std::string line;
  while (script.read_line(line))
    fio::write(script_unit, "(A)", fio::ConstChars{line.data(), static_cast<int>(line.size())});
  if (!file.commit(error)) {
    complain(error);
    return false;
  }
  return true;
}

// Returns the label of a report by default: the name of its folder, or
// its own name if it has none.
std::string default_label(const std::string& input) {
  const std::filesystem::path path(input);
  const std::string folder = path.parent_path().filename().string();
  return folder.empty() || folder == "." || folder == ".." ? path.filename().string() : folder;
}

// Draws the tables of the reports (those of one cycle, if cycle is not 0),
// or the ensemble database that is the one input when ensemble is given;
// returns the exit status.
int draw(const std::vector<std::string>& inputs, int cycle, const std::string& script_path,
         const plot::Picture& picture, const plot::Selection* ensemble) {
  std::string error;
  if (!tools::distinct({picture.output, script_path}, error)) {
    complain(error);
    return exit_failure;
  }
  for (const std::string& file : {script_path, picture.output}) {
    if (!file.empty() && !tools::replaceable(file, inputs, error)) {
      complain(error);
      return exit_failure;
    }
  }
  tools::Spool spool;
  std::unique_ptr<plot::Script> script;
  std::function<void()> finish = [&] { plot::write_ensemble(inputs[0], picture, *ensemble, spool); };
  if (ensemble == nullptr) {
    script = std::make_unique<plot::Script>(picture, cycle, spool);
    finish = [&] { script->finish(); };
    // Each report is read once, as a stream: a pipe will do.
    for (std::size_t k = 0; k < inputs.size(); ++k) {
      script->input(k);
      const int status = tools::reading(inputs[k], [&] {
        tools::read_report(inputs[k], *script);
        return 0;
      });
      if (status != 0) return status;
    }
  }
  return tools::reading(inputs.back(), [&] {
    finish();
    if (!script_path.empty() && !keep_script(spool, script_path)) return exit_failure;
    const std::string gnuplot = plot::find_gnuplot();
    if (gnuplot.empty()) {
      complain(
          "gnuplot draws the pictures and is not installed: install the Debian package "
          "gnuplot-nox");
      return exit_failure;
    }
    if (!plot::render(gnuplot, spool, picture.output, error)) {
      complain(error);
      return exit_failure;
    }
    return fio::exit_normal;
  });
}

}  // namespace

int main(int argc, char** argv) {
  fio::set_program_name("ecodyn-plot");

  CLI::App app{description, "ecodyn-plot"};
  std::vector<std::string> inputs{"fort.8"}, labels, cycle_labels;
  plot::Selection selection;
  std::string script_path, size;
  plot::Picture picture;
  int cycle = 0;
  bool log = false, linear = false;
  app.add_option("REPORT", inputs,
                 "report files of ecodyn to read (default fort.8), or one ensemble database")
      ->type_name("FILE");
  app.add_option("--label", labels, "label of the lines of a report, once for each in order")
      ->type_name("TEXT");
  app.add_option("--cycle-labels", cycle_labels,
                 "what each cycle ran, from the first, as \"model 1,model 2\"")
      ->type_name("TEXT,...")
      ->delimiter(',');
  app.add_option("--units", picture.units, "units of biomass, for the axis label")
      ->type_name("TEXT");
  app.add_option("--time-unit", picture.time_unit, "unit of time, for the axis label")
      ->type_name("TEXT");
  app.add_option("-o,--output", picture.output, "picture to write: NAME.svg, NAME.png or NAME.pdf")
      ->type_name("FILE")
      ->required();
  app.add_option("--cycle", cycle, "draw only the table of this cycle (counted from 1)")
      ->check(CLI::PositiveNumber);
  CLI::Option* log_option = app.add_flag("--log", log, "logarithmic biomass axis");
  app.add_flag("--linear", linear, "linear biomass axis")->excludes(log_option);
  app.add_flag("--relative", picture.relative,
               "biomass divided by its value at the start of the cycle");
  app.add_option("--size", size,
                 "size of the picture in pixels (PDF: hundredths of an inch), as 1200x800")
      ->type_name("WxH");
  app.add_option("--script", script_path, "keep the gnuplot script in this file")
      ->type_name("FILE");
  app.add_option("--compartments", selection.compartments,
                 "of an ensemble database: draw these compartments, by number or name, in order")
      ->type_name("LIST")
      ->delimiter(',');
  app.add_option("--scenarios", selection.scenarios,
                 "of an ensemble database: draw these scenarios, by number, in order")
      ->type_name("LIST")
      ->delimiter(',')
      ->check(CLI::Range(1, std::numeric_limits<int>::max()).description(""));
  if (const auto status = ecodyn::tools::parse_command_line(app, argc, argv, footer)) {
    return *status;
  }
  if (!plot::format_of(picture.output, picture.format)) {
    complain("cannot tell the format of " + picture.output + ": name it .svg, .png or .pdf");
    return exit_failure;
  }
  if (!size.empty() && !parse_size(size, picture.width, picture.height)) {
    complain("--size " + size + ": give width and height in pixels, 100 to " +
             std::to_string(plot::max_size) + ", as 1200x800");
    return exit_failure;
  }
  picture.scale = log      ? plot::Scale::logarithmic
                  : linear ? plot::Scale::linear
                           : plot::Scale::automatic;
  if (!labels.empty() && labels.size() != inputs.size()) {
    complain("--label given " + std::to_string(labels.size()) + " times for " +
             std::to_string(inputs.size()) + " reports: give it once for each report");
    return exit_failure;
  }
  for (std::size_t k = 0; k < inputs.size(); ++k) {
    picture.labels.push_back(labels.empty() ? default_label(inputs[k]) : labels[k]);
    picture.source += (k == 0 ? "" : ", ") + inputs[k];
  }
  picture.cycle_labels = cycle_labels;

  // An ensemble database is drawn alone, with the options that apply to it.
  const auto database = std::find_if(inputs.begin(), inputs.end(), plot::is_database);
  if (database != inputs.end() && inputs.size() > 1) {
    complain(*database + " is an ensemble database, drawn alone: give it without reports");
    return exit_failure;
  }
  const std::vector<std::string> report_options = {"--cycle", "--label", "--cycle-labels",
                                                   "--relative"},
                                 ensemble_options = {"--compartments", "--scenarios"};
  for (const std::string& name : database != inputs.end() ? report_options : ensemble_options) {
    if (app.count(name) > 0) {
      complain(name + (database != inputs.end() ? " applies to reports, not to"
                                                              : " applies only to") +
               " an ensemble database");
      return exit_failure;
    }
  }
  const plot::Selection* ensemble = database != inputs.end() ? &selection : nullptr;
  return fio::run([&] { return draw(inputs, cycle, script_path, picture, ensemble); });
}
