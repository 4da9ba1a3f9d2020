// The one place that speaks to the f2c run-time. Its header defines macros
// (abs, min, max) that break the standard library, so it stays in here.
#include "fio/fio.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

extern "C" {
#include <f2c.h>
integer s_wsfe(cilist*);
integer e_wsfe(void);
integer s_rsfe(cilist*);
integer e_rsfe(void);
integer s_rsle(cilist*);
integer e_rsle(void);
integer do_fio(ftnint* number, char* ptr, ftnlen len);
integer do_lio(ftnint* type, ftnint* number, char* ptr, ftnlen len);
integer f_open(olist*);
integer f_clos(cllist*);
void f_init(void);
void f_exit(void);
extern const char* F_err[];

// The run-time's table of units; only the stream of each is looked at.
struct f2c_unit {
  FILE* ufd;
  char* ufnm;
  long uinode;
  int udev;
  int url;
  flag useek, ufmt, urw, ublnk, uend, uwrt, uscrtch;
};
extern f2c_unit f__units[];
}
#undef abs
#undef min
#undef max

static_assert(sizeof(f2c_unit) == 64, "layout of the run-time's unit table");
static_assert(sizeof(integer) == 4 && sizeof(real) == 4 && sizeof(ftnlen) == 4);

namespace fio {
namespace {

constexpr int unit_count = 100;  // units the run-time knows

struct UnitState {
  std::string name;      // file name, once known
  int records = 0;       // records read
  bool written = false;  // records have been written to it
  bool failed = false;
};

UnitState units[unit_count];
int last_code = 0;
const char* program = "ecodyn";

ftnint type_code(detail::Item::Kind kind) {
  switch (kind) {
    case detail::Item::integer: return 3;  // TYLONG
    case detail::Item::real: return 4;     // TYREAL
    case detail::Item::character: return 9;  // TYCHAR
  }
  return 0;
}

FILE* stream(Unit unit) { return f__units[unit].ufd; }

const char* run_time_text(int code) {
  if (code >= 100 && code <= 131) return F_err[code - 100];
  if (code > 0) return std::strerror(code);
  return "end of file";
}

void flush_terminal() { std::fflush(stdout); }

// A unit whose stream has taken an error can no longer be trusted to hold
// what was written to it.
[[noreturn]] void write_failed(Unit unit, int code) {
  flush_terminal();
  std::fprintf(stderr, "%s: cannot write %s: %s\n", program, file_name(unit),
               code ? run_time_text(code) : std::strerror(errno ? errno : EIO));
  units[unit].failed = true;
  stop(exit_bad_io);
}

[[noreturn]] void cannot_open_network_file() {
  flush_terminal();
  std::fprintf(stderr, "%s: cannot open the network file %s: %s\n", program,
               file_name(network_file), std::strerror(errno ? errno : ENOENT));
  stop(exit_bad_io);
}

// The run-time takes a last line without a line end for the end of the file.
// A network file edited by hand often ends so; it is read from a copy with
// the line end added, under its own name.
bool connect_unterminated_copy(const char* path) {
  std::FILE* in = std::fopen(path, "rb");
  if (in == nullptr) return false;
  const bool unterminated =
      std::fseek(in, -1, SEEK_END) == 0 && std::getc(in) != '\n' && !std::ferror(in);
  std::string text;
  if (unterminated && std::fseek(in, 0, SEEK_SET) == 0) {
    char buf[65536];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, in)) > 0;) text.append(buf, n);
  }
  const bool readable = !std::ferror(in);
  std::fclose(in);
  if (!unterminated || !readable || text.empty()) return false;
  text += '\n';
  std::string copy = (std::filesystem::temp_directory_path() / "ecodyn-network-XXXXXX").string();
  const int fd = mkstemp(copy.data());
  if (fd < 0) return false;
  const bool copied = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  ::close(fd);
  const bool connected = copied && connect(network_file, copy.c_str(), true);
  unlink(copy.c_str());  // the run-time keeps it open; nothing is left behind
  units[network_file].name = path;
  return connected;
}

void connect_network_file() {
  if (stream(network_file) != nullptr) return;
  const std::string path = file_name(network_file);
  struct stat st {};
  errno = 0;
  if (stat(path.c_str(), &st) != 0) cannot_open_network_file();
  if (S_ISDIR(st.st_mode)) {
    errno = EISDIR;
    cannot_open_network_file();
  }
  if (connect_unterminated_copy(path.c_str())) return;
  if (!connect(network_file, path.c_str(), true)) cannot_open_network_file();
}

// Writes out every connected unit; used on the way out after a signal.
void flush_all_units() {
  for (int u = 0; u < unit_count; ++u) {
    if (f__units[u].ufd != nullptr && u != terminal_in) std::fflush(f__units[u].ufd);
  }
}

extern "C" void on_signal(int sig) {
  flush_all_units();
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

}  // namespace

void set_program_name(const char* name) { program = name; }

const char* program_name() { return program; }

void start() {
  f_init();
  std::signal(SIGPIPE, SIG_IGN);
  for (const int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) std::signal(sig, on_signal);
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
  units[unit].name = path;
  units[unit].records = 0;
  olist o{};
  o.oerr = 1;
  o.ounit = unit;
  o.ofnm = const_cast<char*>(path);
  o.ofnmlen = static_cast<ftnlen>(std::strlen(path));
  o.osta = const_cast<char*>(must_exist ? "old" : "replace");
  o.ofm = const_cast<char*>("formatted");
  errno = 0;
  return f_open(&o) == 0;
}

bool close(Unit unit) {
  FILE* f = stream(unit);
  bool good = true;
  if (f != nullptr) good = std::fflush(f) == 0 && !std::ferror(f);
  cllist c{1, unit, nullptr};
  return f_clos(&c) == 0 && good;
}

namespace {

[[noreturn]] void no_answer(const char* question, int code) {
  flush_terminal();
  if (code < 0) {
    std::fprintf(stderr, "%s: no answer to the question \"%s\": the terminal input has ended\n",
                 program, question);
  } else {
    std::fprintf(stderr, "%s: unreadable answer to the question \"%s\" (answer %d on the terminal input): %s\n",
                 program, question, units[terminal_in].records + 1, run_time_text(code));
  }
  stop(exit_bad_io);
}

}  // namespace

namespace detail {

void write_items(Unit unit, const char* format, const Item* items, int n) {
  cilist c{1, unit, 1, const_cast<char*>(format), 0};
  errno = 0;
  integer rc = s_wsfe(&c);
  for (int k = 0; k < n && rc == 0; ++k) {
    ftnint count = items[k].count;
    rc = do_fio(&count, items[k].data, items[k].length);
  }
  if (rc == 0) rc = e_wsfe();
  units[unit].written = true;
  FILE* f = stream(unit);
  if (rc != 0 || (f != nullptr && std::ferror(f))) write_failed(unit, rc);
}

Status read_items(Unit unit, const char* format, const Item* items, int n) {
  if (unit == network_file) connect_network_file();
  cilist c{1, unit, 1, const_cast<char*>(format), 0};
  integer rc = s_rsfe(&c);
  for (int k = 0; k < n && rc == 0; ++k) {
    ftnint count = items[k].count;
    rc = do_fio(&count, items[k].data, items[k].length);
  }
  if (rc == 0) rc = e_rsfe();
  last_code = rc;
  if (rc < 0) return end;
  ++units[unit].records;
  return rc == 0 ? ok : error;
}

void ask_items(const char* question, const Item* items, int n) {
  flush_terminal();
  cilist c{1, terminal_in, 1, nullptr, 0};
  integer rc = s_rsle(&c);
  for (int k = 0; k < n && rc == 0; ++k) {
    ftnint type = type_code(items[k].kind);
    ftnint count = items[k].count;
    rc = do_lio(&type, &count, items[k].data, items[k].length);
  }
  if (rc == 0) rc = e_rsle();
  if (rc != 0) no_answer(question, rc);
  ++units[terminal_in].records;
}

}  // namespace detail

void ask_first_character(const char* question, std::array<char, 4>& answer) {
  flush_terminal();
  // A last answer without a line end reads as the end of the input; its
  // first character is known from a look ahead.
  const int first = std::getc(stdin);
  if (first == EOF) no_answer(question, -1);
  std::ungetc(first, stdin);
  const detail::Item item = detail::item(answer);
  if (detail::read_items(terminal_in, "(A1)", &item, 1) == end) {
    answer = {static_cast<char>(first), ' ', ' ', ' '};
  }
}

int records_read(Unit unit) { return units[unit].records; }

void bad_record(Unit unit, Status status, const char* record) {
  flush_terminal();
  if (status == end) {
    std::fprintf(stderr, "%s: %s, line %d: the file ends where the %s is due\n", program,
                 file_name(unit), records_read(unit) + 1, record);
  } else {
    std::fprintf(stderr, "%s: %s, line %d: unreadable %s (%s)\n", program, file_name(unit),
                 records_read(unit), record, run_time_text(last_code));
  }
  stop(exit_bad_io);
}

void stop(int status) {
  // Every output file must hold all that was written to it; a stream that
  // took an error on the way, or on this last flush, makes the run fail.
  static bool stopping = false;
  if (!stopping) {
    stopping = true;
    for (int u = 0; u < unit_count; ++u) {
      FILE* f = f__units[u].ufd;
      if (f == nullptr || !units[u].written) continue;
      errno = 0;
      if ((std::fflush(f) != 0 || std::ferror(f)) && !units[u].failed) {
        units[u].failed = true;
        if (f != stdout && f != stderr) {
          std::fprintf(stderr, "%s: cannot write %s: %s\n", program,
                       file_name(static_cast<Unit>(u)), std::strerror(errno ? errno : EIO));
        }
        status = exit_bad_io;
      }
    }
    f_exit();
  }
  std::exit(status);
}

}  // namespace fio
