// The dynamic model on the worked two-compartment example: the coefficients
// of each model type and the rates; a snapshot's reference biomasses, the
// observer; the snapshots' exact records and the stops that leave no partial
// description behind.
#include <cmath>
#include <functional>
#include <limits>
#include <tuple>

#include "model/coefficients.h"
#include "model/derivs.h"
#include "model/snapshot.h"
#include "run/simulation.h"
#include "support/program_state.h"
#include "support/records.h"
#include "support/scratch.h"

namespace {

using namespace ecodyn;
using namespace ecodyn::test;
using floats = std::vector<float>;

// The example network loaded as the program loads it.
class Example : public testing::Test {
 protected:
  Example() { write_file("fort.7", two_compartments_file()); }
  ~Example() override {
    fio::close(fio::snapshot_file);
    fio::close(fio::report);
  }
  Network example(int type = 0) {
    konsts = Konsts{};
    Network net;
    EXPECT_EQ(LoadResult::loaded, load_network(net));
    fio::close(fio::network_file);
    if (type != 0) derive_coefficients(net, type);
    konsts.tmax = 6.25f;
    return net;
  }
  static WorkVector rates_at(float y1, float y2) {
    WorkVector dydt;
    derivs(0.0f, vec<WorkVector>({y1, y2}), dydt);
    return dydt;
  }
  ScratchDir dir;
};

// The coefficients of each model type and the rates at half the plant
// biomass and at the steady state.
TEST_F(Example, WorkedExampleCoefficientsAndRates) {
  const struct {
    int type;
    float cexch21, cexch11;  // from detritus to the plants; the plants' diagonal
    float d1, d2;
  } worked[] = {{1, 0.1f, 0.0f, 2.5f, -1.0f},        // 1 / 10
                {2, 0.05f, 0.0f, 3.0f, -1.5f},       // 1 / 20
                {3, 0.005f, -0.16f, 6.5f, -1.0f}};  // 1 / 200, -4 * 4 / 100
  for (const auto& e : worked) {
    SCOPED_TRACE(e.type);
    example(e.type);
    EXPECT_EQ((floats{10, 20, 0.1f, 0.1f, 0.2f, 0, 0}),
              (floats{konsts.bref(1), konsts.bref(2), konsts.cexp(1), konsts.cexp(2), konsts.cresp(1),
                      konsts.cresp(2), konsts.cexch(2, 2)}));
    EXPECT_THAT((floats{konsts.cexch(1, 2), konsts.cexch(2, 1), konsts.cexch(1, 1)}),
                testing::Pointwise(testing::FloatEq(), floats{0.3f, e.cexch21, e.cexch11}));
    EXPECT_THAT(values(rates_at(5.0f, 20.0f), 2),
                testing::Pointwise(testing::FloatNear(1e-6), floats{e.d1, e.d2}));
    EXPECT_THAT(values(rates_at(10.0f, 20.0f), 2), testing::Each(testing::FloatNear(0.0f, 1e-6)));
  }
}

// A snapshot keeps its reference biomasses under any model type; losses
// are then per reference biomass under Lotka-Volterra.
TEST_F(Example, SnapshotIsDerivedAroundItsReferenceBiomass) {
  Network net = example();
  konsts.bref(1) = 99.0f;
  derive_coefficients(net, 2);
  EXPECT_FLOAT_EQ(10.0f, konsts.bref(1));  // an ordinary network: from its biomass
  net.restart = true;
  konsts.bref(1) = 8.0f;
  konsts.bref(2) = 25.0f;
  derive_coefficients(net, 3);
  EXPECT_EQ((floats{8, 25}), values(konsts.bref, 2));
  EXPECT_EQ((floats{0.125f, 0.08f, 0.25f}), (floats{konsts.cexp(1), konsts.cexp(2), konsts.cresp(1)}));
  EXPECT_FLOAT_EQ(0.005f, konsts.cexch(2, 1));  // 1 / (20*10)
  EXPECT_FLOAT_EQ(-0.25f, konsts.cexch(1, 1));  // -4*4/64
}

// A front end watching a run is told of each row and extinction with its
// cycle; a biomass below the threshold goes extinct at the first step, 0.001.
TEST_F(Example, ObserverIsToldOfRowsAndExtinctionsOfItsCycle) {
  using Event = std::tuple<int, float, int>;
  struct Events : Observer {
    void row(int cycle, float t, const Vector&) override { seen.emplace_back(cycle, t, 0); }
    void extinction(int cycle, float t, int k) override { seen.emplace_back(cycle, t, k); }
    std::vector<Event> seen;
  } events;
  Network net = example(2);
  net.biomass(2) = 5.0e-11f;
  konsts.cexch(1, 2) = 0.0f;  // nothing flows into the detritus
  RunParameters run;
  run.t_end = run.snap_interval = 2.0f;
  run.print_interval = 1.0f;
  terminal_output([&] { simulate(net, run, 3, &events); });
  EXPECT_EQ((std::vector<Event>{{3, 0.0f, 0}, {3, 0.001f, 2}, {3, 1.0f, 0}, {3, 2.0f, 0}}), events.seen);
}

class Snapshot : public Example {
 protected:
  void snap(Network& net, float y1, float y2, float t) {
    snapit(t, net.names, net.balance_digits, vec({y1, y2}), net.exports, net.respirations, net.exchange, 75);
  }
  std::string file() {
    std::fflush(nullptr);
    return read_file("fort.18");
  }
};

// The lists after the biomasses: input, exports, respirations, flows.
const std::string exports_of_both = "  1  .1000000E+01  .1000000E+00\n  2  .2000000E+01  .1000000E+00\n";
const std::string input_to_exports = " -1  .6250000E+01\n  1  .5000000E+01\n -1  .0000000E+00\n";
const std::string respiration = " -1  .0000000E+00\n  1  .2000000E+01  .2000000E+00\n -1  .0000000E+00\n";

TEST_F(Snapshot, ExactRecordsOfTheSelfCoefficientAndOfAnEmptyCompartment) {
  const struct {
    const char* what;
    int type;
    float y2;
    std::string lists;
  } cases[] = {
      // The living diagonal carries the self-coefficient and has no matrix
      // record (its flow is negative); 0.005 is held as 0.0049999999.
      {"Lotka-Volterra at the steady state", 3, 20.0f,
       "  1  .1000000E+02  .1000000E+02 -.1600000E+00\n  2  .2000000E+02  .2000000E+02  .0000000E+00\n" +
           input_to_exports + exports_of_both + respiration +
           "  1  2  .3000000E+01  .3000000E+00\n  2  1  .9999999E+00  .5000000E-02\n"},
      {"donor control, detritus empty: nothing of it listed", 2, 0.0f,
       "  1  .1000000E+02  .1000000E+02  .0000000E+00\n" + input_to_exports +
           "  1  .1000000E+01  .1000000E+00\n" + respiration + "  1  2  .3000000E+01  .3000000E+00\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Network net = example(c.type);
    const std::string before = file();
    snap(net, 10.0f, c.y2, 2.5f);
    EXPECT_EQ(title(two_compartments_title, " 0") + "  2  1  " + std::to_string(c.type) +
                  "     2.500\n" + name("PLANTS") + name("DETRITUS") + c.lists + " -1 -1  .0000000E+00\n",
              file().substr(before.size()));
  }
}

std::string range(const std::string& what) { return " SNAPSHOT VALUE FOR " + what + " IS OUT OF RANGE.\n"; }

// A snapshot out of the bounds of predator control, or with a value that
// would not read back as a number (infinite or NaN), stops the run before
// its first record; the snapshots before it are kept.
TEST_F(Snapshot, OutOfBoundsOrUnreadableValueStopsBeforeTheSnapshotIsBegun) {
  const float inf = std::numeric_limits<float>::infinity(), nan = std::nanf("");
  float y1 = 10.0f, y2 = 20.0f;
  const struct {
    int type;
    std::function<void()> spoil;
    std::string message;
  } cases[] = {
      {1, [&] { y2 = 0.0f; }, " BIOMASS  2 IS OUT OF BOUNDS.\n"},
      {1, [&] { y1 = -1.0f, y2 = 0.0f; }, " BIOMASS  1 IS OUT OF BOUNDS.\n"},
      {2, [&] { y1 = nan; }, range("BIOMASS  1")},
      {2, [&] { konsts.bref(2) = inf; }, range("BIOMASS  2")},
      {2, [&] { konsts.tmax = nan; }, range("THE LONGEST THROUGHPUT TIME")},
      {2, [&] { konsts.inputs(1) = inf; }, range("INPUT  1")},
      {2, [&] { konsts.cexp(2) = 1.0e38f; }, range("EXPORT  2")},  // times a biomass of 20
      {2, [&] { konsts.cresp(1) = nan; }, range("RESPIRATION  1")},
      {2, [&] { konsts.cexch(2, 1) = 1.0e38f; }, range("THE FLOW FROM  2 TO  1")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    Network net = example(c.type);
    y1 = 10.0f, y2 = 20.0f;
    snap(net, y1, y2, 0.0f);
    const std::string before = file();
    c.spoil();
    EXPECT_ERROR_STOP(snap(net, y1, y2, 1.0f), c.message);
    EXPECT_EQ(before, file());
  }
}

}  // namespace
