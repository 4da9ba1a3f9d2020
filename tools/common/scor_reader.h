// Reading a flow network in the SCOR exchange format:
//
//   title
//   ncomp nliving
//   one name per line, living compartments first
//   biomass      "i value" lines, ended by a line "-1"
//   inputs       the same
//   exports      the same
//   respirations the same
//   flows        "i j value" lines (from i to j), ended by "-1"
//
// as it is found in the wild: values separated by any blanks or tabs;
// sections listing only some compartments (the rest are zero); Fortran
// exponents without the letter ("1.2-4"); self-flows; a stray number after
// the title, at its end or on a line of its own; trailing blanks; CRLF or CR
// line ends; blank lines anywhere; "#" comment lines before the title.
#pragma once

#include <array>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/diagnostics.h"

namespace ecodyn::import {

using tools::complain;
using tools::Diagnostics;
using tools::InputError;

// A number of the file, with the text it was read from and its line.
struct SourceValue {
  double value = 0;
  std::string text;
  int line = 0;
};

// The four per-compartment sections, in the order of the file.
enum Section { biomass, inputs, exports, respirations, section_count };

// Returns "biomass", "input", "export" or "respiration".
const char* section_name(Section s);

// Returns what an entry of a section is, for messages ("the export of
// compartment 3").
std::string entry_name(Section s, int i);

struct ScorNetwork {
  std::string title;  // blanks at both ends removed
  int title_line = 0;
  int ncomp = 0;
  int nliv = 0;
  std::vector<std::string> names;  // names[i - 1]: compartment i, blanks at both ends removed
  std::vector<int> name_lines;
  std::array<std::map<int, SourceValue>, section_count> vectors;  // entries by compartment
  std::map<std::pair<int, int>, SourceValue> flows;               // by (origin, destination)
};

// The largest network ecodyn holds.
inline constexpr int compartment_limit = 75;

// Returns whether a character separates values in SCOR: a blank, a tab, a
// form feed or a vertical tab.
bool is_blank(char c);

// Returns the text without the blanks at both ends.
std::string trimmed(std::string_view s);

// Returns the values of a line, split at blanks.
std::vector<std::string> tokens(std::string_view s);

// Reads a whole SCOR text. Throws InputError for anything that is not a
// usable network; warns of entries given twice (the later one is kept).
ScorNetwork read_scor(std::string_view text, Diagnostics& diagnostics);

}  // namespace ecodyn::import
