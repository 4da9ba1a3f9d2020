// Test support: what code writes to the terminal (standard output), and the
// program's error stops.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "fio/fio.h"
#include "support/scratch.h"

namespace ecodyn::test {

template <class F>
std::string terminal_output(F&& f) {
  std::fflush(stdout);
  testing::internal::CaptureStdout();
  f();
  std::fflush(stdout);
  return testing::internal::GetCapturedStdout();
}

}  // namespace ecodyn::test

// Expects the statement to end the run with an error stop (status 1) after
// writing exactly `terminal_text` to the terminal.
#define EXPECT_ERROR_STOP(statement, terminal_text)                         \
  do {                                                                      \
    int stop_status = -1;                                                   \
    const std::string stop_terminal = ::ecodyn::test::terminal_output([&] { \
      try {                                                                 \
        statement;                                                          \
      } catch (const fio::Stop& stop) {                                     \
        stop_status = stop.status;                                          \
      }                                                                     \
    });                                                                     \
    EXPECT_EQ(1, stop_status);                                              \
    EXPECT_EQ(terminal_text, stop_terminal);                                \
  } while (0)
