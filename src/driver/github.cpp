// GitHub Actions workflow commands. The runner decodes only %25, %0D,
// %0A and, in properties, %3A and %2C; a raw line feed would end the
// command and let a file's name start a command of its own.
#include "driver/github.h"

#include <array>
#include <cstring>
#include <string>

#include "scanner/lines.h"

namespace {

std::string command_line;

void append_number(std::string& line, unsigned long value) {
  std::array<char, 24> digits{};
  const int count = std::snprintf(digits.data(), digits.size(), "%lu", value);
  line.append(digits.data(), static_cast<std::size_t>(count));
}

// The escape of c, or null when it goes as it is or as \xHH.
const char* command_escape(unsigned char c, bool property) {
  switch (c) {
    case '%': return "%25";
    case '\r': return "%0D";
    case '\n': return "%0A";
    case ':': return property ? "%3A" : nullptr;
    case ',': return property ? "%2C" : nullptr;
    default: return nullptr;
  }
}

// An empty name (a file that could not be named) leaves the file out.
void begin_command(const char* command, const char* file) {
  command_line.assign("::").append(command);
  if (file[0] != '\0') {
    command_line.append(" file=");
    github_append_escaped(command_line, file, true);
  }
}

void end_command(const char* message, std::FILE* out) {
  command_line.append("::");
  github_append_escaped(command_line, message, false);
  command_line.push_back('\n');
  (void)lines_put(out, command_line.data(), command_line.size());
}

}  // namespace

void github_append_escaped(std::string& line, const char* text, bool property) {
  static constexpr char kHexDigits[] = "0123456789ABCDEF";
  for (const auto* p = reinterpret_cast<const unsigned char*>(text); *p != '\0'; ++p) {
    if (const char* escape = command_escape(*p, property)) {
      line.append(escape);
    } else if (*p < 0x20 || *p == 0x7F) {
      line.append("\\x").append(1, kHexDigits[*p >> 4]).append(1, kHexDigits[*p & 0x0F]);
    } else {
      line.push_back(static_cast<char>(*p));
    }
  }
}

void github_write_finding(const char* file, const Finding& finding, std::FILE* out) {
  begin_command(finding.kind == FindingKind::kRemoved ? "notice" : "warning", file);
  command_line.append(",line=");
  append_number(command_line, finding.line);
  if (finding.column != 0) {
    command_line.append(",col=");
    append_number(command_line, finding.column);
  }
  std::array<char, kFindingMessageSize> message{};
  (void)finding_message_raw(finding, message.data(), message.size());
  end_command(message.data(), out);
}

void github_write_error(const char* file, const char* message, std::FILE* out) {
  begin_command("error", file);
  end_command(message, out);
}
