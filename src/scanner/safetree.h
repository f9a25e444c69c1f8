// Inside the safe-mode scanner: the contract between its state machine
// (safescan.cpp) and its tree context (safetree.cpp), which keeps the
// namespace frames of SVG and MathML that decide how a browser's tokenizer
// reads what follows a tag. Not for use outside src/scanner.
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

// ---- the state machine (safescan.cpp), for note_tag ----

// Whether the tag being handed over ended as "/>".
[[nodiscard]] bool tag_self_closing();
// The text after the tag being handed over is read as after an HTML start
// tag of this name (raw text after a few), or as data.
void set_content_after(std::string_view name);
void clear_content_after();

}  // namespace safescan

#endif
