// Test support: a scratch directory to run in, files in and out of it, and
// the real programs run with their terminal answers on standard input.
#pragma once

#include <string>
#include <utility>

namespace ecodyn::test {

// A fresh temporary directory, the working directory while the object
// lives; removed with its contents afterwards.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_, previous_;
};

std::string read_file(const std::string& path);  // "" if it does not exist
bool file_exists(const std::string& path);
void write_file(const std::string& path, const std::string& text);

struct RunResult {
  int status = -1;  // exit status, or -1 if killed by a signal
  std::string out;  // standard output (the terminal)
  std::string err;
};

// Runs a program in a directory with the given standard input.
RunResult run(const std::string& program, const std::string& dir, const std::string& input,
              const std::string& args = "");

// Runs a shell command in dir: its exit status (128 + n for signal n) and
// its standard error.
std::pair<int, std::string> shell(const std::string& dir, const std::string& command);

inline const std::string examples_dir = ECODYN_SOURCE_DIR "/examples/";
// Runs ecodyn in dir (with its fort.7 already there).
inline RunResult run_ecodyn(const std::string& dir, const std::string& answers) {
  return run(ECODYN_BINARY, dir, answers);
}

#ifdef ECODYN_IMPORT_BINARY
inline RunResult run_import(const std::string& dir, const std::string& args,
                            const std::string& input = "") {
  return run(ECODYN_IMPORT_BINARY, dir, input, args);
}
#endif

}  // namespace ecodyn::test
