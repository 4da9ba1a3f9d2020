// Scenarios in the process against the program itself: the same answers
// given to ecodyn, with a snapshot at every print interval, must carry the
// biomasses the library tells, every compartment at every row, and the same
// extinctions and ending; and the library writes nothing at all.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "scenario/scenario.h"
#include "support/program_state.h"
#include "support/records.h"
#include "support/scratch.h"

namespace {

using namespace ecodyn;
using namespace ecodyn::test;
namespace sc = ecodyn::scenario;

struct Row {
  float t;
  std::vector<float> biomass;
};

// Keeps what a run tells.
class Recorder final : public Observer {
 public:
  explicit Recorder(int ncomp) : ncomp_(ncomp) {}
  void row(int, float t, const Vector& b) override { rows.push_back({t, values(b, ncomp_)}); }
  void extinction(int, float t, int k) override { extinctions.emplace_back(k, t); }
  std::vector<Row> rows;
  std::vector<std::pair<int, float>> extinctions;

 private:
  int ncomp_;
};

// The biomasses of every description of a snapshot file: the first value
// of each biomass record (a compartment not listed holds 0).
std::vector<std::vector<float>> snapshot_biomasses(const std::string& text) {
  std::vector<std::vector<float>> all;
  const std::vector<std::string> lines = lines_of(text);
  for (std::size_t k = 0; k + 1 < lines.size();) {
    const int ncomp = std::atoi(lines[k + 1].substr(0, 3).c_str());
    std::vector<float> b(static_cast<std::size_t>(ncomp), 0.0f);
    k += 2 + static_cast<std::size_t>(ncomp);
    for (; k < lines.size() && std::atoi(lines[k].substr(0, 3).c_str()) > 0; ++k) {
      b[static_cast<std::size_t>(std::atoi(lines[k].substr(0, 3).c_str()) - 1)] =
          std::strtof(lines[k].substr(3, 14).c_str(), nullptr);
    }
    while (k < lines.size() && lines[k].rfind(" -1 -1", 0) != 0) ++k;  // to the description's end
    ++k;
    all.push_back(b);
  }
  return all;
}

// Returns v as the seven significant digits of a snapshot field hold it.
float seven_digits(float v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6e", static_cast<double>(v));
  return std::strtof(text, nullptr);
}

std::string answer(float v) {
  std::ostringstream s;
  s.precision(9);
  s << v;
  return s.str();
}

struct Case {
  const char* name;
  const char* network;  // under examples/
  sc::Times times;
  std::vector<sc::Change> changes;
  sc::Ending ending;
  const char* message;
  int rows;
  int extinctions;
};

// The answers a user would type for the case, a snapshot at every print.
std::string answers_for(const Case& c, int ncomp) {
  std::string a;
  for (const std::string& line : {std::to_string(c.times.model), answer(c.times.start),
                                  answer(c.times.end), answer(c.times.print),
                                  answer(c.times.print)}) {
    a.append(line).append("\n");
  }
  for (const sc::Change& ch : c.changes) {
    // The dialogue takes new values: a factor is applied here as the
    // library applies it, to the old value the dialogue would show.
    a.append("Y\n").append(std::to_string(static_cast<int>(ch.kind))).append("\n");
    a.append(std::to_string(ch.i));
    if (ch.kind == sc::Kind::exchange) a.append(" ").append(std::to_string(ch.j));
    a.append("\n").append(answer(ch.factor ? sc::target(ch.kind, ch.i, ch.j) * ch.value : ch.value));
    a.append("\n");
    EXPECT_EQ(sc::apply(ch).ending, sc::Ending::normal);
  }
  a += "N\n";
  if (ncomp > 7) a += "1 2 3 4 5 6 7\n";
  return a;
}

using K = sc::Kind;
const Case cases[] = {
    {"predator control, a biomass cut", "grazing_chain.net", {1, 0, 50, 5}, {{K::biomass, 3, 0, false, 2}},
     sc::Ending::normal, "", 11, 0},
    {"donor control, an extinction", "grazing_chain.net", {2, 0, 2, 0.25f},
     {{K::exchange, 2, 3, false, 0}, {K::respiration_coefficient, 3, 0, false, 40}},
     sc::Ending::normal, "", 9, 1},
    {"Lotka-Volterra, a factor", "grazing_chain.net", {3, 0, 20, 1}, {{K::biomass, 3, 0, true, 0.5f}},
     sc::Ending::normal, "", 21, 0},
    {"Lake Oneida under predator control", "networks/lake_oneida_pre_zm.net", {1, 0, 2, 0.25f},
     {{K::biomass, 2, 0, true, 0.5f}, {K::export_coefficient, 3, 0, true, 1.5f}},
     sc::Ending::normal, "", 9, 11},
    {"Lake Oneida under donor control", "networks/lake_oneida_pre_zm.net", {2, 1, 3, 0.5f},
     {{K::input, 1, 0, true, 2}, {K::biomass, 63, 0, true, 1.2f}}, sc::Ending::normal, "", 5, 0},
    {"Lake Oneida under Lotka-Volterra", "networks/lake_oneida_pre_zm.net", {3, 0, 1, 0.125f},
     {{K::exchange, 63, 48, true, 0.8f}, {K::biomass, 48, 0, false, 0.01f}}, sc::Ending::normal, "",
     9, 0},
    {"an error stop", "grazing_chain.net", {1, 0, 5, 0.5f},
     {{K::respiration_coefficient, 3, 0, false, 5000}}, sc::Ending::error_stop,
     "BIOMASS DRIVEN NEGATIVE.", 1, 0},
};

TEST(Scenarios, TellTheBiomassesTheProgramHoldsEveryCompartmentAtEveryRow) {
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ScratchDir dir;
    const std::string network = read_file(examples_dir + c.network);
    write_file(dir.file("fort.7"), network);

    sc::Base base;
    std::string answers;
    Recorder seen(0);
    sc::Outcome outcome;
    const std::string terminal = terminal_output([&] {
      ASSERT_EQ(sc::load("fort.7", 0, base).ending, sc::Ending::normal);
      ASSERT_EQ(sc::prepare(base, c.times.model).ending, sc::Ending::normal);
      answers = answers_for(c, konsts.ncomp);
      seen = Recorder(konsts.ncomp);
      outcome = sc::simulate(c.times, seen);
    });
    // Nothing written: no terminal, no report, no snapshot.
    EXPECT_EQ(terminal, "");
    EXPECT_FALSE(file_exists(dir.file("fort.8")) || file_exists(dir.file("fort.18")));

    EXPECT_EQ(outcome.ending, c.ending);
    EXPECT_EQ(outcome.message, c.message);
    EXPECT_EQ(outcome.status, c.ending == sc::Ending::error_stop ? 1 : 0);
    ASSERT_EQ(seen.rows.size(), static_cast<std::size_t>(c.rows));
    EXPECT_EQ(outcome.end_time, seen.rows.back().t);
    EXPECT_EQ(seen.extinctions.size(), static_cast<std::size_t>(c.extinctions));

    const RunResult r = run_ecodyn(dir.path(), answers);
    EXPECT_EQ(r.status, c.ending == sc::Ending::error_stop ? 1 : 0) << r.out << r.err;
    if (c.ending == sc::Ending::error_stop) {
      EXPECT_THAT(r.out, testing::EndsWith(" " + std::string(c.message) + "\n"));
    }
    const auto snapshots = snapshot_biomasses(read_file(dir.file("fort.18")));
    ASSERT_EQ(snapshots.size(), c.ending == sc::Ending::normal ? seen.rows.size() : 1);
    for (std::size_t k = 0; k < snapshots.size(); ++k) {
      ASSERT_EQ(snapshots[k].size(), seen.rows[k].biomass.size());
      for (std::size_t i = 0; i < snapshots[k].size(); ++i) {
        ASSERT_EQ(snapshots[k][i], seven_digits(seen.rows[k].biomass[i]))
            << "row " << k << " compartment " << i + 1;
      }
    }
    const std::string report = read_file(dir.file("fort.8"));
    for (const auto& [k, t] : seen.extinctions) {
      char notice[64];
      std::snprintf(notice, sizeof notice, " SPECIES %2d WENT EXTINCT AT T = %10.3f", k,
                    static_cast<double>(t));
      std::string text = notice;  // F10.3 writes no 0 before the point
      if (const std::size_t at = text.find(" 0."); at != std::string::npos) text.replace(at, 3, "  .");
      EXPECT_THAT(report, HasSubstr(text));
    }
  }
}

// Each run starts from the description as loaded: what an earlier run
// changed (perturbations, faded self-coefficients, an extinction) is gone.
TEST(Scenarios, EachRunStartsAfresh) {
  const ScratchDir dir;
  write_file(dir.file("fort.7"), read_file(examples_dir + "grazing_chain.net"));
  sc::Base base;
  ASSERT_EQ(sc::load("fort.7", 0, base).ending, sc::Ending::normal);
  const std::vector<sc::Change> extinction{{K::exchange, 2, 3, false, 0},
                                           {K::respiration_coefficient, 3, 0, false, 40}};
  const std::vector<sc::Change> cut{{K::biomass, 3, 0, true, 0.25f}};
  const sc::Times lv{3, 0, 5, 0.5f};
  Recorder first(4), between(4), again(4);
  ASSERT_EQ(sc::run(base, lv, cut, first).ending, sc::Ending::normal);
  ASSERT_EQ(sc::run(base, {2, 0, 2, 0.25f}, extinction, between).ending, sc::Ending::normal);
  ASSERT_EQ(between.extinctions.size(), 1u);
  ASSERT_EQ(sc::run(base, lv, cut, again).ending, sc::Ending::normal);
  ASSERT_EQ(first.rows.size(), again.rows.size());
  for (std::size_t k = 0; k < first.rows.size(); ++k) {
    EXPECT_EQ(first.rows[k].biomass, again.rows[k].biomass) << k;
  }
  EXPECT_EQ(first.rows[0].biomass[2], 2.0f);  // 8 times 0.25
}

// What cannot run is an outcome, never an exit: a description the loader
// or the derivation refuses (the program's message), a missing one, and
// changes single precision cannot hold.
TEST(Scenarios, RefusalsAreOutcomesWithTheProgramsMessage) {
  const ScratchDir dir;
  std::string net = read_file(examples_dir + "two_compartments.net");
  write_file(dir.file("two.net"), net);
  const std::size_t input = net.find("\n -1\n") + 5;  // the input list's first record
  write_file(dir.file("negative.net"), net.substr(0, input) + "  1       -5.0000\n" +
                                           net.substr(net.find('\n', input) + 1));
  sc::Base base;
  const std::string terminal = terminal_output([&] {
    const sc::Outcome bad = sc::load("negative.net", 0, base);
    EXPECT_EQ(bad.ending, sc::Ending::error_stop);
    EXPECT_EQ(bad.message, "ERROR INPUT VECTOR CANNOT BE LESS THAN 0");
    EXPECT_EQ(sc::load("two.net", 2, base).message, "two.net holds 1 description");
    EXPECT_EQ(sc::load("none.net", 0, base).message, "cannot read none.net: No such file or directory");
    ASSERT_EQ(sc::load("two.net", 1, base).ending, sc::Ending::normal);
    EXPECT_TRUE(base.balanced);
    EXPECT_EQ(sc::prepare(base, 4).ending, sc::Ending::refused);

    base.net.biomass(2) = 0;
    const sc::Outcome zero = sc::prepare(base, 2);
    EXPECT_EQ(zero.ending, sc::Ending::error_stop);
    EXPECT_EQ(zero.message, "BIOMASSES MUST BE GREATER THAN ZERO.");
    base.net.biomass(2) = 20;

    ASSERT_EQ(sc::prepare(base, 2).ending, sc::Ending::normal);
    const std::pair<sc::Change, const char*> refused[] = {
        {{K::biomass, 3, 0, false, 1}, "no compartment 3"},
        {{K::exchange, 1, 0, false, 1}, "no compartment 0"},
        {{K::input, 1, 0, false, -1}, "-1 is not a value of 0 or more"},
        {{K::biomass, 1, 0, true, 1e38f}, "10 times 9.99999968e+37 is beyond single precision"},
        {{K::biomass, 1, 0, true, 1e-39f}, "10 times 1.00000022e-39 is too close to 0 for single precision"},
    };
    for (const auto& [change, message] : refused) {
      const sc::Outcome o = sc::apply(change);
      EXPECT_EQ(o.ending, sc::Ending::refused);
      EXPECT_EQ(o.status, 2);
      EXPECT_EQ(o.message, message);
    }
    EXPECT_EQ(sc::target(K::biomass, 1, 0), 10.0f);  // nothing refused was applied
    Recorder r(2);
    EXPECT_EQ(sc::simulate({2, 5, 5, 1}, r).ending, sc::Ending::refused);
    EXPECT_EQ(sc::simulate({2, 0, 5, 6}, r).ending, sc::Ending::refused);
    EXPECT_TRUE(r.rows.empty());
  });
  EXPECT_EQ(terminal, "");
}

}  // namespace
