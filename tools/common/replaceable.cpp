#include "common/replaceable.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace ecodyn::tools {

bool same_file(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && S_ISREG(sa.st_mode) &&
         sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

std::string link_target(const std::string& requested) {
  namespace fs = std::filesystem;
  fs::path path = requested;
  std::error_code ec;
  for (int hops = 0; hops < 40 && fs::is_symlink(path, ec); ++hops) {
    const fs::path to = fs::read_symlink(path, ec);
    if (ec) break;
    path = to.is_absolute() ? to : path.parent_path() / to;
  }
  return path.string();
}

namespace {

// Returns the file an output at path creates or replaces, named whatever way
// path was spelt ("t.csv", "./t.csv", "d/../t.csv", a link to it) and
// whether it exists yet or not.
std::string written_file(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::path file = fs::absolute(link_target(path), ec);
  if (!ec) file = fs::weakly_canonical(file, ec);
  return ec ? link_target(path) : file.string();
}

}  // namespace

bool distinct(const std::vector<std::string>& outputs, std::string& error) {
  for (std::size_t b = 0; b < outputs.size(); ++b) {
    for (std::size_t a = 0; a < b; ++a) {
      if (outputs[a].empty() || outputs[b].empty()) continue;
      if (same_file(outputs[a], outputs[b]) || written_file(outputs[a]) == written_file(outputs[b])) {
        error = "cannot write " + outputs[b] + ": it is also the output " + outputs[a];
        return false;
      }
    }
  }
  return true;
}

bool replaceable(const std::string& path, const std::vector<std::string>& inputs,
                 std::string& error) {
  for (const std::string& input : inputs) {
    if (same_file(path, input)) {
      error = "cannot write " + path + ": it is the input " + input;
      return false;
    }
  }
  struct stat st;
  if (stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    if (S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode)) return true;  // written directly
    error = "cannot write " + path + ": " +
            (S_ISDIR(st.st_mode) ? std::strerror(EISDIR)
                                 : "not a regular file, character device or pipe");
    return false;
  }
  // The file is created or replaced where the links end.
  const std::string target = link_target(path);
  const std::size_t slash = target.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : target.substr(0, slash + 1);
  if (access(dir.c_str(), W_OK | X_OK) != 0) {
    error = "cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace ecodyn::tools
