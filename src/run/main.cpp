// ecodyn: dynamic simulation of steady-state ecosystem flow networks.
#include "run/cycle.h"

int main() { return ecodyn::run_program(); }
