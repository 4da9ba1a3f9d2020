// One loaded network description and what loading derives from it.
#pragma once

#include "network/arrays.h"

namespace ecodyn {

// The throughput times found by the balance analysis.
struct ThroughputTimes {
  float shortest = 0.0f;
  int shortest_in = 0;
  float longest = 0.0f;
  int longest_in = 0;
};

// The network as the program state holds it. Its counts (ncomp, nliv,
// mtype) and its inputs live in konsts, where the model reads them.
struct Network {
  NameTable names;              // row 0 the title, rows 1..ncomp the names
  int balance_digits = 0;       // the integer at the end of the title record
  float balance_tolerance = 0;  // absolute tolerance of the balance check
  float snap_time = 0;          // time of a snapshot (counts record)
  bool restart = false;         // a snapshot read back: it carries coefficients
  Vector biomass;
  Vector exports;
  Vector respirations;
  Matrix exchange;              // exchange(i,j): flow from i to j
  ThroughputTimes times;        // times.longest feeds tmax
};

}  // namespace ecodyn
