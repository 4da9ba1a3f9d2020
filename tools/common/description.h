// Reading the network descriptions of a network file or snapshot file, one
// after another, by the rules ecodyn's own loader reads them with, without
// its listing and without the model coefficients of a snapshot.
#pragma once

#include <optional>
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
  int line = 0;      // line of the title record
  int end_line = 0;  // line of the description's last record

  // Returns the title without its trailing blanks.
  std::string title() const;
  // Returns the name of compartment i without its trailing blanks.
  std::string name(int i) const;
  // Returns the description as an ordinary network for the writer: type and
  // time blank, no restart columns, balance_digits blank when 0.
  Description as_ordinary() const;
};

// Picks one description of a file as the descriptions are read one after
// another: the one with a given number (from 1), or the last one at a given
// time to the three decimals of the counts record, or, when none is there,
// the one nearest that time if it lies within half the smallest spacing of
// the times in the file (snapshot times drift from the grid asked for as
// single-precision steps add up: one asked for at 600 may stand at
// 600.288); without either, the last.
class Choice {
 public:
  Choice(int index, std::optional<double> time) : index_(index), time_(time) {}

  // Takes the description just read, the count-th of the file.
  void offer(int count, const NetworkValues& net);

  // Returns the description chosen, or nullptr when none is.
  const NetworkValues* chosen() const;

  // Returns whether the description chosen is at another time than asked
  // for (the nearest).
  bool nearest() const { return !exact_ && chosen() != nullptr && time_.has_value(); }

 private:
  int index_;
  std::optional<double> time_;
  NetworkValues kept_;
  bool exact_ = false, any_ = false;
  double distance_ = 0;                 // of the nearest so far
  double previous_ = 0, spacing_ = 0;   // time of the one before; smallest gap so far
  int count_ = 0;
};

// Returns the time of a counts record to its three decimals, in thousandths.
long long millis(double t);

// Reads the next description from the unit into net. Returns false when
// the file ends where a title or counts record is due (the end of the
// descriptions, as for ecodyn). An unreadable or missing record ends the
// program with status 2 after the record layer's diagnostic; a description
// that ecodyn would refuse throws tools::InputError naming the line.
bool read_description(fio::Unit unit, NetworkValues& net);

}  // namespace ecodyn::tools
