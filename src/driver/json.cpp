// JSON lines of findings.
#include "driver/json.h"

#include <array>
#include <cstring>

namespace {

// The length of the valid UTF-8 sequence at p (end bounds it), 0 when
// the byte at p does not begin one: no overlong forms, no surrogates,
// nothing past U+10FFFF.
std::size_t utf8_sequence(const unsigned char* p, const unsigned char* end) {
  const unsigned char lead = p[0];
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;  // the allowed range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    low = lead == 0xE0 ? 0xA0 : 0x80;
    high = lead == 0xED ? 0x9F : 0xBF;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    low = lead == 0xF0 ? 0x90 : 0x80;
    high = lead == 0xF4 ? 0x8F : 0xBF;
  } else {
    return 0;
  }
  if (static_cast<std::size_t>(end - p) < length || p[1] < low || p[1] > high) {
    return 0;
  }
  for (std::size_t i = 2; i < length; ++i) {
    if (p[i] < 0x80 || p[i] > 0xBF) {
      return 0;
    }
  }
  return length;
}

// The escape of an ASCII byte, or null when it goes as it is.
const char* short_escape(unsigned char c) {
  switch (c) {
    case '"': return "\\\"";
    case '\\': return "\\\\";
    case '\n': return "\\n";
    case '\r': return "\\r";
    case '\t': return "\\t";
    case '\b': return "\\b";
    case '\f': return "\\f";
    default: return nullptr;
  }
}

int write_byte(unsigned char c, std::FILE* out) {
  if (const char* escape = short_escape(c)) {
    return std::fputs(escape, out) < 0 ? EOF : 0;
  }
  if (c < 0x20 || c == 0x7F) {
    return std::fprintf(out, "\\u%04x", c) < 0 ? EOF : 0;
  }
  return std::fputc(c, out) == EOF ? EOF : 0;
}

void write_field(const char* name, const char* value, std::FILE* out) {
  std::fprintf(out, ",\"%s\":", name);
  (void)write_json_string(value, std::strlen(value), out);
}

// The file and line that begin every object.
void write_place(const char* file, const char* line, std::FILE* out) {
  std::fputs("{\"file\":", out);
  (void)write_json_string(file, std::strlen(file), out);
  std::fprintf(out, ",\"line\":%s", line);
}

}  // namespace

int write_json_string(const char* bytes, std::size_t length, std::FILE* out) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes);
  const unsigned char* const end = p + length;
  int status = std::fputc('"', out) == EOF ? EOF : 0;
  while (p < end) {
    if (*p < 0x80) {
      status |= write_byte(*p++, out);
      continue;
    }
    const std::size_t sequence = utf8_sequence(p, end);
    if (sequence == 0) {
      status |= std::fprintf(out, "\\udc%02x", *p++) < 0 ? EOF : 0;
      continue;
    }
    status |= std::fwrite(p, 1, sequence, out) == sequence ? 0 : EOF;
    p += sequence;
  }
  status |= std::fputc('"', out) == EOF ? EOF : 0;
  return status != 0 ? EOF : 0;
}

void write_json_finding(const char* file, const Finding& finding, std::FILE* out) {
  std::array<char, 32> line{};
  std::snprintf(line.data(), line.size(), "%lu", finding.line);
  write_place(file, line.data(), out);
  std::fprintf(out, ",\"kind\":\"%s\"", finding_kind_name(finding.kind));
  if (finding.tag != nullptr) {
    write_field("tag", finding.tag, out);
  }
  if (finding.attribute != nullptr) {
    write_field("attribute", finding.attribute, out);
  }
  if (finding.subject == FindingSubject::kRegion) {
    if (finding.end_line != 0) {
      std::fprintf(out, ",\"end_line\":%lu", finding.end_line);
    } else {
      std::fputs(",\"end_line\":null", out);
    }
  }
  std::array<char, kFindingMessageSize> message{};
  const std::size_t length = finding_message_raw(finding, message.data(), message.size());
  std::fputs(",\"message\":", out);
  (void)write_json_string(message.data(), length, out);
  std::fputs("}\n", out);
}

void write_json_error(const char* file, const char* message, std::FILE* out) {
  write_place(file, "null", out);
  std::fputs(",\"kind\":\"error\"", out);
  write_field("message", message, out);
  std::fputs("}\n", out);
}
