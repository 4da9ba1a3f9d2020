// The one place that speaks to the f2c run-time. Its header defines macros
// (abs, min, max) that break the standard library, so it stays in here.
#include "fio/fio.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" {
#include <f2c.h>
integer s_wsfe(cilist*);
integer e_wsfe(void);
integer s_rsfe(cilist*);
integer e_rsfe(void);
integer s_rsfi(icilist*);
integer e_rsfi(void);
integer s_rsle(cilist*);
integer e_rsle(void);
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
  return {ok, 0};
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

}  // namespace

namespace detail {

void write_items(Unit unit, const char* format, const Item* items, int n) {
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
  if (!units[unit].written) write_only(stream(unit));  // connected by this first write
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
    icilist c{1, u.input.line.data(), 1, const_cast<char*>(format),
              static_cast<ftnint>(u.input.line.size()), 1};
    rc = s_rsfi(&c);
    for (int k = 0; k < n && rc == 0; ++k) {
      ftnint count = items[k].count;
      rc = do_fio(&count, items[k].data, items[k].length);
    }
    if (rc == 0) rc = e_rsfi();
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

void ask_items(const char* question, const Item* items, int n) {
  show_question();
  if (injected(reads_left)) no_answer(question, {error, EIO});
  cilist c{1, terminal_in, 1, nullptr, 0};
  integer rc;
  {
    const Awaiting waiting;
    rc = s_rsle(&c);
    for (int k = 0; k < n && rc == 0; ++k) {
      ftnint type = type_code(items[k].kind);
      ftnint count = items[k].count;
      rc = do_lio(&type, &count, items[k].data, items[k].length);
    }
    if (rc == 0) rc = e_rsle();
  }
  if (rc != 0) no_answer(question, {rc < 0 ? end : error, static_cast<int>(rc)});
  ++units[terminal_in].records;
  check_signal();
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
