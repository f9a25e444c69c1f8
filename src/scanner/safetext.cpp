// The safe-mode machine's text states (see safescan.cpp): raw text,
// script data with its escapes, and plaintext, whose only markup is the end
// tag of the element they belong to.
#include <cstddef>
#include <cstring>
#include <string_view>

#include "scanner/safemachine.h"
#include "scanner/safestates.h"
#include "scanner/safetree.h"
#include "scanner/scrub.h"

namespace safescan {
namespace {

// The element whose end tag ends the raw text, and the state to go back to
// when a candidate end tag turns out to be text.
char raw_name[kNameMax + 1] = {};
// Whether the element named raw_name is open: from its start tag to the
// next tag handed over, its end tag. An end tag left unfinished at the end
// of the input is dropped, and leaves the element open.
bool raw_open = false;
std::size_t raw_name_len = 0;
int raw_return = kRaw;
// The name after "<" or "</" inside an escaped script, for double escapes.
char temp[kNameMax + 1] = {};
std::size_t temp_len = 0;

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

int end_of_text() {
  const int result = release();
  return result != 0 ? result : process_text();
}

// Lets the held characters be text after all and handles c in the state the
// candidate end tag began in.
int not_an_end_tag(int c);

}  // namespace

void reset_raw_text() {
  raw_name_len = 0;
  raw_open = false;
  temp_len = 0;
  raw_return = kRaw;
}

void note_raw_text_start(bool opened) {
  raw_open = opened;
  if (raw_open) {
    const std::string_view tag_name = noted_tag_name();
    std::memcpy(raw_name, tag_name.data(), tag_name.size());
    raw_name_len = tag_name.size();
    raw_name[raw_name_len] = '\0';
  }
}

const char* raw_text_element() {
  if (current_state() == kPlaintext) {
    return "plaintext";
  }
  return raw_open ? raw_name : nullptr;
}

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
  const std::size_t matched = held_count() - 2;
  if (matched < raw_name_len && is_letter(c) && lower(c) == raw_name[matched]) {
    hold(c);
    return 0;
  }
  if (matched == raw_name_len && (is_ws(c) || c == '/' || c == '>')) {
    const std::size_t name_len = held_count() - 2;
    char name[kNameMax + 1];
    std::memcpy(name, held_chars() + 2, name_len);
    int result = begin_markup();
    for (std::size_t i = 0; i < name_len + 1 && result == 0; ++i) {
      result = append_c(i == 0 ? '/' : name[i - 1]);
    }
    if (result != 0) {
      return result;
    }
    (void)go(kTagName);
    return do_tag_name(c);
  }
  return not_an_end_tag(c);
}

int do_plaintext(int c) { return c == EOF ? process_text() : append_c(c); }

namespace {

int not_an_end_tag(int c) {
  const int result = release();
  if (result != 0) {
    return result;
  }
  (void)go(raw_return);
  return dispatch(c);
}

}  // namespace

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

namespace {

// Characters that only continue a script text in some state; every other
// one is handled again in the state given.
int script_text(int c, int next_on_dash, int otherwise) {
  if (c == EOF) {
    return end_of_text();
  }
  if (c == '-') {
    return append_and_go(c, next_on_dash);
  }
  (void)go(otherwise);
  return dispatch(c);
}

}  // namespace

int do_script_esc_start(int c) { return script_text(c, kScriptEscStartDash, kScript); }
int do_script_esc_start_dash(int c) { return script_text(c, kScriptEscDashDash, kScript); }

namespace {

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

}  // namespace

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
    return result != 0 ? result : (go(kScriptDescStart), dispatch(c));
  }
  return not_an_end_tag(c);
}

namespace {

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
  (void)go(otherwise);
  return dispatch(c);
}

}  // namespace

int do_script_desc_start(int c) { return double_escape_switch(c, kScriptDesc, kScriptEsc); }

namespace {

int double_escaped(int c, int next_on_dash, int next_on_other) {
  if (c == EOF) {
    return end_of_text();
  }
  if (c == '<') {
    return append_and_go(c, kScriptDescLt);
  }
  return append_and_go(c, c == '-' ? next_on_dash : next_on_other);
}

}  // namespace

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
  (void)go(kScriptDesc);
  return dispatch(c);
}

int do_script_desc_end(int c) { return double_escape_switch(c, kScriptEsc, kScriptDesc); }

}  // namespace safescan
