#include "scenario/scenario.h"

#include <cfloat>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <cstdio>

#include "fio/fio.h"
#include "model/coefficients.h"
#include "network/balance.h"
#include "network/loader.h"
#include "run/run_dialogue.h"
#include "run/simulation.h"

namespace ecodyn::scenario {

namespace {

// The state in place: the network a scenario runs (its coefficients are in
// konsts).
Network current;

// Holds the records while it lives; makes an error stop thrown meanwhile an
// outcome.
class Holding {
 public:
  Holding() { fio::hold_records(true); }
  ~Holding() { fio::hold_records(false); }
  Holding(const Holding&) = delete;
  Holding& operator=(const Holding&) = delete;

  // Returns the outcome of an error stop: its status and the last line the
  // program wrote, without the carriage-control column and blanks.
  static Outcome stopped(const fio::Stop& stop) {
    Outcome o;
    o.ending = stop.status == fio::exit_error_stop ? Ending::error_stop : Ending::refused;
    o.status = stop.status;
    const std::string& text = fio::held_terminal();
    std::size_t from = 0;
    while (from < text.size()) {
      const std::size_t end = text.find('\n', from);
      // The first column is the carriage control, not text.
      const std::string line = end - from > 1 ? text.substr(from + 1, end - from - 1) : "";
      const std::size_t first = line.find_first_not_of(' ');
      if (first != std::string::npos) o.message = line.substr(first);
      from = end == std::string::npos ? text.size() : end + 1;
    }
    if (o.message.empty() && o.ending == Ending::refused) o.message = "cannot be read";
    return o;
  }
};

Outcome refused(std::string why) {
  Outcome o;
  o.ending = Ending::refused;
  o.status = fio::exit_bad_io;
  o.message = std::move(why);
  return o;
}

std::string text(float v) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.9g", static_cast<double>(v));
  return buffer;
}

bool in_range(int k) { return k >= 1 && k <= konsts.ncomp; }

// Tells the time of the last row as it passes the rows on.
class Watch final : public Observer {
 public:
  explicit Watch(Observer& to) : to_(to) {}
  void row(int cycle, float t, const Vector& biomass) override {
    last = t;
    to_.row(cycle, t, biomass);
  }
  void extinction(int cycle, float t, int k) override { to_.extinction(cycle, t, k); }
  float last = 0;

 private:
  Observer& to_;
};

}  // namespace

Outcome load(const char* path, int index, Base& base) {
  if (!fio::connect(fio::network_file, path, true)) {
    return refused(std::string("cannot read ") + path + ": " + std::strerror(errno ? errno : EIO));
  }
  const Holding held;
  int loaded = 0;
  Outcome o;
  try {
    Network net;
    while (index == 0 || loaded < index) {
      if (load_network(net) == LoadResult::end_of_file) break;
      ++loaded;
      base.index = loaded;
      base.net = net;
      base.konsts = konsts;
    }
    if (loaded == 0 || (index != 0 && loaded < index)) {
      fio::close(fio::network_file);
      return refused(std::string(path) + " holds " + std::to_string(loaded) +
                     (loaded == 1 ? " description" : " descriptions"));
    }
    // The balance check and the throughput times, once: they depend on the
    // description only.
    konsts = base.konsts;
    if (!base.net.restart) {
      check_balance(base.net);
      base.balanced = fio::held_terminal().find("NOT BALANCED") == std::string::npos;
    }
  } catch (const fio::Stop& stop) {
    o = Holding::stopped(stop);
  }
  fio::close(fio::network_file);
  return o;
}

Outcome prepare(const Base& base, int model) {
  if (model < 1 || model > 3) return refused("the model type must be 1, 2 or 3");
  current = base.net;
  konsts = base.konsts;
  konsts.tmax = current.times.longest;
  const Holding held;
  try {
    // A snapshot under its own model type keeps the coefficients it carries.
    if (!current.restart || model != konsts.mtype) derive_coefficients(current, model);
  } catch (const fio::Stop& stop) {
    return Holding::stopped(stop);
  }
  return {};
}

float& target(Kind kind, int i, int j) {
  switch (kind) {
    case Kind::biomass: return current.biomass(i);  // the starting state; bref is untouched
    case Kind::input: return konsts.inputs(i);
    case Kind::export_coefficient: return konsts.cexp(i);
    case Kind::respiration_coefficient: return konsts.cresp(i);
    default: return konsts.cexch(i, j);
  }
}

Held changed_value(float old, bool factor, float value, float& result) {
  result = factor ? old * value : value;
  if (!std::isfinite(result)) return Held::beyond_range;
  if (factor && old != 0.0f && value != 0.0f && std::fabs(result) < FLT_MIN) {
    return Held::below_normal;
  }
  return Held::yes;
}

Outcome apply(const Change& change) {
  if (!in_range(change.i) || (change.kind == Kind::exchange && !in_range(change.j))) {
    return refused("no compartment " + std::to_string(!in_range(change.i) ? change.i : change.j));
  }
  if (!(change.value >= 0.0f) || !std::isfinite(change.value)) {
    return refused(text(change.value) + " is not a value of 0 or more");
  }
  float& v = target(change.kind, change.i, change.j);
  float stored = 0;
  switch (changed_value(v, change.factor, change.value, stored)) {
    case Held::beyond_range:
      return refused(text(v) + " times " + text(change.value) + " is beyond single precision");
    case Held::below_normal:
      return refused(text(v) + " times " + text(change.value) +
                     " is too close to 0 for single precision");
    case Held::yes: break;
  }
  v = stored;
  return {};
}

Outcome simulate(const Times& times, Observer& observer) {
  RunParameters run;
  run.model_type = times.model;
  run.t_start = current.restart ? current.snap_time : times.start;
  run.t_end = times.end;
  run.print_interval = times.print;
  run.snap_interval = run_span(run);
  if (!(run.t_end > run.t_start)) return refused("the end time must be greater than the start time");
  if (!(run.print_interval > 0.0f) || run.print_interval > run_span(run)) {
    return refused("the print interval must be greater than 0 and at most the span");
  }
  Watch watch(observer);
  observe(&watch, 1);
  struct Unobserve {
    ~Unobserve() { observe(nullptr, 0); }
  } unobserve;
  const Holding held;
  Outcome o;
  try {
    report_row(run.t_start, current.biomass);
    if (!advance(current, run, false)) o.ending = Ending::interval_limit;
  } catch (const fio::Stop& stop) {
    o = Holding::stopped(stop);
  }
  o.end_time = watch.last;
  return o;
}

Outcome run(const Base& base, const Times& times, std::span<const Change> changes,
            Observer& observer) {
  Outcome o = prepare(base, times.model);
  for (std::size_t k = 0; k < changes.size() && o.ending == Ending::normal; ++k) {
    o = apply(changes[k]);
  }
  return o.ending == Ending::normal ? simulate(times, observer) : o;
}

}  // namespace ecodyn::scenario
