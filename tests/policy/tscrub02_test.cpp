// Unit tests for the scrubbing policy: a Config filled by hand, the policy's
// hooks installed in the scanner, documents filtered from memory to memory,
// assertions on the output and on standard error.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "config/config.h"
#include "policy/findings.h"
#include "policy/tscrub02.h"
#include "scanner/scrub.h"

namespace {

// What a case configures: tag actions, the tag default, the comment action.
struct Rules {
  std::vector<std::pair<const char*, Action>> tags = {};
  Action tag_default = ACTION_KEEP;
  Action comment = ACTION_KEEP;
};

struct Filtered {
  int status;
  std::string out;
  std::string err;
};

// An output stream collected in memory.
class MemOut {
 public:
  MemOut() : stream_(open_memstream(&data_, &size_)) {}
  ~MemOut() {
    if (stream_ != nullptr) {
      std::fclose(stream_);
    }
    std::free(data_);
  }
  MemOut(const MemOut&) = delete;
  MemOut& operator=(const MemOut&) = delete;
  std::FILE* get() const { return stream_; }
  std::string text() {
    std::fflush(stream_);
    return std::string(data_, size_);
  }

 private:
  char* data_ = nullptr;
  std::size_t size_ = 0;
  std::FILE* stream_;
};

class Policy : public testing::Test {
 protected:
  void SetUp() override {
    scrub_tag(nullptr, nullptr, 0);
    install_safe_scan(false);  // the classic markup machine, whatever ran before
    install_tag_scrubber(scrub_tag);
    install_text_scrubber(scrub_text);
    install_comment_scrubber(scrub_comment);
    configure({});
  }

  void TearDown() override {
    scrub_tag(nullptr, nullptr, 0);
    install_tag_scrubber(nullptr);
    install_text_scrubber(nullptr);
    install_comment_scrubber(nullptr);
    install_safe_scan(false);
    install_config(nullptr);
    cfg_release(&config_);
  }

  // A fresh Config holding rules, installed, with no region open.
  void configure(const Rules& rules) {
    scrub_tag(nullptr, nullptr, 0);
    install_config(nullptr);
    cfg_release(&config_);
    config_ = cfg_construct();
    ASSERT_NE(config_, nullptr);
    for (const auto& [tag, action] : rules.tags) {
      ASSERT_EQ(cfg_set_tag_action(config_, tag, action), 0) << tag;
    }
    ASSERT_EQ(cfg_set_tag_default(config_, rules.tag_default), 0);
    ASSERT_EQ(cfg_set_comment_action(config_, rules.comment), 0);
    ASSERT_EQ(install_config(config_), config_);
  }

  void attr(const char* tag, const char* attribute, Action action) {
    ASSERT_EQ(cfg_set_attr_action(config_, tag, attribute, action), 0) << tag << " " << attribute;
  }
  void attr_default(const char* tag, Action action) {
    ASSERT_EQ(cfg_set_attr_default(config_, tag, action), 0) << tag;
  }

  // Filters html through the scanner and the installed hooks.
  static Filtered filter(std::string html) {
    std::FILE* in = fmemopen(html.data(), html.size(), "r");
    EXPECT_NE(in, nullptr);
    if (in == nullptr) {
      return {-1, "", ""};
    }
    MemOut out;
    testing::internal::CaptureStderr();
    const int status = scrub_html(in, out.get());
    std::string err = testing::internal::GetCapturedStderr();
    std::fclose(in);
    return {status, out.text(), err};
  }

  // Filters in; the scan must succeed with out and err.
  static void expect_filtered(const std::string& in, const std::string& out, const std::string& err) {
    const Filtered got = filter(in);
    EXPECT_EQ(got.status, 0);
    EXPECT_EQ(got.out, out);
    EXPECT_EQ(got.err, err);
  }

  struct Case {
    const char* title;
    Rules rules;
    std::string in;
    std::string out;
    std::string err;
  };

  // Each case with its own Config; all must succeed.
  void run_cases(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << c.title << ": " << c.in);
      configure(c.rules);
      expect_filtered(c.in, c.out, c.err);
    }
  }

  Config* config_ = nullptr;
};

TEST_F(Policy, TagActions) {
  const std::string long_name(130, 'x');
  run_cases({
      {"KEEP", {.tags = {{"B", ACTION_KEEP}}}, "x<b>y</b>z", "x<b>y</b>z", ""},
      {"WARN", {.tags = {{"B", ACTION_WARN}}}, "x<b>y</b>z", "x<b>y</b>z",
       "Warning: <B> tag on line 1\nWarning: </B> tag on line 1\n"},
      {"DROP", {.tags = {{"B", ACTION_DROP}}}, "x<b>y</b>z", "xyz", ""},
      {"DROP ALL", {.tags = {{"B", ACTION_DROP_ALL}}}, "x<b>y<i>w</i></b>z", "xz", ""},
      {"EDIT without attribute entries", {.tags = {{"B", ACTION_EDIT}}}, "x<b id=i>y</b>z", "x<b id=i>y</b>z", ""},
      {"names fold to upper case", {.tags = {{"B", ACTION_DROP}}}, "<B>a</B><b>b</b>", "ab", ""},
      {"white space around the name", {.tags = {{"P", ACTION_WARN}}}, "a< p class=x>b</ p >c",
       "a< p class=x>b</ p >c", "Warning: <P> tag on line 1\nWarning: </P> tag on line 1\n"},
      {"the name ends at white space only", {.tags = {{"BR", ACTION_DROP}}}, "a<br/>b<br />c<BR>d", "a<br/>bcd", ""},
      {"line of each tag", {.tags = {{"B", ACTION_WARN}}}, "a\n<b\nclass=x>\n</b>", "a\n<b\nclass=x>\n</b>",
       "Warning: <B> tag on line 2\nWarning: </B> tag on line 4\n"},
      {"tag default DROP", {.tag_default = ACTION_DROP}, "x<u>y</u>z", "xyz", ""},
      {"tag default WARN", {.tag_default = ACTION_WARN}, "<u>y</u>", "<u>y</u>",
       "Warning: <U> tag on line 1\nWarning: </U> tag on line 1\n"},
      {"named tags override the default", {.tags = {{"B", ACTION_KEEP}}, .tag_default = ACTION_DROP},
       "<b><i>x</i></b>", "<b>x</b>", ""},
      {"long names are cut at 127 characters", {.tag_default = ACTION_WARN}, "<" + long_name + " a=b>",
       "<" + long_name + " a=b>", "Warning: <" + std::string(127, 'X') + "> tag on line 1\n"},
      {"DROP ALL end tag without a region", {.tags = {{"DIV", ACTION_DROP_ALL}}}, "a</div>b", "ab", ""},
      {"nested regions of one name", {.tags = {{"DIV", ACTION_DROP_ALL}}}, "a<div>b<div>c</div>d</div>e</div>f",
       "aef", ""},
  });
}

// Inside a region nothing is written, but WARN tags and comments still report;
// an edited tag is not edited at all, so its attributes report nothing.
TEST_F(Policy, NothingIsWrittenInsideARegion) {
  configure({.tags = {{"DIV", ACTION_DROP_ALL}, {"I", ACTION_KEEP}, {"BLINK", ACTION_WARN}, {"A", ACTION_EDIT},
                      {"U", ACTION_DROP}},
             .comment = ACTION_WARN});
  attr("A", "TITLE", ACTION_WARN);
  const Filtered got = filter("<div><i>t</i><blink>x</blink><!-- c -->\n<a title=t>u</a><u></u></div>after");
  EXPECT_EQ(got.status, 0);
  EXPECT_EQ(got.out, "after");
  EXPECT_EQ(got.err, "Warning: <BLINK> tag on line 1\nWarning: </BLINK> tag on line 1\nWarning: comment on line 1\n");
}

// A region is closed only by its own end tag: end tags of other elements
// dropped whole cannot reopen the output from inside it.
TEST_F(Policy, RegionsCloseAtTheirOwnEndTag) {
  const Rules div_style{.tags = {{"DIV", ACTION_DROP_ALL}, {"STYLE", ACTION_DROP_ALL}, {"B", ACTION_KEEP}}};
  run_cases({
      {"foreign end tag inside", div_style, "<style>a</div>leak</style>z", "z", ""},
      {"inner region", div_style, "<div>a<style>b</style>c</div>d", "d", ""},
      {"stray end tag of a dropped element", div_style, "<div>a</style>b</div>c", "c", ""},
      {"end tag of a kept element", div_style, "<div>a</b>b</div>c", "c", ""},
      {"overlapping", div_style, "<div><style></div>x</style>y</div>z", "z", ""},
  });
}

// The scanner reads a script body as text whatever happens to its start tag,
// so a script start tag that is not written drops the body with it.
TEST_F(Policy, ScriptBodyNeverGoesOutWithoutItsStartTag) {
  run_cases({
      {"default DROP", {.tag_default = ACTION_DROP}, "<script><img src=x onerror=alert(1)></script>ok", "ok", ""},
      {"SCRIPT DROP", {.tags = {{"SCRIPT", ACTION_DROP}}}, "a<script>b</script>c", "ac", ""},
      {"attributes and case", {.tag_default = ACTION_DROP}, "a<SCRIPT type=x>b</Script >c", "ac", ""},
      {"DROP ALL opens one region", {.tags = {{"SCRIPT", ACTION_DROP_ALL}}}, "a<script>b</script>c", "ac", ""},
      {"DROP ALL with markup in the body", {.tags = {{"SCRIPT", ACTION_DROP_ALL}}},
       "a<script>x<b>y</b></script>z", "az", ""},
      {"KEEP writes it", {.tags = {{"SCRIPT", ACTION_KEEP}}}, "a<script>b</script>c", "a<script>b</script>c", ""},
      {"KEEP inside a region", {.tags = {{"SCRIPT", ACTION_KEEP}, {"DIV", ACTION_DROP_ALL}}},
       "<div><script>x</div>y</script>z</div>w", "w", ""},
      {"WARN inside a region", {.tags = {{"SCRIPT", ACTION_WARN}, {"DIV", ACTION_DROP_ALL}}},
       "<div><script>x</div>y</script>z</div>w", "w",
       "Warning: <SCRIPT> tag on line 1\nWarning: </SCRIPT> tag on line 1\n"},
      {"only the exact name", {.tag_default = ACTION_DROP}, "<scripts>a</scripts>b", "ab", ""},
  });
}

// Every hook, given a null piece or stream, closes all regions and writes
// nothing.
TEST_F(Policy, NullArgumentsCloseEveryRegion) {
  configure({.tags = {{"DIV", ACTION_DROP_ALL}}});
  const struct {
    const char* title;
    int (*reset)(std::FILE* out);
  } resets[] = {
      {"scrub_tag, null piece", [](std::FILE* out) { return scrub_tag(nullptr, out, 1); }},
      {"scrub_text, null stream", [](std::FILE*) { return scrub_text("x", nullptr, 1); }},
      {"scrub_comment, both null", [](std::FILE*) { return scrub_comment(nullptr, nullptr, 1); }},
  };
  for (const auto& r : resets) {
    SCOPED_TRACE(r.title);
    EXPECT_EQ(filter("a<div>b<div>c").out, "a");
    EXPECT_EQ(filter("d").out, "");  // still inside the regions left open
    MemOut out;
    testing::internal::CaptureStderr();
    EXPECT_EQ(r.reset(out.get()), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(out.text(), "");
    EXPECT_EQ(filter("e").out, "e");
  }
}

// Straight calls of the hook: the scanner would read the second <script> as
// part of the body.
TEST_F(Policy, NestedScriptStartTagsOpenTwoRegions) {
  configure({.tags = {{"SCRIPT", ACTION_DROP_ALL}}});
  MemOut out;
  EXPECT_EQ(scrub_tag("script", out.get(), 1), 0);
  EXPECT_EQ(scrub_tag("script", out.get(), 1), 0);
  EXPECT_EQ(scrub_tag("/script", out.get(), 1), 0);
  EXPECT_EQ(scrub_text("x", out.get(), 1), 0);
  EXPECT_EQ(scrub_tag("/script", out.get(), 1), 0);
  EXPECT_EQ(scrub_text("y", out.get(), 1), 0);
  EXPECT_EQ(out.text(), "y");
}

TEST_F(Policy, Comments) {
  const struct {
    const char* title;
    Action action;
    std::string out;
    std::string err;
    bool stops;
  } cases[] = {
      {"KEEP", ACTION_KEEP, "a<!-- c -->b\n<!DOCTYPE html>", "", false},
      {"WARN", ACTION_WARN, "a<!-- c -->b\n<!DOCTYPE html>", "Warning: comment on line 1\nWarning: comment on line 2\n",
       false},
      {"DROP", ACTION_DROP, "ab\n", "", false},
      {"DROP ALL", ACTION_DROP_ALL, "a", "scrub_comment: invalid action\n", true},
      {"EDIT", ACTION_EDIT, "a", "scrub_comment: invalid action\n", true},
      {"out of range", 9, "a", "scrub_comment: invalid action\n", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.title);
    configure({.comment = c.action});
    const Filtered got = filter("a<!-- c -->b\n<!DOCTYPE html>");
    EXPECT_EQ(got.status != 0, c.stops);
    EXPECT_EQ(got.out, c.out);
    EXPECT_EQ(got.err, c.err);
  }
}

TEST_F(Policy, AttributeEditing) {
  configure({.tags = {{"A", ACTION_EDIT}, {"INPUT", ACTION_EDIT}, {"IMG", ACTION_EDIT}, {"P", ACTION_EDIT},
                      {"B", ACTION_EDIT}}});
  attr("A", "HREF", ACTION_KEEP);
  attr("A", "TITLE", ACTION_WARN);
  attr("A", "ONCLICK", ACTION_DROP);
  attr_default("A", ACTION_DROP);
  attr("INPUT", "CHECKED", ACTION_DROP);  // others kept by default
  attr("IMG", "SRC", ACTION_KEEP);
  attr_default("IMG", ACTION_DROP);
  attr("P", "ALIGN", ACTION_KEEP);
  attr_default("P", ACTION_WARN);
  attr_default("B", ACTION_DROP);  // no attribute entries: the default counts all the same

  const std::string long_attr(130, 'x');
  const struct {
    const char* title;
    std::string in;
    std::string out;
    std::string err;
  } cases[] = {
      {"quoted values", "<a href=\"x\" onclick='y()'>t</a>", "<a href=\"x\">t</a>", ""},
      {"white space and = in quotes", "<a href=\"x y=z\" onclick=q>", "<a href=\"x y=z\">", ""},
      {"> in double quotes", "<a href=\"x>y\" onclick=\"z>\">t", "<a href=\"x>y\">t", ""},
      {"single quotes", "<a href='a b' onclick='c d' title='e f'>", "<a href='a b' title='e f'>",
       "line 1: A tag with attribute TITLE\n"},
      {"unterminated quote runs to the end", "<a href=x title='t onclick=y>", "<a href=x title='t onclick=y>",
       "line 1: A tag with attribute TITLE\n"},
      {"unterminated quote dropped", "<a onclick='x href=y>", "<a>", ""},
      {"white space around =", "<a href = \"x\" onclick = y>", "<a href = \"x\">", ""},
      {"white space kept", "< a  href=x\tonclick=y\ntitle=z   >", "< a  href=x\ntitle=z   >",
       "line 1: A tag with attribute TITLE\n"},
      {"line of the tag", "\n<a title=t onclick=u>", "\n<a title=t>", "line 2: A tag with attribute TITLE\n"},
      {"value-less, first", "<a download href=x>", "<a href=x>", ""},
      {"value-less, last", "<a href=x download>", "<a href=x>", ""},
      {"value-less dropped before another", "<input checked disabled>", "<input disabled>", ""},
      {"value-less dropped after another", "<input disabled checked>", "<input disabled>", ""},
      {"value-less dropped, trailing space", "<input checked >", "<input >", ""},
      {"value after white space", "<input checked =x disabled>", "<input disabled>", ""},
      {"white space after = belongs to the value", "<a href= onclick= >", "<a href= onclick= >", ""},
      {"trailing / follows the default DROP", "<img src=x />", "<img src=x>", ""},
      {"trailing / follows the default KEEP", "<input checked />", "<input />", ""},
      {"nameless = written once", "<a =1 href=x onclick=y>", "<a =1 href=x>", ""},
      {"nameless = at the end", "<a href=x =>", "<a href=x =>", ""},
      {"names fold to upper case", "<A HREF=x OnClick=y TITLE=z>", "<A HREF=x TITLE=z>",
       "line 1: A tag with attribute TITLE\n"},
      {"default without entries", "<b class=c id=d>", "<b>", ""},
      {"default WARN", "<p align=c style=s>", "<p align=c style=s>", "line 1: P tag with attribute STYLE\n"},
      {"long attribute name", "<p align=c " + long_attr + "=1>", "<p align=c " + long_attr + "=1>",
       "line 1: P tag with attribute " + std::string(127, 'X') + "\n"},
      {"long attribute name dropped whole", "<a " + long_attr + "=1 href=x>", "<a href=x>", ""},
      {"end tag written unchanged", "</a onclick=y>", "</a onclick=y>", ""},
      {"no attributes", "<a>", "<a>", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.title << ": " << c.in);
    expect_filtered(c.in, c.out, c.err);
  }
}

// In both modes: a kept attribute right after a dropped one is kept apart
// from what precedes it; an attribute DEFAULT counts when the braces name
// no attribute; patterns match names by their beginning, below names and
// longer patterns.
TEST_F(Policy, AttributeSeparationDefaultsAndPatterns) {
  const struct {
    const char* title;
    std::string in;
    std::string out;
    std::string err;
    // The end tag safe mode writes at the end of the output, for what the
    // input left open.
    std::string closed_in_safe_mode = "";
  } cases[] = {
      // A dropped attribute, then one that would join what precedes it.
      {"kept after dropped, quoted value", "<a onclick=\"go()\"href=/x>t", "<a href=/x>t", "", "</a>"},
      {"warned after dropped", "<a onclick='go()'title=t>", "<a title=t>", "line 1: A tag with attribute TITLE\n", "</a>"},
      {"after a kept one", "<a href=/x onclick=\"go()\"title=t>", "<a href=/x title=t>",
       "line 1: A tag with attribute TITLE\n", "</a>"},
      {"two dropped in a row", "<a onclick=\"x\"onclick='y'href=z>", "<a href=z>", "", "</a>"},
      {"a stray value after dropped", "<a onclick=\"x\"=y>", "<a =y>", "", "</a>"},
      // Where it is not broken, nothing changes.
      {"white space of its own", "<a onclick=\"x\"\thref=y>", "<a\thref=y>", "", "</a>"},
      {"white space at the end", "<a onclick=\"x\"  >", "<a  >", "", "</a>"},
      {"dropped last", "<a href=y onclick=\"x\">", "<a href=y>", "", "</a>"},
      {"nothing dropped", "<a href=\"y\"title=t>", "<a href=\"y\"title=t>", "line 1: A tag with attribute TITLE\n", "</a>"},
      // DEFAULT alone in the braces.
      {"DEFAULT: DROP alone", "<p class=c onclick=x>t</p>", "<p>t</p>", ""},
      {"DEFAULT: WARN alone", "<q class=c id=i>", "<q class=c id=i>",
       "line 1: Q tag with attribute CLASS\nline 1: Q tag with attribute ID\n", "</q>"},
      // Patterns.
      {"pattern, name and longer pattern", "<div onclick=x onload=y data-a=1 data-x1=2 id=i>",
       "<div onload=y data-a=1 data-x1=2 id=i>", "line 1: DIV tag with attribute DATA-A\n", "</div>"},
      {"pattern in any case", "<div OnMouseOver=x ON=y>", "<div>", "", "</div>"},
      {"pattern and separation", "<div onclick=\"x\"id=i>", "<div id=i>", "", "</div>"},
  };
  for (const bool safe : {false, true}) {
    configure({.tags = {{"A", ACTION_EDIT}, {"P", ACTION_EDIT}, {"Q", ACTION_EDIT}, {"DIV", ACTION_EDIT}}});
    attr("A", "ONCLICK", ACTION_DROP);
    attr("A", "TITLE", ACTION_WARN);
    attr_default("P", ACTION_DROP);
    attr_default("Q", ACTION_WARN);
    attr("DIV", "ON*", ACTION_DROP);
    attr("DIV", "ONLOAD", ACTION_KEEP);
    attr("DIV", "DATA-*", ACTION_WARN);
    attr("DIV", "DATA-X*", ACTION_KEEP);
    if (safe) {
      ASSERT_EQ(cfg_set_mode(config_, MODE_SAFE), 0);
      install_config(config_);
    }
    install_safe_scan(safe);
    for (const auto& c : cases) {
      SCOPED_TRACE(testing::Message() << (safe ? "safe: " : "classic: ") << c.title << ": " << c.in);
      expect_filtered(c.in, c.out + (safe ? c.closed_in_safe_mode : ""), c.err);
    }
  }
}

TEST_F(Policy, FailedTextWriteIsReported) {
  char byte = 'x';
  std::FILE* read_only = fmemopen(&byte, 1, "r");
  ASSERT_NE(read_only, nullptr);
  testing::internal::CaptureStderr();
  EXPECT_EQ(scrub_text("text", read_only, 1), 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Unable to write HTML: Bad file descriptor\n");
  std::fclose(read_only);
}

}  // namespace

namespace {

// Findings as "kind subject line[-end] TAG ATTRIBUTE", one a line.
std::string recorded_findings;

void record_finding(const Finding& f) {
  constexpr const char* kSubjects[] = {"start", "end", "attribute", "comment", "region", "unterminated"};
  recorded_findings += finding_kind_name(f.kind);
  recorded_findings += std::string(" ") + kSubjects[static_cast<int>(f.subject)] + " " + std::to_string(f.line);
  if (f.subject == FindingSubject::kRegion) {
    recorded_findings += "-" + std::to_string(f.end_line);
  }
  recorded_findings += std::string(" ") + (f.tag != nullptr ? f.tag : "-");
  recorded_findings += std::string(" ") + (f.attribute != nullptr ? f.attribute : "-") + "\n";
}

}  // namespace

// With the report on, every piece the policy drops is one finding with its
// line; pieces inside a region are covered by the region's. Warnings and
// unsafe URLs are findings with or without it.
TEST_F(Policy, RemovalReport) {
  const struct {
    const char* title;
    bool safe;
    std::string in;
    std::string findings;
  } cases[] = {
      {"a dropped start and end tag", false, "<b>x\n</b>", "removed start 1 B -\nremoved end 2 B -\n"},
      {"a warned tag", false, "<i>", "warning start 1 I -\n"},
      {"a dropped and a warned attribute", false, "<a onclick=x\ntitle=y>",
       "removed attribute 1 A ONCLICK\nwarning attribute 1 A TITLE\n"},
      {"a dropped comment", false, "\n<!-- c -->", "removed comment 2 - -\n"},
      {"a region with what is inside it", false, "<div>\n<b><!-- c --><div></div>\n</div>x",
       "removed region 1-3 DIV -\n"},
      {"a DROP ALL end tag alone", false, "</div>", "removed end 1 DIV -\n"},
      {"two regions one after the other", false, "<div></div>\n<div>", "removed region 1-1 DIV -\nremoved region 2-0 DIV -\n"},
      {"an SVG region closed by an HTML tag", true, "<svg><g>\n<p>", "removed region 1-2 SVG -\n"},
      {"a self-closing svg", true, "<svg/>", "removed start 1 SVG -\n"},
      {"an unsafe URL is reported once", true, "<a href=javascript:x>", "unsafe-url attribute 1 A HREF\n"},
  };
  const FindingSink previous = install_finding_sink(record_finding);
  const bool was_reporting = install_removal_report(true);
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.title << ": " << c.in);
    configure({.tags = {{"B", ACTION_DROP}, {"I", ACTION_WARN}, {"DIV", ACTION_DROP_ALL}, {"A", ACTION_EDIT}},
               .comment = ACTION_DROP});
    attr("A", "ONCLICK", ACTION_DROP);
    attr("A", "TITLE", ACTION_WARN);
    attr("A", "HREF", ACTION_KEEP);
    ASSERT_EQ(cfg_set_mode(config_, c.safe ? MODE_SAFE : MODE_CLASSIC), 0);
    install_config(config_);
    install_safe_scan(c.safe);
    recorded_findings.clear();
    const Filtered got = filter(c.in);
    report_unclosed_region();
    EXPECT_EQ(got.status, 0);
    EXPECT_EQ(got.err, "");
    EXPECT_EQ(recorded_findings, c.findings);
  }
  // Without the report, only the warnings.
  install_removal_report(false);
  install_safe_scan(false);
  configure({.tags = {{"B", ACTION_DROP}, {"I", ACTION_WARN}, {"DIV", ACTION_DROP_ALL}}, .comment = ACTION_DROP});
  recorded_findings.clear();
  (void)filter("<b><i><!-- c --><div>");
  report_unclosed_region();
  EXPECT_EQ(recorded_findings, "warning start 1 I -\n");
  install_removal_report(was_reporting);
  install_finding_sink(previous);
}

// Safe mode: tags that act on the whole page are never written, and the
// start tags of the page's own elements lose every attribute, however the
// tag is split and whatever the policy says of it; each drop is reported.
TEST_F(Policy, PageWideTagsInSafeMode) {
  const struct {
    const char* title;
    std::string in;
    std::string out;
    std::string findings;
  } cases[] = {
      {"self-closing, no attribute", "<body/>t", "<body>t", ""},
      {"white space alone", "<head >", "<head>", ""},
      {"an edited tag keeps none", "<body onload=x/>", "<body>", "removed attribute 1 BODY ONLOAD\n"},
      {"quoted value and no separator", "<BODY\tONLOAD='a b'title=t>", "<BODY>",
       "removed attribute 1 BODY ONLOAD\nremoved attribute 1 BODY TITLE\n"},
      {"a name that begins with '='", "<html =x>", "<html>", "removed attribute 1 HTML =X\n"},
      {"the tag's line", "\n<html\nlang=en>", "\n<html>", "removed attribute 2 HTML LANG\n"},
      // The page's end tags would close the page's elements: never written.
      {"end tags removed", "<html lang=en></head></body></html>", "<html>",
       "removed attribute 1 HTML LANG\nremoved end 1 HEAD -\nremoved end 1 BODY -\nremoved end 1 HTML -\n"},
      {"base, start and end", "<base/>x</BASE>", "x", "removed start 1 BASE -\nremoved end 1 BASE -\n"},
      {"meta across lines", "<meta\ncharset=x>y", "y", "removed start 1 META -\n"},
      // A <frame> outside a frameset is nothing to a browser: not written either.
      {"frameset around a frame", "<frameset><frame></frameset>", "",
       "removed start 1 FRAMESET -\nremoved start 1 FRAME -\nremoved end 1 FRAMESET -\n"},
      {"inside a region, covered by it", "<div><base><body onload=x></div>z", "z", "removed region 1-1 DIV -\n"},
  };
  const FindingSink previous = install_finding_sink(record_finding);
  const bool was_reporting = install_removal_report(true);
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.title << ": " << c.in);
    configure({.tags = {{"BODY", ACTION_EDIT}, {"DIV", ACTION_DROP_ALL}}});
    attr("BODY", "ONLOAD", ACTION_KEEP);
    ASSERT_EQ(cfg_set_mode(config_, MODE_SAFE), 0);
    install_config(config_);
    install_safe_scan(true);
    recorded_findings.clear();
    const Filtered got = filter(c.in);
    EXPECT_EQ(got.status, 0);
    EXPECT_EQ(got.out, c.out);
    EXPECT_EQ(got.err, "");
    EXPECT_EQ(recorded_findings, c.findings);
  }
  install_removal_report(was_reporting);
  install_finding_sink(previous);
}
