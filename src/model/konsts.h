// The one shared block of the program: the counts of the current network and
// the coefficients of its dynamic model. The loader fills the counts and the
// inputs; the derivation, the perturbations, the simulation loop and
// extinctions change the coefficients; derivs and snapit only read them.
#pragma once

#include "network/arrays.h"

namespace ecodyn {

struct Konsts {
  int ncomp = 0;   // number of compartments
  int nliv = 0;    // compartments 1..nliv are living
  // The model coefficients:
  int mtype = 0;   // model type they hold for (1, 2, 3); 0 or less: none yet
  Vector bref;     // reference biomass of each compartment
  float tmax = 0;  // longest throughput time: time scale of the fading
  Vector inputs;   // constant input from outside
  Vector cexp;     // export coefficients
  Vector cresp;    // respiration coefficients
  Matrix cexch;    // exchange coefficients, cexch(i,j) for the flow i -> j
};

extern Konsts konsts;

}  // namespace ecodyn
