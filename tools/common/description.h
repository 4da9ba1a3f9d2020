// Reading the network descriptions of a network file or snapshot file, one
// after another, by the rules ecodyn's own loader reads them with, without
// its listing and without the model coefficients of a snapshot.
#pragma once

#include <string>

#include "fio/fio.h"
#include "network/arrays.h"
#include "network/writer.h"

namespace ecodyn::tools {

// One description as read: the network values of an ordinary network or of
// a snapshot.
struct NetworkValues {
  NameTable names;         // row 0 the title, rows 1..ncomp the names
  int balance_digits = 0;  // columns 79-80 of the title record (blank reads 0)
  int ncomp = 0;
  int nliv = 0;   // as the loader holds it: 0 or less in the file is ncomp
  int mtype = 0;  // greater than 0: a snapshot (restart network)
  float time = 0;
  Vector biomass, inputs, exports, respirations;
  Matrix exchange;  // exchange(i,j): flow from i to j
  int line = 0;     // line of the title record

  // Returns the title without its trailing blanks.
  std::string title() const;
  // Returns the name of compartment i without its trailing blanks.
  std::string name(int i) const;
  // Returns the description as an ordinary network for the writer: type and
  // time blank, no restart columns, balance_digits blank when 0.
  Description as_ordinary() const;
};

// Reads the next description from the unit into net. Returns false when
// the file ends where a title or counts record is due (the end of the
// descriptions, as for ecodyn). An unreadable or missing record ends the
// program with status 2 after the record layer's diagnostic; a description
// that ecodyn would refuse throws tools::InputError naming the line.
bool read_description(fio::Unit unit, NetworkValues& net);

}  // namespace ecodyn::tools
