#include "run/cycle.h"

#include "fio/fio.h"
#include "model/coefficients.h"
#include "model/konsts.h"
#include "network/balance.h"
#include "network/loader.h"
#include "run/perturbation.h"
#include "run/run_dialogue.h"
#include "run/simulation.h"
#include "run/state.h"

namespace ecodyn {

namespace {

ProgramState state;

}  // namespace

void run_all_cycles() {
  Network& net = state.net;
  RunParameters& run = state.run;
  for (int cycle = 1;; ++cycle) {
    if (load_network(net) == LoadResult::end_of_file) return;
    if (!net.restart) check_balance(net);
    ask_run_parameters(net, run);
    // A snapshot run under its own model type keeps the coefficients it
    // carries, perhaps long evolved from any steady state; everything else
    // is derived afresh from the network.
    if (!net.restart || run.model_type != konsts.mtype) derive_coefficients(net, run.model_type);
    perturb(net);
    simulate(net, run, cycle);
  }
}

int run_program() {
  return fio::run([] {
    run_all_cycles();
    return fio::exit_normal;
  });
}

}  // namespace ecodyn
