// Ensembles split over many processes or machines: the shard a run takes,
// the members a run still has to run (a shard's, those missing from a
// database it resumes), and the merge of the parts into the database a
// single run writes.
#pragma once

#include <csignal>
#include <functional>
#include <string>
#include <vector>

#include "database.h"
#include "plan.h"

namespace ecodyn::ensemble {

// Shards I of N, for every I in `indices` (increasing; one for a run).
struct Shard {
  std::vector<long long> indices{1};
  long long count = 1;
  // Returns true when member k is one of these shards': (k - 1) mod N = I - 1.
  bool holds(long long k) const;
};

// Returns the shard of text 'I/N' (or 'I,J,.../N' when `list`); throws
// ScenarioError when it is not one, or an index is out of 1..N.
Shard parse_shard(const std::string& text, bool list = false);

// Returns 'I/N' or 'I,J,.../N'.
std::string shard_text(const Shard& s);

// Returns the members of shard s (one index) among members 1..total that
// are not in `present` (increasing), as ranges stepping by N.
std::vector<Members> members_of_shard(const Shard& s, long long total,
                                      const std::vector<long long>& present = {});

// Returns the members a database holds, in increasing order.
std::vector<long long> stored_members(Database& db);

// Throws DatabaseError unless db is an ensemble database of format 1.
void check_format(Database& db);

// Returns "" when a database of settings `stored` may be resumed by a run
// of settings `wanted` (equal but for `program`), else what differs, e.g.
// "the database was made with --draws 100, not 200".
std::string resume_difference(const Settings& stored, const Settings& wanted);

// What a merge has written.
struct Merged {
  long long members = 0, rows = 0;
  std::string shard;
};

// Merges the parts into a new database at output (which the caller has
// checked may be replaced), written next to it and renamed into place.
// Without `partial`, every member of the ensemble must be there. The
// summary is written by `summarize` (false when it was stopped) on the
// output, as a single run writes it. Throws ScenarioError for parts that
// cannot be merged, DatabaseError for a file that cannot be read or
// written; stops, leaving nothing, when *stop becomes non-zero.
Merged merge(const std::vector<std::string>& parts, const std::string& output, bool partial,
             const volatile std::sig_atomic_t* stop,
             const std::function<bool(Database&)>& summarize);

}  // namespace ecodyn::ensemble
