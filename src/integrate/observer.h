// What a run reports as it goes: every row of the time-series table and
// every extinction, to an observer. The report file and the terminal are the
// program's own observer; a test or another front end can watch a run the
// same way.
#pragma once

#include "network/arrays.h"

namespace ecodyn {

class Observer {
 public:
  // The biomasses at time t, once at the start of a cycle's run and then
  // after every print interval.
  virtual void row(int cycle, float t, const Vector& biomass) = 0;
  // Compartment k went extinct at time t.
  virtual void extinction(int cycle, float t, int k) = 0;

 protected:
  ~Observer() = default;
};

// Makes observer (nullptr: none) the one told of rows and extinctions of
// the given cycle, until the next call.
void observe(Observer* observer, int cycle);

// Tells the observer of a row; without one, nothing happens.
void report_row(float t, const Vector& biomass);

// Tells the observer of an extinction; without one, the notice goes to the
// terminal and the report file.
void report_extinction(float t, int k);

// Writes the extinction notice to the terminal and then to the report file.
void write_extinction_notice(float t, int k);

}  // namespace ecodyn
