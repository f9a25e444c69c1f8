// URL checks for safe mode: which attributes carry URLs, and whether the URL
// in an attribute value is one a browser would run or load as active content.
#ifndef TESSEL_URLCHECK_H
#define TESSEL_URLCHECK_H

#include <cstddef>
#include <string>

#include "config/config.h"

// kRefresh is content, which holds a URL on <meta http-equiv=refresh>;
// kSrcdoc is srcdoc, a document that an <iframe> runs in the page's origin.
// Which tags they act on is for the caller to judge.
enum class UrlAttribute { kNone, kUrl, kSrcset, kRefresh, kSrcdoc };

// Whether the attribute named by the length bytes at name (in any case)
// holds a URL, a list of them (srcset), a refresh (content), a document
// (srcdoc), or none of these.
[[nodiscard]] UrlAttribute url_attribute_kind(const char* name, std::size_t length);

// True when every URL in the raw attribute value (as it stands in the
// document, character references included) is relative or has the scheme
// http, https, mailto, ftp or tel. srcset selects the srcset syntax.
[[nodiscard]] bool url_value_is_safe(const char* value, std::size_t length, bool srcset);
// The same, with the URL rules of config: its SCHEMES, when given, in
// place of that list, and its RELATIVE: DROP refusing protocol-relative
// URLs ("//host/path", slashes or backslashes). A null config has no rules.
[[nodiscard]] bool url_value_is_safe(const char* value, std::size_t length, bool srcset, const Config* config);

// True when the raw value of a refresh's content attribute, read as
// browsers read it ("5; url='...'"), holds no URL, or a URL that
// url_value_is_safe accepts; a value that browsers do not take for a
// refresh holds none.
[[nodiscard]] bool refresh_value_is_safe(const char* value, std::size_t length);
[[nodiscard]] bool refresh_value_is_safe(const char* value, std::size_t length, const Config* config);

// The value with character references decoded as a browser decodes them in
// an attribute value, as code points.
[[nodiscard]] std::u32string decode_attribute_value(const char* value, std::size_t length);

#endif
