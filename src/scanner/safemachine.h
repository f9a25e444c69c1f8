// Inside the safe-mode scanner: what the state machine's files share. The
// tag states, the handler table and the machine's state are in
// safescan.cpp, the text states of raw-text elements in safetext.cpp, the
// states of comments and CDATA sections in safecomment.cpp. Not for use
// outside src/scanner.
#ifndef TESSEL_SAFEMACHINE_H
#define TESSEL_SAFEMACHINE_H

#include <cstddef>

namespace safescan {

// ---- the machine (safescan.cpp) ----

[[nodiscard]] int current_state();
[[nodiscard]] bool is_letter(int c);
// Each returns 0, or the status that stops the scan.
int go(int next);
int append_and_go(int c, int next);
// Handles c in the current state: how a handler hands a character on.
int dispatch(int c);
// The characters held back while it is open whether they begin markup.
void hold(int c);
[[nodiscard]] std::size_t held_count();
[[nodiscard]] const char* held_chars();
// Appends the held characters to the pending text.
int release();
// Ends the text run before markup that begins at the '<' held first.
int begin_markup();
int emit_comment();
// A comment or declaration left open at the end of the input is dropped.
int drop_comment();
int do_tag_name(int c);

// ---- raw text, script data and plaintext (safetext.cpp) ----

void reset_raw_text();
// After a start tag was handed over: whether it opened raw text or script
// data, whose element is the tag last noted.
void note_raw_text_start(bool opened);
int do_raw(int c);
int do_raw_lt(int c);
int do_raw_end(int c);
int do_plaintext(int c);
int do_script(int c);
int do_script_lt(int c);
int do_script_esc_start(int c);
int do_script_esc_start_dash(int c);
int do_script_esc(int c);
int do_script_esc_dash(int c);
int do_script_esc_dash_dash(int c);
int do_script_esc_lt(int c);
int do_script_desc_start(int c);
int do_script_desc(int c);
int do_script_desc_dash(int c);
int do_script_desc_dash_dash(int c);
int do_script_desc_lt(int c);
int do_script_desc_end(int c);

// ---- comments, declarations and CDATA (safecomment.cpp) ----

void reset_cdata();
int do_markup_decl(int c);
int do_md_dash(int c);
int do_comment_start(int c);
int do_comment_start_dash(int c);
int do_comment(int c);
int do_comment_end_dash(int c);
int do_comment_end(int c);
int do_comment_end_bang(int c);
int do_bogus_comment(int c);
int do_cdata_open(int c);
int do_cdata(int c);
int do_cdata_bracket(int c);
int do_cdata_brackets(int c);

}  // namespace safescan

#endif
