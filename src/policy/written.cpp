// What the output has told the browser, where it matters to what is
// written next: a '<' or "</" of text held back at the end of what was
// written (safe mode), and the end of the output, which leaves the browser
// reading as it would without it.
#include "policy/written.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#include "policy/attredit.h"
#include "policy/regions.h"
#include "policy/treemodel.h"
#include "scanner/scrub.h"

namespace {

// A text run's '<' or "</" at the end of what was written (safe mode) is
// held back: 0, or how many of those bytes are held. Written before the
// next tag it is what it was. A '<' was text because the markup after it
// was not a letter, '/', '!' or '?'; when that markup is dropped, the next
// text written follows the '<' directly and must not begin with one of
// those, or the two would make markup that no one judged. At the end of the
// output it is written as "&lt;", so that nothing after the output can.
std::size_t held_lt = 0;

// Whether c after a '<' begins markup in a browser's text.
bool begins_markup_after_lt(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '/' || c == '!' || c == '?';
}

// How many bytes at the end of a text piece of length bytes are held back
// (see held_lt): a final '<' or "</", in safe mode.
std::size_t text_to_hold(const char* piece, std::size_t length, bool safe) {
  const char last = piece[length - 1];
  if ((last != '<' && last != '/') || !safe) {
    return 0;
  }
  if (last == '<') {
    return 1;
  }
  return length >= 2 && piece[length - 2] == '<' ? 2 : 0;
}

// Writes text with its first byte as a character reference, which a
// browser shows as the byte itself but never reads as markup after a '<'.
int put_reference_then(const char* text, std::size_t length, std::FILE* out) {
  std::array<char, sizeof "&#255;"> reference{};
  const int count = std::snprintf(reference.data(), reference.size(), "&#%d;", static_cast<unsigned char>(text[0]));
  // Bounded by the array, so that the compiler sees the copy stay inside it.
  const std::size_t used = std::min(static_cast<std::size_t>(count), reference.size() - 1);
  if (put_bytes(reference.data(), used, out) == EOF) {
    return EOF;
  }
  return put_bytes(text + 1, length - 1, out);
}

// Writes the '<' or "</" of text held back as it was: before a tag, which
// it cannot join. (A text run ends in "</" before a tag only inside a
// raw-text element, before its end tag; elsewhere only at the end of the
// input.)
void write_held_lt(std::FILE* out) {
  if (held_lt != 0) {
    (void)(held_lt == 1 ? put_bytes("<", 1, out) : put_bytes("</", 2, out));
    held_lt = 0;
  }
}

}  // namespace

// Every tag written goes out through one of these two, after the text held
// back before it.
void write_tag(const char* piece, std::FILE* out) {
  write_held_lt(out);
  (void)put_tag(piece, out);
}

// The '<' of a tag written a part at a time.
void policy::open_tag(std::FILE* out) {
  write_held_lt(out);
  (void)put_bytes("<", 1, out);
}

// The end of the input (safe mode): what is left open is closed, so that
// whatever follows the output is read as it would be alone. A raw-text
// element that the input left open gets its end tag, after its text as it
// was (a script left in double-escaped text, two: see
// script_double_escaped), when its start tag was written: else it opened
// a region, still open. Otherwise a '<' or "</" of text held back goes out
// as "&lt;" or "&lt;/", which no text after it can make a tag.
void write_end_of_output(std::FILE* out) {
  const char* const raw_element = raw_text_left_open();
  if (raw_element != nullptr && !dropping()) {
    policy::open_tag(out);
    if (script_double_escaped()) {
      (void)put_bytes("/script><", 9, out);  // ends the inner escape; the next, the script
    }
    (void)put_bytes("/", 1, out);
    (void)put_bytes(raw_element, std::strlen(raw_element), out);
    (void)put_bytes(">", 1, out);
  } else if (held_lt != 0) {
    (void)put_bytes("&lt;/", held_lt == 1 ? 4 : 5, out);
    tree_text("&lt;", 4);
  }
  held_lt = 0;
  (void)tree_close_all(out);
}

void reset_written() { held_lt = 0; }

int write_text(const char* piece, std::size_t length, bool safe, std::FILE* out) {
  bool joins_lt = false;
  if (held_lt != 0) {
    // The text follows the held bytes directly: markup after them was dropped.
    joins_lt = held_lt == 1 && begins_markup_after_lt(piece[0]);
    (void)(held_lt == 1 ? put_bytes("<", 1, out) : put_bytes("&lt;/", 5, out));
    held_lt = 0;
  }
  const std::size_t held = text_to_hold(piece, length, safe);
  length -= held;
  int written = 0;
  if (length != 0) {
    written = joins_lt ? put_reference_then(piece, length, out) : put_bytes(piece, length, out);
  }
  held_lt = held;
  return written;
}

void policy::write_segment(const char* begin, const char* end, std::FILE* out) {
  (void)put_bytes(begin, static_cast<std::size_t>(end - begin), out);
}
