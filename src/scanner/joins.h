// Runs of input that only join the pending piece, for both markup machines.
//
// Most bytes of a document do nothing in their state but join the piece
// being gathered: text, the letters of a name, a value. Many others join it
// and only move the machine to another state: the white space after a tag's
// name, the quotes around a value. Each state says which bytes do either in
// a CharSet, an optimisation of its handler's own "append" rows that must
// agree with them; the scanner moves over such bytes without calling the
// handler and copies the run at once.
#ifndef TESSEL_JOINS_H
#define TESSEL_JOINS_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace runs {

// Where the scan is among the lines of its input: the number of the line
// being read (from 1) and where that line began, as an address in the
// coordinates of the current window of input. A line that began in an
// earlier window has its start before the window's first byte: the scanner
// moves start along with each new window (see scrub.cpp), so that the
// distance from start to a byte of the window is the byte's offset in its
// line however many windows the line spans. Kept as an integer, since it
// may point outside every buffer.
struct LinePlace {
  std::uint64_t line = 1;
  std::uintptr_t start = 0;

  // count line feeds were read, the last of them at last_feed.
  void end_lines_at(std::uint64_t count, const char* last_feed) {
    line += count;
    start = reinterpret_cast<std::uintptr_t>(last_feed) + 1;
  }
  // The line feed at p ends the current line.
  void end_line_at(const char* p) { end_lines_at(1, p); }
  // The 0-based offset in its line of the byte at p, of the current line.
  [[nodiscard]] std::uint64_t offset_of(const char* p) const { return reinterpret_cast<std::uintptr_t>(p) - start; }
};

inline constexpr unsigned char kJoins = 1;      // joins, the state stays
inline constexpr unsigned char kJoinsLine = 2;  // a line feed that joins, the state stays

// For the bytes that do not stay: the handler must see them, or they join
// and move the machine to a state (with kCountsLine for a line feed).
inline constexpr unsigned char kHandled = 0xFF;
inline constexpr unsigned char kCountsLine = 0x80;
inline constexpr unsigned char kStateBits = 0x7F;

constexpr std::array<unsigned char, 256> all_handled() {
  std::array<unsigned char, 256> moves{};
  moves.fill(kHandled);
  return moves;
}

// What each byte does in one state. NUL is always handled (the scanner drops
// it before any handler). When few bytes are anything but kJoins (NUL and
// the line feed always are), they are also listed, so that a run that stays
// in the state can be looked for many bytes at a time.
struct CharSet {
  static constexpr std::size_t kMaxStops = 4;

  // kJoins, kJoinsLine, or 0 for a byte that does not stay.
  std::array<unsigned char, 256> table{};
  // For a byte that does not stay: kHandled, or the state it moves to.
  std::array<unsigned char, 256> moves = all_handled();
  // Each listed byte sixteen times over, ready to be compared with sixteen
  // bytes of input; unused rows repeat the first.
  alignas(16) std::array<std::array<char, 16>, kMaxStops> stops{};
  std::size_t stop_count = kMaxStops + 1;  // more than kMaxStops: not listed

  constexpr unsigned char operator[](unsigned char c) const { return table[c]; }
  constexpr bool has_stop_list() const { return stop_count <= kMaxStops; }

  // The listed bytes join and move the machine to state.
  constexpr CharSet moving(std::initializer_list<char> bytes, int state) const {
    CharSet set = *this;
    for (const char c : bytes) {
      set.move(static_cast<unsigned char>(c), state);
    }
    set.list_stops();
    return set;
  }

  // Every byte that neither stays nor moves yet, but NUL and the excluded
  // ones, joins and moves the machine to state.
  constexpr CharSet moving_all_but(std::initializer_list<char> excluded, int state) const {
    CharSet set = *this;
    for (std::size_t i = 1; i < set.table.size(); ++i) {
      bool is_excluded = false;
      for (const char c : excluded) {
        is_excluded = is_excluded || static_cast<unsigned char>(c) == i;
      }
      if (set.table[i] == 0 && set.moves[i] == kHandled && !is_excluded) {
        set.move(static_cast<unsigned char>(i), state);
      }
    }
    set.list_stops();
    return set;
  }

  // The listed bytes neither stay nor move: the handler sees them.
  constexpr CharSet handling(std::initializer_list<char> bytes) const {
    CharSet set = *this;
    for (const char c : bytes) {
      set.table[static_cast<unsigned char>(c)] = 0;
      set.moves[static_cast<unsigned char>(c)] = kHandled;
    }
    set.list_stops();
    return set;
  }

  constexpr void stay(unsigned char c) { table[c] = c == '\n' ? kJoinsLine : kJoins; }

  constexpr void move(unsigned char c, int state) {
    table[c] = 0;
    moves[c] = static_cast<unsigned char>(state | (c == '\n' ? kCountsLine : 0));
  }

  constexpr void list_stops() {
    std::size_t count = 0;
    for (std::size_t i = 0; i < table.size(); ++i) {
      if (table[i] != kJoins) {
        if (count < kMaxStops) {
          stops[count].fill(static_cast<char>(i));
        }
        ++count;
      }
    }
    for (std::size_t row = count; row < kMaxStops; ++row) {
      stops[row] = stops[0];
    }
    stop_count = count <= kMaxStops ? count : kMaxStops + 1;
  }
};

// Every byte but NUL and the excluded ones stays in the state.
constexpr CharSet all_but(std::initializer_list<char> excluded) {
  CharSet set{};
  for (std::size_t i = 1; i < set.table.size(); ++i) {
    set.stay(static_cast<unsigned char>(i));
  }
  for (const char c : excluded) {
    set.table[static_cast<unsigned char>(c)] = 0;
  }
  set.list_stops();
  return set;
}

// Only the listed bytes stay in the state.
constexpr CharSet only(std::initializer_list<char> joining) {
  CharSet set{};
  for (const char c : joining) {
    set.stay(static_cast<unsigned char>(c));
  }
  set.list_stops();
  return set;
}

static_assert(all_but({'<'}).has_stop_list() && all_but({'<'}).stop_count == 3);
static_assert(!all_but({' ', '/', '>'}).has_stop_list());
static_assert(!CharSet{}.has_stop_list() && !only({' '}).has_stop_list());
static_assert(only({' ', '\n'})[' '] == kJoins && only({' ', '\n'})['\n'] == kJoinsLine && only({' '})['x'] == 0);
static_assert(all_but({'"'}).moving({'"'}, 5).moves['"'] == 5 && all_but({'"'}).moving({'"'}, 5).has_stop_list());
static_assert(CharSet{}.moving({'\n'}, 3).moves['\n'] == (3 | kCountsLine));
static_assert(only({' '}).moving_all_but({'>'}, 2).moves['a'] == 2 &&
              only({' '}).moving_all_but({'>'}, 2).moves['>'] == kHandled &&
              only({' '}).moving_all_but({'>'}, 2).moves[0] == kHandled &&
              only({' '}).moving_all_but({'>'}, 2)[' '] == kJoins);

// The first byte in [p, end) that does not stay in the state (a line feed
// among them), or end. This is where the scanner spends most of its time.
// Runs in tags are short: the first bytes are looked up in the table. Text
// runs and values are long: where the state lists its few stopping bytes,
// sixteen bytes at a time are compared with them.
inline const char* skip_joining(const char* p, const char* end, const CharSet& joins) {
  const auto joins_at = [&joins](const char* q) { return joins[static_cast<unsigned char>(*q)] == kJoins; };
  const auto skip_four = [&joins_at](const char* q) {
    if (!joins_at(q)) {
      return q;
    }
    if (!joins_at(q + 1)) {
      return q + 1;
    }
    if (!joins_at(q + 2)) {
      return q + 2;
    }
    return joins_at(q + 3) ? q + 4 : q + 3;
  };
  for (int step = 0; step < 2 && end - p >= 4; ++step) {
    const char* const stop = skip_four(p);
    if (stop != p + 4) {
      return stop;
    }
    p = stop;
  }
#ifdef __SSE2__
  if (joins.has_stop_list()) {
    static_assert(CharSet::kMaxStops == 4);
    const auto row = [&joins](std::size_t i) {
      return _mm_load_si128(reinterpret_cast<const __m128i*>(joins.stops[i].data()));
    };
    const __m128i stop0 = row(0);
    const __m128i stop1 = row(1);
    const __m128i stop2 = row(2);
    const __m128i stop3 = row(3);
    for (; end - p >= 16; p += 16) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      const __m128i hits = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, stop0), _mm_cmpeq_epi8(bytes, stop1)),
                                        _mm_or_si128(_mm_cmpeq_epi8(bytes, stop2), _mm_cmpeq_epi8(bytes, stop3)));
      const int mask = _mm_movemask_epi8(hits);
      if (mask != 0) {
        return p + __builtin_ctz(static_cast<unsigned>(mask));
      }
    }
  }
#endif
  while (end - p >= 4) {
    const char* const stop = skip_four(p);
    if (stop != p + 4) {
      return stop;
    }
    p = stop;
  }
  while (p != end && joins_at(p)) {
    ++p;
  }
  return p;
}

// Moves the machine, from state, over the bytes of [p, end) that only join
// the pending piece, whether they keep its state or move it; counts the
// line feeds among them, and notes where the last one ended its line, in
// place. Returns the first byte its handler must see, or
// end; state is then the state that byte is read in.
//
// Always inlined into its caller, the scan loop: most runs are a few bytes
// long, and left to itself the compiler keeps the safe machine's call out
// of line, which costs tag-dense input a call and a return at every piece.
template <std::size_t kStates>
[[gnu::always_inline]] inline const char* join_run(const std::array<CharSet, kStates>& sets, int& state,
                                                   const char* p, const char* end, LinePlace& place) {
  int current = state;
  while (p != end) {
    const CharSet& set = sets[static_cast<std::size_t>(current)];
    p = skip_joining(p, end, set);
    if (p == end) {
      break;
    }
    const auto c = static_cast<unsigned char>(*p);
    if (set.table[c] == kJoinsLine) {
      place.end_line_at(p);
      ++p;
      continue;
    }
    const unsigned char to = set.moves[c];
    if (to == kHandled) {
      break;
    }
    if ((to & kCountsLine) != 0) {
      place.end_line_at(p);
    }
    current = to & kStateBits;
    ++p;
  }
  state = current;
  return p;
}

}  // namespace runs

#endif
