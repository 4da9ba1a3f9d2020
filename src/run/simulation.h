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

// Advances the model from run.t_start one print interval at a time,
// telling the current observer of each row (not of the first), writing the
// snapshots that are due when snapshots is set and fading the
// self-coefficients between intervals. Returns true when a row reached the
// end time, false after the interval limit.
bool advance(Network& net, const RunParameters& run, bool snapshots);

}  // namespace ecodyn
