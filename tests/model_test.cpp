// The dynamic model on the worked two-compartment example: the coefficients
// of each model type, the rates at and away from the steady state, the stops
// on a biomass that is not positive; the snapshots' exact records and the
// stops that leave no partial description behind.
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
    Network net = loaded();
    if (type != 0) derive_coefficients(net, type);
    konsts.tmax = 6.25f;
    return net;
  }
  static WorkVector rates_at(float y1, float y2) {
    WorkVector y, dydt;
    y(1) = y1;
    y(2) = y2;
    derivs(0.0f, y, dydt);
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
    EXPECT_EQ((floats{10, 20, 0.1f, 0.1f, 0.2f, 0, 0}), (floats{konsts.bref(1), konsts.bref(2), konsts.cexp(1),
                                                               konsts.cexp(2), konsts.cresp(1), konsts.cresp(2),
                                                               konsts.cexch(2, 2)}));
    EXPECT_THAT((floats{konsts.cexch(1, 2), konsts.cexch(2, 1), konsts.cexch(1, 1)}),
                testing::Pointwise(testing::FloatEq(), floats{0.3f, e.cexch21, e.cexch11}));
    EXPECT_THAT(values(rates_at(5.0f, 20.0f), 2), testing::Pointwise(testing::FloatNear(1e-6), floats{e.d1, e.d2}));
    EXPECT_THAT(values(rates_at(10.0f, 20.0f), 2), testing::Each(testing::FloatNear(0.0f, 1e-6)));
  }
}

// What each flow law divides a flow by, on variations of the example.
TEST_F(Example, FlowLawsOnVariationsOfTheExample) {
  const float none = std::nanf("");  // not checked
  const struct {
    const char* what;
    int type, nliv;
    float flow11, flow22, respiration1;
    float c11, c12, c21, c22;
  } cases[] = {
      {"predator control, all living: 3 / 20, 1 / 10", 1, 2, 0, 0, 2, none, 0.15f, 0.1f, none},
      {"donor control: 3 / 10, 1 / 20, 4 / 20", 2, 2, 0, 4, 2, none, 0.3f, 0.05f, 0.2f},
      {"Lotka-Volterra, supply 5 - 2 + 1 + 2: -4*6/100", 3, 1, 2, 4, 2, -0.24f, none, none, 0.2f},
      {"Lotka-Volterra, supply 5 - 6 + 1 = 0", 3, 1, 0, 0, 6, 0, none, none, none},
      {"Lotka-Volterra, supply 5 - 8 + 1: -4*(-2)/100", 3, 1, 0, 0, 8, 0.08f, none, none, none},
      {"Lotka-Volterra, all living: 3 / (10*20), 1 / (20*10), -4*3/400", 3, 2, 0, 0, 2, none,
       0.015f, 0.005f, -0.03f},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Network net = example();
    konsts.nliv = c.nliv;
    net.exchange(1, 1) = c.flow11;
    net.exchange(2, 2) = c.flow22;
    net.respirations(1) = c.respiration1;
    derive_coefficients(net, c.type);
    const float expected[] = {c.c11, c.c12, c.c21, c.c22};
    const float derived[] = {konsts.cexch(1, 1), konsts.cexch(1, 2), konsts.cexch(2, 1),
                             konsts.cexch(2, 2)};
    for (int k = 0; k < 4; ++k) {
      if (!std::isnan(expected[k])) EXPECT_FLOAT_EQ(expected[k], derived[k]) << k;
    }
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

// Away from the steady state: under predator control the flow from the
// detritus is 0.1 * 10 * exp(1 - 20 / y2); under Lotka-Volterra at y1 = -5 the
// self-term is -0.16 * (-5) * (-15) = -12, from 2 0.005 * 20 * (-5), to 2 0.3 * (-5);
// with the self-coefficient faded, plain mass action.
TEST_F(Example, RatesAwayFromTheSteadyState) {
  example(1);
  for (const double y2 : {0.02, 10.0, 2.0e6}) {
    const WorkVector d = rates_at(10.0f, static_cast<float>(y2));
    const double flow = 0.1 * 10.0 * std::exp(1.0 - 20.0 / y2);
    EXPECT_NEAR(-1.0 + flow, d(1), 1e-6 * (5.0 + flow));
    EXPECT_NEAR(-0.1 * y2 + 3.0 - flow, d(2), 1e-6 * std::fabs(-0.1 * y2 + 3.0 - flow));
  }
  example(3);
  EXPECT_EQ((floats{5, -2}), values(rates_at(0.0f, 20.0f), 2));  // every term of the plants vanishes
  EXPECT_THAT(values(rates_at(-5.0f, 20.0f), 2), testing::Pointwise(testing::FloatEq(), floats{-4.5f, -3.0f}));
  konsts.cexch(1, 1) = 0.0f;
  EXPECT_FLOAT_EQ(3.5f + 0.5f - 1.5f, rates_at(5.0f, 20.0f)(1));
}

TEST_F(Example, BiomassNotPositiveStops) {
  for (const auto& [i, biomass, type] : {std::tuple{2, 0.0f, 2}, std::tuple{1, -1.0f, 1}}) {
    Network net = example();
    net.biomass(i) = biomass;
    EXPECT_ERROR_STOP(derive_coefficients(net, type), " BIOMASSES MUST BE GREATER THAN ZERO.\n");
  }
  example(1);
  EXPECT_ERROR_STOP(rates_at(0.0f, 20.0f), " BIOMASS DRIVEN NEGATIVE.\n");   // living
  EXPECT_ERROR_STOP(rates_at(10.0f, -1.0f), " BIOMASS DRIVEN NEGATIVE.\n");  // non-living
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
    Vector y;
    y(1) = y1;
    y(2) = y2;
    snapit(t, net.names, net.balance_digits, y, net.exports, net.respirations, net.exchange, 75);
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

TEST_F(Snapshot, PredatorControlStopsBeforeWritingAnOutOfBoundsSnapshot) {
  Network net = example(1);
  for (const auto& [y1, message] : {std::pair{10.0f, " BIOMASS  2 IS OUT OF BOUNDS.\n"},
                                    std::pair{-1.0f, " BIOMASS  1 IS OUT OF BOUNDS.\n"}}) {
    EXPECT_ERROR_STOP(snap(net, y1, 0.0f, 1.0f), message);
    EXPECT_EQ("", file());
  }
}

// Every value a snapshot lists must read back as a number: an infinite or
// NaN value stops the run before the snapshot's first record.
TEST_F(Snapshot, AValueThatWouldNotReadBackStopsBeforeTheSnapshotIsBegun) {
  const float inf = std::numeric_limits<float>::infinity(), nan = std::nanf("");
  const std::pair<std::function<void()>, const char*> cases[] = {
      {[&] { konsts.bref(2) = inf; }, "BIOMASS  2"},
      {[&] { konsts.tmax = nan; }, "THE LONGEST THROUGHPUT TIME"},
      {[&] { konsts.inputs(1) = inf; }, "INPUT  1"},
      {[&] { konsts.cexp(2) = 1.0e38f; }, "EXPORT  2"},  // times a biomass of 20
      {[&] { konsts.cresp(1) = nan; }, "RESPIRATION  1"},
      {[&] { konsts.cexch(2, 1) = 1.0e38f; }, "THE FLOW FROM  2 TO  1"},
  };
  for (const auto& [spoil, what] : cases) {
    SCOPED_TRACE(what);
    Network net = example(2);
    snap(net, 10.0f, 20.0f, 0.0f);
    const std::string before = file();
    spoil();
    EXPECT_ERROR_STOP(snap(net, 10.0f, 20.0f, 1.0f),
                      std::string(" SNAPSHOT VALUE FOR ") + what + " IS OUT OF RANGE.\n");
    EXPECT_EQ(before, file());
  }
  Network net = example(2);
  const std::string before = file();
  EXPECT_ERROR_STOP(snap(net, nan, 20.0f, 1.0f), " SNAPSHOT VALUE FOR BIOMASS  1 IS OUT OF RANGE.\n");
  EXPECT_EQ(before, file());
}

}  // namespace
