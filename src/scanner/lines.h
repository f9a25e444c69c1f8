// Streams of lines: what tessel writes as lines (warnings, findings,
// reports, JSON, messages) goes out in whole lines only.
//
// Processes that share a pipe or a file (xargs -P, 2>&1) would splice
// their lines where stdio's blocks end. A line stream gathers what is
// written to it and writes only whole lines, at most PIPE_BUF bytes a
// write, which the system writes to a pipe in one piece: lines of two
// processes never interleave inside a line. A line longer than PIPE_BUF
// goes out in a write of its own. Many lines still go out a write.
//
// A line stream is a stdio stream (written with fprintf, fputs, perror)
// that stdio buffers by line: every whole line written is in this module's
// buffer when the call returns, so that a signal handler can write out the
// whole lines already there. Its descriptor is written with write(2): an
// interrupted write is made again, and a descriptor opened without
// blocking is waited for with poll.
//
// At most kLineStreams line streams are open at a time (standard error and
// check mode's findings); the program is single-threaded.
#ifndef TESSEL_LINES_H
#define TESSEL_LINES_H

#include <cstddef>
#include <cstdio>

constexpr std::size_t kLineStreams = 2;

// A new line stream on descriptor fd, which stays open when the stream is
// closed; null when there is no room or memory for one. On a terminal each
// line is written as soon as it is complete; elsewhere lines wait for
// lines_flush, for a full buffer or for lines_close.
[[nodiscard]] std::FILE* lines_open(int fd);

// Writes the whole lines that every open line stream holds; a line not yet
// ended waits for its end. 0, or EOF when a write failed now or before.
int lines_flush_all();

// Writes everything stream holds, the unended line included; EOF when a
// write of it failed now or before, else 0. stream must be a line stream.
int lines_drain(std::FILE* stream);

// lines_drain, then closes stream (not its descriptor); EOF when a write
// of it ever failed, else 0.
int lines_close(std::FILE* stream);

// Writes count bytes to stream as fwrite would (0, or EOF on failure); to
// a line stream they go straight to its buffer, past stdio's formatting,
// which a lint run with a finding on every tag would spend most of its
// time in otherwise.
int lines_put(std::FILE* stream, const char* bytes, std::size_t count);

// errno as the first failed write of the line stream left it, 0 when none
// failed (also for a stream that is not a line stream).
[[nodiscard]] int lines_error(std::FILE* stream);

// Writes count bytes to fd with write(2), making an interrupted write
// again and waiting with poll when fd was opened without blocking: 0, or
// the errno of the failure. Safe to call from a signal handler.
[[nodiscard]] int lines_write(int fd, const char* bytes, std::size_t count);

// From now on, SIGHUP, SIGINT and SIGTERM (unless ignored when this is
// called) write out the whole lines every line stream holds, then end the
// process by the same signal, as it would have ended without the handler.
void lines_catch_signals();

#endif
