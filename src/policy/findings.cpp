// Findings sink and the texts of findings.
//
// The warnings' texts are older than the sink and scripts read them, so the
// usual form writes each exactly as the policy always has; the messages of
// check mode are the same texts without their place.
//
// Names come from the page, and a page may hold any byte in them: written
// raw, an ESC could clear, retitle or recolour the terminal or the CI log
// that shows the findings. So their control bytes are written as \xHH.
// Ordinary names hold none and are written as they are, without a copy.
#include "policy/findings.h"

#include <array>
#include <cstring>

#include "scanner/lines.h"
#include "scanner/scrub.h"

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

bool is_control(unsigned char c) { return c < 0x20 || c == 0x7F; }

bool has_controls(const char* text) {
  for (const char* p = text; *p != '\0'; ++p) {
    if (is_control(static_cast<unsigned char>(*p))) {
      return true;
    }
  }
  return false;
}

using EscapedName = std::array<char, kEscapedNameSize>;

// The name as it is shown: itself, or escaped into buffer when it holds a
// control byte. Null stays null.
const char* shown_name(const char* name, EscapedName& buffer) {
  if (name == nullptr || !has_controls(name)) {
    return name;
  }
  (void)escape_controls(name, buffer.data(), buffer.size());
  return buffer.data();
}

// The finding with its names as they are shown, kept in the buffers given.
Finding with_shown_names(const Finding& f, EscapedName& tag, EscapedName& attribute) {
  Finding shown = f;
  shown.tag = shown_name(f.tag, tag);
  shown.attribute = shown_name(f.attribute, attribute);
  return shown;
}

// A line of the usual form, built without printf: a lint run with a finding
// on every tag writes millions of them, and formatting them through stdio
// cost more than the filtering did.
class LineBuilder {
 public:
  LineBuilder& text(const char* s) {
    const std::size_t length = std::strlen(s);
    const std::size_t taken = length < kRoom - used_ ? length : kRoom - used_;
    std::memcpy(bytes_.data() + used_, s, taken);
    used_ += taken;
    return *this;
  }
  LineBuilder& number(unsigned long value) {
    std::array<char, 24> digits{};
    std::size_t count = 0;
    do {
      digits[count++] = static_cast<char>('0' + value % 10);
      value /= 10;
    } while (value != 0);
    while (count != 0 && used_ < kRoom) {
      bytes_[used_++] = digits[--count];
    }
    return *this;
  }
  // Ends the line and writes it to out.
  void write_to(std::FILE* out) {
    bytes_[used_++] = '\n';
    (void)lines_put(out, bytes_.data(), used_);
  }

 private:
  static constexpr std::size_t kRoom = kFindingMessageSize + 64;
  std::array<char, kRoom + 1> bytes_{};
  std::size_t used_ = 0;
};

// The rules in the order finding_rules lists them; the ids are named once
// here so that finding_rule and the list cannot disagree.
enum RuleIndex {
  kTagWarned,
  kAttributeWarned,
  kCommentWarned,
  kTagRemoved,
  kAttributeRemoved,
  kCommentRemoved,
  kRegionRemoved,
  kUnterminatedRemoved,
  kUnsafeUrlRule,
  kReadError,
  kRuleCount
};

constexpr FindingRule kRules[kRuleCount] = {
    {"tag-warned", "A start or end tag the configuration warns of."},
    {"attribute-warned", "An attribute the configuration warns of."},
    {"comment-warned", "A comment, which the configuration warns of."},
    {"tag-removed", "A start or end tag removed by the configuration."},
    {"attribute-removed", "An attribute removed by the configuration."},
    {"comment-removed", "A comment removed by the configuration."},
    {"region-removed", "A region removed with the start tag that opened it."},
    {"unterminated-removed", "An unterminated tag removed at the end of the input."},
    {"unsafe-url", "An attribute whose URL safe mode does not let through."},
    {kReadErrorRule, "A file that could not be read or checked."},
};

// Warnings have no region and no unterminated tag: those are removals only.
RuleIndex warned_rule(FindingSubject subject) {
  switch (subject) {
    case FindingSubject::kStartTag:
    case FindingSubject::kEndTag:
      return kTagWarned;
    case FindingSubject::kAttribute:
      return kAttributeWarned;
    default:
      break;
  }
  return kCommentWarned;
}

RuleIndex removed_rule(FindingSubject subject) {
  switch (subject) {
    case FindingSubject::kStartTag:
    case FindingSubject::kEndTag:
      return kTagRemoved;
    case FindingSubject::kAttribute:
      return kAttributeRemoved;
    case FindingSubject::kComment:
      return kCommentRemoved;
    case FindingSubject::kRegion:
      return kRegionRemoved;
    case FindingSubject::kUnterminated:
      break;
  }
  return kUnterminatedRemoved;
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

void report_finding(const Finding& finding) {
  const FindingSink to = sink != nullptr ? sink : write_default;
  if (finding.column != 0 || finding.subject == FindingSubject::kRegion) {
    to(finding);
    return;
  }
  const PiecePlace place = handed_piece_place();
  if (place.column == 0) {
    to(finding);
    return;
  }
  Finding placed = finding;
  placed.column = place.column;
  placed.end_line = place.end_line;
  placed.end_column = place.end_column;
  to(placed);
}

std::size_t escape_controls(const char* text, char* buffer, std::size_t size) {
  static constexpr char kHexDigits[] = "0123456789ABCDEF";
  std::size_t length = 0;
  for (const char* p = text; *p != '\0'; ++p) {
    const auto c = static_cast<unsigned char>(*p);
    const std::size_t width = is_control(c) ? 4 : 1;
    if (width > size - 1 - length) {
      break;  // an escape goes whole or not at all
    }
    if (width == 1) {
      buffer[length++] = *p;
      continue;
    }
    buffer[length++] = '\\';
    buffer[length++] = 'x';
    buffer[length++] = kHexDigits[c >> 4];
    buffer[length++] = kHexDigits[c & 0x0F];
  }
  buffer[length] = '\0';
  return length;
}

void append_escaped_controls(std::string& to, const char* text) {
  const std::size_t start = to.size();
  to.resize(start + 4 * std::strlen(text) + 1);
  to.resize(start + escape_controls(text, to.data() + start, to.size() - start));
}

void write_usual_finding(const Finding& finding, std::FILE* out) {
  EscapedName tag;
  EscapedName attribute;
  const Finding f = with_shown_names(finding, tag, attribute);
  LineBuilder line;
  if (f.kind == FindingKind::kWarning && f.subject == FindingSubject::kStartTag) {
    line.text("Warning: <").text(f.tag).text("> tag on line ").number(f.line);
  } else if (f.kind == FindingKind::kWarning && f.subject == FindingSubject::kEndTag) {
    line.text("Warning: </").text(f.tag).text("> tag on line ").number(f.line);
  } else if (f.kind == FindingKind::kWarning && f.subject == FindingSubject::kComment) {
    // Printed as a signed long since the first version: the same digits,
    // for any line a 64-bit count reaches before its sign bit.
    line.text("Warning: comment on line ").number(f.line);
  } else if (f.kind == FindingKind::kWarning && f.subject == FindingSubject::kAttribute) {
    line.text("line ").number(f.line).text(": ").text(f.tag).text(" tag with attribute ").text(f.attribute);
  } else {
    std::array<char, kFindingMessageSize> message{};
    (void)finding_message_raw(f, message.data(), message.size());  // the names are escaped already
    line.text("line ").number(f.line).text(": ").text(message.data());
  }
  line.write_to(out);
}

std::size_t finding_message(const Finding& finding, char* buffer, std::size_t size) {
  EscapedName tag;
  EscapedName attribute;
  return finding_message_raw(with_shown_names(finding, tag, attribute), buffer, size);
}

std::size_t finding_message_raw(const Finding& f, char* buffer, std::size_t size) {
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

const char* finding_rule(const Finding& finding) {
  switch (finding.kind) {
    case FindingKind::kRemoved:
      return kRules[removed_rule(finding.subject)].id;
    case FindingKind::kUnsafeUrl:
      return kRules[kUnsafeUrlRule].id;
    case FindingKind::kWarning:
      break;
  }
  return kRules[warned_rule(finding.subject)].id;
}

const FindingRule* finding_rules(std::size_t* count) {
  *count = kRuleCount;
  return kRules;
}
