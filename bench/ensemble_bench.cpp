// The cost of one member of the benchmark ensemble (Lake Oneida, type 2, 0
// to 5 by 0.05, every biomass drawn within 20%, every compartment
// recorded): running it in the process, passing it between processes, and
// inserting it into the database with the program's pragmas and
// statements, 25 members a transaction.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "database.h"
#include "member.h"
#include "plan.h"

namespace {

using namespace ecodyn::ensemble;

struct Setup {
  ecodyn::scenario::Base base;
  Plan plan;
  Setup() {
    Options o;
    o.network = ECODYN_EXAMPLES "/lake_oneida_pre_zm.net";
    o.end = std::string("5");
    o.print = std::string("0.05");
    o.vary = {"biomass:all=uniform:20%"};
    o.draws = 1000;
    o.record = std::string("all");
    ecodyn::scenario::load(o.network.c_str(), 0, base);
    plan = make_plan(o, base);
  }
};

Setup& setup() {
  static Setup s;
  return s;
}

void run_member(benchmark::State& state) {
  long long k = 0;
  for (auto _ : state)
    benchmark::DoNotOptimize(run_member(setup().plan, setup().base, ++k % 1000 + 1));
}
BENCHMARK(run_member)->Unit(benchmark::kMillisecond);

void pass_member(benchmark::State& state) {
  const Result r = run_member(setup().plan, setup().base, 1);
  std::string m;
  for (auto _ : state) {
    m.clear();
    encode(r, m);
    benchmark::DoNotOptimize(decode(std::string_view(m).substr(4)));
  }
}
BENCHMARK(pass_member)->Unit(benchmark::kMicrosecond);

void insert_member(benchmark::State& state) {
  Result r = run_member(setup().plan, setup().base, 1);
  const std::string path =
      (std::filesystem::temp_directory_path() / "ecodyn-ensemble-bench.sqlite").string();
  for (const char* end : {"", "-wal", "-shm"}) std::remove((path + end).c_str());
  Database db = Database::create(path);
  db.describe(setup().plan, settings(setup().plan, ""));
  long long k = 0;
  db.begin();
  for (auto _ : state) {
    r.id.member = ++k;
    db.insert(r);
    if (k % 25 == 0) {
      db.commit();
      db.begin();
    }
  }
  db.commit();
  db.close();
  state.counters["bytes per member"] =
      static_cast<double>(std::filesystem::file_size(path)) / static_cast<double>(k);
  for (const char* end : {"", "-wal", "-shm"}) std::remove((path + end).c_str());
}
BENCHMARK(insert_member)->Unit(benchmark::kMicrosecond)->Iterations(1000);

}  // namespace

namespace {
void summarize_members(benchmark::State& state) {
  const std::string path =
      (std::filesystem::temp_directory_path() / "ecodyn-ensemble-sum.sqlite").string();
  for (const char* end : {"", "-wal", "-shm"}) std::remove((path + end).c_str());
  {
    Database db = Database::create(path);
    db.describe(setup().plan, settings(setup().plan, ""));
    db.begin();
    for (long long k = 1; k <= state.range(0); ++k) {
      Result r = run_member(setup().plan, setup().base, k);
      db.insert(r);
    }
    db.commit();
    db.close();
  }
  Database db = Database::open(path, true);
  for (auto _ : state) db.summarize();
  db.close();
  state.SetItemsProcessed(state.iterations() * state.range(0));
  for (const char* end : {"", "-wal", "-shm"}) std::remove((path + end).c_str());
}
BENCHMARK(summarize_members)->Arg(300)->Unit(benchmark::kMillisecond)->Iterations(2);
}  // namespace
