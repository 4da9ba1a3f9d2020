// ecodyn's command line: --help and --version answer and exit; anything else
// is refused before a file is touched.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/scratch.h"

namespace {

using namespace ecodyn::test;
using testing::HasSubstr;
using testing::Matcher;

TEST(CommandLine, HelpAndVersionAnswerAndAnyOtherArgumentIsRefused) {
  const struct {
    const char* args;
    int status;
    Matcher<std::string> out, err;
  } cases[] = {
      {"--help", 0, HasSubstr("fort.7"), ""},
      {"--version", 0, std::string("ecodyn ") + ECODYN_VERSION + "\n", ""},
      {"my.net", 2, "",
       "ecodyn: unexpected argument 'my.net': ecodyn reads the network from fort.7 in the current "
       "directory and the answers from standard input (ecodyn-run runs a named network file)\n"},
      {"--version my.net", 2, "", HasSubstr("unexpected argument '--version'")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    ScratchDir dir;
    write_file(dir.file("fort.7"), "A network that must not be read\n");
    write_file(dir.file("fort.8"), "an earlier report\n");
    const RunResult r = run(ECODYN_BINARY, dir.path(), "1\n", c.args);
    EXPECT_EQ(c.status, r.status);
    EXPECT_THAT(r.out, c.out);
    EXPECT_THAT(r.err, c.err);
    EXPECT_EQ("an earlier report\n", read_file(dir.file("fort.8")));
    EXPECT_FALSE(file_exists(dir.file("fort.18")));
  }
  ScratchDir dir;  // the help tells what is read and written and the statuses
  EXPECT_THAT(run(ECODYN_BINARY, dir.path(), "", "--help").out,
              testing::AllOf(HasSubstr("fort.8"), HasSubstr("fort.18"), HasSubstr("Exit status: 0"),
                             HasSubstr("ecodyn-run(1)")));
}

}  // namespace
