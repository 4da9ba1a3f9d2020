// The tables of a report or snapshot file as CSV text (RFC 4180), written
// as the reader hands the rows over.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "common/report_reader.h"
#include "common/spool.h"

namespace ecodyn::csv {

using tools::Cycle;

// Returns a field quoted as RFC 4180 requires: in double quotes, with each
// double quote doubled, when it holds a comma, a double quote or a line end.
std::string field(std::string_view text);

// Returns a value in the manner of the E14.7 editing of the writer, with a
// 0 before the decimal point: "0.5000000E+03"; "Inf", "-Inf" or "NaN" for a
// value that is not finite.
std::string seven_digits(float v);

// Receives the records of a table, one call each, without the line end.
using Put = std::function<void(std::string_view record)>;

// The tables of the cycles handed over: the records of the table go to the
// spool body as the rows come, since the head of the wide table depends on
// every cycle; the extinctions go to the spool events, if given.
//
// The wide table: "GROUP,time", then one column per tabulated compartment
// headed "number name". The columns are those of the first table with their
// repetitions in the order given; a later table that tabulates other
// compartments adds columns, and its rows leave the columns it lacks empty.
// The tidy table: "GROUP,time,compartment,name,biomass", one record per row
// and compartment (a compartment tabulated twice gives one record). The
// extinctions: "cycle,time,compartment,name". group: "cycle" or "snapshot";
// a table of snapshots begins with a column "cycle", the cycle of the run
// that wrote each snapshot (see run_cycle).
class Tables : public tools::ReportHandler {
 public:
  // The most columns of a wide table; more throw InputError.
  static constexpr std::size_t max_columns = 10000;

  Tables(const char* group, bool tidy, tools::Spool& body, tools::Spool* events);

  void table(const Cycle& cycle) override;
  void row(const Cycle& cycle, const tools::TableRow& row) override;
  void extinction(const Cycle& cycle, const tools::Extinction& extinction) override;

  // Sets the cycle of the run that wrote the snapshots handed over next.
  void run_cycle(int cycle) { run_cycle_ = cycle; }

  // Hands the table to put, head first.
  void write_table(const Put& put);
  // Hands the extinctions to put, head first.
  void write_events(const Put& put);

 private:
  // A column of the wide table: a compartment (number and name) and which
  // of its repetitions in the head it is.
  using Key = std::tuple<int, std::string, int>;

  std::string group_;
  bool tidy_;
  int run_cycle_ = 0;
  tools::Spool& body_;
  tools::Spool* events_;
  std::string head_;
  std::map<Key, std::size_t> index_;  // the column of each key
  std::vector<std::size_t> places_;   // the column of each value of the current table
};

}  // namespace ecodyn::csv
