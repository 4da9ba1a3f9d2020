// The vector and matrix listings of the report file, line by line: blocks of
// eight compartments, values in nine-column slots under their numbers, two
// empty lines before a listing and after every block.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "fio/fio.h"
#include "network/listing.h"
#include "support/scratch.h"

namespace {

using ecodyn::test::blanks;
using ecodyn::test::right;

// A number line: six blanks, then each number right-aligned in six columns
// and followed by three blanks, except the last, which ends the line.
std::string numbers(int first, int last) {
  std::string s = blanks(6);
  for (int k = first; k <= last; ++k) {
    s += right(std::to_string(k), 6);
    if (k < last) s += blanks(3);
  }
  return s + "\n";
}

// The label of matrix row i: a blank, the number in three columns, two blanks.
std::string label(int i) { return blanks(1) + right(std::to_string(i), 3) + blanks(2); }

// A matrix row: its label and the values (each already a nine-column field).
std::string row(int i, const std::string& values) { return label(i) + values + "\n"; }

std::string repeat(const std::string& s, int n) {
  std::string r;
  for (int k = 0; k < n; ++k) r += s;
  return r;
}

const std::string zero = " .000E+00";
const std::string two_empty = "\n\n";

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class Listing : public testing::Test {
 protected:
  // Returns what the listings wrote to the report file.
  std::string report() {
    EXPECT_TRUE(fio::close(fio::report));
    return ecodyn::test::read_file("fort.8");
  }
  ecodyn::test::ScratchDir dir;
  ecodyn::Vector v;
  ecodyn::Matrix m;
};

TEST_F(Listing, EightEntriesMakeOneBlock) {
  for (int k = 1; k <= 8; ++k) v(k) = static_cast<float>(k);
  v(9) = 99.0f;  // beyond n: not listed
  ecodyn::vecprt(v, 8, 75);
  EXPECT_EQ("\n\n"
            "           1        2        3        4        5        6        7        8\n"
            "       .100E+01 .200E+01 .300E+01 .400E+01 .500E+01 .600E+01 .700E+01 .800E+01\n"
            "\n\n",
            report());
}

TEST_F(Listing, NinthEntryMakesASecondBlock) {
  v(1) = 0.5f;
  v(9) = -1234.5f;
  ecodyn::vecprt(v, 9, 75);
  EXPECT_EQ(two_empty + numbers(1, 8) + blanks(6) + " .500E+00" + repeat(zero, 7) + "\n" +
                two_empty +
                "           9\n"
                "      -.123E+04\n" +
                two_empty,
            report());
}

TEST_F(Listing, TwentyEntriesMakeThreeBlocks) {
  for (int k = 1; k <= 20; ++k) v(k) = 0.25f * static_cast<float>(k);
  ecodyn::vecprt(v, 20, 75);
  EXPECT_EQ(two_empty + numbers(1, 8) +
                "       .250E+00 .500E+00 .750E+00 .100E+01 .125E+01 .150E+01 .175E+01 .200E+01\n" +
                two_empty + numbers(9, 16) +
                "       .225E+01 .250E+01 .275E+01 .300E+01 .325E+01 .350E+01 .375E+01 .400E+01\n" +
                two_empty + numbers(17, 20) +
                "       .425E+01 .450E+01 .475E+01 .500E+01\n" + two_empty,
            report());
}

TEST_F(Listing, SeventyFiveEntriesEndWithABlockOfThree) {
  v(75) = 7.5f;
  ecodyn::vecprt(v, 75, 75);
  const std::string text = report();
  const auto lines = lines_of(text);
  ASSERT_EQ(2u + 10u * 4u, lines.size());
  EXPECT_EQ(numbers(73, 75), lines[2 + 9 * 4] + "\n");
  EXPECT_EQ(blanks(6) + zero + zero + " .750E+01", lines[3 + 9 * 4]);
}

// Entry (i,j) stands in the line of row i under the heading of column j.
TEST_F(Listing, TwentyByTwentyMatrixMakesThreeColumnBlocks) {
  m(1, 9) = -3.0f;
  m(2, 17) = 5.0f;
  m(17, 2) = 0.25f;
  m(20, 20) = 0.001f;
  m(21, 1) = 99.0f;  // beyond n: not listed
  ecodyn::matprt(m, 20, 75);

  std::string expected = two_empty + numbers(1, 8);
  for (int i = 1; i <= 20; ++i) {
    expected += row(i, i == 17 ? zero + " .250E+00" + repeat(zero, 6) : repeat(zero, 8));
  }
  expected += two_empty + numbers(9, 16);
  for (int i = 1; i <= 20; ++i) {
    expected += row(i, i == 1 ? "-.300E+01" + repeat(zero, 7) : repeat(zero, 8));
  }
  expected += two_empty + numbers(17, 20);
  for (int i = 1; i <= 20; ++i) {
    if (i == 2) {
      expected += row(i, " .500E+01" + repeat(zero, 3));
    } else if (i == 20) {
      expected += row(i, repeat(zero, 3) + " .100E-02");
    } else {
      expected += row(i, repeat(zero, 4));
    }
  }
  expected += two_empty;
  EXPECT_EQ(expected, report());
}

// Seventy compartments: rows 1 to 65 through nine column blocks, then rows
// 66 to 70 through the same nine blocks.
TEST_F(Listing, SeventyBySeventyMatrixHasTwoRowBlocks) {
  m(65, 1) = 2.0f;
  m(1, 70) = 1.5f;
  m(66, 70) = 7.0f;
  m(70, 66) = 0.125f;
  ecodyn::matprt(m, 70, 75);
  const auto lines = lines_of(report());

  // Per column block: its heading, its rows and two empty lines.
  const std::size_t first_block = 1 + 65 + 2, second_block = 1 + 5 + 2;
  ASSERT_EQ(2 + 9 * first_block + 9 * second_block, lines.size());
  EXPECT_EQ("", lines[0]);
  EXPECT_EQ("", lines[1]);
  for (int s = 0; s < 9; ++s) {
    const int first = 8 * s + 1, last = s == 8 ? 70 : 8 * s + 8;
    const std::size_t top = 2 + s * first_block;
    const std::size_t bottom = 2 + 9 * first_block + s * second_block;
    EXPECT_EQ(numbers(first, last), lines[top] + "\n");
    EXPECT_EQ(numbers(first, last), lines[bottom] + "\n");
    for (int i = 1; i <= 65; ++i) {
      EXPECT_EQ(label(i), lines[top + i].substr(0, 6));
      EXPECT_EQ(6u + 9u * (last - first + 1), lines[top + i].size());
    }
    for (int i = 66; i <= 70; ++i) {
      EXPECT_EQ(label(i), lines[bottom + i - 65].substr(0, 6));
    }
    EXPECT_EQ("", lines[top + 66]);
    EXPECT_EQ("", lines[top + 67]);
    EXPECT_EQ("", lines[bottom + 6]);
    EXPECT_EQ("", lines[bottom + 7]);
  }
  const std::size_t last_top = 2 + 8 * first_block;              // columns 65 to 70
  const std::size_t last_bottom = 2 + 9 * first_block + 8 * second_block;
  EXPECT_EQ(row(65, " .200E+01" + repeat(zero, 7)), lines[2 + 65] + "\n");
  EXPECT_EQ(row(1, repeat(zero, 5) + " .150E+01"), lines[last_top + 1] + "\n");
  EXPECT_EQ(row(66, repeat(zero, 5) + " .700E+01"), lines[last_bottom + 1] + "\n");
  EXPECT_EQ(row(70, zero + " .125E+00" + repeat(zero, 4)), lines[last_bottom + 5] + "\n");
}

}  // namespace
