// Run when the program is built: fails the build when the installed f2c
// run-time's table of units is not laid out as the record layer reads it
// (src/fio/f2c_units.h), instead of letting the program misread it.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" {
#include <f2c.h>
integer f_open(olist*);
integer f_clos(cllist*);
integer s_wsfe(cilist*);
integer e_wsfe(void);
void f_init(void);
}
#undef abs
#undef min
#undef max

#include "fio/f2c_units.h"

namespace {

int failures = 0;

void expect(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "fio_layout_check: the f2c run-time's unit table differs: %s\n", what);
    ++failures;
  }
}

}  // namespace

int main() {
  f_init();
  expect(f__units[0].ufd == stderr, "unit 0 is not standard error");
  expect(f__units[5].ufd == stdin, "unit 5 is not standard input");
  expect(f__units[6].ufd == stdout, "unit 6 is not standard output");

  char path[] = "/tmp/fio-layout-XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) return EXIT_FAILURE;
  close(fd);
  const ftnint unit = 42;
  olist o{};
  o.oerr = 1;
  o.ounit = unit;
  o.ofnm = path;
  o.ofnmlen = static_cast<ftnlen>(std::strlen(path));
  o.osta = const_cast<char*>("replace");
  o.ofm = const_cast<char*>("formatted");
  expect(f_open(&o) == 0, "a unit cannot be connected");
  cilist c{1, unit, 1, const_cast<char*>("(1X,'X')"), 0};
  expect(s_wsfe(&c) == 0 && e_wsfe() == 0, "a record cannot be written");

  const f2c_unit& u = f__units[unit];
  struct stat file {}, stream {};
  expect(u.ufd != nullptr && fstat(fileno(u.ufd), &stream) == 0 && stat(path, &file) == 0 &&
             stream.st_ino == file.st_ino,
         "the stream of a unit is not where it is read");
  expect(u.ufnm != nullptr && std::strcmp(u.ufnm, path) == 0,
         "the file name of a unit is not where it is read");
  expect(f__units[unit + 1].ufd == nullptr && f__units[unit - 1].ufd == nullptr,
         "the entries of the table are not of the size read");
  cllist cl{1, unit, nullptr};
  f_clos(&cl);
  expect(f__units[unit].ufd == nullptr, "closing a unit does not clear its stream");
  unlink(path);
  return failures == 0 ? EXIT_SUCCESS : EXIT_FAILURE;
}
