// The command line of a companion program, parsed alike in every one.
#pragma once

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <iostream>
#include <optional>

#include "fio/fio.h"

namespace ecodyn::tools {

// Adds --version ("NAME VERSION", NAME the app's) and the footer of the help
// text, then parses the command line; check, when given, may refuse what
// CLI11 cannot express by throwing a CLI::ParseError. Returns the status to
// end with when the parse has answered (--help, --version: 0) or refused
// (2, after CLI11's message), nothing when the program goes on.
inline std::optional<int> parse_command_line(CLI::App& app, int argc, char** argv,
                                             const char* footer,
                                             const std::function<void()>& check = {}) {
  app.set_version_flag("--version", app.get_name() + " " + ECODYN_VERSION);
  app.footer(footer);
  try {
    app.parse(argc, argv);
    if (check) check();
  } catch (const CLI::ParseError& e) {
    const int status = app.exit(e) == 0 ? 0 : fio::exit_bad_io;
    // The help and the version must reach standard output whole.
    std::cout.flush();
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
      std::fprintf(stderr, "%s: cannot write standard output: %s\n", fio::program_name(),
                   std::strerror(errno ? errno : EIO));
      return fio::exit_bad_io;
    }
    return status;
  }
  return std::nullopt;
}

}  // namespace ecodyn::tools
