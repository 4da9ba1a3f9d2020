// Test support: what code writes to the terminal (standard output, unit 6),
// and the program's error stops.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "support/scratch.h"

namespace ecodyn::test {

// Runs f and returns what it wrote to the terminal.
template <class F>
std::string terminal_output(F&& f) {
  std::fflush(stdout);
  testing::internal::CaptureStdout();
  f();
  std::fflush(stdout);
  return testing::internal::GetCapturedStdout();
}

}  // namespace ecodyn::test

// Expects the statement to end the program with an error stop (status 1)
// after writing exactly `terminal_text` to the terminal. It runs in a child
// process; files it writes stay in the working directory for inspection.
#define EXPECT_ERROR_STOP(statement, terminal_text)                                 \
  do {                                                                              \
    std::fflush(nullptr);                                                           \
    EXPECT_EXIT(                                                                    \
        {                                                                           \
          if (std::freopen("stop-terminal.txt", "w", stdout) == nullptr) _exit(99); \
          statement;                                                                \
        },                                                                          \
        testing::ExitedWithCode(1), "");                                            \
    EXPECT_EQ(terminal_text, ::ecodyn::test::read_file("stop-terminal.txt"));       \
  } while (0)
