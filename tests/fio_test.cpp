// The formatted-record layer and the network writer on it: records rendered
// exactly as their format specifications say, reads with their end and error
// outcomes, the program's stops with their exit statuses, and the records a
// writer emits: exact columns, and times that read back even where three
// decimals do not fit in ten columns.
#include "fio/fio.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>

#include "network/writer.h"
#include "support/model_networks.h"
#include "support/scratch.h"

namespace {

using namespace ecodyn;
using ecodyn::test::read_file;
using ecodyn::test::ScratchDir;
using ecodyn::test::write_file;

TEST(FioWrite, RendersIntegerAndExponentFields) {
  ScratchDir dir;
  fio::write(fio::report, "(1X,'BIOMASS IN ',I2,' = ',E10.4)", 3, 12.5f);
  fio::write(fio::report, "(F10.3,7E10.3)", 0.0f, std::span<const float>(std::array{1.0f, 2.0f}));
  ASSERT_TRUE(fio::close(fio::report));
  EXPECT_EQ(
      " BIOMASS IN  3 =  .1250E+02\n"
      "      .000  .100E+01  .200E+01\n",
      read_file("fort.8"));
}

TEST(FioWrite, CharacterFieldsShorterThanTheirWord) {
  ScratchDir dir;
  const std::array<char, 4> w1{'A', 'B', 'C', 'D'}, w2{'E', 'F', ' ', ' '};
  fio::write(fio::report, "(1X,A4,A2,'|')", w1, w2);
  ASSERT_TRUE(fio::close(fio::report));
  EXPECT_EQ(" ABCDEF|\n", read_file("fort.8"));
}

TEST(FioRead, EndErrorAndLineNumbers) {
  ScratchDir dir;
  write_file("fort.7", "  1 5             5.\n  3 abc\n");
  int i = 0;
  float a = 0, b = 0;
  EXPECT_EQ(fio::ok, fio::read(fio::network_file, "(I3,3E14.7)", i, a, b));
  EXPECT_EQ(1, i);
  EXPECT_FLOAT_EQ(5.0e-7f, a);  // no decimal point: the last seven digits are decimals
  EXPECT_FLOAT_EQ(5.0f, b);
  EXPECT_EQ(fio::error, fio::read(fio::network_file, "(I3,3E14.7)", i, a, b));
  EXPECT_EQ(2, fio::records_read(fio::network_file));
  EXPECT_EQ(fio::end, fio::read(fio::network_file, "(I3,3E14.7)", i, a, b));
  EXPECT_EQ(2, fio::records_read(fio::network_file));
  fio::close(fio::network_file);
}

TEST(FioStop, UnwritableReportFilesEndTheRunWithStatusTwo) {
  ScratchDir dir;
  std::filesystem::create_directory("fort.8");  // cannot be opened for writing
  EXPECT_EQ(2, fio::run([] {
              fio::write(fio::report, "(1X,'X')");
              return 0;
            }));
  std::filesystem::remove("fort.8");
  std::filesystem::create_symlink("/dev/full", "fort.8");  // noticed at the end
  EXPECT_EQ(2, fio::run([] {
              fio::write(fio::report, "(1X,'X')");
              return 0;
            }));
}

TEST(NetworkWriter, RecordsCarryJustTheirFields) {
  ScratchDir dir;
  const NameTable names =
      ecodyn::test::name_table("A TITLE OF SEVENTY-EIGHT CHARACTERS AT MOST", {"GRASS"});
  write_title(fio::snapshot_file, names, 4);
  write_counts(fio::snapshot_file, 1, 1, 2, 12.5f);
  write_counts(fio::snapshot_file, 1, 1);
  write_name(fio::snapshot_file, names, 1);
  write_vector_record(fio::snapshot_file, 1, std::array{12.5f, 0.25f, -3.0f});
  write_vector_record(fio::snapshot_file, ndfl, std::array{0.0f});
  write_matrix_record(fio::snapshot_file, 1, 1, std::array{1.0e-9f, 7.0f});
  write_matrix_record(fio::snapshot_file, ndfl, ndfl, std::array{0.0f});
  ASSERT_TRUE(fio::close(fio::snapshot_file));
  std::string title = "A TITLE OF SEVENTY-EIGHT CHARACTERS AT MOST";
  title.resize(78, ' ');
  EXPECT_EQ(title +
                " 4\n"
                "  1  1  2    12.500\n"
                "  1  1\n"
                "GRASS                       \n"  // 25 characters and three blanks
                "  1  .1250000E+02  .2500000E+00 -.3000000E+01\n"
                " -1  .0000000E+00\n"
                "  1  1  .1000000E-08  .7000000E+01\n"
                " -1 -1  .0000000E+00\n",
            read_file("fort.18"));
}

// Writes a counts record with time t and returns it and the time read back
// from it with the reader's format.
std::pair<std::string, float> round_trip(float t) {
  write_counts(fio::snapshot_file, 3, 2, 1, t);
  EXPECT_TRUE(fio::close(fio::snapshot_file));
  const std::string record = read_file("fort.18");
  write_file("fort.7", record);
  int n = 0, l = 0, m = 0;
  float back = -1;
  EXPECT_EQ(fio::ok, fio::read(fio::network_file, "(3I3,F10.3)", n, l, m, back));
  fio::close(fio::network_file);
  return {record.substr(9, record.size() - 10), back};
}

TEST(NetworkWriter, TimesOutsideThreeDecimalsStillReadBack) {
  ScratchDir dir;
  struct Case {
    float t;
    const char* field;
  } cases[] = {
      {999999.9375f, "999999.938"},  // the largest times with three decimals
      {1000000.0f, "1000000.00"},    // a million: two decimals
      {-99999.9f, "-99999.898"},    {-123456.5f, "-123456.50"}, {12345678.0f, "12345678.0"},
      {123456792.0f, "123456792."}, {1.5e9f, "1.5000E+09"},  // beyond every fixed form: an exponent
      {-2.5e8f, "-2.500E+08"},
  };
  for (const auto& c : cases) {
    const auto [field, back] = round_trip(c.t);
    EXPECT_EQ(c.field, field) << c.t;
    EXPECT_NEAR(c.t, back, std::abs(c.t) * 1e-4) << c.t;
  }
}

}  // namespace
