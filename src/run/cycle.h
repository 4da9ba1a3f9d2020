// The run: one cycle per network description until the network file ends.
#pragma once

namespace ecodyn {

// Runs cycles until the network file is exhausted; returns then.
void run_all_cycles();

// Runs the whole program: every cycle, then every file written out and
// closed. Returns the exit status: 0 at the end of the network file, 1 after
// an error stop, 2 when input cannot be read or output cannot be written.
int run_program();

}  // namespace ecodyn
