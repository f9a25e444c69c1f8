// The safe-mode scanner's tables of bytes that only join the pending piece
// (see safejoin.h).
#include "scanner/safejoin.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "scanner/joins.h"
#include "scanner/safestates.h"

namespace safescan {
namespace {

// ---- characters that only join the piece, per state ----
//
// Each state's CharSet is an optimisation of its handler's "append" rows
// (those that append the character and at most move to another state) and
// must agree with them.

using runs::all_but;
using runs::CharSet;
using runs::only;

constexpr std::initializer_list<char> kWs = {'\t', '\n', '\f', '\r', ' '};

// After a value or a '/': white space and '/' separate, '>' ends the tag,
// anything else begins an attribute name.
constexpr CharSet kBetweenAttributes =
    CharSet{}.moving(kWs, kBeforeAttrName).moving({'/'}, kSelfClosing).moving_all_but({'>'}, kAttrName);

constexpr std::array<CharSet, kStateCount> make_joins() {
  std::array<CharSet, kStateCount> joins{};
  joins[kData] = all_but({'<'});
  joins[kTagName] = all_but({'\t', '\n', '\f', '\r', ' ', '/', '>'})
                        .moving(kWs, kBeforeAttrName)
                        .moving({'/'}, kSelfClosing);
  joins[kBeforeAttrName] = only(kWs).moving({'/'}, kSelfClosing).moving_all_but({'>'}, kAttrName);
  joins[kAttrName] = all_but({'\t', '\n', '\f', '\r', ' ', '/', '=', '>'})
                         .moving(kWs, kAfterAttrName)
                         .moving({'/'}, kSelfClosing)
                         .moving({'='}, kBeforeAttrValue);
  joins[kAfterAttrName] = only(kWs)
                              .moving({'/'}, kSelfClosing)
                              .moving({'='}, kBeforeAttrValue)
                              .moving_all_but({'>'}, kAttrName);
  joins[kBeforeAttrValue] =
      only(kWs).moving({'"'}, kValueDq).moving({'\''}, kValueSq).moving_all_but({'>'}, kValueUq);
  joins[kValueDq] = all_but({'"'}).moving({'"'}, kAfterValue);
  joins[kValueSq] = all_but({'\''}).moving({'\''}, kAfterValue);
  joins[kValueUq] = all_but({'\t', '\n', '\f', '\r', ' ', '>'}).moving(kWs, kBeforeAttrName);
  joins[kAfterValue] = kBetweenAttributes;
  joins[kSelfClosing] = kBetweenAttributes;
  joins[kMarkupDecl] = CharSet{}.moving({'-'}, kMdDash).moving_all_but({'[', '>'}, kBogusComment);
  joins[kMdDash] = CharSet{}.moving({'-'}, kCommentStart).moving_all_but({'>'}, kBogusComment);
  joins[kCommentStart] = CharSet{}.moving({'-'}, kCommentStartDash).moving_all_but({'>'}, kComment);
  joins[kCommentStartDash] = CharSet{}.moving({'-'}, kCommentEnd).moving_all_but({'>'}, kComment);
  joins[kComment] = all_but({'-'}).moving({'-'}, kCommentEndDash);
  joins[kCommentEndDash] = CharSet{}.moving({'-'}, kCommentEnd).moving_all_but({}, kComment);
  joins[kCommentEnd] = only({'-'}).moving({'!'}, kCommentEndBang).moving_all_but({'>'}, kComment);
  joins[kCommentEndBang] = CharSet{}.moving({'-'}, kCommentEndDash).moving_all_but({'>'}, kComment);
  joins[kBogusComment] = all_but({'>'});
  joins[kRaw] = all_but({'<'});
  joins[kPlaintext] = all_but({});
  joins[kScript] = all_but({'<'});
  joins[kScriptEsc] = all_but({'-', '<'});
  joins[kScriptDesc] = all_but({'-', '<'});
  joins[kCdata] = all_but({']'});
  for (CharSet& set : joins) {
    set = set.handling({static_cast<char>(kEsc)});
  }
  return joins;
}

constexpr std::array<CharSet, kStateCount> kJoins = make_joins();
static_assert(std::all_of(kJoins.begin(), kJoins.end(),
                          [](const CharSet& set) { return set[kEsc] == 0 && set.moves[kEsc] == runs::kHandled; }),
              "ESC reaches step in every state, which drops it");

// The states in which every byte goes to the handler.
constexpr std::array<bool, kStateCount> kJoinsNothing = [] {
  std::array<bool, kStateCount> nothing{};
  for (std::size_t s = 0; s < nothing.size(); ++s) {
    nothing[s] = std::all_of(kJoins[s].table.begin(), kJoins[s].table.end(), [](unsigned char j) { return j == 0; }) &&
                 std::all_of(kJoins[s].moves.begin(), kJoins[s].moves.end(),
                             [](unsigned char to) { return to == runs::kHandled; });
  }
  return nothing;
}();

// The states whose next byte always decides, one by one; every other state
// joins some bytes, so that one left out of make_joins is caught here.
constexpr bool joins_nothing_exactly_in(std::initializer_list<int> states) {
  for (int s = 0; s < kStateCount; ++s) {
    const bool listed = std::find(states.begin(), states.end(), s) != states.end();
    if (kJoinsNothing[static_cast<std::size_t>(s)] != listed) {
      return false;
    }
  }
  return true;
}
static_assert(joins_nothing_exactly_in({kTagOpen, kEndTagOpen, kRawLt, kRawEnd, kScriptLt, kScriptEscStart,
                                        kScriptEscStartDash, kScriptEscDash, kScriptEscDashDash, kScriptEscLt,
                                        kScriptDescStart, kScriptDescDash, kScriptDescDashDash, kScriptDescLt,
                                        kScriptDescEnd, kCdataOpen, kCdataBracket, kCdataBrackets}),
              "every state but these joins some bytes");

// ---- inside a tag ----
//
// Most markup bytes lie inside tags, where the state changes every few
// bytes (name, '=', quote, value, quote, white space). Following those
// changes with a branch each cost more than all else on attribute-heavy
// input, so the tag states are walked without one: a byte moves each tag
// state through one lookup in a table of packed transitions, derived at
// compile time from the CharSets above. Only '>', NUL and ESC may need a
// handler there; they are found sixteen bytes at a time, and the bytes
// before them move the state two at a time.
constexpr bool is_tag_state(int s) { return s >= kTagName && s <= kSelfClosing; }
constexpr int kTagStateCount = kSelfClosing - kTagName + 1;
static_assert(kTagStateCount == 10, "the tag states lie between kTagName and kSelfClosing");

constexpr std::uint8_t kStopsHere = 0xFF;  // the handler must see the byte

// What a byte does in a tag state, as its CharSet says: the state it stays
// in or moves to, or kStopsHere when the handler must see it.
constexpr std::uint8_t tag_move(int s, unsigned char c) {
  const CharSet& set = kJoins[static_cast<std::size_t>(s)];
  if (set.table[c] != 0) {
    return static_cast<std::uint8_t>(s);
  }
  const unsigned char to = set.moves[c];
  return to == runs::kHandled ? kStopsHere : static_cast<std::uint8_t>(to & runs::kStateBits);
}

// A tag state's field in a packed transition: six bits, holding the shift
// of the next state's field, so that moving on is a shift and a mask.
constexpr unsigned kFieldBits = 6;
static_assert(kTagStateCount * kFieldBits <= 64, "the fields of every tag state fit in 64 bits");

constexpr unsigned field_of(int s) { return static_cast<unsigned>(s - kTagName) * kFieldBits; }
constexpr int state_of(unsigned field) { return kTagName + static_cast<int>(field / kFieldBits); }

// For each byte, where it moves every tag state (a byte that stops in some
// state leaves that field 0: it is never looked up there).
constexpr std::array<std::uint64_t, 256> kPackedMoves = [] {
  std::array<std::uint64_t, 256> packed{};
  for (std::size_t c = 0; c < packed.size(); ++c) {
    for (int s = kTagName; s <= kSelfClosing; ++s) {
      const std::uint8_t to = tag_move(s, static_cast<unsigned char>(c));
      if (to != kStopsHere) {
        packed[c] |= std::uint64_t{field_of(to)} << field_of(s);
      }
    }
  }
  return packed;
}();

// Between candidate stops, the bytes of a tag fall in six classes that move
// every tag state alike.
constexpr unsigned kTagClassCount = 6;
constexpr std::array<std::uint8_t, 256> kTagClass = [] {
  std::array<std::uint8_t, 256> classes{};
  for (const char c : kWs) {
    classes[static_cast<unsigned char>(c)] = 1;
  }
  classes['/'] = 2;
  classes['='] = 3;
  classes['"'] = 4;
  classes['\''] = 5;
  return classes;
}();

// The packed transition of one byte and then another.
constexpr std::uint64_t compose(std::uint64_t first, std::uint64_t second) {
  std::uint64_t both = 0;
  for (unsigned s = 0; s < kTagStateCount; ++s) {
    const unsigned middle = static_cast<unsigned>(first >> (s * kFieldBits)) & 63u;
    const unsigned last = static_cast<unsigned>(second >> middle) & 63u;
    both |= std::uint64_t{last} << (s * kFieldBits);
  }
  return both;
}

// The transition of each class, as one of its bytes gives it.
constexpr std::array<std::uint64_t, kTagClassCount> kClassExample = [] {
  std::array<std::uint64_t, kTagClassCount> moves{};
  const char examples[] = {'a', ' ', '/', '=', '"', '\''};
  for (unsigned k = 0; k < kTagClassCount; ++k) {
    moves[k] = kPackedMoves[static_cast<unsigned char>(examples[k])];
  }
  return moves;
}();

// The transition of each pair of classes.
constexpr std::array<std::uint64_t, kTagClassCount * kTagClassCount> kPairMoves = [] {
  std::array<std::uint64_t, kTagClassCount * kTagClassCount> moves{};
  for (unsigned a = 0; a < kTagClassCount; ++a) {
    for (unsigned b = 0; b < kTagClassCount; ++b) {
      moves[a * kTagClassCount + b] = compose(kClassExample[a], kClassExample[b]);
    }
  }
  return moves;
}();

// Every byte but the stopping ones moves every tag state as its class does.
constexpr bool classes_agree() {
  for (int c = 0; c < 256; ++c) {
    if (c == '>' || c == 0 || c == kEsc) {
      continue;
    }
    if (kPackedMoves[static_cast<std::size_t>(c)] != kClassExample[kTagClass[static_cast<std::size_t>(c)]]) {
      return false;
    }
  }
  return true;
}
static_assert(classes_agree(), "the bytes of a class move every tag state alike");

// Only '>', NUL and ESC ever need a handler in a tag state, and no byte
// moves a tag state out of the tag states.
constexpr bool stops_only_at_candidates() {
  for (int s = kTagName; s <= kSelfClosing; ++s) {
    for (int c = 0; c < 256; ++c) {
      const std::uint8_t to = tag_move(s, static_cast<unsigned char>(c));
      if (to == kStopsHere && c != '>' && c != 0 && c != kEsc) {
        return false;
      }
      if (to != kStopsHere && !is_tag_state(to)) {
        return false;
      }
    }
  }
  return true;
}
static_assert(stops_only_at_candidates(), "in a tag, only '>', NUL and ESC may need a handler");
static_assert(tag_move(kValueDq, '>') == kValueDq && tag_move(kValueSq, '>') == kValueSq &&
              tag_move(kValueUq, '>') == kStopsHere && tag_move(kSelfClosing, '>') == kStopsHere);

// The bits set in a 16-bit mask, without assuming a popcount instruction.
constexpr std::uint32_t count_bits(unsigned mask) {
  mask -= (mask >> 1) & 0x5555u;
  mask = (mask & 0x3333u) + ((mask >> 2) & 0x3333u);
  mask = (mask + (mask >> 4)) & 0x0F0Fu;
  return (mask + (mask >> 8)) & 0x1Fu;
}
static_assert(count_bits(0) == 0 && count_bits(0xFFFF) == 16 && count_bits(0x8421) == 4);

// join_states for the tag states, which it never leaves.
const char* join_tag(int& state, const char* p, const char* const end, runs::LinePlace& place) {
  unsigned shift = field_of(state);
#ifdef __SSE2__
  const __m128i gt = _mm_set1_epi8('>');
  const __m128i nul = _mm_setzero_si128();
  const __m128i esc = _mm_set1_epi8(kEsc);
  const __m128i feed = _mm_set1_epi8('\n');
  while (end - p >= 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const auto stops = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(
        _mm_or_si128(_mm_cmpeq_epi8(bytes, gt), _mm_cmpeq_epi8(bytes, nul)), _mm_cmpeq_epi8(bytes, esc))));
    const auto feeds = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, feed)));
    const unsigned count = stops != 0 ? static_cast<unsigned>(__builtin_ctz(stops)) : 16;
    unsigned i = 0;
    for (; i + 2 <= count; i += 2) {
      const unsigned pair =
          kTagClass[static_cast<unsigned char>(p[i])] * kTagClassCount + kTagClass[static_cast<unsigned char>(p[i + 1])];
      shift = static_cast<unsigned>(kPairMoves[pair] >> shift) & 63u;
    }
    // The byte left over when count is odd, without a branch that would
    // follow the length of every tag (p[0] stands in when there is none).
    const unsigned single = static_cast<unsigned>(kPackedMoves[static_cast<unsigned char>(p[i & 15u])] >> shift) & 63u;
    shift = (count & 1u) != 0 ? single : shift;
    const unsigned feeds_joined = feeds & ((1u << count) - 1);
    if (feeds_joined != 0) {
      place.end_lines_at(count_bits(feeds_joined), p + 31 - __builtin_clz(feeds_joined));
    }
    p += count;
    if (count == 16) {
      continue;
    }
    // At '>', NUL or ESC: every tag state hands them to its handler but a
    // quoted value, which joins '>'.
    const int s = state_of(shift);
    if (*p != '>' || (s != kValueDq && s != kValueSq)) {
      state = s;
      return p;
    }
    ++p;
  }
#endif
  int s = state_of(shift);
  for (; p != end; ++p) {
    const std::uint8_t to = tag_move(s, static_cast<unsigned char>(*p));
    if (to == kStopsHere) {
      break;
    }
    if (*p == '\n') {
      place.end_line_at(p);
    }
    s = to;
  }
  state = s;
  return p;
}

}  // namespace

const char* join_states(int& state, const char* p, const char* end, runs::LinePlace& place) {
  if (is_tag_state(state)) {
    return join_tag(state, p, end, place);
  }
  if (kJoinsNothing[static_cast<std::size_t>(state)]) {
    return p;  // after "<" or "</": the next byte decides
  }
  return runs::join_run(kJoins, state, p, end, place);
}

}  // namespace safescan
