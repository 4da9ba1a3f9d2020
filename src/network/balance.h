// The steady-state check of an ordinary network and its throughput times.
#pragma once

#include "network/network.h"

namespace ecodyn {

// Checks every compartment's balance of inflows and outflows against the
// network's tolerance and reports an unbalanced network on the terminal;
// then finds and reports the shortest and longest throughput times, keeping
// them in net.times. Stops the program when a compartment has no throughput.
void check_balance(Network& net);

}  // namespace ecodyn
