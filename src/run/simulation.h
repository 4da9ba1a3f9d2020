// The simulation loop of a cycle: the tabulated compartments, the
// time-series table, the integration interval by interval, the snapshots and
// the fading of the self-coefficients.
#pragma once

#include "network/network.h"
#include "run/state.h"

namespace ecodyn {

// Runs the simulation of the loaded network with the run parameters, until a
// row reaches the end time or the interval limit is hit.
void simulate(Network& net, RunParameters& run);

}  // namespace ecodyn
