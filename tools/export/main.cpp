// ecodyn-export: lists the network descriptions of a network file or a
// snapshot file and writes one of them as SCOR or as an ordinary
// steady-state network file.
#include <sys/stat.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/command_line.h"
#include "common/diagnostics.h"
#include "common/output_file.h"
#include "common/replaceable.h"
#include "common/description.h"
#include "fio/fio.h"
#include "network/writer.h"
#include "scor_output.h"

namespace {

using namespace ecodyn::exporter;
using ecodyn::tools::NetworkValues;
using ecodyn::tools::read_description;
using ecodyn::tools::complain;
using ecodyn::tools::Diagnostics;
using ecodyn::tools::InputError;
using ecodyn::tools::OutputFile;

constexpr int exit_failure = fio::exit_bad_io;
constexpr fio::Unit input_unit = fio::network_file;
// Any unit but the terminal's and ecodyn's own.
constexpr auto output_unit = static_cast<fio::Unit>(20);

constexpr const char* description =
    "Lists the network descriptions of an ecodyn network file or snapshot file, and writes one "
    "of them as a SCOR network or as an ordinary steady-state network file.";

constexpr const char* footer =
    R"(--network writes the description as a steady-state network: model type and
time blank, the restart columns of a snapshot dropped, and only positive
values listed. A network balanced by a run of ecodyn (model type 2, snapshot
at the end) thus becomes a steady state that ecodyn checks for balance and
derives every model type from afresh.

--scor writes it in the SCOR exchange format that ecodyn-import reads, the
values with seven significant digits.

The description written is the last one of the file unless --index or --time
picks another (--time: the last description at that time, to the three
decimals of the counts record, or else the nearest within half the spacing
of the times in the file, with a warning). Any error leaves no output file (an existing
one is kept as it was).

Exit status: 0 when the list or the description was written, 2 otherwise.)";

// One row of the list.
struct Row {
  int index, line, ncomp, nliv, mtype;
  float time;
  std::string title;
};

void list(fio::Unit unit, const std::vector<Row>& rows) {
  fio::write(unit, "(' INDEX  LINE  NCOMP  NLIV  TYPE        TIME  TITLE')");
  for (const Row& r : rows) {
    const fio::ConstChars title{r.title.data(), static_cast<int>(r.title.size())};
    if (r.mtype > 0) {
      fio::write(unit, "(I6,I6,I7,I6,I6,F12.3,2X,A)", r.index, r.line, r.ncomp, r.nliv,
                 r.mtype, r.time, title);
    } else {
      fio::write(unit, "(I6,I6,I7,I6,20X,A)", r.index, r.line, r.ncomp, r.nliv, title);
    }
  }
}


void write(fio::Unit unit, const NetworkValues& net, const std::string& scor_text) {
  if (!scor_text.empty()) {
    write_scor(unit, scor_text);
  } else {
    ecodyn::write_network(unit, net.as_ordinary());
  }
}

struct Options {
  std::string input, output;
  bool list = false, scor = false, network = false;
  int index = 0;  // 0: not given
  double time = 0;
  bool by_time = false;
};

int run(const Options& o) {
  struct stat st;
  const int reason = stat(o.input.c_str(), &st) != 0 ? errno : S_ISDIR(st.st_mode) ? EISDIR : 0;
  if (reason != 0) {
    complain("cannot read " + o.input + ": " + std::strerror(reason));
    return exit_failure;
  }
  if (!fio::connect(input_unit, o.input.c_str(), true)) {
    complain("cannot read " + o.input + ": " + std::strerror(errno ? errno : EIO));
    return exit_failure;
  }

  Diagnostics diagnostics(o.input);
  static NetworkValues net;
  static ecodyn::tools::Choice choice(o.index, o.by_time ? std::optional<double>(o.time)
                                                         : std::nullopt);
  const NetworkValues* chosen = nullptr;
  std::vector<Row> rows;
  std::string scor_text;  // the SCOR text of the chosen description, when it is asked for
  try {
    int count = 0;
    while (read_description(input_unit, net)) {
      ++count;
      rows.push_back({count, net.line, net.ncomp, net.nliv, net.mtype, net.time, net.title()});
      choice.offer(count, net);
    }
    const int last = fio::records_read(input_unit);
    if (count == 0) throw InputError(last, "the file holds no network description");
    chosen = choice.chosen();
    char t[32];
    std::snprintf(t, sizeof t, "%.3f", o.time);
    if (!o.list && chosen == nullptr) {
      const std::string held = "the file ends after " + std::to_string(count) +
                               " network description" + (count == 1 ? "" : "s");
      if (o.index > 0) {
        throw InputError(last, held + "; there is no description " + std::to_string(o.index));
      }
      throw InputError(last, held + "; none is at time " + t +
                                 " or within half the spacing of their times");
    }
    if (!o.list && choice.nearest()) {
      char at[32];
      std::snprintf(at, sizeof at, "%.3f", static_cast<double>(chosen->time));
      diagnostics.warn("", chosen->line,
                       std::string("no description is at time ") + t + "; the nearest, at " + at +
                           ", is taken");
    }
    if (o.scor) {
      check_scor_texts(*chosen);
      scor_text = scor(*chosen);
      check_reads_back(*chosen, scor_text);
    }
  } catch (const InputError& e) {
    diagnostics.error(e.line(), e.what());
    return exit_failure;
  }

  const auto emit = [&](fio::Unit unit) {
    if (o.list) {
      list(unit, rows);
    } else {
      write(unit, *chosen, scor_text);
    }
  };
  if (o.output.empty() || o.output == "-") {
    emit(fio::terminal);
  } else {
    OutputFile file;
    std::string error;
    if (!ecodyn::tools::replaceable(o.output, {o.input}, error) ||
        !file.open(output_unit, o.output, error)) {
      complain(error);
      return exit_failure;
    }
    emit(output_unit);
    if (!file.commit(error)) {
      complain(error);
      return exit_failure;
    }
    return fio::exit_normal;
  }
  errno = 0;
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    complain(std::string("cannot write standard output: ") + std::strerror(errno ? errno : EIO));
    return exit_failure;
  }
  return fio::exit_normal;
}

}  // namespace

int main(int argc, char** argv) {
  fio::set_program_name("ecodyn-export");

  CLI::App app{description, "ecodyn-export"};
  Options o;
  app.add_option("INPUT", o.input, "network file or snapshot file to read")->required();
  CLI::Option* list = app.add_flag("--list", o.list,
                                   "list the descriptions: index, line of the title, counts, "
                                   "model type and time of a snapshot, title");
  CLI::Option* scor = app.add_flag("--scor", o.scor, "write the description as SCOR");
  CLI::Option* network =
      app.add_flag("--network", o.network, "write the description as an ordinary network file");
  list->excludes(scor, network);
  scor->excludes(network);
  CLI::Option* index = app.add_option("--index", o.index, "the description to write, from 1")
                           ->check(CLI::PositiveNumber);
  CLI::Option* time =
      app.add_option("--time", o.time, "the description to write: the snapshot at this time");
  index->excludes(time);
  app.add_option("-o,--output", o.output, "file to write (default: standard output)");
  const auto status = ecodyn::tools::parse_command_line(app, argc, argv, footer, [&] {
    if (!o.list && !o.scor && !o.network) {
      throw CLI::RequiredError("one of --list, --scor and --network");
    }
  });
  if (status) return *status;
  o.by_time = time->count() > 0;

  return fio::run([&] { return run(o); });
}
