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
#include <cstring>

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
inline int put_bytes(const char* bytes, std::size_t count, std::FILE* out);

// Writes '<', the count bytes and '>' to out, as three put_bytes would.
inline int put_bracketed(const char* bytes, std::size_t count, std::FILE* out);

// Hands what the output buffer holds to its stream and flushes the stream;
// EOF on failure (see output_error), else 0.
[[nodiscard]] int output_flush();

// output_flush, then no stream is the open output any more.
[[nodiscard]] int output_close();

// errno as the failed write of the open output left it, or 0. Kept until
// the next output_open.
[[nodiscard]] int output_error();

// ---- the inline part of the output ----
//
// The policy writes a few bytes at a time, many times a tag: the common
// case, bytes that fit in the buffer of the open output, is copied there
// without a call, as stdio's putc macro does. Nothing else may use these.
namespace iobuf_detail {

// Where the open output's next bytes go and where its room ends. On a
// terminal, after a failure and with no output open the room is nil, so
// that every write takes the full path.
struct Room {
  char* next = nullptr;
  char* limit = nullptr;
  std::FILE* stream = nullptr;
};
extern Room room;

int put_bytes_slowly(const char* bytes, std::size_t count, std::FILE* out);
int put_bracketed_slowly(const char* bytes, std::size_t count, std::FILE* out);

// Copies count bytes to to. Most pieces are a few bytes long: up to sixteen
// are copied as copies of fixed size that may overlap, with no call and few
// branches on the size.
[[gnu::always_inline]] inline void copy_short(char* to, const char* bytes, std::size_t count) {
  if (count > 16) {
    std::memcpy(to, bytes, count);
  } else if (count >= 8) {
    std::memcpy(to, bytes, 8);
    std::memcpy(to + count - 8, bytes + count - 8, 8);
  } else if (count >= 4) {
    std::memcpy(to, bytes, 4);
    std::memcpy(to + count - 4, bytes + count - 4, 4);
  } else if (count != 0) {
    to[0] = bytes[0];
    to[count / 2] = bytes[count / 2];
    to[count - 1] = bytes[count - 1];
  }
}

inline bool fits(std::size_t count, std::FILE* out) {
  return out == room.stream && count <= static_cast<std::size_t>(room.limit - room.next);
}

}  // namespace iobuf_detail

// Inlined everywhere, whatever the compiler's count of call sites says: a
// call would cost more than the copy it makes.
[[gnu::always_inline]] inline int put_bytes(const char* bytes, std::size_t count, std::FILE* out) {
  using namespace iobuf_detail;
  if (!fits(count, out)) {
    return put_bytes_slowly(bytes, count, out);
  }
  copy_short(room.next, bytes, count);
  room.next += count;
  return 0;
}

[[gnu::always_inline]] inline int put_bracketed(const char* bytes, std::size_t count, std::FILE* out) {
  using namespace iobuf_detail;
  if (!fits(count + 2, out)) {
    return put_bracketed_slowly(bytes, count, out);
  }
  char* const to = room.next;
  to[0] = '<';
  copy_short(to + 1, bytes, count);
  to[count + 1] = '>';
  room.next += count + 2;
  return 0;
}

#endif
