#include "common/spool.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "fio/fio.h"

namespace ecodyn::tools {

Spool::Spool() {
  const char* tmpdir = std::getenv("TMPDIR");
  dir_ = tmpdir != nullptr && *tmpdir != '\0' ? tmpdir : "/tmp";
  std::string name = dir_ + "/ecodyn-spool-XXXXXX";
  const int fd = mkstemp(name.data());
  if (fd < 0) fail("write");
  unlink(name.c_str());
  file_ = fdopen(fd, "w+b");
  if (file_ == nullptr) {
    const int error = errno;
    ::close(fd);
    errno = error;
    fail("write");
  }
}

Spool::~Spool() {
  if (file_ != nullptr) std::fclose(file_);
}

void Spool::fail(const char* what) const {
  const int error = errno ? errno : EIO;
  fio::check_signal();  // a write cut short by a signal is the signal's doing
  throw std::runtime_error(std::string("cannot ") + what + " a temporary file in " + dir_ + ": " +
                           std::strerror(error));
}

void Spool::write(std::string_view text) {
  errno = 0;
  if (std::fwrite(text.data(), 1, text.size(), file_) != text.size()) fail("write");
}

void Spool::rewind() {
  errno = 0;
  if (std::fflush(file_) != 0 || std::ferror(file_) || std::fseek(file_, 0, SEEK_SET) != 0)
    fail("write");
}

bool Spool::read_line(std::string& line) {
  line.clear();
  int c;
  while ((c = getc_unlocked(file_)) != EOF && c != '\n') line.push_back(static_cast<char>(c));
  if (std::ferror(file_)) fail("read");
  return c != EOF || !line.empty();
}

std::size_t Spool::read(char* buffer, std::size_t size) {
  const std::size_t n = std::fread(buffer, 1, size, file_);
  if (n == 0 && std::ferror(file_)) fail("read");
  return n;
}

}  // namespace ecodyn::tools
