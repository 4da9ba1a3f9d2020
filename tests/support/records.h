// Test support: the records of a network file in their fixed columns and
// the lines of the report that lists one.
#pragma once

#include <sstream>
#include <string>
#include <vector>

namespace ecodyn::test {

inline std::string blanks(int n) { return std::string(n > 0 ? n : 0, ' '); }
// A text right-aligned in w columns (whole when longer).
inline std::string right(const std::string& s, int w) {
  return blanks(w - static_cast<int>(s.size())) + s;
}
inline std::string num(int i, int w) { return right(std::to_string(i), w); }
inline std::string repeat(const std::string& s, int n) {
  std::string r;
  while (n-- > 0) r += s;
  return r;
}
inline std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Title record (balance_digits in columns 79-80); counts record, with a
// model type and time for a snapshot; list records, each value in 14 columns.
inline std::string title(const std::string& text, const std::string& digits = "") {
  return text + blanks(78 - static_cast<int>(text.size())) + digits + "\n";
}
inline std::string counts(int ncomp, int nliv = 0, int mtype = 0, const std::string& time = "") {
  return num(ncomp, 3) + num(nliv, 3) +
         (mtype != 0 || !time.empty() ? num(mtype, 3) + right(time, 10) : "") + "\n";
}
inline std::string name(const std::string& text) {
  return text + blanks(28 - static_cast<int>(text.size())) + "\n";
}
template <class... V>
std::string rec(int i, const V&... values) {
  std::string s = num(i, 3);
  ((s += right(values, 14)), ...);
  return s + "\n";
}
template <class... V>
std::string mrec(int i, int j, const V&... values) {
  return num(i, 3) + rec(j, values...);
}

// Report lines: the title, a compartment's name, a listed zero.
inline std::string title_line(const std::string& text) { return "1 " + title(text) + "\n"; }
inline std::string name_line(int i, const std::string& text) {
  // Appended piece by piece: g++ 12 warns falsely of an overlap in " " + ...
  std::string line(1, ' ');
  line.append(num(i, 2)).append("  ").append(text);
  return line.append(blanks(25 - static_cast<int>(text.size()))).append("\n");
}
inline const std::string zero = " .000E+00";

}  // namespace ecodyn::test
