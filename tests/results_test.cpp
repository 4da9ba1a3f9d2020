// ecodyn-csv, ecodyn-plot and ecodyn-export on real runs. The expected
// tables follow from the networks alone: equilibria, an extinction resting
// at 1.0E-9, a pool refilling along its closed form. A network balanced by
// a run made a steady state again; the choice of a description in a
// snapshot file; inputs refused without leaving an output file.
#include <sqlite3.h>

#include <cmath>
#include <csignal>
#include <map>
#include <sstream>

#include "csv/csv.h"
#include "plot/script.h"
#include "support/records.h"
#include "support/scratch.h"

namespace {

using namespace ecodyn::test;

const std::string csv_tool = ECODYN_CSV_BINARY;
const std::string plot_tool = ECODYN_PLOT_BINARY;

// SHORE: at steady state; DOC (8) loses its input and gets an export
// coefficient of 40, dying out in the first interval; SNAILS (6) start empty
// and refill as 30 (1 - exp(-t/15)); columns 8 3 1 3 7 4 8. POOLS: an exact
// equilibrium (binary fractions), run 0 to 20000 by 1: cut after 10000.
const std::string end = rec(-1), matrix_end = mrec(-1, -1);
std::string shore() {
  std::string s = title("SHORE") + counts(8, 6);
  for (const char* n : {"ALGAE", "ZOOPLANKTON", "FISH, SMALL", "GULLS \"LARGE\"", "MUSSELS",
                        "SNAILS", "DETRITUS", "DOC"}) s += name(n);
  s += rec(1, "100.") + rec(2, "20.") + rec(3, "5.") + rec(4, "2.") + rec(5, "50.") +
       rec(6, "30.") + rec(7, "200.") + rec(8, "10.") + end;
  s += rec(1, "10.") + rec(5, "2.") + rec(6, "2.") + rec(8, "1.") + end;
  s += rec(7, "4.") + rec(8, "1.") + end;
  s += rec(1, "3.") + rec(2, "1.") + rec(3, "1.") + rec(4, "1.") + rec(5, "2.") + rec(6, "2.") + end;
  s += mrec(1, 2, "4.") + mrec(1, 7, "3.") + mrec(2, 3, "2.") + mrec(2, 7, "1.") +
       mrec(3, 4, "1.") + matrix_end;
  return s;
}
std::string pools() {
  return title("POOLS") + counts(2, 1) + name("PLANTS") + name("DETRITUS") + rec(1, "8.") +
         rec(2, "16.") + end + rec(1, "4.") + end + rec(1, "1.") + rec(2, "2.") + end +
         rec(1, "1.") + end + mrec(1, 2, "4.") + mrec(2, 1, "2.") + matrix_end;
}
std::string two_networks() { return shore() + pools(); }
const std::string answers =
    "2\n0.\n3.\n1.\n1.\nY\n1\n6\n0.\nY\n2\n8\n0.\nY\n3\n8\n40.\nN\n8 3 1 3 7 4 8\n"
    "2\n0.\n20000.\n1.\n0.\nN\n";

// Splits CSV text into its records, each of which must end with CRLF.
std::vector<std::string> records(const std::string& csv) {
  std::vector<std::string> out;
  for (const std::string& line : lines_of(csv)) {
    EXPECT_TRUE(line.ends_with('\r')) << line;
    out.push_back(line.substr(0, line.size() - line.ends_with('\r')));
  }
  return out;
}

class Results : public testing::Test {
 protected:
  // Runs ecodyn on a network file with its answers: fort.8 and fort.18.
  RunResult run_ecodyn_on(const std::string& network, const std::string& answers) {
    write_file(dir.file("fort.7"), network);
    const RunResult r = run_ecodyn(dir.path(), answers);
    EXPECT_EQ(0, r.status) << r.err;
    return r;
  }
  RunResult tool(const std::string& program, const std::string& args) {
    return run(program, dir.path(), "", args);
  }
  ScratchDir dir;
};

// One run of the two networks: the wide and the tidy table, the extinction
// events, the snapshots; then the refusals of broken copies.
TEST_F(Results, TablesOfTwoCyclesExtinctionSnapshotsAndUnreadableInputs) {
  // The interval limit is told on the terminal only.
  EXPECT_THAT(run_ecodyn_on(two_networks(), answers).out, HasSubstr("PRINT INTERVAL IS TOO SMALL!"));
  EXPECT_THAT(read_file(dir.file("fort.8")), Not(HasSubstr("TOO SMALL")));
  RunResult r = tool(csv_tool, "");
  ASSERT_EQ(0, r.status) << r.err;
  EXPECT_EQ("", r.err);
  // The later cycle's compartments are new columns, empty in the first.
  std::vector<std::string> expected = {
      "cycle,time,8 DOC,\"3 FISH, SMALL\",1 ALGAE,\"3 FISH, SMALL\",7 DETRITUS,"
      "\"4 GULLS \"\"LARGE\"\"\",8 DOC,1 PLANTS,2 DETRITUS",
      "1,0.000,0.100E+02,0.500E+01,0.100E+03,0.500E+01,0.200E+03,0.200E+01,0.100E+02,,",
  };
  for (const char* t : {"1.000", "2.000", "3.000"})
    expected.push_back(std::string("1,") + t +
                       ",0.100E-08,0.500E+01,0.100E+03,0.500E+01,0.200E+03,0.200E+01,0.100E-08,,");
  for (int t = 0; t <= 10000; ++t)
    expected.push_back("2," + std::to_string(t) + ".000,,,,,,,,0.800E+01,0.160E+02");
  EXPECT_EQ(expected, records(r.out));

  r = tool(csv_tool, "fort.8 --long -o long.csv --events events.csv");
  ASSERT_EQ(0, r.status) << r.err;
  EXPECT_EQ("", r.out);
  const std::vector<std::string> tidy = records(read_file(dir.file("long.csv")));
  // Five distinct compartments in four rows, then two in 10001 rows.
  ASSERT_EQ(1u + 4 * 5 + 10001 * 2, tidy.size());
  EXPECT_EQ((std::vector<std::string>{
                "cycle,time,compartment,name,biomass", "1,0.000,8,DOC,0.100E+02",
                "1,0.000,3,\"FISH, SMALL\",0.500E+01", "1,0.000,1,ALGAE,0.100E+03",
                "1,0.000,7,DETRITUS,0.200E+03", "1,0.000,4,\"GULLS \"\"LARGE\"\"\",0.200E+01",
                "1,1.000,8,DOC,0.100E-08"}),
            std::vector<std::string>(tidy.begin(), tidy.begin() + 7));
  EXPECT_EQ("2,10000.000,2,DETRITUS,0.160E+02", tidy.back());
  // The extinction time is the notice's F10.3 field, a 0 before its point.
  const std::string report = read_file(dir.file("fort.8"));
  const std::string notice = " SPECIES  8 WENT EXTINCT AT T = ";
  const std::size_t at = report.find(notice);
  ASSERT_NE(std::string::npos, at);
  const std::string field = report.substr(at + notice.size(), 10);
  ASSERT_EQ("      .", field.substr(0, 7));
  EXPECT_EQ((std::vector<std::string>{"cycle,time,compartment,name", "1,0." + field.substr(7) + ",8,DOC"}),
            records(read_file(dir.file("events.csv"))));

  r = tool(csv_tool, "--snapshots fort.18");
  ASSERT_EQ(0, r.status) << r.err;
  const std::vector<std::string> out = records(r.out);
  ASSERT_EQ(5u, out.size());  // at 0, 1, 2 and 3; POOLS never reaches its end
  EXPECT_EQ("cycle,snapshot,time,1 ALGAE,2 ZOOPLANKTON,\"3 FISH, SMALL\",\"4 GULLS \"\"LARGE\"\"\","
            "5 MUSSELS,6 SNAILS,7 DETRITUS,8 DOC",
            out[0]);
  // The empty SNAILS have no biomass record: zero.
  EXPECT_EQ("1,1,0.000,0.1000000E+03,0.2000000E+02,0.5000000E+01,0.2000000E+01,0.5000000E+02,"
            "0.0000000E+00,0.2000000E+03,0.1000000E+02",
            out[1]);
  const double loaded[] = {100, 20, 5, 2, 50, 0, 200};
  for (int s = 1; s <= 3; ++s) {
    const std::string& row = out[s + 1];
    // 0. and seven digits, E and exponent; DOC at rest after its extinction.
    EXPECT_THAT(row, testing::MatchesRegex("1," + std::to_string(s + 1) + "," + std::to_string(s) +
                                           "\\.000,(0\\.[0-9]{7}E[-+][0-9]{2},){7}0\\.1000000E-08"));
    std::istringstream cells(row.substr(row.find(',', 4) + 1));
    for (int i = 0; i < 7; ++i) {
      double value = 0;
      char comma = 0;
      cells >> value >> comma;
      const double want = i == 5 ? 30 * (1 - std::exp(-s / 15.0)) : loaded[i];
      EXPECT_NEAR(want, value, 1e-5 * want) << row << ": " << i + 1;
    }
  }
  // The time going back begins a second cycle.
  write_file(dir.file("twice.18"), read_file(dir.file("fort.18")) + read_file(dir.file("fort.18")));
  std::string cycles;
  for (const std::string& record : records(tool(csv_tool, "--snapshots twice.18").out))
    cycles += record.substr(0, record.find(',')) + " ";
  EXPECT_EQ("cycle 1 1 1 1 2 2 2 2 ", cycles);

  // Unreadable input: status 2 and no output. The last row cut after its
  // first value; a table cut after its head.
  const int lines = static_cast<int>(lines_of(report).size());
  write_file(dir.file("cut.txt"), report.substr(0, report.size() - 11));
  const std::size_t head = report.rfind("    TIME");
  write_file(dir.file("headonly.txt"), report.substr(0, report.find('\n', head) + 1) + "\n\n");
  const int head_line = static_cast<int>(lines_of(report.substr(0, head)).size()) + 1;
  const std::pair<std::string, std::string> cases[] = {
      {"fort.7", "fort.7, line 1: not an ecodyn report: expected a network title (\"1\" in column 1)"},
      {"cut.txt", "cut.txt, line " + std::to_string(lines) +
                      ": the table row holds 1 of the 2 values of its head: the table is cut short"},
      {"headonly.txt", "headonly.txt, line " + std::to_string(head_line + 2) +
                           ": the table has a head but no rows: the table is cut short"},
      {"missing.txt", "cannot read missing.txt: No such file or directory"},
      {"--snapshots fort.8", "fort.8, line 3: unreadable biomass list record (read unexpected character)"},
  };
  for (const auto& [args, message] : cases) {
    SCOPED_TRACE(args);
    r = tool(csv_tool, args);
    EXPECT_EQ((std::vector<std::string>{"2", "", "ecodyn-csv: " + message + "\n"}),
              (std::vector<std::string>{std::to_string(r.status), r.out, r.err}));
    const bool of_report = !args.starts_with("--snapshots");
    EXPECT_EQ(2, tool(csv_tool, args + " -o out.csv" + (of_report ? " --events ev.csv" : "")).status);
    EXPECT_FALSE(file_exists(dir.file("ev.csv")));
    EXPECT_FALSE(file_exists(dir.file("out.csv")));
  }
}

// Width and height from the IHDR chunk of a PNG file, or {0, 0}.
std::pair<int, int> png_size(const std::string& png) {
  const auto be32 = [&](std::size_t at) {
    return static_cast<unsigned char>(png[at]) << 24 | static_cast<unsigned char>(png[at + 1]) << 16 |
           static_cast<unsigned char>(png[at + 2]) << 8 | static_cast<unsigned char>(png[at + 3]);
  };
  if (png.size() < 24 || png.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0 || png.compare(12, 4, "IHDR") != 0)
    return {0, 0};
  return {be32(16), be32(20)};
}

TEST_F(Results, PlotsOfABundledExampleAndOfTwoCycles) {
  run_ecodyn_on(read_file(examples_dir + "grazing_chain.net"),
                read_file(examples_dir + "grazing_chain.extinction.answers"));
  ASSERT_EQ(0, tool(plot_tool, "-o chain.svg").status);
  EXPECT_EQ(0, shell(dir.path(), "xmllint --noout chain.svg").first);
  EXPECT_THAT(read_file(dir.file("chain.svg")), HasSubstr(">PREDATORS<"));
  // The default size is that of one panel; the extinction spans decades.
  ASSERT_EQ(0, tool(plot_tool, "fort.8 -o chain.png --script chain.gp").status);
  EXPECT_EQ(std::make_pair(900, 500), png_size(read_file(dir.file("chain.png"))));
  EXPECT_THAT(read_file(dir.file("chain.gp")), HasSubstr("\nset logscale y\n"));
  ASSERT_EQ(0, tool(plot_tool, "-o small.png --size 640x480 --linear --relative --script small.gp").status);
  EXPECT_EQ(std::make_pair(640, 480), png_size(read_file(dir.file("small.png"))));
  EXPECT_THAT(read_file(dir.file("small.gp")), AllOf(HasSubstr("\n0.000 1 1 1 1\n"), Not(HasSubstr("logscale"))));

  run_ecodyn_on(two_networks(), answers);
  // One panel per cycle; POOLS alone spans a factor of two: linear.
  ASSERT_EQ(0, tool(plot_tool, "-o both.png --script both.gp").status);
  EXPECT_EQ(std::make_pair(900, 1000), png_size(read_file(dir.file("both.png"))));
  EXPECT_THAT(read_file(dir.file("both.gp")),
              HasSubstr("\n# time | 8 DOC | 3 FISH, SMALL | 1 ALGAE | 7 DETRITUS | 4 GULLS \"LARGE\"\n"));
  ASSERT_EQ(0, tool(plot_tool, "--cycle 2 -o pools.pdf --script pools.gp").status);
  EXPECT_EQ("%PDF", read_file(dir.file("pools.pdf")).substr(0, 4));
  EXPECT_THAT(read_file(dir.file("pools.gp")), Not(HasSubstr("logscale")));
  ASSERT_EQ(0, tool(plot_tool, "--cycle 2 --log -o pools.svg --script pools.gp").status);
  EXPECT_THAT(read_file(dir.file("pools.gp")), HasSubstr("\nset logscale y\n"));

  EXPECT_EQ(std::make_pair(
                2, std::string("ecodyn-plot: gnuplot draws the pictures and is not installed: install the "
                               "Debian package gnuplot-nox\n")),
            shell(dir.path(), "PATH=/nonexistent '" + plot_tool + "' -o none.svg"));
  EXPECT_EQ("ecodyn-plot: fort.8: no time-series table in cycle 3\n",
            tool(plot_tool, "--cycle 3 -o none.svg").err);
  EXPECT_EQ(2, tool(plot_tool, "fort.7 -o none.svg").status);
  EXPECT_FALSE(file_exists(dir.file("none.svg")));
}

// An interrupt while gnuplot draws ends gnuplot and leaves neither the
// picture nor its temporary file; the program ends by the interrupt.
TEST_F(Results, PlotInterruptedWhileDrawing) {
  run_ecodyn_on(pools(), "2\n0.\n10.\n1.\n0.\nN\n");
  fs::create_directory(dir.file("slow"));
  write_file(dir.file("slow/gnuplot"), "#!/bin/sh\ntouch started\nexec sleep 30\n");
  fs::permissions(dir.file("slow/gnuplot"), fs::perms::owner_all);
  const auto [status, err] =
      shell(dir.path(), "{ PATH=\"$PWD/slow:$PATH\" '" + plot_tool +
                            "' -o pic.png & p=$!; until [ -e started ]; do sleep 0.05; done; "
                            "kill -INT $p; wait $p; }");
  EXPECT_EQ(128 + SIGINT, status);
  EXPECT_EQ("ecodyn-plot: pic.png is not written\n", err);
  for (const auto& e : fs::directory_iterator(dir.path()))
    EXPECT_THAT(e.path().filename().string(), Not(HasSubstr("pic.png")));
}

// One cycle of a report as ecodyn lists it: the title, the count, the
// names, and a table of every compartment with one row.
std::string report_cycle(const std::string& title, const std::vector<std::string>& names) {
  std::string s = title_line(title) + " NUMBER OF COMPARTMENTS IS" +
                  num(static_cast<int>(names.size()), 4) + "\n LIVING COMPARTMENTS\n\n";
  std::string head = "    TIME", values;
  for (int i = 1; i <= static_cast<int>(names.size()); ++i) {
    s.append(" ").append(num(i, 2)).append("  ").append(names[i - 1]).append("\n");
    head += num(i, i == 1 ? 9 : 10);
    values += right(".100E+01", 10);
  }
  return s + "\n" + head + "\n" + right(".000", 10) + values + "\n" + right("1.000", 10) + values +
         "\n";
}
const std::string one_row = right("2.000", 10) + right(".100E+01", 10);

// The files of a directory with a hash of their contents (a link's: "->
// TARGET", a pipe's: "|").
std::map<std::string, std::size_t> files_in(const std::string& dir) {
  std::map<std::string, std::size_t> out;
  for (const auto& e : fs::directory_iterator(dir)) {
    out[e.path().filename().string()] = std::hash<std::string>{}(
        e.is_symlink() ? "-> " + fs::read_symlink(e.path()).string()
        : e.is_fifo()  ? "|"
                       : read_file(e.path().string()));
  }
  return out;
}

// A fault and how the program meets it now: the command (sh, in the scratch
// directory, $P the program), its status and standard error, and the files
// it makes or changes with what they must hold. Standard output must stay
// empty, every other file byte for byte as it was, and no other appear.
struct Fault {
  std::string command;
  int status;
  std::string err;
  std::map<std::string, Matcher<const std::string&>> made = {};
};

void check_faults(const std::string& dir, const std::string& program,
                  const std::vector<Fault>& faults) {
  for (const Fault& f : faults) {
    SCOPED_TRACE(f.command);
    auto before = files_in(dir);
    const auto [status, err] = shell(dir, "P='" + program + "'; { " + f.command + "; } >.stdout");
    EXPECT_EQ(f.status, status);
    EXPECT_EQ(f.err, err);
    EXPECT_EQ("", read_file(dir + "/.stdout"));
    fs::remove(dir + "/.stdout");
    auto after = files_in(dir);
    for (const auto& [name, matcher] : f.made) {
      EXPECT_THAT(read_file(dir + "/" + name), matcher) << name;
      if (!before.contains(name)) fs::remove(dir + "/" + name);
      before.erase(name);
      after.erase(name);
    }
    EXPECT_EQ(before, after);
  }
}

#ifdef __SANITIZE_ADDRESS__
const std::string memory_limit = "";  // the sanitizer's shadow memory is virtual
#else
const std::string memory_limit = "ulimit -v 50000; ";
#endif

// Every input is read once, as a stream, in bounded memory; no output
// replaces an input; every failure is named.
TEST(CsvFaults, InputsReadOnceInBoundedMemoryNeverReplacedFailuresNamed) {
  ScratchDir dir;
  const std::string one = report_cycle("ONE", {"ALGAE"});
  write_file("one.8", one);
  fs::create_symlink("one.8", "link.8");
  write_file("empty.8", "");
  write_file("fort.18", read_file(examples_dir + "results/oyster_reef.snapshots"));
  const std::string snapshots_csv = read_file(examples_dir + "results/oyster_reef.snapshots.csv");
  const std::string one_csv = "cycle,time,1 ALGAE\r\n1,0.000,0.100E+01\r\n1,1.000,0.100E+01\r\n";
  const std::size_t listing = one.find("\n LIVING");  // the lines before it are read, not used
  write_file("long4096.8", one.substr(0, listing) + "\n" + std::string(4096, 'x') + one.substr(listing));
  write_file("long4097.8", one.substr(0, listing) + "\n" + std::string(4097, 'x') + one.substr(listing));
  write_file("name25.8", report_cycle("N", {std::string(25, 'N')}));
  write_file("name26.8", report_cycle("N", {"A", std::string(26, 'N')}));
  // Line ends CRLF; a time of six digits and a value of asterisks.
  std::string crlf;
  for (const char c : one + "100000.000  .100E+01\n     3.000**********\n")
    crlf += c == '\n' ? "\r\n" : std::string(1, c);
  write_file("crlf.8", crlf);
  write_file("cut.8", one.substr(0, one.find(right(".000", 10))) + one);
  write_file("wide.8", one + right("2.000", 10) + ".100E+01  .100E+01\n");
  write_file("notice.8", one + " SPECIES  1 WENT EXTINCT AT T =     10.0001\n");
  std::string many;
  for (int c = 0; c < 1429; ++c) {  // 7 new columns each
    std::vector<std::string> names;
    for (int k = 0; k < 7; ++k) names.push_back(std::to_string(c * 7 + k) + "C");
    many += report_cycle("MANY", names);
  }
  write_file("many.8", many);
  const std::string endless_rows = "{ cat one.8; yes '" + one_row + "'; } | ";
  check_faults(dir.path(), csv_tool, {
      {"$P one.8 -o one.8", 2, "ecodyn-csv: cannot write one.8: it is the input one.8\n"},
      {"$P one.8 --events one.8", 2, "ecodyn-csv: cannot write one.8: it is the input one.8\n"},
      {"$P --snapshots fort.18 -o fort.18", 2,
       "ecodyn-csv: cannot write fort.18: it is the input fort.18\n"},
      {"$P link.8 -o one.8", 2, "ecodyn-csv: cannot write one.8: it is the input link.8\n"},
      {"$P one.8 --events link.8", 2, "ecodyn-csv: cannot write link.8: it is the input one.8\n"},
      {"$P one.8 -o t.csv --events t.csv", 2, "ecodyn-csv: cannot write t.csv: it is also the output t.csv\n"},
      {"$P one.8 -o t.csv --events ./t.csv", 2, "ecodyn-csv: cannot write ./t.csv: it is also the output t.csv\n"},
      {"$P empty.8 -o out.csv", 2, "ecodyn-csv: empty.8: the file is empty\n"},
      {"$P --snapshots /dev/null", 2, "ecodyn-csv: /dev/null: the file is empty\n"},
      {"cat fort.18 | $P --snapshots /dev/stdin > s.csv", 0, "", {{"s.csv", snapshots_csv}}},
      {"mkfifo f && { cat fort.18 > f & } && timeout 10 $P --snapshots f > s.csv; rm f", 0, "",
       {{"s.csv", snapshots_csv}}},
      {"timeout 10 $P /dev/zero", 2,
       "ecodyn-csv: /dev/zero, line 1: a line longer than 4096 characters: not an ecodyn report\n"},
      {"$P long4096.8 > l.csv", 0, "", {{"l.csv", one_csv}}},
      {"$P long4097.8", 2,
       "ecodyn-csv: long4097.8, line 4: a line longer than 4096 characters: not an ecodyn report\n"},
      {"$P name25.8 > n.csv", 0, "", {{"n.csv", StartsWith("cycle,time,1 " + std::string(25, 'N') + "\r\n")}}},
      {"$P name26.8", 2,
       "ecodyn-csv: name26.8, line 9: compartment 2 is not among the compartments listed for cycle 1\n"},
      {"$P crlf.8 > c.csv", 0, "", {{"c.csv", one_csv + "1,100000.000,0.100E+01\r\n1,3.000,\r\n"}}},
      {"$P cut.8", 2, "ecodyn-csv: cut.8, line 8: the table has a head but no rows: the table is cut short\n"},
      {"$P wide.8", 2,
       "ecodyn-csv: wide.8, line 11: the table row holds more than the 1 values of its head\n"},
      {"$P notice.8", 2, "ecodyn-csv: notice.8, line 11: unreadable extinction notice\n"},
      {"$P many.8", 2,
       "ecodyn-csv: many.8, line 22849: the cycles tabulate more than 10000 different columns, too "
       "many for one table: --long writes one record per compartment\n"},
      // A large report through a pipe, in a few megabytes.
      {memory_limit + "{ cat one.8; yes '" + one_row + "' | head -n 300000; } | $P /dev/stdin > big.csv",
       0, "", {{"big.csv", testing::SizeIs(one_csv.size() + 300000 * 19)}}},
      {endless_rows + "timeout -s KILL 10 $P /dev/stdin -o out.csv & sleep 0.5; kill -TERM $!; wait $! 2>/dev/null",
       128 + SIGTERM, ""},
      {"$P one.8 > /dev/full", 2, "ecodyn-csv: cannot write standard output: No space left on device\n"},
      {"$P --version > /dev/full", 2,
       "ecodyn-csv: cannot write standard output: No space left on device\n"},
      {"TMPDIR=/nonexistent $P one.8", 2,
       "ecodyn-csv: cannot write a temporary file in /nonexistent: No such file or directory\n"},
      {endless_rows + "(ulimit -f 1; TMPDIR=. timeout -s KILL 10 $P /dev/stdin)", 2,
       "ecodyn-csv: cannot write a temporary file in .: File too large\n"},
  });
}

// Names and file names reach gnuplot only as data; no output replaces an
// input or a link; a report of many cycles fails before gnuplot runs.
TEST(PlotFaults, NamesOnlyAsDataInputsAndLinksNeverReplaced) {
  ScratchDir dir;
  const std::string one = report_cycle("ONE", {"ALGAE"});
  for (const char* f : {"one.8", "report.svg", "r\nsystem \"touch MARKER\"\n#.8"}) write_file(f, one);
  fs::create_symlink("one.8", "link.8");
  write_file("target.svg", "old");
  fs::create_symlink("target.svg", "link.svg");
  write_file("empty.8", "");
  // Quotes doubled, backquotes, Latin-1 and control characters.
  write_file("odd.8", report_cycle("It''s `touch MARKER` \x01 T\xe4st",
                                   {"Filter ''Feeders", "caf\xc3\xa9 \x1b", "`touch MARKER`"}));
  std::string panels;
  for (int c = 0; c < 41; ++c) panels += report_cycle("P", {"ALGAE"});
  write_file("41.8", panels);
  for (int c = 41; c < 101; ++c) panels += report_cycle("P", {"ALGAE"});
  write_file("101.8", panels);
  std::string named;  // 102 compartments in 51 tables
  for (int c = 0; c < 51; ++c) {
    const std::string n = std::to_string(c);
    named += report_cycle("P", {std::string(1, 'A').append(n), std::string(1, 'B').append(n)});
  }
  write_file("102.8", named);
  const Matcher<const std::string&> svg = StartsWith("<?xml");
  const std::string replacement = "\xef\xbf\xbd";
  check_faults(dir.path(), plot_tool, {
      {"$P 'r\nsystem \"touch MARKER\"\n#.8' -o r.svg", 0, "", {{"r.svg", svg}}},
      {"$P one.8 -o 'p\nsystem \"touch MARKER\"\n#.svg'", 0, "",
       {{"p\nsystem \"touch MARKER\"\n#.svg", svg}}},
      {"$P odd.8 -o odd.svg && xmllint --noout odd.svg", 0, "",
       {{"odd.svg", AllOf(HasSubstr("It''s `touch MARKER` " + replacement + " T\xc3\xa4st"),
                          HasSubstr(">Filter ''Feeders<"), HasSubstr(">caf\xc3\xa9 " + replacement + "<"),
                          HasSubstr(">`touch MARKER`<"))}}},
      {"$P report.svg -o report.svg", 2, "ecodyn-plot: cannot write report.svg: it is the input report.svg\n"},
      {"$P one.8 report.svg -o report.svg", 2, "ecodyn-plot: cannot write report.svg: it is the input report.svg\n"},
      {"$P one.8 -o p.svg --script one.8", 2, "ecodyn-plot: cannot write one.8: it is the input one.8\n"},
      {"$P one.8 -o p.svg --script link.8", 2, "ecodyn-plot: cannot write link.8: it is the input one.8\n"},
      {"$P one.8 -o p.svg --script p.svg", 2, "ecodyn-plot: cannot write p.svg: it is also the output p.svg\n"},
      {"$P one.8 -o ./p.svg --script p.svg", 2, "ecodyn-plot: cannot write p.svg: it is also the output ./p.svg\n"},
      {"$P link.8 -o p.svg --script one.8", 2, "ecodyn-plot: cannot write one.8: it is the input link.8\n"},
      {"$P one.8 -o link.svg", 0, "", {{"target.svg", svg}}},
      {"$P empty.8 -o p.svg", 2, "ecodyn-plot: empty.8: the file is empty\n"},
      {"timeout 10 $P /dev/zero -o p.svg", 2,
       "ecodyn-plot: /dev/zero, line 1: a line longer than 4096 characters: not an ecodyn report\n"},
      // The signal comes while the read waits for the pipe.
      {"{ cat one.8; sleep 5; } | timeout -s KILL 3 $P /dev/stdin -o p.svg & "
       "sleep 0.5; kill -TERM $!; wait $! 2>/dev/null", 128 + SIGTERM, ""},
      {"$P one.8 -o p.svg --size 99x100", 2,
       "ecodyn-plot: --size 99x100: give width and height in pixels, 100 to 20000, as 1200x800\n"},
      {"$P 41.8 -o p.svg", 0, "", {{"p.svg", HasSubstr(" width=\"900\" height=\"20000\"")}}},
      {"timeout 10 $P 101.8 -o p.svg", 2,
       "ecodyn-plot: 101.8, line 1001: more than 100 tables to draw, the most one picture holds: "
       "choose one with --cycle\n"},
      {"timeout 10 $P 41.8 41.8 41.8 -o p.svg", 2,
       "ecodyn-plot: 41.8, line 181: more than 100 tables to draw, the most one picture holds: "
       "choose one with --cycle or draw fewer reports\n"},
      {"timeout 10 $P 102.8 one.8 -o p.svg", 2,
       "ecodyn-plot: 102.8, line 551: more than 100 compartments to draw, the most one picture "
       "holds: draw fewer reports, or one cycle with --cycle\n"},
  });
}

// Returns the height in an SVG picture of the first text element that reads
// text (the position of the group around it), or -1.
double text_height(const std::string& svg, const std::string& text) {
  const std::size_t at = svg.find(">" + text + "<");
  const std::size_t group = at == std::string::npos ? at : svg.rfind("translate(", at);
  return group == std::string::npos ? -1 : std::stod(svg.substr(svg.find(',', group) + 1));
}

// Reports compared: a panel per compartment, a line per report and cycle
// labelled, the axes labelled with units, the key below the panels, and a
// line that ends at its extinction with a marker.
TEST_F(Results, PlotsThatCompare) {
  run_ecodyn_on(read_file(examples_dir + "grazing_chain.net"),
                read_file(examples_dir + "grazing_chain.extinction.answers"));
  fs::create_directories(dir.file("base"));
  fs::rename(dir.file("fort.8"), dir.file("base/fort.8"));
  run_ecodyn_on(two_networks(), answers);
  fs::create_directories(dir.file("walleye"));
  fs::rename(dir.file("fort.8"), dir.file("walleye/fort.8"));
  const auto key_below = [](const std::string& text, double height) {
    return testing::Truly([=](const std::string& svg) {
      const double y = text_height(svg, text);
      return y > height - 60 && y < height;
    });
  };
  check_faults(dir.path(), plot_tool, {
      {"$P base/fort.8 walleye/fort.8 -o cmp.svg --units 'g C m-2' --time-unit d --script cmp.gp "
       "&& xmllint --noout cmp.svg", 0, "",
       {{"cmp.svg", AllOf(HasSubstr(">base<"), HasSubstr(">walleye, cycle 1<"),
                          HasSubstr(">walleye, cycle 2<"), HasSubstr(">2 GRAZERS<"),
                          HasSubstr(">3 FISH, SMALL<"), HasSubstr(">8 DOC<"),
                          HasSubstr(">biomass (g C m-2)<"), HasSubstr(">time (d)<"),
                          HasSubstr("width=\"900\" height=\"5500\""), key_below("base", 500))},
        // PREDATORS end at the notice of their extinction, DOC in cycle 1.
        {"cmp.gp", AllOf(HasSubstr("\n0.500 500 62.7 1.46e-08 999\n0.628 ? ? 1.46e-08 ?\n"
                                   "0.750 500 63.9 NaN 999\n"),
                         testing::ContainsRegex("\\$ends3 << EOD\n0.628 1.46e-08 1\nEOD\n"),
                         testing::ContainsRegex("\\$ends[0-9]+ << EOD\n0.[0-9]+ [0-9.e+-]+ 2\nEOD\n"),
                         Not(HasSubstr("yellow")))}}},
      {"$P base/fort.8 walleye/fort.8 --cycle 2 --label A --label 'B,\"C' --cycle-labels x,y "
       "-o cmp.svg", 0, "",
       {{"cmp.svg", AllOf(HasSubstr(">B,\"C<"), Not(HasSubstr(">A<")), Not(HasSubstr(">x<")),
                          HasSubstr(" width=\"900\" height=\"1000\""))}}},
      {"$P walleye/fort.8 -o one.svg --cycle-labels 'model 1 (generic predator control)'", 0, "",
       {{"one.svg", AllOf(HasSubstr(">model 1 (generic predator control): "),
                          HasSubstr(">cycle 2: POOLS<"), Not(HasSubstr(">8 DOC<")))}}},
      {"$P base/fort.8 -o one.svg --script one.gp", 0, "",
       {{"one.svg", AllOf(HasSubstr("#gpPt6"), key_below("GRASS", 500))},
        {"one.gp", HasSubstr("\n$ends1 << EOD\n0.628 1.46e-08 3\nEOD\n")}}},
      {"$P base/fort.8 walleye/fort.8 --label A -o cmp.svg", 2,
       "ecodyn-plot: --label given 1 times for 2 reports: give it once for each report\n"},
  });
}

// The layout of an ensemble database (format 1), as ecodyn-ensemble makes it.
const std::string ensemble_layout = R"(
PRAGMA application_id = 0x45434459;
PRAGMA user_version = 1;
CREATE TABLE settings(key TEXT PRIMARY KEY, value TEXT NOT NULL) WITHOUT ROWID;
CREATE TABLE compartment(compartment INTEGER PRIMARY KEY, name TEXT NOT NULL,
                         living INTEGER NOT NULL, biomass REAL NOT NULL);
CREATE TABLE scenario(scenario INTEGER PRIMARY KEY, model INTEGER NOT NULL, label TEXT NOT NULL);
CREATE TABLE sweep(scenario INTEGER NOT NULL, sweep INTEGER NOT NULL, kind TEXT NOT NULL,
                   origin INTEGER NOT NULL, destination INTEGER NOT NULL, factor INTEGER NOT NULL,
                   value REAL NOT NULL, PRIMARY KEY(scenario, sweep)) WITHOUT ROWID;
CREATE TABLE member(member INTEGER PRIMARY KEY, scenario INTEGER NOT NULL, draw INTEGER NOT NULL);
CREATE TABLE factor(member INTEGER NOT NULL, position INTEGER NOT NULL, kind TEXT NOT NULL,
                    origin INTEGER NOT NULL, destination INTEGER NOT NULL, factor REAL NOT NULL,
                    PRIMARY KEY(member, position)) WITHOUT ROWID;
CREATE TABLE outcome(member INTEGER PRIMARY KEY, ending TEXT NOT NULL, status INTEGER NOT NULL,
                     message TEXT, end_time REAL NOT NULL, accepted INTEGER NOT NULL,
                     rejection TEXT, resilience REAL, extinctions INTEGER NOT NULL);
CREATE TABLE extinction(member INTEGER NOT NULL, compartment INTEGER NOT NULL, time REAL NOT NULL,
                        PRIMARY KEY(member, compartment)) WITHOUT ROWID;
CREATE TABLE recorded(position INTEGER PRIMARY KEY, compartment INTEGER NOT NULL);
CREATE TABLE trajectory_row(member INTEGER NOT NULL, step INTEGER NOT NULL, time REAL NOT NULL,
                            biomass TEXT NOT NULL, PRIMARY KEY(member, step)) WITHOUT ROWID;
CREATE VIEW trajectory(member, step, time, compartment, biomass) AS
  SELECT r.member, r.step, r.time, c.compartment, j.value
  FROM trajectory_row AS r, json_each(r.biomass) AS j JOIN recorded AS c ON c.position = j.key;
CREATE TABLE summary(scenario INTEGER NOT NULL, step INTEGER NOT NULL, time REAL NOT NULL,
                     compartment INTEGER NOT NULL, members INTEGER NOT NULL, mean REAL NOT NULL,
                     q05 REAL NOT NULL, q25 REAL NOT NULL, q50 REAL NOT NULL, q75 REAL NOT NULL,
                     q95 REAL NOT NULL, PRIMARY KEY(scenario, step, compartment)) WITHOUT ROWID;
)";

// Runs SQL statements on the database at path, made if it does not exist.
void sql(const std::string& path, const std::string& statements) {
  sqlite3* db = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open(path.c_str(), &db));
  char* error = nullptr;
  EXPECT_EQ(SQLITE_OK, sqlite3_exec(db, statements.c_str(), nullptr, nullptr, &error))
      << (error != nullptr ? error : "");
  sqlite3_free(error);
  sqlite3_close(db);
}

// An ensemble of the grazing chain: two scenarios of two draws, each
// accepted; compartments 3, 1 and 2 recorded in that order; steps 0 to last,
// 0.5 apart. The median of compartment c at step k of scenario s is its
// biomass B (100, 20, 5) times 1 + ks/10; q05, q25, q75 and q95 are 0.5, 0.8,
// 1.25 and 2 times the median.
std::string grazing_ensemble(int last = 3) {
  return ensemble_layout + R"(
BEGIN;
INSERT INTO settings VALUES ('format', '1'), ('title', 'GRAZING CHAIN'), ('models', '2'),
  ('sweep', 'biomass:GRAZERS=x1,x0.5'), ('draws', '2'), ('record', 'all'), ('shard', '1/1');
INSERT INTO compartment VALUES (1, 'GRASS', 1, 100), (2, 'GRAZERS', 1, 20), (3, 'PREDATORS', 1, 5);
INSERT INTO scenario VALUES (1, 2, 'model 2'), (2, 2, 'model 2, biomass:GRAZERS=x0.5');
INSERT INTO sweep VALUES (1, 1, 'biomass', 2, 0, 1, 1), (2, 1, 'biomass', 2, 0, 1, 0.5);
INSERT INTO member VALUES (1, 1, 1), (2, 1, 2), (3, 2, 1), (4, 2, 2);
INSERT INTO outcome SELECT member, 'end', 0, NULL, 1.5, 1, NULL, NULL, 0 FROM member;
INSERT INTO recorded VALUES (0, 3), (1, 1), (2, 2);
WITH RECURSIVE steps(k) AS (SELECT 0 UNION ALL SELECT k + 1 FROM steps WHERE k < )" +
         std::to_string(last) + R"(),
  medians AS (SELECT scenario, k, compartment, biomass * (1 + k * scenario / 10.0) AS m
              FROM scenario, steps, compartment)
INSERT INTO summary SELECT scenario, k, k * 0.5, compartment, 2, m, 0.5 * m, 0.8 * m, m,
  1.25 * m, 2 * m FROM medians ORDER BY 1, 2, 4;
COMMIT;
)";
}

// Returns what xmllint finds for an XPath expression in an SVG file.
std::string xpath(const std::string& dir, const std::string& svg, const std::string& expression) {
  EXPECT_EQ(0, shell(dir, "xmllint --xpath '" + expression + "' " + svg + " >.xpath").first);
  std::string found = read_file(dir + "/.xpath");
  fs::remove(dir + "/.xpath");
  while (found.ends_with('\n')) found.pop_back();
  return found;
}

// An ensemble database: a panel per compartment recorded, in order, titled
// with number and name; per scenario a light and a dark band and the median
// in its colour, labelled in the key; the quantiles as numbers alone.
TEST(PlotEnsemble, BandsAndMediansPerScenarioInAPanelPerCompartment) {
  ScratchDir dir;
  sql("ens.sqlite", grazing_ensemble());
  RunResult r = run(plot_tool, dir.path(), "",
                    "ens.sqlite -o ens.svg --units 'g m-2' --time-unit d --script ens.gp");
  ASSERT_EQ(0, r.status) << r.err;
  EXPECT_EQ("", r.err);
  const std::string svg = read_file("ens.svg");
  for (const char* text : {">GRAZING CHAIN<", ">model 2<", ">model 2, biomass:GRAZERS=x0.5<",
                           ">biomass (g m-2)<", ">time (d)<", " width=\"900\" height=\"1500\""})
    EXPECT_THAT(svg, HasSubstr(text));
  const double predators = text_height(svg, "3 PREDATORS"), grass = text_height(svg, "1 GRASS"),
               grazers = text_height(svg, "2 GRAZERS");
  EXPECT_TRUE(predators > 0 && predators < grass && grass < grazers) << predators << " " << grass;
  // Three panels of two scenarios: six bands of each shade, three medians
  // in each colour.
  const std::string count = "count(//*[local-name()=\"";
  EXPECT_EQ("6", xpath(dir.path(), "ens.svg", count + "polygon\"][@fill-opacity=\"0.150000\"])"));
  EXPECT_EQ("6", xpath(dir.path(), "ens.svg", count + "polygon\"][@fill-opacity=\"0.300000\"])"));
  for (const char* colour : {"rgb( 31,  78, 156)", "rgb(179,  89,   0)"})
    EXPECT_EQ("3", xpath(dir.path(), "ens.svg", count + "path\"][@stroke=\"" + colour + "\"])"));
  EXPECT_THAT(read_file("ens.gp"),
              AllOf(HasSubstr("\n$scenario1 << EOD\n# time | 3 PREDATORS: q05 q25 q50 q75 q95 | "
                              "1 GRASS: q05 q25 q50 q75 q95 | 2 GRAZERS: q05 q25 q50 q75 q95\n"
                              "0 2.5 4 5 6.25 10 50 80 100 125 200 10 16 20 25 40\n"),
                    HasSubstr("\n1.5 4 6.4 8 10 16 80 128 160 200 320 16 25.6 32 40 64\nEOD\n"),
                    // The columns of the second panel in the second scenario's colour.
                    HasSubstr("\n     $scenario2 using 1:7:11 with filledcurves linetype 2 fillstyle "
                              "transparent solid 0.15 noborder notitle, \\\n     $scenario2 using "
                              "1:8:10 with filledcurves linetype 2 fillstyle transparent solid 0.3 "
                              "noborder notitle, \\\n     $scenario2 using 1:9 with lines linetype 2 "
                              "title \"model 2, biomass:GRAZERS\\0075x0.5\"\n"),
                    Not(HasSubstr("logscale"))));

  // Some compartments, by name or number, and one scenario.
  r = run(plot_tool, dir.path(), "",
          "ens.sqlite --compartments ' grass ,3' --scenarios 2 -o sel.svg --script sel.gp");
  ASSERT_EQ(0, r.status) << r.err;
  EXPECT_THAT(read_file("sel.svg"),
              AllOf(HasSubstr(">1 GRASS<"), HasSubstr(">3 PREDATORS<"), Not(HasSubstr(">2 GRAZERS<")),
                    Not(HasSubstr(">model 2<")), HasSubstr(" width=\"900\" height=\"1000\"")));
  EXPECT_THAT(read_file("sel.gp"),
              AllOf(Not(HasSubstr("$scenario1")),
                    HasSubstr("\n$scenario2 << EOD\n# time | 1 GRASS: q05 q25 q50 q75 q95 | 3 "
                              "PREDATORS: q05 q25 q50 q75 q95\n0 50 80 100 125 200 2.5 4 5 6.25 10\n")));
}

// What is not an ensemble database of format 1 with a summary to draw, or
// an option that does not apply, is refused without output; texts from the
// database reach gnuplot only as data; the database is only read, in
// bounded memory, and nothing is left beside it.
TEST(PlotEnsemble, RefusalsTextsAsDataAndTheDatabaseOnlyRead) {
  ScratchDir dir;
  const std::string ensemble = grazing_ensemble();
  sql("ens.sqlite", ensemble);
  const std::map<std::string, std::string> variants = {
      {"v2.sqlite", "PRAGMA user_version = 2;"},
      {"noscenario.sqlite", "DROP TABLE scenario;"},
      {"empty.sqlite", "DELETE FROM summary;"},
      {"part.sqlite", "DELETE FROM summary WHERE scenario = 2;"},
      {"hole.sqlite", "DELETE FROM summary WHERE scenario = 1 AND step = 1 AND compartment = 1;"},
      {"wide.sqlite",
       "WITH RECURSIVE n(c) AS (SELECT 4 UNION ALL SELECT c + 1 FROM n WHERE c < 101) "
       "INSERT INTO recorded SELECT c, c FROM n;"
       "INSERT INTO summary SELECT 1, 0, 0, position, 2, 1, 1, 1, 1, 1, 1 FROM recorded "
       "WHERE position > 3;"},
      {"many.sqlite",
       "WITH RECURSIVE n(s) AS (SELECT 3 UNION ALL SELECT s + 1 FROM n WHERE s < 101) "
       "INSERT INTO scenario SELECT s, 1, 'model 1' FROM n;"},
      {"text.sqlite", "UPDATE summary SET q75 = 'many' WHERE scenario = 1 AND step = 2 AND compartment = 1;"},
      {"wal.sqlite", "PRAGMA journal_mode = WAL;"},
      {"odd.sqlite",
       "UPDATE scenario SET label = 'It''s \"2\"' || char(10) || 'system \"touch MARKER\"' || char(10) "
       "|| '`touch MARKER` T' || CAST(X'E4' AS TEXT) || 'st' WHERE scenario = 2;"
       "UPDATE settings SET value = 'A ' || char(1) || ' \\CHAIN' WHERE key = 'title';"
       "UPDATE compartment SET name = 'Filter ''Feeders' || char(10) || 'EOD' WHERE compartment = 1;"},
  };
  for (const auto& [file, change] : variants) sql(file, ensemble + change);
  fs::create_symlink("ens.sqlite", "link.svg");
  write_file("one.8", report_cycle("ONE", {"ALGAE"}));
  write_file("junk.sqlite", std::string("SQLite format 3\0", 16) + std::string(5000, 'x'));
  sql("big.sqlite", grazing_ensemble(150000));
  const std::string replacement = "\xef\xbf\xbd";
  const Matcher<const std::string&> svg = StartsWith("<?xml");
  const std::string in_ens = "ecodyn-plot: ens.sqlite: ";
  check_faults(dir.path(), plot_tool, {
      {"$P ens.sqlite one.8 -o p.svg", 2,
       "ecodyn-plot: ens.sqlite is an ensemble database, drawn alone: give it without reports\n"},
      {"$P one.8 ens.sqlite -o p.svg", 2,
       "ecodyn-plot: ens.sqlite is an ensemble database, drawn alone: give it without reports\n"},
      {"$P v2.sqlite -o p.svg", 2,
       "ecodyn-plot: v2.sqlite: not an ensemble database of format 1: its user_version is 2\n"},
      {"$P noscenario.sqlite -o p.svg", 2,
       "ecodyn-plot: noscenario.sqlite: not an ensemble database: it has no table scenario\n"},
      {"$P empty.sqlite -o p.svg", 2,
       "ecodyn-plot: empty.sqlite: the summary is empty (the ensemble has not completed, or "
       "recorded no compartment)\n"},
      {"$P junk.sqlite -o p.svg", 2,
       "ecodyn-plot: junk.sqlite: cannot read the database: file is not a database\n"},
      {"$P text.sqlite -o p.svg", 2,
       "ecodyn-plot: text.sqlite: the summary holds a value that is not a number (scenario 1, "
       "step 2, compartment 1)\n"},
      {"$P ens.sqlite -o link.svg", 2,
       "ecodyn-plot: cannot write link.svg: it is the input ens.sqlite\n"},
      {"$P ens.sqlite --cycle 1 -o p.svg", 2,
       "ecodyn-plot: --cycle applies to reports, not to an ensemble database\n"},
      {"$P ens.sqlite --relative -o p.svg", 2,
       "ecodyn-plot: --relative applies to reports, not to an ensemble database\n"},
      {"$P one.8 --scenarios 1 -o p.svg", 2,
       "ecodyn-plot: --scenarios applies only to an ensemble database\n"},
      {"$P ens.sqlite --compartments 4 -o p.svg", 2,
       in_ens + "--compartments: compartment 4 is not recorded in the ensemble (it records 3, 1, 2)\n"},
      {"$P ens.sqlite --compartments gra -o p.svg", 2,
       in_ens + "--compartments: 'gra' names compartments 1 GRASS; 2 GRAZERS: give the number\n"},
      {"$P ens.sqlite --compartments fish -o p.svg", 2,
       in_ens + "--compartments: no compartment recorded is named 'fish'\n"},
      {"$P ens.sqlite --scenarios 3 -o p.svg", 2,
       in_ens + "--scenarios: there is no scenario 3 (the ensemble has 2)\n"},
      {"cat one.8 | $P /dev/stdin -o p.svg", 0, "", {{"p.svg", HasSubstr(">ALGAE<")}}},
      {"$P wide.sqlite -o p.svg", 2,
       "ecodyn-plot: wide.sqlite: more than 100 compartments to draw, the most one picture holds: "
       "choose some with --compartments\n"},
      {"$P many.sqlite -o p.svg", 2,
       "ecodyn-plot: many.sqlite: more than 100 scenarios to draw, the most one picture holds: "
       "choose some with --scenarios\n"},
      {"$P hole.sqlite -o p.svg --script hole.gp", 0, "",
       {{"p.svg", svg}, {"hole.gp", HasSubstr("\n0.5 2.75 4.4 5.5 6.875 11 ? ? ? ? ? 11 17.6 22 27.5 44\n")}}},
      {"$P part.sqlite -o p.svg", 0,
       "ecodyn-plot: part.sqlite: warning: scenario 2 has no accepted member: it is not drawn\n",
       {{"p.svg", AllOf(HasSubstr(">model 2<"), Not(HasSubstr("GRAZERS=x0.5")))}}},
      {"$P part.sqlite --scenarios 2 -o p.svg", 2,
       "ecodyn-plot: part.sqlite: warning: scenario 2 has no accepted member: it is not drawn\n"
       "ecodyn-plot: part.sqlite: no scenario chosen has an accepted member\n"},
      // A database in WAL mode is read without its log and index being made beside it.
      {"$P wal.sqlite -o p.svg", 0, "", {{"p.svg", svg}}},
      {"$P odd.sqlite -o odd.svg --script odd.gp && xmllint --noout odd.svg", 0, "",
       {{"odd.svg", AllOf(HasSubstr(">It's \"2\"" + replacement + "system \"touch MARKER\"" +
                                    replacement + "`touch MARKER` T\xc3\xa4st<"),
                          HasSubstr(">A " + replacement + " \\CHAIN<"),
                          HasSubstr(">1 Filter 'Feeders" + replacement + "EOD<"))},
        {"odd.gp", HasSubstr("| 1 Filter 'Feeders" + replacement + "EOD: q05")}}},
      // The summary streamed: 900006 rows into a script in a few megabytes.
      {memory_limit + "PATH=/nonexistent $P big.sqlite -o p.svg --script big.gp", 2,
       "ecodyn-plot: gnuplot draws the pictures and is not installed: install the Debian package "
       "gnuplot-nox\n",
       {{"big.gp", AllOf(HasSubstr("\n0.5 2.75 4.4 5.5 6.875 11 "), HasSubstr("\n75000 "),
                         HasSubstr("\nset logscale y\n"))}}},
  });
}

// Texts as gnuplot strings and as they can be shown; snapshot values as CSV.
TEST(Texts, GnuplotStringsShownTextsAndSevenDigits) {
  const std::pair<std::string, std::string> quoted[] = {
      {"Fish (small), 1-2/3.x:y;z_w+", "\"Fish (small), 1-2/3.x:y;z_w+\""},
      {"'1\"2`3\\4\n5$6@7#", "\"\\00471\\00422\\1403\\1344\\00125\\00446\\1007\\0043\""},
      {"\xc3\xa4", "\"\\303\\244\""},
  };
  for (const auto& [text, gnuplot] : quoted) EXPECT_EQ(gnuplot, ecodyn::plot::quoted(text));
  const std::string fffd = "\xef\xbf\xbd";
  const std::pair<std::string, std::string> shown[] = {
      {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x90\x9f", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x90\x9f"},
      {"T\xe4st \xff", "T\xc3\xa4st \xc3\xbf"},                                 // Latin-1
      {std::string("a\0b\r\x1b\x7f", 6) + "\xc2\x85\x85", "a" + fffd + "b" + fffd + fffd + fffd + fffd + fffd},
      {"\xc0\xaf \xed\xa0\x80 \xf4\x90\x80\x80 \xe2\x82", // overlong, surrogate, beyond U+10FFFF, cut
       "\xc3\x80\xc2\xaf \xc3\xad\xc2\xa0" + fffd + " \xc3\xb4" + fffd + fffd + fffd + " \xc3\xa2" + fffd},
  };
  for (const auto& [text, out] : shown) EXPECT_EQ(out, ecodyn::plot::shown(text));
  const std::pair<float, std::string> values[] = {
      {500.0f, "0.5000000E+03"}, {-0.00125f, "-0.1250000E-02"}, {0.0f, "0.0000000E+00"},
      {INFINITY, "Inf"}, {-INFINITY, "-Inf"}, {NAN, "NaN"},
  };
  for (const auto& [v, text] : values) EXPECT_EQ(text, ecodyn::csv::seven_digits(v));
}

RunResult run_export(const std::string& dir, const std::string& args) {
  return run(ECODYN_EXPORT_BINARY, dir, "", args);
}

// The biomass list of the first description of a network file, by compartment.
std::map<int, double> biomasses(const std::string& text) {
  const auto lines = lines_of(text);
  std::map<int, double> out;
  for (std::size_t k = 2 + std::stoi(lines.at(1).substr(0, 3)); std::stoi(lines.at(k).substr(0, 3)) > 0;
       ++k) {
    out[std::stoi(lines[k].substr(0, 3))] = std::stod(lines[k].substr(3, 14));
  }
  return out;
}

TEST(ExportBalanced, ABalancingRunBecomesASteadyStateUnderEveryModelType) {
  ScratchDir dir;
  const std::string follow = "63 48 47 53 2 1 72\n";
  write_file("fort.7", read_file(examples_dir + "networks/lake_oneida_pre_zm.net"));
  // Linear donor control to t = 10, some 30 longest throughput times: the
  // unbalanced network settles at the model's equilibrium.
  RunResult r = run_ecodyn(dir.path(), "2\n0\n10\n1\n0\nN\n" + follow);
  ASSERT_EQ(0, r.status) << r.err;
  ASSERT_THAT(r.out, HasSubstr("NOT BALANCED"));
  r = run_export(dir.path(), "fort.18 --network -o balanced.net");
  ASSERT_EQ(0, r.status) << r.err;
  const std::string balanced = read_file("balanced.net");
  EXPECT_EQ(" 74 71\n", balanced.substr(81, 7));  // type and time blank
  const std::map<int, double> start = biomasses(balanced);
  ASSERT_EQ(74u, start.size());

  for (const char* type : {"1", "2", "3"}) {
    SCOPED_TRACE(std::string("model type ") + type);
    write_file("fort.7", balanced);
    r = run_ecodyn(dir.path(), std::string(type) + "\n0\n1\n0.5\n0\nN\n" + follow);
    ASSERT_EQ(0, r.status) << r.err;
    EXPECT_THAT(r.out, AllOf(HasSubstr("LONGEST THROUGHPUT TIME"), Not(HasSubstr("NOT BALANCED")),
                             Not(HasSubstr("EXTINCT"))));
    const std::map<int, double> end = biomasses(read_file("fort.18"));
    ASSERT_EQ(start.size(), end.size());
    for (const auto& [i, b] : start) EXPECT_NEAR(b, end.at(i), 1e-4 * b) << "compartment " << i;
  }
}

// A run of the two-compartment network with snapshots at 0, 5 and 10: its
// descriptions listed, one picked by index or time; refusals leave no output.
TEST(ExportSnapshots, ListsAndPicksDescriptionsAndRefusesWithoutOutput) {
  ScratchDir dir;
  write_file("fort.7", two_compartments_file());
  ASSERT_EQ(0, run_ecodyn(dir.path(), "2\n0\n10\n5\n5\nY\n1\n1\n5\nN\n").status);
  const auto exported = [&](const std::string& args) { return run_export(dir.path(), "fort.18 " + args); };
  RunResult r = exported("--list");
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_EQ(
      " INDEX  LINE  NCOMP  NLIV  TYPE        TIME  TITLE\n"
      "     1     1      2     1     2        .000  " + two_compartments_title + "\n"
      "     2    18      2     1     2       5.000  " + two_compartments_title + "\n"
      "     3    35      2     1     2      10.000  " + two_compartments_title + "\n",
      r.out);
  EXPECT_EQ(" INDEX  LINE  NCOMP  NLIV  TYPE        TIME  TITLE\n     1     1      2     1" +
                blanks(20) + two_compartments_title + "\n",
            run_export(dir.path(), "fort.7 --list").out);  // an ordinary network: no type or time
  const std::string second = exported("--index 2 --network").out;
  EXPECT_EQ(second, exported("--time 5 --network").out);
  EXPECT_THAT(second, StartsWith(title(two_compartments_title) + counts(2, 1)));
  EXPECT_EQ(exported("--index 3 --scor").out, exported("--scor").out);  // the last by default
  EXPECT_THAT(exported("--index 1 --scor").out,
              StartsWith(two_compartments_title + "\n2 1\nPLANTS\nDETRITUS\n1 5\n2 20\n-1\n1 5\n-1\n"));

  const std::string snapshots = read_file("fort.18");
  write_file("truncated.18", snapshots.substr(0, snapshots.find(" -1 -1")));
  const std::pair<std::string, std::string> cases[] = {
      {"truncated.18 --network",
       "ecodyn-export: truncated.18, line 17: the file ends where the exchange matrix list "
       "record is due\n"},
      {"fort.18 --index 4 --scor",
       "ecodyn-export: fort.18, line 51: the file ends after 3 network descriptions; there is "
       "no description 4\n"},
      {"fort.18 --time 12.6 --network",
       "ecodyn-export: fort.18, line 51: the file ends after 3 network descriptions; none is at "
       "time 12.600 or within half the spacing of their times\n"},
      {"missing.18 --network", "ecodyn-export: cannot read missing.18: No such file or directory\n"},
  };
  for (const auto& [args, err] : cases) {
    SCOPED_TRACE(args);
    r = run_export(dir.path(), args + " -o out.txt");
    EXPECT_EQ(2, r.status);
    EXPECT_EQ(err, r.err);
    EXPECT_EQ("", r.out);
    EXPECT_FALSE(file_exists("out.txt"));
  }
}

// What could not be written back as read is refused with its line: a value
// beyond single precision, a title or name that SCOR would read otherwise;
// an output that is the input, itself or through a link, is refused before
// anything is written.
TEST(ExportRefusals, ValuesAndTextsThatWouldNotReadBackAndTheInputAsOutput) {
  ScratchDir dir;
  const std::string net = two_compartments_file();
  const auto changed = [&](const std::string& from, const std::string& to) {
    std::string s = net;
    return s.replace(s.find(from), from.size(), to);
  };
  const std::pair<std::string, std::string> cases[] = {
      {changed("       10.0000", "       1.0E+39"),
       "line 5: the biomass of compartment 1 is beyond single precision (it reads as infinity)"},
      {changed("  1  2        3.0000", "  1  2      3.0E+999"),
       "line 15: the flow from 1 to 2 is beyond single precision (it reads as infinity)"},
      {changed("  2  1\n", "  2  1  2   1.0E+39\n"),
       "line 2: the time of the snapshot is beyond single precision (it reads as infinity)"},
      {changed("PLANTS", "PLA\rNTS"),
       "line 3: the name of compartment 1 holds a line end (0x0D), which would end the line in SCOR"},
      {changed("PLANTS", "\t"), "line 3: the name of compartment 1 is blank"},
      {changed("PLANTS", "2  20.+000"),
       "line 3: the name of compartment 1 reads as a biomass line in SCOR"},
      {changed("A PLANT POOL", "A \x01 POOL"),
       "line 1: the title holds the control character 0x01, which a SCOR file cannot carry"},
  };
  for (const auto& [text, err] : cases) {
    SCOPED_TRACE(err);
    write_file(dir.file("in.net"), text);
    const RunResult r = run_export(dir.path(), "in.net --scor -o out.txt");
    EXPECT_EQ(2, r.status);
    EXPECT_EQ("ecodyn-export: in.net, " + err + "\n", r.err);
    EXPECT_FALSE(file_exists(dir.file("out.txt")));
  }
  // A tab within a name is a blank to SCOR: written as one.
  write_file(dir.file("in.net"), changed("PLANTS", "PLA\tNTS"));
  EXPECT_THAT(run_export(dir.path(), "in.net --scor").out, HasSubstr("\nPLA NTS\nDETRITUS\n"));

  write_file(dir.file("in.net"), net);
  fs::create_symlink("in.net", dir.file("link.net"));
  for (const char* output : {"in.net", "link.net"}) {
    const RunResult r = run_export(dir.path(), std::string("in.net --network -o ") + output);
    EXPECT_EQ(2, r.status);
    EXPECT_EQ(std::string("ecodyn-export: cannot write ") + output + ": it is the input in.net\n",
              r.err);
    EXPECT_EQ(net, read_file(dir.file("in.net")));
  }
}

}  // namespace

// Snapshot times drift from the grid asked for as single-precision steps
// add up: --time takes the nearest within half the spacing, and says so.
TEST(ExportSnapshots, TimeTakesTheNearestWithinHalfTheSpacing) {
  ScratchDir dir;
  write_file("fort.7", two_compartments_file());
  ASSERT_EQ(0, run_ecodyn(dir.path(), "2\n0\n700\n0.3\n100\nN\n").status);
  const std::string snapshots = read_file("fort.18");
  ASSERT_THAT(snapshots, HasSubstr("  2  1  2   600.288\n"));  // the 7th, on line 103
  RunResult r = run_export(dir.path(), "fort.18 --time 600 --network");
  EXPECT_EQ(0, r.status);
  EXPECT_EQ(r.out, run_export(dir.path(), "fort.18 --index 7 --network").out);
  EXPECT_EQ("ecodyn-export: fort.18, line 103: warning: no description is at time 600.000; the "
            "nearest, at 600.288, is taken\n",
            r.err);
  // To three decimals: 600.288 is not at 600.29, the nearest all the same.
  EXPECT_THAT(run_export(dir.path(), "fort.18 --time 600.29 --network").err,
              HasSubstr("no description is at time 600.290; the nearest, at 600.288"));
  r = run_export(dir.path(), "fort.18 --time 800 --network");  // 99.8 past the last
  EXPECT_EQ(2, r.status);
  EXPECT_EQ("ecodyn-export: fort.18, line 136: the file ends after 8 network descriptions; none is "
            "at time 800.000 or within half the spacing of their times\n",
            r.err);
}
