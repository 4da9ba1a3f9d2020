// Test support: the records of a network file written in their fixed
// columns, and the lines of the report that lists a network.
#pragma once

#include <string>
#include <vector>

namespace ecodyn::test {

// n blanks; a text right-aligned in w columns (whole when longer); an
// integer right-aligned in w columns; a text n times; the lines of a text.
std::string blanks(int n);
std::string right(const std::string& s, int w);
std::string num(int i, int w);
std::string repeat(const std::string& s, int n);
std::vector<std::string> lines_of(const std::string& text);

// --- records of a network file ---

// Title record: the title in columns 1-78, balance_digits (as given) in 79-80.
std::string title(const std::string& text, const std::string& digits = "");
// Counts record: ncomp and nliv in three columns each; with a model type or
// a time (a snapshot), the type in three more and the time in ten.
std::string counts(int ncomp, int nliv = 0, int mtype = 0, const std::string& time = "");
// Name record as written: 25 columns and three blanks.
std::string name(const std::string& text);
// Names "C1", "C2", ... of compartments 1 to n, one a record.
std::string names(int n);
// Vector list record: the index in three columns, each value in fourteen.
template <class... V>
std::string rec(int i, const V&... values) {
  std::string s = num(i, 3);
  ((s += right(values, 14)), ...);
  return s + "\n";
}
// Matrix list record: origin and destination in three columns each, each
// value in fourteen.
template <class... V>
std::string mrec(int i, int j, const V&... values) {
  return num(i, 3) + rec(j, values...);
}
// The balanced network of two compartments: plants (living, biomass 10) and
// detritus (biomass 20); input 5 to the plants; exports 1 and 2; respiration
// 2 of the plants; 3 from plants to detritus, 1 back.
std::string two_compartments_file(const std::string& text = "TWO COMPARTMENTS");

// --- lines of the report ---

// The title line (carriage control 1) and the empty line after it.
std::string title_line(const std::string& text);
// A compartment's line in the lists of living and non-living compartments.
std::string name_line(int i, const std::string& text);
// The number line over a block of a listing: six blanks, then each number
// in six columns, three blanks between them.
std::string numbers(int first, int last);
// The label of matrix row i: a blank, the number in three columns, two blanks.
std::string label(int i);
// A listed zero, in its nine-column field.
inline const std::string zero = " .000E+00";

}  // namespace ecodyn::test
