// ecodyn: dynamic simulation of steady-state ecosystem flow networks.
#include <cstdio>
#include <cstring>

#include "run/cycle.h"

namespace {

constexpr const char* help =
    "Usage: ecodyn < ANSWERS\n"
    "Simulates the steady-state ecosystem flow networks of fort.7 as dynamic models.\n"
    "\n"
    "ecodyn takes no arguments and works in the current directory: it reads the\n"
    "network file fort.7 (one or more network descriptions), writes the report\n"
    "fort.8 (listings, change log, time-series tables) and the snapshots fort.18,\n"
    "asks its questions on standard output and reads the answers, one per line,\n"
    "from standard input.\n"
    "\n"
    "Exit status: 0 when fort.7 is exhausted; 1 after an error stop of the network\n"
    "or the model (its message on standard output); 2 when a file cannot be read\n"
    "or written, or an answer is missing or unreadable.\n"
    "\n"
    "To run a network file of another name with the answers given as options, use\n"
    "ecodyn-run. See ecodyn-run(1), ecodyn(1) and ecodyn-network(5).\n";

// Returns the exit status after printing text on standard output.
int print(const char* text) {
  return std::fputs(text, stdout) < 0 || std::fflush(stdout) != 0 ? 2 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) return print(help);
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    return print("ecodyn " ECODYN_VERSION "\n");
  }
  if (argc > 1) {
    std::fprintf(stderr,
                 "ecodyn: unexpected argument '%s': ecodyn reads the network from fort.7 in the "
                 "current directory and the answers from standard input (ecodyn-run runs a named "
                 "network file)\n",
                 argv[1]);
    return 2;
  }
  return ecodyn::run_program();
}
