// The gnuplot script that draws the time-series tables of a report: the
// tables as inline data blocks, one panel per cycle, one line per
// compartment. gnuplot owns the axes, ticks, log scales and legends.
// Nothing read from a report or a file name reaches gnuplot but as data:
// texts are written as strings in which no character can end the string or
// the line, or make gnuplot run anything.
#pragma once

#include <cmath>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/report_reader.h"
#include "common/spool.h"

namespace ecodyn::plot {

using tools::Cycle;

enum class Format { svg, png, pdf };
enum class Scale { automatic, linear, logarithmic };

struct Picture {
  std::string output;  // the file the script writes when run on its own
  Format format = Format::png;
  int width = 0, height = 0;  // pixels (PDF: hundredths of an inch); 0: default
  Scale scale = Scale::automatic;
  bool relative = false;  // biomass divided by its value in the first row
  std::string source;     // the report, for the script's comment
};

// Default size of a picture: 900 pixels wide, 500 high per panel, at most
// max_size high (also the largest size --size takes).
constexpr int default_width = 900;
constexpr int panel_height = 500;
constexpr int max_size = 20000;
// The most panels of one picture.
constexpr int max_panels = 100;

// Returns the bytes of a text as a gnuplot string in double quotes: letters,
// digits, blanks and .,:;_+-()/ as they are, every other byte as an octal
// escape (four digits below octal 100, where gnuplot reads four), so that
// nothing can end the string or the line or be substituted (backquotes).
std::string quoted(std::string_view text);

// Returns a text as it can be shown: valid UTF-8 as it is, a byte that is
// not part of valid UTF-8 read as Latin-1, and a control character as
// U+FFFD, the replacement character.
std::string shown(std::string_view text);

// Returns the format named by the output's extension (.svg, .png, .pdf,
// any case), or false.
bool format_of(const std::string& output, Format& format);

// Writes the script of a picture to a spool as the reader hands the tables
// over: first the tables of the cycles drawn as data blocks, then, in
// finish(), the settings, which depend on every value (the scale) and on
// the number of panels (the size). The picture goes to the file named by
// the gnuplot variable outfile if it is set, else to picture.output.
class Script : public tools::ReportHandler {
 public:
  // cycle: the number of the one cycle drawn, 0 for every cycle.
  Script(const Picture& picture, int cycle, tools::Spool& out);

  void table(const Cycle& cycle) override;
  void row(const Cycle& cycle, const tools::TableRow& row) override;
  void extinction(const Cycle&, const tools::Extinction&) override {}

  // Writes the settings that draw the tables; throws InputError when there
  // is no table to draw.
  void finish();

 private:
  // Returns the size of the picture: as given, or the default for the
  // panels drawn.
  std::pair<int, int> size() const;

  // Returns true if the biomasses drawn span more than three decades, so
  // that a logarithmic axis shows them better.
  bool spans_decades() const { return high_ > 0 && high_ / low_ > 1000.0; }

  // A cycle drawn: its title, the positions of the compartments drawn in
  // its table (each once) with their names, and their values in the first
  // row.
  struct Panel {
    int number = 0;
    std::string title;
    std::vector<std::size_t> drawn;
    std::vector<std::string> names;
    std::vector<double> start;
  };

  const Picture& picture_;
  int cycle_;
  tools::Spool& out_;
  std::vector<Panel> panels_;
  bool open_ = false;  // the data block of the last panel is not yet ended
  // The smallest and largest positive value drawn, and the smallest of all.
  double low_ = INFINITY, high_ = 0, least_ = INFINITY;
};

}  // namespace ecodyn::plot
