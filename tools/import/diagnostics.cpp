#include "diagnostics.h"

#include <cstdio>

namespace ecodyn::import {
namespace {

void message(const std::string& file, int line, const char* kind, const std::string& text) {
  std::fflush(stdout);
  if (line > 0) {
    std::fprintf(stderr, "ecodyn-import: %s, line %d: %s%s\n", file.c_str(), line, kind,
                 text.c_str());
  } else {
    std::fprintf(stderr, "ecodyn-import: %s: %s%s\n", file.c_str(), kind, text.c_str());
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
  std::fprintf(stderr, "ecodyn-import: %s\n", text.c_str());
}

}  // namespace ecodyn::import
