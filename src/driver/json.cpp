// JSON lines of findings.
#include "driver/json.h"

#include <array>
#include <cstring>
#include <string>

#include "scanner/lines.h"

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

// Appends prefix and the byte in two lower-case hex digits.
void append_escape(std::string& line, const char* prefix, unsigned char c) {
  static constexpr char kHexDigits[] = "0123456789abcdef";
  line.append(prefix);
  line.push_back(kHexDigits[c >> 4]);
  line.push_back(kHexDigits[c & 0x0F]);
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

// Each JSON line is built whole in memory and handed on in one write: byte
// by byte through stdio, a line stream's by-line buffering took a call
// per byte.
void append_byte(std::string& line, unsigned char c) {
  if (const char* escape = short_escape(c)) {
    line.append(escape);
  } else if (c < 0x20 || c == 0x7F) {
    append_escape(line, "\\u00", c);
  } else {
    line.push_back(static_cast<char>(c));
  }
}

}  // namespace

void append_json_string(std::string& line, const char* bytes, std::size_t length) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes);
  const unsigned char* const end = p + length;
  line.push_back('"');
  while (p < end) {
    // Most bytes of a document go as they are: a run of them is appended
    // at once, where a byte at a time made half the time of batch mode.
    const unsigned char* run = p;
    while (p < end && *p >= 0x20 && *p < 0x7F && *p != '"' && *p != '\\') {
      ++p;
    }
    line.append(reinterpret_cast<const char*>(run), static_cast<std::size_t>(p - run));
    if (p == end) {
      break;
    }
    if (*p < 0x80) {
      append_byte(line, *p++);
      continue;
    }
    const std::size_t sequence = utf8_sequence(p, end);
    if (sequence == 0) {
      append_escape(line, "\\udc", *p++);
      continue;
    }
    line.append(reinterpret_cast<const char*>(p), sequence);
    p += sequence;
  }
  line.push_back('"');
}

namespace {

void append_field(std::string& line, const char* name, const char* value) {
  line.append(",\"").append(name).append("\":");
  append_json_string(line, value, std::strlen(value));
}

void append_number(std::string& line, unsigned long value) {
  std::array<char, 24> digits{};
  const int count = std::snprintf(digits.data(), digits.size(), "%lu", value);
  line.append(digits.data(), static_cast<std::size_t>(count));
}

// The file and line that begin every object.
void begin_object(std::string& line, const char* file) {
  line.assign("{\"file\":");
  append_json_string(line, file, std::strlen(file));
  line.append(",\"line\":");
}

// Reused from line to line: no allocation once it has grown.
std::string json_line;

int put_line(std::FILE* out) { return lines_put(out, json_line.data(), json_line.size()); }

}  // namespace

int write_json_string(const char* bytes, std::size_t length, std::FILE* out) {
  json_line.clear();
  append_json_string(json_line, bytes, length);
  return put_line(out);
}

namespace {

// The members of a finding's object after its "file", from "line" to the
// closing brace and line end.
void append_finding_members(std::string& line, const Finding& finding) {
  append_number(line, finding.line);
  if (finding.column != 0) {
    line.append(",\"column\":");
    append_number(line, finding.column);
  }
  line.append(",\"kind\":\"").append(finding_kind_name(finding.kind)).append("\"");
  line.append(",\"rule\":\"").append(finding_rule(finding)).append("\"");
  if (finding.tag != nullptr) {
    append_field(line, "tag", finding.tag);
  }
  if (finding.attribute != nullptr) {
    append_field(line, "attribute", finding.attribute);
  }
  if (finding.subject == FindingSubject::kRegion) {
    line.append(",\"end_line\":");
    if (finding.end_line != 0) {
      append_number(line, finding.end_line);
    } else {
      line.append("null");
    }
  } else if (finding.end_column != 0) {
    line.append(",\"end_line\":");
    append_number(line, finding.end_line);
    line.append(",\"end_column\":");
    append_number(line, finding.end_column);
  }
  std::array<char, kFindingMessageSize> message{};
  const std::size_t length = finding_message_raw(finding, message.data(), message.size());
  line.append(",\"message\":");
  append_json_string(line, message.data(), length);
  line.append("}");
}

}  // namespace

void append_json_finding(std::string& line, const Finding& finding) {
  line.append("{\"line\":");
  append_finding_members(line, finding);
}

void append_json_text(std::string& line, const char* bytes, std::size_t length) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes);
  const unsigned char* const end = p + length;
  while (p < end) {
    const unsigned char* run = p;
    while (p < end && *p < 0x80) {
      ++p;
    }
    line.append(reinterpret_cast<const char*>(run), static_cast<std::size_t>(p - run));
    if (p == end) {
      break;
    }
    const std::size_t sequence = utf8_sequence(p, end);
    if (sequence == 0) {
      append_escape(line, "\\udc", *p++);
    } else {
      line.append(reinterpret_cast<const char*>(p), sequence);
      p += sequence;
    }
  }
}

void write_json_finding(const char* file, const Finding& finding, std::FILE* out) {
  begin_object(json_line, file);
  append_finding_members(json_line, finding);
  json_line.append("\n");
  (void)put_line(out);
}

void write_json_error(const char* file, const char* message, std::FILE* out) {
  begin_object(json_line, file);
  json_line.append("null,\"kind\":\"error\",\"rule\":\"").append(kReadErrorRule).append("\"");
  append_field(json_line, "message", message);
  json_line.append("}\n");
  (void)put_line(out);
}
