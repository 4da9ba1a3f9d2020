#include "common/replaceable.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace ecodyn::tools {

bool replaceable(const std::string& path, std::string& error) {
  struct stat st;
  if (stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    if (S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode)) return true;  // written directly
    error = "cannot write " + path + ": " +
            (S_ISDIR(st.st_mode) ? std::strerror(EISDIR)
                                 : "not a regular file, character device or pipe");
    return false;
  }
  const std::size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  if (access(dir.c_str(), W_OK | X_OK) != 0) {
    error = "cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace ecodyn::tools
