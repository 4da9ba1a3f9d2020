// Fuzz target for the reader of network descriptions that the companion
// programs share, and for both ways out of it that must read back:
//
// - as an ordinary network file (ecodyn-export --network): writing what was
//   read and reading it again gives the same records when written once more;
// - as SCOR (ecodyn-export --scor): when the exporter accepts a description,
//   the importer reads its SCOR text, converts it and writes a network file
//   that the reader takes back with the same title, counts, names and values
//   to the seven significant digits of the network file.
//
// A refused input (InputError, or the record layer's stop for a record that
// cannot be read) is an expected outcome; a broken round trip aborts, and so
// does anything else that escapes. libFuzzer's interface, run by AFL++'s
// persistent driver.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "common/description.h"
#include "common/diagnostics.h"
#include "common/number.h"
#include "common/scor_reader.h"
#include "convert.h"
#include "fio/fio.h"
#include "network/writer.h"
#include "network_output.h"
#include "scor_output.h"

namespace {

using namespace ecodyn;
using tools::NetworkValues;

constexpr auto input_unit = static_cast<fio::Unit>(30);
constexpr auto copy_unit = static_cast<fio::Unit>(31);
// A description of 75 compartments with every flow is far smaller.
constexpr std::size_t input_limit = 256 * 1024;

std::string scratch(const char* name) {
  static const std::string dir = [] {
    char templ[] = "/dev/shm/ecodyn-fuzz-description.XXXXXX";
    if (mkdtemp(templ) == nullptr) std::abort();
    return std::string(templ);
  }();
  return dir + "/" + name;
}

void write_text(const std::string& path, std::string_view text) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr || std::fwrite(text.data(), 1, text.size(), f) != text.size()) std::abort();
  std::fclose(f);
}

std::string read_text(const std::string& path) {
  std::string text;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) std::abort();
  char buf[8192];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
  std::fclose(f);
  return text;
}

[[noreturn]] void broken(const char* what) {
  std::fprintf(stderr, "description_target: broken round trip: %s\n", what);
  std::abort();
}

// Writes one description as an ordinary network file and returns its text.
std::string ordinary(const NetworkValues& net) {
  const std::string path = scratch("ordinary.net");
  if (!fio::connect(copy_unit, path.c_str(), false)) std::abort();
  write_network(copy_unit, net.as_ordinary());
  fio::close(copy_unit);
  return read_text(path);
}

// Reads the one description of a text the program itself wrote.
NetworkValues read_back(const std::string& text) {
  const std::string path = scratch("back.net");
  write_text(path, text);
  if (!fio::connect(copy_unit, path.c_str(), true)) std::abort();
  static NetworkValues back;
  bool read = false;
  try {
    read = tools::read_description(copy_unit, back);
  } catch (const tools::InputError& e) {
    std::fprintf(stderr, "%s\n", e.what());
    broken("a network file the program wrote is refused");
  } catch (const fio::Stop&) {
    broken("a network file the program wrote cannot be read");
  }
  fio::close(copy_unit);
  if (!read) broken("a network file the program wrote holds no description");
  return back;
}

// Returns a title or name as SCOR carries it: blanks (a tab included) at
// both ends removed, the others as spaces.
std::string blanked(std::string s) {
  for (char& c : s)
    if (c == '\t' || c == '\f' || c == '\v') c = ' ';
  const std::size_t first = s.find_first_not_of(' ');
  return first == std::string::npos ? "" : s.substr(first, s.find_last_not_of(' ') - first + 1);
}

// Only positive values are listed in SCOR: a negative biomass (which
// ecodyn refuses once it derives a model) comes back as none.
bool same7(float back, float v) { return import::e14_7(back) == import::e14_7(v > 0.0f ? v : 0.0f); }

void check_scor(const NetworkValues& net) {
  std::string text;
  try {
    exporter::check_scor_texts(net);
    text = exporter::scor(net);
    exporter::check_reads_back(net, text);
  } catch (const tools::InputError&) {
    return;  // the exporter refuses it
  }
  tools::Diagnostics quiet("scor", tools::Warnings::none);
  import::ImportedNetwork imported;
  try {
    imported = import::convert(import::read_scor(text, quiet), quiet);
  } catch (const tools::InputError& e) {
    std::fprintf(stderr, "%s\n", e.what());
    broken("the importer refuses what the exporter wrote");
  }
  const std::string path = scratch("imported.net");
  if (!fio::connect(copy_unit, path.c_str(), false)) std::abort();
  import::write_network(copy_unit, imported, std::nullopt);
  fio::close(copy_unit);
  const NetworkValues& back = read_back(read_text(path));
  if (blanked(back.title()) != blanked(net.title())) broken("the title");
  if (back.ncomp != net.ncomp || back.nliv != net.nliv) broken("the counts");
  for (int i = 1; i <= net.ncomp; ++i) {
    if (blanked(back.name(i)) != blanked(net.name(i))) broken("a name");
    if (!same7(back.biomass(i), net.biomass(i)) || !same7(back.inputs(i), net.inputs(i)) ||
        !same7(back.exports(i), net.exports(i)) ||
        !same7(back.respirations(i), net.respirations(i))) {
      broken("a value of a compartment");
    }
    for (int j = 1; j <= net.ncomp; ++j)
      if (!same7(back.exchange(i, j), net.exchange(i, j))) broken("a flow");
  }
}

void check(const NetworkValues& net) {
  // Negative values are left out of an ordinary network file; the values a
  // writer lists once are the values it lists again.
  const std::string once = ordinary(net);
  if (ordinary(read_back(once)) != once) broken("an ordinary network written again differs");
  check_scor(net);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > input_limit) return 0;
  const std::string input_path = scratch("input.net");
  write_text(input_path, std::string_view(reinterpret_cast<const char*>(data), size));
  if (!fio::connect(input_unit, input_path.c_str(), true)) std::abort();
  static NetworkValues net;
  try {
    while (tools::read_description(input_unit, net)) check(net);
  } catch (const tools::InputError&) {
  } catch (const fio::Stop&) {
  }
  fio::close(input_unit);
  return 0;
}
