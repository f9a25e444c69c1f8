// Markup scanner.
//
// Conventions: one handler per state, each taking the character just read
// (EOF for end of input; NUL bytes never reach a handler) and returning 0 to
// go on or the nonzero status that stops the scan. A handler acts (append,
// hand over, mark), sets the next state and returns the status of its last
// call. WS is tab, line feed and space only. "mark" makes the line of the
// current character the start line of the next piece (at a '<', its column
// too); "raw flush" writes '<'
// and the pending characters past every hook; "tag" discards the pending
// piece after the hook whatever it returned.
//
//  state            | input             | action                          | next
//  0 text           | EOF               | text                            | end
//                   | '<', no script    | text, mark                      | 1
//                   | '<', in script    | hold the '<' back               | 9
//                   | other             | append                          | 0
//  1 less           | '!'               | append                          | 4
//                   | WS                | append                          | 1
//                   | '>'               | tag                             | 0
//                   | EOF               | raw flush                       | end
//                   | other             | append                          | 2
//  2 tag            | '"'               | append                          | 3
//                   | '>'               | tag                             | 0
//                   | EOF               | raw flush                       | end
//                   | other             | append                          | 2
//  3 quote          | '"'               | append                          | 2
//                   | EOF               | raw flush                       | end
//                   | other             | append                          | 3
//  4 bang           | '-'               | append                          | 5
//                   | WS                | append                          | 4
//                   | '>'               | comment, mark                   | 0
//                   | EOF               | raw flush                       | end
//                   | other             | append                          | 8
//  5 dash_1         | '-'               | append                          | 6
//                   | '>'               | comment, mark                   | 0
//                   | EOF               | raw flush                       | end
//                   | other             | append                          | 8
//  6 dash_2         | '-'               | append                          | 7
//                   | EOF               | raw flush                       | end
//                   | other             | append                          | 6
//  7 dash_3         | '-'               | append                          | 4
//                   | EOF               | raw flush                       | end
//                   | other             | append                          | 6
//  8 error          | '>'               | comment, mark                   | 0
//                   | EOF               | raw flush                       | end
//                   | other             | append                          | 8
//  9 script_less    | '!'               | text, mark, append '!'          | 4
//                   | '/'               | text, mark, append '/'          | 2
//                   | EOF               | text, mark, write '<'           | end
//                   | other             | append '<', append              | 0
#include "scanner/scrub.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "estr/estr.h"
#include "scanner/cclass.h"
#include "scanner/iobuf.h"
#include "scanner/joins.h"
#include "scanner/safescan.h"

namespace {

// ---- pending piece and hooks ----

constexpr std::size_t kBuffSize = 128;
constexpr unsigned kBuffSpill = kBuffSize - 1;  // characters held before a spill

std::array<char, kBuffSize> buff{};
unsigned len = 0;
Estr* estr = nullptr;
bool spilled = false;  // estr holds the beginning of the pending piece
std::FILE* pOut = nullptr;

// ---- input window ----
//
// The block of input being scanned (see iobuf.h): a run of characters that
// only join the pending piece is found many bytes at a time and copied at
// once.

const char* next_byte = nullptr;  // the first byte of the window not yet handled
const char* window_end = nullptr;

Scrubber text_scrubber = default_text_scrubber;
Scrubber tag_scrubber = default_tag_scrubber;
Scrubber comment_scrubber = default_tag_scrubber;

// ---- scanner state ----

enum State : int {
  kText,
  kLess,
  kTag,
  kQuote,
  kBang,
  kDash1,
  kDash2,
  kDash3,
  kError,
  kScriptLess,
  kStateCount
};

int state = kText;
int in_script = 0;
bool safe_scan = false;
bool join_runs = true;  // the states' tables spare handler calls (tests turn it off)
const char* handed_piece = nullptr;  // the piece a hook is running on, if any
std::size_t handed_length = 0;       // and its length
bool handed_markup = false;          // and whether it is a tag or a comment
// Lines are counted in 64 bits: a stream of line feeds passes 2^32 in a
// few seconds, and a count that wrapped would report its lines as 0, 1, ...
// with 0 read as "none" or "the end of the input". The hooks take them as
// unsigned long, which holds as much on the platforms tessel is built for.
runs::LinePlace place;  // the line of the character being handled
std::uint64_t start_line = 1;
std::uint64_t dropped_at_end_line = 0;  // see drop_piece_at_end
// Places, for findings: the byte being handled (null at the end of the
// input), and the '<' that began the pending tag or comment with the start
// of its line, as addresses in the window's coordinates that move with it
// as place.start does. Only a '<' sets them: the place of a text run is
// never asked for, and the mark after each '>' then costs nothing more.
const char* handled_byte = nullptr;
std::uintptr_t markup_start = 0;
std::uintptr_t markup_line_start = 0;
PiecePlace dropped_at_end_place{};
static_assert(sizeof(unsigned long) >= sizeof(std::uint64_t), "the hooks take 64-bit line numbers");

bool is_ws(int c) { return cclass::is_classic_space(c); }

// The line of the character being handled starts the next piece.
void mark() { start_line = place.line; }

// The character being handled, or held_back bytes before it, is the '<'
// that begins a tag or comment.
void mark_markup(std::size_t held_back) {
  start_line = place.line;
  markup_start = reinterpret_cast<std::uintptr_t>(handled_byte) - held_back;
  markup_line_start = place.start;
}

// The place of the pending tag or comment as far as its start.
PiecePlace markup_start_place() {
  PiecePlace at{};
  at.column = markup_start - markup_line_start + 1;
  return at;
}

// Skips white space as isspace defines it.
const char* skip_space(const char* p) {
  while (*p != '\0' && cclass::is_space(*p)) {
    ++p;
  }
  return p;
}

// Sets or clears script mode when the tag is a script start or end tag.
void check_script(const char* tag) {
  const char first = cclass::to_upper(*tag);
  if (first != 'S' && first != '/' && !cclass::is_space(first)) {
    return;  // most tags: no script tag begins so
  }
  const char* p = skip_space(tag);
  const bool end_tag = *p == '/';
  if (end_tag) {
    p = skip_space(p + 1);
  }
  for (const char letter : {'S', 'C', 'R', 'I', 'P', 'T'}) {
    if (cclass::to_upper(*p) != letter) {
      return;
    }
    ++p;
  }
  if (*p != '\0' && *p != '>' && !cclass::is_space(*p)) {
    return;
  }
  in_script = end_tag ? 0 : 1;
}

// Empties estr after a piece that spilled into it. With no estr at all the
// clear is still made, so that the missing string is reported.
void clear_spill() {
  if (spilled || estr == nullptr) {
    estr_clear(estr);
    spilled = false;
  }
}

// Appends a run of count characters to the pending piece. Most runs are a
// few bytes long: when 16 bytes can be read from the run's start and fit in
// buff, those 16 are copied whatever count is (a copy of fixed size needs
// no call and no branch on the size), and only count of them are kept.
int append_run(const char* run, unsigned count, const char* readable_end) {
  constexpr unsigned kChunk = 16;
  if (count <= kChunk && len + kChunk <= kBuffSpill && readable_end - run >= kChunk) {
    std::memcpy(buff.data() + len, run, kChunk);
    len += count;
    return 0;
  }
  if (len + count > kBuffSpill) {
    if (finish_buffer() != 0) {
      std::fputs("Unable to allocate HTML buffer\n", stderr);
      return 1;
    }
    if (count > kBuffSpill) {
      if (estr_append_mem(estr, run, count) != 0) {
        std::fputs("Unable to expand HTML buffer\nUnable to allocate HTML buffer\n", stderr);
        return 1;
      }
      spilled = true;
      return 0;
    }
  }
  std::memcpy(buff.data() + len, run, count);
  len += count;
  return 0;
}

// The pending piece as a NUL-terminated string, or null after a message when
// it cannot be gathered. A piece that never spilled is terminated in buff
// itself (buff holds at most 127 characters, so the NUL fits): the common
// short piece then costs no copy into estr.
const char* gather_piece() {
  if (!spilled && estr != nullptr) {
    buff[len] = '\0';
    handed_length = len;
    len = 0;
    return buff.data();
  }
  if (finish_buffer() != 0) {
    return nullptr;
  }
  const char* piece = estr_c_str(estr);
  handed_length = estr_size(estr);
  return piece != nullptr ? piece : "";
}

// Nothing is pending (between two tags, say): the hook is not called, and
// the call that would find that out is spared.
bool nothing_pending() { return len == 0 && !spilled && estr != nullptr; }

// Hands the pending piece to hook; check_script runs first for tags.
// Inlined into each caller, so that each has a call of its own to its hook:
// one indirect call shared by text, tags and comments, which alternate,
// would be mispredicted at nearly every piece.
[[gnu::always_inline]] inline int process(Scrubber hook, bool is_tag, bool is_markup) {
  const char* piece = gather_piece();
  if (piece == nullptr) {
    return 1;
  }
  int result = 0;
  if (piece[0] != '\0') {
    if (is_tag) {
      if (safe_scan) {
        safescan::note_tag(piece);
      } else {
        check_script(piece);
      }
    }
    handed_piece = piece;
    handed_markup = is_markup;
    result = hook(piece, pOut, start_line);
    handed_piece = nullptr;
  }
  clear_spill();
  return result;
}

int raw_flush() {
  (void)put_bytes("<", 1, pOut);
  return write_buffer();
}

int finish_tag() {
  const int result = process_tag();
  discard_piece();
  mark();
  return result;
}

int finish_comment() {
  const int result = process_comment();
  mark();
  return result;
}

int append_to(int c, State next) {
  state = next;
  return append_c(c);
}

// ---- handlers, one per state ----

int do_text(int c) {
  if (c == EOF) {
    return process_text();
  }
  if (c != '<') {
    return append_c(c);
  }
  if (in_script != 0) {
    state = kScriptLess;
    return 0;
  }
  const int result = process_text();
  mark_markup(0);
  state = kLess;
  return result;
}

int do_less(int c) {
  switch (c) {
    case '!': return append_to(c, kBang);
    case '>': state = kText; return finish_tag();
    case EOF: return raw_flush();
    default: return append_to(c, is_ws(c) ? kLess : kTag);
  }
}

int do_tag(int c) {
  switch (c) {
    case '"': return append_to(c, kQuote);
    case '>': state = kText; return finish_tag();
    case EOF: return raw_flush();
    default: return append_c(c);
  }
}

int do_quote(int c) {
  switch (c) {
    case '"': return append_to(c, kTag);
    case EOF: return raw_flush();
    default: return append_c(c);
  }
}

int do_bang(int c) {
  switch (c) {
    case '-': return append_to(c, kDash1);
    case '>': state = kText; return finish_comment();
    case EOF: return raw_flush();
    default: return append_to(c, is_ws(c) ? kBang : kError);
  }
}

int do_dash_1(int c) {
  switch (c) {
    case '-': return append_to(c, kDash2);
    case '>': state = kText; return finish_comment();
    case EOF: return raw_flush();
    default: return append_to(c, kError);
  }
}

int do_dash_2(int c) {
  switch (c) {
    case '-': return append_to(c, kDash3);
    case EOF: return raw_flush();
    default: return append_c(c);
  }
}

int do_dash_3(int c) {
  switch (c) {
    case '-': return append_to(c, kBang);
    case EOF: return raw_flush();
    default: return append_to(c, kDash2);
  }
}

int do_error(int c) {
  switch (c) {
    case '>': state = kText; return finish_comment();
    case EOF: return raw_flush();
    default: return append_c(c);
  }
}

// A '<' inside a script body was held back; the character after it decides.
int do_script_less(int c) {
  if (c == '!' || c == '/' || c == EOF) {
    int result = process_text();
    if (c == EOF) {
      mark();
      (void)put_bytes("<", 1, pOut);
      return result;
    }
    mark_markup(1);  // the '<' held back
    state = c == '!' ? kBang : kTag;
    return result == 0 ? append_c(c) : result;
  }
  state = kText;
  (void)append_c('<');
  return append_c(c);
}

// For each state, the characters whose only effect is to be appended, with
// the state unchanged or moved on (NUL never: it is discarded before any
// handler). The main loop handles them without a call; every other
// character goes to the state's handler, so the table is an optimisation of
// the handlers' own "append" rows and must agree with them.
using runs::all_but;
using runs::CharSet;
using runs::only;

// Not constexpr: a call reached while kJoinsPiece is built stops the build.
void state_left_out_of_kjoinspiece() {}

// Built by name. Only the held-back '<' joins nothing, so a state that
// joins nothing was left out, and the build stops. The check runs here
// rather than in a static_assert over kJoinsPiece: reading the finished
// table in a constant expression made g++ lay out the scan loop's registers
// differently, at 1 % more instructions on tag-heavy input.
constexpr std::array<CharSet, kStateCount> make_joins_piece() {
  std::array<CharSet, kStateCount> joins{};
  joins[kText] = all_but({'<'});
  joins[kLess] = only({'\t', '\n', ' '}).moving({'!'}, kBang).moving_all_but({'>'}, kTag);
  joins[kTag] = all_but({'"', '>'}).moving({'"'}, kQuote);
  joins[kQuote] = all_but({'"'}).moving({'"'}, kTag);
  joins[kBang] = only({'\t', '\n', ' '}).moving({'-'}, kDash1).moving_all_but({'>'}, kError);
  joins[kDash1] = CharSet{}.moving({'-'}, kDash2).moving_all_but({'>'}, kError);
  joins[kDash2] = all_but({'-'}).moving({'-'}, kDash3);
  joins[kDash3] = CharSet{}.moving({'-'}, kBang).moving_all_but({}, kDash2);
  joins[kError] = all_but({'>'});
  joins[kScriptLess] = CharSet{};  // the character after a held-back '<' always decides
  for (std::size_t s = 0; s < joins.size(); ++s) {
    bool joins_nothing = true;
    for (std::size_t c = 0; c < 256; ++c) {
      joins_nothing = joins_nothing && joins[s].table[c] == 0 && joins[s].moves[c] == runs::kHandled;
    }
    if (joins_nothing != (s == kScriptLess)) {
      state_left_out_of_kjoinspiece();
    }
  }
  return joins;
}

constexpr std::array<CharSet, kStateCount> kJoinsPiece = make_joins_piece();

using Handler = int (*)(int c);

// Built by name, so that a state left out is an empty entry, which the
// check below refuses (an initialiser list one short would still compile).
constexpr std::array<Handler, kStateCount> make_func_array() {
  std::array<Handler, kStateCount> t{};
  t[kText] = do_text;
  t[kLess] = do_less;
  t[kTag] = do_tag;
  t[kQuote] = do_quote;
  t[kBang] = do_bang;
  t[kDash1] = do_dash_1;
  t[kDash2] = do_dash_2;
  t[kDash3] = do_dash_3;
  t[kError] = do_error;
  t[kScriptLess] = do_script_less;
  return t;
}

constexpr std::array<Handler, kStateCount> func_array = make_func_array();
static_assert(std::none_of(func_array.begin(), func_array.end(), [](Handler h) { return h == nullptr; }),
              "every scanner state has a handler");

}  // namespace

// ---- hook installers and default hooks ----

Scrubber install_text_scrubber(Scrubber hook) {
  const Scrubber previous = text_scrubber;
  text_scrubber = hook != nullptr ? hook : default_text_scrubber;
  return previous;
}

Scrubber install_tag_scrubber(Scrubber hook) {
  const Scrubber previous = tag_scrubber;
  tag_scrubber = hook != nullptr ? hook : default_tag_scrubber;
  return previous;
}

Scrubber install_comment_scrubber(Scrubber hook) {
  const Scrubber previous = comment_scrubber;
  comment_scrubber = hook != nullptr ? hook : default_tag_scrubber;
  return previous;
}

int default_text_scrubber(const char* piece, std::FILE* out, unsigned long /*line*/) {
  if (piece == nullptr || out == nullptr) {
    return 0;
  }
  if (put_piece(piece, out) == EOF) {
    std::perror("Unable to write HTML");
    return 1;
  }
  return 0;
}

int put_character(int c) {
  const char byte = static_cast<char>(c);
  if (put_bytes(&byte, 1, pOut) == EOF) {
    std::perror("Unable to write to HTML file");
    return 1;
  }
  return 0;
}

int default_tag_scrubber(const char* piece, std::FILE* out, unsigned long line) {
  if (piece == nullptr || out == nullptr) {
    return 0;
  }
  if (put_character('<') != 0 || default_text_scrubber(piece, out, line) != 0 || put_character('>') != 0) {
    return 1;
  }
  return 0;
}

// ---- pending piece ----

int append_c(int c) {
  if (len >= kBuffSpill) {
    if (finish_buffer() != 0) {
      std::fputs("Unable to allocate HTML buffer\n", stderr);
      return 1;
    }
  }
  buff[len++] = static_cast<char>(c);
  return 0;
}

int finish_buffer() {
  if (len == 0) {
    return 0;
  }
  if (estr_append_mem(estr, buff.data(), len) != 0) {
    std::fputs("Unable to expand HTML buffer\n", stderr);
    return 1;
  }
  len = 0;
  spilled = true;
  return 0;
}

int write_buffer() {
  if (finish_buffer() != 0) {
    return 1;
  }
  const char* pending = estr_c_str(estr);
  if (pending != nullptr && pending[0] != '\0') {
    (void)put_bytes(pending, std::strlen(pending), pOut);
  }
  clear_spill();
  return 0;
}

bool install_safe_scan(bool on) {
  const bool previous = safe_scan;
  safe_scan = on;
  return previous;
}

bool install_join_runs(bool on) {
  const bool previous = join_runs;
  join_runs = on;
  return previous;
}

void mark_piece_start() { mark(); }

void mark_markup_start(std::size_t held_back) { mark_markup(held_back); }

std::size_t piece_length(const char* piece) {
  return piece == handed_piece && piece != nullptr ? handed_length : std::strlen(piece);
}

bool raw_text_follows() { return safe_scan && safescan::raw_text_follows(); }

bool tag_opened_frame() { return safe_scan && safescan::tag_opened_frame(); }

std::size_t frame_depth() { return safe_scan ? safescan::frame_depth() : 0; }

bool tag_closed_at_once() { return safe_scan && safescan::tag_closed_at_once(); }

bool reading_raw_text() { return safe_scan && safescan::raw_text_element() != nullptr; }

const char* raw_text_left_open() { return safe_scan ? safescan::raw_text_element() : nullptr; }

bool script_double_escaped() { return safe_scan && safescan::in_double_escaped_script(); }

void discard_piece() {
  len = 0;
  clear_spill();
}

void drop_piece_at_end() {
  dropped_at_end_line = start_line;
  dropped_at_end_place = markup_start_place();
  discard_piece();
}

unsigned long unterminated_piece_dropped() { return dropped_at_end_line; }

PiecePlace unterminated_piece_place() { return dropped_at_end_line != 0 ? dropped_at_end_place : PiecePlace{}; }

PiecePlace handed_piece_place() {
  if (handed_piece == nullptr || !handed_markup || handled_byte == nullptr) {
    return PiecePlace{};
  }
  // The hook runs at the '>' that ends the piece: the byte being handled.
  PiecePlace at = markup_start_place();
  at.end_line = place.line;
  at.end_column = place.offset_of(handled_byte) + 1;
  return at;
}

int process_text() { return nothing_pending() ? 0 : process(text_scrubber, false, false); }
int process_tag() { return nothing_pending() ? 0 : process(tag_scrubber, true, true); }
int process_comment() { return nothing_pending() ? 0 : process(comment_scrubber, false, true); }
int process_end() { return text_scrubber("", pOut, place.line); }

// ---- main loop ----

namespace {

// Opens the next window on the input; false at its end. The addresses of
// places before it move with the window (see runs::LinePlace): by as much
// as the new window's first byte lies from the byte after the old one,
// which in the input follow each other.
bool next_window() {
  const char* const old_end = window_end;
  if (!input_next_block(&next_byte, &window_end)) {
    next_byte = window_end = nullptr;
    return false;
  }
  const std::uintptr_t moved = reinterpret_cast<std::uintptr_t>(next_byte) - reinterpret_cast<std::uintptr_t>(old_end);
  place.start += moved;
  markup_start += moved;
  markup_line_start += moved;
  return true;
}

int handle(bool safe, int c) { return safe ? safescan::step(c) : func_array[state](c); }

// Runs the markup machine over the input, the end of input included. The
// place in the window is kept in locals (no handler needs it) and stored
// back in next_byte when the scan ends.
template <bool kJoinRuns>
int scan_input() {
  const bool safe = safe_scan;
  const char* next = next_byte;
  const char* end = window_end;
  for (;;) {
    if (next == end) {
      if (!next_window()) {
        break;
      }
      next = next_byte;
      end = window_end;
    }
    // The common case: characters that only join the pending piece, up to
    // the first one the state's handler must see (never NUL, which no set
    // holds). Line feeds among them are counted on the way.
    const char* p = next;
    if constexpr (kJoinRuns) {
      p = safe ? safescan::join_run(next, end, place) : runs::join_run(kJoinsPiece, state, next, end, place);
    }
    if (p != next) {
      const char* const run = next;
      next = p;
      if (append_run(run, static_cast<unsigned>(p - run), end + kInputSlack) != 0) {
        next_byte = next;
        return 1;
      }
      if (p == end) {
        continue;
      }
    }
    const int c = static_cast<unsigned char>(*next++);
    if (c == '\0') {
      continue;  // NUL bytes are dropped from the input
    }
    handled_byte = next - 1;
    const int result = handle(safe, c);
    if (c == '\n') {
      place.end_line_at(next - 1);
    }
    if (result != 0) {
      next_byte = next;
      return result;
    }
  }
  handled_byte = nullptr;
  return handle(safe, EOF);
}

}  // namespace

int scrub_html(std::FILE* in, std::FILE* out) {
  pOut = out;
  // A scan left by an exception (a hook out of memory) kept its string.
  estr_destruct(&estr);
  estr = estr_construct();
  start_line = 1;
  place = runs::LinePlace{};
  handled_byte = nullptr;
  markup_start = markup_line_start = 0;
  dropped_at_end_line = 0;
  dropped_at_end_place = PiecePlace{};
  state = kText;
  in_script = 0;
  safescan::reset();
  len = 0;
  spilled = false;
  next_byte = window_end = nullptr;
  input_open(in);
  output_open(out);
  // Without join runs (for tests) the loop is built apart, so that the
  // choice costs the common loop nothing.
  int result = join_runs ? scan_input<true>() : scan_input<false>();
  input_close(next_byte);
  next_byte = window_end = nullptr;
  if (output_close() != 0 && result == 0) {
    errno = output_error();
    std::perror("Unable to write HTML");
    result = 1;
  }
  estr_destruct(&estr);
  pOut = nullptr;
  if (input_error() != 0) {
    errno = input_error();  // as the failed read left it, whatever came after
  }
  return result;
}
