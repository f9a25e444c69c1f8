// Streams of lines (see the header for the contract).
//
// Each line stream is a stdio cookie stream that stdio buffers by line, so
// that every line reaches write_to_buffer as soon as it ends (unbuffered,
// stdio would format each call through a helper stream of its own, which
// cost a lint run a fifth more instructions). The buffer holds whole
// lines in [0, whole) and the line being written after them; only whole
// lines are handed to write(2), in pieces of at most PIPE_BUF bytes that
// end at a line end, and [0, flushed) is what has been written of them.
//
// The signal handler writes [flushed, whole) and ends the process. So that
// it never writes a byte twice or a line torn, a write(2) and the count of
// what it wrote are made with the caught signals held, and so are the
// moves of the buffer; a write that may have to wait waits in poll first,
// where signals are delivered, so that holding them never keeps a killed
// process alive behind a reader that does not read.
#include "scanner/lines.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>

#include <poll.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace {

// Large enough that a lint run with a finding on every tag makes few
// writes; the pieces handed to write(2) are PIPE_BUF bytes at most anyway.
constexpr std::size_t kBufferSize = std::size_t{1} << 16;
constexpr std::size_t kAtomicWrite = PIPE_BUF;
static_assert(kAtomicWrite <= kBufferSize);

struct LineStream {
  std::FILE* stream = nullptr;
  int fd = -1;
  bool by_line = false;  // a terminal: each line as soon as it is whole
  bool regular = false;  // a file: writes never wait for a reader
  int error = 0;
  std::size_t used = 0;
  std::atomic<std::size_t> whole{0};
  std::atomic<std::size_t> flushed{0};
  std::array<char, kBufferSize> buffer{};
};
static_assert(std::atomic<std::size_t>::is_always_lock_free, "the signal handler reads whole");

std::array<LineStream, kLineStreams> streams{};

constexpr std::array<int, 3> kCaughtSignals = {SIGHUP, SIGINT, SIGTERM};
sigset_t caught_set;
bool catching = false;

// Holds the caught signals while it lives, so that the handler never sees
// a buffer half moved or a write half made.
class HeldSignals {
 public:
  HeldSignals() {
    if (catching) {
      (void)sigprocmask(SIG_BLOCK, &caught_set, &before_);
    }
  }
  ~HeldSignals() {
    if (catching) {
      (void)sigprocmask(SIG_SETMASK, &before_, nullptr);
    }
  }
  HeldSignals(const HeldSignals&) = delete;
  HeldSignals& operator=(const HeldSignals&) = delete;

 private:
  sigset_t before_{};
};

}  // namespace

int lines_write(int fd, const char* bytes, std::size_t count) {
  while (count != 0) {
    const ssize_t written = write(fd, bytes, count);
    if (written > 0) {
      bytes += written;
      count -= static_cast<std::size_t>(written);
      continue;
    }
    if (written < 0 && errno == EINTR) {
      continue;
    }
    if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd ready{fd, POLLOUT, 0};
      if (poll(&ready, 1, -1) < 0 && errno != EINTR) {
        return errno;
      }
      continue;
    }
    return written < 0 ? errno : EIO;
  }
  return 0;
}

namespace {

// Waits until fd takes a write: 0, or the errno of the failed poll.
int wait_writable(int fd, int timeout) {
  for (;;) {
    pollfd ready{fd, POLLOUT, 0};
    const int got = poll(&ready, 1, timeout);
    if (got > 0 || (got == 0 && timeout == 0)) {
      return got > 0 ? 0 : EAGAIN;
    }
    if (got < 0 && errno != EINTR) {
      return errno;
    }
  }
}

// Writes count bytes of s (the next ones after flushed) and counts them in
// flushed: 0, or the errno of the failure.
int write_piece(LineStream& s, const char* bytes, std::size_t count) {
  bool wait_first = catching && !s.regular;
  while (count != 0) {
    if (wait_first) {
      const int error = wait_writable(s.fd, -1);
      if (error != 0) {
        return error;
      }
    }
    ssize_t written = 0;
    int error = 0;
    {
      const HeldSignals held;
      written = write(s.fd, bytes, count);
      error = errno;
      if (written > 0) {
        s.flushed.store(s.flushed.load() + static_cast<std::size_t>(written));
      }
    }
    if (written > 0) {
      bytes += written;
      count -= static_cast<std::size_t>(written);
      wait_first = catching && !s.regular;
    } else if (written < 0 && (error == EAGAIN || error == EWOULDBLOCK)) {
      wait_first = true;  // opened without blocking
    } else if (written == 0 || error != EINTR) {
      return written < 0 ? error : EIO;
    }
  }
  return 0;
}

// Where the next write of [start, end) ends: at end when the rest fits one
// atomic write, else after the last line end that fits, else (one line
// longer than that) after that line.
std::size_t piece_end(const char* buffer, std::size_t start, std::size_t end) {
  if (end - start <= kAtomicWrite) {
    return end;
  }
  for (std::size_t i = start + kAtomicWrite; i > start; --i) {
    if (buffer[i - 1] == '\n') {
      return i;
    }
  }
  const void* line_end = std::memchr(buffer + start + kAtomicWrite, '\n', end - start - kAtomicWrite);
  return line_end != nullptr ? static_cast<std::size_t>(static_cast<const char*>(line_end) - buffer) + 1 : end;
}

// Writes [0, end) of the buffer and keeps what follows. After a failure
// nothing more is written: what the stream holds is forgotten.
void write_lines(LineStream& s, std::size_t end) {
  if (end == 0) {
    return;
  }
  for (std::size_t start = 0; start < end && s.error == 0;) {
    const std::size_t stop = piece_end(s.buffer.data(), start, end);
    s.error = write_piece(s, s.buffer.data() + start, stop - start);
    start = stop;
  }
  const HeldSignals held;
  if (s.error != 0) {
    s.used = 0;
  } else {
    std::memmove(s.buffer.data(), s.buffer.data() + end, s.used - end);
    s.used -= end;
  }
  const std::size_t whole = s.whole.load();
  s.whole.store(s.error == 0 && whole > end ? whole - end : 0);
  s.flushed.store(0);
}

// Appends bytes; a full buffer writes its whole lines first, or the start
// of a line longer than the buffer.
ssize_t write_to_buffer(void* cookie, const char* bytes, std::size_t count) {
  LineStream& s = *static_cast<LineStream*>(cookie);
  const std::size_t total = count;
  while (count != 0 && s.error == 0) {
    if (s.used == s.buffer.size()) {
      const std::size_t whole = s.whole.load();
      write_lines(s, whole != 0 ? whole : s.used);
      continue;
    }
    const std::size_t taken = std::min(count, s.buffer.size() - s.used);
    std::memcpy(s.buffer.data() + s.used, bytes, taken);
    s.used += taken;
    const void* last_end = memrchr(bytes, '\n', taken);
    if (last_end != nullptr) {
      s.whole.store(s.used - taken + static_cast<std::size_t>(static_cast<const char*>(last_end) - bytes) + 1);
    }
    bytes += taken;
    count -= taken;
  }
  if (s.by_line && s.error == 0) {
    write_lines(s, s.whole.load());
  }
  if (s.error != 0) {
    errno = s.error;
    return -1;
  }
  return static_cast<ssize_t>(total);
}

int close_stream(void* cookie) {
  LineStream& s = *static_cast<LineStream*>(cookie);
  write_lines(s, s.used);
  const int error = s.error;
  s.stream = nullptr;
  s.fd = -1;
  s.used = 0;
  s.whole.store(0);
  s.error = 0;
  if (error != 0) {
    errno = error;
    return -1;
  }
  return 0;
}

LineStream* find(std::FILE* stream) {
  for (LineStream& s : streams) {
    if (s.stream != nullptr && s.stream == stream) {
      return &s;
    }
  }
  return nullptr;
}

// What the handler writes of s: the whole lines not yet written, in the
// pieces write_lines would make, as long as the descriptor takes them at
// once (a process being ended does not wait for a reader that is gone).
void write_rest_now(const LineStream& s) {
  const std::size_t end = s.whole.load();
  for (std::size_t start = s.flushed.load(); start < end;) {
    const std::size_t stop = piece_end(s.buffer.data(), start, end);
    if ((!s.regular && wait_writable(s.fd, 0) != 0) || lines_write(s.fd, s.buffer.data() + start, stop - start) != 0) {
      return;
    }
    start = stop;
  }
}

extern "C" void write_lines_and_die(int signal_number) {
  const int saved = errno;
  for (const LineStream& s : streams) {
    if (s.stream != nullptr && s.error == 0) {
      write_rest_now(s);
    }
  }
  errno = saved;
  (void)std::signal(signal_number, SIG_DFL);
  (void)std::raise(signal_number);  // delivered when the handler returns
}

}  // namespace

std::FILE* lines_open(int fd) {
  LineStream* slot = nullptr;
  for (LineStream& s : streams) {
    if (s.stream == nullptr) {
      slot = &s;
      break;
    }
  }
  if (slot == nullptr) {
    return nullptr;
  }
  const cookie_io_functions_t functions{nullptr, write_to_buffer, nullptr, close_stream};
  std::FILE* stream = fopencookie(slot, "w", functions);
  if (stream == nullptr) {
    return nullptr;
  }
  (void)std::setvbuf(stream, nullptr, _IOLBF, BUFSIZ);
  slot->fd = fd;
  slot->by_line = isatty(fd) != 0;
  struct stat status {};
  slot->regular = fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
  slot->error = 0;
  slot->used = 0;
  slot->whole.store(0);
  slot->flushed.store(0);
  slot->stream = stream;
  return stream;
}

int lines_flush_all() {
  int result = 0;
  for (LineStream& s : streams) {
    if (s.stream != nullptr) {
      write_lines(s, s.whole.load());
      result = s.error != 0 ? EOF : result;
    }
  }
  return result;
}

int lines_drain(std::FILE* stream) {
  LineStream* s = find(stream);
  if (s == nullptr) {
    return EOF;
  }
  (void)std::fflush(stream);  // a line not yet ended, from stdio's buffer
  write_lines(*s, s->used);
  return s->error != 0 ? EOF : 0;
}

int lines_close(std::FILE* stream) {
  if (find(stream) == nullptr) {
    return EOF;
  }
  return std::fclose(stream) == 0 ? 0 : EOF;
}

int lines_put(std::FILE* stream, const char* bytes, std::size_t count) {
  LineStream* s = find(stream);
  if (s == nullptr) {
    return std::fwrite(bytes, 1, count, stream) == count ? 0 : EOF;
  }
  (void)std::fflush(stream);  // what stdio holds of a line goes first
  return write_to_buffer(s, bytes, count) < 0 ? EOF : 0;
}

int lines_error(std::FILE* stream) {
  const LineStream* s = find(stream);
  return s != nullptr ? s->error : 0;
}

void lines_catch_signals() {
  if (catching) {
    return;
  }
  sigemptyset(&caught_set);
  for (const int signal_number : kCaughtSignals) {
    struct sigaction old_action {};
    if (sigaction(signal_number, nullptr, &old_action) == 0 && old_action.sa_handler == SIG_IGN) {
      continue;  // nohup: stays ignored
    }
    struct sigaction action {};
    action.sa_handler = write_lines_and_die;
    sigfillset(&action.sa_mask);
    (void)sigaction(signal_number, &action, nullptr);
    sigaddset(&caught_set, signal_number);
  }
  catching = true;
}
