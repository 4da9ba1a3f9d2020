// The gnuplot script that draws an ensemble database of ecodyn-ensemble:
// one panel per compartment recorded, and in each, per scenario, the median
// over the accepted members as a line between two bands, from the 5% to the
// 95% and from the 25% to the 75% quantile. The database is opened read-only
// and its summary read once, as a stream, into data blocks of numbers; every
// text it holds reaches gnuplot as an escaped string.
#pragma once

#include <string>
#include <vector>

#include "common/spool.h"
#include "script.h"

namespace ecodyn::plot {

// The format of ensemble databases this program reads (PRAGMA user_version).
constexpr int ensemble_format = 1;

// Returns true if path names a regular file that begins as an SQLite
// database does ("SQLite format 3" and a zero byte). A pipe or a device is
// not looked into: it is read as a report.
bool is_database(const std::string& path);

// What of the ensemble is drawn: compartments by number or name, and
// scenarios by number, each in the order given; empty: all, in the order
// recorded.
struct Selection {
  std::vector<std::string> compartments;
  std::vector<int> scenarios;
};

// Writes the whole script that draws the ensemble database at path to out.
// Throws InputError (line 0) for a file that is not an ensemble database of
// the format read, an empty summary, a selection that names what the
// database does not hold, more than max_panels panels or scenarios to draw,
// or a database that cannot be read. Warns of a scenario chosen that has no
// accepted member (it is not drawn).
void write_ensemble(const std::string& path, const Picture& picture, const Selection& selection,
                    tools::Spool& out);

}  // namespace ecodyn::plot
