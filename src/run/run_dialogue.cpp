#include "run/run_dialogue.h"

#include "fio/fio.h"
#include "model/konsts.h"

namespace ecodyn {

namespace {

void ask_model_type(const Network& net, RunParameters& run) {
  for (;;) {
    fio::write(fio::terminal,
               "(1X,'WHICH TYPE MODEL DO YOU WANT?',/,4X,'1. GENERIC PREDATOR CONTROL',/,4X,"
               "'2. LINEAR DONOR CONTROL',/,4X,'3. DAMPED LOTKA - VOLTERRA')");
    if (!fio::ask("which type model", run.model_type)) continue;
    konsts.tmax = net.times.longest;
    if (run.model_type >= 1 && run.model_type <= 3) break;
    fio::write(fio::terminal, "(1X,'ONLY TYPES 1 TO 3 ALLOWED. TRY AGAIN.')");
  }
}

}  // namespace

void ask_run_parameters(const Network& net, RunParameters& run) {
  ask_model_type(net, run);

  // The run starts at the time of the counts record unless told otherwise;
  // a null answer keeps it.
  run.t_start = net.snap_time;
  if (!net.restart) {
    do fio::write(fio::terminal, "(1X,'START TIME?')");
    while (!fio::ask("start time", run.t_start));
  } else {
    fio::write(fio::terminal, "(1X,'RESTART AT T = ',F10.3)", run.t_start);
  }

  for (;;) {
    fio::write(fio::terminal, "(1X,'END TIME?')");
    if (!fio::ask("end time", run.t_end)) continue;
    if (run.t_end > run.t_start) break;
    fio::write(fio::terminal, "(1X,'END TIME MUST BE GREATER THAN START TIME.')");
  }
  const float span = run_span(run);

  for (;;) {
    fio::write(fio::terminal, "(1X,'PRINT INTERVAL?')");
    if (!fio::ask("print interval", run.print_interval)) continue;
    if (!(run.print_interval > 0.0f)) {
      fio::write(fio::terminal, "(1X,'PRINT INTERVAL MUST BE GREATER THAN ZERO.')");
    } else if (run.print_interval > span) {
      fio::write(fio::terminal, "(1X,'PRINT INTERVAL MUST BE SMALLER THAN INTEGRATION INTERVAL.')");
    } else {
      break;
    }
  }

  for (;;) {
    fio::write(fio::terminal, "(1X,'SNAPSHOT INTERVAL? (DEFAULT [0] SNAPS ONLY AT END.)')");
    if (!fio::ask("snapshot interval", run.snap_interval)) continue;
    if (run.snap_interval >= 0.0f && run.snap_interval <= span) break;
    fio::write(fio::terminal, "(1X,'SNAPSHOT INTERVAL OUT OF BOUNDS.')");
  }
  if (run.snap_interval == 0.0f) run.snap_interval = span;
}

}  // namespace ecodyn
