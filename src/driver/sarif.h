// Findings as one SARIF 2.1.0 log, for code-scanning services. The log is
// streamed: its head, then each result as it comes, then its tail, so that
// memory stays flat however many files and findings there are.
#ifndef TESSEL_SARIF_H
#define TESSEL_SARIF_H

#include <cstdio>
#include <string>

#include "policy/findings.h"

// Writes the head of the log: the tool, its rules (finding_rules) and the
// start of the results. Call once, before any result.
void sarif_begin(std::FILE* out);

// Writes finding in file as a result: its rule, a level (warning for
// warnings and unsafe URLs, note for removals), the message and the
// file's URI with the finding's line.
void sarif_write_finding(const char* file, const Finding& finding, std::FILE* out);

// Writes a result of rule read-error, level error, for a file that could
// not be read or checked; without a location when the name is empty.
void sarif_write_error(const char* file, const char* message, std::FILE* out);

// Writes the tail of the log: the end of the results and an invocation
// that says whether the run succeeded (every file read and checked).
void sarif_end(bool successful, std::FILE* out);

// Appends to uri the name of a file as a URI reference, bytes outside the
// unreserved and path characters percent-encoded ("a b.html" becomes
// "a%20b.html", ':' too, lest "c:x.html" read as a scheme); an absolute
// name becomes a file: URI. "(standard input)" becomes "-".
void sarif_file_uri(const char* file, std::string& uri);

#endif
