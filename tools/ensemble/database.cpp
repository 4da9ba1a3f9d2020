#include "database.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <set>
#include <span>

#include "csv/csv.h"

namespace ecodyn::ensemble {
namespace {

using runner::exact_text;

// How long a connection waits for another that holds the database.
constexpr int busy_wait_ms = 60'000;

constexpr const char* schema = R"(
PRAGMA application_id = 1162036313;
PRAGMA user_version = 1;
CREATE TABLE settings(key TEXT PRIMARY KEY, value TEXT NOT NULL) WITHOUT ROWID;
CREATE TABLE compartment(compartment INTEGER PRIMARY KEY, name TEXT NOT NULL,
                         living INTEGER NOT NULL, biomass REAL NOT NULL);
CREATE TABLE scenario(scenario INTEGER PRIMARY KEY, model INTEGER NOT NULL, label TEXT NOT NULL);
CREATE TABLE sweep(scenario INTEGER NOT NULL, sweep INTEGER NOT NULL, kind TEXT NOT NULL,
                   origin INTEGER NOT NULL, destination INTEGER NOT NULL, factor INTEGER NOT NULL,
                   value REAL NOT NULL, PRIMARY KEY(scenario, sweep)) WITHOUT ROWID;
CREATE TABLE member(member INTEGER PRIMARY KEY, scenario INTEGER NOT NULL, draw INTEGER NOT NULL);
CREATE TABLE factor(member INTEGER NOT NULL, position INTEGER NOT NULL, kind TEXT NOT NULL,
                    origin INTEGER NOT NULL, destination INTEGER NOT NULL, factor REAL NOT NULL,
                    PRIMARY KEY(member, position)) WITHOUT ROWID;
CREATE TABLE outcome(member INTEGER PRIMARY KEY, ending TEXT NOT NULL, status INTEGER NOT NULL,
                     message TEXT, end_time REAL NOT NULL, accepted INTEGER NOT NULL,
                     rejection TEXT, resilience REAL, extinctions INTEGER NOT NULL);
CREATE TABLE extinction(member INTEGER NOT NULL, compartment INTEGER NOT NULL, time REAL NOT NULL,
                        PRIMARY KEY(member, compartment)) WITHOUT ROWID;
CREATE TABLE recorded(position INTEGER PRIMARY KEY, compartment INTEGER NOT NULL);
CREATE TABLE trajectory_row(member INTEGER NOT NULL, step INTEGER NOT NULL, time REAL NOT NULL,
                            biomass TEXT NOT NULL, PRIMARY KEY(member, step)) WITHOUT ROWID;
CREATE VIEW trajectory(member, step, time, compartment, biomass) AS
  SELECT r.member, r.step, r.time, c.compartment, j.value
  FROM trajectory_row AS r, json_each(r.biomass) AS j JOIN recorded AS c ON c.position = j.key;
CREATE TABLE summary(scenario INTEGER NOT NULL, step INTEGER NOT NULL, time REAL NOT NULL,
                     compartment INTEGER NOT NULL, members INTEGER NOT NULL, mean REAL NOT NULL,
                     q05 REAL NOT NULL, q25 REAL NOT NULL, q50 REAL NOT NULL, q75 REAL NOT NULL,
                     q95 REAL NOT NULL, PRIMARY KEY(scenario, step, compartment)) WITHOUT ROWID;
)";

std::string lines(const std::vector<std::string>& v) {
  std::string s;
  for (const std::string& x : v) s += (s.empty() ? "" : "\n") + x;
  return s;
}

std::vector<std::string> unlines(const std::string& s) {
  std::vector<std::string> v;
  std::size_t from = 0;
  while (!s.empty() && from <= s.size()) {
    const std::size_t at = s.find('\n', from);
    v.push_back(s.substr(from, at - from));
    if (at == std::string::npos) break;
    from = at + 1;
  }
  return v;
}

std::string shortest(double v) {
  char buf[32];
  const auto [end, error] = std::to_chars(buf, buf + sizeof buf, v);
  return error == std::errc() ? std::string(buf, end) : "";
}

std::string list(const std::vector<int>& v) {
  std::string s;
  for (const int x : v) {
    if (!s.empty()) s += ',';
    s += std::to_string(x);
  }
  return s;
}

// Returns "WHAT FILE: REASON", the reason SQLite's and the system's.
std::string failure(const std::string& what, const std::string& file, sqlite3* db) {
  std::string reason = db ? sqlite3_errmsg(db) : "out of memory";
  const int error = db ? sqlite3_system_errno(db) : 0;
  if (error != 0) reason += std::string(" (") + std::strerror(error) + ")";
  return what + " " + file + ": " + reason;
}

// The statistics of one (scenario, step, compartment).
struct Stats {
  long long n = 0;
  double mean = 0, q[5] = {};
};

constexpr double probabilities[5] = {0.05, 0.25, 0.5, 0.75, 0.95};

// Returns the statistics of sorted values.
Stats stats_of(std::span<const double> x) {
  Stats s;
  s.n = static_cast<long long>(x.size());
  double sum = 0;
  for (const double v : x) sum += v;
  s.mean = sum / static_cast<double>(s.n);
  const auto at = [&](long long k) { return x[static_cast<std::size_t>(k - 1)]; };
  for (int k = 0; k < 5; ++k) s.q[k] = quantile(at, s.n, probabilities[k]);
  return s;
}

}  // namespace

Settings settings(const Plan& plan, const std::string& network_hash) {
  std::string limits;
  if (plan.limits) limits = shortest(plan.limits->first) + "," + shortest(plan.limits->second);
  std::vector<std::string> sweeps, varies;
  for (const Sweep& s : plan.sweeps) sweeps.push_back(s.text);
  for (const Vary& v : plan.varies) varies.push_back(v.text);
  const char* const records[] = {"all", "followed", "none"};
  return {{"format", "1"},
          {"program", std::string("ecodyn-ensemble ") + ECODYN_VERSION},
          {"network", plan.network},
          {"network_hash", network_hash},
          {"description", std::to_string(plan.description)},
          {"title", plan.title},
          {"models", plan.models_text},
          {"start", exact_text(plan.start)},
          {"end", exact_text(plan.end)},
          {"print", exact_text(plan.print)},
          {"perturb", lines(plan.perturb_texts)},
          {"sweep", lines(sweeps)},
          {"vary", lines(varies)},
          {"draws", std::to_string(plan.draws)},
          {"seed", std::to_string(plan.seed)},
          {"record", records[static_cast<int>(plan.record)]},
          {"follow", list(plan.followed)},
          {"reject_extinction", plan.reject_extinction ? "1" : "0"},
          {"limits", limits},
          {"within", shortest(plan.within)},
          {"scenarios", std::to_string(plan.scenarios())},
          {"members", std::to_string(plan.members())},
          {"shard", "1/1"}};
}

std::vector<std::string> differing_settings(const Settings& a, const Settings& b) {
  std::map<std::string, std::pair<const std::string*, const std::string*>> both;
  for (const auto& [k, v] : a) both[k].first = &v;
  for (const auto& [k, v] : b) both[k].second = &v;
  std::vector<std::string> keys;
  for (const auto& [k, v] : both) {
    if (k != "shard" && (!v.first || !v.second || *v.first != *v.second)) keys.push_back(k);
  }
  return keys;
}

Options options_of(const Settings& s) {
  std::map<std::string, std::string> m(s.begin(), s.end());
  Options o;
  o.network = m["network"];
  o.index = std::atoi(m["description"].c_str());
  o.models_text = m["models"];
  o.models.clear();
  for (std::size_t from = 0; from < o.models_text.size();) {
    const std::size_t comma = std::min(o.models_text.find(',', from), o.models_text.size());
    o.models.push_back(std::atoi(o.models_text.substr(from, comma - from).c_str()));
    from = comma + 1;
  }
  o.start = m["start"];
  o.end = m["end"];
  o.print = m["print"];
  o.perturb = unlines(m["perturb"]);
  o.sweep = unlines(m["sweep"]);
  o.vary = unlines(m["vary"]);
  o.draws = std::atoll(m["draws"].c_str());
  o.seed = std::strtoull(m["seed"].c_str(), nullptr, 10);
  o.record = m["record"];
  o.follow = m["follow"];
  o.reject_extinction = m["reject_extinction"] == "1";
  o.limits = m["limits"];
  o.within = m["within"];
  return o;
}

std::string file_hash(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw DatabaseError("cannot read " + path + ": " + std::strerror(errno ? errno : EIO));
  std::uint64_t h = 0xcbf29ce484222325ULL;
  char buf[65536];
  while (in.read(buf, sizeof buf) || in.gcount() > 0) {
    for (std::streamsize k = 0; k < in.gcount(); ++k) {
      h ^= static_cast<unsigned char>(buf[k]);
      h *= 0x100000001b3ULL;
    }
  }
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(h));
  return text;
}

double quantile(const std::function<double(long long)>& x, long long n, double p) {
  const double h = static_cast<double>(n - 1) * p + 1;
  const auto k = static_cast<long long>(std::floor(h));
  if (k >= n) return x(n);
  return x(k) + (h - static_cast<double>(k)) * (x(k + 1) - x(k));
}

// --- Statement ---------------------------------------------------------------

Statement::Statement(sqlite3* db, const std::string& sql, const std::string& file)
    : db_(db), file_(file) {
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &s_, nullptr) != SQLITE_OK) {
    throw DatabaseError(failure("cannot read", file, db));
  }
}
Statement::~Statement() { sqlite3_finalize(s_); }
Statement& Statement::bind(int k, long long v) {
  sqlite3_bind_int64(s_, k, v);
  return *this;
}
Statement& Statement::bind(int k, double v) {
  sqlite3_bind_double(s_, k, v);
  return *this;
}
Statement& Statement::bind(int k, const std::string& v) {
  sqlite3_bind_text(s_, k, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
  return *this;
}
Statement& Statement::bind_null(int k) {
  sqlite3_bind_null(s_, k);
  return *this;
}
bool Statement::step() {
  const int rc = sqlite3_step(s_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  const std::string message =
      failure(sqlite3_stmt_readonly(s_) ? "cannot read" : "cannot write", file_, db_);
  sqlite3_reset(s_);
  throw DatabaseError(message);
}
void Statement::run() {
  while (step()) {
  }
  reset();
}
void Statement::reset() {
  sqlite3_reset(s_);
  sqlite3_clear_bindings(s_);
}
long long Statement::integer(int c) { return sqlite3_column_int64(s_, c); }
double Statement::real(int c) { return sqlite3_column_double(s_, c); }
bool Statement::null(int c) { return sqlite3_column_type(s_, c) == SQLITE_NULL; }
std::string Statement::column_name(int c) { return sqlite3_column_name(s_, c); }
std::string Statement::text(int c) {
  const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(s_, c));
  return t ? std::string(t, static_cast<std::size_t>(sqlite3_column_bytes(s_, c))) : "";
}

// --- Database ----------------------------------------------------------------

struct Database::Inserts {
  Inserts(sqlite3* db, const std::string& f)
      : member(db, "INSERT INTO member VALUES(?1, ?2, ?3)", f),
        outcome(db, "INSERT INTO outcome VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)", f),
        factor(db, "INSERT INTO factor VALUES(?1, ?2, ?3, ?4, ?5, ?6)", f),
        extinction(db, "INSERT INTO extinction VALUES(?1, ?2, ?3)", f),
        row(db, "INSERT INTO trajectory_row VALUES(?1, ?2, ?3, ?4)", f) {}
  Statement member, outcome, factor, extinction, row;
};

Database Database::create(const std::string& path) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
      SQLITE_OK) {
    const std::string message = failure("cannot write", path, db);
    sqlite3_close(db);
    throw DatabaseError(message);
  }
  Database d(db, path);
  sqlite3_busy_timeout(db, busy_wait_ms);
  // Larger pages hold a row of many compartments without overflow pages;
  // the cache is bounded; a commit appends to the log without waiting for
  // the disk (a crash of the machine may lose the last members, never the
  // database).
  d.exec(
      "PRAGMA page_size = 16384; PRAGMA journal_mode = WAL; PRAGMA synchronous = NORMAL;"
      "PRAGMA cache_size = -8192;");
  d.exec(std::string("BEGIN;") + schema + "COMMIT;");
  return d;
}

Database Database::open(const std::string& path, bool writable) {
  sqlite3* db = nullptr;
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    throw DatabaseError("cannot read " + path + ": " + std::strerror(errno));
  }
  if (sqlite3_open_v2(path.c_str(), &db, writable ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY,
                      nullptr) != SQLITE_OK) {
    const std::string message = failure("cannot read", path, db);
    sqlite3_close(db);
    throw DatabaseError(message);
  }
  // The connections of the summary's parts open the database together:
  // one of them may hold it for a moment.
  sqlite3_busy_timeout(db, busy_wait_ms);
  return Database(db, path);
}

Database::Database(Database&& other) noexcept
    : db_(other.db_),
      path_(std::move(other.path_)),
      inserts_(other.inserts_),
      summary_insert_(std::move(other.summary_insert_)) {
  other.db_ = nullptr;
  other.inserts_ = nullptr;
}

Database& Database::operator=(Database&& other) noexcept {
  if (this != &other) {
    close(true);
    db_ = other.db_;
    path_ = std::move(other.path_);
    inserts_ = other.inserts_;
    summary_insert_ = std::move(other.summary_insert_);
    other.db_ = nullptr;
    other.inserts_ = nullptr;
  }
  return *this;
}

Database::~Database() {
  summary_insert_.reset();
  delete inserts_;
  if (db_) sqlite3_close(db_);
}

void Database::exec(const std::string& sql) {
  char* error = nullptr;
  if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
    sqlite3_free(error);
    throw DatabaseError(failure("cannot write", path_, db_));
  }
}

void Database::describe(const Plan& plan, const Settings& s) {
  begin();
  Statement setting(db_, "INSERT INTO settings VALUES(?1, ?2)", path_);
  for (const auto& [k, v] : s) setting.bind(1, k).bind(2, v).run();
  Statement compartment(db_, "INSERT INTO compartment VALUES(?1, ?2, ?3, ?4)", path_);
  for (int i = 1; i <= plan.ncomp(); ++i) {
    compartment.bind(1, static_cast<long long>(i))
        .bind(2, plan.names[static_cast<std::size_t>(i)])
        .bind(3, static_cast<long long>(i <= plan.nliv))
        .bind(4, static_cast<double>(plan.biomass[static_cast<std::size_t>(i)]))
        .run();
  }
  Statement scenario(db_, "INSERT INTO scenario VALUES(?1, ?2, ?3)", path_);
  Statement sweep(db_, "INSERT INTO sweep VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7)", path_);
  for (long long k = 1; k <= plan.scenarios(); ++k) {
    const ScenarioId id = scenario_id(plan, k);
    scenario.bind(1, k).bind(2, static_cast<long long>(id.model)).bind(3, label(plan, k)).run();
    for (std::size_t w = 0; w < plan.sweeps.size(); ++w) {
      const Sweep& sw = plan.sweeps[w];
      const auto v = static_cast<std::size_t>(id.values[w]);
      sweep.bind(1, k)
          .bind(2, static_cast<long long>(w + 1))
          .bind(3, std::string(kind_name(sw.kind)))
          .bind(4, static_cast<long long>(sw.i))
          .bind(5, static_cast<long long>(sw.j))
          .bind(6, static_cast<long long>(sw.factor[v]))
          .bind(7, static_cast<double>(sw.values[v]))
          .run();
    }
  }
  Statement recorded(db_, "INSERT INTO recorded VALUES(?1, ?2)", path_);
  for (std::size_t p = 0; p < plan.recorded.size(); ++p) {
    recorded.bind(1, static_cast<long long>(p))
        .bind(2, static_cast<long long>(plan.recorded[p]))
        .run();
  }
  commit();
}

void Database::begin() { exec("BEGIN"); }

void Database::commit() {
  try {
    exec("COMMIT");
  } catch (const DatabaseError&) {
    // A commit that failed leaves the transaction open: nothing of it stays.
    if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
}

void Database::insert(const Result& r) {
  if (!inserts_) inserts_ = new Inserts(db_, path_);
  Inserts& in = *inserts_;
  in.member.bind(1, r.id.member).bind(2, r.id.scenario).bind(3, r.id.draw).run();
  Statement& o = in.outcome;
  o.bind(1, r.id.member).bind(2, r.ending).bind(3, static_cast<long long>(r.status));
  if (r.message.empty()) {
    o.bind_null(4);
  } else {
    o.bind(4, r.message);
  }
  o.bind(5, static_cast<double>(r.end_time)).bind(6, static_cast<long long>(r.accepted));
  if (r.accepted) {
    o.bind_null(7);
  } else {
    o.bind(7, r.rejection);
  }
  if (r.resilience) {
    o.bind(8, static_cast<double>(*r.resilience));
  } else {
    o.bind_null(8);
  }
  o.bind(9, static_cast<long long>(r.extinctions.size())).run();
  for (std::size_t k = 0; k < r.factors.size(); ++k) {
    const Factor& f = r.factors[k];
    in.factor.bind(1, r.id.member)
        .bind(2, static_cast<long long>(k + 1))
        .bind(3, std::string(kind_name(f.kind)))
        .bind(4, static_cast<long long>(f.i))
        .bind(5, static_cast<long long>(f.j))
        .bind(6, static_cast<double>(f.factor))
        .run();
  }
  for (const Extinct& e : r.extinctions) {
    in.extinction.bind(1, r.id.member)
        .bind(2, static_cast<long long>(e.compartment))
        .bind(3, static_cast<double>(e.time))
        .run();
  }
  for (const Row& row : r.rows) {
    in.row.bind(1, r.id.member)
        .bind(2, static_cast<long long>(row.step))
        .bind(3, static_cast<double>(row.time))
        .bind(4, row.biomass)
        .run();
  }
}

void Database::summarize(std::size_t budget) {
  begin();
  exec("DELETE FROM summary");
  compute_summary([this](const SummaryRow& r) { insert_summary(r); }, budget);
  commit();
}

void Database::insert_summary(const SummaryRow& r) {
  if (!summary_insert_) {
    summary_insert_ = std::make_unique<Statement>(
        db_, "INSERT INTO summary VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11)", path_);
  }
  Statement& put = *summary_insert_;
  put.bind(1, r.scenario).bind(2, r.step).bind(3, r.time).bind(4, r.compartment);
  put.bind(5, r.members).bind(6, r.mean);
  for (int k = 0; k < 5; ++k) put.bind(7 + k, r.q[k]);
  put.run();
}

void Database::compute_summary(const std::function<void(const SummaryRow&)>& put,
                               std::size_t budget, int part, int parts) {
  Statement scenarios(db_, "SELECT scenario FROM scenario ORDER BY scenario", path_);
  std::vector<long long> all;
  while (scenarios.step()) all.push_back(scenarios.integer(0));
  scenarios.reset();
  for (const long long s : all) summarize_scenario(s, budget, part, parts, put);
}

void Database::summarize_scenario(long long scenario, std::size_t budget, int part, int parts,
                                  const std::function<void(const SummaryRow&)>& put) {
  const std::string accepted =
      " FROM member AS m JOIN outcome AS o ON o.member = m.member"
      " JOIN trajectory_row AS r ON r.member = m.member, json_each(r.biomass) AS j"
      " WHERE m.scenario = ?1 AND o.accepted = 1";
  Statement extent(db_,
                   "SELECT count(*), max(r.step) FROM member AS m JOIN outcome AS o ON o.member ="
                   " m.member JOIN trajectory_row AS r ON r.member = m.member"
                   " WHERE m.scenario = ?1 AND o.accepted = 1 AND r.step = 0",
                   path_);
  extent.bind(1, scenario).step();
  const long long members = extent.integer(0);
  extent.reset();
  Statement last(db_,
                 "SELECT max(r.step) FROM member AS m JOIN outcome AS o ON o.member = m.member"
                 " JOIN trajectory_row AS r ON r.member = m.member"
                 " WHERE m.scenario = ?1 AND o.accepted = 1",
                 path_);
  last.bind(1, scenario).step();
  const long long last_step = last.null(0) ? -1 : last.integer(0);
  last.reset();
  Statement width(db_, "SELECT count(*) FROM recorded", path_);
  width.step();
  const auto recorded = static_cast<std::size_t>(width.integer(0));
  width.reset();
  if (members == 0 || recorded == 0 || last_step < 0) return;

  Statement compartment(db_, "SELECT compartment FROM recorded WHERE position = ?1", path_);
  std::vector<long long> compartments(recorded);
  for (std::size_t p = 0; p < recorded; ++p) {
    compartment.bind(1, static_cast<long long>(p)).step();
    compartments[p] = compartment.integer(0);
    compartment.reset();
  }
  const auto write = [&](long long step, double time, std::size_t position, const Stats& st) {
    SummaryRow r{scenario, step, time, compartments[position], st.n, st.mean, {}};
    std::copy(st.q, st.q + 5, r.q);
    put(r);
  };

  const std::size_t per_step = static_cast<std::size_t>(members) * recorded;
  if (per_step > budget) {
    // A step's values exceed the bound: SQLite sorts them, spilling to
    // temporary files, and the statistics are taken as they stream by.
    Statement counts(db_,
                     "SELECT j.key, count(*), min(r.time)" + accepted +
                         " AND j.value IS NOT NULL AND r.step = ?2 GROUP BY j.key",
                     path_);
    Statement sorted(db_,
                     "SELECT j.key, j.value" + accepted +
                         " AND j.value IS NOT NULL AND r.step = ?2 ORDER BY 1, 2",
                     path_);
    for (long long step = part; step <= last_step; step += parts) {
      std::map<long long, std::pair<long long, double>> groups;
      counts.bind(1, scenario).bind(2, step);
      while (counts.step()) groups[counts.integer(0)] = {counts.integer(1), counts.real(2)};
      counts.reset();
      sorted.bind(1, scenario).bind(2, step);
      bool more = sorted.step();
      for (const auto& [key, group] : groups) {
        const auto [n, time] = group;
        // The positions the quantiles need, and their values as they pass.
        std::map<long long, double> needed;
        for (const double p : probabilities) {
          const auto k = static_cast<long long>(std::floor(static_cast<double>(n - 1) * p + 1));
          needed[k] = 0;
          if (k < n) needed[k + 1] = 0;
        }
        double sum = 0;
        for (long long i = 1; i <= n && more; ++i) {
          const double v = sorted.real(1);
          sum += v;
          if (needed.count(i)) needed[i] = v;
          more = sorted.step();
        }
        Stats st;
        st.n = n;
        st.mean = sum / static_cast<double>(n);
        for (int k = 0; k < 5; ++k) {
          st.q[k] = quantile([&](long long i) { return needed[i]; }, n, probabilities[k]);
        }
        write(step, time, static_cast<std::size_t>(key), st);
      }
      sorted.reset();
    }
    return;
  }

  // Steps a range at a time: every value of the range in memory, one
  // block of `members` places per step and compartment, sorted per block.
  const auto capacity = static_cast<std::size_t>(members);
  const std::size_t steps = std::max<std::size_t>(1, budget / per_step);
  Statement values(
      db_, "SELECT r.step, r.time, j.key, j.value" + accepted + " AND r.step BETWEEN ?2 AND ?3",
      path_);
  std::vector<double> held(steps * per_step);
  std::vector<std::size_t> count(steps * recorded);
  std::vector<double> times(steps);
  // The ranges are dealt out to the parts in turn.
  const long long stride = static_cast<long long>(steps) * parts;
  for (long long from = static_cast<long long>(steps) * part; from <= last_step; from += stride) {
    std::fill(count.begin(), count.end(), 0);
    values.bind(1, scenario).bind(2, from).bind(3, from + static_cast<long long>(steps) - 1);
    while (values.step()) {
      const auto s = static_cast<std::size_t>(values.integer(0) - from);
      const auto key = static_cast<std::size_t>(values.integer(2));
      const std::size_t group = s * recorded + key;
      // A value that was not finite is stored as null, and left out.
      if (key >= recorded || count[group] >= capacity || values.null(3)) continue;
      times[s] = values.real(1);
      held[group * capacity + count[group]++] = values.real(3);
    }
    values.reset();
    for (std::size_t group = 0; group < steps * recorded; ++group) {
      if (count[group] == 0) continue;
      const std::span<double> x(held.data() + group * capacity, count[group]);
      std::sort(x.begin(), x.end());
      write(from + static_cast<long long>(group / recorded), times[group / recorded],
            group % recorded, stats_of(x));
    }
  }
}

Settings Database::read_settings() {
  Settings s;
  Statement q(db_, "SELECT key, value FROM settings", path_);
  while (q.step()) s.emplace_back(q.text(0), q.text(1));
  return s;
}

void Database::write_csv(const std::string& dir) {
  // Each column: its kind, 't' text, 'i' integer, 'f' single precision
  // (times), 'd' double.
  const auto write = [&](const std::string& name, const std::string& sql,
                         const std::string& kinds) {
    const std::string path = dir + "/" + name;
    const std::string temporary = path + ".partial";
    std::FILE* f = std::fopen(temporary.c_str(), "we");
    if (!f) throw DatabaseError("cannot write " + temporary + ": " + std::strerror(errno));
    int error = 0;
    const auto out = [&](const std::string& text) {
      if (error == 0 && std::fwrite(text.data(), 1, text.size(), f) != text.size()) error = errno;
    };
    try {
      Statement q(db_, sql, path_);
      std::string record;
      for (std::size_t c = 0; c < kinds.size(); ++c) {
        if (c) record += ',';
        record += csv::field(q.column_name(static_cast<int>(c)));
      }
      out(record + "\r\n");
      while (q.step()) {
        record.clear();
        for (std::size_t c = 0; c < kinds.size(); ++c) {
          const int k = static_cast<int>(c);
          if (c) record += ',';
          if (q.null(k)) continue;
          switch (kinds[c]) {
            case 'i':
              record += std::to_string(q.integer(k));
              break;
            case 'f':
              record += exact_text(static_cast<float>(q.real(k)));
              break;
            case 'd':
              record += shortest(q.real(k));
              break;
            default:
              record += csv::field(q.text(k));
              break;
          }
        }
        out(record + "\r\n");
      }
    } catch (...) {
      std::fclose(f);
      std::remove(temporary.c_str());
      throw;
    }
    if (std::fclose(f) != 0 && error == 0) error = errno;
    if (error == 0 && std::rename(temporary.c_str(), path.c_str()) != 0) error = errno;
    if (error != 0) {
      std::remove(temporary.c_str());
      throw DatabaseError("cannot write " + path + ": " + std::strerror(error));
    }
  };
  write("summary.csv",
        "SELECT scenario, step, time, compartment, members, mean, q05, q25, q50, q75, q95"
        " FROM summary ORDER BY scenario, step, compartment",
        "iifiidddddd");
  write("outcomes.csv",
        "SELECT m.member, m.scenario, s.model, s.label, m.draw, o.ending, o.status, o.message,"
        " o.end_time, o.accepted, o.rejection, o.resilience, o.extinctions"
        " FROM member AS m JOIN outcome AS o ON o.member = m.member"
        " JOIN scenario AS s ON s.scenario = m.scenario ORDER BY m.member",
        "iiitititfitfi");
}

void Database::close(bool keep_log) {
  if (!db_) return;
  delete inserts_;
  inserts_ = nullptr;
  summary_insert_.reset();
  if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  if (!keep_log) sqlite3_exec(db_, "PRAGMA journal_mode = DELETE", nullptr, nullptr, nullptr);
  sqlite3_close(db_);
  db_ = nullptr;
}

}  // namespace ecodyn::ensemble
