// Buffered input and output of a scan, in buffers the program owns.
//
// The scanner reads the document a block at a time into the input buffer
// and finds its pieces there; the hooks write what they keep into the
// output buffer, which goes to the output stream with fwrite (and fflush)
// when it is full, at the end of the scan and, when the output is a
// terminal, after each write that holds a line end, so that a terminal
// shows the output line by line. Nothing here looks inside a FILE.
//
// Warnings are written to standard error, which the program may buffer:
// its buffer is written out before each block of output is handed on and
// before each read of input. A warning issued before a write of the output
// fails, or kills the program with SIGPIPE, is then complete on standard
// error, and a warning waits for no slow writer of the input.
//
// One scan at a time (the program is single-threaded).
#ifndef TESSEL_IOBUF_H
#define TESSEL_IOBUF_H

#include <cstddef>
#include <cstdio>

// ---- input ----

// Makes in the input of the blocks that follow. The stream must not have
// been read through stdio before: where it has a descriptor, blocks are
// read with read(2), which gives what a pipe or a terminal holds at once,
// as getc does; other streams (fmemopen, fopencookie) are read with fread.
void input_open(std::FILE* in);

// The next block of input in [*begin, *end), never empty; false at the end
// of the input or after a read error (see input_error). At least
// kInputSlack readable bytes follow *end, so a run may be probed a fixed
// number of bytes at a time past the block's end (their values are
// arbitrary).
constexpr std::size_t kInputSlack = 16;
[[nodiscard]] bool input_next_block(const char** begin, const char** end);

// Ends the reading. unread is the first byte of the last block that was not
// used (its end when all was): where the stream can seek (a file, a memory
// stream), it is put back, so that a scan that stops early leaves the rest
// of the input unread there; from a pipe or a terminal up to a block past
// that point has been taken.
void input_close(const char* unread);

// errno as the failed read left it, or 0 when the input ended at its end.
// Kept until the next input_open.
[[nodiscard]] int input_error();

// ---- output ----

// Makes out the stream whose writes are gathered in the output buffer
// (null: none). Writes to any other stream go to it at once.
void output_open(std::FILE* out);

// Writes count bytes to out as fwrite would; EOF on failure, else 0. A
// write to the open output fails when this or an earlier handing on of the
// buffer failed: nothing more is written then.
[[nodiscard]] int put_bytes(const char* bytes, std::size_t count, std::FILE* out);

// Writes '<', the count bytes and '>' to out, as three put_bytes would.
[[nodiscard]] int put_bracketed(const char* bytes, std::size_t count, std::FILE* out);

// Hands what the output buffer holds to its stream and flushes the stream;
// EOF on failure (see output_error), else 0.
[[nodiscard]] int output_flush();

// output_flush, then no stream is the open output any more.
[[nodiscard]] int output_close();

// errno as the failed write of the open output left it, or 0. Kept until
// the next output_open.
[[nodiscard]] int output_error();

#endif
