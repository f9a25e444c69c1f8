// Unit tests for the configuration reader: configuration texts to the
// resulting queries on the Config and the exact standard error.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "config/config.h"
#include "source_dir.h"

namespace {

// One thing the Config must answer after the read.
struct Expect {
  enum Kind { kTag, kAttr, kDefault, kComment, kAbsent } kind;
  const char* tag;
  const char* attribute;
  Action action;
};

Expect Tag(const char* tag, Action a) { return {Expect::kTag, tag, nullptr, a}; }
Expect Attr(const char* tag, const char* attribute, Action a) { return {Expect::kAttr, tag, attribute, a}; }
Expect Default(Action a) { return {Expect::kDefault, nullptr, nullptr, a}; }
Expect Comment(Action a) { return {Expect::kComment, nullptr, nullptr, a}; }
// The tag has no entry (a new action for it is accepted).
Expect Absent(const char* tag) { return {Expect::kAbsent, tag, nullptr, 0}; }

void check(Config* config, const Expect& e) {
  switch (e.kind) {
    case Expect::kTag:
      EXPECT_EQ(cfg_action(config, e.tag), e.action) << "tag " << e.tag;
      break;
    case Expect::kAttr:
      EXPECT_EQ(cfg_attr_action(config, e.tag, e.attribute), e.action) << "attribute " << e.tag << " " << e.attribute;
      break;
    case Expect::kDefault:
      EXPECT_EQ(cfg_action(config, "NOT-NAMED-ANYWHERE"), e.action) << "tag default";
      break;
    case Expect::kComment:
      EXPECT_EQ(cfg_comment_action(config), e.action) << "comment action";
      break;
    case Expect::kAbsent: {
      testing::internal::CaptureStderr();
      const int result = cfg_set_tag_action(config, e.tag, ACTION_KEEP);
      EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << "tag " << e.tag << " is stored";
      EXPECT_EQ(result, 0) << "tag " << e.tag << " is stored";
      break;
    }
  }
}

struct Outcome {
  int status;
  std::string err;
};

Outcome read_text(std::string text, Config* config) {
  std::FILE* in = fmemopen(text.data(), text.size(), "r");
  EXPECT_NE(in, nullptr);
  if (in == nullptr) {
    return {-1, ""};
  }
  testing::internal::CaptureStderr();
  const int status = cfg_read(in, config);
  std::string err = testing::internal::GetCapturedStderr();
  std::fclose(in);
  return {status, err};
}

const std::string kSemantic = "cfg_read: semantic error found\n";

std::string unexpected_word(const char* word) { return "Unexpected word \"" + std::string(word) + "\" found\n" + kSemantic; }
std::string unexpected(const char* name) { return "Unexpected " + std::string(name) + " found\n" + kSemantic; }

struct Case {
  const char* title;
  std::string text;
  int status;
  std::string err;
  std::vector<Expect> want;
};

void run_cases(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.title << ": \"" << c.text << '"');
    Config* config = cfg_construct();
    ASSERT_NE(config, nullptr);
    const Outcome got = read_text(c.text, config);
    EXPECT_EQ(got.status, c.status);
    EXPECT_EQ(got.err, c.err);
    for (const Expect& e : c.want) {
      check(config, e);
    }
    cfg_release(&config);
  }
}

TEST(CfgRead, Statements) {
  const std::string t35(35, 'T');
  run_cases({
      {"empty", "", 0, "", {Default(ACTION_KEEP), Comment(ACTION_KEEP), Absent("B")}},
      {"comments only", "# one\n   # two", 0, "", {Absent("B")}},
      {"a short file",
       "# keep text markup\n<b>: KEEP\n<i>: KEEP\n<script>: DROP ALL\n"
       "<img> { ATTRIBUTE src: KEEP ATTRIBUTE alt: KEEP DEFAULT: DROP }\nCOMMENT: DROP\nDEFAULT: WARN\n",
       0,
       "",
       {Tag("B", ACTION_KEEP), Tag("I", ACTION_KEEP), Tag("SCRIPT", ACTION_DROP_ALL), Tag("IMG", ACTION_EDIT),
        Attr("IMG", "SRC", ACTION_KEEP), Attr("IMG", "ALT", ACTION_KEEP), Attr("IMG", "ONERROR", ACTION_DROP),
        Comment(ACTION_DROP), Default(ACTION_WARN)}},
      {"each tag action", "<k>: KEEP <w>: WARN <d>: DROP <a>: DROP ALL", 0, "",
       {Tag("K", ACTION_KEEP), Tag("W", ACTION_WARN), Tag("D", ACTION_DROP), Tag("A", ACTION_DROP_ALL)}},
      {"no white space", "<k>:keep<d>:drop<a>{attribute x:warn}default:warn comment:drop", 0, "",
       {Tag("K", ACTION_KEEP), Tag("D", ACTION_DROP), Attr("A", "X", ACTION_WARN), Default(ACTION_WARN),
        Comment(ACTION_DROP)}},
      {"lower and mixed case", "<a>: keep <Bb>: Drop All default: drop comment: warn", 0, "",
       {Tag("A", ACTION_KEEP), Tag("BB", ACTION_DROP_ALL), Default(ACTION_DROP), Comment(ACTION_WARN)}},
      {"CRLF and trailing comments", "<a>: KEEP # kept\r\n# more\r\n<b>:DROP#dropped", 0, "",
       {Tag("A", ACTION_KEEP), Tag("B", ACTION_DROP)}},
      // The token after DROP ends the statement and begins the next one.
      {"DROP at end of file", "<b>: DROP", 0, "", {Tag("B", ACTION_DROP)}},
      {"DROP then <", "<b>: DROP <i>: KEEP", 0, "", {Tag("B", ACTION_DROP), Tag("I", ACTION_KEEP)}},
      {"DROP then DEFAULT", "<b>: DROP DEFAULT: WARN", 0, "", {Tag("B", ACTION_DROP), Default(ACTION_WARN)}},
      {"DROP then COMMENT", "<b>: DROP COMMENT: WARN", 0, "", {Tag("B", ACTION_DROP), Comment(ACTION_WARN)}},
      // Braces.
      {"no closing brace", "<a> { ATTRIBUTE href: KEEP", 0, "",
       {Tag("A", ACTION_EDIT), Attr("A", "HREF", ACTION_KEEP)}},
      {"open brace at end of file", "<a> {", 0, "", {Tag("A", ACTION_EDIT)}},
      {"empty braces", "<a> { } <b>: KEEP", 0, "", {Tag("A", ACTION_EDIT), Attr("A", "X", ACTION_KEEP), Tag("B", ACTION_KEEP)}},
      {"only a default inside", "<a> { DEFAULT: DROP }", 0, "", {Tag("A", ACTION_EDIT), Attr("A", "X", ACTION_DROP)}},
      {"items in any order",
       "<a> { ATTRIBUTE href: WARN DEFAULT: DROP ATTRIBUTE id: KEEP DEFAULT: WARN }\n<b> { ATTRIBUTE x: DROP }", 0, "",
       {Tag("A", ACTION_EDIT), Attr("A", "HREF", ACTION_WARN), Attr("A", "ID", ACTION_KEEP),
        Attr("A", "STYLE", ACTION_WARN), Attr("B", "X", ACTION_DROP), Attr("B", "Y", ACTION_KEEP)}},
      // Keywords are keywords only where the grammar expects one.
      {"tags named as keywords", "<keep>: DROP <default>: WARN <all> {ATTRIBUTE attribute: DROP}", 0, "",
       {Tag("KEEP", ACTION_DROP), Tag("DEFAULT", ACTION_WARN), Tag("ALL", ACTION_EDIT),
        Attr("ALL", "ATTRIBUTE", ACTION_DROP), Default(ACTION_KEEP)}},
      {"35-character name", "<" + t35 + ">: WARN", 0, "", {Tag(t35.c_str(), ACTION_WARN)}},
      // Attribute patterns: a name wins over a pattern, a longer pattern
      // over a shorter one.
      {"attribute patterns",
       "<a> { ATTRIBUTE on*: DROP ATTRIBUTE onload: KEEP ATTRIBUTE o*: WARN ATTRIBUTE data-*:keep DEFAULT: KEEP }", 0,
       "",
       {Attr("A", "ONCLICK", ACTION_DROP), Attr("A", "ON", ACTION_DROP), Attr("A", "ONLOAD", ACTION_KEEP),
        Attr("A", "OPEN", ACTION_WARN), Attr("A", "DATA-X", ACTION_KEEP), Attr("A", "DATA", ACTION_KEEP),
        Attr("A", "ID", ACTION_KEEP)}},
      {"pattern of 35 characters", "<a> { ATTRIBUTE " + t35 + "*: DROP }", 0, "",
       {Attr("A", (t35 + "X").c_str(), ACTION_DROP), Attr("A", "T", ACTION_KEEP)}},
  });
}

TEST(CfgRead, Errors) {
  const std::string t36(36, 'T');
  const std::string w128(128, 'w');
  run_cases({
      // State 0, between statements.
      {"} at top level", "<a>: KEEP }", 1, unexpected("right curly brace"), {Tag("A", ACTION_KEEP)}},
      {"ATTRIBUTE at top level", "ATTRIBUTE x: KEEP", 1, unexpected_word("ATTRIBUTE"), {}},
      {"KEEP at top level", "KEEP", 1, unexpected_word("KEEP"), {}},
      {"> at top level", ">", 1, unexpected("greater-than symbol"), {}},
      {": at top level", ":", 1, unexpected("colon"), {}},
      {"{ at top level", "{", 1, unexpected("left curly brace"), {}},
      // 1: after <.
      {"<>", "<>: KEEP", 1, unexpected("greater-than symbol"), {}},
      {"<<", "<<a>: KEEP", 1, unexpected("less-than symbol"), {Absent("A")}},
      {"< at end of file", "<", 1, unexpected("end of file"), {}},
      // 2: after < name.
      {"<a at end of file", "<a", 1, unexpected("end of file"), {Absent("A")}},
      {"two names", "<a b>: KEEP", 1, unexpected_word("B"), {Absent("A")}},
      {"<a:", "<a: KEEP", 1, unexpected("colon"), {Absent("A")}},
      // 3: after < name >.
      {"no colon", "<a> KEEP", 1, unexpected_word("KEEP"), {Absent("A")}},
      {"<a> at end of file", "<a>", 1, unexpected("end of file"), {Absent("A")}},
      // 4: after the tag's colon.
      {"EDIT is not a keyword", "<a>: EDIT", 1, unexpected_word("EDIT"), {Absent("A")}},
      {"ALL alone", "<a>: ALL", 1, unexpected_word("ALL"), {Absent("A")}},
      {"no action", "<a>: <b>: KEEP", 1, unexpected("less-than symbol"), {Absent("A"), Absent("B")}},
      {"colon at end of file", "<a>:", 1, unexpected("end of file"), {Absent("A")}},
      // 5: after DROP; a token that cannot follow stores nothing.
      {"DROP ALL ALL", "<a>: DROP ALL ALL", 1, unexpected_word("ALL"), {Tag("A", ACTION_DROP_ALL)}},
      {"DROP KEEP", "<a>: DROP KEEP", 1, unexpected_word("KEEP"), {Absent("A")}},
      {"DROP :", "<a>: DROP :", 1, unexpected("colon"), {Absent("A")}},
      {"DROP }", "<a>: DROP }", 1, unexpected("right curly brace"), {Absent("A")}},
      // 6: inside braces.
      {"action inside braces", "<a> { KEEP }", 1, unexpected_word("KEEP"), {Tag("A", ACTION_EDIT)}},
      {"colon inside braces", "<a> { : }", 1, unexpected("colon"), {Tag("A", ACTION_EDIT)}},
      {"nested tag", "<a> { <b>: KEEP }", 1, unexpected("less-than symbol"), {Tag("A", ACTION_EDIT), Absent("B")}},
      // 7 and 8: top-level DEFAULT.
      {"DEFAULT without colon", "DEFAULT KEEP", 1, unexpected_word("KEEP"), {}},
      {"DEFAULT at end of file", "DEFAULT", 1, unexpected("end of file"), {}},
      {"DEFAULT: DROP ALL", "DEFAULT: DROP ALL", 1, unexpected_word("ALL"), {Default(ACTION_DROP)}},
      {"DEFAULT: EDIT", "DEFAULT: EDIT", 1, unexpected_word("EDIT"), {Default(ACTION_KEEP)}},
      {"DEFAULT: at end of file", "DEFAULT:", 1, unexpected("end of file"), {}},
      // 9 and 10: COMMENT.
      {"COMMENT without colon", "COMMENT KEEP", 1, unexpected_word("KEEP"), {}},
      {"COMMENT: DROP ALL", "COMMENT: DROP ALL", 1, unexpected_word("ALL"), {Comment(ACTION_DROP)}},
      {"COMMENT: {", "COMMENT: {", 1, unexpected("left curly brace"), {Comment(ACTION_KEEP)}},
      // 11 to 13: ATTRIBUTE items.
      {"ATTRIBUTE without name", "<a> { ATTRIBUTE : KEEP }", 1, unexpected("colon"), {Tag("A", ACTION_EDIT)}},
      {"ATTRIBUTE at end of file", "<a> { ATTRIBUTE", 1, unexpected("end of file"), {Tag("A", ACTION_EDIT)}},
      {"ATTRIBUTE name without colon", "<a> { ATTRIBUTE x KEEP }", 1, unexpected_word("KEEP"), {}},
      {"attribute DROP ALL", "<a> { ATTRIBUTE x: DROP ALL }", 1, unexpected_word("ALL"),
       {Attr("A", "X", ACTION_DROP)}},
      {"attribute EDIT", "<a> { ATTRIBUTE x: EDIT }", 1, unexpected_word("EDIT"), {Attr("A", "X", ACTION_KEEP)}},
      // 14 and 15: DEFAULT inside braces.
      {"default without colon", "<a> { DEFAULT KEEP }", 1, unexpected_word("KEEP"), {}},
      {"default without action", "<a> { DEFAULT: }", 1, unexpected("right curly brace"), {}},
      // Lexical errors: reported as they are, after what was stored before.
      {"bad character", "<a>: KEEP;", 1, "Error in configuration file: Unexpected character ;\n", {Tag("A", ACTION_KEEP)}},
      {"slash", "</a>: KEEP", 1, "Error in configuration file: Unexpected character /\n", {}},
      {"NUL byte", std::string("<a>\0", 4), 1, "Error in configuration file: Unexpected character \n", {}},
      {"word too long", "<" + w128 + ">: KEEP", 1, "Error in configuration file: Excessively long word encountered\n",
       {}},
      // A '*' that does not end a pattern where an attribute name is
      // expected: the word before it is read, then the '*' is an error.
      {"star in a tag name", "<on*>: KEEP", 1, "Error in configuration file: Unexpected character *\n", {Absent("ON")}},
      {"star after an action", "<a>: keep*", 1, "Error in configuration file: Unexpected character *\n",
       {Tag("A", ACTION_KEEP)}},
      {"star after DROP", "<a>: DROP*", 1, "Error in configuration file: Unexpected character *\n", {Absent("A")}},
      {"star after a refused word", "<a>: edit*", 1, unexpected_word("EDIT"), {Absent("A")}},
      {"star after a keyword", "<a> { DEFAULT*: DROP }", 1, "Error in configuration file: Unexpected character *\n",
       {Attr("A", "X", ACTION_KEEP)}},
      {"word character after the star", "<a> { ATTRIBUTE on*x: DROP }", 1,
       "Error in configuration file: Unexpected character *\n", {Attr("A", "ONX", ACTION_KEEP)}},
      {"two stars", "<a> { ATTRIBUTE on**: DROP }", 1, "Error in configuration file: Unexpected character *\n",
       {Attr("A", "ONX", ACTION_KEEP)}},
      {"star alone", "<a> { ATTRIBUTE *: DROP }", 1, "Error in configuration file: Unexpected character *\n", {}},
      // The store refuses: its message, then the reader's, and reading stops.
      {"tag twice", "<b>: KEEP <b>: WARN <i>: KEEP", 1,
       "add_action: multiple actions specified for tag B\n" + kSemantic, {Tag("B", ACTION_KEEP), Absent("I")}},
      {"tag twice, DROP at end of file", "<b>: KEEP <b>: DROP", 1,
       "add_action: multiple actions specified for tag B\n" + kSemantic, {Tag("B", ACTION_KEEP)}},
      {"tag twice, DROP then <", "<b>: KEEP <b>: DROP <i>: KEEP", 1,
       "add_action: multiple actions specified for tag B\n" + kSemantic, {Tag("B", ACTION_KEEP), Absent("I")}},
      {"edited tag given an action already", "<a>: KEEP <a> { ATTRIBUTE x: DROP }", 1,
       "add_action: multiple actions specified for tag A\n" + kSemantic,
       {Tag("A", ACTION_KEEP), Attr("A", "X", ACTION_KEEP)}},
      {"attribute twice", "<a> { ATTRIBUTE x: KEEP ATTRIBUTE x: DROP }", 1,
       "add_atr_action: action for attribute X already defined\n" + kSemantic, {Attr("A", "X", ACTION_KEEP)}},
      {"two defaults", "DEFAULT: KEEP DEFAULT: DROP <b>: KEEP", 1,
       "cfg_set_tag_default: multiple default actions specified\n" + kSemantic,
       {Default(ACTION_DROP), Absent("B")}},
      {"two comment actions", "COMMENT: KEEP COMMENT: DROP", 1,
       "cfg_set_comment_action: multiple comment actions specified\n" + kSemantic, {Comment(ACTION_DROP)}},
      {"36-character tag", "<" + t36 + ">: KEEP", 1,
       "add_action: overly long tag " + t36 + " in configuration file\n" + kSemantic, {}},
      {"36-character attribute", "<a> { ATTRIBUTE " + t36 + ": KEEP }", 1,
       "add_attr_action: overly long attribute " + t36 + " in configuration file\n" + kSemantic,
       {Tag("A", ACTION_EDIT)}},
      {"pattern twice", "<a> { ATTRIBUTE on*: DROP ATTRIBUTE ON*: KEEP }", 1,
       "add_atr_action: action for attribute ON* already defined\n" + kSemantic, {Attr("A", "ONX", ACTION_DROP)}},
      {"pattern too long", "<a> { ATTRIBUTE " + t36 + "*: KEEP }", 1,
       "add_attr_action: overly long attribute " + t36 + "* in configuration file\n" + kSemantic, {}},
  });
}

// Where a read stopped: the line of the token, what was found there and
// what was expected. Messages are as the reader printed them before.
TEST(CfgRead, ErrorPlaces) {
  const std::string t36(36, 'T');
  const struct {
    const char* title;
    std::string text;
    unsigned long line;
    std::string message;
  } cases[] = {
      // Each state's expectation.
      {"between statements", "<a>: KEEP\n}", 2, "found '}', expected '<', DEFAULT, COMMENT or MODE"},
      {"after <", "<>", 1, "found '>', expected a tag name after '<'"},
      {"after the name", "<a b>", 1, "found \"B\", expected '>' after <a"},
      {"after the tag", "<I> KEEP", 1, "found \"KEEP\", expected ':' or '{' after <i>"},
      {"after the tag's colon", "<a>: EDIT", 1, "found \"EDIT\", expected KEEP, WARN, DROP or DROP ALL after <a>:"},
      {"after DROP", "<a>: DROP :", 1, "found ':', expected ALL, '<', DEFAULT, COMMENT or MODE after <a>: DROP"},
      {"in braces", "<a> {\n KEEP }", 2, "found \"KEEP\", expected ATTRIBUTE, DEFAULT or '}' in the braces of <a>"},
      {"after DEFAULT", "DEFAULT KEEP", 1, "found \"KEEP\", expected ':' after DEFAULT"},
      {"after DEFAULT:", "DEFAULT: {", 1, "found '{', expected KEEP, WARN or DROP after DEFAULT:"},
      {"after COMMENT", "COMMENT <", 1, "found '<', expected ':' after COMMENT"},
      {"after COMMENT:", "COMMENT: ALL", 1, "found \"ALL\", expected KEEP, WARN or DROP after COMMENT:"},
      {"after ATTRIBUTE", "<a> { ATTRIBUTE : }", 1,
       "found ':', expected an attribute name after ATTRIBUTE in the braces of <a>"},
      {"after the attribute", "<a> { ATTRIBUTE Href KEEP }", 1, "found \"KEEP\", expected ':' after ATTRIBUTE href"},
      {"after the attribute's colon", "<a> { ATTRIBUTE on*: ALL }", 1,
       "found \"ALL\", expected KEEP, WARN or DROP after ATTRIBUTE on*:"},
      {"after DEFAULT in braces", "<a> { DEFAULT }", 1, "found '}', expected ':' after DEFAULT in the braces of <a>"},
      {"after DEFAULT: in braces", "<a> { DEFAULT: }", 1,
       "found '}', expected KEEP, WARN or DROP after DEFAULT: in the braces of <a>"},
      {"after MODE", "MODE SAFE", 1, "found \"SAFE\", expected ':' after MODE"},
      {"after MODE:", "MODE: FAST", 1, "found \"FAST\", expected SAFE or CLASSIC after MODE:"},
      // Lines: comments, blank lines and CR LF count; an unexpected end of
      // the file is placed at the last token.
      {"lines counted through comments", "# one\n\n<a>: KEEP # two\r\n<b>\n: EDIT", 5,
       "found \"EDIT\", expected KEEP, WARN, DROP or DROP ALL after <b>:"},
      {"end of the file after blank lines", "<a>: KEEP\n<b\n\n\n", 2, "found the end of the file, expected '>' after <b"},
      {"end of the file at once", "<", 1, "found the end of the file, expected a tag name after '<'"},
      // Error tokens.
      {"bad character", "<a>: KEEP\n;", 2, "found ';', expected '<', DEFAULT, COMMENT or MODE"},
      {"NUL byte", std::string("<a>\0", 4), 1, "found byte 0x00, expected ':' or '{' after <a>"},
      {"byte above 127", "<a>\n\xe9", 2, "found byte 0xE9, expected ':' or '{' after <a>"},
      {"word too long", "\n<" + std::string(128, 'w'), 2,
       "found a word of more than 127 characters, expected a tag name after '<'"},
      {"star after a word", "<a>:\n keep*", 2, "found '*', expected '<', DEFAULT, COMMENT or MODE"},
      {"star in an attribute name", "<a> { ATTRIBUTE on*x: DROP }", 1, "found '*', expected ':' after ATTRIBUTE on"},
      // The store refused: placed at the token that completed the statement,
      // or at the DROP that the next token completed.
      {"tag twice", "<b>: KEEP\n<B>: WARN", 2, "found a second statement for <b>, expected one for each tag"},
      {"tag twice, DROP then a tag", "<b>: KEEP\n<b>: DROP\n<i>: KEEP", 2,
       "found a second statement for <b>, expected one for each tag"},
      {"tag twice, DROP at the end", "<b>: KEEP\n<b>: DROP\n\n", 2,
       "found a second statement for <b>, expected one for each tag"},
      {"edited tag twice", "<a>: KEEP\n<a>\n{", 3, "found a second statement for <a>, expected one for each tag"},
      {"long tag", "<" + t36 + ">: DROP ALL", 1, "found a tag name of 36 characters, expected at most 35"},
      {"attribute twice", "<a> {\nATTRIBUTE x: KEEP\nATTRIBUTE x:\nDROP }", 4,
       "found a second ATTRIBUTE x in the braces of <a>, expected one for each attribute"},
      {"pattern twice", "<a> { ATTRIBUTE on*: KEEP ATTRIBUTE ON*: DROP }", 1,
       "found a second ATTRIBUTE on* in the braces of <a>, expected one for each attribute"},
      {"long attribute", "<a> { ATTRIBUTE " + t36 + ": KEEP }", 1,
       "found an attribute name of 36 characters, expected at most 35"},
      {"long pattern", "<a> { ATTRIBUTE " + t36 + "*: KEEP }", 1,
       "found an attribute pattern of 36 characters before its '*', expected at most 35"},
      {"two defaults", "DEFAULT: KEEP\nDEFAULT: DROP", 2, "found a second DEFAULT statement, expected one"},
      {"two comment actions", "COMMENT: KEEP COMMENT: DROP", 1, "found a second COMMENT statement, expected one"},
      {"two modes", "MODE: SAFE\n\nMODE: SAFE", 3, "found a second MODE statement, expected one"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.title << ": \"" << c.text << '"');
    Config* config = cfg_construct();
    ASSERT_NE(config, nullptr);
    EXPECT_NE(read_text(c.text, config).status, 0);
    const CfgErrorPlace place = cfg_error_place();
    EXPECT_EQ(place.line, c.line);
    EXPECT_EQ(place.message, c.message);
    EXPECT_STREQ(place.file, "");
    cfg_release(&config);
  }
}

// The place is one line after the reader's messages, written by the caller:
// with the file's name as compilers write it, or with the line alone.
TEST(CfgRead, ReportPlace) {
  std::string text = "<a>: KEEP\n<i> KEEP\n";
  Config* config = cfg_construct();
  ASSERT_NE(config, nullptr);
  std::FILE* in = fmemopen(text.data(), text.size(), "r");
  ASSERT_NE(in, nullptr);
  testing::internal::CaptureStderr();
  EXPECT_EQ(cfg_read_named(in, "conf/my.cfg", config), 1);
  cfg_report_place(stderr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), unexpected_word("KEEP") +
                                                        "conf/my.cfg:2: found \"KEEP\", expected ':' or '{' after <i>\n");
  EXPECT_STREQ(cfg_error_place().file, "conf/my.cfg");
  std::fclose(in);
  cfg_release(&config);

  // Without a name, the line alone.
  config = cfg_construct();
  ASSERT_NE(config, nullptr);
  EXPECT_EQ(read_text(text, config).status, 1);
  testing::internal::CaptureStderr();
  cfg_report_place(stderr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "line 2: found \"KEEP\", expected ':' or '{' after <i>\n");
  cfg_release(&config);

  // A read that succeeds, or reads nothing, leaves no place.
  config = cfg_construct();
  ASSERT_NE(config, nullptr);
  const std::string fine[] = {"<b>: KEEP", ""};
  for (const std::string& next : fine) {
    SCOPED_TRACE(next.empty() ? "a null Config" : "a good file");
    EXPECT_EQ(read_text(text, config).status, 1);
    EXPECT_EQ(cfg_error_place().line, 2u);
    Config* used = next.empty() ? nullptr : config;
    EXPECT_EQ(read_text(next, used).status, next.empty() ? 1 : 0);
    EXPECT_EQ(cfg_error_place().line, 0u);
    testing::internal::CaptureStderr();
    cfg_report_place(stderr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    cfg_release(&config);
    config = cfg_construct();
    ASSERT_NE(config, nullptr);
  }
  cfg_release(&config);
}

TEST(CfgRead, RefusesNullStreamAndInvalidConfig) {
  std::string text = "<a>: KEEP";
  std::FILE* in = fmemopen(text.data(), text.size(), "r");
  ASSERT_NE(in, nullptr);
  Config* dead = cfg_construct();
  ASSERT_NE(dead, nullptr);
  cfg_destruct(&dead);
  Config* live = cfg_construct();
  ASSERT_NE(live, nullptr);

  const struct {
    const char* title;
    std::FILE* stream;
    Config* config;
    const char* err;
  } cases[] = {
      {"null stream", nullptr, live, "cfg_read: Null pointer to configuration file\n"},
      {"null stream and Config", nullptr, nullptr, "cfg_read: Null pointer to configuration file\n"},
      {"null Config", in, nullptr, "cfg_read: invalid Config\n"},
      {"destroyed Config", in, dead, "cfg_read: invalid Config\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.title);
    testing::internal::CaptureStderr();
    EXPECT_EQ(cfg_read(c.stream, c.config), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.err);
  }
  // Nothing was read from the stream.
  testing::internal::CaptureStderr();
  EXPECT_EQ(cfg_read(in, live), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(cfg_action(live, "A"), ACTION_KEEP);
  EXPECT_EQ(cfg_set_tag_action(live, "B", ACTION_DROP), 0);
  std::fclose(in);
  cfg_release(&dead);
  cfg_release(&live);
}

TEST(CfgRead, DirectoryStream) {
  const std::filesystem::path dir = source_path("tests/config");
  ASSERT_TRUE(std::filesystem::is_directory(dir)) << dir << " is not a directory";
  std::FILE* in = std::fopen(dir.c_str(), "r");
  if (in == nullptr) {
    GTEST_SKIP() << "cannot open a directory as a stream here";
  }
  Config* config = cfg_construct();
  ASSERT_NE(config, nullptr);
  testing::internal::CaptureStderr();
  EXPECT_EQ(cfg_read(in, config), 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error in configuration file: Is a directory\n");
  std::fclose(in);
  cfg_release(&config);
}

// The example configurations shipped in examples/ are read without a word.
TEST(CfgRead, ExampleFiles) {
  const std::filesystem::path examples = source_path("examples");
  for (const char* name : {"tessel.cfg", "lint.cfg", "strip-scripts.cfg"}) {
    SCOPED_TRACE(name);
    std::FILE* in = std::fopen((examples / name).c_str(), "r");
    ASSERT_NE(in, nullptr) << "cannot open " << examples / name;
    Config* config = cfg_construct();
    ASSERT_NE(config, nullptr);
    testing::internal::CaptureStderr();
    EXPECT_EQ(cfg_read(in, config), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    std::fclose(in);
    cfg_release(&config);
  }
}

// Rules for every tag, URL schemes, relative URLs and link relations: what
// the Config answers after reading them, and lists that end where the next
// statement begins.
TEST(CfgRead, RulesSchemesAndLinkRelations) {
  Config* config = cfg_construct();
  ASSERT_NE(config, nullptr);
  const Outcome got = read_text(
      "<*> { ATTRIBUTE on*: DROP ATTRIBUTE style: DROP DEFAULT: WARN }\n"
      "<b>: DROP SCHEMES: https Mailto cid\n"
      "LINK REL: noopener\n  NoReferrer <i>: KEEP\n"
      "RELATIVE: DROP\n<a> { ATTRIBUTE onclick: KEEP }",
      config);
  EXPECT_EQ(got.status, 0);
  EXPECT_EQ(got.err, "");
  EXPECT_EQ(cfg_attr_action(config, "A", "ONCLICK"), ACTION_KEEP);
  EXPECT_EQ(cfg_attr_action(config, "A", "ONLOAD"), ACTION_DROP);
  EXPECT_EQ(cfg_attr_action(config, "I", "STYLE"), ACTION_DROP);
  EXPECT_EQ(cfg_attr_action(config, "MY-WIDGET", "TITLE"), ACTION_WARN);
  EXPECT_EQ(cfg_action(config, "B"), ACTION_DROP);
  EXPECT_EQ(cfg_action(config, "I"), ACTION_KEEP);
  EXPECT_EQ(cfg_scheme_allowed(config, "mailto", 6), 1);
  EXPECT_EQ(cfg_scheme_allowed(config, "CID", 3), 1);
  EXPECT_EQ(cfg_scheme_allowed(config, "http", 4), 0);
  EXPECT_STREQ(cfg_link_rel(config), "noopener noreferrer");
  EXPECT_EQ(cfg_relative_action(config), ACTION_DROP);
  cfg_release(&config);
}

TEST(CfgRead, ErrorPlacesOfRulesSchemesAndLinkRelations) {
  const struct {
    const char* title;
    std::string text;
    unsigned long line;
    std::string message;
  } cases[] = {
      {"<*> with a colon", "<*>: KEEP", 1, "found ':', expected '{' after <*>"},
      {"<*> twice", "<*> { }\n<*> {", 2, "found a second statement for <*>, expected one"},
      {"a name after the star", "<*b> { }", 1, "found \"B\", expected '>' after <*"},
      {"a star elsewhere is still an error", "<a> {}\n*", 2, "found '*', expected '<', DEFAULT, COMMENT or MODE"},
      {"after SCHEMES", "SCHEMES https", 1, "found \"HTTPS\", expected ':' after SCHEMES"},
      {"empty SCHEMES at the end", "SCHEMES:\n", 1, "found the end of the file, expected a URL scheme after SCHEMES:"},
      {"empty SCHEMES before a statement", "SCHEMES: DEFAULT: KEEP", 1,
       "found \"DEFAULT\", expected a URL scheme after SCHEMES:"},
      {"SCHEMES twice", "SCHEMES: https\nSCHEMES: http", 2, "found a second SCHEMES statement, expected one"},
      {"invalid scheme", "SCHEMES: https\n  9p", 2,
       "found \"9P\", expected a URL scheme (a letter, then letters, digits or '-')"},
      {"scheme with an underscore", "SCHEMES: a_b", 1,
       "found \"A_B\", expected a URL scheme (a letter, then letters, digits or '-')"},
      {"a symbol in the list", "SCHEMES: https :", 1,
       "found ':', expected a URL scheme or the next statement after the schemes of SCHEMES:"},
      {"after RELATIVE:", "RELATIVE: WARN", 1, "found \"WARN\", expected KEEP or DROP after RELATIVE:"},
      {"RELATIVE twice", "RELATIVE: DROP RELATIVE: DROP", 1, "found a second RELATIVE statement, expected one"},
      {"LINK without REL", "LINK: noopener", 1, "found ':', expected REL after LINK"},
      {"after LINK REL", "LINK REL noopener", 1, "found \"NOOPENER\", expected ':' after LINK REL"},
      {"LINK REL without words", "LINK REL: <a>: KEEP", 1,
       "found '<', expected a link relation (nofollow, noopener, noreferrer, sponsored, ugc) after LINK REL:"},
      {"LINK REL twice", "LINK REL: nofollow\nLINK REL: ugc", 2, "found a second LINK REL statement, expected one"},
      {"unknown link relation", "LINK REL: noopener\nnoopner", 2,
       "found \"NOOPNER\", expected a link relation (nofollow, noopener, noreferrer, sponsored, ugc)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.title << ": \"" << c.text << '"');
    Config* config = cfg_construct();
    ASSERT_NE(config, nullptr);
    EXPECT_NE(read_text(c.text, config).status, 0);
    const CfgErrorPlace place = cfg_error_place();
    EXPECT_EQ(place.line, c.line);
    EXPECT_EQ(place.message, c.message);
    cfg_release(&config);
  }
}

}  // namespace
