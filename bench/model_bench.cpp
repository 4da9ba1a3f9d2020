// The cost of the model equations, literal and fast, on the eight published
// networks under each model type and on a dense network of the largest size
// (75 compartments, 50 living, every compartment feeding every other); and
// of carrying the dense network over one print interval.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <string>

#include "fio/fio.h"
#include "integrate/runge.h"
#include "model/coefficients.h"
#include "model/derivs.h"
#include "model/fast_derivs.h"
#include "model/konsts.h"
#include "network/loader.h"

namespace {

using namespace ecodyn;

constexpr int n = max_compartments;
constexpr int nliv = 50;

// A balanced network of n compartments (1 to nliv living) in which every
// compartment sends to every other and a few to themselves. All values are
// multiples of 0.25, so every balance sum is exact in single precision.
Network balanced_network(int n, int nliv) {
  konsts = Konsts{};
  konsts.ncomp = n;
  konsts.nliv = nliv;
  Network net;
  net.balance_digits = 4;
  for (int i = 1; i <= n; ++i) {
    net.biomass(i) = static_cast<float>(4 + 3 * i);
    net.respirations(i) = i <= nliv ? static_cast<float>(1 + i % 3) : 0.5f;
    for (int j = 1; j <= n; ++j) {
      if (i != j || i % 3 == 0) {
        net.exchange(i, j) = 0.25f * static_cast<float>(1 + (3 * i + 5 * j) % 7);
      }
    }
  }
  for (int i = 1; i <= n; ++i) {
    float in = 0.0f, out = 0.0f;
    for (int j = 1; j <= n; ++j) {
      in += net.exchange(j, i);
      out += net.exchange(i, j);
    }
    konsts.inputs(i) = std::max(0.0f, out + net.respirations(i) - in) + 1.0f;
    net.exports(i) = konsts.inputs(i) + in - out - net.respirations(i);
  }
  return net;
}

const char* const published[] = {"cone_spring",
                                  "silver_springs",
                                  "oyster_reef",
                                  "baltic_sea_aggregated",
                                  "crystal_river_creek_control",
                                  "chesapeake_bay_mesohaline",
                                  "cypress_wetland_wet_season",
                                  "lake_oneida_pre_zm"};

// A published network as the loader leaves it: the Network and konsts.
struct Loaded {
  Network net;
  Konsts k;
};

// Loads examples/networks/NAME.net with the program's loader (its echo
// listing goes nowhere) and leaves it in konsts; returns the Network.
const Network& load(const std::string& name) {
  static std::map<std::string, Loaded> loaded;
  auto it = loaded.find(name);
  if (it == loaded.end()) {
    static const bool report = fio::connect(fio::report, "/dev/null", false);
    (void)report;
    const std::string path = std::string(ECODYN_EXAMPLES) + "/" + name + ".net";
    fio::close(fio::network_file);
    if (!fio::connect(fio::network_file, path.c_str(), true)) std::abort();
    Loaded l;
    if (load_network(l.net) != LoadResult::loaded) std::abort();
    fio::close(fio::network_file);
    l.k = konsts;
    it = loaded.emplace(name, l).first;
  }
  konsts = it->second.k;
  return it->second.net;
}

// A state away from the steady state, so that under predator control every
// availability factor differs from 1.
WorkVector off_steady_state(const Network& net) {
  WorkVector y;
  for (int i = 1; i <= konsts.ncomp; ++i) y(i) = net.biomass(i) * (i % 2 ? 0.9f : 1.1f);
  return y;
}

// derivs, literal or fast, on a network under a model type.
void time_derivs(benchmark::State& state, const Network& net, int type, bool fast) {
  derive_coefficients(net, type);
  const WorkVector y = off_steady_state(net);
  WorkVector dydt;
  const FastDerivsRun run;
  if (fast && !fast_derivs(y, dydt)) state.SkipWithError("the fast evaluation declines");
  for (auto _ : state) {
    if (fast) {
      derivs(0.0f, y, dydt);
    } else {
      derivs_literal(0.0f, y, dydt);
    }
    benchmark::DoNotOptimize(dydt);
    benchmark::ClobberMemory();
  }
  const FastDerivsShape shape = fast_derivs_shape();
  state.counters["blocks"] = shape.blocks_visited;
  state.counters["of"] = shape.blocks_total;
}

const bool registered = [] {
  for (const char* name : published) {
    for (int type = 1; type <= 3; ++type) {
      for (const bool fast : {false, true}) {
        const std::string label = std::string("derivs/") + name + "/type:" +
                                  std::to_string(type) + (fast ? "/fast" : "/literal");
        benchmark::RegisterBenchmark(label.c_str(), [=](benchmark::State& state) {
          time_derivs(state, load(name), type, fast);
        });
      }
    }
  }
  return true;
}();

void BM_dense_derivs(benchmark::State& state) {
  const Network net = balanced_network(n, nliv);
  time_derivs(state, net, static_cast<int>(state.range(0)), state.range(1) != 0);
}
BENCHMARK(BM_dense_derivs)->ArgNames({"type", "fast"})->ArgsProduct({{1, 2, 3}, {0, 1}});

// One print interval of length 1 with the simulation loop's settings,
// starting from a state perturbed away from the steady state.
void BM_runge(benchmark::State& state) {
  const Network net = balanced_network(n, nliv);
  derive_coefficients(net, static_cast<int>(state.range(0)));
  Vector start = net.biomass;
  for (int i = 1; i <= n; i += 3) start(i) = start(i) * 0.8f;
  const FastDerivsRun run;
  for (auto _ : state) {
    Vector b = start;
    runge(derivs, b, n, 0.0f, 1.0f, 1.0e-5f, 0.001f, 1.0e-5f);
    benchmark::DoNotOptimize(b);
  }
}
BENCHMARK(BM_runge)->ArgName("model_type")->Arg(1)->Arg(2)->Arg(3)->Unit(benchmark::kMicrosecond);

}  // namespace
