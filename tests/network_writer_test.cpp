// The records a writer emits: exact columns, and times that read back even
// where three decimals do not fit in ten columns.
#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "fio/fio.h"
#include "network/writer.h"
#include "support/scratch.h"

namespace {

using namespace ecodyn;
using ecodyn::test::read_file;
using ecodyn::test::ScratchDir;

NameTable names_of(const char* title, const char* name) {
  NameTable t;
  for (auto& row : t.rows) {
    for (auto& w : row) w.fill(' ');
  }
  for (std::size_t k = 0; k < std::strlen(title) && k < 78; ++k) t.rows[0][k / 4][k % 4] = title[k];
  for (std::size_t k = 0; k < std::strlen(name) && k < 25; ++k) t.rows[1][k / 4][k % 4] = name[k];
  return t;
}

TEST(NetworkWriter, RecordsCarryJustTheirFields) {
  ScratchDir dir;
  const NameTable names = names_of("A TITLE OF SEVENTY-EIGHT CHARACTERS AT MOST", "GRASS");
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
  EXPECT_EQ(title + " 4\n"
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
  ecodyn::test::write_file("fort.7", record);
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
      {999999.9375f, "999999.938"},   // the largest times with three decimals
      {1000000.0f, "1000000.00"},     // a million: two decimals
      {-99999.9f, "-99999.898"},
      {-123456.5f, "-123456.50"},
      {12345678.0f, "12345678.0"},
      {123456792.0f, "123456792."},
      {1.5e9f, "1.5000E+09"},         // beyond every fixed form: an exponent
      {-2.5e8f, "-2.500E+08"},
  };
  for (const auto& c : cases) {
    const auto [field, back] = round_trip(c.t);
    EXPECT_EQ(c.field, field) << c.t;
    EXPECT_NEAR(c.t, back, std::abs(c.t) * 1e-4) << c.t;
  }
}

}  // namespace
