// The gnuplot script that draws the time-series tables of a report: the
// tables as inline data blocks, one panel per cycle, one line per
// compartment. gnuplot owns the axes, ticks, log scales and legends.
#pragma once

#include <string>
#include <vector>

#include "common/report_reader.h"

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

// Default size of a picture: 900 pixels wide, 500 high per panel.
constexpr int default_width = 900;
constexpr int panel_height = 500;

// Returns a text as a gnuplot string in single quotes (a quote doubled).
std::string quoted(const std::string& s);

// Returns the format named by the output's extension (.svg, .png, .pdf,
// any case), or false.
bool format_of(const std::string& output, Format& format);

// Returns true if the biomasses drawn span more than three decades, so that
// a logarithmic axis shows them better.
bool spans_decades(const std::vector<Cycle>& cycles, bool relative);

// Returns the script for the cycles (each with rows). The picture goes to
// the file named by the gnuplot variable outfile if it is set, else to
// picture.output.
std::string script(const std::vector<Cycle>& cycles, const Picture& picture);

}  // namespace ecodyn::plot
