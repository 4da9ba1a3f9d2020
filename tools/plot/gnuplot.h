// Running gnuplot on a script to render a picture into a file that appears
// only when gnuplot has finished it.
#pragma once

#include <string>

#include "common/spool.h"

namespace ecodyn::plot {

// Returns the gnuplot program found on PATH, or "".
std::string find_gnuplot();

// Runs gnuplot with the script on its standard input, rendering to a
// temporary file beside output (through a symbolic link, beside the file it
// ends in) that replaces output once gnuplot has succeeded. Returns false,
// with the reason in error, otherwise; then nothing is left behind.
bool render(const std::string& gnuplot, tools::Spool& script, const std::string& output,
            std::string& error);

}  // namespace ecodyn::plot
