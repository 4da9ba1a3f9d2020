#include "run/cycle.h"

namespace ecodyn {

void run_all_cycles() {}

}  // namespace ecodyn
