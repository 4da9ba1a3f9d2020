// Test support for tests in process: networks in the program state, as the
// loader leaves them (counts and inputs in konsts, the rest in a Network),
// what code writes to the terminal, and the program's error stops.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
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

template <class V>
std::vector<float> values(const V& v, int n) {
  std::vector<float> r;
  for (int i = 1; i <= n; ++i) r.push_back(v(i));
  return r;
}

// Loads the first network of the file "fort.7" of the current directory.
inline Network loaded() {
  konsts = Konsts{};
  Network net;
  EXPECT_EQ(LoadResult::loaded, load_network(net));
  fio::close(fio::network_file);
  fio::close(fio::report);
  return net;
}

// A balanced network of n compartments (1 to nliv living) in which every
// compartment sends to every other and a few to themselves. All values are
// multiples of 0.25, so every balance sum is exact in single precision.
inline Network balanced_network(int n, int nliv) {
  konsts = Konsts{};
  konsts.ncomp = n;
  konsts.nliv = nliv;
  Network net;
  net.balance_digits = 4;
  for (int i = 1; i <= n; ++i) {
    net.biomass(i) = static_cast<float>(4 + 3 * i);
    net.respirations(i) = i <= nliv ? static_cast<float>(1 + i % 3) : 0.5f;
    for (int j = 1; j <= n; ++j) {
      if (i != j || i % 3 == 0) {
        net.exchange(i, j) = 0.25f * static_cast<float>(1 + (3 * i + 5 * j) % 7);
      }
    }
  }
  for (int i = 1; i <= n; ++i) {
    float in = 0.0f, out = 0.0f;
    for (int j = 1; j <= n; ++j) {
      in += net.exchange(j, i);
      out += net.exchange(i, j);
    }
    konsts.inputs(i) = std::max(0.0f, out + net.respirations(i) - in) + 1.0f;
    net.exports(i) = konsts.inputs(i) + in - out - net.respirations(i);
  }
  return net;
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
