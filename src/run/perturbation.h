// The perturbation dialogue: single changes to the starting biomasses and
// the model coefficients before a simulation, each logged in the report.
#pragma once

#include "network/network.h"

namespace ecodyn {

// Writes the head of the change log, then offers perturbations until the
// user answers anything but Y or y.
void perturb(Network& net);

}  // namespace ecodyn
