// Character classes, each named for the set it is: white space as C's
// isspace has it (in the "C" locale, which tessel never leaves), as HTML
// and browsers have it, and as the classic scanner has it; and ASCII case.
// constexpr lookups, inline and without a library call per byte on the hot
// path.
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

// isspace of the byte c, in the "C" locale: space, tab, LF, VT, FF, CR.
constexpr bool is_space(unsigned char c) { return kSpace[c]; }
constexpr bool is_c_space(char c) { return kSpace[static_cast<unsigned char>(c)]; }

// HTML's white space, which ends names and separates attributes in a
// browser: space, tab, LF, FF and CR (no vertical tab).
constexpr bool is_html_space(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r'; }

// The classic scanner's white space after '<' and "<!": space, tab and LF.
constexpr bool is_classic_space(int c) { return c == ' ' || c == '\t' || c == '\n'; }

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

// ASCII lower case; other bytes as they are.
constexpr char to_lower(int c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c); }

static_assert(to_upper('a') == 'A' && to_upper('Z') == 'Z' && to_upper('\xe9') == '\xe9');
static_assert(is_space('\v') && !is_space('\0') && !is_space('\xa0'));
static_assert(is_html_space('\f') && !is_html_space('\v') && !is_classic_space('\r') && is_c_space('\v'));
static_assert(to_lower('Q') == 'q' && to_lower('\xc9') == '\xc9');

}  // namespace cclass

#endif
