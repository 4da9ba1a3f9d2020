#include "csv.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <set>

namespace ecodyn::csv {
namespace {

std::string number_and_name(const tools::Column& c) {
  return c.name.empty() ? std::to_string(c.number) : std::to_string(c.number) + " " + c.name;
}

// Hands the records of a spool to put, each one given the empty fields it
// lacks up to width fields (width 0: as it is).
void copy_records(tools::Spool& spool, std::size_t width, const Put& put) {
  spool.rewind();
  std::string record;
  while (spool.read_line(record)) {
    // The records of the body hold numbers alone: a comma ends each field.
    const std::size_t fields = static_cast<std::size_t>(std::count(record.begin(), record.end(), ',')) + 1;
    if (fields < width) record.append(width - fields, ',');
    put(record);
  }
}

}  // namespace

std::string field(std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
  std::string q = "\"";
  for (char c : text) {
    if (c == '"') q += '"';
    q += c;
  }
  return q + "\"";
}

std::string seven_digits(float v) {
  if (std::isnan(v)) return "NaN";
  if (std::isinf(v)) return v < 0 ? "-Inf" : "Inf";
  if (v == 0.0f) return "0.0000000E+00";
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.6E", static_cast<double>(std::fabs(v)));  // "5.000000E+02"
  const std::string s = buf;
  const int power = std::atoi(s.c_str() + 9) + 1;
  std::snprintf(buf, sizeof buf, "%s0.%c%sE%c%02d", v < 0 ? "-" : "", s[0], s.substr(2, 6).c_str(),
                power < 0 ? '-' : '+', std::abs(power));
  return buf;
}

Tables::Tables(const char* group, bool tidy, tools::Spool& body, tools::Spool* events)
    : group_(group), tidy_(tidy), body_(body), events_(events) {
  head_ = (group_ == "snapshot" ? "cycle," : "") + group_ +
          (tidy ? ",time,compartment,name,biomass" : ",time");
}

void Tables::table(const Cycle& cycle) {
  if (tidy_) return;
  places_.clear();
  std::map<std::pair<int, std::string>, int> seen;
  for (const tools::Column& col : cycle.columns) {
    const Key key{col.number, col.name, seen[{col.number, col.name}]++};
    auto [it, added] = index_.emplace(key, index_.size());
    if (added) {
      if (index_.size() > max_columns) {
        throw tools::InputError(cycle.line,
                                "the cycles tabulate more than " + std::to_string(max_columns) +
                                    " different columns, too many for one table: --long writes "
                                    "one record per compartment");
      }
      head_.append(",").append(field(number_and_name(col)));
    }
    places_.push_back(it->second);
  }
}

void Tables::row(const Cycle& cycle, const tools::TableRow& row) {
  const std::string start = (group_ == "snapshot" ? std::to_string(run_cycle_) + "," : "") +
                            std::to_string(cycle.number) + "," + row.time;
  if (tidy_) {
    std::set<int> done;
    for (std::size_t k = 0; k < row.values.size(); ++k) {
      const tools::Column& col = cycle.columns[k];
      if (!done.insert(col.number).second) continue;
      body_.write(start + "," + std::to_string(col.number) + "," + field(col.name) + "," +
                  row.values[k] + "\n");
    }
    return;
  }
  // The columns known so far; those added later are filled in at the end.
  std::vector<const std::string*> cells(index_.size(), nullptr);
  for (std::size_t k = 0; k < row.values.size(); ++k) cells[places_[k]] = &row.values[k];
  std::string line = start;
  for (const std::string* v : cells) line.append(",").append(v != nullptr ? *v : "");
  body_.write(line + "\n");
}

void Tables::extinction(const Cycle& cycle, const tools::Extinction& e) {
  if (events_ == nullptr) return;
  events_->write(std::to_string(cycle.number) + "," + e.time + "," +
                 std::to_string(e.compartment.number) + "," + field(e.compartment.name) + "\n");
}

void Tables::write_table(const Put& put) {
  put(head_);
  copy_records(body_, tidy_ ? 0 : index_.size() + (group_ == "snapshot" ? 3 : 2), put);
}

void Tables::write_events(const Put& put) {
  put("cycle,time,compartment,name");
  if (events_ != nullptr) copy_records(*events_, 0, put);
}

}  // namespace ecodyn::csv
