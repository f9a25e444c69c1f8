// Findings: what the policy has to say about a document (warnings, unsafe
// URLs, and on request every piece it removes), reported through one
// replaceable sink so that the driver can put them where its mode wants.
#ifndef TESSEL_FINDINGS_H
#define TESSEL_FINDINGS_H

#include <cstddef>
#include <cstdio>

enum class FindingKind { kWarning, kRemoved, kUnsafeUrl };

// What a finding is about.
enum class FindingSubject {
  kStartTag,      // tag: the upper-case name
  kEndTag,        // tag: the upper-case name, without the '/'
  kAttribute,     // tag and attribute: upper-case names
  kComment,       // neither
  kRegion,        // tag: the start tag that opened it; end_line: where it ended
  kUnterminated,  // an unterminated tag at the end of the input
};

// One finding. The names are valid only during the sink's call.
struct Finding {
  FindingKind kind;
  FindingSubject subject;
  unsigned long line;      // the input line on which the piece began
  unsigned long end_line;  // a region: the line of its end, 0 at the end of the input
  const char* tag;         // null when none
  const char* attribute;   // null when none
};

using FindingSink = void (*)(const Finding& finding);

// Makes sink receive every finding from now on and returns the one before;
// null restores the default, which writes each finding on standard error
// as write_usual_finding does.
FindingSink install_finding_sink(FindingSink sink);

// Whether removals are reported (off at start); returns the previous choice.
bool install_removal_report(bool on);
// Whether the policy reports each piece it removes.
[[nodiscard]] bool reporting_removals();

// Hands finding to the installed sink.
void report_finding(const Finding& finding);

// Writes finding as the filter's usual mode has it, with its line end:
// warnings in their long-standing forms ("Warning: <B> tag on line 3",
// "line 3: A tag with attribute ONCLICK"), removals as "line 3: " and the
// message.
void write_usual_finding(const Finding& finding, std::FILE* out);

// Room for any finding's message: names are at most 127 bytes.
constexpr std::size_t kFindingMessageSize = 512;

// Puts the message of finding alone, without place or line end ("<B> tag",
// "A tag with attribute ONCLICK removed"), NUL-terminated in buffer (size
// bytes, not 0; cut short to fit); returns its length.
std::size_t finding_message(const Finding& finding, char* buffer, std::size_t size);

// The name of the finding's kind: "warning", "removed", "unsafe-url".
[[nodiscard]] const char* finding_kind_name(FindingKind kind);

#endif
