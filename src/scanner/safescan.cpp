// Safe-mode markup machine.
//
// It finds the boundaries of text runs, tags and comments as the HTML5
// tokenizer does (only the boundaries; tokens are not built), so that the
// policy judges exactly the markup a browser will see. Pieces reach the
// hooks in the classic form: a tag is the text between '<' and '>', a
// comment the text after '<' up to its '>' (beginning with '!', '?' or '/').
//
// Conventions: WS is tab, line feed, form feed, carriage return and space.
// "hold" keeps characters back while it is open whether they begin markup
// ("<", "</", "</scr" in raw text); "release" appends them to the text after
// all. "emit" hands the piece to its hook; "mark" makes the current line the
// start of the next piece. Characters are appended unless a row says
// otherwise. Unterminated tags at the end of the input are dropped, as
// browsers drop them, and so are unterminated comments; nothing is ever
// written past the hooks. After the end of the input the text hook gets the
// empty piece that tells the policy the input has ended (process_end).
//
//  state              | input                    | action                     | next
//  data               | '<'                      | hold                       | tag_open
//                     | other                    |                            | data
//  tag_open           | letter                   | text, mark                 | tag_name
//                     | '/'                      | hold                       | end_tag_open
//                     | '!'                      | text, mark                 | markup_decl
//                     | '?'                      | text, mark                 | bogus_comment
//                     | other, EOF               | release; again in data     | data
//  end_tag_open       | letter                   | text, mark, append "/"     | tag_name
//                     | '>'                      | drop "</>", text, mark     | data
//                     | EOF                      | release, text              | end
//                     | other                    | text, mark, append "/"     | bogus_comment
//  tag_name           | WS                       |                            | before_attr_name
//                     | '/'                      |                            | self_closing
//                     | '>'                      | emit tag, mark             | data or raw
//                     | other                    |                            | tag_name
//  before_attr_name   | WS                       |                            | before_attr_name
//                     | '/'                      |                            | self_closing
//                     | '>'                      | emit tag, mark             | data or raw
//                     | other ('=' too)          |                            | attr_name
//  attr_name          | WS                       |                            | after_attr_name
//                     | '/'                      |                            | self_closing
//                     | '='                      |                            | before_attr_value
//                     | '>'                      | emit tag, mark             | data or raw
//                     | other                    |                            | attr_name
//  after_attr_name    | WS                       |                            | after_attr_name
//                     | '/', '=', '>'            | as attr_name               |
//                     | other                    |                            | attr_name
//  before_attr_value  | WS                       |                            | before_attr_value
//                     | '"' / '\''               |                            | value_dq / value_sq
//                     | '>'                      | emit tag, mark             | data or raw
//                     | other ('/' too)          |                            | value_uq
//  value_dq / _sq     | its quote                |                            | after_value
//                     | other ('>' too)          |                            | value_dq / _sq
//  value_uq           | WS                       |                            | before_attr_name
//                     | '>'                      | emit tag, mark             | data or raw
//                     | other ('/' too)          |                            | value_uq
//  after_value        | WS                       |                            | before_attr_name
//                     | '/'                      |                            | self_closing
//                     | '>'                      | emit tag, mark             | data or raw
//                     | other                    |                            | attr_name
//  self_closing       | '>'                      | emit tag (self-closing)    | data or raw
//                     | WS / '/' / other         |                            | before_attr / self / attr_name
//  (any tag state)    | EOF                      | drop the tag               | end
//  markup_decl        | '[' in foreign content   |                            | cdata_open
//                     | '-'                      |                            | md_dash
//                     | '>'                      | emit comment, mark         | data
//                     | other                    |                            | bogus_comment
//  md_dash            | '-'                      |                            | comment_start
//                     | '>'                      | emit comment, mark         | data
//                     | other                    |                            | bogus_comment
//  comment_start      | '-'                      |                            | comment_start_dash
//                     | '>'                      | emit comment, mark         | data
//                     | other                    |                            | comment
//  comment_start_dash | '-'                      |                            | comment_end
//                     | '>'                      | emit comment, mark         | data
//                     | other                    |                            | comment
//  comment            | '-'                      |                            | comment_end_dash
//                     | other ('>' too)          |                            | comment
//  comment_end_dash   | '-'                      |                            | comment_end
//                     | other ('>' too)          |                            | comment
//  comment_end        | '>'                      | emit comment, mark         | data
//                     | '!'                      |                            | comment_end_bang
//                     | '-'                      |                            | comment_end
//                     | other                    |                            | comment
//  comment_end_bang   | '-'                      |                            | comment_end_dash
//                     | '>'                      | emit comment, mark         | data
//                     | other                    |                            | comment
//  bogus_comment      | '>'                      | emit comment, mark         | data
//                     | other                    |                            | bogus_comment
//  (comment states)   | EOF                      | drop the comment           | end
//  raw                | '<'                      | hold                       | raw_lt
//                     | other                    |                            | raw
//  raw_lt             | '/'                      | hold                       | raw_end
//                     | other                    | release; again in raw      | raw
//  raw_end            | next letter of the name  | hold                       | raw_end
//                     | WS / '/' / '>' after it  | text, mark, append "/name" | as tag_name
//                     | other                    | release; again where "<"   | raw, script
//                     |                          |  was held                  |  or script_esc
//  plaintext          | any                      |                            | plaintext
//  script             | '<'                      | hold                       | script_lt
//                     | other                    |                            | script
//  script_lt          | '/'                      | hold                       | raw_end
//                     | '!'                      | release                    | script_esc_start
//                     | other                    | release; again in script   | script
//  script_esc_start   | '-'                      |                            | script_esc_start_dash
//                     | other                    | again in script            | script
//  script_esc_start_  | '-'                      |                            | script_esc_dash_dash
//   dash              | other                    | again in script            | script
//  script_esc         | '-'                      |                            | script_esc_dash
//                     | '<'                      | hold                       | script_esc_lt
//                     | other                    |                            | script_esc
//  script_esc_dash    | '-'                      |                            | script_esc_dash_dash
//                     | '<'                      | hold                       | script_esc_lt
//                     | other                    |                            | script_esc
//  script_esc_dash_   | '-'                      |                            | script_esc_dash_dash
//   dash              | '<'                      | hold                       | script_esc_lt
//                     | '>'                      |                            | script
//                     | other                    |                            | script_esc
//  script_esc_lt      | '/'                      | hold                       | raw_end
//                     | letter                   | release; again there       | script_desc_start
//                     | other                    | release; again in _esc     | script_esc
//  script_desc_start  | letter                   | (collects the name)        | script_desc_start
//                     | WS / '/' / '>'           | "script": script_desc,     | script_desc
//                     |                          |  else script_esc           |  or script_esc
//                     | other                    | again in script_esc        | script_esc
//  script_desc        | '-'                      |                            | script_desc_dash
//                     | '<'                      |                            | script_desc_lt
//                     | other                    |                            | script_desc
//  script_desc_dash   | '-'                      |                            | script_desc_dash_dash
//                     | '<'                      |                            | script_desc_lt
//                     | other                    |                            | script_desc
//  script_desc_dash_  | '-'                      |                            | script_desc_dash_dash
//   dash              | '<'                      |                            | script_desc_lt
//                     | '>'                      |                            | script
//                     | other                    |                            | script_desc
//  script_desc_lt     | '/'                      |                            | script_desc_end
//                     | other                    | again in script_desc       | script_desc
//  script_desc_end    | letter                   | (collects the name)        | script_desc_end
//                     | WS / '/' / '>'           | "script": script_esc,      | script_esc
//                     |                          |  else script_desc          |  or script_desc
//                     | other                    | again in script_desc       | script_desc
//  cdata_open         | the rest of "[CDATA["    | (after it: the piece is    | cdata
//                     |                          |  text "<![CDATA[")         |
//                     | other                    | again in bogus_comment     | bogus_comment
//  cdata              | ']'                      |                            | cdata_bracket
//                     | other                    |                            | cdata
//  cdata_bracket      | ']'                      |                            | cdata_brackets
//                     | other                    |                            | cdata
//  cdata_brackets     | '>'                      |                            | data
//                     | ']'                      |                            | cdata_brackets
//                     | other                    |                            | cdata
//  (text states)      | EOF                      | release, text              | end
//  (every state)      | ESC (0x1B)               | drop it, as NUL is dropped |
//  (after EOF)        |                          | end of the input (hook)    |
//
// Which text state follows a start tag depends on the tree builder: raw
// text exists only in HTML content, not inside SVG or MathML; note_tag
// keeps that model (safetree.cpp).
#include "scanner/safescan.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "scanner/safejoin.h"
#include "scanner/safemachine.h"
#include "scanner/safestates.h"
#include "scanner/safetree.h"
#include "scanner/scrub.h"

namespace safescan {
namespace {

int state = kData;
// Characters held back while it is open whether they begin markup.
char held[kNameMax + 4] = {};
std::size_t held_len = 0;
// Whether the tag being handed over ended as "/>", and the text state that
// follows it, as note_tag decides.
bool self_closing = false;
int content_after = 0;

}  // namespace

int current_state() { return state; }

bool is_letter(int c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

int go(int next) {
  state = next;
  return 0;
}

int append_and_go(int c, int next) {
  state = next;
  return append_c(c);
}

void hold(int c) { held[held_len++] = static_cast<char>(c); }

std::size_t held_count() { return held_len; }

const char* held_chars() { return held; }

// Appends the held characters to the pending text.
int release() {
  int result = 0;
  for (std::size_t i = 0; i < held_len && result == 0; ++i) {
    result = append_c(held[i]);
  }
  held_len = 0;
  return result;
}

// Ends the text run before markup that begins here: at the '<' held first.
int begin_markup() {
  const std::size_t held_back = held_len;
  held_len = 0;
  const int result = process_text();
  mark_markup_start(held_back);
  return result;
}

namespace {

// The text state that follows a start tag of this name in HTML content.
// Asked for every start tag: the length picks the few names to compare.
int raw_state_for(std::string_view name) {
  switch (name.size()) {
    case 3: return name == "xmp" ? kRaw : kData;
    case 5: return name == "style" || name == "title" ? kRaw : kData;
    case 6: return name == "script" ? kScript : name == "iframe" ? kRaw : kData;
    case 7: return name == "noembed" ? kRaw : kData;
    case 8: return name == "textarea" || name == "noframes" || name == "noscript" ? kRaw : kData;
    case 9: return name == "plaintext" ? kPlaintext : kData;
    default: return kData;
  }
}

}  // namespace

namespace {

int emit_tag() {
  self_closing = state == kSelfClosing;
  content_after = kData;
  const int result = process_tag();
  mark_piece_start();
  state = content_after;
  note_raw_text_start(state == kRaw || state == kScript);
  return result;
}

}  // namespace

int emit_comment() {
  const int result = process_comment();
  mark_piece_start();
  state = kData;
  return result;
}

namespace {

// The tag is unterminated at the end of the input: browsers drop it.
int drop_tag() {
  drop_piece_at_end();
  return 0;
}

}  // namespace

// A comment or declaration left open at the end of the input is dropped
// too. Browsers read it to the end of the input, but written out it would
// read on into whatever follows the output ("<!-- x" swallows a neighbour's
// markup up to its first "-->"), so it goes like an unterminated tag.
int drop_comment() {
  discard_piece();
  return 0;
}

namespace {

int start_tag_name(int c) { return append_and_go(c, kTagName); }

}  // namespace


namespace {

// ---- data, tag open and end tag open ----

int do_data(int c) {
  if (c == EOF) {
    return process_text();
  }
  if (c == '<') {
    hold(c);
    return go(kTagOpen);
  }
  return append_c(c);
}

int do_tag_open(int c) {
  if (is_letter(c)) {
    const int result = begin_markup();
    return result != 0 ? result : start_tag_name(c);
  }
  if (c == '/') {
    hold(c);
    return go(kEndTagOpen);
  }
  if (c == '!' || c == '?') {
    const int result = begin_markup();
    return result != 0 ? result : append_and_go(c, c == '!' ? kMarkupDecl : kBogusComment);
  }
  state = kData;
  const int result = release();
  return result != 0 ? result : do_data(c);
}

int do_end_tag_open(int c) {
  if (c == EOF) {
    const int result = release();
    return result != 0 ? result : process_text();
  }
  if (c == '>') {
    // "</>" is dropped. It ends the text run before it, so that the policy
    // sees that the text after it does not follow that run in the input.
    held_len = 0;
    state = kData;
    const int result = process_text();
    mark_piece_start();
    return result;
  }
  int result = begin_markup();
  if (result == 0) {
    result = append_c('/');
  }
  if (result != 0) {
    return result;
  }
  return is_letter(c) ? start_tag_name(c) : append_and_go(c, kBogusComment);
}

// ---- inside a tag ----

// '>', '/' and EOF end or turn every tag state alike; 1 when c was one.
bool tag_common(int c, int* result) {
  if (c == '>') {
    *result = emit_tag();
    return true;
  }
  if (c == EOF) {
    *result = drop_tag();
    return true;
  }
  if (c == '/') {
    *result = append_and_go(c, kSelfClosing);
    return true;
  }
  return false;
}



int do_before_attr_name(int c) {
  int result = 0;
  if (tag_common(c, &result)) {
    return result;
  }
  return append_and_go(c, is_ws(c) ? kBeforeAttrName : kAttrName);
}

int do_attr_name(int c) {
  int result = 0;
  if (tag_common(c, &result)) {
    return result;
  }
  if (is_ws(c)) {
    return append_and_go(c, kAfterAttrName);
  }
  return append_and_go(c, c == '=' ? kBeforeAttrValue : kAttrName);
}

int do_after_attr_name(int c) {
  int result = 0;
  if (tag_common(c, &result)) {
    return result;
  }
  if (is_ws(c)) {
    return append_c(c);
  }
  return append_and_go(c, c == '=' ? kBeforeAttrValue : kAttrName);
}

int do_before_attr_value(int c) {
  if (c == '>' || c == EOF) {
    int result = 0;
    tag_common(c, &result);
    return result;
  }
  if (is_ws(c)) {
    return append_c(c);
  }
  if (c == '"') {
    return append_and_go(c, kValueDq);
  }
  return append_and_go(c, c == '\'' ? kValueSq : kValueUq);
}

int do_value_quoted(int c, int quote) {
  if (c == EOF) {
    return drop_tag();
  }
  return append_and_go(c, c == quote ? kAfterValue : state);
}


int do_value_dq(int c) { return do_value_quoted(c, '"'); }
int do_value_sq(int c) { return do_value_quoted(c, '\''); }

int do_value_uq(int c) {
  if (c == '>' || c == EOF) {
    int result = 0;
    tag_common(c, &result);
    return result;
  }
  return append_and_go(c, is_ws(c) ? kBeforeAttrName : kValueUq);
}

int do_after_value(int c) {
  int result = 0;
  if (tag_common(c, &result)) {
    return result;
  }
  return append_and_go(c, is_ws(c) ? kBeforeAttrName : kAttrName);
}

int do_self_closing(int c) { return do_before_attr_name(c); }

}  // namespace

int do_tag_name(int c) {
  int result = 0;
  if (tag_common(c, &result)) {
    return result;
  }
  return append_and_go(c, is_ws(c) ? kBeforeAttrName : kTagName);
}

namespace {

using Handler = int (*)(int c);

// Built by name, so that a state left out is an entry not given, which the
// check below refuses (an initialiser list one short would still compile).
// It reads flags rather than the handlers, since a compiler need not take
// the address of a handler defined in another file for a constant.
struct HandlerTable {
  std::array<Handler, kStateCount> handlers{};
  std::array<bool, kStateCount> given{};

  constexpr void put(State at, Handler handler) {
    handlers[at] = handler;
    given[at] = true;
  }
};

constexpr HandlerTable make_handlers() {
  HandlerTable t;
  t.put(kData, do_data);
  t.put(kTagOpen, do_tag_open);
  t.put(kEndTagOpen, do_end_tag_open);
  t.put(kTagName, do_tag_name);
  t.put(kBeforeAttrName, do_before_attr_name);
  t.put(kAttrName, do_attr_name);
  t.put(kAfterAttrName, do_after_attr_name);
  t.put(kBeforeAttrValue, do_before_attr_value);
  t.put(kValueDq, do_value_dq);
  t.put(kValueSq, do_value_sq);
  t.put(kValueUq, do_value_uq);
  t.put(kAfterValue, do_after_value);
  t.put(kSelfClosing, do_self_closing);
  t.put(kMarkupDecl, do_markup_decl);
  t.put(kMdDash, do_md_dash);
  t.put(kCommentStart, do_comment_start);
  t.put(kCommentStartDash, do_comment_start_dash);
  t.put(kComment, do_comment);
  t.put(kCommentEndDash, do_comment_end_dash);
  t.put(kCommentEnd, do_comment_end);
  t.put(kCommentEndBang, do_comment_end_bang);
  t.put(kBogusComment, do_bogus_comment);
  t.put(kRaw, do_raw);
  t.put(kRawLt, do_raw_lt);
  t.put(kRawEnd, do_raw_end);
  t.put(kPlaintext, do_plaintext);
  t.put(kScript, do_script);
  t.put(kScriptLt, do_script_lt);
  t.put(kScriptEscStart, do_script_esc_start);
  t.put(kScriptEscStartDash, do_script_esc_start_dash);
  t.put(kScriptEsc, do_script_esc);
  t.put(kScriptEscDash, do_script_esc_dash);
  t.put(kScriptEscDashDash, do_script_esc_dash_dash);
  t.put(kScriptEscLt, do_script_esc_lt);
  t.put(kScriptDescStart, do_script_desc_start);
  t.put(kScriptDesc, do_script_desc);
  t.put(kScriptDescDash, do_script_desc_dash);
  t.put(kScriptDescDashDash, do_script_desc_dash_dash);
  t.put(kScriptDescLt, do_script_desc_lt);
  t.put(kScriptDescEnd, do_script_desc_end);
  t.put(kCdataOpen, do_cdata_open);
  t.put(kCdata, do_cdata);
  t.put(kCdataBracket, do_cdata_bracket);
  t.put(kCdataBrackets, do_cdata_brackets);
  return t;
}

constexpr HandlerTable kTable = make_handlers();
static_assert(std::all_of(kTable.given.begin(), kTable.given.end(), [](bool given) { return given; }),
              "every safe-mode state has a handler");
constexpr std::array<Handler, kStateCount> handlers = kTable.handlers;

}  // namespace

void reset() {
  state = kData;
  held_len = 0;
  reset_raw_text();
  reset_cdata();
  self_closing = false;
  content_after = kData;
  reset_tree();
}

int dispatch(int c) { return handlers[state](c); }

int step(int c) {
  if (c == kEsc) {
    return 0;  // dropped, as NUL is: see kEsc
  }
  if (c != EOF) {
    return dispatch(c);
  }
  const int result = dispatch(c);
  return result != 0 ? result : process_end();
}


void note_tag(const char* piece) { content_after = raw_state_for(note_tag_frames(piece, self_closing)); }

bool in_double_escaped_script() { return state >= kScriptDesc && state <= kScriptDescEnd; }
static_assert(kScriptDescEnd - kScriptDesc == 4, "the double-escaped script states are these five");

const char* join_run(const char* p, const char* end, runs::LinePlace& place) {
  return join_states(state, p, end, place);
}

bool raw_text_follows() { return content_after != kData; }

}  // namespace safescan
