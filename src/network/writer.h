// The records of a network description as a writer emits them: a snapshot of
// the running model, or a network converted from another format. Each record
// carries just the fields given and ends after its last value.
#pragma once

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

}  // namespace ecodyn
