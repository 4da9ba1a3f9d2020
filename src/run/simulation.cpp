#include "run/simulation.h"

#include <cmath>
#include <span>

#include "fio/fio.h"
#include "integrate/observer.h"
#include "integrate/runge.h"
#include "model/derivs.h"
#include "model/konsts.h"
#include "model/snapshot.h"
#include "run/run_dialogue.h"

namespace ecodyn {

namespace {

constexpr float tolerance = 1.0e-5f;   // error bound of each integration step
constexpr float first_step = 0.001f;   // first trial step of every interval
constexpr float min_step = 1.0e-5f;    // smallest admissible step
constexpr int interval_limit = 10000;  // table rows after the first

// Asks for the seven compartments to tabulate when there are more than seven.
void choose_followed(RunParameters& run) {
  for (int k = 0; k < 7; ++k) run.followed[k] = k + 1;
  const int ncomp = konsts.ncomp;
  if (ncomp <= 7) {
    run.followed_count = ncomp;
    return;
  }
  for (;;) {
    fio::write(fio::terminal,
               "(1X,'CHOOSE EXACTLY 7 SPECIES WHOSE BIOMASSES YOU WISH TO FOLLOW.',/,1X,"
               "'ENTER THEIR NUMBERS ON A SINGLE LINE HERE.')");
    if (!fio::ask("species to follow", std::span<int>(run.followed))) continue;
    bool all_in = true;
    for (const int k : run.followed) {
      if (k < 1 || k > ncomp) {
        fio::write(fio::terminal, "(1X,I2,' IS OUT OF BOUNDS. TRY AGAIN.')", k);
        all_in = false;
        break;
      }
    }
    if (all_in) break;
  }
  run.followed_count = 7;
}

std::span<const int> followed(const RunParameters& run) {
  return std::span<const int>(run.followed.data(), static_cast<std::size_t>(run.followed_count));
}

// The program's own observer: each row to the report file and then to the
// terminal; each extinction notice to the terminal and then to the report.
class TableWriter final : public Observer {
 public:
  explicit TableWriter(const RunParameters& run) : run_(run) {}

  void row(int /*cycle*/, float t, const Vector& biomass) override {
    std::array<float, 7> values{};
    for (int k = 0; k < run_.followed_count; ++k) values[k] = biomass(run_.followed[k]);
    const std::span<const float> row(values.data(), static_cast<std::size_t>(run_.followed_count));
    fio::write(fio::report, "(F10.3,7E10.3)", t, row);
    fio::write(fio::terminal, "(F10.3,7E10.3)", t, row);
  }

  void extinction(int /*cycle*/, float t, int k) override { write_extinction_notice(t, k); }

 private:
  const RunParameters& run_;
};

void snapshot(float t, Network& net) {
  snapit(t, net.names, net.balance_digits, net.biomass, net.exports, net.respirations,
         net.exchange, Matrix::ld);
}

// The self-coefficients of the living compartments fade towards the
// undamped model on the time scale of the longest throughput time.
void fade_self_coefficients(float decay) {
  for (int i = 1; i <= konsts.nliv; ++i) {
    konsts.cexch(i, i) = konsts.cexch(i, i) * decay;
    if (-konsts.cexch(i, i) <= 1.0e-14f) konsts.cexch(i, i) = 0.0f;
  }
}

}  // namespace

bool advance(Network& net, const RunParameters& run, bool snapshots) {
  const FastDerivsRun fast_derivs_run;
  float t_from = run.t_start;
  float t_to = run.t_start + run.print_interval;
  float t_snap_next = run.t_start + run.snap_interval;
  const float exponent = -run.print_interval / (2.0f * konsts.tmax);
  const float decay = static_cast<float>(std::exp(static_cast<double>(exponent)));

  for (int n = 1; n <= interval_limit; ++n) {
    runge(derivs, net.biomass, konsts.ncomp, t_from, t_to, tolerance, first_step, min_step);
    report_row(t_to, net.biomass);
    if (snapshots && !(t_to < t_snap_next)) {
      snapshot(t_to, net);
      t_snap_next = t_snap_next + run.snap_interval;
    }
    if (t_to >= run.t_end) return true;
    t_from = t_to;
    t_to = t_from + run.print_interval;
    fade_self_coefficients(decay);
    if (n == interval_limit) fio::write(fio::terminal, "(1X,'PRINT INTERVAL IS TOO SMALL!')");
  }
  return false;
}

void simulate(Network& net, RunParameters& run, int cycle, Observer* observer) {
  choose_followed(run);
  TableWriter table(run);
  observe(observer != nullptr ? observer : &table, cycle);
  struct Unobserve {
    ~Unobserve() { observe(nullptr, 0); }
  } unobserve;  // also when the run ends by an error stop

  const std::span<const int> columns = followed(run);
  fio::write(fio::report, "(/,4X,'TIME',7X,I2,6(8X,I2))", columns);
  fio::write(fio::terminal, "(/,4X,'TIME',7X,I2,6(8X,I2))", columns);
  fio::write(fio::report, "(/)");
  report_row(run.t_start, net.biomass);
  // With the default interval (the whole span) the only snapshot is the last.
  if (run.snap_interval != run_span(run)) snapshot(run.t_start, net);
  advance(net, run, true);
}

}  // namespace ecodyn
