// One document through the policy: the filter that every mode of the driver
// runs once per input.
#ifndef TESSEL_DOCUMENT_H
#define TESSEL_DOCUMENT_H

#include <cstdio>

#include "config/config.h"

// Filters in to out through the policy's hooks (installing them, and the
// scanner mode config asks for; config must be the one installed), after resetting the policy
// for a new document; then confirms both streams. Reports a region left
// open and an unterminated tag dropped at the end as removals, when they
// are reported. Returns 0 when all of in was filtered and written, else
// nonzero after a message on standard error: "Unable to read HTML" and
// "Unable to write HTML" with the reason, and for a named input (name not
// null) "Unable to read input file NAME" with the reason instead.
int filter_document(const Config* config, std::FILE* in, std::FILE* out, const char* name);

#endif
