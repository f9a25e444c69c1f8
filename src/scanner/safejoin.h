// Inside the safe-mode scanner: the bytes that only join the pending piece,
// found many at a time. Each state's table is an optimisation of its
// handler's "append" rows and must agree with them; the scanner's tests and
// its fuzz target filter with and without the tables. Not for use outside
// src/scanner.
#ifndef TESSEL_SAFEJOIN_H
#define TESSEL_SAFEJOIN_H

#include "scanner/joins.h"

namespace safescan {

// Moves the machine, from state, over the bytes of [p, end) that only join
// the pending piece, whether they keep its state or move it; counts the
// line feeds among them in place. Returns the first byte its handler must see, or
// end; state is then the state that byte is read in.
[[nodiscard]] const char* join_states(int& state, const char* p, const char* end, runs::LinePlace& place);

}  // namespace safescan

#endif
