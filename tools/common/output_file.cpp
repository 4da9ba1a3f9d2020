#include "output_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace ecodyn::tools {
namespace {

// The temporary file while it exists, and the file it is to become.
char pending[4096];
std::string target;

// On every way out but a normal end (an error stop, a write that failed, a
// signal) the record layer calls this after writing out its units: the
// unfinished file goes, and the user is told what became of the file asked
// for.
void discard_at_stop() {
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
  // A link stays a link: the file it points to is replaced.
  std::error_code ec;
  const std::string path = std::filesystem::is_symlink(requested, ec)
                               ? std::filesystem::weakly_canonical(requested, ec).string()
                               : requested;
  const std::size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  std::string temp = dir + "." + base + ".ecodyn-XXXXXX";
  if (temp.size() >= sizeof pending) {
    error = "cannot write " + requested + ": the name is too long";
    return false;
  }
  fio::at_stop(discard_at_stop);
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

bool OutputFile::commit(std::string& error) {
  errno = 0;
  if (!fio::close(unit_)) {
    error = "cannot write " + target + ": " + std::strerror(errno ? errno : EIO);
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
