// The scenario of ecodyn-run on its own: numbers as single precision holds
// them; perturbations, with compartments by number or name.
#include <sstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "run/scenario.h"

namespace {

using namespace ecodyn::runner;
using testing::StartsWith;

// Returns what f returns, as text, or the message of the ScenarioError it
// throws.
template <class F>
std::string outcome(F f) {
  try {
    std::ostringstream s;
    s << f();
    return s.str();
  } catch (const ScenarioError& e) {
    return e.what();
  }
}

TEST(Scenario, NumbersAreDecimalsThatSinglePrecisionHoldsInFull) {
  const std::pair<const char*, std::string> cases[] = {
      {" 2.5 ", "2.5"}, {"-1e3", "-1000"}, {"1.2e-38", "1.2e-38"}, {"0e-400", "0"},
      {"3.4e38", "3.4e+38"}, {"abc", "--t: 'abc' is not a number"}, {"", "--t: '' is not a"},
      {"0x10", "--t: '0x10' is not"}, {"inf", "--t: 'inf' is not"}, {"1e", "--t: '1e' is not"},
      {"3.5e38", "--t: '3.5e38' is beyond single precision (at most 3.4028235e+38)"},
      {"1e400", "--t: '1e400' is beyond"}, {"1e-38", "--t: '1e-38' is too close to 0"},
      {"-1e-46", "--t: '-1e-46' is too close to 0 for single precision (the least is 1.1754944e-38)"},
      {"1e-400", "--t: '1e-400' is too close"}};
  for (const auto& [text, expected] : cases) {
    EXPECT_THAT(outcome([&] { return parse_real(text, "--t"); }), StartsWith(expected)) << text;
  }
}

// A name equal to the text wins over names containing it; otherwise one
// name must contain it.
TEST(Scenario, PerturbationsNameAKindCompartmentsByNumberOrNameAndAValueOrFactor) {
  const std::vector<std::string> names{"", "Plants", "Big plants", " Detritus "};
  const std::pair<const char*, std::string> cases[] = {
      {"Biomass: PLANTS = x0.5", "1 1 0 1 0.5"}, {"exchange:big, detritus=*3", "5 2 3 1 3"},
      {"respiration:3=0", "4 3 0 0 0"}, {"input:1=-0.5", ": '-0.5' is not a value of 0 or more"},
      {"export:1=x", ": '' is not a factor of 0 or more"}, {"biomass:1=1e-46", ": '1e-46' is too"},
      {"biomass:1=x1e39", ": '1e39' is beyond single"}, {"carbon:1=2", ": unknown kind 'carbon'"},
      {"exchange:1=2", ": an exchange takes two"}, {"biomass=2", ": expected KIND:"},
      {"input:4=1", ": compartment 4 is out of range 1 to 3"}, {"input:0=1", ": compartment 0 is"},
      {"input:an=1", ": 'an' names 2 compartments; give one of them by number:\n  1 Plants\n  2 Big"},
      {"input:oak=1", ": no compartment is named 'oak'; the compartments are:\n  1 Plants\n"}};
  for (const auto& [change, expected] : cases) {
    const auto parsed = [&] {
      const Perturbation p = parse_perturbation(change, names);
      std::ostringstream s;
      s << static_cast<int>(p.kind) << ' ' << p.i << ' ' << p.j << ' ' << p.factor << ' ' << p.value;
      return s.str();
    };
    const std::string what = expected[0] == ':' ? "--perturb \"" + std::string(change) + "\"" : "";
    EXPECT_THAT(outcome(parsed), StartsWith(what + expected));
  }
}

}  // namespace
