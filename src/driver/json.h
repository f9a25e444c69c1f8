// Findings as JSON lines: one object per finding, for programs to read.
#ifndef TESSEL_JSON_H
#define TESSEL_JSON_H

#include <cstddef>
#include <cstdio>
#include <string>

#include "policy/findings.h"

// Writes bytes[0, length) as a JSON string, quotes included. Valid UTF-8
// goes as it is; quotes, backslashes and control characters are escaped;
// each byte that is not part of valid UTF-8 (file and tag names can hold
// any bytes) is written as \udcXX, XX its value in hex: the escape that
// Python's surrogateescape uses, so that a reader can get the exact bytes
// back (os.fsencode in Python). Returns 0, or EOF when a write failed.
int write_json_string(const char* bytes, std::size_t length, std::FILE* out);
// Appends bytes[0, length) to line as write_json_string writes them.
void append_json_string(std::string& line, const char* bytes, std::size_t length);

// Writes finding as one JSON object on a line of its own: "file", "line",
// "column" where it is known, "kind" (warning, removed, unsafe-url),
// "rule" (finding_rule), "tag" and "attribute" where the finding has one,
// "end_line" for a region (null when it ran to the end of the input) or,
// with "end_column", for a piece whose end is known, and "message".
void write_json_finding(const char* file, const Finding& finding, std::FILE* out);

// Appends finding as the object write_json_finding writes, without its
// "file" member and line end: batch mode's findings belong to a document,
// not a file.
void append_json_finding(std::string& line, const Finding& finding);

// Appends the JSON text bytes[0, length) (an echoed value, which JSON
// allows to hold any UTF-8) as it is, but for each byte that is not part
// of valid UTF-8, which becomes \udcXX as in append_json_string. Only
// valid inside strings: the text is expected to be JSON already.
void append_json_text(std::string& line, const char* bytes, std::size_t length);

// Writes an object of kind "error" and rule "read-error" for a file that
// could not be checked, with "line" null and message.
void write_json_error(const char* file, const char* message, std::FILE* out);

#endif
