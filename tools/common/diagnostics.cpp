#include "diagnostics.h"

#include <cstdio>

#include "fio/fio.h"

namespace ecodyn::tools {
namespace {

void message(const std::string& file, int line, const char* kind, const std::string& text) {
  std::fflush(stdout);
  if (line > 0) {
    std::fprintf(stderr, "%s: %s, line %d: %s%s\n", fio::program_name(), file.c_str(), line, kind,
                 text.c_str());
  } else {
    std::fprintf(stderr, "%s: %s: %s%s\n", fio::program_name(), file.c_str(), kind, text.c_str());
  }
}

}  // namespace

void Diagnostics::warn(int line, const std::string& text) {
  ++warnings_;
  message(file_, line, "warning: ", text);
}

void Diagnostics::error(int line, const std::string& text) const { message(file_, line, "", text); }

void complain(const std::string& text) {
  std::fflush(stdout);
  std::fprintf(stderr, "%s: %s\n", fio::program_name(), text.c_str());
}

}  // namespace ecodyn::tools
