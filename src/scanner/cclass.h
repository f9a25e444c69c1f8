// Character classes of the "C" locale as constexpr lookups. tessel never
// calls setlocale, so these give exactly what isspace and toupper give, but
// inline and without a library call per byte on the hot path.
#ifndef TESSEL_CCLASS_H
#define TESSEL_CCLASS_H

#include <array>
#include <cstddef>

namespace cclass {

inline constexpr std::array<bool, 256> kSpace = [] {
  std::array<bool, 256> table{};
  for (const char c : {' ', '\t', '\n', '\v', '\f', '\r'}) {
    table[static_cast<unsigned char>(c)] = true;
  }
  return table;
}();

// isspace of the byte c, in the "C" locale.
constexpr bool is_space(unsigned char c) { return kSpace[c]; }

constexpr std::array<char, 256> make_upper_table() {
  std::array<char, 256> table{};
  for (std::size_t i = 0; i < table.size(); ++i) {
    const bool lower = i >= 'a' && i <= 'z';
    table[i] = static_cast<char>(lower ? i - ('a' - 'A') : i);
  }
  return table;
}

inline constexpr std::array<char, 256> kUpper = make_upper_table();

// toupper of the byte c, in the "C" locale.
constexpr char to_upper(char c) { return kUpper[static_cast<unsigned char>(c)]; }
constexpr bool is_space(char c) { return is_space(static_cast<unsigned char>(c)); }

static_assert(to_upper('a') == 'A' && to_upper('Z') == 'Z' && to_upper('\xe9') == '\xe9');
static_assert(is_space('\v') && !is_space('\0') && !is_space('\xa0'));

}  // namespace cclass

#endif
