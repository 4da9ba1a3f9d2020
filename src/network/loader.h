// Loading one network description from the network file: reading by the
// list rules, validation and the echo listing in the report file.
#pragma once

#include "network/network.h"

namespace ecodyn {

enum class LoadResult { loaded, end_of_file };

// Reads the next network description into net and konsts (counts, inputs
// and, for a snapshot read back, the model coefficients it carries), listing
// it in the report file. Returns end_of_file when the network file ends
// where a title or counts record is due. Stops the program on a network the
// model cannot use.
LoadResult load_network(Network& net);

// Returns the balance tolerance that balance_digits selects.
float balance_tolerance(int balance_digits);

}  // namespace ecodyn
