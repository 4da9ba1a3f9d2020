#include "support/records.h"

#include <sstream>

namespace ecodyn::test {

std::string blanks(int n) { return std::string(static_cast<std::size_t>(n), ' '); }

std::string right(const std::string& s, int w) {
  return s.size() >= static_cast<std::size_t>(w) ? s : blanks(w - static_cast<int>(s.size())) + s;
}

std::string num(int i, int w) { return right(std::to_string(i), w); }

std::string repeat(const std::string& s, int n) {
  std::string r;
  for (int k = 0; k < n; ++k) r += s;
  return r;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string title(const std::string& text, const std::string& digits) {
  return text + blanks(78 - static_cast<int>(text.size())) + digits + "\n";
}

std::string counts(int ncomp, int nliv, int mtype, const std::string& time) {
  const std::string snapshot = mtype != 0 || !time.empty() ? num(mtype, 3) + right(time, 10) : "";
  return num(ncomp, 3) + num(nliv, 3) + snapshot + "\n";
}

std::string name(const std::string& text) {
  return text + blanks(28 - static_cast<int>(text.size())) + "\n";
}

std::string names(int n) {
  std::string s;
  for (int k = 1; k <= n; ++k) s.append("C").append(std::to_string(k)).append("\n");
  return s;
}

std::string two_compartments_file(const std::string& text) {
  return title(text) + counts(2, 1) + "PLANTS\nDETRITUS\n" + rec(1, "10.") + rec(2, "20.") +
         rec(-1) + rec(1, "5.") + rec(-1) + rec(1, "1.") + rec(2, "2.") + rec(-1) + rec(1, "2.") +
         rec(-1) + mrec(1, 2, "3.") + mrec(2, 1, "1.") + mrec(-1, -1);
}

std::string title_line(const std::string& text) { return "1 " + title(text) + "\n"; }

std::string name_line(int i, const std::string& text) {
  return blanks(1) + num(i, 2) + blanks(2) + text + blanks(25 - static_cast<int>(text.size())) +
         "\n";
}

std::string numbers(int first, int last) {
  std::string s = blanks(6);
  for (int k = first; k <= last; ++k) s += num(k, 6) + (k < last ? blanks(3) : "");
  return s + "\n";
}

std::string label(int i) { return num(i, 4) + "  "; }

}  // namespace ecodyn::test
