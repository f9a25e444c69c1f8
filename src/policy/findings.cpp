// Findings sink and the texts of findings.
//
// The warnings' texts are older than the sink and scripts read them, so the
// usual form writes each exactly as the policy always has; the messages of
// check mode are the same texts without their place.
#include "policy/findings.h"

#include <array>

namespace {

FindingSink sink = nullptr;
bool removals = false;

void write_default(const Finding& finding) { write_usual_finding(finding, stderr); }

// snprintf's count, kept within the buffer.
std::size_t fitted(int written, std::size_t size) {
  if (written < 0) {
    return 0;
  }
  return static_cast<std::size_t>(written) < size ? static_cast<std::size_t>(written) : size - 1;
}

int removed_message(const Finding& f, char* buffer, std::size_t size) {
  switch (f.subject) {
    case FindingSubject::kStartTag:
      return std::snprintf(buffer, size, "<%s> tag removed", f.tag);
    case FindingSubject::kEndTag:
      return std::snprintf(buffer, size, "</%s> tag removed", f.tag);
    case FindingSubject::kAttribute:
      return std::snprintf(buffer, size, "%s tag with attribute %s removed", f.tag, f.attribute);
    case FindingSubject::kComment:
      return std::snprintf(buffer, size, "comment removed");
    case FindingSubject::kRegion:
      return f.end_line != 0
                 ? std::snprintf(buffer, size, "<%s> region removed up to line %lu", f.tag, f.end_line)
                 : std::snprintf(buffer, size, "<%s> region removed up to the end of the input", f.tag);
    case FindingSubject::kUnterminated:
      break;
  }
  return std::snprintf(buffer, size, "unterminated tag removed at the end of the input");
}

int warning_message(const Finding& f, char* buffer, std::size_t size) {
  switch (f.subject) {
    case FindingSubject::kStartTag:
      return std::snprintf(buffer, size, "<%s> tag", f.tag);
    case FindingSubject::kEndTag:
      return std::snprintf(buffer, size, "</%s> tag", f.tag);
    case FindingSubject::kAttribute:
      return std::snprintf(buffer, size, "%s tag with attribute %s", f.tag, f.attribute);
    default:
      break;
  }
  return std::snprintf(buffer, size, "comment");
}

}  // namespace

FindingSink install_finding_sink(FindingSink new_sink) {
  const FindingSink previous = sink;
  sink = new_sink;
  return previous;
}

bool install_removal_report(bool on) {
  const bool previous = removals;
  removals = on;
  return previous;
}

bool reporting_removals() { return removals; }

void report_finding(const Finding& finding) { (sink != nullptr ? sink : write_default)(finding); }

void write_usual_finding(const Finding& f, std::FILE* out) {
  if (f.kind == FindingKind::kWarning && f.subject == FindingSubject::kStartTag) {
    std::fprintf(out, "Warning: <%s> tag on line %lu\n", f.tag, f.line);
  } else if (f.kind == FindingKind::kWarning && f.subject == FindingSubject::kEndTag) {
    std::fprintf(out, "Warning: </%s> tag on line %lu\n", f.tag, f.line);
  } else if (f.kind == FindingKind::kWarning && f.subject == FindingSubject::kComment) {
    // Printed as a signed long since the first version; the same digits.
    std::fprintf(out, "Warning: comment on line %ld\n", static_cast<long>(f.line));
  } else if (f.kind == FindingKind::kWarning && f.subject == FindingSubject::kAttribute) {
    // The common finding of a lint run: written at once, like the others.
    std::fprintf(out, "line %lu: %s tag with attribute %s\n", f.line, f.tag, f.attribute);
  } else {
    std::array<char, kFindingMessageSize> message{};
    (void)finding_message(f, message.data(), message.size());
    std::fprintf(out, "line %lu: %s\n", f.line, message.data());
  }
}

std::size_t finding_message(const Finding& f, char* buffer, std::size_t size) {
  switch (f.kind) {
    case FindingKind::kRemoved:
      return fitted(removed_message(f, buffer, size), size);
    case FindingKind::kUnsafeUrl:
      return fitted(
          std::snprintf(buffer, size, "%s tag with unsafe URL in attribute %s", f.tag, f.attribute), size);
    case FindingKind::kWarning:
      break;
  }
  return fitted(warning_message(f, buffer, size), size);
}

const char* finding_kind_name(FindingKind kind) {
  switch (kind) {
    case FindingKind::kRemoved:
      return "removed";
    case FindingKind::kUnsafeUrl:
      return "unsafe-url";
    case FindingKind::kWarning:
      break;
  }
  return "warning";
}
