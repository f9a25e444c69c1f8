// The safe-mode machine's states for comments, declarations and
// processing instructions (all comments to a browser), and for the CDATA
// sections that only SVG and MathML content has (see safescan.cpp).
#include <cstddef>
#include <string_view>

#include "scanner/safemachine.h"
#include "scanner/safestates.h"
#include "scanner/safetree.h"
#include "scanner/scrub.h"

namespace safescan {
namespace {

std::size_t cdata_matched = 0;  // of "[CDATA[", after "<!"

}  // namespace

void reset_cdata() { cdata_matched = 0; }

namespace {


int comment_common(int c, int next) {
  if (c == EOF) {
    return drop_comment();
  }
  if (c == '>') {
    return emit_comment();
  }
  return append_and_go(c, next);
}

}  // namespace

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

// ---- CDATA sections (foreign content only) ----

namespace {

constexpr std::string_view kCdataStart = "[CDATA[";

}  // namespace

// After "<![" in foreign content: "<![CDATA[" begins text up to "]]>";
// anything else is a comment up to '>'.
int do_cdata_open(int c) {
  if (c != EOF && c == kCdataStart[cdata_matched]) {
    if (++cdata_matched < kCdataStart.size()) {
      return append_c(c);
    }
    discard_piece();  // the piece so far was "![CDATA": it is text after all
    (void)go(kCdata);
    int result = 0;
    for (const char t : std::string_view("<![CDATA[")) {
      result = result != 0 ? result : append_c(t);
    }
    return result;
  }
  (void)go(kBogusComment);
  return do_bogus_comment(c);
}

namespace {

int cdata_text(int c, int next) {
  if (c == EOF) {
    return process_text();
  }
  return append_and_go(c, next);
}

}  // namespace

int do_cdata(int c) { return cdata_text(c, c == ']' ? kCdataBracket : kCdata); }
int do_cdata_bracket(int c) { return cdata_text(c, c == ']' ? kCdataBrackets : kCdata); }

int do_cdata_brackets(int c) {
  if (c == '>') {
    return append_and_go(c, kData);
  }
  return cdata_text(c, c == ']' ? kCdataBrackets : kCdata);
}

}  // namespace safescan
