// The simulation loop of a cycle: the tabulated compartments, the
// time-series table, the integration interval by interval, the snapshots and
// the fading of the self-coefficients.
#pragma once

#include "integrate/observer.h"
#include "network/network.h"
#include "run/state.h"

namespace ecodyn {

// Runs the simulation of the loaded network with the run parameters, until a
// row reaches the end time or the interval limit is hit. Rows and
// extinctions of the cycle go to observer, by default the report file and
// the terminal.
void simulate(Network& net, RunParameters& run, int cycle, Observer* observer = nullptr);

}  // namespace ecodyn
