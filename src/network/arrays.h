// Fixed-capacity storage of a network: vectors and column-major matrices
// indexed from 1, as compartments are numbered.
#pragma once

#include <array>
#include <span>

namespace ecodyn {

inline constexpr int max_compartments = 75;  // capacity of every network
inline constexpr int name_rows = 76;         // title row 0 and 75 names
inline constexpr int work_size = 96;         // work vectors of the integrator

// A vector of N reals, element 1 first.
template <int N>
struct Vec {
  std::array<float, N> v{};
  float& operator()(int i) { return v[i - 1]; }
  float operator()(int i) const { return v[i - 1]; }
  // Returns elements first..last as one contiguous run.
  std::span<const float> range(int first, int last) const {
    return std::span<const float>(v.data() + first - 1, static_cast<std::size_t>(last - first + 1));
  }
};

using Vector = Vec<max_compartments>;
using WorkVector = Vec<work_size>;

// A 75 by 75 matrix stored column by column (leading dimension 75).
// Element (i,j) concerns the flow from compartment i to compartment j.
struct Matrix {
  static constexpr int ld = max_compartments;
  std::array<float, ld * ld> a{};
  float& operator()(int i, int j) { return a[(i - 1) + (j - 1) * ld]; }
  float operator()(int i, int j) const { return a[(i - 1) + (j - 1) * ld]; }
};

// One four-character word of the name table.
using Word = std::array<char, 4>;

// The title (row 0: words 1 to 19, and the last two characters plus two
// blanks in word 20) and the compartment names (rows 1 to 75: words 1 to 6,
// and the 25th character plus three blanks in word 7).
struct NameTable {
  std::array<std::array<Word, 20>, name_rows> rows{};
  Word& word(int row, int w) { return rows[row][w - 1]; }
  const Word& word(int row, int w) const { return rows[row][w - 1]; }
  // The 20 words of the title and the 7 words of name i.
  std::span<Word> title() { return rows[0]; }
  std::span<const Word> title() const { return rows[0]; }
  std::span<Word> name(int i) { return std::span<Word>(rows[i].data(), 7); }
  std::span<const Word> name(int i) const { return std::span<const Word>(rows[i].data(), 7); }
};

}  // namespace ecodyn
