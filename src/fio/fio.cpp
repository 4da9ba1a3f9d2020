// The one place that speaks to the f2c run-time. Its header defines macros
// (abs, min, max) that break the standard library, so it stays in here.
#include "fio/fio.h"

#include <cerrno>
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
  std::string name;   // file name, once known
  int records = 0;    // records read
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

void connect_network_file() {
  if (stream(network_file) != nullptr) return;
  if (!connect(network_file, file_name(network_file), true)) {
    flush_terminal();
    std::fprintf(stderr, "%s: cannot open the network file %s: %s\n", program,
                 file_name(network_file), std::strerror(errno ? errno : ENOENT));
    stop(exit_bad_io);
  }
}

}  // namespace

void set_program_name(const char* name) { program = name; }

void start() { f_init(); }

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

void ask_items(const char* question, const char* format, const Item* items, int n) {
  flush_terminal();
  integer rc;
  if (format != nullptr) {
    rc = static_cast<integer>(read_items(terminal_in, format, items, n));
    if (rc != 0) rc = last_code;
  } else {
    cilist c{1, terminal_in, 1, nullptr, 0};
    rc = s_rsle(&c);
    for (int k = 0; k < n && rc == 0; ++k) {
      ftnint type = type_code(items[k].kind);
      ftnint count = items[k].count;
      rc = do_lio(&type, &count, items[k].data, items[k].length);
    }
    if (rc == 0) rc = e_rsle();
    if (rc >= 0) ++units[terminal_in].records;
  }
  if (rc == 0) return;
  std::fprintf(stderr, "%s: no usable answer to the question \"%s\": %s\n", program, question,
               rc < 0 ? "the terminal input has ended" : run_time_text(rc));
  stop(exit_bad_io);
}

}  // namespace detail

int records_read(Unit unit) { return units[unit].records; }

const char* last_error() { return run_time_text(last_code); }

void bad_record(Unit unit, Status status, const char* record) {
  flush_terminal();
  if (status == end) {
    std::fprintf(stderr, "%s: %s, line %d: the file ends where the %s is due\n", program,
                 file_name(unit), records_read(unit) + 1, record);
  } else {
    std::fprintf(stderr, "%s: %s, line %d: unreadable %s (%s)\n", program, file_name(unit),
                 records_read(unit), record, last_error());
  }
  stop(exit_bad_io);
}

void fail(const char* text) {
  flush_terminal();
  std::fprintf(stderr, "%s: %s\n", program, text);
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
      if (f == nullptr || f == stdin || u == terminal_in) continue;
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
