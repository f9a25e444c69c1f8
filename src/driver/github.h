// Findings as GitHub Actions workflow commands: one line per finding,
// which the runner shows as an annotation on the file and line.
#ifndef TESSEL_GITHUB_H
#define TESSEL_GITHUB_H

#include <cstdio>
#include <string>

#include "policy/findings.h"

// Writes "::warning file=F,line=L::message" for a warning or an unsafe
// URL, "::notice ..." for a removal.
void github_write_finding(const char* file, const Finding& finding, std::FILE* out);

// Writes "::error file=F::message" for a file that could not be checked.
void github_write_error(const char* file, const char* message, std::FILE* out);

// Appends text to line escaped as a workflow command needs: '%' as %25,
// CR as %0D, LF as %0A and, in a property value (property), ':' as %3A
// and ',' as %2C; every other control byte as \xHH, as the text form has
// it, since the runner has no escape for them. Other bytes go as they are.
void github_append_escaped(std::string& line, const char* text, bool property);

#endif
