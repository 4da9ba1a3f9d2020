// Fuzz target for the importer's SCOR reader and its conversion to the
// network-file records. Refusing the input (InputError) is an expected
// outcome; anything else that escapes, or a sanitizer report, is a finding.
// Built with -fsanitize=fuzzer: libFuzzer's interface, run by AFL++'s driver
// (persistent mode; a file argument runs that file once).
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "convert.h"
#include "common/diagnostics.h"
#include "common/scor_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ecodyn::import;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  Diagnostics diagnostics("fuzz input");
  try {
    const ImportedNetwork net = convert(read_scor(text, diagnostics), diagnostics);
    (void)net;
  } catch (const InputError&) {
  }
  return 0;
}
