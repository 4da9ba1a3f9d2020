// A scenario of ecodyn-run: what the options ask for, turned into the
// answers a user would type into ecodyn's dialogue.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "network/arrays.h"

namespace ecodyn::runner {

// An option that cannot be used; the message says why.
class ScenarioError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Returns s without the blanks and tabs around it.
std::string trimmed(const std::string& s);

// Returns s in lower case.
std::string lower(std::string s);

// Returns the single-precision value of a decimal number (the whole text,
// blanks around it allowed). Throws ScenarioError, the message led by what,
// for any other text ("is not " + expected), an infinity or a NaN included,
// for a value beyond single precision and for one other than 0 that single
// precision cannot hold in full (below its least normal value, 1.2e-38).
float parse_real(const std::string& text, const std::string& what,
                 const std::string& expected = "a number");

// Returns the shortest decimal text that ecodyn reads back as exactly v.
std::string exact_text(float v);

// Returns compartment number or name `text` among names[1..], names[0]
// unused. A name matches ignoring case and surrounding blanks: the one
// equal to the text, otherwise the one containing it. Throws ScenarioError,
// listing the candidates, for a number out of range, an unknown name or an
// ambiguous one. what: the option, for the message.
int find_compartment(const std::vector<std::string>& names, const std::string& text,
                     const std::string& what);

// The five kinds of perturbation, numbered as the dialogue numbers them.
enum class Kind { biomass = 1, input, export_coefficient, respiration_coefficient, exchange };

// One --perturb: KIND:COMPARTMENT=VALUE, KIND:ORIGIN,DESTINATION=VALUE for
// an exchange, VALUE a new value or xFACTOR.
struct Perturbation {
  Kind kind = Kind::biomass;
  int i = 0, j = 0;  // compartment; for an exchange origin and destination
  bool factor = false;
  float value = 0;  // the new value, or the factor
};

// Parses one --perturb against the network's compartment names.
Perturbation parse_perturbation(const std::string& change, const std::vector<std::string>& names);

// Returns whether a perturbation changes a model coefficient (whose old
// value exists only once the coefficients are derived).
inline bool changes_coefficient(const Perturbation& p) {
  return p.kind != Kind::biomass && p.kind != Kind::input;
}

// The values a cycle's perturbations start from: what the dialogue shows as
// OLD VALUE, once the coefficients are in place.
struct Values {
  Vector biomass, inputs, cexp, cresp;
  Matrix cexch;
};

// The answers of one cycle, every number as ecodyn reads it.
struct Cycle {
  int model = 2;
  bool restart = false;  // a snapshot: the start time is not asked
  float start = 0, end = 0, print = 0, snapshot = 0;
  std::vector<Perturbation> perturbations;
  std::vector<int> followed;  // seven numbers, or none for seven compartments or fewer
};

// Checks the times as the dialogue does, in single precision; throws
// ScenarioError naming the option for a value the dialogue would refuse.
void check_times(const Cycle& c);

// Returns the answers of one cycle, one per line, and applies its
// perturbations to values (a factor multiplies the value as changed by the
// perturbations before it). Throws ScenarioError for a product beyond single
// precision or, of values other than 0, too close to 0 for it.
std::string answers(const Cycle& c, Values& values);

// Returns the number of table rows the cycle writes: the first row and one
// per print interval until the end time, at most 10000 intervals.
int expected_rows(const Cycle& c);

}  // namespace ecodyn::runner
