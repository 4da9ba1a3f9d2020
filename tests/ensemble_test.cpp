// ecodyn-ensemble: the factors drawn, the numbering of members, the
// quantiles and the resilience in the process; then the program: members
// equal to ecodyn's snapshots of the commands `member` prints, outcomes and
// acceptance, the same database for any number of jobs, an interrupted or
// starved run leaving whole members, the summary against the stored
// trajectories, the CSV files and the refusals.
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <map>
#include <thread>

#include "database.h"
#include "member.h"
#include "plan.h"
#include "shards.h"
#include "support/scratch.h"

namespace {

using namespace ecodyn::test;
using namespace ecodyn::ensemble;

const std::string ensemble_program = ECODYN_ENSEMBLE_BINARY;
const std::string lake = examples_dir + "networks/lake_oneida_pre_zm.net";
const std::string grazing = examples_dir + "grazing_chain.net";

RunResult ensemble(const std::string& dir, const std::string& args) {
  return run(ensemble_program, dir, "", args);
}

// The rows of a query, each column as text ("NULL" for none), columns
// separated by '|'.
std::vector<std::string> query(const std::string& path, const std::string& sql,
                               bool quiet = false) {
  sqlite3* db = nullptr;
  std::vector<std::string> rows;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    ADD_FAILURE() << "cannot open " << path;
    return rows;
  }
  sqlite3_stmt* s = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr) != SQLITE_OK && !quiet) {
    ADD_FAILURE() << sql << ": " << sqlite3_errmsg(db);
  }
  while (s && sqlite3_step(s) == SQLITE_ROW) {
    std::string row;
    for (int c = 0; c < sqlite3_column_count(s); ++c) {
      const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(s, c));
      if (c) row += '|';
      row += t ? t : "NULL";
    }
    rows.push_back(row);
  }
  sqlite3_finalize(s);
  sqlite3_close(db);
  return rows;
}

std::string one(const std::string& path, const std::string& sql, bool quiet = false) {
  const auto rows = query(path, sql, quiet);
  return rows.empty() ? "" : rows[0];
}

// Every table's rows in key order: the content of a database.
std::string content(const std::string& path) {
  std::string all;
  const std::pair<const char*, const char*> tables[] = {
      {"settings", "1"}, {"compartment", "1"},       {"scenario", "1"},     {"sweep", "1, 2"},
      {"member", "1"},   {"factor", "1, 2"},         {"outcome", "1"},      {"extinction", "1, 2"},
      {"recorded", "1"}, {"trajectory_row", "1, 2"}, {"summary", "1, 2, 4"}};
  for (const auto& [table, key] : tables) {
    all += std::string("== ") + table + "\n";
    for (const std::string& row :
         query(path, std::string("SELECT * FROM ") + table + " ORDER BY " + key)) {
      all += row + "\n";
    }
  }
  return all;
}

std::vector<std::string> split(const std::string& text, char by) {
  std::vector<std::string> parts;
  std::size_t from = 0;
  for (;;) {
    const std::size_t at = text.find(by, from);
    parts.push_back(text.substr(from, at - from));
    if (at == std::string::npos) return parts;
    from = at + 1;
  }
}

// --- in the process ----------------------------------------------------------

// u = (x >> 11) 2^-53: x = 0 gives the low end of a uniform factor, and
// u1 = 1 a lognormal factor of 1; u1 = 1/2 with u2 = 0 gives z = sqrt(2 ln 2).
TEST(EnsembleFactors, EngineOutputsMapToFactorsByTheStatedFormulas) {
  const std::uint64_t half = 1ULL << 63;  // u = 1/2
  const std::uint64_t top = ~0ULL;        // u = 1 - 2^-53
  EXPECT_EQ(0.8f, uniform_factor(0, 0.2));
  EXPECT_EQ(1.0f, uniform_factor(half, 0.2));
  EXPECT_EQ(static_cast<float>(1 + 0.2 * (1 - 0x1.0p-52)), uniform_factor(top, 0.2));
  EXPECT_EQ(1.0f, lognormal_factor(0, 0, 0.5));
  EXPECT_EQ(static_cast<float>(std::exp(0.5 * std::sqrt(2 * std::log(2.0)))),
            lognormal_factor(half, 0, 0.5));
  // u2 = 1/2: cos(pi) = -1.
  EXPECT_EQ(static_cast<float>(std::exp(-0.5 * std::sqrt(2 * std::log(2.0)))),
            lognormal_factor(half, half, 0.5));

  // Draws: uniform within its bounds with mean 1, lognormal with log mean 0
  // and log deviation sigma; the same seed and draw give the same factors.
  Plan plan;
  plan.names = {"", "a", "b"};
  plan.varies = {
      {"", ecodyn::runner::Kind::biomass, Distribution::uniform, 0.2, {{1, 0}}},
      {"", ecodyn::runner::Kind::exchange, Distribution::lognormal, 0.3, {{1, 2}, {2, 1}}}};
  double sum = 0, log_sum = 0, log_squares = 0;
  const int n = 20000;
  for (int d = 1; d <= n; ++d) {
    const std::vector<Factor> f = draw_factors(plan, d);
    ASSERT_EQ(3u, f.size());
    EXPECT_TRUE(f[0].factor >= 0.8f && f[0].factor <= 1.2f) << f[0].factor;
    EXPECT_EQ(ecodyn::runner::Kind::exchange, f[2].kind);
    EXPECT_EQ(2, f[2].i);
    sum += f[0].factor;
    log_sum += std::log(f[1].factor);
    log_squares += std::log(f[1].factor) * std::log(f[1].factor);
  }
  EXPECT_NEAR(1.0, sum / n, 0.003);
  EXPECT_NEAR(0.0, log_sum / n, 0.006);
  EXPECT_NEAR(0.3, std::sqrt(log_squares / n - (log_sum / n) * (log_sum / n)), 0.006);
  EXPECT_EQ(draw_factors(plan, 7)[1].factor, draw_factors(plan, 7)[1].factor);
  EXPECT_NE(draw_factors(plan, 7)[1].factor, draw_factors(plan, 8)[1].factor);
  const float first = draw_factors(plan, 7)[0].factor;
  plan.seed = 2;
  EXPECT_NE(first, draw_factors(plan, 7)[0].factor);
  plan.seed = (1ULL << 32) + 1;  // the high half of the seed counts too
  EXPECT_NE(first, draw_factors(plan, 7)[0].factor);
}

// Member (s - 1) draws + d; the model type slowest, the last sweep fastest.
TEST(EnsembleMembers, MembersAreNumberedByScenarioThenDraw) {
  Plan plan;
  plan.models = {2, 3};
  plan.draws = 4;
  plan.sweeps.resize(2);
  plan.sweeps[0].where = "biomass:1";
  plan.sweeps[0].value_texts = {"x0.5", "x2"};
  plan.sweeps[0].values = {0.5f, 2.0f};
  plan.sweeps[0].factor = {true, true};
  plan.sweeps[1].where = "export:a";
  plan.sweeps[1].value_texts = {"0.1", "0.2", "0.3"};
  plan.sweeps[1].values = {0.1f, 0.2f, 0.3f};
  plan.sweeps[1].factor = {false, false, false};
  plan.sweeps[1].kind = ecodyn::runner::Kind::export_coefficient;
  EXPECT_EQ(12, plan.scenarios());
  EXPECT_EQ(48, plan.members());
  const struct {
    long long member, scenario, draw;
    std::string label;
  } cases[] = {{1, 1, 1, "model 2, biomass:1=x0.5, export:a=0.1"},
               {4, 1, 4, "model 2, biomass:1=x0.5, export:a=0.1"},
               {5, 2, 1, "model 2, biomass:1=x0.5, export:a=0.2"},
               {13, 4, 1, "model 2, biomass:1=x2, export:a=0.1"},
               {27, 7, 3, "model 3, biomass:1=x0.5, export:a=0.1"},
               {48, 12, 4, "model 3, biomass:1=x2, export:a=0.3"}};
  for (const auto& c : cases) {
    const MemberId id = member_id(plan, c.member);
    EXPECT_EQ(c.scenario, id.scenario) << c.member;
    EXPECT_EQ(c.draw, id.draw) << c.member;
    EXPECT_EQ(c.label, label(plan, id.scenario)) << c.member;
  }
  // The changes: the fixed ones, the sweep values, the factors.
  plan.fixed = {{ecodyn::runner::Kind::input, 2, 0, false, 7.0f}};
  const auto c = changes(plan, member_id(plan, 27), {{ecodyn::runner::Kind::biomass, 1, 0, 1.1f}});
  ASSERT_EQ(4u, c.size());
  EXPECT_EQ(7.0f, c[0].value);
  EXPECT_TRUE(c[1].factor);
  EXPECT_EQ(0.5f, c[1].value);
  EXPECT_EQ(0.1f, c[2].value);
  EXPECT_FALSE(c[2].factor);
  EXPECT_EQ(1.1f, c[3].value);
  ASSERT_EQ(1u, members_to_run(plan).size());
  EXPECT_EQ(1, members_to_run(plan)[0].first);
  EXPECT_EQ(48, members_to_run(plan)[0].last);
}

// R: quantile(1:10, c(.05, .25, .5, .75, .95)) gives 1.45 3.25 5.5 7.75 9.55.
TEST(EnsembleSummary, QuantilesAreRsDefinitionSeven) {
  const struct {
    std::vector<double> x;
    double p, expected;
  } cases[] = {{{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, 0.05, 1.45},
               {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, 0.25, 3.25},
               {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, 0.5, 5.5},
               {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, 0.95, 9.55},
               {{4}, 0.05, 4},
               {{4}, 0.95, 4},
               {{1, 3}, 0.25, 1.5},
               {{1, 3}, 0.95, 2.9},
               {{0, 10, 20, 30, 40}, 0.75, 30},
               {{0, 10, 20, 30, 40}, 0.05, 2}};
  for (const auto& c : cases) {
    const auto at = [&](long long k) { return c.x[static_cast<std::size_t>(k - 1)]; };
    EXPECT_NEAR(c.expected, quantile(at, static_cast<long long>(c.x.size()), c.p), 1e-12)
        << c.x.size() << " values, p " << c.p;
  }
}

TEST(EnsembleMembers, ResilienceIsTheFirstTimeFromWhichEveryRowStaysInside) {
  const std::vector<float> t{0, 1, 2, 3, 4};
  const struct {
    std::vector<bool> inside;
    std::optional<float> expected;
  } cases[] = {{{true, true, true, true, true}, 0.0f},
               {{false, false, true, true, true}, 2.0f},
               {{true, false, true, false, true}, 4.0f},
               {{true, true, true, true, false}, std::nullopt},
               {{false, false, false, false, false}, std::nullopt}};
  for (const auto& c : cases) EXPECT_EQ(c.expected, resilience(t, c.inside));
  // The stored rows: shortest decimals of single precision, null for none.
  const float v[] = {0.1f, 1e-09f, 3.0f, INFINITY};
  EXPECT_EQ("[0.1,3,1e-09,null]", json_array(v, {1, 3, 2, 4}));
}

// A member passes between processes intact, and a message cut short or too
// long is refused.
// A message cut short (a worker that died while writing) is not taken.
TEST(EnsembleMembers, MembersCutShortBetweenProcessesAreRefused) {
  Result r;
  r.id = {9, 3, 2};
  r.rows = {{0, 0.0f, "[1,2]"}, {1, 0.5f, "[1.5,2]"}};
  std::string m;
  encode(r, m);
  EXPECT_EQ("[1.5,2]", decode(std::string_view(m).substr(4)).rows.at(1).biomass);
  EXPECT_THROW(decode(std::string_view(m).substr(4, m.size() - 6)), std::runtime_error);
  EXPECT_THROW(decode(m.substr(4) + "x"), std::runtime_error);
}

// Shards: the text I/N (a list of I for merged parts), every split covering
// each member once, a resumed run skipping the members present, and the
// setting a resume differs in named.
TEST(EnsembleShards, SplitsCoverEveryMemberOnceAndResumesSkipThePresent) {
  const std::pair<std::string, std::string> texts[] = {
      {"1/1", "1/1"}, {"3/4", "3/4"}, {"4/4", "4/4"}, {"0/4", ""},  {"5/4", ""},
      {"1/0", ""},    {"x", ""},      {"1/", ""},     {"/4", ""},   {"1/4x", ""},
      {"-1/4", ""},   {"1,3/4", ""},  {"", ""},       {"1/4/4", ""}};
  for (const auto& [text, back] : texts) {
    SCOPED_TRACE(text);
    if (back.empty()) {
      EXPECT_THROW(parse_shard(text), ScenarioError);
    } else {
      EXPECT_EQ(back, shard_text(parse_shard(text)));
    }
  }
  EXPECT_EQ("1,3/4", shard_text(parse_shard("1,3/4", true)));
  for (const char* bad : {"3,1/4", "1,1/4", "1,5/4", "1,/4"}) {
    EXPECT_THROW(parse_shard(bad, true), ScenarioError) << bad;
  }

  const auto expand = [](const std::vector<Members>& ranges) {
    std::vector<long long> v;
    for (const Members& r : ranges) {
      for (long long k = r.first; k <= r.last; k += r.step) v.push_back(k);
      EXPECT_EQ(r.size(), (r.last - r.first) / r.step + 1);
    }
    return v;
  };
  for (const long long total : {1LL, 7LL, 13LL}) {
    for (long long n = 1; n <= 5; ++n) {
      std::vector<int> seen(static_cast<std::size_t>(total) + 1);
      for (long long i = 1; i <= n; ++i) {
        const Shard shard = parse_shard(std::to_string(i) + "/" + std::to_string(n));
        for (const long long k : expand(members_of_shard(shard, total))) {
          ASSERT_TRUE(k >= 1 && k <= total) << k;
          EXPECT_EQ(i, (k - 1) % n + 1);
          ++seen[static_cast<std::size_t>(k)];
        }
      }
      for (long long k = 1; k <= total; ++k) EXPECT_EQ(1, seen[static_cast<std::size_t>(k)]) << k;
    }
  }
  // Resumed: the members present (of this shard or not) are skipped.
  EXPECT_EQ(std::vector<long long>({8, 14}),
            expand(members_of_shard(parse_shard("2/3"), 15, {1, 2, 5, 6, 11})));
  EXPECT_EQ(std::vector<long long>({2, 8, 14}),
            expand(members_of_shard(parse_shard("2/3"), 15, {1, 5, 6, 11})));
  EXPECT_EQ(std::vector<long long>({4, 5, 6}),
            expand(members_of_shard(parse_shard("1/1"), 6, {1, 2, 3})));
  EXPECT_EQ(std::vector<long long>({}),
            expand(members_of_shard(parse_shard("1/1"), 3, {1, 2, 3})));
  EXPECT_EQ(std::vector<long long>({1, 3}), expand(members_of_shard(parse_shard("1/1"), 3, {2})));

  const Settings made{{"program", "ecodyn-ensemble 0.9"}, {"vary", "biomass:all=uniform:20%"},
                      {"draws", "100"}, {"limits", ""}, {"shard", "1/1"}};
  Settings now = made;
  now[0].second = "ecodyn-ensemble 1.0";
  EXPECT_EQ("", resume_difference(made, now));
  const std::pair<std::pair<std::string, std::string>, std::string> changes[] = {
      {{"draws", "200"}, "the database was made with --draws 100, not --draws 200"},
      {{"shard", "2/4"}, "the database was made with --shard 1/1, not --shard 2/4"},
      {{"limits", "0.5,2"}, "the database was made with no --limits, not --limits 0.5,2"},
      {{"vary", "biomass:all=uniform:20%\ninput:1=lognormal:0.1"},
       "the database was made with --vary \"biomass:all=uniform:20%\", not --vary "
       "\"biomass:all=uniform:20%\" --vary \"input:1=lognormal:0.1\""}};
  for (const auto& [change, message] : changes) {
    Settings changed = made;
    for (auto& [k, v] : changed) {
      if (k == change.first) v = change.second;
    }
    EXPECT_EQ(message, resume_difference(made, changed));
  }
  // The first that differs is named.
  Settings two = made;
  two[1].second = "biomass:all=uniform:10%";
  two[2].second = "5";
  EXPECT_THAT(resume_difference(made, two), HasSubstr("--vary \"biomass:all=uniform:20%\""));
  Settings more = made;
  more.emplace_back("within", "0.1");
  EXPECT_EQ("the database has no setting within", resume_difference(made, more));
}

// --- the program ---------------------------------------------------------------

// The trajectory of each member equals the snapshots ecodyn writes when it
// runs the command `member` prints, with a snapshot at every print interval:
// every model type, sweeps of a coefficient and draws of biomasses and flows.
TEST(EnsembleRun, MembersEqualTheSnapshotsOfTheCommandsThatRerunThem) {
  ScratchDir dir;
  write_file("lake.net", read_file(lake));
  const RunResult r =
      ensemble(dir.path(),
               "lake.net -o ens.sqlite --model 1,2,3 --end 1 --print 0.1 --record all "
               "--sweep 'export:3=x0.5,x2' --vary 'biomass:all=uniform:20%' "
               "--vary 'exchange:living=lognormal:0.1' --draws 2 --seed 7");
  ASSERT_EQ(0, r.status) << r.err;
  EXPECT_EQ("12 members of 6 scenarios, 12 accepted, in ens.sqlite\n", r.out);
  EXPECT_EQ("9", one("ens.sqlite", "SELECT count(*) FROM extinction WHERE member = 1"));
  const std::string bin = fs::path(ECODYN_RUN_BINARY).parent_path().string();
  for (const int k : {1, 4, 6, 7, 10, 12}) {
    SCOPED_TRACE("member " + std::to_string(k));
    const RunResult m = ensemble(dir.path(), "member ens.sqlite " + std::to_string(k));
    ASSERT_EQ(0, m.status) << m.err;
    const std::string command = m.out.substr(0, m.out.find('\n'));
    ASSERT_EQ(0u, command.find("ecodyn-run lake.net --index 1 --model "));
    EXPECT_NE(std::string::npos, m.out.find("\n# N\n# 1 2 3 4 5 6 7\n"));
    const std::string d = "m" + std::to_string(k);
    const auto [status, err] = shell(
        dir.path(), "'" + bin + "/'" + command + " --snapshot 0.1 --dir " + d + " && '" +
                        ECODYN_CSV_BINARY + "' --snapshots " + d + "/fort.18 -o " + d + ".csv");
    ASSERT_EQ(0, status) << err;
    std::vector<std::string> snapshots = split(read_file(d + ".csv"), '\n');
    snapshots.erase(snapshots.begin());  // the head
    while (!snapshots.empty() && snapshots.back().empty()) snapshots.pop_back();
    const auto rows = query("ens.sqlite", "SELECT biomass FROM trajectory_row WHERE member = " +
                                              std::to_string(k) + " ORDER BY step");
    ASSERT_EQ(11u, rows.size());
    ASSERT_EQ(rows.size(), snapshots.size());
    for (std::size_t s = 0; s < rows.size(); ++s) {
      const std::vector<std::string> stored = split(rows[s].substr(1, rows[s].size() - 2), ',');
      std::vector<std::string> written = split(snapshots[s], ',');
      written.erase(written.begin(), written.begin() + 3);  // cycle, snapshot, time
      ASSERT_EQ(74u, stored.size());
      ASSERT_EQ(stored.size(), written.size());
      for (std::size_t c = 0; c < stored.size(); ++c) {
        char seven[32];
        std::snprintf(seven, sizeof seven, "%.6e",
                      static_cast<double>(std::strtof(stored[c].c_str(), nullptr)));
        EXPECT_EQ(std::strtof(written[c].c_str(), nullptr), std::strtof(seven, nullptr))
            << "row " << s << ", compartment " << c + 1 << ": " << stored[c] << " " << written[c];
      }
    }
  }
  // Draw d has the same factors in every scenario.
  EXPECT_EQ(query("ens.sqlite",
                  "SELECT position, kind, origin, destination, factor FROM factor "
                  "WHERE member = 2 ORDER BY position"),
            query("ens.sqlite",
                  "SELECT position, kind, origin, destination, factor FROM factor "
                  "WHERE member = 12 ORDER BY position"));
  EXPECT_EQ("6|model 3, export:3=x2", one("ens.sqlite",
                                          "SELECT scenario, label FROM scenario "
                                          "WHERE scenario = 6"));
}

// Members that stop, lose a compartment or leave the limits, judged by the
// acceptance rules; resilience against the stored trajectory; a run of more
// than 10000 print intervals accepted.
TEST(EnsembleRun, OutcomesAreJudgedByTheAcceptanceRules) {
  ScratchDir dir;
  const std::string base = "'" + grazing +
                           "' --model 1,2 --end 2 --print 0.25 --record all "
                           "--sweep 'respiration:3=x1,x50' --sweep 'biomass:2=x1,0' -o ";
  const struct {
    std::string options;
    std::vector<std::string> rejections;  // of members 1 to 8
  } cases[] = {
      {"", {"NULL", "error stop", "NULL", "error stop", "NULL", "NULL", "NULL", "NULL"}},
      {"--reject-extinction",
       {"NULL", "error stop", "extinction", "error stop", "NULL", "NULL", "NULL", "NULL"}},
      {"--limits 0.5,2",
       {"NULL", "error stop", "limits", "error stop", "NULL", "limits", "limits", "limits"}},
      {"--reject-extinction --limits 0,1e30",
       {"NULL", "error stop", "extinction", "error stop", "NULL", "NULL", "NULL", "NULL"}},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options);
    const std::string db = "g" + std::to_string(++n) + ".sqlite";
    const RunResult r = ensemble(dir.path(), base + db + " " + c.options);
    ASSERT_EQ(0, r.status) << r.err;
    const auto rows = query(db, "SELECT rejection FROM outcome ORDER BY member");
    EXPECT_EQ(c.rejections, rows);
    EXPECT_EQ(std::to_string(std::count(c.rejections.begin(), c.rejections.end(), "NULL")),
              one(db, "SELECT count(*) FROM outcome WHERE accepted"));
  }
  // Type 1 without grazers stops at once; the predators starve under type 1.
  EXPECT_EQ((std::vector<std::string>{"2|error stop|1|BIOMASS DRIVEN NEGATIVE.|0.0|NULL|0|1",
                                      "3|end|0|NULL|2.0|NULL|1|9"}),
            query("g1.sqlite",
                  "SELECT o.member, ending, status, message, end_time, resilience, "
                  "extinctions, (SELECT count(*) FROM trajectory_row AS r WHERE "
                  "r.member = o.member) FROM outcome AS o WHERE member IN (2, 3)"));
  EXPECT_EQ("3|3", one("g1.sqlite", "SELECT member, compartment FROM extinction"));

  // Resilience: twice the plants, settling back under type 2; worked out
  // here from the stored trajectory.
  const RunResult r =
      ensemble(dir.path(), "'" + examples_dir +
                               "two_compartments.net' -o two.sqlite "
                               "--end 20 --print 0.5 --perturb biomass:1=x2 --within 0.05");
  ASSERT_EQ(0, r.status) << r.err;
  const auto rows =
      query("two.sqlite",
            "SELECT t.step, t.time, max(abs(t.biomass - c.biomass) > 0.05 * c.biomass) "
            "FROM trajectory AS t JOIN compartment AS c USING (compartment) "
            "GROUP BY t.step ORDER BY t.step");
  ASSERT_EQ(41u, rows.size());
  std::string expected = "NULL";
  for (auto row = rows.rbegin(); row != rows.rend() && split(*row, '|')[2] == "0"; ++row) {
    expected = split(*row, '|')[1];
  }
  ASSERT_NE("NULL", expected);
  ASSERT_NE("0.0", expected);
  EXPECT_EQ(expected, one("two.sqlite", "SELECT resilience FROM outcome"));

  // The interval limit: accepted, ending at its 10000th interval.
  const RunResult limit =
      ensemble(dir.path(), "'" + examples_dir +
                               "two_compartments.net' "
                               "-o limit.sqlite --end 20000 --print 1 --record none");
  ASSERT_EQ(0, limit.status) << limit.err;
  EXPECT_EQ("interval limit|0|10000.0|1|0.0", one("limit.sqlite",
                                                  "SELECT ending, status, end_time, "
                                                  "accepted, resilience FROM outcome"));
  EXPECT_EQ("0|0", one("limit.sqlite",
                       "SELECT (SELECT count(*) FROM trajectory_row), "
                       "(SELECT count(*) FROM summary)"));
}

// The database holds the same content for one worker and for two, and the
// summary equals a computation from the trajectory view by the stated
// definition (and the summary of the rows a range at a time, or sorted by
// SQLite, is the same).
TEST(EnsembleRun, ContentIsTheSameForAnyJobsAndTheSummaryFollowsItsDefinition) {
  ScratchDir dir;
  const std::string options =
      "'" + grazing +
      "' --model 2,3 --end 2 --print 0.5 --record all "
      "--vary 'biomass:all=uniform:30%' --vary 'exchange:all=lognormal:0.3' "
      "--draws 25 --limits 0.5,1.6 --csv out";
  for (const char* jobs : {"1", "2"}) {
    const RunResult r =
        ensemble(dir.path(), options + jobs + " -o j" + jobs + ".sqlite --jobs " + jobs);
    ASSERT_EQ(0, r.status) << r.err;
  }
  const std::string c1 = content("j1.sqlite");
  EXPECT_EQ(c1, content("j2.sqlite"));
  const std::string accepted = one("j1.sqlite", "SELECT count(*) FROM outcome WHERE accepted");
  EXPECT_LT(std::stoi(accepted), 50);  // some are rejected
  EXPECT_GT(std::stoi(accepted), 10);

  // The summary from the view.
  std::map<std::string, std::vector<double>> groups;
  for (const std::string& row :
       query("j1.sqlite",
             "SELECT m.scenario, t.step, t.compartment, t.biomass FROM trajectory AS t "
             "JOIN member AS m USING (member) JOIN outcome AS o USING (member) "
             "WHERE o.accepted")) {
    const auto f = split(row, '|');
    groups[f[0] + "|" + f[1] + "|" + f[2]].push_back(std::stod(f[3]));
  }
  const auto summary = query("j1.sqlite",
                             "SELECT scenario, step, compartment, members, mean, q05, "
                             "q25, q50, q75, q95 FROM summary");
  ASSERT_EQ(groups.size(), summary.size());
  ASSERT_EQ(2u * 5 * 4, summary.size());
  sqlite3* db = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open_v2("j1.sqlite", &db, SQLITE_OPEN_READONLY, nullptr));
  for (const std::string& row : summary) {
    const auto f = split(row, '|');
    std::vector<double> x = groups[f[0] + "|" + f[1] + "|" + f[2]];
    std::sort(x.begin(), x.end());
    const auto n = static_cast<double>(x.size());
    ASSERT_EQ(std::to_string(x.size()), f[3]);
    double sum = 0;
    for (const double v : x) sum += v;
    std::vector<double> expected{sum / n};
    for (const double p : {0.05, 0.25, 0.5, 0.75, 0.95}) {
      const double h = (n - 1) * p + 1;
      const auto k = static_cast<std::size_t>(std::floor(h));
      expected.push_back(k >= x.size() ? x.back() : x[k - 1] + (h - k) * (x[k] - x[k - 1]));
    }
    // Compared at full double precision, through SQLite's own reading.
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db,
                       ("SELECT mean, q05, q25, q50, q75, q95 FROM summary WHERE scenario = " +
                        f[0] + " AND step = " + f[1] + " AND compartment = " + f[2])
                           .c_str(),
                       -1, &s, nullptr);
    ASSERT_EQ(SQLITE_ROW, sqlite3_step(s));
    for (int c = 0; c < 6; ++c)
      EXPECT_EQ(expected[static_cast<std::size_t>(c)], sqlite3_column_double(s, c)) << row;
    sqlite3_finalize(s);
  }
  sqlite3_close(db);

  // In bounded memory: a step range at a time, and SQLite's sort when one
  // step's values exceed the bound.
  for (const std::size_t budget : {200u, 40u}) {
    SCOPED_TRACE(budget);
    fs::copy_file("j1.sqlite", "small.sqlite", fs::copy_options::overwrite_existing);
    Database small = Database::open("small.sqlite", true);
    small.summarize(budget);
    // In two parts, each of its share of the ranges: every row once.
    std::map<std::string, int> rows;
    for (int part = 0; part < 2; ++part) {
      small.compute_summary(
          [&](const SummaryRow& r) {
            ++rows[std::to_string(r.scenario) + "|" + std::to_string(r.step) + "|" +
                   std::to_string(r.compartment) + "|" + std::to_string(r.q[2])];
          },
          budget / 2, part, 2);
    }
    small.close();
    EXPECT_EQ(query("j1.sqlite", "SELECT * FROM summary ORDER BY 1, 2, 4"),
              query("small.sqlite", "SELECT * FROM summary ORDER BY 1, 2, 4"));
    ASSERT_EQ(summary.size(), rows.size());
    for (const auto& [key, n] : rows) EXPECT_EQ(1, n) << key;
  }

  // The CSV files: the summary, and the outcomes with their scenarios.
  const std::vector<std::string> outcomes = split(read_file("out1/outcomes.csv"), '\n');
  EXPECT_EQ(
      "member,scenario,model,label,draw,ending,status,message,end_time,accepted,rejection,"
      "resilience,extinctions\r",
      outcomes.at(0));
  EXPECT_EQ(52u, outcomes.size());
  EXPECT_THAT(outcomes.at(26), StartsWith("26,2,3,model 3,1,end,0,,2,"));
  const std::vector<std::string> csv = split(read_file("out1/summary.csv"), '\n');
  EXPECT_EQ("scenario,step,time,compartment,members,mean,q05,q25,q50,q75,q95\r", csv.at(0));
  EXPECT_EQ(summary.size() + 2, csv.size());
  EXPECT_THAT(csv.at(1), StartsWith("1,0,0,1," +
                                    one("j1.sqlite",
                                        "SELECT members FROM summary "
                                        "WHERE scenario = 1 AND step = 0 "
                                        "AND compartment = 1") +
                                    ","));
}

// Returns the members of a database that are not whole: without an
// outcome, or with fewer rows than its steps.
std::vector<std::string> partial_members(const std::string& db, int steps) {
  return query(db,
               "SELECT m.member FROM member AS m LEFT JOIN outcome AS o USING (member) "
               "WHERE o.member IS NULL OR (SELECT count(*) FROM trajectory_row AS r "
               "WHERE r.member = m.member) != " +
                   std::to_string(steps) +
                   " OR (SELECT count(*) FROM factor AS f WHERE f.member = m.member) != 74");
}

// A signal in the middle of a run, or a disk that fills, leaves a valid
// database holding whole members only (of 42 rows: 0 to 2 by 0.05 in single
// precision falls short of 2 after 40 intervals).
TEST(EnsembleRun, AnInterruptedRunLeavesWholeMembers) {
  ScratchDir dir;
  const std::string options = "'" + lake +
                              "' --end 2 --print 0.05 --record all --draws 5000 "
                              "--vary 'biomass:all=uniform:20%' --jobs 2 -o ";
  for (const int sig : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(sig);
    const std::string db = "s" + std::to_string(sig) + ".sqlite";
    const pid_t pid = fork();
    if (pid == 0) {
      execl("/bin/sh", "sh", "-c",
            ("exec '" + ensemble_program + "' " + options + db + " >/dev/null 2>&1").c_str(),
            static_cast<char*>(nullptr));
      _exit(127);
    }
    // Signalled once some members are in.
    for (int wait = 0; wait < 3000; ++wait) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      if (fs::exists(db) && fs::file_size(db) > 0) {
        const std::string n = one(db, "SELECT count(*) FROM member", true);
        if (!n.empty() && std::stoi(n) >= 10) break;
      }
    }
    kill(pid, sig);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << status;
    EXPECT_EQ(sig, WTERMSIG(status));
    EXPECT_EQ("ok", one(db, "PRAGMA integrity_check"));
    EXPECT_FALSE(fs::exists(db + "-wal"));
    const int members = std::stoi(one(db, "SELECT count(*) FROM member"));
    EXPECT_GE(members, 10);
    EXPECT_LT(members, 5000);
    EXPECT_EQ(std::vector<std::string>{}, partial_members(db, 42));
    EXPECT_EQ(one(db, "SELECT count(*) FROM member"), one(db, "SELECT count(*) FROM outcome"));
    EXPECT_EQ("0", one(db, "SELECT count(*) FROM summary"));
  }

  // Killed outright, with no chance to tidy: the members committed while
  // it ran (a tenth of a second or so after each came, ten slow members
  // being fewer than a transaction holds at most), each whole.
  {
    const pid_t pid = fork();
    if (pid == 0) {
      execl(ensemble_program.c_str(), ensemble_program.c_str(), lake.c_str(), "--end", "600",
            "--print", "5", "--record", "none", "--draws", "10", "--jobs", "1", "-o",
            "killed.sqlite", static_cast<char*>(nullptr));
      _exit(127);
    }
    std::string seen;
    for (int wait = 0; wait < 60000 && (seen.empty() || seen == "0"); ++wait) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      if (fs::exists("killed.sqlite") && fs::file_size("killed.sqlite") > 0) {
        seen = one("killed.sqlite", "SELECT count(*) FROM member", true);
      }
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    EXPECT_LT(std::stoi(seen), 10);
    EXPECT_EQ("ok", one("killed.sqlite", "PRAGMA integrity_check"));
    EXPECT_EQ(one("killed.sqlite", "SELECT count(*) FROM member"),
              one("killed.sqlite", "SELECT count(*) FROM outcome"));
  }

  // A disk that fills (a file size limit): the file and the reason named,
  // status 2, and the members before it whole.
  const auto [status, err] = shell(
      dir.path(), "ulimit -f 8192; exec '" + ensemble_program + "' " + options + "full.sqlite");
  EXPECT_EQ(2, status);
  EXPECT_THAT(err, HasSubstr("ecodyn-ensemble: cannot write full.sqlite: "));
  EXPECT_EQ("ok", one("full.sqlite", "PRAGMA integrity_check"));
  EXPECT_EQ(std::vector<std::string>{}, partial_members("full.sqlite", 42));
  EXPECT_GE(std::stoi(one("full.sqlite", "SELECT count(*) FROM member")), 1);
}

// Each refusal: its message, status 2, before any work: no database made,
// an existing one untouched.
TEST(EnsembleRun, BadInputIsRefusedBeforeAnyWork) {
  ScratchDir dir;
  write_file("old.sqlite", "keep me");
  write_file("bad.net", "TITLE\n  2  1\nA\n");
  const std::string net = "'" + grazing + "' --end 1 ";
  const std::pair<std::string, std::string> cases[] = {
      {net + "--vary 'carbon:all=uniform:10%'",
       "--vary \"carbon:all=uniform:10%\": unknown kind 'carbon'"},
      {net + "--vary 'biomass:oak=uniform:10%'", "no compartment is named 'oak'"},
      {net + "--vary 'biomass:all=uniform:-5%'", "must be from 0% to less than 100%, not '-5%'"},
      {net + "--vary 'biomass:all=uniform:100%'", "must be from 0% to less than 100%, not '100%'"},
      {net + "--vary 'biomass:all=uniform:20'", "is a percentage, e.g. uniform:20%"},
      {net + "--vary 'biomass:all=lognormal:0'",
       "the sigma of a lognormal factor must be a number "
       "above 0, not '0'"},
      {net + "--vary 'biomass:all=lognormal:inf'", "not 'inf'"},
      {net + "--vary 'biomass:all=normal:1'", "unknown distribution 'normal'"},
      {net + "--vary 'exchange:1=uniform:10%'", "there is no flow among these compartments"},
      {net + "--sweep 'biomass:5=1,2'", "--sweep \"biomass:5=1,2\": compartment 5 is out of range"},
      {net + "--sweep 'biomass:1=1,-2'",
       "--sweep \"biomass:1=1,-2\": '-2' is not a value of 0 or more"},
      {net + "--sweep 'export:1=x1e30,1' --perturb export:1=1e10", "is beyond single precision"},
      {net + "--perturb 'respiration:ants=2'", "--perturb \"respiration:ants=2\": no compartment"},
      {net + "--draws 0", "--draws must be 1 or more"},
      {net + "--record some", "--record must be all, followed or none, not 'some'"},
      {net + "--limits 2,1", "--limits '2,1': expected LOW,HIGH"},
      {net + "--within 0", "--within '0': expected a fraction above 0"},
      {net + "--follow 1,2", "--follow: the network has 4 compartments"},
      {net + "--start 2", "--end 1 must be greater than the start time, 2"},
      {net + "--model 4", "model types are 1, 2 and 3"},
      {"missing.net --end 1", "cannot read missing.net: No such file or directory"},
      {"bad.net --end 1",
       "ecodyn-ensemble: bad.net, line 4: the file ends where the name record is "
       "due\n"},
      {"'" + examples_dir + "grazing_chain.answers' --end 1", "ecodyn refuses the network: "},
  };
  for (const auto& [args, message] : cases) {
    SCOPED_TRACE(args);
    for (const char* output : {"new.sqlite", "old.sqlite --force"}) {
      const RunResult r = ensemble(dir.path(), args + " -o " + output);
      EXPECT_EQ(2, r.status);
      EXPECT_THAT(r.err, HasSubstr(message));
      EXPECT_FALSE(file_exists("new.sqlite"));
      EXPECT_EQ("keep me", read_file("old.sqlite"));
    }
  }
  // The record layer's message alone.
  EXPECT_EQ("ecodyn-ensemble: bad.net, line 4: the file ends where the name record is due\n",
            ensemble(dir.path(), "bad.net --end 1 -o new.sqlite").err);
  // An existing database without --force; the network as the output.
  RunResult r = ensemble(dir.path(), net + "-o old.sqlite");
  EXPECT_EQ(2, r.status);
  EXPECT_EQ("ecodyn-ensemble: old.sqlite exists (--force replaces it)\n", r.err);
  EXPECT_EQ("keep me", read_file("old.sqlite"));
  write_file("net.net", read_file(grazing));
  r = ensemble(dir.path(), "net.net --end 1 --force -o net.net");
  EXPECT_EQ(2, r.status);
  EXPECT_THAT(r.err, HasSubstr("it is the input"));
  EXPECT_EQ(read_file(grazing), read_file("net.net"));
  // An output in a directory that is not there: nothing made, not even the
  // directory of --csv.
  r = ensemble(dir.path(), net + "-o no/such.sqlite --csv tables");
  EXPECT_EQ(2, r.status);
  EXPECT_THAT(r.err, HasSubstr("cannot write no/such.sqlite"));
  EXPECT_FALSE(file_exists("tables"));
  // member: not a database, a member out of range, a network changed since.
  r = ensemble(dir.path(), "member old.sqlite 1");
  EXPECT_EQ(2, r.status);
  EXPECT_EQ("ecodyn-ensemble: cannot read old.sqlite: file is not a database\n", r.err);
  ASSERT_EQ(0, ensemble(dir.path(), "net.net --end 1 -o e.sqlite --draws 2").status);
  r = ensemble(dir.path(), "member e.sqlite 3");
  EXPECT_EQ(2, r.status);
  EXPECT_EQ("ecodyn-ensemble: member 3: the ensemble has members 1 to 2\n", r.err);
  write_file("net.net", read_file(grazing) + "\n");
  r = ensemble(dir.path(), "member e.sqlite 1");
  EXPECT_EQ(2, r.status);
  EXPECT_THAT(r.err, HasSubstr("net.net has changed since the ensemble was run"));
}

// --- shards, merge and resume --------------------------------------------------

std::string replaced(std::string text, const std::string& what, const std::string& by) {
  return text.replace(text.find(what), what.size(), by);
}

// The options of a small ensemble of two scenarios with some members
// rejected, for the shards, merges and resumes.
std::string small_ensemble() {
  return "'" + grazing +
         "' --model 2,3 --end 2 --print 0.25 --record all --vary 'biomass:all=uniform:30%' "
         "--vary 'exchange:all=lognormal:0.3' --draws 9 --limits 0.5,1.6 --jobs 2 ";
}

// Shards 1/4 to 4/4 merged, 1/3 to 3/3 merged in another order, and a merge
// of merges all equal a single run, table by table with the summary.
TEST(EnsembleShards, MergedShardsEqualASingleRun) {
  ScratchDir dir;
  ASSERT_EQ(0, ensemble(dir.path(), small_ensemble() + "-o single.sqlite").status);
  const std::string single = content("single.sqlite");
  ASSERT_THAT(single, HasSubstr("== summary\n1|0|"));
  for (const int n : {3, 4}) {
    for (int i = 1; i <= n; ++i) {
      const std::string part = std::to_string(i) + "of" + std::to_string(n) + ".sqlite";
      const RunResult r = ensemble(dir.path(), small_ensemble() + "--shard " + std::to_string(i) +
                                                   "/" + std::to_string(n) + " -o " + part);
      ASSERT_EQ(0, r.status) << r.err;
      // A shard is a valid small ensemble: its own members, summarized.
      EXPECT_EQ(std::to_string(i) + "/" + std::to_string(n),
                one(part, "SELECT value FROM settings WHERE key = 'shard'"));
      EXPECT_EQ("0", one(part, "SELECT count(*) FROM member WHERE (member - 1) % " +
                                   std::to_string(n) + " != " + std::to_string(i - 1)));
      EXPECT_NE("0", one(part, "SELECT count(*) FROM summary"));
    }
  }
  RunResult r = ensemble(dir.path(), "merge -o four.sqlite 1of4.sqlite 2of4.sqlite 3of4.sqlite "
                                     "4of4.sqlite");
  ASSERT_EQ(0, r.status) << r.err;
  EXPECT_EQ("18 members (shard 1/1), 162 trajectory rows, in four.sqlite\n", r.out);
  EXPECT_EQ(single, content("four.sqlite"));
  ASSERT_EQ(0, ensemble(dir.path(), "merge -o three.sqlite 3of3.sqlite 1of3.sqlite 2of3.sqlite")
                   .status);
  EXPECT_EQ(single, content("three.sqlite"));
  EXPECT_EQ("ok", one("three.sqlite", "PRAGMA integrity_check"));
  EXPECT_EQ("delete", one("three.sqlite", "PRAGMA journal_mode"));
  // Merges of merges: 1 and 3 of 4 into a part, then with the others.
  r = ensemble(dir.path(), "merge --partial -o odd.sqlite 3of4.sqlite 1of4.sqlite");
  ASSERT_EQ(0, r.status) << r.err;
  EXPECT_EQ("1,3/4", one("odd.sqlite", "SELECT value FROM settings WHERE key = 'shard'"));
  EXPECT_EQ("9", one("odd.sqlite", "SELECT count(*) FROM member"));
  ASSERT_EQ(0, ensemble(dir.path(), "merge --partial -o even.sqlite 2of4.sqlite 4of4.sqlite")
                   .status);
  ASSERT_EQ(0, ensemble(dir.path(), "merge -o again.sqlite even.sqlite odd.sqlite").status);
  EXPECT_EQ(single, content("again.sqlite"));
  // A whole database merged alone is itself.
  ASSERT_EQ(0, ensemble(dir.path(), "merge -o copy.sqlite single.sqlite").status);
  EXPECT_EQ(single, content("copy.sqlite"));
}

// A run stopped after its first member, mid-way, and after its last before
// the summary, then resumed (once more when whole), equals the uninterrupted
// run; so does a shard stopped and resumed.
TEST(EnsembleShards, AnInterruptedRunResumedEqualsTheUninterrupted) {
  ScratchDir dir;
  ASSERT_EQ(0, ensemble(dir.path(), small_ensemble() + "-o single.sqlite").status);
  const std::string single = content("single.sqlite");
  for (const char* after : {"1", "9", "18"}) {
    SCOPED_TRACE(after);
    setenv("ECODYN_ENSEMBLE_STOP_AFTER", after, 1);
    RunResult r = ensemble(dir.path(), small_ensemble() + "-o stopped.sqlite --force");
    unsetenv("ECODYN_ENSEMBLE_STOP_AFTER");
    EXPECT_EQ(-1, r.status);  // ended by SIGTERM
    EXPECT_EQ(after, one("stopped.sqlite", "SELECT count(*) FROM member"));
    EXPECT_EQ("0", one("stopped.sqlite", "SELECT count(*) FROM summary"));
    r = ensemble(dir.path(), small_ensemble() + "--resume -o stopped.sqlite");
    ASSERT_EQ(0, r.status) << r.err;
    EXPECT_THAT(r.out, HasSubstr("18 members of 2 scenarios"));
    EXPECT_EQ(single, content("stopped.sqlite"));
  }
  ASSERT_EQ(0, ensemble(dir.path(), small_ensemble() + "--resume -o stopped.sqlite").status);
  EXPECT_EQ(single, content("stopped.sqlite"));

  ASSERT_EQ(0, ensemble(dir.path(), small_ensemble() + "--shard 2/3 -o whole2.sqlite").status);
  setenv("ECODYN_ENSEMBLE_STOP_AFTER", "2", 1);
  ensemble(dir.path(), small_ensemble() + "--shard 2/3 -o part2.sqlite");
  unsetenv("ECODYN_ENSEMBLE_STOP_AFTER");
  EXPECT_EQ("2", one("part2.sqlite", "SELECT count(*) FROM member"));
  ASSERT_EQ(0, ensemble(dir.path(), small_ensemble() + "--shard 2/3 --resume -o part2.sqlite")
                   .status);
  EXPECT_EQ(content("whole2.sqlite"), content("part2.sqlite"));
}

// Parts that do not make one ensemble, shards out of range and resumes of
// another ensemble are refused, naming what is wrong; nothing is written.
TEST(EnsembleShards, PartsOfNoOneEnsembleAndBadShardsAreRefused) {
  ScratchDir dir;
  for (int i = 1; i <= 3; ++i) {
    ASSERT_EQ(0, ensemble(dir.path(), small_ensemble() + "--shard " + std::to_string(i) +
                                          "/3 -o p" + std::to_string(i) + ".sqlite")
                     .status);
  }
  ASSERT_EQ(0, ensemble(dir.path(), small_ensemble() + "--seed 2 --shard 3/3 -o other.sqlite")
                   .status);
  write_file("old.sqlite", "keep me");
  fs::create_directory("tables");
  write_file("tables/summary.csv", "keep me");
  const std::string parts = read_file("p1.sqlite") + read_file("p2.sqlite");
  const std::pair<std::string, std::string> cases[] = {
      {"merge -o all.sqlite p1.sqlite p2.sqlite other.sqlite",
       "other.sqlite is not a part of the ensemble of p1.sqlite: --seed 2, not --seed 1"},
      {"merge -o all.sqlite p1.sqlite p2.sqlite p3.sqlite p2.sqlite",
       "member 2 is in both p2.sqlite and p2.sqlite"},
      {"merge -o all.sqlite p1.sqlite p3.sqlite",
       "6 members are missing: 2, 5, 8, 11, 14, 17 (of shard 2/3; --partial merges some "
       "shards)"},
      {"merge -o all.sqlite p1.sqlite old.sqlite", "cannot read old.sqlite: file is not a database"},
      {"merge -o old.sqlite p1.sqlite p2.sqlite p3.sqlite", "old.sqlite exists (--force replaces it)"},
      {"merge --force -o p2.sqlite p1.sqlite p2.sqlite p3.sqlite", "it is the input"},
      {small_ensemble() + "--shard 0/4 -o all.sqlite", "--shard 0/4: not I/N with 1 <= I <= N"},
      {small_ensemble() + "--shard 5/4 -o all.sqlite", "--shard 5/4: not I/N"},
      {small_ensemble() + "--shard 1/0 -o all.sqlite", "--shard 1/0: not I/N"},
      {small_ensemble() + "--shard one/4 -o all.sqlite", "--shard one/4: not I/N"},
      {small_ensemble() + "--resume -o all.sqlite", "--resume: all.sqlite does not exist"},
      {replaced(small_ensemble(), "--draws 9", "--draws 10") + "--shard 2/3 --resume -o p2.sqlite",
       "--resume: the database was made with --draws 9, not --draws 10"},
      {small_ensemble() + "--resume -o p2.sqlite",
       "--resume: the database was made with --shard 2/3, not --shard 1/1"},
      {small_ensemble() + "--shard 2/3 --resume -o old.sqlite", "old.sqlite: file is not a database"},
      {small_ensemble() + "--shard 2/3 --resume --csv tables -o p2.sqlite",
       "tables/summary.csv exists (--force replaces it)"},
      {small_ensemble() + "--shard 2/3 --resume --force -o p2.sqlite", "--force excludes --resume"},
  };
  for (const auto& [args, message] : cases) {
    SCOPED_TRACE(args);
    const RunResult r = ensemble(dir.path(), args);
    EXPECT_EQ(2, r.status);
    EXPECT_THAT(r.err, HasSubstr(message));
    EXPECT_FALSE(file_exists("all.sqlite"));
    EXPECT_EQ("keep me", read_file("old.sqlite"));
    EXPECT_EQ(parts, read_file("p1.sqlite") + read_file("p2.sqlite"));
    EXPECT_EQ("keep me", read_file("tables/summary.csv"));
  }
  // Parts of different splits merge whole, not partially.
  ASSERT_EQ(0, ensemble(dir.path(), small_ensemble() + "--shard 1/2 -o half.sqlite").status);
  ASSERT_EQ(0, ensemble(dir.path(), small_ensemble() + "--shard 2/4 -o quarter.sqlite").status);
  RunResult r = ensemble(dir.path(), "merge --partial -o all.sqlite half.sqlite quarter.sqlite");
  EXPECT_EQ(2, r.status);
  EXPECT_THAT(r.err, HasSubstr("parts of different splits are merged whole only"));
  EXPECT_FALSE(file_exists("all.sqlite"));
  // Nothing half-written is left beside the output.
  std::size_t files = 0;
  for (const auto& f : fs::directory_iterator(dir.path())) files += f.is_regular_file();
  EXPECT_EQ(7u, files);
}

}  // namespace
