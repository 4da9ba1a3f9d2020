// Test support: network descriptions written as text in their fixed columns.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace ecodyn::test {

// Title record: 78 columns of title, then balance_digits in columns 79-80
// (blank when digits is "").
inline std::string title_record(const std::string& title, const std::string& digits = "") {
  std::string s = title;
  s.resize(78, ' ');
  std::string d = digits;
  while (d.size() < 2) d = " " + d;
  return s + d + "\n";
}

// Counts record: ncomp and nliv, and for a snapshot the type and time.
inline std::string counts_record(int ncomp, int nliv, int mtype = 0, const char* time = "") {
  char buf[64];
  if (mtype == 0 && time[0] == '\0') {
    std::snprintf(buf, sizeof buf, "%3d%3d\n", ncomp, nliv);
  } else {
    std::snprintf(buf, sizeof buf, "%3d%3d%3d%10s\n", ncomp, nliv, mtype, time);
  }
  return buf;
}

// A real in an E14.7 field, with its decimal point.
inline std::string e14(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%14.6E", v);
  return buf;
}

// Vector list record: index and values.
inline std::string vector_record(int i, std::vector<double> values = {}) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%3d", i);
  std::string s = buf;
  for (double v : values) s += e14(v);
  return s + "\n";
}

// Matrix list record: origin, destination and values.
inline std::string matrix_record(int i, int j, std::vector<double> values = {}) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%3d%3d", i, j);
  std::string s = buf;
  for (double v : values) s += e14(v);
  return s + "\n";
}

// The balanced network of two compartments used throughout: plants (living,
// biomass 10) and detritus (biomass 20); input 5 to the plants; exports 1
// and 2; respiration 2 of the plants; 3 from plants to detritus, 1 back.
inline std::string two_compartments(const std::string& title = "TWO COMPARTMENTS") {
  return title_record(title) + counts_record(2, 1) + "PLANTS\nDETRITUS\n" +
         vector_record(1, {10}) + vector_record(2, {20}) + vector_record(-1) +
         vector_record(1, {5}) + vector_record(-1) +
         vector_record(1, {1}) + vector_record(2, {2}) + vector_record(-1) +
         vector_record(1, {2}) + vector_record(-1) +
         matrix_record(1, 2, {3}) + matrix_record(2, 1, {1}) + matrix_record(-1, -1);
}

}  // namespace ecodyn::test
