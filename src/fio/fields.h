// The columns of a fixed-layout record as a read format lays them out, so
// that the record layer can tell a user which column of a line holds what
// the layout cannot take (a tab) or reads otherwise than it looks (a number
// without a decimal point, whose last digits the layout makes decimals).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fio::fields {

// One edit descriptor of a read format, expanded from its repeat count.
struct Field {
  char type = 'A';   // A, I, E, F (D and G read as E)
  int width = 0;     // columns
  int decimals = 0;  // the d of Ew.d and Fw.d: implied decimals
};

// Returns the value fields of a simple read format such as "(I3,3E14.7)" or
// "(19A4,A2,I2)" (nX skips columns and is kept as a field of type X), or
// nothing for a format with groups, strings or other descriptors.
std::optional<std::vector<Field>> parse(std::string_view format);

// What a line holds where the first `used` value fields of the format
// stand: the first tab inside a numeric field, and the real fields whose
// text is a non-zero number without a decimal point.
struct Findings {
  int tab_column = 0;  // 1-based; 0 when there is none
  struct Implied {
    int field;                 // among the value fields, from 0
    int first, last;           // 1-based columns of the field as laid out
    std::string text;          // the field's text without blanks
  };
  std::vector<Implied> implied;
};

// Walks the line as the run-time reads it: a field ends at its width, or
// early at a comma, and the next field begins after the comma.
Findings examine(std::string_view line, const std::vector<Field>& format, int used);

// Returns a value as the network file's E14.7 field shows it, with a 0
// before the point: "0.1000000E-05".
std::string e14_7(float value);

}  // namespace fio::fields
