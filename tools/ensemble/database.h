// The ensemble database: one SQLite file holding the settings, the
// compartments, scenarios and sweep values, and for each completed member
// its factors, outcome, extinctions and recorded rows, then the summary over
// the accepted members (the layout is in ecodyn-ensemble(5)).
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "member.h"
#include "plan.h"

struct sqlite3;
struct sqlite3_stmt;

namespace ecodyn::ensemble {

// The database cannot be read or written; the message names the file and
// the reason.
class DatabaseError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

using Settings = std::vector<std::pair<std::string, std::string>>;

// One row of the summary.
struct SummaryRow {
  long long scenario = 0, step = 0;
  double time = 0;
  long long compartment = 0, members = 0;
  double mean = 0, q[5] = {};
};

// Returns the settings of an ensemble, in the order they are stored.
Settings settings(const Plan& plan, const std::string& network_hash);

// Returns the keys, but shard, whose values differ between two ensembles'
// settings (a key missing from one differs).
std::vector<std::string> differing_settings(const Settings& a, const Settings& b);

// Returns the options an ensemble's settings were made of.
Options options_of(const Settings& s);

// Returns the FNV-1a 64 hash of a file's bytes as 16 hex digits; throws
// DatabaseError when it cannot be read.
std::string file_hash(const std::string& path);

// A prepared statement, finalized when it goes.
class Statement {
 public:
  Statement(sqlite3* db, const std::string& sql, const std::string& file);
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  Statement& bind(int k, long long v);
  Statement& bind(int k, double v);
  Statement& bind(int k, const std::string& v);
  Statement& bind_null(int k);
  // Steps once: true while a row is there; throws DatabaseError on a failure.
  bool step();
  // Steps to the end and resets for the next binding.
  void run();
  void reset();
  long long integer(int column);
  double real(int column);
  bool null(int column);
  std::string text(int column);
  std::string column_name(int column);

 private:
  sqlite3* db_;
  sqlite3_stmt* s_ = nullptr;
  std::string file_;
};

class Database {
 public:
  // Creates a new database at path (nothing may be there), with the
  // pragmas for bulk insertion and the tables of the layout.
  static Database create(const std::string& path);
  // Opens an existing database to read it (and, writable, to write it).
  static Database open(const std::string& path, bool writable = false);

  Database(Database&& other) noexcept;
  // Closes this one (as close(true)) and takes the other's connection.
  Database& operator=(Database&& other) noexcept;
  ~Database();

  // Writes what the ensemble is: settings, compartments, scenarios, sweep
  // values and the recorded compartments.
  void describe(const Plan& plan, const Settings& settings);

  void begin();
  void commit();
  // Inserts a completed member: member, outcome, factors, extinctions, rows.
  void insert(const Result& r);

  // Writes the summary over the accepted members from the stored rows,
  // holding at most about `budget` values in memory at a time.
  void summarize(std::size_t budget = 2'000'000);
  // Hands put the summary rows of part `part` (from 0) of `parts`: the
  // ranges of steps are dealt out to the parts in turn.
  void compute_summary(const std::function<void(const SummaryRow&)>& put, std::size_t budget,
                       int part = 0, int parts = 1);
  void insert_summary(const SummaryRow& r);

  // Returns the stored settings.
  Settings read_settings();

  // Writes DIR/summary.csv and DIR/outcomes.csv.
  void write_csv(const std::string& dir);

  // Ends write-ahead logging (the file alone holds the database), unless
  // keep_log, and closes; failures are left unsaid (what is committed
  // stays).
  void close(bool keep_log = false);

  sqlite3* handle() { return db_; }
  const std::string& path() const { return path_; }

  // Runs SQL text, throwing DatabaseError on a failure.
  void exec(const std::string& sql);

 private:
  Database(sqlite3* db, std::string path) : db_(db), path_(std::move(path)) {}
  void summarize_scenario(long long scenario, std::size_t budget, int part, int parts,
                          const std::function<void(const SummaryRow&)>& put);
  // The statements of insert, prepared once.
  struct Inserts;
  sqlite3* db_;
  std::string path_;
  Inserts* inserts_ = nullptr;
  std::unique_ptr<Statement> summary_insert_;
};

// Returns the p-quantile of n sorted values x(1) <= ... <= x(n) by R's
// definition 7.
double quantile(const std::function<double(long long)>& x, long long n, double p);

}  // namespace ecodyn::ensemble
