// Markup scanner: splits an HTML document into text runs, tags and comments
// and hands each piece to one of three replaceable scrubber hooks.
#ifndef TESSEL_SCRUB_H
#define TESSEL_SCRUB_H

#include <cstddef>
#include <cstdio>
#include <cstring>

#include "scanner/iobuf.h"

// A scrubber hook gets a finished piece (NUL-terminated, never null or empty,
// valid only during the call), the output stream and the input line on which
// the piece began. It writes what it decides and returns 0 to go on or
// nonzero to stop the scan; that value becomes the result of scrub_html.
//
// The one empty piece: in safe mode, once the input has ended and every
// piece of it was handed over, the text hook is called with "" (and the
// last line), and nothing follows in that scan. It tells the policy that
// what it has written is all the output: what it held back, or left open,
// must be written or closed now (see process_end). Classic scans, and scans
// that a hook stopped, make no such call. A hook that only copies text
// writes nothing for it.
using Scrubber = int (*)(const char* piece, std::FILE* out, unsigned long line);

// The length of the NUL-terminated piece: counted by the scanner already
// for the piece it is handing to a hook, else measured.
[[nodiscard]] std::size_t piece_length(const char* piece);

// Writes the NUL-terminated piece to out as fputs does (EOF on failure, else
// a non-negative value).
inline int put_piece(const char* piece, std::FILE* out) { return put_bytes(piece, piece_length(piece), out); }

// Writes the NUL-terminated piece to out between '<' and '>', as three
// writes would (EOF when one fails, else 0).
[[gnu::always_inline]] inline int put_tag(const char* piece, std::FILE* out) { return put_bracketed(piece, piece_length(piece), out); }

// Each installer stores the hook and returns the one installed before; null
// restores the default (default_text_scrubber for text, default_tag_scrubber
// for tags and comments).
Scrubber install_text_scrubber(Scrubber hook);
Scrubber install_tag_scrubber(Scrubber hook);
Scrubber install_comment_scrubber(Scrubber hook);

// Filters in to out through the installed hooks, reading and writing
// through the buffers of iobuf.h: out receives the output in blocks, and
// all of it by the time the scan returns. Returns 0 when the whole input
// was read and every hook, buffer operation and write succeeded, else the
// first nonzero result (1 after "Unable to write HTML: ..." when the last
// block of output could not be written). A read error ends the input like
// end of file; the caller tells them apart with input_error(), and errno is
// left as the failed read set it.
[[nodiscard]] int scrub_html(std::FILE* in, std::FILE* out);

// The default hooks copy their piece to the stream unchanged: text as it is,
// tags and comments between '<' and '>'. Null arguments write nothing and
// give 0; a failed write is reported with perror and gives 1.
int default_text_scrubber(const char* piece, std::FILE* out, unsigned long line);
int default_tag_scrubber(const char* piece, std::FILE* out, unsigned long line);

// The pending-piece buffer, for the scanner's handlers (and tests). Each
// returns 0, or 1 after a message on standard error.
[[nodiscard]] int append_c(int c);
[[nodiscard]] int finish_buffer();
[[nodiscard]] int write_buffer();
// Hand the pending piece to a hook and empty it; the hook's result, 0 when the
// piece was empty (no hook called), 1 when the piece could not be gathered.
[[nodiscard]] int process_text();
[[nodiscard]] int process_tag();
[[nodiscard]] int process_comment();
// Writes c to the scan's output; 1 after perror on failure.
[[nodiscard]] int put_character(int c);
// For the safe markup machine at the end of the input: calls the text hook
// with the empty piece (see Scrubber) and gives its result.
[[nodiscard]] int process_end();

// Chooses the markup machine of the following scans: the classic one (the
// default), or with on set the safe one, which splits markup where an HTML5
// browser splits it and never writes anything past the hooks. Returns the
// previous choice.
bool install_safe_scan(bool on);

// For tests: with on cleared, every character goes to its state's handler,
// none is joined to the piece by the states' tables, which only spare those
// calls: pieces, lines and output must come out the same. Returns the
// previous setting (on by default).
bool install_join_runs(bool on);

// In safe mode, whether the scanner reads what follows the start tag being
// handed to the tag hook as text (a raw-text element in HTML content); the
// policy drops such content whole with a start tag it does not write.
[[nodiscard]] bool raw_text_follows();
// In safe mode, whether that start tag opened a namespace frame (<svg>,
// <math>, an HTML integration point inside them), and how many frames are
// open after it (1 in plain HTML; 0 in classic mode). The scanner reads
// what follows such a tag by the frame's rules until the frame closes, so
// the policy never writes the tag and drops what follows until then.
[[nodiscard]] bool tag_opened_frame();
[[nodiscard]] std::size_t frame_depth();
// In safe mode, whether that start tag was a self-closing foreign element
// (<svg/>, <circle/> inside SVG), which browsers close at once: nothing is
// inside it, so the policy drops the tag alone, whatever its action.
[[nodiscard]] bool tag_closed_at_once();

// In safe mode, whether the scanner is reading the text of a raw-text
// element: the text piece handed over is that text, or the end tag handed
// over is the one that ends it. False in classic mode.
[[nodiscard]] bool reading_raw_text();

// In safe mode, at the end of the input: the name (lower case) of the
// raw-text element whose text the input ended in (its end tag never came),
// or null when it ended in none; null in classic mode.
[[nodiscard]] const char* raw_text_left_open();
// And whether it ended inside the double-escaped text of a script
// ("<script><!--<script>"), which one "</script>" turns back into the
// escaped text that a second one ends.
[[nodiscard]] bool script_double_escaped();

// For the markup machines: the current line becomes the line of the next
// piece; the pending piece is forgotten.
void mark_piece_start();
void discard_piece();
// The current line becomes the line of the next piece, a tag or comment
// whose '<' was held_back bytes before the character being handled (the
// machine held "<" or "</" back until it knew markup began).
void mark_markup_start(std::size_t held_back);
// Forgets the pending piece, an unterminated tag at the end of the input
// that the machine drops, and notes its line for the report.
void drop_piece_at_end();

// The line of the unterminated tag that the last scan dropped at the end of
// its input (safe mode), 0 when it dropped none.
[[nodiscard]] unsigned long unterminated_piece_dropped();
// Where the tag or comment being handed to a hook lies in the input, for
// findings: the 1-based column, counted in bytes, of its '<' on the line
// the hook was given, and the line and column of its closing '>'. A line ends at a line feed (a
// carriage return before it is a byte of the line); a tab is one byte.
// Columns and lines 0 outside a tag or comment hook (a text run's place is
// not kept). A byte that the scan drops (NUL; ESC in safe mode) between a
// held-back '<' and the byte after it is not counted.
struct PiecePlace {
  unsigned long column = 0;
  unsigned long end_line = 0;
  unsigned long end_column = 0;
};
[[nodiscard]] PiecePlace handed_piece_place();

// The place of the unterminated tag that the last scan dropped at the end
// of its input, as far as its start (the column), all 0 when it dropped
// none.
[[nodiscard]] PiecePlace unterminated_piece_place();

#endif
