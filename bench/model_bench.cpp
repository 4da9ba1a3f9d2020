// The cost of the model equations on a dense network of the largest size
// (75 compartments, 50 living, every compartment feeding every other), and
// of carrying that network over one print interval.
#include <benchmark/benchmark.h>

#include "integrate/runge.h"
#include "model/coefficients.h"
#include "model/derivs.h"
#include "model/konsts.h"
#include "support/model_networks.h"

namespace {

using namespace ecodyn;

constexpr int n = max_compartments;
constexpr int nliv = 50;

// derivs at a state away from the steady state, so that under predator
// control every availability factor differs from 1.
void BM_derivs(benchmark::State& state) {
  const Network net = test::balanced_network(n, nliv);
  derive_coefficients(net, static_cast<int>(state.range(0)));
  WorkVector y, dydt;
  for (int i = 1; i <= n; ++i) y(i) = net.biomass(i) * (i % 2 ? 0.9f : 1.1f);
  for (auto _ : state) {
    derivs(0.0f, y, dydt);
    benchmark::DoNotOptimize(dydt);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_derivs)->ArgName("model_type")->Arg(1)->Arg(2)->Arg(3);

// One print interval of length 1 with the simulation loop's settings,
// starting from a state perturbed away from the steady state.
void BM_runge(benchmark::State& state) {
  const Network net = test::balanced_network(n, nliv);
  derive_coefficients(net, static_cast<int>(state.range(0)));
  Vector start = net.biomass;
  for (int i = 1; i <= n; i += 3) start(i) = start(i) * 0.8f;
  for (auto _ : state) {
    Vector b = start;
    runge(derivs, b, n, 0.0f, 1.0f, 1.0e-5f, 0.001f, 1.0e-5f);
    benchmark::DoNotOptimize(b);
  }
}
BENCHMARK(BM_runge)->ArgName("model_type")->Arg(1)->Arg(2)->Arg(3)->Unit(benchmark::kMicrosecond);

}  // namespace
