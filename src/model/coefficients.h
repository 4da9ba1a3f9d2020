// The coefficients of the dynamic model, derived from a steady state so that
// a balanced network is an equilibrium of the model.
#pragma once

#include "network/network.h"

namespace ecodyn {

// Derives cexp, cresp and cexch (and bref for an ordinary network; a
// snapshot keeps the reference state its model was built around) of konsts
// for model type 1, 2 or 3 from the loaded biomasses and flows, and sets
// konsts.mtype. Stops the program when a biomass is not positive.
void derive_coefficients(const Network& net, int model_type);

}  // namespace ecodyn
