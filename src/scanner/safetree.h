// Inside the safe-mode scanner: its tree context (safetree.cpp), which keeps
// the namespace frames of SVG and MathML that decide how a browser's
// tokenizer reads what follows a tag, and tells the state machine
// (safescan.cpp) what a tag does rather than calling back into it. Not for
// use outside src/scanner.
#ifndef TESSEL_SAFETREE_H
#define TESSEL_SAFETREE_H

#include <cstddef>
#include <string_view>

#include "scanner/cclass.h"

namespace safescan {

constexpr std::size_t kNameMax = 16;  // longer names are never raw-text names

inline bool is_ws(int c) { return cclass::is_html_space(c); }
inline char lower(int c) { return cclass::to_lower(c); }

// ---- the tree context (safetree.cpp) ----

// Plain HTML, no tag noted yet: part of reset.
void reset_tree();
// Whether the innermost namespace frame is SVG or MathML.
[[nodiscard]] bool in_foreign();
// The lower-case name of the tag last noted; empty when it was longer than
// kNameMax.
[[nodiscard]] std::string_view noted_tag_name();
// Notes the tag piece handed over (self_closing: it ended as "/>"): the
// frames it opens and closes. Returns the lower-case name of the HTML start
// tag after which what follows is read (raw text after a few; "-" for a
// name too long to be one), empty when what follows is data.
[[nodiscard]] std::string_view note_tag_frames(const char* piece, bool self_closing);

}  // namespace safescan

#endif
