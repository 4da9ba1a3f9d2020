// Test support for tests in process: compartments in the program state,
// vectors of values, what code writes to the terminal, and the program's
// error stops.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

#include "fio/fio.h"
#include "model/konsts.h"
#include "network/loader.h"
#include "network/network.h"

namespace ecodyn::test {

// n compartments (1 to nliv living) under donor control, every coefficient 0.
inline void donor_control(int n, int nliv) {
  konsts = Konsts{};
  konsts.ncomp = n;
  konsts.nliv = nliv;
  konsts.mtype = 2;
}

// A Vector (or WorkVector) holding the values from index 1 on.
template <class V = Vector>
V vec(std::initializer_list<float> values) {
  V v;
  int i = 0;
  for (const float x : values) v(++i) = x;
  return v;
}
// The values of v from 1 to n.
template <class V>
std::vector<float> values(const V& v, int n) {
  std::vector<float> r;
  for (int i = 1; i <= n; ++i) r.push_back(v(i));
  return r;
}

// What f writes to the terminal (standard output).
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
#define EXPECT_ERROR_STOP(statement, terminal_text)                                                          \
  do {                                                                                                       \
    int stop_status = -1;                                                                                    \
    const std::string stop_terminal = ::ecodyn::test::terminal_output([&] {                                  \
      try { statement; } catch (const fio::Stop& stop) { stop_status = stop.status; }                        \
    });                                                                                                      \
    EXPECT_EQ(1, stop_status);                                                                               \
    EXPECT_EQ(terminal_text, stop_terminal);                                                                 \
  } while (0)
