// Batch mode: many documents through one policy in one process, for
// programs that filter fragments by the thousand and cannot pay a process
// start for each.
#ifndef TESSEL_BATCH_H
#define TESSEL_BATCH_H

#include <cstdio>

#include "config/config.h"

// Reads JSON lines from the descriptor in_fd, each an object with an
// "html" string and an optional "id" of any JSON value, and answers each
// line with one JSON line on out, in the same order:
//   {"id":ID,"html":"FILTERED","findings":[...]}
// with the findings as --json has them, without "file" (their lines count
// from 1 in each document), and ID null when the object had none. A line
// that is not such an object is answered {"id":ID,"error":"...","line":N},
// N its line in the input, and the run goes on. config must be installed
// in the policy, which is reset before each document. The answers held are
// handed on (fflush) whenever the input has no whole line left, so a
// caller can write a line and read its answer. Returns 0 when every line
// was a document and every answer was written, 2 after a bad line, a read
// error or a failed write (both with a message on standard error; a failed
// write ends the run).
int batch_filter(const Config* config, int in_fd, std::FILE* out);

#endif
