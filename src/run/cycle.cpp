#include "run/cycle.h"

#include "model/konsts.h"
#include "network/balance.h"
#include "network/loader.h"
#include "run/state.h"

namespace ecodyn {

namespace {

ProgramState state;

}  // namespace

void run_all_cycles() {
  for (;;) {
    Network& net = state.net;
    if (load_network(net) == LoadResult::end_of_file) return;
    if (!net.restart) check_balance(net);
  }
}

}  // namespace ecodyn
