// Buffered input and output of a scan (see the header for the contract).
#include "scanner/iobuf.h"

#include "scanner/lines.h"

#include <array>
#include <cerrno>
#include <cstring>

#include <poll.h>
#include <unistd.h>

namespace {

// Blocks of 64 KiB: few system calls, and both buffers stay in the cache.
constexpr std::size_t kBlockSize = std::size_t{1} << 16;

// ---- input ----

std::array<char, kBlockSize + kInputSlack> in_block{};
std::FILE* in_stream = nullptr;
int in_descriptor = -1;          // read with read(2) when the stream has one
const char* in_end = nullptr;    // the end of the last block
int in_errno = 0;

// Reads what the descriptor has, up to size bytes: 0 at its end, -1 on
// failure. An interrupted read is made again, and an input opened without
// blocking is waited for, so neither passes for an error.
long read_descriptor(char* to, std::size_t size) {
  for (;;) {
    const long got = static_cast<long>(read(in_descriptor, to, size));
    if (got >= 0) {
      return got;
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      pollfd ready{in_descriptor, POLLIN, 0};
      if (poll(&ready, 1, -1) < 0 && errno != EINTR) {
        return -1;
      }
    } else if (errno != EINTR) {
      return -1;
    }
  }
}

long read_stream(char* to, std::size_t size) {
  const std::size_t got = fread_unlocked(to, 1, size, in_stream);
  if (got == 0 && std::ferror(in_stream) != 0) {
    return -1;
  }
  return static_cast<long>(got);
}

// ---- output ----

std::array<char, kBlockSize> out_block{};
std::FILE* out_stream = nullptr;
int out_descriptor = -1;   // written with write(2) when the stream has one
bool out_by_line = false;  // the output is a terminal
int out_errno = 0;

using iobuf_detail::copy_short;
using iobuf_detail::room;

std::size_t out_used() { return static_cast<std::size_t>(room.next - out_block.data()); }

// The inline path may fill the buffer only where nothing needs checking
// after a write: not on a terminal, not after a failure. room.next never
// passes room.limit, so the room the inline path computes is never negative.
void open_room() {
  room.next = out_block.data();
  room.limit = out_by_line || out_errno != 0 ? room.next : out_block.data() + out_block.size();
}

// Writes bytes to the output stream and flushes it, the whole lines of
// the line streams (warnings) first.
int hand_on(const char* bytes, std::size_t count) {
  (void)lines_flush_all();
  errno = 0;
  if (std::fflush(out_stream) != 0) {
    out_errno = errno != 0 ? errno : EIO;
  } else if (out_descriptor >= 0) {
    // write(2) waits for an output opened without blocking, where stdio
    // would fail with EAGAIN and lose what it held.
    out_errno = lines_write(out_descriptor, bytes, count);
  } else if (count != 0 && (fwrite_unlocked(bytes, 1, count, out_stream) != count || std::fflush(out_stream) != 0)) {
    out_errno = errno != 0 ? errno : EIO;
  }
  if (out_errno != 0) {
    open_room();
    return EOF;
  }
  return 0;
}

// A terminal shows each line as soon as it is complete.
int after_write(const char* bytes, std::size_t count) {
  if (out_by_line && std::memchr(bytes, '\n', count) != nullptr) {
    return output_flush();
  }
  return 0;
}

}  // namespace

void input_open(std::FILE* in) {
  in_stream = in;
  in_descriptor = in != nullptr ? fileno(in) : -1;
  in_end = nullptr;
  in_errno = 0;
}

bool input_next_block(const char** begin, const char** end) {
  if (in_stream == nullptr) {
    return false;
  }
  // Warnings of what was read so far go out before a read that may wait.
  (void)lines_flush_all();
  const long got = in_descriptor >= 0 ? read_descriptor(in_block.data(), kBlockSize)
                                      : read_stream(in_block.data(), kBlockSize);
  if (got <= 0) {
    in_errno = got < 0 ? (errno != 0 ? errno : EIO) : 0;
    in_end = nullptr;
    return false;
  }
  *begin = in_block.data();
  *end = in_end = in_block.data() + got;
  return true;
}

void input_close(const char* unread) {
  if (in_stream != nullptr && in_end != nullptr && unread != nullptr && unread < in_end) {
    const long back = -static_cast<long>(in_end - unread);
    const int saved = errno;
    if (in_descriptor >= 0) {
      (void)lseek(in_descriptor, back, SEEK_CUR);  // fails on a pipe: the rest is gone
    } else {
      (void)std::fseek(in_stream, back, SEEK_CUR);
    }
    errno = saved;
  }
  in_stream = nullptr;
  in_end = nullptr;
}

int input_error() { return in_errno; }

void output_open(std::FILE* out) {
  out_stream = out;
  out_errno = 0;
  const int descriptor = out != nullptr ? fileno(out) : -1;
  out_descriptor = descriptor;
  out_by_line = descriptor >= 0 && isatty(descriptor) != 0;
  room.stream = out;
  open_room();
}

namespace iobuf_detail {

Room room;

// Writes that do not fit, or need checking after them: the buffer is
// handed on first when they do not fit, and they are gathered again, or
// handed on at once when they fill a buffer alone.
int put_bytes_slowly(const char* bytes, std::size_t count, std::FILE* out) {
  if (out == nullptr) {
    return EOF;
  }
  if (out != out_stream) {
    return fwrite_unlocked(bytes, 1, count, out) == count ? 0 : EOF;
  }
  if (out_errno != 0) {
    return EOF;
  }
  if (count > out_block.size() - out_used()) {
    if (output_flush() != 0) {
      return EOF;
    }
    if (count >= out_block.size()) {
      return hand_on(bytes, count) == 0 ? after_write(bytes, count) : EOF;
    }
  }
  copy_short(out_block.data() + out_used(), bytes, count);
  room.next += count;
  if (room.limit < room.next) {
    room.limit = room.next;  // on a terminal the room stays nil
  }
  return after_write(bytes, count);
}

int put_bracketed_slowly(const char* bytes, std::size_t count, std::FILE* out) {
  const bool failed = put_bytes_slowly("<", 1, out) == EOF || put_bytes_slowly(bytes, count, out) == EOF ||
                      put_bytes_slowly(">", 1, out) == EOF;
  return failed ? EOF : 0;
}

}  // namespace iobuf_detail

int output_flush() {
  if (out_stream == nullptr) {
    return 0;
  }
  if (out_errno != 0) {
    return EOF;
  }
  const std::size_t count = out_used();
  open_room();
  return hand_on(out_block.data(), count);
}

int output_close() {
  const int result = output_flush();
  out_stream = nullptr;
  room = iobuf_detail::Room{};
  return result;
}

int output_error() { return out_errno; }
