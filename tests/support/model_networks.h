// Test support: networks in the program state, as the loader leaves them
// (counts and inputs in konsts, the rest in a Network).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "fio/fio.h"
#include "model/konsts.h"
#include "network/loader.h"
#include "network/network.h"

namespace ecodyn::test {

inline void clear_konsts() { konsts = Konsts{}; }

// n compartments (1 to nliv living) under donor control, every coefficient 0.
inline void donor_control(int n, int nliv) {
  clear_konsts();
  konsts.ncomp = n;
  konsts.nliv = nliv;
  konsts.mtype = 2;
}

inline std::vector<float> values(const Vector& v, int n) {
  const auto r = v.range(1, n);
  return {r.begin(), r.end()};
}

// Names a test parameter after its model type (a member `type`, 1 to 3).
template <class P>
std::string type_name(const testing::TestParamInfo<P>& p) {
  static const char* const names[] = {"", "PredatorControl", "DonorControl", "LotkaVolterra"};
  return names[p.param.type];
}

// Loads the first network of the file "fort.7" of the current directory.
inline Network loaded() {
  clear_konsts();
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
  clear_konsts();
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

}  // namespace ecodyn::test
