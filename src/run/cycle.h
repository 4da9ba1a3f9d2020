// The run: one cycle per network description until the network file ends.
#pragma once

namespace ecodyn {

// Runs cycles until the network file is exhausted; returns then.
void run_all_cycles();

}  // namespace ecodyn
