#include "shards.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <queue>
#include <set>

namespace ecodyn::ensemble {
namespace {

// Returns the positive decimal of text, or 0 when it is not one.
long long positive(const std::string& text) {
  if (text.empty() || text.size() > 15 || text.find_first_not_of("0123456789") != std::string::npos) {
    return 0;
  }
  return std::atoll(text.c_str());
}

std::string lines_as_options(const std::string& option, const std::string& value) {
  if (value.empty()) return "no " + option;
  std::string s;
  std::size_t from = 0;
  for (;;) {
    const std::size_t at = value.find('\n', from);
    if (!s.empty()) s += ' ';
    s += option + " \"" + value.substr(from, at - from) + "\"";
    if (at == std::string::npos) return s;
    from = at + 1;
  }
}

// Returns a setting as the option that makes it, e.g. "--draws 100".
std::string as_option(const std::string& key, const std::string& value) {
  if (key == "network") return "the network " + value;
  if (key == "description") return "--index " + value;
  if (key == "models") return "--model " + value;
  if (key == "perturb" || key == "sweep" || key == "vary") return lines_as_options("--" + key, value);
  if (key == "reject_extinction") return value == "1" ? "--reject-extinction" : "no --reject-extinction";
  if (key == "limits" && value.empty()) return "no --limits";
  for (const char* option :
       {"start", "end", "print", "draws", "seed", "record", "follow", "limits", "within", "shard"}) {
    if (key == option) return "--" + key + " " + value;
  }
  return key + " '" + value + "'";
}

// A statement of its own connection's, finalized when it goes.
using Query = std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)>;

Query prepare(Database& db, const std::string& sql) {
  sqlite3_stmt* s = nullptr;
  if (sqlite3_prepare_v2(db.handle(), sql.c_str(), -1, &s, nullptr) != SQLITE_OK) {
    sqlite3_finalize(s);
    throw DatabaseError("cannot read " + db.path() + ": " + sqlite3_errmsg(db.handle()));
  }
  return Query(s, sqlite3_finalize);
}

// Steps q: true while a row is there.
bool next_row(Query& q, Database& db) {
  const int rc = sqlite3_step(q.get());
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  throw DatabaseError("cannot read " + db.path() + ": " + sqlite3_errmsg(db.handle()));
}

struct Part {
  std::string path;
  Database db;
  Settings settings;
  Shard shard;
};

std::string value_of(const Settings& s, const std::string& key) {
  for (const auto& [k, v] : s) {
    if (k == key) return v;
  }
  return "";
}

// Copies table's rows from the parts into out in the order of `key`, its
// first column a member (no member is in two parts): the parts' rows,
// each in order, merged. Returns the rows copied.
long long copy_merged(std::vector<Part>& parts, Database& out, const std::string& table,
                      const std::string& key, const volatile std::sig_atomic_t* stop) {
  std::vector<Query> reads;
  for (Part& p : parts) reads.push_back(prepare(p.db, "SELECT * FROM " + table + " ORDER BY " + key));
  const int columns = sqlite3_column_count(reads[0].get());
  std::string sql = "INSERT INTO " + table + " VALUES(";
  for (int c = 0; c < columns; ++c) sql += c ? ",?" : "?";
  Query write = prepare(out, sql + ")");
  using Head = std::pair<long long, std::size_t>;  // member, part
  std::priority_queue<Head, std::vector<Head>, std::greater<>> heads;
  for (std::size_t k = 0; k < parts.size(); ++k) {
    if (next_row(reads[k], parts[k].db)) heads.push({sqlite3_column_int64(reads[k].get(), 0), k});
  }
  long long rows = 0;
  while (!heads.empty()) {
    const std::size_t k = heads.top().second;
    heads.pop();
    sqlite3_stmt* r = reads[k].get();
    for (int c = 0; c < columns; ++c) sqlite3_bind_value(write.get(), c + 1, sqlite3_column_value(r, c));
    if (sqlite3_step(write.get()) != SQLITE_DONE) {
      throw DatabaseError("cannot write " + out.path() + ": " + sqlite3_errmsg(out.handle()));
    }
    sqlite3_reset(write.get());
    if (++rows % 4096 == 0 && stop && *stop != 0) throw DatabaseError("the merge was stopped");
    if (next_row(reads[k], parts[k].db)) heads.push({sqlite3_column_int64(r, 0), k});
  }
  return rows;
}

// Copies a table of the ensemble's description from one part.
void copy_table(Part& from, Database& out, const std::string& table) {
  Query read = prepare(from.db, "SELECT * FROM " + table + " ORDER BY 1");
  const int columns = sqlite3_column_count(read.get());
  std::string sql = "INSERT INTO " + table + " VALUES(";
  for (int c = 0; c < columns; ++c) sql += c ? ",?" : "?";
  Query write = prepare(out, sql + ")");
  while (next_row(read, from.db)) {
    for (int c = 0; c < columns; ++c) {
      sqlite3_bind_value(write.get(), c + 1, sqlite3_column_value(read.get(), c));
    }
    if (sqlite3_step(write.get()) != SQLITE_DONE) {
      throw DatabaseError("cannot write " + out.path() + ": " + sqlite3_errmsg(out.handle()));
    }
    sqlite3_reset(write.get());
  }
}

}  // namespace

bool Shard::holds(long long k) const {
  const long long i = (k - 1) % count + 1;
  for (const long long x : indices) {
    if (x == i) return true;
  }
  return false;
}

Shard parse_shard(const std::string& text, bool list) {
  const std::size_t slash = text.find('/');
  Shard s;
  s.indices.clear();
  s.count = slash == std::string::npos ? 0 : positive(text.substr(slash + 1));
  const std::string what = list ? "I,J,.../N" : "I/N";
  if (s.count == 0) {
    throw ScenarioError("--shard " + text + ": not " + what + " with 1 <= I <= N");
  }
  std::size_t from = 0;
  for (;;) {
    const std::size_t comma = std::min(text.find(',', from), slash);
    if (comma != slash && !list) {
      throw ScenarioError("--shard " + text + ": not " + what + " with 1 <= I <= N");
    }
    const long long i = positive(text.substr(from, comma - from));
    if (i == 0 || i > s.count || (!s.indices.empty() && i <= s.indices.back())) {
      throw ScenarioError("--shard " + text + ": not " + what + " with 1 <= I <= N");
    }
    s.indices.push_back(i);
    if (comma == slash) break;
    from = comma + 1;
  }
  return s;
}

std::string shard_text(const Shard& s) {
  std::string t;
  for (const long long i : s.indices) {
    if (!t.empty()) t += ',';
    t += std::to_string(i);
  }
  t += '/';
  t += std::to_string(s.count);
  return t;
}

std::vector<Members> members_of_shard(const Shard& s, long long total,
                                      const std::vector<long long>& present) {
  std::vector<Members> ranges;
  const long long n = s.count;
  long long first = s.indices.at(0);
  for (const long long p : present) {
    if (p < first || !s.holds(p)) continue;
    if (p > first) ranges.push_back({first, p - n, n});
    first = p + n;
  }
  if (first <= total) ranges.push_back({first, first + (total - first) / n * n, n});
  return ranges;
}

std::vector<long long> stored_members(Database& db) {
  std::vector<long long> v;
  Statement q(db.handle(), "SELECT member FROM member ORDER BY member", db.path());
  while (q.step()) v.push_back(q.integer(0));
  return v;
}

void check_format(Database& db) {
  Statement id(db.handle(), "PRAGMA application_id", db.path());
  Statement version(db.handle(), "PRAGMA user_version", db.path());
  if (!id.step() || id.integer(0) != 0x45434459 || !version.step() || version.integer(0) != 1) {
    throw DatabaseError(db.path() + ": not an ensemble database of format 1");
  }
}

std::string resume_difference(const Settings& stored, const Settings& wanted) {
  std::map<std::string, std::string> old(stored.begin(), stored.end());
  for (const auto& [key, value] : wanted) {
    if (key == "program") continue;
    const auto at = old.find(key);
    if (at == old.end()) return "the database has no setting " + key;
    if (at->second == value) continue;
    if (key == "network_hash") return "the network has changed since the database was made";
    return "the database was made with " + as_option(key, at->second) + ", not " +
           as_option(key, value);
  }
  return "";
}

Merged merge(const std::vector<std::string>& paths, const std::string& output, bool partial,
             const volatile std::sig_atomic_t* stop,
             const std::function<bool(Database&)>& summarize) {
  std::vector<Part> parts;
  for (const std::string& path : paths) {
    Database db = Database::open(path);
    check_format(db);
    Settings s = db.read_settings();
    Shard shard;
    try {
      shard = parse_shard(value_of(s, "shard"), true);
    } catch (const ScenarioError&) {
      throw DatabaseError(path + ": its shard '" + value_of(s, "shard") + "' is not I,J,.../N");
    }
    parts.push_back({path, std::move(db), std::move(s), shard});
  }
  const Part& first = parts[0];
  for (const Part& p : parts) {
    for (const std::string& key : differing_settings(first.settings, p.settings)) {
      if (key == "program") continue;
      throw ScenarioError(p.path + " is not a part of the ensemble of " + first.path + ": " +
                          as_option(key, value_of(p.settings, key)) + ", not " +
                          as_option(key, value_of(first.settings, key)));
    }
  }
  const long long total = std::atoll(value_of(first.settings, "members").c_str());

  // Every member once: the parts' members merged in order.
  {
    std::vector<Query> reads;
    for (Part& p : parts) reads.push_back(prepare(p.db, "SELECT member FROM member ORDER BY member"));
    using Head = std::pair<long long, std::size_t>;
    std::priority_queue<Head, std::vector<Head>, std::greater<>> heads;
    for (std::size_t k = 0; k < parts.size(); ++k) {
      if (next_row(reads[k], parts[k].db)) heads.push({sqlite3_column_int64(reads[k].get(), 0), k});
    }
    long long expected = 1, missing = 0;
    std::string named;
    std::set<long long> shards;
    const long long n = first.shard.count;
    const auto miss = [&](long long to) {
      for (; expected < to; ++expected) {
        if (++missing <= 10) named += (named.empty() ? "" : ", ") + std::to_string(expected);
        shards.insert((expected - 1) % n + 1);
      }
    };
    long long previous = 0;
    std::size_t previous_part = 0;
    while (!heads.empty()) {
      const auto [m, k] = heads.top();
      heads.pop();
      if (m == previous) {
        throw ScenarioError("member " + std::to_string(m) + " is in both " +
                            parts[previous_part].path + " and " + parts[k].path);
      }
      if (m < 1 || m > total) {
        throw ScenarioError(parts[k].path + " holds member " + std::to_string(m) +
                            ", not one of the ensemble's 1 to " + std::to_string(total));
      }
      miss(m);
      expected = m + 1;
      previous = m;
      previous_part = k;
      if (next_row(reads[k], parts[k].db)) heads.push({sqlite3_column_int64(reads[k].get(), 0), k});
    }
    miss(total + 1);
    reads.clear();  // a connection with statements open does not close
    if (missing > 0 && !partial) {
      std::string of;
      for (const long long i : shards) of += (of.empty() ? "" : ", ") + std::to_string(i) + "/" + std::to_string(n);
      throw ScenarioError(std::to_string(missing) + " member" + (missing == 1 ? " is" : "s are") +
                          " missing: " + named + (missing > 10 ? ", ..." : "") + " (of shard" +
                          (shards.size() == 1 ? " " : "s ") + of +
                          "; --partial merges some shards)");
    }
    Merged result;
    if (missing == 0) {
      result.shard = "1/1";
    } else {
      Shard joined;
      joined.count = n;
      std::set<long long> indices;
      for (const Part& p : parts) {
        if (p.shard.count != n) {
          throw ScenarioError("--partial: " + p.path + " is shard " + shard_text(p.shard) +
                              " and " + first.path + " shard " + shard_text(first.shard) +
                              ": parts of different splits are merged whole only");
        }
        indices.insert(p.shard.indices.begin(), p.shard.indices.end());
      }
      joined.indices.assign(indices.begin(), indices.end());
      result.shard = shard_text(joined);
    }

    // Written next to the output, renamed into place when whole.
    std::string temporary = output + ".XXXXXX";
    const int fd = mkstemp(temporary.data());
    if (fd < 0) throw DatabaseError("cannot write " + temporary + ": " + std::strerror(errno));
    // The permissions a new file gets, as a single run's database.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    close(fd);
    const auto remove_temporary = [&] {
      for (const char* end : {"", "-wal", "-shm", "-journal"}) unlink((temporary + end).c_str());
    };
    try {
      Database out = Database::create(temporary);
      // The file is renamed into place only when whole: no journal.
      out.exec("PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF;");
      out.begin();
      {
        Query put = prepare(out, "INSERT INTO settings VALUES(?1, ?2)");
        for (const auto& [key, value] : parts[0].settings) {
          const std::string v = key == "shard"     ? result.shard
                                : key == "program" ? std::string("ecodyn-ensemble ") + ECODYN_VERSION
                                                   : value;
          sqlite3_bind_text(put.get(), 1, key.c_str(), -1, SQLITE_TRANSIENT);
          sqlite3_bind_text(put.get(), 2, v.c_str(), -1, SQLITE_TRANSIENT);
          if (sqlite3_step(put.get()) != SQLITE_DONE) {
            throw DatabaseError("cannot write " + temporary + ": " + sqlite3_errmsg(out.handle()));
          }
          sqlite3_reset(put.get());
        }
      }
      for (const char* table : {"compartment", "scenario", "sweep", "recorded"}) {
        copy_table(parts[0], out, table);
      }
      const std::pair<const char*, const char*> tables[] = {{"member", "member"},
                                                            {"factor", "member, position"},
                                                            {"outcome", "member"},
                                                            {"extinction", "member, compartment"},
                                                            {"trajectory_row", "member, step"}};
      for (const auto& [table, key] : tables) {
        const long long rows = copy_merged(parts, out, table, key, stop);
        if (std::string(table) == "member") result.members = rows;
        if (std::string(table) == "trajectory_row") result.rows = rows;
      }
      out.commit();
      parts.clear();  // their caches are not needed for the summary
      if (stop && *stop != 0) throw DatabaseError("the merge was stopped");
      if (!summarize(out) || (stop && *stop != 0)) throw DatabaseError("the merge was stopped");
      out.close();
      const int file = open(temporary.c_str(), O_RDONLY | O_CLOEXEC);
      if (file < 0 || fsync(file) != 0) {
        const int error = errno;
        if (file >= 0) close(file);
        throw DatabaseError("cannot write " + temporary + ": " + std::strerror(error));
      }
      close(file);
      if (std::rename(temporary.c_str(), output.c_str()) != 0) {
        throw DatabaseError("cannot write " + output + ": " + std::strerror(errno));
      }
    } catch (...) {
      remove_temporary();
      throw;
    }
    return result;
  }
}

}  // namespace ecodyn::ensemble
