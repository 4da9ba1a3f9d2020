// Scenarios in the process: a network description loaded once, then run
// any number of times under a model type, with changes to its starting
// biomasses and coefficients, from a start to an end time, each run's rows
// and extinctions told to an observer. Nothing is written: no listing, no
// table, no snapshot, nothing on the terminal. The biomasses told are the
// values the program holds at each print time for the same answers (those a
// snapshot at that time would carry), bit for bit.
//
//   scenario::Base base;
//   if (scenario::load("fort.7", 0, base).ending != scenario::Ending::normal) ...
//   const scenario::Outcome o = scenario::run(base, {2, 0.0f, 5.0f, 0.05f}, changes, observer);
//
// The model state is the program's one global block: one scenario runs at a
// time in a process (run many in worker processes).
#pragma once

#include <span>
#include <string>

#include "integrate/observer.h"
#include "model/konsts.h"
#include "network/network.h"

namespace ecodyn::scenario {

// The five kinds of change, numbered as the perturbation dialogue numbers
// them.
enum class Kind { biomass = 1, input, export_coefficient, respiration_coefficient, exchange };

// One change before the run: compartment i (for an exchange the flow from i
// to j) takes value, or, with factor, its value times value (OLD VALUE as
// the dialogue shows it, after the changes before this one), in single
// precision.
struct Change {
  Kind kind = Kind::biomass;
  int i = 0, j = 0;
  bool factor = false;
  float value = 0;
};

// How a load or a run ended: normally (a run: a row reached the end time),
// by the interval limit (10000 print intervals before the end time), by an
// error stop of the model or the network (status 1, the message the program
// writes, e.g. "BIOMASS DRIVEN NEGATIVE."), or by a change or input that
// cannot be used (status 2, message saying why).
enum class Ending { normal, interval_limit, error_stop, refused };

struct Outcome {
  Ending ending = Ending::normal;
  int status = 0;
  std::string message;
  float end_time = 0;  // a run: the time of its last row
};

// A network description as loaded and checked, from which scenarios start.
struct Base {
  Network net;
  Konsts konsts;
  bool balanced = true;  // the balance check found every compartment in balance
  int index = 0;         // the description loaded, 1 the first of the file
};

// Loads description `index` (1 the first; 0 the last) of a network or
// snapshot file into base, as the program loads it (and, for an ordinary
// network, checks its balance and finds its throughput times). An error
// stop of the loader is the outcome; so is a file that cannot be read or
// holds fewer descriptions (status 2).
Outcome load(const char* path, int index, Base& base);

// The run: model type, start (a snapshot starts at its own time whatever is
// given), end time and print interval.
struct Times {
  int model = 2;
  float start = 0, end = 0, print = 0;
};

// Puts the base's network and the coefficients of a model type in place, as
// the program does after the model-type answer; the changes applied after
// it go to the state in place. Returns the outcome of the derivation.
Outcome prepare(const Base& base, int model);

// Returns the value a change of this kind applies to in the state in place
// (what the dialogue shows as OLD VALUE).
float& target(Kind kind, int i, int j);

// Whether single precision holds a changed value: the value a change
// gives, or a factor's product, beyond its range, or a product other than 0
// below its least normal value.
enum class Held { yes, beyond_range, below_normal };

// Sets result to what a change (a value, or with factor a factor) makes of
// old, in single precision, and says whether single precision holds it.
Held changed_value(float old, bool factor, float value, float& result);

// Applies one change to the state in place; a value or product that single
// precision cannot hold (beyond its range, or a product other than 0 below
// its least normal value), a negative value or a compartment out of range
// is refused with the reason.
Outcome apply(const Change& change);

// Runs the state in place over the times, telling observer (cycle 1) of the
// first row, every print interval's row and every extinction.
Outcome simulate(const Times& times, Observer& observer);

// prepare, apply each change in order, simulate; the first outcome that is
// not normal ends it.
Outcome run(const Base& base, const Times& times, std::span<const Change> changes,
            Observer& observer);

}  // namespace ecodyn::scenario
