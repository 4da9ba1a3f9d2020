// The run-time's table of logical units. The run-time has no public way to
// reach the stream of a unit, which the layer needs to write a unit out and
// to see whether its writes failed; this mirror of the table is checked
// against the installed run-time when the program is built (fio_layout_check),
// so a run-time of another layout fails the build instead of the program.
#pragma once

#include <cstdio>

extern "C" {

struct f2c_unit {
  FILE* ufd;   // the stream, or null when the unit is not connected
  char* ufnm;  // the file name (allocated by the run-time)
  long uinode;
  int udev;
  int url;
  int useek, ufmt, urw, ublnk, uend, uwrt, uscrtch;  // the run-time's 32-bit flags
};

extern f2c_unit f__units[];
}

namespace fio::detail {

inline constexpr int run_time_units = 100;  // units the run-time knows (MXUNIT)

}  // namespace fio::detail
