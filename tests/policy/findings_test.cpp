// Unit tests for the texts of findings: the escaping of control bytes in
// names, the usual lines and the messages of check mode.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "policy/findings.h"

namespace {

std::string escaped(const std::string& text, std::size_t size) {
  std::vector<char> buffer(size, '@');
  const std::size_t length = escape_controls(text.c_str(), buffer.data(), size);
  EXPECT_LT(length, size);
  EXPECT_EQ(buffer[length], '\0');
  return std::string(buffer.data(), length);
}

TEST(EscapeControls, ControlBytesAndOthers) {
  const struct {
    const char* title;
    std::string text;
    std::string expected;
  } cases[] = {
      {"an ordinary name", "ONCLICK", "ONCLICK"},
      {"empty", "", ""},
      {"ESC and BEL", "A\x1b]0;x\x07", "A\\x1B]0;x\\x07"},
      {"backspace, tab, line feed, carriage return", "\b\t\n\r", "\\x08\\x09\\x0A\\x0D"},
      {"the first and the last control bytes", "\x01\x1f", "\\x01\\x1F"},
      {"DEL", "X\x7fY", "X\\x7FY"},
      {"a backslash goes as it is", "A\\x1B", "A\\x1B"},
      {"space and bytes above DEL go as they are", " \x80\xff~", " \x80\xff~"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.title);
    EXPECT_EQ(escaped(c.text, 64), c.expected);
  }
}

TEST(EscapeControls, CutShortNeverInsideAnEscape) {
  const struct {
    std::size_t size;
    std::string expected;
  } cases[] = {
      {1, ""},
      {2, "a"},
      {3, "a"},       // "\x1B" needs four bytes: none of it goes
      {5, "a"},
      {6, "a\\x1B"},  // exactly room for it and the NUL
      {7, "a\\x1Bb"},
      {64, "a\\x1Bb"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size);
    EXPECT_EQ(escaped("a\x1b" "b", c.size), c.expected);
  }
}

std::string usual_line(const Finding& finding) {
  char* data = nullptr;
  std::size_t size = 0;
  std::FILE* out = open_memstream(&data, &size);
  write_usual_finding(finding, out);
  std::fclose(out);
  std::string text(data, size);
  std::free(data);
  return text;
}

std::string message_of(const Finding& finding) {
  char buffer[kFindingMessageSize];
  const std::size_t length = finding_message(finding, buffer, sizeof buffer);
  return std::string(buffer, length);
}

// Every form that shows a name, with a name that holds control bytes.
TEST(FindingTexts, NamesHaveTheirControlBytesEscaped) {
  const char* const tag = "B\x1b[2J";
  const char* const attribute = "ON\x07\x7f";
  const struct {
    Finding finding;
    std::string usual;
    std::string message;
  } cases[] = {
      {{FindingKind::kWarning, FindingSubject::kStartTag, 3, 0, tag, nullptr},
       "Warning: <B\\x1B[2J> tag on line 3\n", "<B\\x1B[2J> tag"},
      {{FindingKind::kWarning, FindingSubject::kEndTag, 3, 0, tag, nullptr},
       "Warning: </B\\x1B[2J> tag on line 3\n", "</B\\x1B[2J> tag"},
      {{FindingKind::kWarning, FindingSubject::kAttribute, 3, 0, tag, attribute},
       "line 3: B\\x1B[2J tag with attribute ON\\x07\\x7F\n", "B\\x1B[2J tag with attribute ON\\x07\\x7F"},
      {{FindingKind::kRemoved, FindingSubject::kStartTag, 3, 0, tag, nullptr},
       "line 3: <B\\x1B[2J> tag removed\n", "<B\\x1B[2J> tag removed"},
      {{FindingKind::kRemoved, FindingSubject::kEndTag, 3, 0, tag, nullptr},
       "line 3: </B\\x1B[2J> tag removed\n", "</B\\x1B[2J> tag removed"},
      {{FindingKind::kRemoved, FindingSubject::kAttribute, 3, 0, tag, attribute},
       "line 3: B\\x1B[2J tag with attribute ON\\x07\\x7F removed\n",
       "B\\x1B[2J tag with attribute ON\\x07\\x7F removed"},
      {{FindingKind::kRemoved, FindingSubject::kRegion, 3, 4, tag, nullptr},
       "line 3: <B\\x1B[2J> region removed up to line 4\n", "<B\\x1B[2J> region removed up to line 4"},
      {{FindingKind::kUnsafeUrl, FindingSubject::kAttribute, 3, 0, tag, attribute},
       "line 3: B\\x1B[2J tag with unsafe URL in attribute ON\\x07\\x7F\n",
       "B\\x1B[2J tag with unsafe URL in attribute ON\\x07\\x7F"},
      {{FindingKind::kWarning, FindingSubject::kStartTag, 3, 0, "FONT", nullptr},
       "Warning: <FONT> tag on line 3\n", "<FONT> tag"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.usual);
    EXPECT_EQ(usual_line(c.finding), c.usual);
    EXPECT_EQ(message_of(c.finding), c.message);
  }
}

TEST(FindingTexts, RawMessageKeepsTheBytes) {
  const Finding finding{FindingKind::kWarning, FindingSubject::kStartTag, 1, 0, "B\x1b", nullptr};
  char buffer[kFindingMessageSize];
  const std::size_t length = finding_message_raw(finding, buffer, sizeof buffer);
  EXPECT_EQ(std::string(buffer, length), "<B\x1b> tag");
}

// Two names of the longest length, every byte escaped, fit whole.
TEST(FindingTexts, LongestEscapedNamesFit) {
  const std::string name(kFindingNameMax, '\x01');
  const Finding finding{FindingKind::kUnsafeUrl, FindingSubject::kAttribute, 1, 0, name.c_str(), name.c_str()};
  std::string shown;
  for (std::size_t i = 0; i < kFindingNameMax; ++i) {
    shown += "\\x01";
  }
  EXPECT_EQ(message_of(finding), shown + " tag with unsafe URL in attribute " + shown);
  EXPECT_EQ(usual_line(finding), "line 1: " + shown + " tag with unsafe URL in attribute " + shown + "\n");
}

// Every kind and subject the policy reports has its rule, and every rule
// but read-error is some finding's: the list and the mapping agree.
TEST(FindingRules, EachFindingHasItsListedRule) {
  const struct {
    FindingKind kind;
    FindingSubject subject;
    const char* rule;
  } cases[] = {
      {FindingKind::kWarning, FindingSubject::kStartTag, "tag-warned"},
      {FindingKind::kWarning, FindingSubject::kEndTag, "tag-warned"},
      {FindingKind::kWarning, FindingSubject::kAttribute, "attribute-warned"},
      {FindingKind::kWarning, FindingSubject::kComment, "comment-warned"},
      {FindingKind::kRemoved, FindingSubject::kStartTag, "tag-removed"},
      {FindingKind::kRemoved, FindingSubject::kEndTag, "tag-removed"},
      {FindingKind::kRemoved, FindingSubject::kAttribute, "attribute-removed"},
      {FindingKind::kRemoved, FindingSubject::kComment, "comment-removed"},
      {FindingKind::kRemoved, FindingSubject::kRegion, "region-removed"},
      {FindingKind::kRemoved, FindingSubject::kUnterminated, "unterminated-removed"},
      {FindingKind::kUnsafeUrl, FindingSubject::kAttribute, "unsafe-url"},
  };
  std::size_t count = 0;
  const FindingRule* rules = finding_rules(&count);
  std::vector<std::string> unused;
  for (std::size_t i = 0; i < count; ++i) {
    EXPECT_NE(std::string(rules[i].description), "");
    unused.emplace_back(rules[i].id);
  }
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rule);
    const std::string rule = finding_rule(Finding{c.kind, c.subject, 1, 0, "A", "HREF"});
    EXPECT_EQ(rule, c.rule);
    std::erase(unused, rule);
  }
  EXPECT_EQ(unused, std::vector<std::string>{kReadErrorRule});
}

TEST(Findings, EscapedControlsAppendTextsOfAnyLength) {
  std::string shown = "name: ";
  const std::string long_name = std::string(3000, 'x') + "\x1b\n";
  append_escaped_controls(shown, long_name.c_str());
  EXPECT_EQ(shown, "name: " + std::string(3000, 'x') + "\\x1B\\x0A");
}

}  // namespace
