// Character classes of the "C" locale as constexpr lookups. tessel never
// calls setlocale, so these give exactly what isspace and toupper give, but
// inline and without a library call per byte on the hot path.
#ifndef TESSEL_CCLASS_H
#define TESSEL_CCLASS_H

#include <array>
#include <cstddef>
#include <initializer_list>

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

inline constexpr unsigned char kJoins = 1;
inline constexpr unsigned char kJoinsLine = 2;

// The bytes that only join the pending piece in a state of a markup
// machine. The table says kJoins for most, kJoinsLine for a line feed that
// joins (so that the scanner can count lines apart from the rest), 0 for
// the bytes the state's handler must see. When few bytes are anything but
// kJoins (NUL and the line feed always are), they are also listed, so that
// a run can be looked for many bytes at a time.
struct CharSet {
  static constexpr std::size_t kMaxStops = 4;

  std::array<unsigned char, 256> table{};
  // Each listed byte sixteen times over, ready to be compared with sixteen
  // bytes of input; unused rows repeat the first.
  alignas(16) std::array<std::array<char, 16>, kMaxStops> stops{};
  std::size_t stop_count = kMaxStops + 1;  // more than kMaxStops: not listed

  constexpr unsigned char operator[](unsigned char c) const { return table[c]; }
  constexpr bool has_stop_list() const { return stop_count <= kMaxStops; }
};

// Every byte but NUL (which never reaches the scanners' handlers) and the
// excluded ones.
constexpr CharSet all_but(std::initializer_list<char> excluded) {
  CharSet set{};
  for (std::size_t i = 1; i < set.table.size(); ++i) {
    set.table[i] = i == '\n' ? kJoinsLine : kJoins;
  }
  for (const char c : excluded) {
    set.table[static_cast<unsigned char>(c)] = 0;
  }
  std::size_t count = 0;
  for (std::size_t i = 0; i < set.table.size(); ++i) {
    if (set.table[i] != kJoins) {
      if (count < CharSet::kMaxStops) {
        set.stops[count].fill(static_cast<char>(i));
      }
      ++count;
    }
  }
  for (std::size_t row = count; row < CharSet::kMaxStops; ++row) {
    set.stops[row] = set.stops[0];
  }
  set.stop_count = count <= CharSet::kMaxStops ? count : CharSet::kMaxStops + 1;
  return set;
}

// Only the listed bytes.
constexpr CharSet only(std::initializer_list<char> joining) {
  CharSet set{};  // too many stops to list
  for (const char c : joining) {
    set.table[static_cast<unsigned char>(c)] = c == '\n' ? kJoinsLine : kJoins;
  }
  return set;
}

static_assert(all_but({'<'}).has_stop_list() && all_but({'<'}).stop_count == 3);
static_assert(!all_but({' ', '/', '>'}).has_stop_list());
static_assert(!CharSet{}.has_stop_list() && !only({' '}).has_stop_list());
static_assert(only({' ', '\n'})[' '] == kJoins && only({' ', '\n'})['\n'] == kJoinsLine && only({' '})['x'] == 0);

static_assert(to_upper('a') == 'A' && to_upper('Z') == 'Z' && to_upper('\xe9') == '\xe9');
static_assert(is_space('\v') && !is_space('\0') && !is_space('\xa0'));

}  // namespace cclass

#endif
