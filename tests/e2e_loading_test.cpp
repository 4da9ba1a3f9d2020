// The real program on its files: every bundled example gives its stored
// outputs byte for byte; the command line; loading networks: the echo
// listing in fort.8, the messages and exit statuses of the stops, files that
// cannot be read.
#include <algorithm>
#include <regex>

#include "support/records.h"
#include "support/scratch.h"

namespace {

using namespace ecodyn::test;

struct Example { std::string name, answers, network; };  // NAME of NAME.answers; the paths of both files

// Every NAME.answers runs on the network named by NAME's first word; a
// resumed example runs on the snapshots its first word's example wrote.
std::vector<Example> examples() {
  const fs::path top = examples_dir;
  std::vector<Example> list;
  for (const fs::path& dir : {top, top / "networks"}) {
    for (const auto& entry : fs::directory_iterator(dir)) {
      if (entry.path().extension() != ".answers") continue;
      const std::string name = entry.path().stem().string(), first = name.substr(0, name.find('.'));
      const fs::path network =
          name.ends_with(".resume") ? top / "expected" / first / "fort.18" : dir / (first + ".net");
      list.push_back({name, entry.path().string(), network.string()});
    }
  }
  return list;
}

class Examples : public testing::TestWithParam<Example> {};

TEST_P(Examples, GiveTheStoredOutputsByteForByte) {
  const Example& e = GetParam();
  const std::string expected = examples_dir + "expected/" + e.name + "/";
  ASSERT_TRUE(file_exists(expected + "status")) << "no stored outputs for " << e.name;
  // The network as stored, and as saved by an editor with Windows line ends.
  for (const bool crlf : {false, true}) {
    SCOPED_TRACE(crlf ? "CRLF line ends" : "LF line ends");
    ScratchDir dir;
    std::string network = read_file(e.network);
    if (crlf) network = std::regex_replace(network, std::regex("\n"), "\r\n");
    write_file("fort.7", network);
    const RunResult r = run_ecodyn(dir.path(), read_file(e.answers));
    EXPECT_EQ(std::stoi(read_file(expected + "status")), r.status);
    EXPECT_EQ(read_file(expected + "terminal.txt"), r.out);
    EXPECT_EQ(read_file(expected + "stderr.txt"), r.err);
    for (const char* file : {"fort.8", "fort.18"}) {
      EXPECT_EQ(file_exists(expected + file), file_exists(file)) << file;
      EXPECT_TRUE(read_file(expected + file) == read_file(file)) << file << " differs";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Bundled, Examples, testing::ValuesIn(examples()), [](const auto& info) {
  std::string n = info.param.name;
  std::replace(n.begin(), n.end(), '.', '_');
  return n;
});

// --help and --version answer and exit; anything else is refused before a
// file is touched.
TEST(CommandLine, HelpAndVersionAnswerAndAnyOtherArgumentIsRefused) {
  const struct {
    const char* args;
    int status;
    Matcher<std::string> out, err;
  } cases[] = {
      {"--help", 0, AllOf(HasSubstr("fort.18"), HasSubstr("Exit status: 0"), HasSubstr("ecodyn-run(1)")), ""},
      {"--version", 0, std::string("ecodyn ") + ECODYN_VERSION + "\n", ""},
      {"my.net", 2, "",
       "ecodyn: unexpected argument 'my.net': ecodyn reads the network from fort.7 in the current "
       "directory and the answers from standard input (ecodyn-run runs a named network file)\n"},
      {"--version my.net", 2, "", HasSubstr("unexpected argument '--version'")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    ScratchDir dir;
    write_file("fort.7", "A network that must not be read\n");
    write_file("fort.8", "an earlier report\n");
    const RunResult r = run(ECODYN_BINARY, dir.path(), "1\n", c.args);
    EXPECT_EQ(c.status, r.status);
    EXPECT_THAT(r.out, c.out);
    EXPECT_THAT(r.err, c.err);
    EXPECT_EQ("an earlier report\n", read_file("fort.8"));
    EXPECT_FALSE(file_exists("fort.18"));
  }
}

// The listing of a vector of two, its values given as nine-column fields.
std::string vector_of_two(const std::string& a, const std::string& b) {
  return "\n\n           1        2\n" + blanks(6) + a + b + "\n\n\n";
}

class Loading : public testing::Test {
 protected:
  RunResult run(const std::string& network_file, const std::string& answers = "") {
    fs::remove_all("fort.7");
    fs::remove("fort.8");
    if (network_file == "<directory>") {
      fs::create_directory("fort.7");
    } else if (network_file != "<missing>") {
      write_file("fort.7", network_file);
    }
    return run_ecodyn(dir.path(), answers);
  }
  std::string report() { return read_file("fort.8"); }
  ScratchDir dir;
};

TEST_F(Loading, FilesThatEndQuietlyOrCannotBeRead) {
  const std::string only_title = title("ONLY A TITLE");
  const struct {
    const char* what;
    std::string file;
    int status;
    Matcher<std::string> err, report;
  } cases[] = {
      {"empty", "", 0, "", ""},
      {"a title", only_title, 0, "", title_line("ONLY A TITLE")},
      {"a title without line end", only_title.substr(0, only_title.size() - 1), 0, "",
       title_line("ONLY A TITLE")},
      {"missing", "<missing>", 2, HasSubstr("cannot open the network file fort.7"), ""},
      {"a directory", "<directory>", 2, HasSubstr("cannot open the network file fort.7: Is a directory"), ""},
      {"unreadable biomass", title("LIST") + counts(2) + "A\nB\n" + rec(1, "2.") + "  2 two\n", 2,
       testing::StartsWith("ecodyn: fort.7, line 6: unreadable biomass list record"),
       title_line("LIST") + " NUMBER OF COMPARTMENTS IS    2\n\n LIVING COMPARTMENTS\n\n" +
           name_line(1, "A") + name_line(2, "B")},
      {"ends in the names", title("SHORT") + counts(3) + "A\nB\n", 2,
       HasSubstr("fort.7, line 5: the file ends where the name record is due"), _},
      {"ends in the inputs", title("SHORT") + counts(1) + "A\n" + rec(1, "1.") + rec(0), 2,
       HasSubstr("fort.7, line 6: the file ends where the input list record is due"), _},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const RunResult r = run(c.file);
    EXPECT_EQ(c.status, r.status);
    EXPECT_EQ("", r.out);
    EXPECT_THAT(r.err, c.err);
    EXPECT_THAT(report(), c.report);
    if (c.file == "<missing>") { EXPECT_FALSE(file_exists("fort.7")); }  // not created
  }
}

// A record the program refuses ends it with status 1 and its message on the
// terminal; what was listed before it stays in the report.
TEST_F(Loading, RefusedRecordStopsWithItsOwnMessage) {
  const std::string compartments_error = "0 ERROR NUMBER OF COMPARTMENTS MAX= 75\n";
  const std::string two = title("NEGATIVE") + counts(2, 1) + "PLANTS\nDETRITUS\n" + rec(1, "5.") +
                          rec(2, "10.") + rec(-1);
  const std::string listed =
      title_line("NEGATIVE") +
      " NUMBER OF COMPARTMENTS IS    2\n NUMBER OF LIVING COMPARTMENTS IS   1\n\n"
      " LIVING COMPARTMENTS\n\n" +
      name_line(1, "PLANTS") + "\n NON-LIVING COMPARTMENTS\n\n" + name_line(2, "DETRITUS") +
      "\n THE BIOMASSES\n" + vector_of_two(" .500E+01", " .100E+02");
  const std::string input_zero = "\n INPUT VECTOR\n" + vector_of_two(zero, zero);
  const std::string export_zero = " EXPORT VECTOR\n" + vector_of_two(zero, zero);
  const std::string three = title("INDEX") + counts(3) + "A\nB\nC\n";
  const std::string three_lists = three + rec(1, "1.") + rec(0) + "\n\n\n";
  const struct {
    const char* what;
    std::string network, terminal;
    Matcher<std::string> report = _;
  } cases[] = {
      {"76 compartments", title("TOO MANY") + counts(76), compartments_error,
       title_line("TOO MANY") + " NUMBER OF COMPARTMENTS IS   76\n"},
      {"malformed counts", title("COUNTS") + "  3ab\n", compartments_error, title_line("COUNTS")},
      {"malformed title", std::string(78, 'T') + "XY\n" + counts(1), "0 ERROR IN TITLE\n", ""},
      {"negative input, listed", two + rec(2, "-1.") + rec(0) + "\n\n\n",
       "0 ERROR INPUT VECTOR CANNOT BE LESS THAN 0\n",
       listed + "\n INPUT VECTOR\n" + vector_of_two(zero, "-.100E+01")},
      {"negative export, listed", two + "\n" + rec(2, "-0.5") + "\n\n\n",
       "0 ERROR EXPORT VECTOR CAN NOT HAVE VALUES LESS THAN 0\n",
       listed + input_zero + " EXPORT VECTOR\n" + vector_of_two(zero, "-.500E+00")},
      {"negative respiration, not listed", two + "\n\n" + rec(1, "-2.") + "\n\n",
       "0 ERROR RESPIRATIONS CANNOT BE LESS THAN 0.\n", listed + input_zero + export_zero},
      {"negative exchange, listed", two + "\n\n\n" + mrec(1, 2, "-2.") + "\n",
       "0 ERROR EXCHANGE MATRIX CAN NOT HAVE VALUES LESS THAN 0\n",
       listed + input_zero + export_zero + " RESPIRATION VECTOR\n" + vector_of_two(zero, zero) +
           " EXCHANGE MATRIX\n\n\n           1        2\n   1  " + zero + "-.200E+01\n   2  " +
           zero + zero + "\n\n\n"},
      {"biomass index", three + rec(4, "1.") + rec(0) + "\n\n\n\n",
       "0 ERROR BIOMASS LIST INDEX   4 GREATER THAN NUMBER OF COMPARTMENTS\n"},
      {"respiration index", three + "\n\n\n" + rec(76, "1.") + "\n\n",
       "0 ERROR RESPIRATION LIST INDEX  76 GREATER THAN NUMBER OF COMPARTMENTS\n"},
      {"matrix origin", three_lists + mrec(5, 1, "1.") + "\n",
       "0 ERROR EXCHANGE MATRIX LIST INDEX   5 GREATER THAN NUMBER OF COMPARTMENTS\n"},
      {"matrix destination 0", three_lists + mrec(1, 0, "1.") + "\n",
       "0 ERROR EXCHANGE MATRIX LIST DESTINATION INDEX   0 OUT OF RANGE 1 TO  3\n"},
      {"matrix destination above", three_lists + mrec(2, 4, "1.") + "\n",
       "0 ERROR EXCHANGE MATRIX LIST DESTINATION INDEX   4 OUT OF RANGE 1 TO  3\n"},
      {"living above count", title("INDEX") + counts(3, 4) + "A\nB\nC\nD\n",
       "0 ERROR NUMBER OF LIVING COMPARTMENTS   4 GREATER THAN NUMBER OF COMPARTMENTS\n"},
      {"negative count", title("INDEX") + counts(-2) + "\n\n\n\n\n",
       "0 ERROR NUMBER OF COMPARTMENTS  -2 LESS THAN 0\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const RunResult r = run(c.network);
    EXPECT_EQ(1, r.status);
    EXPECT_EQ(c.terminal, r.out);
    EXPECT_EQ("", r.err);
    EXPECT_THAT(report(), c.report);
  }
}

}  // namespace

// Numbers the fixed layout reads otherwise than they look. A tab in a
// numeric field of any record kind ends the run naming its column; a real
// field without a decimal point takes the layout's implied decimals, with a
// warning naming the field and the value it became (an exponent does not
// change that: 1E1 is 0.1000000E-05 in an E14.7 field).
TEST_F(Loading, TabsAndNumbersWithoutADecimalPoint) {
  const std::string network = two_compartments_file();
  const auto line = [&](int n, const std::string& text) {
    std::vector<std::string> lines = lines_of(network);
    lines[n - 1] = text;
    std::string s;
    for (const std::string& l : lines) s += l + "\n";
    return s;
  };
  const std::string tab = "a tab has no column in this fixed layout; use spaces\n";
  const struct {
    std::string network;
    int status;
    std::string err;
  } cases[] = {
      {line(1, std::string(78, 'T') + "\t4"), 2, "ecodyn: fort.7, line 1, column 79: " + tab},
      {line(2, "  2\t1"), 2, "ecodyn: fort.7, line 2, column 4: " + tab},
      {line(5, "  1\t10.0"), 2, "ecodyn: fort.7, line 5, column 4: " + tab},
      {line(8, "  1     \t5.0"), 2, "ecodyn: fort.7, line 8, column 9: " + tab},
      {line(10, "  1 1.0\t"), 2, "ecodyn: fort.7, line 10, column 8: " + tab},
      {line(13, "\t 1  2.0"), 2, "ecodyn: fort.7, line 13, column 1: " + tab},
      {line(15, "  1\t2   3.0"), 2, "ecodyn: fort.7, line 15, column 4: " + tab},
      {line(5, "  1       10,0000"), 0,
       "ecodyn: fort.7, line 5: warning: '10' in columns 4-17 has no decimal point and reads as "
       "0.1000000E-05\n"},
      {line(6, "  2       10"), 0,
       "ecodyn: fort.7, line 6: warning: '10' in columns 4-17 has no decimal point and reads as "
       "0.1000000E-05\n"},
      {line(15, "  1  2   1E1"), 0,
       "ecodyn: fort.7, line 15: warning: '1E1' in columns 7-20 has no decimal point and reads as "
       "0.1000000E-05\n"},
      {line(8, "  1  .0000000E+00"), 0, ""},
      {line(8, "  1   0"), 0, ""},
      {line(8, "  1   10.0"), 0, ""},
      {line(3, "PLA\tNTS"), 0, ""},  // names are text
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.err);
    const RunResult r = run(c.network, read_file(examples_dir + "two_compartments.answers"));
    EXPECT_EQ(c.status, r.status);
    EXPECT_EQ(c.err, r.err);
  }
}
