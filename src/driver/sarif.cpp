// The SARIF log of check mode. Each result is built whole as one line and
// written with lines_put, like the JSON lines, so that a line stream never
// splits one; the head and the tail are lines of their own.
#include "driver/sarif.h"

#include <array>
#include <cstring>
#include <string>

#include "driver/check.h"
#include "driver/json.h"
#include "scanner/lines.h"

namespace {

// Reused from result to result: no allocation once it has grown.
std::string sarif_line;
std::string uri;
bool first_result = true;

int put_line(std::FILE* out) { return lines_put(out, sarif_line.data(), sarif_line.size()); }

// A byte that a URI's path takes as it is: the unreserved ones, '/' and
// the sub-delimiters but for ':' (a colon in the first segment of a
// relative reference would make it a scheme) and '@'.
bool keeps_in_path(unsigned char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
    return true;
  }
  return std::strchr("-._~/!$&'()*+,;=", c) != nullptr && c != '\0';
}

void append_number(std::string& line, unsigned long value) {
  std::array<char, 24> digits{};
  const int count = std::snprintf(digits.data(), digits.size(), "%lu", value);
  line.append(digits.data(), static_cast<std::size_t>(count));
}

const char* level_of(FindingKind kind) { return kind == FindingKind::kRemoved ? "note" : "warning"; }

// Starts a result: its separator from the one before, rule and level.
void begin_result(const char* rule, const char* level) {
  sarif_line.assign(first_result ? "    " : "   ,");
  first_result = false;
  sarif_line.append("{\"ruleId\":\"").append(rule).append("\",\"level\":\"").append(level).append("\"");
}

void append_message(const char* message, std::size_t length) {
  sarif_line.append(",\"message\":{\"text\":");
  append_json_string(sarif_line, message, length);
  sarif_line.append("}");
}

// The region of a finding: its lines, and its columns where they are
// known. SARIF's endColumn is the column after the region's last
// character, so one past the '>'.
void append_region(const Finding& finding) {
  sarif_line.append(",\"region\":{\"startLine\":");
  append_number(sarif_line, finding.line);
  if (finding.column != 0) {
    sarif_line.append(",\"startColumn\":");
    append_number(sarif_line, finding.column);
  }
  if (finding.column != 0 && finding.end_column != 0) {
    sarif_line.append(",\"endLine\":");
    append_number(sarif_line, finding.end_line);
    sarif_line.append(",\"endColumn\":");
    append_number(sarif_line, finding.end_column + 1);
  }
  sarif_line.append("}");
}

// The location of a result: the file and, for a finding, its region.
void append_location(const char* file, const Finding* finding) {
  uri.clear();
  sarif_file_uri(file, uri);
  sarif_line.append(",\"locations\":[{\"physicalLocation\":{\"artifactLocation\":{\"uri\":");
  append_json_string(sarif_line, uri.data(), uri.size());
  sarif_line.append("}");
  if (finding != nullptr && finding->line != 0) {
    append_region(*finding);
  }
  sarif_line.append("}}]");
}

void append_rules() {
  std::size_t count = 0;
  const FindingRule* rules = finding_rules(&count);
  for (std::size_t i = 0; i < count; ++i) {
    sarif_line.append(i == 0 ? "            " : "           ,");
    sarif_line.append("{\"id\":\"").append(rules[i].id).append("\",\"shortDescription\":{\"text\":");
    append_json_string(sarif_line, rules[i].description, std::strlen(rules[i].description));
    sarif_line.append("}}\n");
  }
}

}  // namespace

void sarif_file_uri(const char* file, std::string& out) {
  static constexpr char kHexDigits[] = "0123456789ABCDEF";
  if (std::strcmp(file, kStdinName) == 0) {
    out.append("-");
    return;
  }
  if (file[0] == '/') {
    out.append("file://");
  }
  for (const auto* p = reinterpret_cast<const unsigned char*>(file); *p != '\0'; ++p) {
    if (keeps_in_path(*p)) {
      out.push_back(static_cast<char>(*p));
    } else {
      out.push_back('%');
      out.push_back(kHexDigits[*p >> 4]);
      out.push_back(kHexDigits[*p & 0x0F]);
    }
  }
}

void sarif_begin(std::FILE* out) {
  first_result = true;
  sarif_line.assign(
      "{\n"
      "  \"$schema\": \"https://json.schemastore.org/sarif-2.1.0.json\",\n"
      "  \"version\": \"2.1.0\",\n"
      "  \"runs\": [{\n"
      "    \"tool\": {\n"
      "      \"driver\": {\n"
      "        \"name\": \"tessel\",\n"
      "        \"version\": \"" TESSEL_VERSION "\",\n"
      "        \"rules\": [\n");
  append_rules();
  sarif_line.append(
      "        ]\n"
      "      }\n"
      "    },\n"
      "    \"results\": [\n");
  (void)put_line(out);
}

void sarif_write_finding(const char* file, const Finding& finding, std::FILE* out) {
  begin_result(finding_rule(finding), level_of(finding.kind));
  std::array<char, kFindingMessageSize> message{};
  append_message(message.data(), finding_message_raw(finding, message.data(), message.size()));
  append_location(file, &finding);
  sarif_line.append("}\n");
  (void)put_line(out);
}

void sarif_write_error(const char* file, const char* message, std::FILE* out) {
  begin_result(kReadErrorRule, "error");
  append_message(message, std::strlen(message));
  if (file[0] != '\0') {
    append_location(file, nullptr);
  }
  sarif_line.append("}\n");
  (void)put_line(out);
}

void sarif_end(bool successful, std::FILE* out) {
  sarif_line.assign("    ],\n    \"invocations\": [{\"executionSuccessful\": ");
  sarif_line.append(successful ? "true" : "false").append("}]\n  }]\n}\n");
  (void)put_line(out);
}
