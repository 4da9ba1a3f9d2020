#include "output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/replaceable.h"

namespace ecodyn::tools {
namespace {

// The temporary file while it exists, and the file it is to become.
char pending[4096];
std::string target;

// A run that ends otherwise than by completing its body (an error stop, a
// write that failed, a signal) leaves no temporary file behind; the user is
// told what became of the file asked for.
void discard_on_stop() {
  if (pending[0] == '\0') return;
  OutputFile::discard();
  std::fprintf(stderr, "%s: %s is not written\n", fio::program_name(), target.c_str());
}

// Returns the mode the file would get if created afresh (or keeps the
// mode of the file it replaces).
mode_t mode_for(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return st.st_mode & 07777;
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

}  // namespace

bool OutputFile::open(fio::Unit unit, const std::string& requested, std::string& error) {
  // A device or a pipe takes the records as they come: there is no file to
  // put in place, and a rename would put a plain file where the device or
  // pipe was. Anything else that is not a plain file is refused.
  struct stat st;
  if (stat(requested.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    if (S_ISDIR(st.st_mode)) {
      error = "cannot write " + requested + ": " + std::strerror(EISDIR);
      return false;
    }
    if (!S_ISCHR(st.st_mode) && !S_ISFIFO(st.st_mode)) {
      error = "cannot write " + requested + ": not a regular file, character device or pipe";
      return false;
    }
    return open_stream(unit, requested, error);
  }

  // A link stays a link: the file it points to is replaced (or created).
  const std::string path = link_target(requested);
  const std::size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  std::string temp = dir + "." + base + ".ecodyn-XXXXXX";
  if (temp.size() >= sizeof pending) {
    error = "cannot write " + requested + ": the name is too long";
    return false;
  }
  fio::at_stop(discard_on_stop);
  const int fd = mkstemp(temp.data());
  if (fd < 0) {
    error = "cannot write " + requested + ": " + std::strerror(errno);
    return false;
  }
  std::snprintf(pending, sizeof pending, "%s", temp.c_str());
  fchmod(fd, mode_for(path));
  ::close(fd);
  if (!fio::connect(unit, temp.c_str(), false)) {
    error = "cannot write " + requested + ": " + std::strerror(errno ? errno : EIO);
    discard();
    return false;
  }
  target = requested;
  unit_ = unit;
  path_ = path;
  return true;
}

bool OutputFile::open_stream(fio::Unit unit, const std::string& requested, std::string& error) {
  // The run-time opens a file more than once on connecting it; a pipe's
  // reader would take the first close for the end of the records. Holding
  // the pipe open for writing meanwhile (this waits for a reader, as any
  // writer of a named pipe does) keeps the pipe whole.
  held_ = ::open(requested.c_str(), O_WRONLY | O_CLOEXEC);
  if (held_ < 0 || !fio::connect(unit, requested.c_str(), false)) {
    error = "cannot write " + requested + ": " + std::strerror(errno ? errno : EIO);
    if (held_ >= 0) ::close(held_);
    held_ = -1;
    return false;
  }
  target = requested;
  unit_ = unit;
  path_.clear();
  return true;
}

bool OutputFile::commit(std::string& error) {
  errno = 0;
  const bool written = fio::close(unit_);
  const int reason = errno ? errno : EIO;
  if (held_ >= 0) {
    ::close(held_);
    held_ = -1;
    if (!written) error = "cannot write " + target + ": " + std::strerror(reason);
    return written;
  }
  if (!written) {
    error = "cannot write " + target + ": " + std::strerror(reason);
    discard();
    return false;
  }
  // Only a plain file (or nothing yet) is ever replaced, even if something
  // else has taken its place since the output began.
  struct stat st;
  if (lstat(path_.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    error = "cannot write " + target + ": no longer a regular file";
    discard();
    return false;
  }
  if (std::rename(pending, path_.c_str()) != 0) {
    error = "cannot write " + target + ": " + std::strerror(errno);
    discard();
    return false;
  }
  pending[0] = '\0';
  return true;
}

void OutputFile::discard() {
  if (pending[0] != '\0') {
    unlink(pending);
    pending[0] = '\0';
  }
}

}  // namespace ecodyn::tools
