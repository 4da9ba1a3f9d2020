// Test support: small networks for the dynamic model, loaded the way the
// network loader leaves them (counts and inputs in konsts, the rest in a
// Network), so that the coefficients can be derived from them.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <string>
#include <vector>

#include "model/konsts.h"
#include "network/network.h"

namespace ecodyn::test {

// Returns a name table holding the title (78 characters) in row 0 and the
// names (25 characters each) in rows 1 onwards, padded with blanks.
inline NameTable name_table(const std::string& title, std::initializer_list<std::string> names) {
  NameTable t;
  for (auto& row : t.rows)
    for (auto& w : row) w.fill(' ');
  const std::string padded_title = (title + std::string(78, ' ')).substr(0, 78);
  for (int c = 0; c < 78; ++c) t.rows[0][c / 4][c % 4] = padded_title[c];
  int row = 1;
  for (const std::string& name : names) {
    const std::string padded = (name + std::string(25, ' ')).substr(0, 25);
    for (int c = 0; c < 25; ++c) t.rows[row][c / 4][c % 4] = padded[c];
    ++row;
  }
  return t;
}

// Clears the counts and every model coefficient of konsts.
inline void clear_konsts() { konsts = Konsts{}; }

// Sets konsts to n compartments (1 to nliv living) under linear donor
// control with every coefficient 0: each biomass stays where it is put
// until coefficients are given.
inline void donor_control(int n, int nliv) {
  clear_konsts();
  konsts.ncomp = n;
  konsts.nliv = nliv;
  konsts.mtype = 2;
}

// Returns elements 1 to n of a vector, to compare them all at once.
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

// The balanced two-compartment network of the worked examples: compartment
// 1 living with biomass 10, compartment 2 non-living with biomass 20; input
// 5 into 1; exports 1 and 2; respiration 2 from 1; flows 3 from 1 to 2 and
// 1 from 2 to 1.
inline Network two_compartments() {
  clear_konsts();
  konsts.ncomp = 2;
  konsts.nliv = 1;
  konsts.inputs(1) = 5.0f;
  Network net;
  net.names = name_table("TWO COMPARTMENTS", {"PLANTS", "DETRITUS"});
  net.balance_digits = 4;
  net.biomass(1) = 10.0f;
  net.biomass(2) = 20.0f;
  net.exports(1) = 1.0f;
  net.exports(2) = 2.0f;
  net.respirations(1) = 2.0f;
  net.exchange(1, 2) = 3.0f;
  net.exchange(2, 1) = 1.0f;
  return net;
}

// A balanced network of n compartments (1 to nliv living) in which every
// compartment sends to every other and a few to themselves. All values are
// multiples of 0.25, so every balance sum is exact in single precision:
// inputs and exports close each compartment's balance, with at least 1 of
// each.
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
      if (i != j || i % 3 == 0)
        net.exchange(i, j) = 0.25f * static_cast<float>(1 + (3 * i + 5 * j) % 7);
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
