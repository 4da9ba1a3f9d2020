// ecodyn-plot: draws the time-series tables of an ecodyn report file as a
// picture (SVG, PNG or PDF) with gnuplot.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <string>

#include "common/command_line.h"
#include "common/diagnostics.h"
#include "common/output_file.h"
#include "common/replaceable.h"
#include "common/report_reader.h"
#include "common/spool.h"
#include "fio/fio.h"
#include "gnuplot.h"
#include "script.h"

namespace {

using namespace ecodyn;
using tools::complain;

constexpr int exit_failure = fio::exit_bad_io;
constexpr auto script_unit = static_cast<fio::Unit>(20);

constexpr const char* description =
    "Draws the time-series tables of an ecodyn report file: biomass against time, one line per "
    "compartment, one panel per cycle of the run.";

constexpr const char* footer =
    R"(
The format follows the name of the picture: .svg, .png or .pdf. The default
size is 900 by 500 pixels per panel (PDF: 9 by 5 inches per panel), at most
20000 high; --size sets the size of the whole picture, of at most 100 panels.
The biomass axis is logarithmic when the biomasses drawn span more than three
decades (--log and --linear decide instead). A compartment tabulated twice is
drawn once. Bytes of a title or name that are not valid UTF-8 are read as
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

// Draws the tables of the report (those of one cycle, if cycle is not 0);
// returns the exit status.
int draw(const std::string& input, int cycle, const std::string& script_path,
         const plot::Picture& picture) {
  std::string error;
  if (!tools::distinct({picture.output, script_path}, error)) {
    complain(error);
    return exit_failure;
  }
  for (const std::string& file : {script_path, picture.output}) {
    if (!file.empty() && !tools::replaceable(file, {input}, error)) {
      complain(error);
      return exit_failure;
    }
  }
  return tools::reading(input, [&] {
    tools::Spool spool;
    plot::Script script(picture, cycle, spool);
    // The report is read once, as a stream: a pipe will do.
    tools::read_report(input, script);
    script.finish();
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
  std::string input = "fort.8", script_path, size;
  plot::Picture picture;
  int cycle = 0;
  bool log = false, linear = false;
  app.add_option("REPORT", input, "report file of ecodyn to read (default fort.8)")
      ->type_name("FILE");
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
  picture.source = input;

  return fio::run([&] { return draw(input, cycle, script_path, picture); });
}
