// The README is kept true: every `sh` block in it runs, from the top of a
// scratch copy of the source tree whose build/ is the build under test, and
// must end with status 0. The set-up section is the two commands a new user
// runs; the demonstration is run here, the tests are what runs this.
#include <sstream>

#include "support/scratch.h"

namespace {

namespace fs = std::filesystem;
using namespace ecodyn::test;

struct Block {
  std::string section;  // the heading above it
  int line;             // of the opening fence
  std::string text;
};

std::vector<Block> sh_blocks() {
  std::istringstream in(read_file(ECODYN_SOURCE_DIR "/README.md"));
  std::vector<Block> blocks;
  std::string line, section, indent;
  bool inside = false;
  for (int n = 1; std::getline(in, line); ++n) {
    const auto first = line.find_first_not_of(' ');
    const std::string bare = first == std::string::npos ? "" : line.substr(first);
    if (inside) {
      if (bare == "```") {
        inside = false;
      } else {
        blocks.back().text += line.substr(std::min(line.size(), indent.size())) + "\n";
      }
    } else if (bare == "```sh") {
      inside = true;
      indent = line.substr(0, first);
      blocks.push_back({section, n, ""});
    } else if (line.starts_with("## ")) {
      section = line.substr(3);
    }
  }
  return blocks;
}

// A scratch top: the source tree's entries linked, examples/ copied (the
// commands write beside them), build/ the build under test.
void make_top(const fs::path& top) {
  const fs::path source = ECODYN_SOURCE_DIR;
  const fs::path build = fs::path(ECODYN_BINARY).parent_path();
  for (const auto& entry : fs::directory_iterator(source)) {
    const std::string name = entry.path().filename().string();
    if (name.starts_with("build") || name == "examples") continue;
    fs::create_symlink(entry.path(), top / name);
  }
  fs::copy(source / "examples", top / "examples", fs::copy_options::recursive);
  fs::create_symlink(build, top / "build");
}

TEST(Readme, SetUpIsTheTwoCommandsAndEveryExampleBlockRuns) {
  const std::vector<Block> blocks = sh_blocks();
  std::vector<std::string> set_up;
  for (const Block& b : blocks) {
    if (b.section.starts_with("Set-up")) set_up.push_back(b.text);
  }
  EXPECT_EQ((std::vector<std::string>{"bash scripts/demo.sh\n", "bash scripts/test.sh\n"}),
            set_up);
  ASSERT_GE(blocks.size(), 10u);
  ScratchDir dir;
  make_top(dir.path());
  for (const Block& b : blocks) {
    if (b.text == "bash scripts/test.sh\n") continue;  // this is what runs the tests
#if defined(__SANITIZE_ADDRESS__)
    // The benchmarks time the optimized build; the ordinary run of this
    // test has run them.
    if (b.section == "Benchmarks") continue;
#endif
    write_file(dir.file(".block.sh"), b.text);
    // The benchmark comparison times the build under test, once, rather
    // than building the tree again: here it must run, not measure well.
    const RunResult r = run("/usr/bin/env", dir.path(), "",
                            "CURRENT=" + fs::path(ECODYN_BINARY).parent_path().string() +
                                " RUNS=1 /bin/bash -euo pipefail .block.sh");
    EXPECT_EQ(0, r.status) << "README.md line " << b.line << " (" << b.section << "):\n"
                           << b.text << "--- standard error:\n"
                           << r.err;
  }
}

}  // namespace
