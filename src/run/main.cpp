// ecodyn: dynamic simulation of steady-state ecosystem flow networks.
#include "fio/fio.h"
#include "run/cycle.h"

int main() {
  fio::start();
  ecodyn::run_all_cycles();
  fio::stop(fio::exit_normal);
}
