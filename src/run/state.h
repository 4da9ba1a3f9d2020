// The program's state: one instance for the life of the process, each cycle
// overwriting what it reads or derives.
#pragma once

#include <array>

#include "network/network.h"

namespace ecodyn {

// The run parameters of one cycle, as the dialogues leave them.
struct RunParameters {
  int model_type = 0;      // 1 generic predator control, 2 linear donor control,
                           // 3 damped Lotka-Volterra
  float t_start = 0;
  float t_end = 0;
  float print_interval = 0;
  float snap_interval = 0;
  std::array<int, 7> followed{};  // compartments tabulated
  int followed_count = 0;
};

struct ProgramState {
  Network net;
  RunParameters run;
};

}  // namespace ecodyn
