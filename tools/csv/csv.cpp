#include "csv.h"

#include <map>
#include <set>
#include <tuple>

namespace ecodyn::csv {
namespace {

std::string number_and_name(const tools::Column& c) {
  return c.name.empty() ? std::to_string(c.number) : std::to_string(c.number) + " " + c.name;
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

std::vector<std::string> wide(const std::vector<Cycle>& cycles, const char* group) {
  // A column is a compartment (number and name) and which of its
  // repetitions in the head it is.
  using Key = std::tuple<int, std::string, int>;
  std::map<Key, std::size_t> index;
  std::string head = std::string(group) + ",time";
  std::vector<std::vector<std::size_t>> places(cycles.size());
  for (std::size_t c = 0; c < cycles.size(); ++c) {
    std::map<std::pair<int, std::string>, int> seen;
    for (const tools::Column& col : cycles[c].columns) {
      const Key key{col.number, col.name, seen[{col.number, col.name}]++};
      auto [it, added] = index.emplace(key, index.size());
      if (added) head.append(",").append(field(number_and_name(col)));
      places[c].push_back(it->second);
    }
  }
  std::vector<std::string> out{head};
  for (std::size_t c = 0; c < cycles.size(); ++c) {
    for (const tools::TableRow& row : cycles[c].rows) {
      std::vector<std::string> cells(index.size());
      for (std::size_t k = 0; k < row.values.size(); ++k) cells[places[c][k]] = row.values[k];
      std::string line = std::to_string(cycles[c].number) + "," + row.time;
      for (const std::string& v : cells) line.append(",").append(v);
      out.push_back(std::move(line));
    }
  }
  return out;
}

std::vector<std::string> tidy(const std::vector<Cycle>& cycles, const char* group) {
  std::vector<std::string> out{std::string(group) + ",time,compartment,name,biomass"};
  for (const Cycle& c : cycles) {
    for (const tools::TableRow& row : c.rows) {
      std::set<int> done;
      for (std::size_t k = 0; k < row.values.size(); ++k) {
        const tools::Column& col = c.columns[k];
        if (!done.insert(col.number).second) continue;
        out.push_back(std::to_string(c.number) + "," + row.time + "," + std::to_string(col.number) +
                      "," + field(col.name) + "," + row.values[k]);
      }
    }
  }
  return out;
}

std::vector<std::string> events(const std::vector<Cycle>& cycles) {
  std::vector<std::string> out{"cycle,time,compartment,name"};
  for (const Cycle& c : cycles) {
    for (const tools::Extinction& e : c.extinctions) {
      out.push_back(std::to_string(c.number) + "," + e.time + "," +
                    std::to_string(e.compartment.number) + "," + field(e.compartment.name));
    }
  }
  return out;
}

}  // namespace ecodyn::csv
