// ecodyn-import: converts a flow network from the SCOR exchange format into
// a network file that ecodyn reads.
#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "convert.h"
#include "common/command_line.h"
#include "common/diagnostics.h"
#include "fio/fio.h"
#include "network/loader.h"
#include "network_output.h"
#include "common/output_file.h"
#include "common/replaceable.h"
#include "common/scor_reader.h"

namespace {

using namespace ecodyn::import;
using ecodyn::tools::OutputFile;
using ecodyn::tools::Warnings;

constexpr int exit_failure = fio::exit_bad_io;
// Any unit but the terminal's and ecodyn's own.
constexpr auto output_unit = static_cast<fio::Unit>(20);

// The most a SCOR file is read into memory: a network of 75 compartments
// with every flow and a long comment head takes well under a megabyte.
constexpr std::size_t input_limit = 16 << 20;

// Returns the whole content of the input ("-": standard input), or nothing
// after a diagnostic; an input beyond input_limit is refused once that much
// has been read.
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
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
    text.append(buf, n);
    if (text.size() > input_limit) {
      if (!stdin_input) std::fclose(f);
      complain("cannot read " + path + ": larger than " + std::to_string(input_limit >> 20) +
               " MB, more than any network of ecodyn's size holds");
      return std::nullopt;
    }
  }
  const bool failed = std::ferror(f) != 0;
  const int error = errno;
  if (!stdin_input) std::fclose(f);
  if (failed) {
    complain("cannot read " + path + ": " + std::strerror(error ? error : EIO));
    return std::nullopt;
  }
  return text;
}

// Tells, when ecodyn will find the network not balanced, by how much and
// which balance_digits would pass.
void note_imbalance(const ImportedNetwork& net, int digits, Diagnostics& diagnostics) {
  const Imbalance largest = largest_imbalance(net);
  const float tolerance = ecodyn::balance_tolerance(digits);
  if (largest.magnitude == 0.0f || largest.magnitude < tolerance) return;
  std::string name(net.names.name(largest.compartment)[0].data(), name_width);
  name.erase(name.find_last_not_of(' ') + 1);
  const std::optional<int> passing = passing_balance_digits(largest.magnitude);
  char text[400];
  std::snprintf(text, sizeof text,
                "the largest imbalance, %.7g in compartment %d (%s), %s the tolerance %g: ecodyn "
                "will report the network NOT BALANCED; %s",
                largest.magnitude, largest.compartment, name.c_str(),
                largest.magnitude > tolerance ? "exceeds" : "equals", tolerance,
                passing ? ("--balance-digits " + std::to_string(*passing) + " would pass").c_str()
                        : "no --balance-digits would pass");
  diagnostics.warn("imbalances", 0, text);
  // A tolerance that wide lets flows of that size go missing unnoticed.
  const float flow = largest_flow(net);
  if (passing && ecodyn::balance_tolerance(*passing) > flow / 1000.0f) {
    std::snprintf(text, sizeof text,
                  "the tolerance of --balance-digits %d, %g, is wider than a thousandth of the "
                  "largest flow, %.7g: with it the network is balanced only in name",
                  *passing, ecodyn::balance_tolerance(*passing), flow);
    diagnostics.warn("tolerances are wider than a thousandth of the largest flow", 0, text);
  }
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
file, and entries given twice (the later one is kept): one line for each kind,
with the count and the first lines affected (--verbose: every warning;
--quiet: none). Then the importer checks the balance of every compartment as
ecodyn will, in single precision on the values written; when the largest
imbalance is not below the tolerance of --balance-digits, it says so and
names the largest --balance-digits with which ecodyn would find the network
balanced. Any error leaves no output file (an existing one is kept as it
was).

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
  bool verbose = false, quiet = false;
  CLI::Option* verbose_option =
      app.add_flag("--verbose", verbose, "write every warning, not one line for each kind");
  app.add_flag("--quiet", quiet, "write no warnings and no balance note, only errors")
      ->excludes(verbose_option);
  if (const auto status = ecodyn::tools::parse_command_line(app, argc, argv, footer)) {
    return *status;
  }
  const std::optional<int> balance_digits =
      digits_option->count() > 0 ? std::optional<int>(digits) : std::nullopt;

  return fio::run([&] {
    const auto text = slurp(input);
    if (!text) return exit_failure;
    Diagnostics diagnostics(input == "-" ? "standard input" : input,
                            quiet     ? Warnings::none
                            : verbose ? Warnings::each
                                      : Warnings::summary);
    ImportedNetwork net;
    try {
      net = convert(read_scor(*text, diagnostics), diagnostics);
    } catch (const InputError& e) {
      diagnostics.summarize();
      diagnostics.error(e.line(), e.what());
      return exit_failure;
    }
    note_imbalance(net, balance_digits.value_or(0), diagnostics);
    diagnostics.summarize();

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
    if (!ecodyn::tools::replaceable(output, {input}, error) ||
        !file.open(output_unit, output, error)) {
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

