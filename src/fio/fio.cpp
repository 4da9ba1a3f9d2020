// The one place that speaks to the f2c run-time. Its header defines macros
// (abs, min, max) that break the standard library, so it stays in here.
#include "fio/fio.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

extern "C" {
#include <f2c.h>
integer s_wsfe(cilist*);
integer s_wsfi(icilist*);
integer e_wsfi(void);
integer e_wsfe(void);
integer s_rsfe(cilist*);
integer e_rsfe(void);
integer s_rsfi(icilist*);
integer e_rsfi(void);
integer s_rsli(icilist*);
integer e_rsli(void);
integer do_fio(ftnint* number, char* ptr, ftnlen len);
integer do_lio(ftnint* type, ftnint* number, char* ptr, ftnlen len);
integer f_open(olist*);
integer f_clos(cllist*);
void f_init(void);
extern const char* F_err[];
}
#undef abs
#undef min
#undef max

#include "fio/f2c_units.h"
#include "fio/fields.h"

static_assert(sizeof(integer) == 4 && sizeof(real) == 4 && sizeof(ftnlen) == 4);
static_assert(sizeof(flag) == sizeof(int));

namespace fio {
namespace {

constexpr int unit_count = detail::run_time_units;
constexpr std::size_t longest_line = 65536;  // longer lines are not records
constexpr int line_too_long = -2;            // reason of a read error
constexpr int cannot_write_file = 127;       // the run-time's "can't write file"

// A file read by the layer itself, a line at a time.
struct Input {
  std::FILE* file = nullptr;
  std::string line;
};

struct UnitState {
  std::string name;      // file name, once known
  int records = 0;       // records read
  bool written = false;  // records have been written to it
  bool failed = false;
  Input input;           // for a unit connected for reading
};

UnitState units[unit_count];
const char* program = "ecodyn";

// While records are held: the terminal's records, each line without its
// blanks at the end, newline after each.
bool holding = false;
std::string held;
void (*cleanup)() = nullptr;
int writes_left = 0;  // fault injection: the write that fails, counting down
int reads_left = 0;

volatile std::sig_atomic_t pending_signal = 0;
volatile std::sig_atomic_t awaiting_answer = 0;  // every unit is written out
constexpr int caught_signals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// Notes the signal: the streams may be in the middle of a record, and the
// signal is acted on after it. While the program waits for an answer, every
// file has been written out already, so the signal takes its default action
// at once.
extern "C" void note_signal(int sig) {
  pending_signal = sig;
  if (awaiting_answer) {
    std::signal(sig, SIG_DFL);
    std::raise(sig);  // delivered as the handler returns
  }
}

ftnint type_code(detail::Item::Kind kind) {
  switch (kind) {
    case detail::Item::integer: return 3;  // TYLONG
    case detail::Item::real: return 4;     // TYREAL
    case detail::Item::character: return 9;  // TYCHAR
  }
  return 0;
}

FILE* stream(int unit) { return f__units[unit].ufd; }

const char* reason_text(int code) {
  if (code == line_too_long) return "a line longer than 65536 characters";
  if (code >= 100 && code <= 131) return F_err[code - 100];
  if (code > 0) return std::strerror(code);
  return "end of file";
}

void flush_terminal() { std::fflush(stdout); }

[[noreturn]] void write_failed(Unit unit, int code);

void flush_all_units();

// Writes out the terminal before an answer is awaited, so that the question
// is seen (a terminal that cannot be written ends the run here), and every
// file, so that a signal during the wait finds nothing left to write.
void show_question() {
  errno = 0;
  if (std::fflush(stdout) != 0 && units[terminal].written) write_failed(terminal, 0);
  flush_all_units();
  check_signal();
}

// Marks the time the program waits for the terminal.
struct Awaiting {
  Awaiting() {
    awaiting_answer = 1;
    check_signal();  // one that came just before
  }
  ~Awaiting() { awaiting_answer = 0; }
};

// Returns true if the fault injection makes this write (or read) fail.
bool injected(int& left) { return left > 0 && --left == 0; }

// A unit whose stream has taken an error can no longer be trusted to hold
// what was written to it.
[[noreturn]] void write_failed(Unit unit, int code) {
  const int error = errno ? errno : EIO;
  check_signal();  // a write cut short by a signal is the signal's doing
  flush_terminal();
  std::fprintf(stderr, "%s: cannot write %s: %s\n", program, file_name(unit),
               code > 0 ? reason_text(code) : std::strerror(error));
  units[unit].failed = true;
  throw Stop{exit_bad_io};
}

[[noreturn]] void cannot_open_network_file() {
  const int error = errno ? errno : ENOENT;
  flush_terminal();
  std::fprintf(stderr, "%s: cannot open the network file %s: %s\n", program,
               file_name(network_file), std::strerror(error));
  throw Stop{exit_bad_io};
}

// The network file is connected on its first read, as the run-time would,
// but read by the layer itself: a line at a time, so that neither an endless
// file nor a last line without a line end is a problem.
void connect_network_file() {
  if (units[network_file].input.file != nullptr) return;
  if (!connect(network_file, file_name(network_file), true)) cannot_open_network_file();
}

// Reads the next line of an input into its buffer, without the line end.
// Returns ok, end (nothing before the end of the file) or error.
Status next_line(Input& in) {
  in.line.clear();
  std::FILE* f = in.file;
  int c;
  while ((c = getc_unlocked(f)) != EOF && c != '\n') {
    if (in.line.size() == longest_line) return {error, line_too_long};
    in.line.push_back(static_cast<char>(c));
  }
  if (std::ferror(f)) return {error, errno ? errno : EIO};
  if (c == EOF && in.line.empty()) return {end, 0};
  // A file saved with Windows line ends: the carriage return is no data.
  if (!in.line.empty() && in.line.back() == '\r') in.line.pop_back();
  return {ok, 0};
}

// Returns the value of element k of the items, where it is a real.
std::optional<float> real_element(const detail::Item* items, int n, int k) {
  for (int i = 0; i < n; ++i) {
    if (k < items[i].count) {
      if (items[i].kind != detail::Item::real) return std::nullopt;
      float v;
      std::memcpy(&v, items[i].data + 4 * k, sizeof v);
      return v;
    }
    k -= items[i].count;
  }
  return std::nullopt;
}

// Checks a line before the run-time reads it: a tab inside a numeric field
// has no column in a fixed layout and would be read as an unexpected
// character, so it ends the run with a diagnostic naming its column.
// Returns what the line holds where the format lays out its fields, when
// the format is one the layer can lay out.
std::optional<fields::Findings> check_line(Unit unit, const char* format,
                                           const detail::Item* items, int n) {
  UnitState& u = units[unit];
  const std::optional<std::vector<fields::Field>> layout = fields::parse(format);
  if (!layout) return std::nullopt;
  int used = 0;
  for (int i = 0; i < n; ++i) used += items[i].count;
  fields::Findings found = fields::examine(u.input.line, *layout, used);
  if (found.tab_column > 0) {
    ++u.records;
    flush_terminal();
    std::fprintf(stderr,
                 "%s: %s, line %d, column %d: a tab has no column in this fixed layout; use "
                 "spaces\n",
                 program, file_name(unit), u.records, found.tab_column);
    throw Stop{exit_bad_io};
  }
  return found;
}

// Warns of each real field read from a number without a decimal point: the
// layout makes its last digits decimals ("10" in an E14.7 field is 1.0E-06),
// which is seldom what was meant.
void warn_implied_decimals(Unit unit, const fields::Findings& found, const detail::Item* items,
                           int n) {
  for (const auto& f : found.implied) {
    const std::optional<float> v = real_element(items, n, f.field);
    if (!v) continue;
    flush_terminal();
    std::fprintf(stderr,
                 "%s: %s, line %d: warning: '%s' in columns %d-%d has no decimal point and reads "
                 "as %s\n",
                 program, file_name(unit), units[unit].records, f.text.c_str(), f.first, f.last,
                 fields::e14_7(*v).c_str());
  }
}

// Writes out every unit that was written to; used on the way out.
void flush_all_units() {
  for (int u = 0; u < unit_count; ++u) {
    if (u != terminal_in && stream(u) != nullptr) std::fflush(stream(u));
  }
}

// The run-time opens its files for reading and writing. On a pipe that makes
// the program a reader of its own output, so a write would wait for ever
// once the real reader has gone instead of failing; the descriptor is
// replaced by one for writing only.
void write_only(FILE* f) {
  struct stat st {};
  if (f == nullptr || f == stdout || fstat(fileno(f), &st) != 0 || !S_ISFIFO(st.st_mode)) return;
  const std::string self = "/proc/self/fd/" + std::to_string(fileno(f));
  const int w = open(self.c_str(), O_WRONLY | O_CLOEXEC);
  if (w < 0) return;
  dup2(w, fileno(f));
  ::close(w);
}

// The run-time writes over a file that exists from its start and cuts off
// the rest of the earlier contents only when it closes the unit: a run ended
// by a signal would leave an earlier run's records after its own. They are
// cut off at the unit's first write instead; errno stays that of the write.
void drop_earlier_contents(FILE* f) {
  const int error = errno;
  struct stat st {};
  if (f != nullptr && f != stdout && fstat(fileno(f), &st) == 0 && S_ISREG(st.st_mode)) {
    const long at = std::ftell(f);
    if (at >= 0 && at < st.st_size && ftruncate(fileno(f), at) != 0) {
      // Left to the close, which cuts them off all the same.
    }
  }
  errno = error;
}

// A standard descriptor that is closed gets /dev/null in its place, opened
// for reading only: reads find the end at once and writes fail, and no file
// the program opens can take the descriptor of the terminal.
void occupy_standard_descriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int got = open("/dev/null", O_RDONLY);
    if (got >= 0 && got != fd) {
      dup2(got, fd);
      ::close(got);
    }
  }
}

}  // namespace

void set_program_name(const char* name) { program = name; }

const char* program_name() { return program; }

void at_stop(void (*function)()) { cleanup = function; }

void fail_nth_write(int n) { writes_left = n; }

void fail_nth_read(int n) { reads_left = n; }

void check_signal() {
  const int sig = pending_signal;
  if (sig == 0) return;
  flush_all_units();
  if (cleanup != nullptr) cleanup();
  std::signal(sig, SIG_DFL);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, sig);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
  std::raise(sig);
}

void start() {
  occupy_standard_descriptors();
  f_init();
  for (UnitState& u : units) u = UnitState{};
  pending_signal = 0;
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
  struct sigaction action {};
  action.sa_handler = note_signal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no restart: a signal cuts a terminal read short
  for (const int sig : caught_signals) sigaction(sig, &action, nullptr);
}

const char* file_name(Unit unit) {
  UnitState& u = units[unit];
  if (u.name.empty()) {
    if (unit == terminal_in) return "the terminal input";
    if (unit == terminal) return "the terminal";
    u.name = "fort." + std::to_string(static_cast<int>(unit));
  }
  return u.name.c_str();
}

bool connect(Unit unit, const char* path, bool must_exist) {
  UnitState& u = units[unit];
  u.name = path;
  u.records = 0;
  errno = 0;
  if (must_exist) {
    std::FILE* f = std::fopen(path, "rb");
    if (f == nullptr) return false;
    struct stat st {};
    if (fstat(fileno(f), &st) == 0 && S_ISDIR(st.st_mode)) {
      std::fclose(f);
      errno = EISDIR;
      return false;
    }
    if (u.input.file != nullptr) std::fclose(u.input.file);
    u.input.file = f;
    return true;
  }
  olist o{};
  o.oerr = 1;
  o.ounit = unit;
  o.ofnm = const_cast<char*>(path);
  o.ofnmlen = static_cast<ftnlen>(std::strlen(path));
  o.osta = const_cast<char*>("replace");
  o.ofm = const_cast<char*>("formatted");
  if (f_open(&o) != 0) return false;
  write_only(stream(unit));
  return true;
}

void set_file_name(Unit unit, const char* name) { units[unit].name = name; }

bool close(Unit unit) {
  UnitState& u = units[unit];
  if (u.input.file != nullptr) {
    std::fclose(u.input.file);
    u.input.file = nullptr;
    return true;
  }
  FILE* f = stream(unit);
  bool good = true;
  if (f != nullptr) good = std::fflush(f) == 0 && !std::ferror(f);
  cllist c{1, unit, nullptr};
  return f_clos(&c) == 0 && good;
}

int finish(int status) {
  // Every output file must hold all that was written to it; a stream that
  // took an error on the way, or on this last flush, makes the run fail.
  for (int u = 0; u < unit_count; ++u) {
    UnitState& state = units[u];
    if (state.input.file != nullptr) {
      std::fclose(state.input.file);
      state.input.file = nullptr;
    }
    FILE* f = stream(u);
    if (f != nullptr && state.written) {
      errno = 0;
      if ((std::fflush(f) != 0 || std::ferror(f)) && !state.failed) {
        state.failed = true;
        if (f != stdout && f != stderr) {
          std::fprintf(stderr, "%s: cannot write %s: %s\n", program,
                       file_name(static_cast<Unit>(u)), std::strerror(errno ? errno : EIO));
        }
        status = exit_bad_io;
      }
    }
    if (u != terminal_in && u != terminal && u != 0) {
      // A unit whose file could not be opened still holds the name the
      // run-time allocated for it; closing releases it.
      if (f == nullptr && f__units[u].ufnm != nullptr) {
        std::free(f__units[u].ufnm);
        f__units[u].ufnm = nullptr;
      }
      cllist c{1, u, nullptr};
      if (f != nullptr) f_clos(&c);
    }
  }
  std::fflush(stdout);
  check_signal();
  if (status != exit_normal && cleanup != nullptr) cleanup();
  return status;
}

namespace {

[[noreturn]] void no_answer(const char* question, Status status) {
  check_signal();  // a read cut short by a signal is the signal's doing
  flush_terminal();
  if (status == end) {
    std::fprintf(stderr, "%s: no answer to the question \"%s\": the terminal input has ended\n",
                 program, question);
  } else {
    std::fprintf(stderr,
                 "%s: unreadable answer to the question \"%s\" (answer %d on the terminal input): "
                 "%s\n",
                 program, question, units[terminal_in].records + 1, reason_text(status.reason));
  }
  throw Stop{exit_bad_io};
}


// Reads one line of the terminal input, without its line end; a last line
// without one is a line. Returns end at the end of the input.
Status answer_line(std::string& line) {
  int c;
  errno = 0;
  while ((c = std::getc(stdin)) != EOF && c != '\n') {
    if (line.size() == longest_line) return {error, line_too_long};
    line.push_back(static_cast<char>(c));
  }
  if (c == EOF && std::ferror(stdin)) return {error, errno ? errno : EIO};
  if (c == EOF && line.empty()) return {end, 0};
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return {ok, 0};
}

// The bytes of the values asked for, to put back what a refused answer set.
std::vector<char> save(const detail::Item* items, int n) {
  std::vector<char> bytes;
  for (int k = 0; k < n; ++k)
    bytes.insert(bytes.end(), items[k].data, items[k].data + items[k].count * items[k].length);
  return bytes;
}

void restore(const detail::Item* items, int n, const std::vector<char>& bytes) {
  std::size_t at = 0;
  for (int k = 0; k < n; ++k) {
    const std::size_t size = static_cast<std::size_t>(items[k].count * items[k].length);
    std::memcpy(items[k].data, bytes.data() + at, size);
    at += size;
  }
}

// Reads the items from the lines as the run-time reads list-directed input
// (blanks and commas separate values, a comma alone is a null value that
// leaves its item as it was, a slash ends the answer); one more real into
// *extra, when given. Returns the run-time's code: 0, an error, or -1 when
// the lines end before the values do.
integer read_list(const std::vector<std::string>& lines, const detail::Item* items, int n,
                  float* extra) {
  std::size_t width = 1;
  for (const std::string& l : lines) width = std::max(width, l.size());
  std::string records(width * lines.size(), ' ');
  for (std::size_t k = 0; k < lines.size(); ++k) records.replace(k * width, lines[k].size(), lines[k]);
  icilist c{1, records.data(), 1, nullptr, static_cast<ftnint>(width),
            static_cast<ftnint>(lines.size())};
  integer rc = s_rsli(&c);
  for (int k = 0; k < n && rc == 0; ++k) {
    ftnint type = type_code(items[k].kind);
    ftnint count = items[k].count;
    rc = do_lio(&type, &count, items[k].data, items[k].length);
  }
  if (extra != nullptr && rc == 0) {
    ftnint type = type_code(detail::Item::real);
    ftnint one = 1;
    rc = do_lio(&type, &one, reinterpret_cast<char*>(extra), 4);
  }
  if (rc == 0) rc = e_rsli();
  return rc;
}

// Returns the lines of an answer as one text.
std::string answer_text(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& l : lines) {
    if (!text.empty()) text += ' ';
    text += l;
  }
  const std::size_t first = text.find_first_not_of(" \t");
  const std::size_t last = text.find_last_not_of(" \t");
  return first == std::string::npos ? "" : text.substr(first, last - first + 1);
}

// Returns whether the answer to one real is a number with a decimal comma
// ("0,74"): the value before the comma is read, the rest is another value.
bool decimal_comma(const detail::Item* items, int n, const std::vector<std::string>& lines) {
  if (n != 1 || items[0].kind != detail::Item::real || items[0].count != 1) return false;
  const std::string t = answer_text(lines);
  const std::size_t comma = t.find(',');
  const auto digits = [](const std::string& s) {
    return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos;
  };
  if (comma == std::string::npos || comma == 0) return false;
  std::string whole = t.substr(0, comma);
  if (whole[0] == '-' || whole[0] == '+') whole.erase(0, 1);
  return digits(whole) && digits(t.substr(comma + 1));
}

// Returns the values as read ("0", "3 5").
std::string values_text(const detail::Item* items, int n) {
  std::string text;
  char buf[32];
  for (int k = 0; k < n; ++k) {
    for (int e = 0; e < items[k].count; ++e) {
      if (items[k].kind == detail::Item::integer) {
        int v;
        std::memcpy(&v, items[k].data + 4 * e, sizeof v);
        std::snprintf(buf, sizeof buf, "%d", v);
      } else {
        float v;
        std::memcpy(&v, items[k].data + 4 * e, sizeof v);
        std::snprintf(buf, sizeof buf, "%g", static_cast<double>(v));
      }
      if (!text.empty()) text += ' ';
      text += buf;
    }
  }
  return text;
}

// Tells the user at the terminal why an answer is asked for again.
void explain(const detail::Item* items, int n, const std::vector<std::string>& lines,
             bool too_many) {
  int count = 0;
  bool whole = true;
  for (int k = 0; k < n; ++k) {
    count += items[k].count;
    whole = whole && items[k].kind == detail::Item::integer;
  }
  if (decimal_comma(items, n, lines)) {
    detail::write_items(terminal, "(1X,'WRITE DECIMALS WITH A POINT, NOT A COMMA. TRY AGAIN.')",
                        nullptr, 0);
  } else if (too_many && count == 1) {
    detail::write_items(terminal, "(1X,'GIVE ONE VALUE ONLY. TRY AGAIN.')", nullptr, 0);
  } else if (too_many) {
    const detail::Item item{detail::Item::integer, reinterpret_cast<char*>(&count), 1, 4};
    detail::write_items(terminal, "(1X,'GIVE ',I1,' VALUES ONLY. TRY AGAIN.')", &item, 1);
  } else if (whole && count == 1) {
    detail::write_items(terminal, "(1X,'GIVE A WHOLE NUMBER. TRY AGAIN.')", nullptr, 0);
  } else if (whole) {
    detail::write_items(terminal, "(1X,'GIVE WHOLE NUMBERS ONLY. TRY AGAIN.')", nullptr, 0);
  } else {
    detail::write_items(terminal, "(1X,'GIVE A NUMBER, SUCH AS 2.5 OR 1.0E-3. TRY AGAIN.')",
                        nullptr, 0);
  }
}

// Warns of an answer from a file or a pipe that holds more values than its
// question takes: it was read as before, the rest of the line unused.
void warn_extra_values(const char* question, const detail::Item* items, int n,
                       const std::vector<std::string>& lines) {
  std::string advice = "the rest of the line is not used";
  if (decimal_comma(items, n, lines)) {
    std::string point = answer_text(lines);
    point[point.find(',')] = '.';
    advice = "a comma separates values; write " + point;
  }
  flush_terminal();
  std::fprintf(stderr,
               "%s: warning: the answer '%s' to the question \"%s\" (answer %d on the terminal "
               "input) was read as %s: %s\n",
               program, answer_text(lines).c_str(), question, units[terminal_in].records + 1,
               values_text(items, n).c_str(), advice.c_str());
}
}  // namespace

namespace detail {

// Formats a terminal record in memory and keeps its lines.
void hold_record(const char* format, const Item* items, int n) {
  constexpr int width = 200, lines = 16;
  char buffer[width * lines];
  std::memset(buffer, ' ', sizeof buffer);
  icilist c{1, buffer, 1, const_cast<char*>(format), width, lines};
  integer rc = s_wsfi(&c);
  for (int k = 0; k < n && rc == 0; ++k) {
    ftnint count = items[k].count;
    rc = do_fio(&count, items[k].data, items[k].length);
  }
  if (rc == 0) rc = e_wsfi();
  if (rc != 0) return;  // not a record the terminal would have shown in full
  int last = lines;
  while (last > 1 && std::all_of(buffer + (last - 1) * width, buffer + last * width,
                                 [](char ch) { return ch == ' '; })) {
    --last;
  }
  for (int line = 0; line < last; ++line) {
    std::string text(buffer + line * width, width);
    text.erase(text.find_last_not_of(' ') + 1);
    held += text;
    held += '\n';
  }
  if (held.size() > 65536) held.erase(0, held.size() - 4096);  // the last lines are enough
}

void write_items(Unit unit, const char* format, const Item* items, int n) {
  if (holding && (unit == terminal || unit == report || unit == snapshot_file)) {
    if (unit == terminal) hold_record(format, items, n);
    return;
  }
  if (injected(writes_left)) {
    errno = ENOSPC;
    write_failed(unit, 0);
  }
  // The run-time connects a unit to its default file on the first write; a
  // directory in the way would leave it holding a stream it never closes.
  struct stat st {};
  if (stream(unit) == nullptr && unit != terminal && stat(file_name(unit), &st) == 0 &&
      S_ISDIR(st.st_mode)) {
    write_failed(unit, cannot_write_file);
  }
  cilist c{1, unit, 1, const_cast<char*>(format), 0};
  errno = 0;
  integer rc = s_wsfe(&c);
  for (int k = 0; k < n && rc == 0; ++k) {
    ftnint count = items[k].count;
    rc = do_fio(&count, items[k].data, items[k].length);
  }
  if (rc == 0) rc = e_wsfe();
  if (!units[unit].written) {  // connected by this first write
    write_only(stream(unit));
    drop_earlier_contents(stream(unit));
  }
  units[unit].written = true;
  FILE* f = stream(unit);
  if (rc != 0 || (f != nullptr && std::ferror(f))) write_failed(unit, rc);
  check_signal();
}

Status read_items(Unit unit, const char* format, const Item* items, int n) {
  if (unit == network_file) connect_network_file();
  UnitState& u = units[unit];
  integer rc;
  if (u.input.file != nullptr) {
    const Status line = injected(reads_left) ? Status{error, EIO} : next_line(u.input);
    if (line.code != ok) {
      // Whatever the record, a file that cannot be read, or a line beyond
      // any layout, has no record to offer.
      if (line == error) {
        ++u.records;
        bad_record(unit, line, "record");
      }
      return line;
    }
    const auto found = check_line(unit, format, items, n);
    icilist c{1, u.input.line.data(), 1, const_cast<char*>(format),
              static_cast<ftnint>(u.input.line.size()), 1};
    rc = s_rsfi(&c);
    for (int k = 0; k < n && rc == 0; ++k) {
      ftnint count = items[k].count;
      rc = do_fio(&count, items[k].data, items[k].length);
    }
    if (rc == 0) rc = e_rsfi();
    if (rc == 0 && found) {
      ++u.records;  // the warnings name the line just read
      warn_implied_decimals(unit, *found, items, n);
      return {ok, 0};
    }
  } else {
    cilist c{1, unit, 1, const_cast<char*>(format), 0};
    rc = s_rsfe(&c);
    for (int k = 0; k < n && rc == 0; ++k) {
      ftnint count = items[k].count;
      rc = do_fio(&count, items[k].data, items[k].length);
    }
    if (rc == 0) rc = e_rsfe();
  }
  if (rc < 0) return {end, 0};
  ++u.records;
  if (rc == 0) return {ok, 0};
  return {error, static_cast<int>(rc)};
}

bool ask_items(const char* question, const Item* items, int n) {
  show_question();
  if (injected(reads_left)) no_answer(question, {error, EIO});
  // Each try reads the lines taken so far afresh; a line is added while
  // the values run out before the items do.
  std::vector<std::string> lines;
  std::vector<char> before = save(items, n);
  integer rc = -1;
  while (rc < 0) {
    std::string line;
    Status got;
    {
      const Awaiting waiting;
      got = answer_line(line);
    }
    if (got == error) no_answer(question, got);
    if (got == end) {
      if (lines.empty()) no_answer(question, got);
      break;  // the values so far, as far as they go
    }
    if (line.find_first_not_of(" \t") == std::string::npos) continue;  // no values
    lines.push_back(std::move(line));
    restore(items, n, before);
    rc = read_list(lines, items, n, nullptr);
  }
  if (rc < 0) no_answer(question, {end, 0});
  const bool typed = isatty(0) == 1;
  if (rc > 0) {
    if (!typed) no_answer(question, {error, static_cast<int>(rc)});
    restore(items, n, before);
    explain(items, n, lines, false);
    return false;
  }
  // A value beyond those asked for: read again with one more.
  std::vector<char> scratch = save(items, n);
  float more = std::nanf("");
  const integer again = read_list(lines, items, n, &more);
  restore(items, n, scratch);
  if (again > 0 || (again == 0 && !std::isnan(more))) {
    if (typed) {
      restore(items, n, before);
      explain(items, n, lines, again == 0);  // more values, or what is no value
      return false;
    }
    warn_extra_values(question, items, n, lines);
  }
  ++units[terminal_in].records;
  check_signal();
  return true;
}

}  // namespace detail

void ask_first_character(const char* question, std::array<char, 4>& answer) {
  show_question();
  if (injected(reads_left)) no_answer(question, {error, EIO});
  // A last answer without a line end reads as the end of the input; its
  // first character is known from a look ahead.
  int first;
  {
    const Awaiting waiting;
    first = std::getc(stdin);
  }
  if (first == EOF) no_answer(question, {end, 0});
  std::ungetc(first, stdin);
  cilist c{1, terminal_in, 1, const_cast<char*>("(A1)"), 0};
  ftnint count = 1;
  integer rc = s_rsfe(&c);
  if (rc == 0) rc = do_fio(&count, answer.data(), 4);
  if (rc == 0) rc = e_rsfe();
  if (rc < 0) answer = {static_cast<char>(first), ' ', ' ', ' '};
  else if (rc > 0) no_answer(question, {error, static_cast<int>(rc)});
  ++units[terminal_in].records;
  check_signal();
}

int records_read(Unit unit) { return units[unit].records; }

void hold_records(bool on) {
  holding = on;
  held.clear();
}

const std::string& held_terminal() { return held; }

void bad_record(Unit unit, Status status, const char* record) {
  flush_terminal();
  if (status == end) {
    std::fprintf(stderr, "%s: %s, line %d: the file ends where the %s is due\n", program,
                 file_name(unit), records_read(unit) + 1, record);
  } else {
    std::fprintf(stderr, "%s: %s, line %d: unreadable %s (%s)\n", program, file_name(unit),
                 records_read(unit), record, reason_text(status.reason));
  }
  throw Stop{exit_bad_io};
}

}  // namespace fio
