// The safe-mode markup machine: splits a document where an HTML5 browser's
// tokenizer splits it. It drives the same pending-piece buffer and hooks as
// the classic machine (scrub.h); scrub_html runs it when safe scanning is on.
#ifndef TESSEL_SAFESCAN_H
#define TESSEL_SAFESCAN_H

#include <cstddef>
#include <cstdint>

#include "scanner/joins.h"

namespace safescan {

// Back to the data state with nothing held, at the start of every scan.
void reset();
// Handles one character (EOF included; never NUL): 0 to go on, else the
// status that stops the scan. The ESC byte is dropped, as NUL is. After
// EOF has been handled, the end of the input goes to the text hook as its
// empty piece (process_end).
[[nodiscard]] int step(int c);
// Moves the machine over the characters of [p, end) whose only effect is
// to join the pending piece (whether the state stays or moves on) and
// counts the line feeds among them in place; the scanner appends them
// without calling step. Returns the first character step must see, or end.
[[nodiscard]] const char* join_run(const char* p, const char* end, runs::LinePlace& place);
// Called with every tag piece just before the tag hook: notes the name of a
// start tag after which the content is raw text.
void note_tag(const char* piece);
// Whether the scanner reads what follows the tag last noted as text (the
// tag began a raw-text element in HTML content).
[[nodiscard]] bool raw_text_follows();
// Whether the tag last noted was a start tag that opened a namespace frame
// (<svg>, <math>, an HTML integration point inside them): what follows it
// is read by that namespace's rules until the frame closes.
[[nodiscard]] bool tag_opened_frame();
// Whether the tag last noted was a self-closing foreign element (<svg/>,
// <path/> inside SVG): browsers close it at once, so nothing is inside it.
[[nodiscard]] bool tag_closed_at_once();
// How many namespace frames are open (1 in plain HTML).
[[nodiscard]] std::size_t frame_depth();
// The name (lower case) of the raw-text element open (script, style, ...,
// plaintext): its text is being read, or its end tag, which only handing
// it over ends; null when none is.
[[nodiscard]] const char* raw_text_element();
// Whether the machine is in the double-escaped text of a script
// ("<script><!--<script>"), where "</script>" ends the inner escape only.
[[nodiscard]] bool in_double_escaped_script();

}  // namespace safescan

#endif
