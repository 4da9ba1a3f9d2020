// The snapshot of the running model: one network description, in the layout
// of the network file, that resumes the model where it stood when read back.
#pragma once

#include "network/arrays.h"

namespace ecodyn {

// Appends to the snapshot file the network at time t: title and names from
// the name table, the biomasses y, the inputs, and the export, respiration
// and exchange flows that the model's flow laws give at y (written into
// exports, respirations and exchange, leading dimension ld), each beside its
// model coefficient. Under model type 1 a biomass of zero or less, and under
// every type a value that would not read back (infinite or NaN), stops the
// program before anything of the snapshot is written.
void snapit(float t, const NameTable& names, int balance_digits, const Vector& y, Vector& exports,
            Vector& respirations, Matrix& exchange, int ld);

}  // namespace ecodyn
