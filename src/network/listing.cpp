#include "network/listing.h"

#include <algorithm>
#include <array>

#include "fio/fio.h"

namespace ecodyn {

namespace {

constexpr int block = 8;       // entries on one line
constexpr int row_block = 65;  // matrix rows listed before the columns repeat
constexpr int max_blocks = 100;

// Writes the heading line of entry numbers first..last.
void write_numbers(int first, int last) {
  std::array<int, block> numbers{};
  for (int k = first; k <= last; ++k) numbers[k - first] = k;
  fio::write(fio::report, "(6X,14(I6,3X))",
             std::span<const int>(numbers.data(), static_cast<std::size_t>(last - first + 1)));
}

}  // namespace

void vecprt(const Vector& vector, int n, int /*dimension*/) {
  fio::write(fio::report, "(/)");
  for (int b = 1; b <= max_blocks; ++b) {
    const int first = block * (b - 1) + 1;
    const int last = std::min(block * b, n);
    write_numbers(first, last);
    fio::write(fio::report, "(6X,14E9.3)", vector.range(first, last));
    fio::write(fio::report, "(/)");
    if (n <= last) break;
  }
}

void matprt(const Matrix& matrix, int n, int /*dimension*/) {
  fio::write(fio::report, "(/)");
  for (int r = 1; r <= max_blocks; ++r) {
    const int first_row = row_block * (r - 1) + 1;
    const int last_row = std::min(row_block * r, n);
    for (int s = 1; s <= max_blocks; ++s) {
      const int first_col = block * (s - 1) + 1;
      const int last_col = std::min(block * s, n);
      write_numbers(first_col, last_col);
      for (int i = first_row; i <= last_row; ++i) {
        std::array<float, block> row{};
        for (int j = first_col; j <= last_col; ++j) row[j - first_col] = matrix(i, j);
        fio::write(fio::report, "(1X,I3,2X,14E9.3)", i,
                   std::span<const float>(row.data(),
                                          static_cast<std::size_t>(last_col - first_col + 1)));
      }
      fio::write(fio::report, "(/)");
      if (n <= last_col) break;
    }
    if (n <= last_row) break;
  }
}

}  // namespace ecodyn
