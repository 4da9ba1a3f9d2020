// What ecodyn-stability tells: the report an ecologist reads, JSON for
// scripts, and the eigenvalues and Jacobians as CSV records.
#pragma once

#include <string>
#include <vector>

#include "stability.h"

namespace ecodyn::stability {

// The names of the model types 1 to 3.
extern const char* const model_names[4];

// What the model of one type gives at the state.
struct Result {
  int model = 0;
  std::string refusal;  // why it was not analysed; empty when it was
  Analysis analysis;
};

// The description analysed and its results.
struct Study {
  std::string network;  // the file, as given
  std::string title;
  int index = 0, count = 0;  // the description analysed, of count in the file
  int ncomp = 0, nliv = 0;
  int mtype = 0;  // greater than 0: a snapshot of that model type
  float time = 0;
  float balance_tolerance = 0;
  std::vector<std::string> names{""};  // names[i], i from 1
  std::vector<std::string> perturbations;  // as given
  std::vector<Result> results;
};

// Returns whether the state is an equilibrium: every compartment's rate of
// change within the network's balance tolerance (as ecodyn's balance check
// judges a network) or within a hundred-thousandth of its throughput.
bool at_rest(const Study& s, const Analysis& a);

// Returns the report: the description, then one block per model type.
std::string report(const Study& s);

// Returns the results as one JSON object.
std::string json(const Study& s);

// Returns the CSV records (without line ends) of the eigenvalues,
// "model,real,imaginary,rank", every value to full double precision.
std::vector<std::string> eigenvalue_records(const Study& s);

// Returns the CSV records of the Jacobians: "model,number,compartment", then
// one column per compartment headed "NUMBER NAME"; one record per model and
// row.
std::vector<std::string> jacobian_records(const Study& s);

}  // namespace ecodyn::stability
