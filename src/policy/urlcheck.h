// URL checks for safe mode: which attributes carry URLs, and whether the URL
// in an attribute value is one a browser would run or load as active content.
#ifndef TESSEL_URLCHECK_H
#define TESSEL_URLCHECK_H

#include <cstddef>
#include <string>

enum class UrlAttribute { kNone, kUrl, kSrcset };

// Whether the attribute named by the length bytes at name (in any case)
// holds a URL, a list of them (srcset), or neither.
[[nodiscard]] UrlAttribute url_attribute_kind(const char* name, std::size_t length);

// True when every URL in the raw attribute value (as it stands in the
// document, character references included) is relative or has the scheme
// http, https, mailto, ftp or tel. srcset selects the srcset syntax.
[[nodiscard]] bool url_value_is_safe(const char* value, std::size_t length, bool srcset);

// The value with character references decoded as a browser decodes them in
// an attribute value, as code points.
[[nodiscard]] std::u32string decode_attribute_value(const char* value, std::size_t length);

#endif
