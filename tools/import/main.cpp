// ecodyn-import: converts a flow network from the SCOR exchange format into
// a network file that ecodyn reads.
#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "convert.h"
#include "common/diagnostics.h"
#include "fio/fio.h"
#include "network_output.h"
#include "common/output_file.h"
#include "scor_reader.h"

namespace {

using namespace ecodyn::import;
using ecodyn::tools::OutputFile;

constexpr int exit_failure = fio::exit_bad_io;
// Any unit but the terminal's and ecodyn's own.
constexpr auto output_unit = static_cast<fio::Unit>(20);

// Returns the whole content of the input ("-": standard input), or nothing
// after a diagnostic.
std::optional<std::string> slurp(const std::string& path) {
  const bool stdin_input = path == "-";
  std::FILE* f = stdin_input ? stdin : std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    complain("cannot read " + path + ": " + std::strerror(errno));
    return std::nullopt;
  }
  std::string text;
  char buf[65536];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
  const bool failed = std::ferror(f) != 0;
  const int error = errno;
  if (!stdin_input) std::fclose(f);
  if (failed) {
    complain("cannot read " + path + ": " + std::strerror(error ? error : EIO));
    return std::nullopt;
  }
  return text;
}

constexpr const char* description =
    "Converts a steady-state flow network from the SCOR exchange format into a network file "
    "for ecodyn.";

constexpr const char* footer =
    R"(The SCOR file holds a title line; a line with the number of compartments and
the number of living ones; one name per line, living compartments first; the
biomass, input, export and respiration sections of "compartment value" lines,
each ended by a line -1; and the flow section of "from to value" lines, ended
by -1. Values may be separated by any blanks; a section may list only some
compartments (the others are zero); exponents may be written the Fortran way
(1.2-4, 3.5+2, 1.5D3); flows from a compartment to itself are kept; a number
after the title, set off by two or more blanks or on a line of its own, is
dropped; blank lines, trailing blanks and CRLF line ends are accepted, and so
are lines beginning with # before the title.

Warnings go to standard error for titles cut to 78 characters, names cut to
25, values that lose digits in the seven significant digits of the network
file, and entries given twice (the later one is kept). Any error leaves no
output file (an existing one is kept as it was).

Exit status: 0 when the network was written (warnings or not), 2 otherwise.)";

}  // namespace

int main(int argc, char** argv) {
  fio::set_program_name("ecodyn-import");

  CLI::App app{description, "ecodyn-import"};
  std::string input, output;
  int digits = 0;
  app.add_option("INPUT", input, "SCOR file to read (- for standard input)")->required();
  app.add_option("-o,--output", output, "network file to write (default: standard output)");
  CLI::Option* digits_option =
      app.add_option("--balance-digits", digits,
                     "balance_digits of the network file: ecodyn accepts a compartment as "
                     "balanced when inflow and outflow differ by less than 10^(1-N) flow units "
                     "(default blank, that is 0.001)")
          ->check(CLI::Range(-9, 99));
  app.set_version_flag("--version", std::string("ecodyn-import ") + ECODYN_VERSION);
  app.footer(footer);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : exit_failure;
  }
  const std::optional<int> balance_digits =
      digits_option->count() > 0 ? std::optional<int>(digits) : std::nullopt;

  return fio::run([&] {
    const auto text = slurp(input);
    if (!text) return exit_failure;
    Diagnostics diagnostics(input == "-" ? "standard input" : input);
    ImportedNetwork net;
    try {
      net = convert(read_scor(*text, diagnostics), diagnostics);
    } catch (const InputError& e) {
      diagnostics.error(e.line(), e.what());
      return exit_failure;
    }

    if (output.empty() || output == "-") {
      write_network(fio::terminal, net, balance_digits);
      errno = 0;
      if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        complain(std::string("cannot write standard output: ") +
                 std::strerror(errno ? errno : EIO));
        return exit_failure;
      }
      return fio::exit_normal;
    }
    OutputFile file;
    std::string error;
    if (!file.open(output_unit, output, error)) {
      complain(error);
      return exit_failure;
    }
    write_network(output_unit, net, balance_digits);
    if (!file.commit(error)) {
      complain(error);
      return exit_failure;
    }
    return fio::exit_normal;
  });
}

