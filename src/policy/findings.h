// Findings: what the policy has to say about a document (warnings, unsafe
// URLs, and on request every piece it removes), reported through one
// replaceable sink so that the driver can put them where its mode wants.
#ifndef TESSEL_FINDINGS_H
#define TESSEL_FINDINGS_H

#include <cstddef>
#include <cstdio>
#include <string>

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
//
// Columns are 1-based and counted in bytes from the start of the line, 0
// when unknown. column is that of the '<' that began the piece (for an
// attribute, of its tag); end_column that of the piece's closing '>', on
// end_line. A region's column is that of the '<' of the start tag that
// opened it, its own end_line where it ended, and it has no end_column; an
// unterminated tag has no end.
struct Finding {
  FindingKind kind;
  FindingSubject subject;
  unsigned long line;      // the input line on which the piece began
  unsigned long end_line;  // a region: the line of its end, 0 at the end of the input;
                           // else the line of end_column
  const char* tag;         // null when none
  const char* attribute;   // null when none
  unsigned long column = 0;
  unsigned long end_column = 0;
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

// Hands finding to the installed sink. A finding made while the scanner
// hands a tag or comment to a hook, without columns of its own, is about
// that piece: it gets the piece's columns (handed_piece_place in scrub.h).
void report_finding(const Finding& finding);

// Writes finding as the filter's usual mode has it, with its line end:
// warnings in their long-standing forms ("Warning: <B> tag on line 3",
// "line 3: A tag with attribute ONCLICK"), removals as "line 3: " and the
// message; control bytes of the names escaped as finding_message has them.
void write_usual_finding(const Finding& finding, std::FILE* out);

// Writes text into buffer with each control byte (0x00-0x1F, tab included,
// and 0x7F) as \xHH, two upper-case hex digits, and every other byte as it
// is: a name taken from a page can then neither move nor recolour the
// terminal or the log that shows it. NUL-terminated, cut short to fit size
// bytes (size > 0), never inside an escape; returns the length written.
std::size_t escape_controls(const char* text, char* buffer, std::size_t size);

// The whole of text escaped as escape_controls does it, for texts of any
// length (file names, messages that hold them) appended to to.
void append_escaped_controls(std::string& to, const char* text);

// Names are at most 127 bytes, four times as long with every byte escaped.
constexpr std::size_t kFindingNameMax = 127;
constexpr std::size_t kEscapedNameSize = 4 * kFindingNameMax + 1;
// Room for any finding's message: two escaped names and the words around.
constexpr std::size_t kFindingMessageSize = 2 * (kEscapedNameSize - 1) + 64;

// Puts the message of finding alone, without place or line end ("<B> tag",
// "A tag with attribute ONCLICK removed"), its names with their control
// bytes escaped (see escape_controls), NUL-terminated in buffer (size
// bytes, not 0; cut short to fit); returns its length.
std::size_t finding_message(const Finding& finding, char* buffer, std::size_t size);
// The same message with the names as they are, for output that escapes
// them on its own (JSON).
std::size_t finding_message_raw(const Finding& finding, char* buffer, std::size_t size);

// The name of the finding's kind: "warning", "removed", "unsafe-url".
[[nodiscard]] const char* finding_kind_name(FindingKind kind);

// A rule: the stable id that a finding's kind and subject make together,
// which users filter and count on, and a sentence on what it reports.
struct FindingRule {
  const char* id;
  const char* description;
};

// The rule of a file that could not be read or checked, which is no
// Finding of the policy's.
constexpr const char* kReadErrorRule = "read-error";

// The id of finding's rule: "tag-warned", "attribute-warned",
// "comment-warned", "tag-removed", "attribute-removed", "comment-removed",
// "region-removed", "unterminated-removed" or "unsafe-url"; a static string.
[[nodiscard]] const char* finding_rule(const Finding& finding);

// Every rule, read-error last; *count is set to their number. The array
// is static and its order does not change from run to run.
[[nodiscard]] const FindingRule* finding_rules(std::size_t* count);

#endif
