// The linear analysis of ecodyn-stability: the Jacobian against hand-worked
// cases and against finite differences of the model equations, the
// eigenvalues against simulations of the model, the self-damping, and the
// program's report, files and refusals.
#include <Eigen/Dense>
#include <unsupported/Eigen/MatrixFunctions>
#include <cmath>
#include <complex>
#include <cstdio>

#include "integrate/observer.h"
#include "model/coefficients.h"
#include "model/derivs.h"
#include "run/simulation.h"
#include "stability.h"
#include "support/program_state.h"
#include "support/scratch.h"

namespace {

using namespace ecodyn;
using namespace ecodyn::stability;
using namespace ecodyn::test;

const std::string networks_dir = examples_dir + "networks/";
const char* const published[] = {"baltic_sea_aggregated", "chesapeake_bay_mesohaline",
                                 "cone_spring", "crystal_river_creek_control",
                                 "cypress_wetland_wet_season", "lake_oneida_pre_zm",
                                 "oyster_reef", "silver_springs"};

// Loads the first description of a network file as ecodyn loads it and
// derives the coefficients of the model type.
Network load(const std::string& path, int model) {
  konsts = Konsts{};
  Network net;
  EXPECT_TRUE(fio::connect(fio::network_file, path.c_str(), true));
  EXPECT_TRUE(fio::connect(fio::report, "/dev/null", false));
  EXPECT_EQ(LoadResult::loaded, load_network(net));
  fio::close(fio::network_file);
  fio::close(fio::report);
  derive_coefficients(net, model);
  konsts.tmax = 1.0f;
  return net;
}

Square square(int n, std::initializer_list<double> rows) {
  Square a(n);
  int k = 0;
  for (const double v : rows) {
    a(k / n + 1, k % n + 1) = v;
    ++k;
  }
  return a;
}

// The worked two-compartment network (plants living, biomass 10; detritus
// 20): the Jacobian at the loaded state, its eigenvalues, and the rates at
// y = (5, 20), worked out by hand from the derived coefficients.
TEST(Stability, ClosedFormsOfTheTwoCompartments) {
  struct Case {
    int model;
    Square j;
    std::complex<double> first, second;
    double rate1, rate2;
  };
  // Type 1: cexch(2,1) = 0.1 by recipient control, avail(2) = 1 with slope
  // bref/y^2 = 0.05. Type 2: cexch(2,1) = 0.05. Type 3: cexch(2,1) = 0.005
  // by mass action, self-coefficient -0.16 with slope c*(2y - bref) = -1.6.
  // The eigenvalues solve l^2 - trace*l + det = 0.
  const auto roots = [](double trace, double det) {
    const double d = std::sqrt(trace * trace - 4 * det);
    return std::pair{std::complex<double>((trace + d) / 2), std::complex<double>((trace - d) / 2)};
  };
  const auto [r1a, r1b] = roots(-0.65, 0.075 - 0.01);
  const auto [r2a, r2b] = roots(-0.75, 0.09 - 0.015);
  const auto [r3a, r3b] = roots(-2.25, 0.315 - 0.01);
  const Case cases[] = {
      {1, square(2, {-0.5, 0.05, 0.2, -0.15}), r1a, r1b, 2.5, -1.0},
      {2, square(2, {-0.6, 0.05, 0.3, -0.15}), r2a, r2b, 3.0, -1.5},
      {3, square(2, {-2.1, 0.05, 0.2, -0.15}), r3a, r3b, 6.5, -1.0},
  };
  ScratchDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE("model " + std::to_string(c.model));
    const Network net = load(examples_dir + "two_compartments.net", c.model);
    const State y = state_of(net.biomass, 2);
    const Square j = jacobian(konsts, y);
    for (int a = 1; a <= 2; ++a) {
      for (int b = 1; b <= 2; ++b) EXPECT_NEAR(c.j(a, b), j(a, b), 1e-6) << a << "," << b;
    }
    const auto values = eigenvalues(j);
    ASSERT_EQ(2u, values.size());
    EXPECT_NEAR(c.first.real(), values[0].real(), 1e-6);
    EXPECT_NEAR(c.second.real(), values[1].real(), 1e-6);
    EXPECT_EQ(0.0, values[0].imag());
    const auto r = rates(konsts, {5, 20});
    EXPECT_NEAR(c.rate1, r[0], 1e-6);
    EXPECT_NEAR(c.rate2, r[1], 1e-6);
    // At the loaded state the balanced network is at rest.
    for (const double v : rates(konsts, y)) EXPECT_NEAR(0.0, v, 1e-6);
  }
}

// Returns d(dy_i/dt)/d(y_j) by central differences of the program's own
// model equations (single precision), with steps of a hundredth of each
// biomass: rounding, not the step, limits the agreement (the laws of types
// 2 and 3 are at most quadratic, and central differences take them exactly).
Square finite_differences(const State& y) {
  const int n = static_cast<int>(y.size());
  Square j(n);
  for (int b = 1; b <= n; ++b) {
    WorkVector up, down, f_up, f_down;
    for (int i = 1; i <= n; ++i) up(i) = down(i) = static_cast<float>(y[i - 1]);
    up(b) = static_cast<float>(y[b - 1] * 1.01);
    down(b) = static_cast<float>(y[b - 1] * 0.99);
    derivs_literal(0, up, f_up);
    derivs_literal(0, down, f_down);
    for (int a = 1; a <= n; ++a) {
      j(a, b) = (static_cast<double>(f_up(a)) - f_down(a)) / (static_cast<double>(up(b)) - down(b));
    }
  }
  return j;
}

// On the eight published networks under each model type the analytic
// Jacobian agrees with finite differences of derivs: the difference of
// J(i,j), times y(j) over the throughput of i (the change of i's rate, as
// a share of its throughput, per relative change of j), stays below 1e-4,
// where single-precision sums of up to 75 flows round by some 1e-6 of the
// throughput over a step of 2e-2.
// The rates in double precision agree with derivs to single precision.
TEST(Stability, JacobianAgreesWithFiniteDifferencesOfTheModel) {
  ScratchDir dir;
  for (const char* name : published) {
    for (int model = 1; model <= 3; ++model) {
      SCOPED_TRACE(std::string(name) + " model " + std::to_string(model));
      const Network net = load(networks_dir + name + ".net", model);
      const State y = state_of(net.biomass, konsts.ncomp);
      const Square exact = jacobian(konsts, y), fd = finite_differences(y);
      const std::vector<double> t = throughputs(konsts, y), r = rates(konsts, y);
      WorkVector wy, program_rates;
      for (int i = 1; i <= konsts.ncomp; ++i) wy(i) = net.biomass(i);
      derivs_literal(0, wy, program_rates);
      double worst = 0, worst_rate = 0;
      for (int a = 1; a <= konsts.ncomp; ++a) {
        worst_rate = std::max(worst_rate, std::fabs(r[a - 1] - program_rates(a)) / t[a - 1]);
        for (int b = 1; b <= konsts.ncomp; ++b) {
          worst = std::max(worst, std::fabs(exact(a, b) - fd(a, b)) * y[b - 1] / t[a - 1]);
        }
      }
      std::printf("%-28s model %d: Jacobian vs finite differences %.2e, rates vs derivs %.2e\n",
                  name, model, worst, worst_rate);
      EXPECT_LT(worst, 1e-4);
      EXPECT_LT(worst_rate, 1e-6);
    }
  }
  // A coefficient of zero or less carries nothing under type 1 (a snapshot
  // may carry one): the plants' flow to the detritus set negative.
  const Network net = load(examples_dir + "two_compartments.net", 1);
  konsts.cexch(1, 2) = -0.3f;
  const State y = state_of(net.biomass, 2);
  const Square exact = jacobian(konsts, y), fd = finite_differences(y);
  for (int a = 1; a <= 2; ++a) {
    for (int b = 1; b <= 2; ++b) EXPECT_NEAR(fd(a, b), exact(a, b), 1e-5) << a << "," << b;
  }
}

// Watches a run: the biomasses of every row.
struct Rows : Observer {
  std::vector<std::pair<float, Vector>> seen;
  void row(int, float t, const Vector& biomass) override { seen.emplace_back(t, biomass); }
  void extinction(int, float, int) override {}
};

// Runs ecodyn's simulation loop from the loaded network of the model type
// with the biomasses changed by change(biomass); returns the rows.
template <class Change>
std::vector<std::pair<float, Vector>> simulated(const std::string& path, int model, Change change,
                                                float end, float print) {
  Network net = load(path, model);
  change(net.biomass);
  RunParameters run;
  run.model_type = model;
  run.t_end = run.snap_interval = end;
  run.print_interval = print;
  Rows rows;
  EXPECT_TRUE(fio::connect(fio::report, "/dev/null", false));
  EXPECT_TRUE(fio::connect(fio::snapshot_file, "/dev/null", false));
  terminal_output([&] { simulate(net, run, 1, &rows); });
  fio::close(fio::report);
  fio::close(fio::snapshot_file);
  return rows.seen;
}

// Under linear donor control the departure of a run whose compartment k
// starts 1% high from the run that does not is exp(J t) applied to the
// first departure, for every compartment at every row, within ten times the
// integrator's tolerance (1e-5) of the biomass.
TEST(Stability, LinearModelDepartureFollowsTheMatrixExponential) {
  struct Case {
    const char* network;
    int k;
    float end, print;
  };
  const Case cases[] = {{"grazing_chain.net", 2, 40, 4},
                        {"networks/oyster_reef.net", 1, 200, 20},
                        {"networks/cone_spring.net", 3, 2, 0.2f}};
  ScratchDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.network);
    const std::string path = examples_dir + c.network;
    const auto base = simulated(path, 2, [](Vector&) {}, c.end, c.print);
    const auto moved = simulated(path, 2, [&](Vector& y) { y(c.k) = y(c.k) * 1.01f; }, c.end, c.print);
    const int n = konsts.ncomp;
    const Square j = jacobian(konsts, state_of(base[0].second, n));
    Eigen::MatrixXd m(n, n);
    Eigen::VectorXd start(n);
    for (int a = 1; a <= n; ++a) {
      for (int b = 1; b <= n; ++b) m(a - 1, b - 1) = j(a, b);
      start(a - 1) = static_cast<double>(moved[0].second(a)) - base[0].second(a);
    }
    ASSERT_EQ(base.size(), moved.size());
    double worst = 0;
    for (std::size_t row = 1; row < base.size(); ++row) {
      const Eigen::VectorXd predicted = (m * static_cast<double>(base[row].first)).exp() * start;
      for (int a = 1; a <= n; ++a) {
        const double departure = static_cast<double>(moved[row].second(a)) - base[row].second(a);
        worst = std::max(worst, std::fabs(departure - predicted(a - 1)) / base[row].second(a));
      }
    }
    std::printf("%-26s linear prediction vs simulation: largest difference %.2e of the biomass\n",
                c.network, worst);
    EXPECT_LT(worst, 1e-4);
  }
}

// Under generic predator control the oyster reef's steady state is
// unstable: a departure along the dominant eigenvector (0.3% of the
// biomass where it is largest) grows at the rate of the dominant
// eigenvalue, within 3% (at 1% the model's bending shows: 5% slower).
TEST(Stability, UnstableDepartureGrowsAtTheDominantRate) {
  ScratchDir dir;
  const std::string path = networks_dir + "oyster_reef.net";
  const Network net = load(path, 1);
  const int n = konsts.ncomp;
  const Mode mode = dominant_mode(jacobian(konsts, state_of(net.biomass, n)));
  ASSERT_GT(mode.value.real(), 0);
  ASSERT_EQ(0, mode.value.imag());
  double largest = 0;
  for (int a = 1; a <= n; ++a) largest = std::max(largest, std::abs(mode.vector[a - 1]) / net.biomass(a));
  const auto along = [&](Vector& y) {
    for (int a = 1; a <= n; ++a) y(a) = static_cast<float>(y(a) + 0.003 / largest * mode.vector[a - 1].real());
  };
  const auto base = simulated(path, 1, [](Vector&) {}, 500, 250);
  const auto moved = simulated(path, 1, along, 500, 250);
  const auto size = [&](std::size_t row) {
    double s = 0;
    for (int a = 1; a <= n; ++a) {
      const double d = static_cast<double>(moved[row].second(a)) - base[row].second(a);
      s += d * d;
    }
    return std::sqrt(s);
  };
  ASSERT_EQ(3u, base.size());
  const double rate = std::log(size(2) / size(0)) / base[2].first;
  std::printf("oyster reef, model 1: departure grows at %.5f, dominant eigenvalue %.5f\n", rate,
              mode.value.real());
  EXPECT_NEAR(mode.value.real(), rate, 0.03 * mode.value.real());
  EXPECT_THAT(instability_note(net, 1),
              StartsWith("note: under model 1 the steady state is unstable (dominant eigenvalue "));
  EXPECT_EQ("", instability_note(net, 2));
}

// s_min: with J - s_min*D the dominant real part crosses zero within the
// bisection's width; 0 for a stable model; none when the non-living
// compartments alone do not decay.
TEST(Stability, SmallestSelfDampingBringsTheDominantRealPartToZero) {
  ScratchDir dir;
  struct Case {
    const char* name;
    Square j;
    int nliv;
  };
  std::vector<Case> cases;
  for (const char* network : {"oyster_reef", "lake_oneida_pre_zm", "cypress_wetland_wet_season"}) {
    const Network net = load(networks_dir + network + ".net", 1);
    cases.push_back({network, jacobian(konsts, state_of(net.biomass, konsts.ncomp)), konsts.nliv});
  }
  cases.push_back({"a growing living pair", square(2, {0.5, 1, -1, 0.2}), 2});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::optional<double> s = minimum_self_damping(c.j, c.nliv);
    ASSERT_TRUE(s.has_value());
    ASSERT_GT(*s, 0);
    const auto damped = [&](double by) {
      Square d = c.j;
      for (int i = 1; i <= c.nliv; ++i) d(i, i) -= by;
      return dominant_real_part(d);
    };
    EXPECT_LT(damped(*s), 0);
    EXPECT_GT(damped(*s * (1 - 1e-3)), 0);
  }
  // The pair's eigenvalues are 0.35 +- i*sqrt(1 - 0.0225): damping 0.35 of
  // both brings them to the axis.
  EXPECT_NEAR(0.35, *minimum_self_damping(cases.back().j, 2), 0.35e-3);
  EXPECT_EQ(0.0, minimum_self_damping(square(2, {-1, 0.5, 0.2, -0.3}), 1));
  // A detritus pool that nothing drains stays at rest whatever the damping.
  EXPECT_FALSE(minimum_self_damping(square(2, {0.1, 0, 0.4, 0}), 1).has_value());
}

// The verdict: neutral within what rounding the coefficients to single
// precision, and the drift of a state not quite at rest, can move the
// dominant eigenvalue; a defective matrix falls back on a millionth of the
// largest eigenvalue's magnitude.
TEST(Stability, NeutralWithinWhatRoundingAndDriftCanMoveTheDominantEigenvalue) {
  struct Case {
    const char* name;
    Square j;
    std::vector<double> drift;
    Verdict verdict;
  };
  const Case cases[] = {
      {"a closed exchange (eigenvalue 0)", square(2, {-1, 1, 1, -1}), {}, Verdict::neutral},
      {"5e-8 left by cancelling rates of 100", square(2, {-100, 100, 100, -100 + 1e-7}), {},
       Verdict::neutral},
      {"a slow growth of 0.01", square(2, {0.01, 0, 0, -1}), {}, Verdict::unstable},
      {"a slow decay of 1e-7 in one pool", square(2, {-1e-7, 0, 0, -1}), {}, Verdict::stable},
      {"growth of 1e-6 where the state drifts by 1e-5", square(2, {1e-6, 0, 0, -1}), {1e-5, 0},
       Verdict::neutral},
      {"growth of 1e-6 where it drifts elsewhere", square(2, {1e-6, 0, 0, -1}), {0, 1e-5},
       Verdict::unstable},
      {"a defective chain of equal turnovers", square(2, {-0.1, 0, 0.1, -0.1}), {},
       Verdict::stable},
      {"growth of 0.01 at a state far from rest: the band stays a millionth of the "
       "fastest rate", square(2, {0.01, 0, 0, -1}), {1, 0}, Verdict::unstable},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Mode mode = dominant_mode(c.j, c.drift);
    EXPECT_EQ(c.verdict, verdict(mode)) << mode.value << " within " << mode.tolerance;
  }
}

RunResult stability(const ScratchDir& dir, const std::string& args) {
  return run(ECODYN_STABILITY_BINARY, dir.path(), "", args);
}

// The report of each model type, the eigenvalue and Jacobian files, JSON,
// and a snapshot analysed under its own type and under another.
TEST(Stability, ReportsFilesAndSnapshots) {
  ScratchDir dir;
  write_file(dir.file("two.net"), two_compartments_file());
  RunResult r = stability(dir, "two.net --csv values.csv --jacobian j.csv");
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_EQ("", r.err);
  EXPECT_THAT(r.out, AllOf(StartsWith(two_compartments_title + "\ntwo.net, description 1 of 1: "
                                                               "2 compartments, 1 living\n"),
                           HasSubstr("\nModel 1, generic predator control\n  equilibrium:  yes"),
                           HasSubstr("\nModel 3, damped Lotka-Volterra\n"),
                           HasSubstr("  verdict:      STABLE: small departures from the state "
                                     "die away\n  dominant eigenvalue: -0.1188 per time unit\n"
                                     "  return time:  8.416 time units"),
                           HasSubstr("  carried by:   2 DETRITUS (98.9%)\n"),
                           HasSubstr("  s_min:        0: stable without self-damping\n")));
  const std::string values = read_file(dir.file("values.csv"));
  EXPECT_THAT(values, StartsWith("model,real,imaginary,rank\r\n1,"));
  EXPECT_THAT(values, HasSubstr("\r\n2,-0.11882623234788693,0,1\r\n2,-0.6311737862785644,0,2\r\n"));
  EXPECT_THAT(read_file(dir.file("j.csv")),
              AllOf(StartsWith("model,number,compartment,1 PLANTS,2 DETRITUS\r\n1,1,PLANTS,-0.5"),
                    HasSubstr("\r\n2,2,DETRITUS,0.30000001192092896,-0.15000000")));

  // Doubling the plants' flow to the detritus: J(1,1) -0.9, J(2,1) 0.6,
  // trace -1.05, determinant 0.105.
  r = stability(dir, "two.net --model 2 --perturb exchange:plants,detritus=x2");
  EXPECT_THAT(r.out, HasSubstr("dominant eigenvalue: -0.1119 per time unit"));

  r = stability(dir, "two.net --model 2 --json --perturb biomass:plants=x0.5");
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_THAT(r.out, AllOf(HasSubstr("\"perturbations\": [\"biomass:plants=x0.5\"]"),
                           HasSubstr("\"verdict\": \"stable\", \"neutral_within\": "),
                           HasSubstr("\"equilibrium\": false"),
                           HasSubstr("\"s_min\": 0"), HasSubstr("\"period\": null")));

  // The grazing chain's run under generic predator control, predators set
  // to 2, snapshots at 0, 25 and 50: under its own type the first keeps the
  // coefficients derived from the network, whose analysis with the same
  // change it repeats; under type 2 they are derived from its flows.
  write_file(dir.file("grazing.net"), read_file(examples_dir + "grazing_chain.net"));
  write_file(dir.file("fort.18"), read_file(examples_dir + "expected/grazing_chain/fort.18"));
  r = stability(dir, "fort.18 --index 1 --model 1,2");
  EXPECT_EQ(0, r.status) << r.err;
  const RunResult network = stability(dir, "grazing.net --model 1 --perturb biomass:3=2");
  const std::string block = network.out.substr(network.out.find("\nModel 1"));
  EXPECT_THAT(r.out, AllOf(HasSubstr("description 1 of 3: 4 compartments, 3 living; a snapshot of "
                                     "model 1 at time 0\nstate: the snapshot's biomasses\n"),
                           HasSubstr(block + "\nModel 2, linear donor control\n"),
                           HasSubstr("period:       34.81 time units: the slowest mode oscillates")));
  // The snapshot at 25 under its own type: the Jacobian of the coefficients
  // it carries at its state.
  Network snapshot;
  konsts = Konsts{};
  ASSERT_TRUE(fio::connect(fio::network_file, dir.file("fort.18").c_str(), true));
  ASSERT_TRUE(fio::connect(fio::report, "/dev/null", false));
  for (int k = 0; k < 2; ++k) ASSERT_EQ(LoadResult::loaded, load_network(snapshot));
  fio::close(fio::network_file);
  fio::close(fio::report);
  const std::complex<double> carried =
      dominant_mode(jacobian(konsts, state_of(snapshot.biomass, konsts.ncomp))).value;
  char text[80];
  std::snprintf(text, sizeof text, "dominant eigenvalue: %.4g + %.4gi per time unit",
                carried.real(), carried.imag());
  r = stability(dir, "fort.18 --time 25 --model 1");
  EXPECT_THAT(r.out, HasSubstr(text));
  r = stability(dir, "fort.18 --time 99 --model 1");
  EXPECT_EQ(2, r.status);
  EXPECT_THAT(r.err, HasSubstr("none is at time 99.000"));
}

// Refusals: nothing written and the reason on standard error. A network
// ecodyn refuses gives ecodyn's own message; a model it cannot derive is
// told, the others still reported.
TEST(Stability, Refusals) {
  ScratchDir dir;
  write_file(dir.file("two.net"), two_compartments_file());
  std::string negative = two_compartments_file();
  negative.replace(negative.find("  1        1.0000"), 17, "  1       -1.0000");
  write_file(dir.file("negative.net"), negative);
  std::string empty_plants = two_compartments_file();
  empty_plants.replace(empty_plants.find("  1       10.0000"), 17, "  1        0.0000");
  write_file(dir.file("zero.net"), empty_plants);
  write_file(dir.file("isolated.net"), "A PLANT AND A STONE\n  2  1\nPLANTS\nSTONE\n"
                                      "  1       10.0000\n  2       20.0000\n -1\n"
                                      "  1        5.0000\n -1\n  1        3.0000\n -1\n"
                                      "  1        2.0000\n -1\n -1 -1\n");
  struct Case {
    std::string args;
    int status;
    std::string err, out;
  };
  const Case cases[] = {
      {"missing.net", 2, "ecodyn-stability: cannot read missing.net: No such file or directory\n", ""},
      {"negative.net", 2,
       "ecodyn-stability: negative.net, line 12: ecodyn refuses the network: ERROR EXPORT VECTOR "
       "CAN NOT HAVE VALUES LESS THAN 0\n",
       ""},
      {"isolated.net", 2,
       "ecodyn-stability: isolated.net: description 1: ecodyn refuses the network: ALL "
       "THROUGHPUTS MUST BE POSITIVE.\n",
       ""},
      {"two.net --model 4", 2, "--model: Value 4 not in range", ""},
      {"two.net --perturb biomass:trees=2", 2,
       "ecodyn-stability: --perturb \"biomass:trees=2\": no compartment is named 'trees'", ""},
      {"two.net --perturb exchange:1,3=2", 2, "compartment 3 is out of range 1 to 2", ""},
      {"two.net --csv two.net", 2, "ecodyn-stability: cannot write two.net: it is the input two.net\n",
       ""},
      {"two.net --csv a.csv --jacobian a.csv", 2, "--csv and --jacobian name the same file", ""},
      {"zero.net --model 2,3 --csv z.csv", 1,
       "ecodyn-stability: model 2 not analysed: ecodyn stops: BIOMASSES MUST BE GREATER THAN ZERO.\n"
       "ecodyn-stability: model 3 not analysed",
       "Model 2, linear donor control\n  not analysed: ecodyn stops: BIOMASSES MUST BE GREATER "
       "THAN ZERO.\n"},
      {"two.net --model 1,2 --perturb biomass:1=0", 1,
       "model 1 not analysed: the biomass of compartment 1 is not above zero",
       "Model 2, linear donor control\n  equilibrium:  NO:"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    const RunResult r = stability(dir, c.args);
    EXPECT_EQ(c.status, r.status);
    EXPECT_THAT(r.err, HasSubstr(c.err));
    if (c.out.empty()) {
      EXPECT_EQ("", r.out);
    } else {
      EXPECT_THAT(r.out, HasSubstr(c.out));
    }
    EXPECT_FALSE(file_exists(dir.file("a.csv")));
  }
  EXPECT_EQ(two_compartments_file(), read_file(dir.file("two.net")));
  EXPECT_EQ("model,real,imaginary,rank\r\n", read_file(dir.file("z.csv")));
}

}  // namespace
