// The gnuplot script that draws the time-series tables of reports: the
// tables as inline data blocks; for one report one panel per cycle and one
// line per compartment, for several one panel per compartment and one line
// per report and cycle. gnuplot owns the axes, ticks, log scales and legends.
// Nothing read from a report or a file name reaches gnuplot but as data:
// texts are written as strings in which no character can end the string or
// the line, or make gnuplot run anything.
#pragma once

#include <cmath>
#include <string>
#include <string_view>
#include <map>
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
  std::string source;     // the reports, for the script's comment
  std::vector<std::string> labels;        // one per report drawn
  std::vector<std::string> cycle_labels;  // what each cycle ran, from the first; may be empty
  std::string units, time_unit;           // of the axes; may be empty
};

// Default size of a picture: 900 pixels wide, 500 high per panel, at most
// max_size high (also the largest size --size takes).
constexpr int default_width = 900;
constexpr int panel_height = 500;
constexpr int max_size = 20000;
// The most panels of one picture, and the most tables of its reports.
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

// Returns a value as a data block holds it: six significant digits, NaN
// (undefined to gnuplot) when it is not finite.
std::string number(double v);

// Returns the size of a picture of the given number of panels: as given,
// or the default.
std::pair<int, int> picture_size(const Picture& picture, int panels);

// Returns true if the biomass axis is logarithmic: as the scale says, or
// when automatic, if the positive values drawn (from low to high; high 0
// when none) span more than three decades, so that a logarithmic axis
// shows them better.
bool logarithmic(Scale scale, double low, double high);

// Returns the yrange setting of a panel whose values all equal low (low ==
// high): a range around it, where gnuplot would find the range empty; ""
// for any other panel.
std::string range_around(double low, double high, bool log);

// Returns the settings of a picture of the given size, from the file it is
// written to, through the terminal, the axes' labels and scale (a linear
// axis from zero when from_zero) to the line colours and the key below.
std::string settings(const Picture& picture, std::pair<int, int> size, bool log, bool from_zero);

// Writes the script of a picture to a spool as the reader hands the tables
// over: first the tables of the cycles drawn as data blocks, then, in
// finish(), the settings, which depend on every value (the scale) and on
// the number of panels (the size). The picture goes to the file named by
// the gnuplot variable outfile if it is set, else to picture.output.
class Script : public tools::ReportHandler {
 public:
  // cycle: the number of the one cycle drawn, 0 for every cycle.
  Script(const Picture& picture, int cycle, tools::Spool& out);

  // Begins the report of the k-th label; the reports are read in turn.
  void input(std::size_t k);

  void table(const Cycle& cycle) override;
  void row(const Cycle& cycle, const tools::TableRow& row) override;
  void extinction(const Cycle& cycle, const tools::Extinction& extinction) override;

  // Writes the settings that draw the tables; throws InputError when there
  // is no table to draw.
  void finish();

 private:
  // Returns the size of the picture: as given, or the default for the
  // panels drawn.
  std::pair<int, int> size() const;

  // Returns what the cycle of a table ran: its label, or "cycle N".
  std::string cycle_label(int number) const;

  // A table drawn: its report and cycle, the positions of the compartments
  // drawn (each once), their panels when reports are compared, their names,
  // their values in the first and the last row, whether each went extinct,
  // and the extinctions as time and value.
  struct Panel {
    std::size_t input = 0;
    int number = 0;
    std::string title, data;
    std::vector<std::size_t> drawn, compartment;
    std::vector<int> numbers;
    std::vector<std::string> names;
    std::vector<double> start, last;
    std::vector<bool> extinct;
    std::vector<std::pair<std::size_t, std::pair<std::string, double>>> ends;
  };

  const Picture& picture_;
  int cycle_;
  tools::Spool& out_;
  std::size_t input_ = 0;
  std::vector<Panel> panels_;
  // When reports are compared: the compartments by number and name, in the
  // order first tabulated.
  std::map<std::pair<int, std::string>, std::size_t> compartments_;
  std::vector<std::pair<int, std::string>> compartment_list_;
  bool open_ = false;  // the data block of the last panel is not yet ended
  // The smallest and largest value drawn in each panel, so that a panel of
  // a single value gets a range around it.
  std::vector<std::pair<double, double>> ranges_;
  // The smallest and largest positive value drawn, and the smallest of all.
  double low_ = INFINITY, high_ = 0, least_ = INFINITY;
};

}  // namespace ecodyn::plot
