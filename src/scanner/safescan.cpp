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
#include "scanner/safestates.h"
#include "scanner/safetree.h"
#include "scanner/scrub.h"

namespace safescan {
namespace {

int state = kData;
// Characters held back while it is open whether they begin markup.
char held[kNameMax + 4] = {};
std::size_t held_len = 0;
// The element whose end tag ends the raw text, and the state to go back to
// when a candidate end tag turns out to be text.
char raw_name[kNameMax + 1] = {};
// Whether the element named raw_name is open: from its start tag to the
// next tag handed over, its end tag. An end tag left unfinished at the end
// of the input is dropped, and leaves the element open.
bool raw_open = false;
std::size_t raw_name_len = 0;
int raw_return = kRaw;
// Whether the tag being handed over ended as "/>", and the text state that
// follows it, as note_tag decides.
bool self_closing = false;
int content_after = 0;
std::size_t cdata_matched = 0;
// The name after "<" or "</" inside an escaped script, for double escapes.
char temp[kNameMax + 1] = {};
std::size_t temp_len = 0;

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

void add_to_name(char (&name)[kNameMax + 1], std::size_t& length, int c) {
  if (length < kNameMax) {
    name[length] = lower(c);
  }
  if (length <= kNameMax) {
    ++length;  // one past kNameMax marks a name too long to matter
  }
}

bool name_is(const char (&name)[kNameMax + 1], std::size_t length, const char* word) {
  return length <= kNameMax && std::strlen(word) == length && std::strncmp(name, word, length) == 0;
}

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

int emit_tag() {
  self_closing = state == kSelfClosing;
  content_after = kData;
  const int result = process_tag();
  mark_piece_start();
  state = content_after;
  raw_open = state == kRaw || state == kScript;
  if (raw_open) {
    const std::string_view tag_name = noted_tag_name();
    std::memcpy(raw_name, tag_name.data(), tag_name.size());
    raw_name_len = tag_name.size();
    raw_name[raw_name_len] = '\0';
  }
  return result;
}

int emit_comment() {
  const int result = process_comment();
  mark_piece_start();
  state = kData;
  return result;
}

// The tag is unterminated at the end of the input: browsers drop it.
int drop_tag() {
  drop_piece_at_end();
  return 0;
}

// A comment or declaration left open at the end of the input is dropped
// too. Browsers read it to the end of the input, but written out it would
// read on into whatever follows the output ("<!-- x" swallows a neighbour's
// markup up to its first "-->"), so it goes like an unterminated tag.
int drop_comment() {
  discard_piece();
  return 0;
}

// Hands c to its state's handler; the handlers use it to handle a character
// again in another state.
int dispatch(int c);

int start_tag_name(int c) { return append_and_go(c, kTagName); }


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

int do_tag_name(int c) {
  int result = 0;
  if (tag_common(c, &result)) {
    return result;
  }
  return append_and_go(c, is_ws(c) ? kBeforeAttrName : kTagName);
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

// ---- comments ----

int comment_common(int c, int next) {
  if (c == EOF) {
    return drop_comment();
  }
  if (c == '>') {
    return emit_comment();
  }
  return append_and_go(c, next);
}

int do_markup_decl(int c) {
  if (c == '[' && in_foreign()) {
    cdata_matched = 1;
    return append_and_go(c, kCdataOpen);
  }
  return comment_common(c, c == '-' ? kMdDash : kBogusComment);
}
int do_md_dash(int c) { return comment_common(c, c == '-' ? kCommentStart : kBogusComment); }
int do_comment_start(int c) { return comment_common(c, c == '-' ? kCommentStartDash : kComment); }
int do_comment_start_dash(int c) { return comment_common(c, c == '-' ? kCommentEnd : kComment); }
int do_bogus_comment(int c) { return comment_common(c, kBogusComment); }

int do_comment(int c) {
  if (c == EOF) {
    return drop_comment();
  }
  return append_and_go(c, c == '-' ? kCommentEndDash : kComment);
}

int do_comment_end_dash(int c) {
  if (c == EOF) {
    return drop_comment();
  }
  return append_and_go(c, c == '-' ? kCommentEnd : kComment);
}

int do_comment_end(int c) {
  if (c == EOF) {
    return drop_comment();
  }
  if (c == '>') {
    return emit_comment();
  }
  if (c == '!') {
    return append_and_go(c, kCommentEndBang);
  }
  return append_and_go(c, c == '-' ? kCommentEnd : kComment);
}

int do_comment_end_bang(int c) { return comment_common(c, c == '-' ? kCommentEndDash : kComment); }

// ---- raw text, script data and plaintext ----

int end_of_text() {
  const int result = release();
  return result != 0 ? result : process_text();
}

// Lets the held characters be text after all and handles c in the state the
// candidate end tag began in.
int not_an_end_tag(int c);

int do_raw(int c) {
  if (c == EOF) {
    return end_of_text();
  }
  if (c == '<') {
    raw_return = kRaw;
    hold(c);
    return go(kRawLt);
  }
  return append_c(c);
}

int do_raw_lt(int c) {
  if (c == '/') {
    hold(c);
    return go(kRawEnd);
  }
  return not_an_end_tag(c);
}

// After "</" and the letters of the raw element's name matched so far.
int do_raw_end(int c) {
  const std::size_t matched = held_len - 2;
  if (matched < raw_name_len && is_letter(c) && lower(c) == raw_name[matched]) {
    hold(c);
    return 0;
  }
  if (matched == raw_name_len && (is_ws(c) || c == '/' || c == '>')) {
    const std::size_t name_len = held_len - 2;
    char name[kNameMax + 1];
    std::memcpy(name, held + 2, name_len);
    int result = begin_markup();
    for (std::size_t i = 0; i < name_len + 1 && result == 0; ++i) {
      result = append_c(i == 0 ? '/' : name[i - 1]);
    }
    if (result != 0) {
      return result;
    }
    state = kTagName;
    return do_tag_name(c);
  }
  return not_an_end_tag(c);
}

int do_plaintext(int c) { return c == EOF ? process_text() : append_c(c); }

int not_an_end_tag(int c) {
  const int result = release();
  if (result != 0) {
    return result;
  }
  state = raw_return;
  return dispatch(c);
}

int do_script(int c) {
  if (c == EOF) {
    return end_of_text();
  }
  if (c == '<') {
    hold(c);
    return go(kScriptLt);
  }
  return append_c(c);
}

int do_script_lt(int c) {
  raw_return = kScript;
  if (c == '/') {
    hold(c);
    return go(kRawEnd);
  }
  if (c == '!') {
    const int result = release();
    return result != 0 ? result : append_and_go(c, kScriptEscStart);
  }
  return not_an_end_tag(c);
}

// Characters that only continue a script text in some state; every other
// one is handled again in the state given.
int script_text(int c, int next_on_dash, int otherwise) {
  if (c == EOF) {
    return end_of_text();
  }
  if (c == '-') {
    return append_and_go(c, next_on_dash);
  }
  state = otherwise;
  return dispatch(c);
}

int do_script_esc_start(int c) { return script_text(c, kScriptEscStartDash, kScript); }
int do_script_esc_start_dash(int c) { return script_text(c, kScriptEscDashDash, kScript); }

int escaped(int c, int next_on_dash, int next_on_other) {
  if (c == EOF) {
    return end_of_text();
  }
  if (c == '<') {
    hold(c);
    return go(kScriptEscLt);
  }
  return append_and_go(c, c == '-' ? next_on_dash : next_on_other);
}

int do_script_esc(int c) { return escaped(c, kScriptEscDash, kScriptEsc); }
int do_script_esc_dash(int c) { return escaped(c, kScriptEscDashDash, kScriptEsc); }

int do_script_esc_dash_dash(int c) {
  if (c == '>') {
    return append_and_go(c, kScript);
  }
  return escaped(c, kScriptEscDashDash, kScriptEsc);
}

int do_script_esc_lt(int c) {
  raw_return = kScriptEsc;
  if (c == '/') {
    hold(c);
    return go(kRawEnd);
  }
  if (is_letter(c)) {
    temp_len = 0;
    const int result = release();
    return result != 0 ? result : (state = kScriptDescStart, dispatch(c));
  }
  return not_an_end_tag(c);
}

// After "<" (or "</") and letters inside an escaped (or double-escaped)
// script: "script" followed by WS, '/' or '>' switches the escape level.
int double_escape_switch(int c, int on_script, int otherwise) {
  if (is_letter(c)) {
    add_to_name(temp, temp_len, c);
    return append_c(c);
  }
  if (is_ws(c) || c == '/' || c == '>') {
    return append_and_go(c, name_is(temp, temp_len, "script") ? on_script : otherwise);
  }
  state = otherwise;
  return dispatch(c);
}

int do_script_desc_start(int c) { return double_escape_switch(c, kScriptDesc, kScriptEsc); }

int double_escaped(int c, int next_on_dash, int next_on_other) {
  if (c == EOF) {
    return end_of_text();
  }
  if (c == '<') {
    return append_and_go(c, kScriptDescLt);
  }
  return append_and_go(c, c == '-' ? next_on_dash : next_on_other);
}

int do_script_desc(int c) { return double_escaped(c, kScriptDescDash, kScriptDesc); }
int do_script_desc_dash(int c) { return double_escaped(c, kScriptDescDashDash, kScriptDesc); }

int do_script_desc_dash_dash(int c) {
  if (c == '>') {
    return append_and_go(c, kScript);
  }
  return double_escaped(c, kScriptDescDashDash, kScriptDesc);
}

int do_script_desc_lt(int c) {
  if (c == '/') {
    temp_len = 0;
    return append_and_go(c, kScriptDescEnd);
  }
  state = kScriptDesc;
  return dispatch(c);
}

int do_script_desc_end(int c) { return double_escape_switch(c, kScriptEsc, kScriptDesc); }

// ---- CDATA sections (foreign content only) ----

constexpr std::string_view kCdataStart = "[CDATA[";

// After "<![" in foreign content: "<![CDATA[" begins text up to "]]>";
// anything else is a comment up to '>'.
int do_cdata_open(int c) {
  if (c != EOF && c == kCdataStart[cdata_matched]) {
    if (++cdata_matched < kCdataStart.size()) {
      return append_c(c);
    }
    discard_piece();  // the piece so far was "![CDATA": it is text after all
    state = kCdata;
    int result = 0;
    for (const char t : std::string_view("<![CDATA[")) {
      result = result != 0 ? result : append_c(t);
    }
    return result;
  }
  state = kBogusComment;
  return do_bogus_comment(c);
}

int cdata_text(int c, int next) {
  if (c == EOF) {
    return process_text();
  }
  return append_and_go(c, next);
}

int do_cdata(int c) { return cdata_text(c, c == ']' ? kCdataBracket : kCdata); }
int do_cdata_bracket(int c) { return cdata_text(c, c == ']' ? kCdataBrackets : kCdata); }

int do_cdata_brackets(int c) {
  if (c == '>') {
    return append_and_go(c, kData);
  }
  return cdata_text(c, c == ']' ? kCdataBrackets : kCdata);
}

using Handler = int (*)(int c);

// Built by name, so that a state left out is an empty entry, which the
// check below refuses (an initialiser list one short would still compile).
constexpr std::array<Handler, kStateCount> make_handlers() {
  std::array<Handler, kStateCount> t{};
  t[kData] = do_data;
  t[kTagOpen] = do_tag_open;
  t[kEndTagOpen] = do_end_tag_open;
  t[kTagName] = do_tag_name;
  t[kBeforeAttrName] = do_before_attr_name;
  t[kAttrName] = do_attr_name;
  t[kAfterAttrName] = do_after_attr_name;
  t[kBeforeAttrValue] = do_before_attr_value;
  t[kValueDq] = do_value_dq;
  t[kValueSq] = do_value_sq;
  t[kValueUq] = do_value_uq;
  t[kAfterValue] = do_after_value;
  t[kSelfClosing] = do_self_closing;
  t[kMarkupDecl] = do_markup_decl;
  t[kMdDash] = do_md_dash;
  t[kCommentStart] = do_comment_start;
  t[kCommentStartDash] = do_comment_start_dash;
  t[kComment] = do_comment;
  t[kCommentEndDash] = do_comment_end_dash;
  t[kCommentEnd] = do_comment_end;
  t[kCommentEndBang] = do_comment_end_bang;
  t[kBogusComment] = do_bogus_comment;
  t[kRaw] = do_raw;
  t[kRawLt] = do_raw_lt;
  t[kRawEnd] = do_raw_end;
  t[kPlaintext] = do_plaintext;
  t[kScript] = do_script;
  t[kScriptLt] = do_script_lt;
  t[kScriptEscStart] = do_script_esc_start;
  t[kScriptEscStartDash] = do_script_esc_start_dash;
  t[kScriptEsc] = do_script_esc;
  t[kScriptEscDash] = do_script_esc_dash;
  t[kScriptEscDashDash] = do_script_esc_dash_dash;
  t[kScriptEscLt] = do_script_esc_lt;
  t[kScriptDescStart] = do_script_desc_start;
  t[kScriptDesc] = do_script_desc;
  t[kScriptDescDash] = do_script_desc_dash;
  t[kScriptDescDashDash] = do_script_desc_dash_dash;
  t[kScriptDescLt] = do_script_desc_lt;
  t[kScriptDescEnd] = do_script_desc_end;
  t[kCdataOpen] = do_cdata_open;
  t[kCdata] = do_cdata;
  t[kCdataBracket] = do_cdata_bracket;
  t[kCdataBrackets] = do_cdata_brackets;
  return t;
}

constexpr std::array<Handler, kStateCount> handlers = make_handlers();
static_assert(std::none_of(handlers.begin(), handlers.end(), [](Handler h) { return h == nullptr; }),
              "every safe-mode state has a handler");

}  // namespace

void reset() {
  state = kData;
  held_len = 0;
  raw_name_len = 0;
  raw_open = false;
  temp_len = 0;
  raw_return = kRaw;
  self_closing = false;
  content_after = kData;
  reset_tree();
  cdata_matched = 0;
}

namespace {
int dispatch(int c) { return handlers[state](c); }
}  // namespace

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


bool tag_self_closing() { return self_closing; }

void set_content_after(std::string_view name) { content_after = raw_state_for(name); }

void clear_content_after() { content_after = kData; }

const char* raw_text_element() {
  if (state == kPlaintext) {
    return "plaintext";
  }
  return raw_open ? raw_name : nullptr;
}

bool in_double_escaped_script() { return state >= kScriptDesc && state <= kScriptDescEnd; }
static_assert(kScriptDescEnd - kScriptDesc == 4, "the double-escaped script states are these five");

const char* join_run(const char* p, const char* end, runs::LinePlace& place) {
  return join_states(state, p, end, place);
}

bool raw_text_follows() { return content_after != kData; }

}  // namespace safescan
