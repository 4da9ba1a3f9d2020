// The run-parameter dialogue: model type, times and intervals of a cycle.
#pragma once

#include "network/network.h"
#include "run/state.h"

namespace ecodyn {

// Asks for the model type, the start time (shown instead on a restart), the
// end time, the print interval and the snapshot interval, repeating every
// refused question, and fills run. Copies the longest throughput time into
// konsts.tmax after every model-type answer.
void ask_run_parameters(const Network& net, RunParameters& run);

// Returns the span of the run as the dialogue checks it (single precision).
inline float run_span(const RunParameters& run) { return run.t_end - run.t_start; }

}  // namespace ecodyn
