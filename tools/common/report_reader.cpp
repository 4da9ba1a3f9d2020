#include "common/report_reader.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <stdexcept>
#include <system_error>

#include "fio/fio.h"

namespace ecodyn::tools {
namespace {

// Reads the next line of the stream into line, without its line end (and a
// carriage return before it); false at the end. A last line without line
// end is a line. number: the line's number, for the error of a line too
// long.
bool next_line(std::FILE* in, std::string& line, int number) {
  line.clear();
  int c;
  while ((c = getc_unlocked(in)) != '\n') {
    if (c == EOF) {
      if (!std::ferror(in)) break;
      const int error = errno ? errno : EIO;
      fio::check_signal();  // a read cut short by a signal is the signal's doing
      if (error != EINTR) throw std::system_error(error, std::generic_category());
      std::clearerr(in);
      continue;
    }
    if (line.size() == longest_line)
      throw InputError(number, "a line longer than " + std::to_string(longest_line) +
                                   " characters: not an ecodyn report");
    line.push_back(static_cast<char>(c));
  }
  if (c == EOF && line.empty()) return false;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return true;
}

std::string_view trim_right(std::string_view s) {
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

std::string_view trim(std::string_view s) {
  s = trim_right(s);
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  return s;
}

bool digits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

// Returns the integer of an I-edited field written by the run-time
// (right-aligned, blanks before it), or -1.
int printed_integer(std::string_view field) {
  const std::string_view t = trim(field);
  if (!digits(t) || trim_right(field).size() != field.size()) return -1;
  return std::atoi(std::string(t).c_str());
}

// The title line of a cycle: "1" in column 1 (the run-time writes the
// carriage-control character as an ordinary one) and a blank in column 2.
// A table row of a time of 100000 or more also begins with a digit, but
// never with a digit and a blank.
bool is_title(std::string_view line) {
  return !line.empty() && line[0] == '1' && (line.size() == 1 || line[1] == ' ');
}

constexpr std::string_view head_start = "    TIME";
constexpr std::string_view notice_start = " SPECIES ";
constexpr std::string_view notice_middle = " WENT EXTINCT AT T = ";

// The head "(/,4X,'TIME',7X,I2,6(8X,I2))": the compartment numbers in
// columns 16-17, 26-27, ... Returns them, or nothing.
std::optional<std::vector<int>> table_head(std::string_view line) {
  if (!line.starts_with(head_start)) return std::nullopt;
  line = trim_right(line.substr(head_start.size()));
  std::vector<int> numbers;
  std::size_t width = 9;  // 7X,I2 and then 8X,I2
  while (!line.empty()) {
    if (line.size() < width || numbers.size() == 7) return std::nullopt;
    const int n = printed_integer(line.substr(0, width));
    if (n < 1) return std::nullopt;
    numbers.push_back(n);
    line.remove_prefix(width);
    width = 10;
  }
  if (numbers.empty()) return std::nullopt;
  return numbers;
}

// The longest name line, "(1X,I2,2X,6A4,A1)": a name of 25 characters.
constexpr std::size_t name_line = 30;

struct Reader {
  explicit Reader(ReportHandler& h) : handler(h) {}

  ReportHandler& handler;
  Cycle cycle;                       // the current one; number 0 before the first
  std::map<int, std::string> names;  // of the current cycle
  enum { listing, name_list, table } state = listing;
  bool names_started = false;
  int after_title = 0;  // lines read since the title, up to the count line
  int rows = 0;         // of the current table
  int line_number = 0;

  [[noreturn]] void fail(const std::string& what) const { throw InputError(line_number, what); }

  Column column(int number) const {
    const auto it = names.find(number);
    if (it == names.end()) {
      fail("compartment " + std::to_string(number) +
           " is not among the compartments listed for cycle " + std::to_string(cycle.number));
    }
    return {number, it->second};
  }

  // A table must have a row before the next title or the end of the file;
  // line: the last line of the cycle.
  void check_table_ended(int line) const {
    if (state == table && rows == 0)
      throw InputError(line, "the table has a head but no rows: the table is cut short");
  }

  void title(std::string_view line) {
    cycle = Cycle{cycle.number + 1, line_number,
                  std::string(trim(line.size() > 2 ? line.substr(2) : std::string_view{})), {}};
    names.clear();
    state = listing;
    after_title = 0;
  }

  void take_again(std::string_view line) {
    --line_number;
    take(line);
  }

  // A name line "(1X,I2,2X,6A4,A1)"; false if the line is none.
  bool name(std::string_view line) {
    const int n = line.size() >= 5 && trim_right(line).size() <= name_line && line[0] == ' ' &&
                          line.substr(3, 2) == "  "
                      ? printed_integer(line.substr(1, 2))
                      : -1;
    if (n < 1) return false;
    names[n] = std::string(trim(line.substr(5)));
    return true;
  }

  void head(const std::vector<int>& numbers) {
    for (int n : numbers) cycle.columns.push_back(column(n));
    state = table;
    rows = 0;
    handler.table(cycle);
  }

  // A row "(F10.3,7E10.3)".
  void row(std::string_view line) {
    const std::size_t k = cycle.columns.size();
    if (line.size() < 10 * (k + 1)) {
      const std::size_t whole = line.size() < 10 ? 0 : line.size() / 10 - 1;
      fail("the table row holds " + std::to_string(whole) + " of the " + std::to_string(k) +
           " values of its head: the table is cut short");
    }
    if (line.size() > 10 * (k + 1))
      fail("the table row holds more than the " + std::to_string(k) + " values of its head");
    TableRow r;
    r.line = line_number;
    const auto time = printed_number(line.substr(0, 10), false);
    if (!time) fail("unreadable time in the table row");
    r.time = *time;
    for (std::size_t i = 1; i <= k; ++i) {
      const auto v = printed_number(line.substr(10 * i, 10), true);
      if (!v) fail("unreadable value in column " + std::to_string(i) + " of the table row");
      r.values.push_back(*v);
    }
    ++rows;
    handler.row(cycle, r);
  }

  // "(1X,'SPECIES ',I2,' WENT EXTINCT AT T = ',F10.3)"; false if the line
  // is not a notice.
  bool notice(std::string_view line) {
    if (!line.starts_with(notice_start)) return false;
    const std::size_t at = notice_start.size() + 2;
    if (line.size() != at + notice_middle.size() + 10 ||
        line.substr(at, notice_middle.size()) != notice_middle) {
      fail("unreadable extinction notice");
    }
    const int k = printed_integer(line.substr(notice_start.size(), 2));
    const auto time = printed_number(line.substr(at + notice_middle.size()), false);
    if (k < 1 || !time) fail("unreadable extinction notice");
    handler.extinction(cycle, {line_number, *time, column(k)});
    return true;
  }

  void take(std::string_view line) {
    ++line_number;
    if (is_title(line)) {
      check_table_ended(line_number - 1);
      title(line);
      return;
    }
    if (cycle.number == 0) fail("not an ecodyn report: expected a network title (\"1\" in column 1)");
    const std::string_view t = trim_right(line);
    // Every listing begins with the title, an empty line and the count.
    if (after_title < 2) {
      ++after_title;
      const bool expected =
          after_title == 1 ? t.empty() : t.starts_with(" NUMBER OF COMPARTMENTS IS");
      if (!expected)
        fail("not an ecodyn report: expected the number of compartments after the title");
      return;
    }
    switch (state) {
      case listing:
        if (t == " LIVING COMPARTMENTS" || t == " NON-LIVING COMPARTMENTS") {
          state = name_list;
          names_started = false;
        } else if (line.starts_with(head_start)) {
          const auto numbers = table_head(line);
          if (!numbers) fail("unreadable table head");
          head(*numbers);
        }
        return;
      case name_list:
        // One empty line after the heading, one after the last name.
        if (t.empty()) {
          if (names_started) state = listing;
          return;
        }
        names_started = true;
        if (!name(line)) {
          state = listing;
          take_again(line);
        }
        return;
      case table:
        // Rows and notices end with a value: blanks after it are not ours.
        if (t.empty() || notice(t)) return;
        row(t);
        return;
    }
  }
};

}  // namespace

std::optional<std::string> printed_number(std::string_view field, bool exponent) {
  std::string_view t = trim(field);
  if (!t.empty() && t.find_first_not_of('*') == std::string_view::npos) return std::string();
  std::string sign;
  if (!t.empty() && (t[0] == '-' || t[0] == '+')) {
    if (t[0] == '-') sign = "-";
    t.remove_prefix(1);
  }
  for (const char* special : {"NaN", "Inf", "Infinity"}) {
    if (t.size() == std::strlen(special) && strncasecmp(t.data(), special, t.size()) == 0)
      return std::string(special[0] == 'N' ? "NaN" : sign + "Inf");
  }
  const std::size_t point = t.find('.');
  if (point == std::string_view::npos) return std::nullopt;
  const std::string_view whole = t.substr(0, point);
  std::string_view rest = t.substr(point + 1);
  std::string_view decimals = rest, power;
  if (exponent) {
    // "E+02", or for a three-digit exponent the sign alone: ".100+100".
    const std::size_t e = rest.find_first_of("E+-");
    if (e == std::string_view::npos) return std::nullopt;
    decimals = rest.substr(0, e);
    power = rest.substr(e + (rest[e] == 'E' ? 1 : 0));
    if (power.size() < 2 || (power[0] != '+' && power[0] != '-') || !digits(power.substr(1)))
      return std::nullopt;
  }
  if ((!whole.empty() && !digits(whole)) || !digits(decimals)) return std::nullopt;
  std::string out = sign;
  out.append(whole.empty() ? "0" : whole).append(".").append(decimals);
  if (exponent) out.append("E").append(power);
  return out;
}

double value_of(const std::string& printed) {
  if (printed.empty()) return std::nan("");
  return std::strtod(printed.c_str(), nullptr);
}

void read_report(std::FILE* in, ReportHandler& handler) {
  Reader r(handler);
  std::string line;
  while (next_line(in, line, r.line_number + 1)) {
    fio::check_signal();
    r.take(line);
  }
  if (r.line_number == 0) throw InputError(0, "the file is empty");
  r.check_table_ended(r.line_number);
}

int reading(const std::string& path, const std::function<int()>& body) {
  try {
    return body();
  } catch (const InputError& e) {
    Diagnostics(path).error(e.line(), e.what());
  } catch (const std::system_error& e) {
    complain("cannot read " + path + ": " + std::strerror(e.code().value()));
  } catch (const std::runtime_error& e) {
    complain(e.what());
  }
  return fio::exit_bad_io;
}

void read_report(const std::string& path, ReportHandler& handler) {
  std::FILE* in = std::fopen(path.c_str(), "rb");
  if (in == nullptr) throw std::system_error(errno, std::generic_category());
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> closing(in, std::fclose);
  read_report(in, handler);
}

}  // namespace ecodyn::tools
