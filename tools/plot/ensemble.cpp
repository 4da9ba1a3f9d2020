#include "ensemble.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>

#include "common/diagnostics.h"
#include "fio/fio.h"

namespace ecodyn::plot {
namespace {

using tools::InputError;

// The quantiles drawn, as the summary names them: the light band, the dark
// band and the median between.
constexpr const char* quantiles = "q05, q25, q50, q75, q95";
constexpr const char* quantile_head = "q05 q25 q50 q75 q95";
constexpr int quantile_count = 5;

// Returns the first bytes of a file (fewer if it is shorter).
std::string head_of(const std::string& path, std::size_t size) {
  std::string head(size, '\0');
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  const ssize_t n = fd < 0 ? 0 : ::read(fd, head.data(), size);
  if (fd >= 0) ::close(fd);
  head.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  return head;
}

// Returns the name under which SQLite opens the database read-only without
// leaving a file behind: the path itself, or for a database in WAL mode
// whose log is gone (everything is in the file), a URI that opens it as
// immutable, where SQLite would otherwise make the log and its index beside
// it and leave them there.
std::string database_name(const std::string& path, int& flags) {
  const std::string head = head_of(path, 20);
  struct stat st;
  if (head.size() < 20 || head[18] != 2 || head[19] != 2 || stat((path + "-wal").c_str(), &st) == 0)
    return path;
  std::string uri = "file:";
  for (const char c : path) {
    if (std::isalnum(static_cast<unsigned char>(c)) || std::strchr("/-._~", c) != nullptr) {
      uri += c;
    } else {
      char escape[4];
      std::snprintf(escape, sizeof escape, "%%%02X", static_cast<unsigned char>(c));
      uri += escape;
    }
  }
  flags |= SQLITE_OPEN_URI;
  return uri + "?immutable=1";
}

// A database opened read-only; nothing it does can change the file.
class Database {
 public:
  explicit Database(const std::string& path) {
    int flags = SQLITE_OPEN_READONLY;
    const std::string name = database_name(path, flags);
    if (sqlite3_open_v2(name.c_str(), &db_, flags, nullptr) != SQLITE_OK) fail();
    // A database being written is locked for moments at a time.
    sqlite3_busy_timeout(db_, 2000);
  }
  ~Database() { sqlite3_close(db_); }
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  sqlite3* handle() const { return db_; }

  // Throws the error of the last call, as SQLite words it.
  [[noreturn]] void fail() const {
    throw InputError(0, std::string("cannot read the database: ") +
                            (db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory"));
  }

 private:
  sqlite3* db_ = nullptr;
};

// A statement, stepped through its rows.
class Query {
 public:
  Query(const Database& db, const std::string& sql) : db_(db) {
    if (sqlite3_prepare_v2(db.handle(), sql.c_str(), -1, &statement_, nullptr) != SQLITE_OK)
      db.fail();
  }
  ~Query() { sqlite3_finalize(statement_); }
  Query(const Query&) = delete;
  Query& operator=(const Query&) = delete;

  // Starts the statement again with its one parameter set to value.
  Query& with(sqlite3_int64 value) {
    sqlite3_reset(statement_);
    sqlite3_bind_int64(statement_, 1, value);
    return *this;
  }
  Query& with(const std::string& value) {
    sqlite3_reset(statement_);
    sqlite3_bind_text(statement_, 1, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
    return *this;
  }

  // Returns true for the next row, false at the end.
  bool step() {
    const int status = sqlite3_step(statement_);
    if (status == SQLITE_ROW) return true;
    if (status != SQLITE_DONE) db_.fail();
    return false;
  }

  sqlite3_int64 integer(int k) const { return sqlite3_column_int64(statement_, k); }
  double real(int k) const { return sqlite3_column_double(statement_, k); }
  // Returns whether column k holds a number (not a text, a blob or NULL).
  bool numeric(int k) const {
    const int type = sqlite3_column_type(statement_, k);
    return type == SQLITE_INTEGER || type == SQLITE_FLOAT;
  }
  // Returns the text of column k, bytes as stored ("" for NULL).
  std::string text(int k) const {
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(statement_, k));
    return p == nullptr ? "" : std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(statement_, k)));
  }

 private:
  const Database& db_;
  sqlite3_stmt* statement_ = nullptr;
};

// Throws unless the database is of the format read and holds the tables
// drawn from.
void check_format(const Database& db) {
  Query version(db, "PRAGMA user_version");
  const sqlite3_int64 format = version.step() ? version.integer(0) : 0;
  if (format != ensemble_format) {
    throw InputError(0, "not an ensemble database of format " + std::to_string(ensemble_format) +
                            ": its user_version is " + std::to_string(format));
  }
  Query table(db, "SELECT 1 FROM sqlite_master WHERE type IN ('table', 'view') AND name = ?");
  for (const char* name : {"settings", "scenario", "compartment", "recorded", "summary"}) {
    if (!table.with(std::string(name)).step())
      throw InputError(0, std::string("not an ensemble database: it has no table ") + name);
  }
}

// A compartment drawn: its number and name, the smallest and the largest
// value drawn in its panel.
struct Panel {
  sqlite3_int64 number = 0;
  std::string name;
  double low = INFINITY, high = -INFINITY;
};

// A scenario drawn: its number and label, and whether the summary holds it.
struct Scenario {
  sqlite3_int64 number = 0;
  std::string label;
  bool summarized = false;
};

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string trimmed(const std::string& s) {
  const std::size_t from = s.find_first_not_of(" \t");
  return from == std::string::npos ? "" : s.substr(from, s.find_last_not_of(" \t") - from + 1);
}

// Returns the panel a --compartments item picks among those recorded: by
// number, or by name ignoring case and surrounding blanks, the one equal to
// it, otherwise the one containing it.
const Panel& pick(const std::vector<Panel>& recorded, const std::string& item) {
  const std::string key = lower(trimmed(item));
  if (!key.empty() && key.find_first_not_of("0123456789") == std::string::npos) {
    const sqlite3_int64 number = key.size() < 10 ? std::stoll(key) : -1;
    for (const Panel& p : recorded)
      if (p.number == number) return p;
    std::string which;
    for (const Panel& p : recorded) which += (which.empty() ? "" : ", ") + std::to_string(p.number);
    throw InputError(0, "--compartments: compartment " + key +
                            " is not recorded in the ensemble (it records " + which + ")");
  }
  std::vector<const Panel*> equal, containing;
  for (const Panel& p : recorded) {
    const std::string name = lower(trimmed(p.name));
    if (name == key) equal.push_back(&p);
    if (!key.empty() && name.find(key) != std::string::npos) containing.push_back(&p);
  }
  const auto& found = equal.empty() ? containing : equal;
  if (found.size() == 1) return *found.front();
  if (found.empty())
    throw InputError(0, "--compartments: no compartment recorded is named '" + shown(item) + "'");
  std::string which;
  for (const Panel* p : found)
    which += (which.empty() ? "" : "; ") + std::to_string(p->number) + " " + shown(p->name);
  throw InputError(0, "--compartments: '" + shown(item) + "' names compartments " + which +
                          ": give the number");
}

// Returns the compartments drawn: those recorded that the summary holds,
// in the order recorded, or those picked, in the order given.
std::vector<Panel> compartments(const Database& db, const Selection& selection) {
  Query recorded(db,
                 "SELECT r.compartment, c.name FROM recorded AS r "
                 "LEFT JOIN compartment AS c ON c.compartment = r.compartment "
                 "WHERE EXISTS (SELECT 1 FROM summary AS s WHERE s.compartment = r.compartment) "
                 "ORDER BY r.position");
  std::vector<Panel> all;
  while (recorded.step()) {
    if (std::none_of(all.begin(), all.end(),
                     [&](const Panel& p) { return p.number == recorded.integer(0); }))
      all.push_back({recorded.integer(0), recorded.text(1)});
  }
  std::vector<Panel> drawn;
  for (const std::string& item : selection.compartments) {
    const Panel& p = pick(all, item);
    if (std::none_of(drawn.begin(), drawn.end(), [&](const Panel& d) { return d.number == p.number; }))
      drawn.push_back(p);
  }
  if (selection.compartments.empty()) drawn = std::move(all);
  if (drawn.size() > max_panels) {
    throw InputError(0, "more than " + std::to_string(max_panels) +
                            " compartments to draw, the most one picture holds: choose some "
                            "with --compartments");
  }
  return drawn;
}

// Returns the scenarios drawn: every one, or those chosen, in order.
std::vector<Scenario> scenarios(const Database& db, const Selection& selection) {
  std::vector<Scenario> drawn;
  if (selection.scenarios.empty()) {
    Query all(db, "SELECT scenario, label FROM scenario ORDER BY scenario");
    while (all.step()) {
      if (drawn.size() == max_panels) {
        throw InputError(0, "more than " + std::to_string(max_panels) +
                                " scenarios to draw, the most one picture holds: choose some "
                                "with --scenarios");
      }
      drawn.push_back({all.integer(0), all.text(1)});
    }
    return drawn;
  }
  Query label(db, "SELECT label FROM scenario WHERE scenario = ?");
  for (const int number : selection.scenarios) {
    if (!label.with(sqlite3_int64{number}).step()) {
      Query count(db, "SELECT count(*) FROM scenario");
      count.step();
      throw InputError(0, "--scenarios: there is no scenario " + std::to_string(number) +
                              " (the ensemble has " + std::to_string(count.integer(0)) + ")");
    }
    if (std::none_of(drawn.begin(), drawn.end(), [&](const Scenario& s) { return s.number == number; }))
      drawn.push_back({number, label.text(0)});
  }
  if (drawn.size() > max_panels) {
    throw InputError(0, "more than " + std::to_string(max_panels) +
                            " scenarios to draw, the most one picture holds: choose fewer");
  }
  return drawn;
}

// Returns the data block of a scenario.
std::string block(sqlite3_int64 scenario) { return "$scenario" + std::to_string(scenario); }

}  // namespace

bool is_database(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
         head_of(path, 16) == std::string("SQLite format 3", 16);
}

void write_ensemble(const std::string& path, const Picture& picture, const Selection& selection,
                    tools::Spool& out) {
  const Database db(path);
  check_format(db);
  Query any(db, "SELECT 1 FROM summary LIMIT 1");
  if (!any.step()) {
    throw InputError(0, "the summary is empty (the ensemble has not completed, or recorded no "
                        "compartment)");
  }
  std::vector<Panel> panels = compartments(db, selection);
  std::vector<Scenario> drawn = scenarios(db, selection);
  std::string title;
  Query setting(db, "SELECT value FROM settings WHERE key = ?");
  if (setting.with(std::string("title")).step()) title = setting.text(0);

  out.write("# Biomass against time from the ensemble database " + shown(path) +
            ", drawn by ecodyn-plot:\n# per scenario and compartment, the median over the "
            "accepted members between the\n# bands from the 5% to the 95% and from the 25% to "
            "the 75% quantile.\n# Run it again with: gnuplot SCRIPT (or set outfile = 'name' "
            "first).\n\n");
  std::map<sqlite3_int64, std::size_t> column, order;
  std::string head = "# time";
  for (std::size_t k = 0; k < panels.size(); ++k) {
    column[panels[k].number] = k;
    head += " | " + std::to_string(panels[k].number) + " " + shown(panels[k].name) + ": " +
            quantile_head;
  }
  for (std::size_t k = 0; k < drawn.size(); ++k) order[drawn[k].number] = k;

  // The summary in the order of its key, which SQLite reads without
  // sorting: a data block per scenario, a row per step, the quantiles of
  // each compartment in turn ("?" where one is missing).
  Query rows(db, std::string("SELECT scenario, step, time, compartment, ") + quantiles +
                     " FROM summary ORDER BY scenario, step, compartment");
  const std::string missing = "?";
  std::vector<std::string> cells(quantile_count * panels.size(), missing);
  std::string time;
  sqlite3_int64 scenario = 0, step = 0;
  bool open = false;
  const auto end_row = [&] {
    std::string line = time;
    for (const std::string& cell : cells) line.append(" ").append(cell);
    out.write(line + "\n");
    std::fill(cells.begin(), cells.end(), missing);
  };
  double least = INFINITY, low = INFINITY, high = 0;
  for (long count = 1; rows.step(); ++count) {
    if (count % 4096 == 0) fio::check_signal();
    const auto s = order.find(rows.integer(0));
    const auto c = column.find(rows.integer(3));
    if (s == order.end() || c == column.end()) continue;
    for (int k = 2; k < 4 + quantile_count; ++k) {
      if (k != 3 && !rows.numeric(k)) {
        throw InputError(0, "the summary holds a value that is not a number (scenario " +
                                std::to_string(rows.integer(0)) + ", step " +
                                std::to_string(rows.integer(1)) + ", compartment " +
                                std::to_string(rows.integer(3)) + ")");
      }
    }
    if (!open || rows.integer(0) != scenario || rows.integer(1) != step) {
      if (open) end_row();
      if (!open || rows.integer(0) != scenario) {
        if (open) out.write("EOD\n\n");
        scenario = rows.integer(0);
        drawn[s->second].summarized = true;
        out.write(block(scenario) + " << EOD\n" + head + "\n");
        open = true;
      }
      step = rows.integer(1);
      char t[32];
      std::snprintf(t, sizeof t, "%.9g", rows.real(2));
      time = std::isfinite(rows.real(2)) ? t : missing;
    }
    Panel& panel = panels[c->second];
    for (int q = 0; q < quantile_count; ++q) {
      const double v = rows.real(4 + q);
      cells[c->second * quantile_count + q] = number(v);
      if (!std::isfinite(v)) continue;
      panel.low = std::min(panel.low, v);
      panel.high = std::max(panel.high, v);
      least = std::min(least, v);
      if (v > 0) {
        low = std::min(low, v);
        high = std::max(high, v);
      }
    }
  }
  if (open) {
    end_row();
    out.write("EOD\n\n");
  }
  tools::Diagnostics diagnostics(path);
  std::vector<Scenario> summarized;
  for (const Scenario& s : drawn) {
    if (s.summarized)
      summarized.push_back(s);
    else
      diagnostics.warn("", 0, "scenario " + std::to_string(s.number) +
                                  " has no accepted member: it is not drawn");
  }
  if (summarized.empty()) throw InputError(0, "no scenario chosen has an accepted member");

  const bool log = logarithmic(picture.scale, low, high);
  std::string s = settings(picture, picture_size(picture, static_cast<int>(panels.size())), log,
                           least >= 0);
  s += "set multiplot layout " + std::to_string(panels.size()) + ",1" +
       (title.empty() ? "" : " title " + quoted(shown(title))) + "\n";
  const std::string range = !log && least >= 0 ? "set yrange [0:*]\n" : "set autoscale y\n";
  for (std::size_t k = 0; k < panels.size(); ++k) {
    const Panel& p = panels[k];
    const std::string around = range_around(p.low, p.high, log);
    s += "set title " + quoted(shown(std::to_string(p.number) + (p.name.empty() ? "" : " ") + p.name)) +
         "\n" + around + "plot";
    // Per scenario: the light band, the dark band over it, the median.
    const auto col = [&](int q) { return std::to_string(2 + k * quantile_count + q); };
    for (std::size_t j = 0; j < summarized.size(); ++j) {
      const Scenario& sc = summarized[j];
      const std::string data = block(sc.number), type = " linetype " + std::to_string(j + 1);
      const std::string label = sc.label.empty() ? "scenario " + std::to_string(sc.number) : sc.label;
      s += std::string(j == 0 ? " " : ", \\\n     ") + data + " using 1:" + col(0) + ":" + col(4) +
           " with filledcurves" + type + " fillstyle transparent solid 0.15 noborder notitle, \\\n     " +
           data + " using 1:" + col(1) + ":" + col(3) + " with filledcurves" + type +
           " fillstyle transparent solid 0.3 noborder notitle, \\\n     " + data + " using 1:" +
           col(2) + " with lines" + type + " title " + quoted(shown(label));
    }
    s += "\n";
    if (!around.empty()) s += range;
  }
  s += "unset multiplot\nset output\n";
  out.write(s);
}

}  // namespace ecodyn::plot
