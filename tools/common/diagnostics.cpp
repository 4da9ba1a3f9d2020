#include "diagnostics.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstdio>
#include <string>

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

void Diagnostics::warn(const std::string& kind, int line, const std::string& text) {
  if (shown_ == Warnings::each) message(file_, line, "warning: ", text);
  if (shown_ != Warnings::summary) return;
  auto k = std::find_if(kinds_.begin(), kinds_.end(), [&](const Kind& c) { return c.name == kind; });
  if (k == kinds_.end()) k = kinds_.insert(kinds_.end(), Kind{kind, 0, {}, line, text});
  ++k->count;
  if (line > 0) k->lines.insert(line);
}

void Diagnostics::summarize() {
  constexpr std::size_t lines_named = 3;
  for (const Kind& k : kinds_) {
    if (k.count == 1) {
      message(file_, k.first_line, "warning: ", k.first_text);
      continue;
    }
    std::string where;
    std::size_t named = 0;
    for (const int line : k.lines) {
      if (named == lines_named) {
        where += ", ...";
        break;
      }
      where += (named++ > 0 ? ", " : "") + std::to_string(line);
    }
    if (!where.empty()) where = (k.lines.size() == 1 ? "line " : "lines ") + where + "; ";
    message(file_, 0, "warning: ",
            std::to_string(k.count) + " " + k.name + " (" + where + "--verbose lists each)");
  }
  kinds_.clear();
}

void Diagnostics::error(int line, const std::string& text) const { message(file_, line, "", text); }

void complain(const std::string& text) {
  std::fflush(stdout);
  std::fprintf(stderr, "%s: %s\n", fio::program_name(), text.c_str());
}

void end_by_signal(int sig) {
  std::signal(sig, SIG_DFL);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, sig);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
  std::raise(sig);
  std::_Exit(128 + sig);
}

}  // namespace ecodyn::tools
