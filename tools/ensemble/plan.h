// An ensemble of ecodyn-ensemble: the scenarios (model types times sweep
// values) and the draws of random factors, every member numbered, each
// member's changes derived from the options, the seed and its number alone.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "run/scenario.h"
#include "scenario/scenario.h"

namespace ecodyn::ensemble {

using runner::ScenarioError;

// Returns the name of a kind as the options write it: biomass, input,
// export, respiration, exchange.
const char* kind_name(runner::Kind kind);

// One --sweep "KIND:COMPARTMENT=V1,V2,...": a value or xFACTOR each.
struct Sweep {
  std::string text;   // the option as given
  std::string where;  // KIND:COMPARTMENT as given, for the labels
  runner::Kind kind = runner::Kind::biomass;
  int i = 0, j = 0;
  std::vector<bool> factor;
  std::vector<float> values;
  std::vector<std::string> value_texts;  // as given, for the labels
};

// The distribution of one --vary.
enum class Distribution { uniform, lognormal };

// One --vary "KIND:WHICH=uniform:S%" or "=lognormal:SIGMA": a factor drawn
// for each value varied (targets, in increasing order; for an exchange the
// flows origin-major).
struct Vary {
  std::string text;
  runner::Kind kind = runner::Kind::biomass;
  Distribution distribution = Distribution::uniform;
  double spread = 0;  // uniform: S/100; lognormal: SIGMA
  std::vector<std::pair<int, int>> targets;
};

// A factor drawn for one value.
struct Factor {
  runner::Kind kind = runner::Kind::biomass;
  int i = 0, j = 0;
  float factor = 1;
};

enum class Record { all, followed, none };

// Everything an ensemble is, once checked against its network.
struct Plan {
  std::string network;  // as given
  int description = 1;  // the description run, 1 the first
  bool snapshot = false;
  std::string title;
  std::vector<std::string> names;  // names[0] unused
  int nliv = 0;
  std::vector<float> biomass;  // biomass[i], the description's, before any change

  std::string models_text;
  std::vector<int> models;
  float start = 0, end = 0, print = 0;
  std::vector<std::string> perturb_texts;
  std::vector<runner::Perturbation> fixed;
  std::vector<Sweep> sweeps;
  std::vector<Vary> varies;
  long long draws = 1;
  std::uint64_t seed = 1;
  Record record = Record::followed;
  std::vector<int> followed;  // the compartments ecodyn tabulates
  bool follow_given = false;
  std::vector<int> recorded;  // the compartments stored, in order
  bool reject_extinction = false;
  std::optional<std::pair<double, double>> limits;
  double within = 0.1;

  int ncomp() const { return static_cast<int>(names.size()) - 1; }
  // Returns the number of scenarios: model types times every sweep's values.
  long long scenarios() const;
  long long members() const { return scenarios() * draws; }
};

// The options as given, before they are checked against the network.
struct Options {
  std::string network;
  int index = 0;  // 0: the last description
  std::vector<int> models{2};
  std::string models_text = "2";
  std::string start, end, print;
  std::vector<std::string> perturb, sweep, vary;
  long long draws = 1;
  std::uint64_t seed = 1;
  std::string record = "followed", follow, limits, within = "0.1";
  bool reject_extinction = false;
};

// Checks the options against the loaded network and returns the plan;
// throws ScenarioError saying what cannot be used.
Plan make_plan(const Options& o, const scenario::Base& base);

// Returns the drawn factor of engine output x under a distribution: u =
// (x >> 11) 2^-53; uniform 1 + spread (2u - 1); lognormal exp(spread z) with
// z = sqrt(-2 ln u1) cos(2 pi u2), u1 = 1 - u of x, u2 the u of next; both
// rounded to single precision.
float uniform_factor(std::uint64_t x, double spread);
float lognormal_factor(std::uint64_t x, std::uint64_t next, double sigma);

// Returns the factors of draw d: from std::mt19937_64 seeded with
// std::seed_seq{seed low 32 bits, seed high 32 bits, d}, in the order of
// the --vary options and, within each, of its targets.
std::vector<Factor> draw_factors(const Plan& plan, long long draw);

// A member: its scenario and draw.
struct MemberId {
  long long member = 0, scenario = 0, draw = 0;
};

// Returns member (s - 1) draws + d's scenario s and draw d.
MemberId member_id(const Plan& plan, long long member);

// The model type of a scenario and the index of each sweep's value (the
// last sweep varying fastest, the model type slowest).
struct ScenarioId {
  int model = 2;
  std::vector<int> values;
};
ScenarioId scenario_id(const Plan& plan, long long scenario);

// Returns the label of a scenario: "model 2" or "model 2, biomass:3=x0.5".
std::string label(const Plan& plan, long long scenario);

// Returns the changes of a member before its run: the fixed --perturb
// ones, its scenario's sweep values, then its draw's factors.
std::vector<scenario::Change> changes(const Plan& plan, const MemberId& id,
                                      const std::vector<Factor>& factors);

// Members first to last, every step-th.
struct Members {
  long long first = 1, last = 0, step = 1;
  long long size() const { return last < first ? 0 : (last - first) / step + 1; }
};

// Returns the members this run runs, in ranges: every member of the
// ensemble.
std::vector<Members> members_to_run(const Plan& plan);

// Returns text quoted for the shell where it needs it.
std::string shell_quoted(const std::string& text);

// Returns the ecodyn-run command that runs member id alone, the changes
// written as --perturb options that read back exactly.
std::string member_command(const Plan& plan, const MemberId& id,
                           const std::vector<Factor>& factors);

}  // namespace ecodyn::ensemble
