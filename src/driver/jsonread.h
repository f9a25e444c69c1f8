// Reading the JSON lines of batch mode: one object a line, of which two
// members matter, "id" (any JSON value, kept as its text to be echoed) and
// "html" (a string, decoded to the document's bytes).
#ifndef TESSEL_JSONREAD_H
#define TESSEL_JSONREAD_H

#include <cstddef>
#include <string>
#include <string_view>

struct BatchRequest {
  std::string_view id;  // the id's JSON text within the line; empty when absent
  std::string html;     // the document's bytes
  bool has_html = false;
};

// Reads the JSON object in [begin, end) (white space around it allowed)
// into *request. Returns null on success, else a static sentence saying
// what is wrong; request->id is set once the id has been read, even when
// a later part of the line is wrong. Strings decode as JSON has them,
// with one addition that makes the bytes of any document reachable: a
// lone \udcXX escape (a low surrogate from U+DC80 to U+DCFF, as Python's
// surrogateescape writes them) is the byte XX. Bytes that are not UTF-8
// are taken as they are. Nesting deeper than kJsonDepthMax is refused.
constexpr int kJsonDepthMax = 256;
[[nodiscard]] const char* read_batch_request(const char* begin, const char* end, BatchRequest* request);

#endif
