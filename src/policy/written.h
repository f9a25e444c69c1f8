// What the output has told the browser: the text held back at the end of
// what was written, written before the next tag or at the end of the
// output, and the repairs made there (written.cpp).
#ifndef TESSEL_WRITTEN_H
#define TESSEL_WRITTEN_H

#include <cstddef>
#include <cstdio>

// Nothing written yet: part of the reset between documents.
void reset_written();
// Writes a tag piece as '<' piece '>', after any '<' of text held back.
void write_tag(const char* piece, std::FILE* out);
// Writes a text run of length bytes (safe mode: holding a final '<' or
// "</" back, and writing the first byte as a character reference where it
// would make markup with a '<' held before dropped markup); EOF when a
// write failed, else 0.
int write_text(const char* piece, std::size_t length, bool safe, std::FILE* out);
namespace policy {
// Writes the '<' of a tag written a part at a time, after any '<' of text
// held back, and a part of it.
void open_tag(std::FILE* out);
void write_segment(const char* begin, const char* end, std::FILE* out);
}  // namespace policy

// At the end of the output (safe mode): the end tag of a raw-text element
// the input left open, or a '<' held back as "&lt;"; then the end tags of
// the elements the output left open.
void write_end_of_output(std::FILE* out);

#endif
