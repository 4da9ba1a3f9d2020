// Test support: a scratch directory to run in, files in and out of it, and
// the real programs run with their terminal answers on standard input.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace ecodyn::test {

using testing::_;
using testing::AllOf;
using testing::HasSubstr;
using testing::Matcher;
using testing::Not;
using testing::StartsWith;

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
