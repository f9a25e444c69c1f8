// The safe-mode markup machine: splits a document where an HTML5 browser's
// tokenizer splits it. It drives the same pending-piece buffer and hooks as
// the classic machine (scrub.h); scrub_html runs it when safe scanning is on.
#ifndef TESSEL_SAFESCAN_H
#define TESSEL_SAFESCAN_H

#include "scanner/cclass.h"

namespace safescan {

using CharSet = cclass::CharSet;

// Back to the data state with nothing held, at the start of every scan.
void reset();
// Handles one character (EOF included; never NUL): 0 to go on, else the
// status that stops the scan.
[[nodiscard]] int step(int c);
// The characters whose only effect in the current state is to join the
// pending piece; the scanner appends them without calling step.
[[nodiscard]] const CharSet& joins();
// Called with every tag piece just before the tag hook: notes the name of a
// start tag after which the content is raw text.
void note_tag(const char* piece);
// Whether the scanner reads what follows the tag last noted as text (the
// tag began a raw-text element in HTML content).
[[nodiscard]] bool raw_text_follows();
// Whether the tag last noted has an attribute with a value.
[[nodiscard]] bool tag_has_values();

}  // namespace safescan

#endif
