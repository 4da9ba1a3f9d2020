// Test support: a scratch directory to run in, files in and out of it, and
// the real programs run with their terminal answers on standard input.
#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace ecodyn::test {

using testing::_;
using testing::AllOf;
using testing::HasSubstr;
using testing::Matcher;
using testing::Not;
using testing::StartsWith;

namespace fs = std::filesystem;

// A fresh temporary directory, the working directory while the object
// lives; removed with its contents afterwards.
class ScratchDir {
 public:
  ScratchDir()
      : path_((fs::temp_directory_path() / "ecodyn-test-XXXXXX").string()), previous_(fs::current_path()) {
    if (mkdtemp(path_.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    fs::current_path(path_);
  }
  ~ScratchDir() {
    std::error_code ec;
    fs::current_path(previous_, ec);
    fs::remove_all(path_, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_, previous_;
};

// The contents of a file, "" if it does not exist.
inline std::string read_file(const std::string& path) {
  std::ostringstream s;
  s << std::ifstream(path, std::ios::binary).rdbuf();
  return s.str();
}
inline bool file_exists(const std::string& path) { return fs::exists(path); }
inline void write_file(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// Runs a shell command in dir: its exit status (128 + n for signal n) and
// its standard error.
inline std::pair<int, std::string> shell(const std::string& dir, const std::string& command) {
  const std::string err = dir + "/.shell-stderr";
  const int raw = std::system(("cd '" + dir + "' && { " + command + "; } 2>'" + err + "'").c_str());
  std::pair<int, std::string> r{WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw), read_file(err)};
  fs::remove(err);
  return r;
}

struct RunResult {
  int status = -1;  // exit status, or -1 if killed by a signal
  std::string out;  // standard output (the terminal)
  std::string err;
};

// Runs a program in a directory with the given standard input.
inline RunResult run(const std::string& program, const std::string& dir, const std::string& input,
                     const std::string& args = "") {
  write_file(dir + "/.stdin", input);
  const auto [status, err] = shell(dir, "'" + program + "' " + args + " <.stdin >.stdout");
  const RunResult r{status < 128 ? status : -1, read_file(dir + "/.stdout"), err};
  for (const char* f : {"/.stdin", "/.stdout"}) fs::remove(dir + f);
  return r;
}

inline const std::string examples_dir = ECODYN_SOURCE_DIR "/examples/";
// The balanced network of the worked examples: plants (living, biomass 10)
// and detritus (biomass 20); input 5 to the plants; exports 1 and 2;
// respiration 2 of the plants; flows 3 from plants to detritus and 1 back.
inline const std::string two_compartments_title = "TWO COMPARTMENTS: A PLANT POOL FEEDING A DETRITUS POOL";
inline std::string two_compartments_file() { return read_file(examples_dir + "two_compartments.net"); }
// Runs ecodyn in dir (with its fort.7 already there).
inline RunResult run_ecodyn(const std::string& dir, const std::string& answers) {
  return run(ECODYN_BINARY, dir, answers);
}
inline RunResult run_import(const std::string& dir, const std::string& args,
                            const std::string& input = "") {
  return run(ECODYN_IMPORT_BINARY, dir, input, args);
}

}  // namespace ecodyn::test
