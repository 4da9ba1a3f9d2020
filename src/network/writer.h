// The records of a network description as a writer emits them: a snapshot of
// the running model, or a network converted from another format. Each record
// carries just the fields given and ends after its last value.
#pragma once

#include <optional>
#include <span>

#include "fio/fio.h"
#include "network/arrays.h"

namespace ecodyn {

// Index written on every list terminator.
inline constexpr int ndfl = -1;

// Title record: the 78 characters of row 0 and balance_digits.
void write_title(fio::Unit unit, const NameTable& names, int balance_digits);

// Title record with a blank balance_digits field (the default tolerance).
void write_title(fio::Unit unit, const NameTable& names);

// Counts record of a restart network: ncomp, nliv, mtype and the time. A
// time that F10.3 cannot hold is written in the same ten columns with fewer
// decimals or with an exponent, so that the counts record still reads back.
void write_counts(fio::Unit unit, int ncomp, int nliv, int mtype, float t);

// Counts record of an ordinary network: ncomp and nliv, type and time blank.
void write_counts(fio::Unit unit, int ncomp, int nliv);

// Name record of compartment i: the 25 characters and three blanks.
void write_name(fio::Unit unit, const NameTable& names, int i);

// Vector list record: index and one to three values.
void write_vector_record(fio::Unit unit, int i, std::span<const float> values);

// Matrix list record: origin, destination and one or two values.
void write_matrix_record(fio::Unit unit, int i, int j, std::span<const float> values);

// What a restart network carries beyond the network itself: the model type
// and time of the run that wrote it, and the model coefficients, which go
// into the restart columns beside the values they belong to.
struct RestartColumns {
  int mtype = 0;
  float time = 0;
  float tmax = 0;                 // on the terminator of the biomass list
  const Vector* bref = nullptr;   // beside each biomass
  const Vector* cexp = nullptr;   // beside each export
  const Vector* cresp = nullptr;  // beside each respiration
  const Matrix* cexch = nullptr;  // beside each flow; its diagonal beside each biomass
};

// One whole network description to be written. Nothing is copied: the
// pointers name the caller's storage.
struct Description {
  const NameTable* names = nullptr;   // row 0 the title, rows 1..ncomp the names
  std::optional<int> balance_digits;  // columns 79-80 of the title; blank when absent
  int ncomp = 0;
  int nliv = 0;
  const Vector* biomass = nullptr;
  const Vector* inputs = nullptr;
  const Vector* exports = nullptr;
  const Vector* respirations = nullptr;
  const Matrix* exchange = nullptr;          // exchange(i,j): flow from i to j
  const RestartColumns* restart = nullptr;   // absent: an ordinary network
};

// Writes the description: title, counts (type and time blank for an
// ordinary network), names, then the biomass, input, export and respiration
// lists and the matrix list. Each list holds the entries greater than zero
// in increasing index (origin, then destination) and ends with the index -1
// and the value 0.0; in a restart network every record carries its restart
// columns and the biomass terminator carries tmax.
void write_network(fio::Unit unit, const Description& d);

}  // namespace ecodyn
