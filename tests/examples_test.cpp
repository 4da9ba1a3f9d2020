// The bundled examples are tests: each answer file, run by the real program
// on its network, gives exactly the terminal output, report, snapshots and
// exit status stored under examples/expected/NAME/.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "support/scratch.h"

namespace {

namespace fs = std::filesystem;
using namespace ecodyn::test;

struct Example {
  std::string name, answers, network;  // NAME of NAME.answers; the paths of both files
};

// Every NAME.answers runs on the network named by NAME's first word; a
// resumed example runs on the snapshots its first word's example wrote.
std::vector<Example> examples() {
  const fs::path top = ECODYN_SOURCE_DIR "/examples";
  std::vector<Example> list;
  for (const fs::path& dir : {top, top / "networks"}) {
    for (const auto& entry : fs::directory_iterator(dir)) {
      if (entry.path().extension() != ".answers") continue;
      const std::string name = entry.path().stem().string();
      const std::string first = name.substr(0, name.find('.'));
      const fs::path network = name.ends_with(".resume")
                                   ? top / "expected" / first / "fort.18"
                                   : dir / (first + ".net");
      list.push_back({name, entry.path().string(), network.string()});
    }
  }
  return list;
}

class Examples : public testing::TestWithParam<Example> {};

TEST_P(Examples, GiveTheStoredOutputsByteForByte) {
  const Example& e = GetParam();
  const std::string expected = ECODYN_SOURCE_DIR "/examples/expected/" + e.name + "/";
  ASSERT_TRUE(file_exists(expected + "status")) << "no stored outputs for " << e.name;
  ScratchDir dir;
  write_file("fort.7", read_file(e.network));
  const RunResult r = run_ecodyn(dir.path(), read_file(e.answers));
  EXPECT_EQ(std::stoi(read_file(expected + "status")), r.status);
  EXPECT_EQ(read_file(expected + "terminal.txt"), r.out);
  EXPECT_EQ(read_file(expected + "stderr.txt"), r.err);
  for (const char* file : {"fort.8", "fort.18"}) {
    EXPECT_EQ(file_exists(expected + file), file_exists(file)) << file;
    EXPECT_TRUE(read_file(expected + file) == read_file(file)) << file << " differs";
  }
}

INSTANTIATE_TEST_SUITE_P(Bundled, Examples, testing::ValuesIn(examples()), [](const auto& info) {
  std::string n = info.param.name;
  std::replace(n.begin(), n.end(), '.', '_');
  return n;
});

}  // namespace
