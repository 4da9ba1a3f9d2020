// The record layer and the network writer on it: read outcomes, the record
// counts the diagnostics name, the line limit, files that cannot be written,
// and the counts records of the writer, whose times read back in ten columns.
#include "network/writer.h"
#include "support/records.h"
#include "support/scratch.h"

namespace {

using namespace ecodyn;
using namespace ecodyn::test;

TEST(FioRead, OutcomesAndRecordCounts) {
  ScratchDir dir;
  write_file("fort.7", "  1\n  x\n" + std::string(65536, ' ') + "\n" + std::string(65537, ' '));
  int i = 0;
  EXPECT_EQ(fio::ok, fio::read(fio::network_file, "(I3)", i));
  EXPECT_EQ(1, i);
  EXPECT_EQ(fio::error, fio::read(fio::network_file, "(I3)", i));
  EXPECT_EQ(2, fio::records_read(fio::network_file));  // an unreadable record counts
  EXPECT_EQ(fio::ok, fio::read(fio::network_file, "(I3)", i));  // the longest line there is
  EXPECT_THROW(fio::read(fio::network_file, "(I3)", i), fio::Stop);
  EXPECT_EQ(4, fio::records_read(fio::network_file));
  EXPECT_EQ(fio::end, fio::read(fio::network_file, "(I3)", i));
  fio::close(fio::network_file);
  std::filesystem::remove("fort.7");
  std::filesystem::create_directory("fort.7");
  EXPECT_FALSE(fio::connect(fio::network_file, "fort.7", true));
  EXPECT_EQ(EISDIR, errno);
}

// A report that cannot be opened, or fails only when closed: status 2.
TEST(FioWrite, UnwritableReportEndsTheRunWithStatusTwo) {
  ScratchDir dir;
  const auto write = [] { fio::write(fio::report, "(1X,'A')"); return 0; };
  std::filesystem::create_directory("fort.8");
  EXPECT_EQ(2, fio::run(write));
  std::filesystem::remove("fort.8");
  std::filesystem::create_symlink("/dev/full", "fort.8");
  EXPECT_EQ(2, fio::run(write));
}

TEST(NetworkWriter, TimesOutsideThreeDecimalsStillReadBack) {
  ScratchDir dir;
  const std::pair<float, const char*> cases[] = {
      {999999.9375f, "999999.938"}, {1000000.0f, "1000000.00"}, {9999999.0f, "9999999.00"},
      {12345678.0f, "12345678.0"},  {123456792.0f, "123456792."}, {1.5e9f, "1.5000E+09"},
      {-99999.9f, "-99999.898"},    {-123456.5f, "-123456.50"}, {-2.5e8f, "-2.500E+08"}};
  for (const auto& [t, field] : cases) {
    write_counts(fio::snapshot_file, 3, 2, 1, t);
    ASSERT_TRUE(fio::close(fio::snapshot_file));
    const std::string record = read_file("fort.18");
    EXPECT_EQ(std::string("  3  2  1") + field + "\n", record) << t;
    write_file("fort.7", record);
    int n = 0, l = 0, m = 0;
    float back = -1;
    EXPECT_EQ(fio::ok, fio::read(fio::network_file, "(3I3,F10.3)", n, l, m, back));
    fio::close(fio::network_file);
    EXPECT_NEAR(t, back, std::abs(t) * 1e-4) << t;
  }
}

}  // namespace
