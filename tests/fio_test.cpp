// The formatted-record layer: records rendered exactly as their format
// specifications say, reads with their end and error outcomes, and the
// program's stops with their exit statuses.
#include <gtest/gtest.h>

#include <filesystem>

#include "fio/fio.h"
#include "support/scratch.h"

namespace {

using ecodyn::test::read_file;
using ecodyn::test::ScratchDir;
using ecodyn::test::write_file;

TEST(FioWrite, RendersIntegerAndExponentFields) {
  ScratchDir dir;
  fio::write(fio::report, "(1X,'BIOMASS IN ',I2,' = ',E10.4)", 3, 12.5f);
  fio::write(fio::report, "(F10.3,7E10.3)", 0.0f, std::span<const float>(std::array{1.0f, 2.0f}));
  ASSERT_TRUE(fio::close(fio::report));
  EXPECT_EQ(" BIOMASS IN  3 =  .1250E+02\n"
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

TEST(FioStopDeathTest, MissingNetworkFileIsReportedNotCreated) {
  ScratchDir dir;
  int i = 0;
  EXPECT_EXIT(fio::read(fio::network_file, "(I3)", i), testing::ExitedWithCode(2),
              "cannot open the network file fort.7");
  EXPECT_FALSE(ecodyn::test::file_exists("fort.7"));
}

TEST(FioStopDeathTest, UnwritableReportFileEndsWithStatusTwo) {
  ScratchDir dir;
  std::filesystem::create_directory("fort.8");  // cannot be opened for writing
  EXPECT_EXIT(fio::write(fio::report, "(1X,'X')"), testing::ExitedWithCode(2),
              "cannot write fort.8");
}

TEST(FioStopDeathTest, FullDeviceIsNoticedAtTheStop) {
  ScratchDir dir;
  std::filesystem::create_symlink("/dev/full", "fort.8");
  EXPECT_EXIT(
      {
        fio::write(fio::report, "(1X,'X')");
        fio::stop(0);
      },
      testing::ExitedWithCode(2), "cannot write fort.8");
}

TEST(FioStopDeathTest, ErrorStopWritesItsMessageAndExitsWithOne) {
  EXPECT_EXIT(fio::error_stop("(1X,'BIOMASS DRIVEN NEGATIVE.')"), testing::ExitedWithCode(1),
              "");
}

}  // namespace
