// A JSON reader for the objects of batch mode. It is a recursive descent
// over the line, bounded in depth: values other than the "html" string are
// only checked, and the id is kept as the span of its text.
#include "driver/jsonread.h"

#include <cstdint>
#include <cstring>

namespace {

struct Reader {
  const char* p;
  const char* end;
  const char* error = nullptr;
};

bool fail(Reader& r, const char* message) {
  if (r.error == nullptr) {
    r.error = message;
  }
  return false;
}

void skip_space(Reader& r) {
  while (r.p < r.end && (*r.p == ' ' || *r.p == '\t' || *r.p == '\n' || *r.p == '\r')) {
    ++r.p;
  }
}

bool take(Reader& r, char c) {
  skip_space(r);
  if (r.p < r.end && *r.p == c) {
    ++r.p;
    return true;
  }
  return false;
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  return -1;
}

// The four hex digits after a "\u" at r.p; -1 when they are not there.
long read_hex4(Reader& r) {
  if (r.end - r.p < 4) {
    return -1;
  }
  long value = 0;
  for (int i = 0; i < 4; ++i) {
    const int digit = hex_value(r.p[i]);
    if (digit < 0) {
      return -1;
    }
    value = value * 16 + digit;
  }
  r.p += 4;
  return value;
}

void append_utf8(std::string* out, std::uint32_t code) {
  if (code < 0x80) {
    out->push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (code >> 6)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else if (code < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (code >> 12)));
    out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (code >> 18)));
    out->push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

// After "\u" XXXX: a surrogate pair makes one character, a lone
// U+DC80-U+DCFF is the byte it escapes, any other lone surrogate is wrong.
bool read_unicode_escape(Reader& r, std::string* out) {
  const long first = read_hex4(r);
  if (first < 0) {
    return fail(r, "A \\u escape needs four hex digits.");
  }
  if (first >= 0xD800 && first <= 0xDBFF) {
    if (r.end - r.p >= 2 && r.p[0] == '\\' && r.p[1] == 'u') {
      r.p += 2;
      const long second = read_hex4(r);
      if (second >= 0xDC00 && second <= 0xDFFF) {
        if (out != nullptr) {
          append_utf8(out, static_cast<std::uint32_t>(0x10000 + ((first - 0xD800) << 10) + (second - 0xDC00)));
        }
        return true;
      }
    }
    return fail(r, "A high surrogate escape must be followed by a low one.");
  }
  if (first >= 0xDC80 && first <= 0xDCFF) {
    if (out != nullptr) {
      out->push_back(static_cast<char>(first - 0xDC00));
    }
    return true;
  }
  if (first >= 0xDC00 && first <= 0xDFFF) {
    return fail(r, "A low surrogate escape stands alone.");
  }
  if (out != nullptr) {
    append_utf8(out, static_cast<std::uint32_t>(first));
  }
  return true;
}

char simple_escape(char c) {
  switch (c) {
    case '"': return '"';
    case '\\': return '\\';
    case '/': return '/';
    case 'b': return '\b';
    case 'f': return '\f';
    case 'n': return '\n';
    case 'r': return '\r';
    case 't': return '\t';
    default: return '\0';
  }
}

// A string from its opening quote at r.p; decoded into out unless it is
// null. The runs between escapes are copied at once.
bool read_string(Reader& r, std::string* out) {
  ++r.p;
  while (true) {
    const char* run = r.p;
    while (r.p < r.end && *r.p != '"' && *r.p != '\\' && static_cast<unsigned char>(*r.p) >= 0x20) {
      ++r.p;
    }
    if (out != nullptr) {
      out->append(run, static_cast<std::size_t>(r.p - run));
    }
    if (r.p >= r.end) {
      return fail(r, "A string is not closed.");
    }
    if (*r.p == '"') {
      ++r.p;
      return true;
    }
    if (*r.p != '\\') {
      return fail(r, "A string holds a control character.");
    }
    ++r.p;
    if (r.p >= r.end) {
      return fail(r, "A string is not closed.");
    }
    const char escape = *r.p++;
    if (escape == 'u') {
      if (!read_unicode_escape(r, out)) {
        return false;
      }
    } else if (const char decoded = simple_escape(escape); decoded != '\0') {
      if (out != nullptr) {
        out->push_back(decoded);
      }
    } else {
      return fail(r, "A string holds an unknown escape.");
    }
  }
}

bool is_digit(const Reader& r) { return r.p < r.end && *r.p >= '0' && *r.p <= '9'; }

void skip_digits(Reader& r) {
  while (is_digit(r)) {
    ++r.p;
  }
}

bool read_number(Reader& r) {
  if (*r.p == '-') {
    ++r.p;
  }
  if (!is_digit(r)) {
    return fail(r, "A number has no digits.");
  }
  if (*r.p == '0') {
    ++r.p;
  } else {
    skip_digits(r);
  }
  if (r.p < r.end && *r.p == '.') {
    ++r.p;
    if (!is_digit(r)) {
      return fail(r, "A number has no digits after its point.");
    }
    skip_digits(r);
  }
  if (r.p < r.end && (*r.p == 'e' || *r.p == 'E')) {
    ++r.p;
    if (r.p < r.end && (*r.p == '+' || *r.p == '-')) {
      ++r.p;
    }
    if (!is_digit(r)) {
      return fail(r, "A number has no digits in its exponent.");
    }
    skip_digits(r);
  }
  return true;
}

bool read_word(Reader& r, const char* word) {
  const std::size_t length = std::strlen(word);
  if (static_cast<std::size_t>(r.end - r.p) < length || std::memcmp(r.p, word, length) != 0) {
    return fail(r, "A value is not JSON.");
  }
  r.p += length;
  return true;
}

bool skip_value(Reader& r, int depth);

bool skip_members(Reader& r, int depth) {
  if (take(r, '}')) {
    return true;
  }
  do {
    skip_space(r);
    if (r.p >= r.end || *r.p != '"' || !read_string(r, nullptr)) {
      return fail(r, "An object's member has no name.");
    }
    if (!take(r, ':')) {
      return fail(r, "A member's name is not followed by a colon.");
    }
    if (!skip_value(r, depth)) {
      return false;
    }
  } while (take(r, ','));
  return take(r, '}') || fail(r, "An object is not closed.");
}

bool skip_elements(Reader& r, int depth) {
  if (take(r, ']')) {
    return true;
  }
  do {
    if (!skip_value(r, depth)) {
      return false;
    }
  } while (take(r, ','));
  return take(r, ']') || fail(r, "An array is not closed.");
}

// Any value, checked and passed over.
bool skip_value(Reader& r, int depth) {
  skip_space(r);
  if (r.p >= r.end) {
    return fail(r, "A value is missing.");
  }
  switch (*r.p) {
    case '"': return read_string(r, nullptr);
    case '{':
    case '[':
      if (depth >= kJsonDepthMax) {
        return fail(r, "Values are nested too deeply.");
      }
      ++r.p;
      return *(r.p - 1) == '{' ? skip_members(r, depth + 1) : skip_elements(r, depth + 1);
    case 't': return read_word(r, "true");
    case 'f': return read_word(r, "false");
    case 'n': return read_word(r, "null");
    default: break;
  }
  if (*r.p == '-' || is_digit(r)) {
    return read_number(r);
  }
  return fail(r, "A value is not JSON.");
}

bool names(const std::string& name, const char* wanted) { return name == wanted; }

// One member of the top-level object.
bool read_member(Reader& r, BatchRequest* request, std::string& name) {
  skip_space(r);
  name.clear();
  if (r.p >= r.end || *r.p != '"' || !read_string(r, &name)) {
    return fail(r, "An object's member has no name.");
  }
  if (!take(r, ':')) {
    return fail(r, "A member's name is not followed by a colon.");
  }
  skip_space(r);
  if (names(name, "html") && r.p < r.end && *r.p == '"') {
    request->html.clear();
    request->has_html = true;
    return read_string(r, &request->html);
  }
  const char* start = r.p;
  if (!skip_value(r, 1)) {
    return false;
  }
  if (names(name, "id")) {
    request->id = std::string_view(start, static_cast<std::size_t>(r.p - start));
  } else if (names(name, "html")) {
    request->has_html = false;  // a later "html" that is no string wins, as a JSON reader keeps the last
  }
  return true;
}

}  // namespace

const char* read_batch_request(const char* begin, const char* end, BatchRequest* request) {
  Reader r{begin, end};
  request->id = {};
  request->html.clear();
  request->has_html = false;
  if (!take(r, '{')) {
    return "The line is not a JSON object.";
  }
  std::string name;
  if (!take(r, '}')) {
    do {
      if (!read_member(r, request, name)) {
        return r.error;
      }
    } while (take(r, ','));
    if (!take(r, '}')) {
      return "An object is not closed.";
    }
  }
  skip_space(r);
  if (r.p != r.end) {
    return "Something follows the object on its line.";
  }
  if (!request->has_html) {
    return "The object has no \"html\" string.";
  }
  return nullptr;
}
