// One member of an ensemble run in the process: its outcome judged by the
// acceptance rules, its resilience, its extinctions and its recorded rows
// as the database stores them; and the member passed between processes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "plan.h"

namespace ecodyn::ensemble {

struct Row {
  int step = 0;
  float time = 0;
  std::string biomass;  // the JSON array of the recorded compartments
};

struct Extinct {
  int compartment = 0;
  float time = 0;
};

// A completed member, as the database stores it.
struct Result {
  MemberId id;
  std::string ending;  // "end", "interval limit", "error stop"
  int status = 0;
  std::string message;
  float end_time = 0;
  bool accepted = true;
  std::string rejection;  // "error stop", "extinction", "limits"; empty when accepted
  std::optional<float> resilience;
  std::vector<Factor> factors;
  std::vector<Extinct> extinctions;
  std::vector<Row> rows;
};

// Returns the JSON array of the values: each the shortest decimal that reads
// back as the same single-precision value, null for one not finite.
std::string json_array(const float* values, const std::vector<int>& which);

// Returns the first print time after which every compartment stays within
// `within` of its starting biomass, given the time of each row and whether
// each row had every compartment within; none when the last row did not.
std::optional<float> resilience(const std::vector<float>& times, const std::vector<bool>& inside);

// Runs one member of the plan from the base.
Result run_member(const Plan& plan, const scenario::Base& base, long long member);

// Appends the member's message (its length first) to out.
void encode(const Result& r, std::string& out);

// Returns the member of a message without its length; throws
// std::runtime_error for a message that does not hold one.
Result decode(std::string_view message);

}  // namespace ecodyn::ensemble
