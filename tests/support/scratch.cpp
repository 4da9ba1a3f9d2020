#include "support/scratch.h"

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace ecodyn::test {

namespace fs = std::filesystem;

ScratchDir::ScratchDir() {
  std::string tmpl = (fs::temp_directory_path() / "ecodyn-test-XXXXXX").string();
  if (mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
  previous_ = fs::current_path().string();
  fs::current_path(path_);
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  fs::current_path(previous_, ec);
  fs::remove_all(path_, ec);
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

bool file_exists(const std::string& path) { return fs::exists(path); }

void write_file(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

RunResult run(const std::string& program, const std::string& dir, const std::string& input,
              const std::string& args) {
  write_file(dir + "/.stdin", input);
  const auto [status, err] = shell(dir, "'" + program + "' " + args + " <.stdin >.stdout");
  const RunResult r{status < 128 ? status : -1, read_file(dir + "/.stdout"), err};
  for (const char* f : {"/.stdin", "/.stdout"}) fs::remove(dir + f);
  return r;
}

std::pair<int, std::string> shell(const std::string& dir, const std::string& command) {
  const std::string err = dir + "/.shell-stderr";
  const int raw = std::system(("cd '" + dir + "' && { " + command + "; } 2>'" + err + "'").c_str());
  std::pair<int, std::string> r{WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw), read_file(err)};
  fs::remove(err);
  return r;
}

}  // namespace ecodyn::test
