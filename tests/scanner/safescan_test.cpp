// Unit tests for the safe-mode markup machine, run through scrub_html with
// safe scanning on. Recording hooks capture each piece as a (kind, text,
// line) triple; every case runs with the states' joining tables and again
// without them, so that both the handlers and the tables are held to each
// row of the transition table.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "scanner/scrub.h"

namespace {

struct Piece {
  char kind;  // 't' text, 'g' tag, 'c' comment
  std::string text;
  unsigned long line;
  bool operator==(const Piece&) const = default;
};

void PrintTo(const Piece& p, std::ostream* os) {
  *os << p.kind << ' ' << testing::PrintToString(p.text) << " @" << p.line;
}

Piece txt(std::string text, unsigned long line = 1) { return {'t', std::move(text), line}; }
Piece tag(std::string text, unsigned long line = 1) { return {'g', std::move(text), line}; }
Piece cmt(std::string text, unsigned long line = 1) { return {'c', std::move(text), line}; }
// The empty text piece that ends every scan that read its whole input.
Piece end(unsigned long line = 1) { return txt("", line); }

std::vector<Piece> pieces;

int record(char kind, const char* piece, unsigned long line) {
  pieces.push_back({kind, piece, line});
  return 0;
}
int record_text(const char* piece, std::FILE* /*out*/, unsigned long line) { return record('t', piece, line); }
int record_tag(const char* piece, std::FILE* /*out*/, unsigned long line) { return record('g', piece, line); }
int record_comment(const char* piece, std::FILE* /*out*/, unsigned long line) { return record('c', piece, line); }

struct Row {
  const char* name;  // state | input | next, as the transition table has it
  std::string input;
  std::vector<Piece> pieces;
  unsigned long dropped = 0;  // the line of a tag dropped at the end of the input
};

class SafeScanTest : public testing::Test {
 protected:
  void SetUp() override {
    install_text_scrubber(record_text);
    install_tag_scrubber(record_tag);
    install_comment_scrubber(record_comment);
    was_safe_ = install_safe_scan(true);
  }

  void TearDown() override {
    install_safe_scan(was_safe_);
    install_join_runs(true);
    install_text_scrubber(nullptr);
    install_tag_scrubber(nullptr);
    install_comment_scrubber(nullptr);
  }

  // Scans input; the hooks write nothing, and safe mode never writes past
  // them, so the output must stay empty.
  static void scan(const std::string& input) {
    pieces.clear();
    std::FILE* in = fmemopen(const_cast<char*>(input.data()), input.size(), "r");
    ASSERT_NE(in, nullptr);
    char* buf = nullptr;
    std::size_t size = 0;
    std::FILE* out = open_memstream(&buf, &size);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(scrub_html(in, out), 0);
    std::fclose(out);
    EXPECT_EQ(size, 0u);
    std::free(buf);
    std::fclose(in);
  }

  static void check(const std::vector<Row>& rows) {
    for (const Row& row : rows) {
      for (const bool join_runs : {true, false}) {
        SCOPED_TRACE(testing::Message() << row.name << (join_runs ? "" : " (handlers only)") << ": "
                                        << testing::PrintToString(row.input));
        install_join_runs(join_runs);
        scan(row.input);
        EXPECT_EQ(pieces, row.pieces);
        EXPECT_EQ(unterminated_piece_dropped(), row.dropped);
      }
    }
    install_join_runs(true);
  }

 private:
  bool was_safe_ = false;
};

// Where a row moves to another state, the input goes on with a character
// that the next state and its likeliest mistakes handle differently: a
// quote after '=' opens a value that hides '>' only in the states that
// expect a value, "--" and '>' end a comment only from the right state.

TEST_F(SafeScanTest, DataAndTagOpenRows) {
  check({
      {"data | other | data", "ab", {txt("ab"), end()}},
      {"data | EOF | end", "", {end()}},
      {"data | '<' | tag_open (held, then released)", "a< b", {txt("a< b"), end()}},
      {"tag_open | letter | tag_name (text, mark)", "a\n<b>c", {txt("a\n"), tag("b", 2), txt("c", 2), end(2)}},
      {"tag_open | upper-case letter | tag_name", "<B\n>c", {tag("B\n"), txt("c", 2), end(2)}},
      {"tag_open | '/' | end_tag_open", "a</b>c", {txt("a"), tag("/b"), txt("c"), end()}},
      {"tag_open | '!' | markup_decl (text, mark)", "a\n<!x>", {txt("a\n"), cmt("!x", 2), end(2)}},
      {"tag_open | '?' | bogus_comment (text, mark)", "a\n<?x>y", {txt("a\n"), cmt("?x", 2), txt("y", 2), end(2)}},
      {"tag_open | other | data (released)", "a<1>b", {txt("a<1>b"), end()}},
      {"tag_open | '<' | again in data", "<<b>", {txt("<"), tag("b"), end()}},
      {"tag_open | EOF | end (released)", "a<", {txt("a<"), end()}},
      {"end_tag_open | letter | tag_name", "a\n</b\n>", {txt("a\n"), tag("/b\n", 2), end(3)}},
      {"end_tag_open | '>' | data ('</>' dropped, text, mark)", "a\n</>\nb<i>",
       {txt("a\n"), txt("\nb", 2), tag("i", 3), end(3)}},
      {"end_tag_open | EOF | end (released)", "a</", {txt("a</"), end()}},
      {"end_tag_open | other | bogus_comment", "a</1>b", {txt("a"), cmt("/1"), txt("b"), end()}},
      {"end_tag_open | WS | bogus_comment", "</ x-->y>", {cmt("/ x--"), txt("y>"), end()}},
  });
}

TEST_F(SafeScanTest, TagRows) {
  check({
      // tag_name
      {"tag_name | WS | before_attr_name", "<a\nb=\"x>y\">", {tag("a\nb=\"x>y\""), end(2)}},
      {"tag_name | '/' | self_closing", "<a/b=\"x>y\">", {tag("a/b=\"x>y\""), end()}},
      {"tag_name | '>' | data (emit, mark)", "<a>\nb", {tag("a"), txt("\nb"), end(2)}},
      {"tag_name | other ('=', '\"') | tag_name", "<ab=\"x>y\">", {tag("ab=\"x"), txt("y\">"), end()}},
      {"tag_name | EOF | end (tag dropped)", "a\n<b", {txt("a\n"), end(2)}, 2},
      // before_attr_name
      {"before_attr_name | WS | before_attr_name", "<a \n=\"x>y\">", {tag("a \n=\"x"), txt("y\">", 2), end(2)}},
      {"before_attr_name | '/' | self_closing", "<a /=\"x>y\">", {tag("a /=\"x"), txt("y\">"), end()}},
      {"before_attr_name | '>' | data", "<a >b", {tag("a "), txt("b"), end()}},
      {"before_attr_name | other | attr_name", "<a b=\"x>y\">", {tag("a b=\"x>y\""), end()}},
      {"before_attr_name | '=' | attr_name", "<a =\"x>y\">", {tag("a =\"x"), txt("y\">"), end()}},
      {"before_attr_name | EOF | end (tag dropped)", "<a ", {end()}, 1},
      // attr_name
      {"attr_name | WS | after_attr_name", "<a b =\"x>y\">", {tag("a b =\"x>y\""), end()}},
      {"attr_name | '/' | self_closing", "<a b/=\"x>y\">", {tag("a b/=\"x"), txt("y\">"), end()}},
      {"attr_name | '=' | before_attr_value", "<a bc=\"x>y\">", {tag("a bc=\"x>y\""), end()}},
      {"attr_name | '>' | data", "<a b>c", {tag("a b"), txt("c"), end()}},
      {"attr_name | other ('\"') | attr_name", "<a b\"=\"x>y\">", {tag("a b\"=\"x>y\""), end()}},
      {"attr_name | EOF | end (tag dropped)", "<a b", {end()}, 1},
      // after_attr_name
      {"after_attr_name | WS | after_attr_name", "<a b \t=\"x>y\">", {tag("a b \t=\"x>y\""), end()}},
      {"after_attr_name | '/' | self_closing", "<a b /=\"x>y\">", {tag("a b /=\"x"), txt("y\">"), end()}},
      {"after_attr_name | '=' | before_attr_value", "<a b\n=\"x>y\">", {tag("a b\n=\"x>y\""), end(2)}},
      {"after_attr_name | '>' | data", "<a b >c", {tag("a b "), txt("c"), end()}},
      {"after_attr_name | other | attr_name", "<a b c=\"x>y\">", {tag("a b c=\"x>y\""), end()}},
      {"after_attr_name | EOF | end (tag dropped)", "<a b ", {end()}, 1},
      // before_attr_value
      {"before_attr_value | WS | before_attr_value", "<a b= \"x>y\">", {tag("a b= \"x>y\""), end()}},
      {"before_attr_value | '\"' | value_dq", "<a b=\"x>y\">", {tag("a b=\"x>y\""), end()}},
      {"before_attr_value | '\\'' | value_sq", "<a b='x>y'>", {tag("a b='x>y'"), end()}},
      {"before_attr_value | '>' | data", "<a b=>c", {tag("a b="), txt("c"), end()}},
      {"before_attr_value | other | value_uq", "<a b=x=\"y>z\">", {tag("a b=x=\"y"), txt("z\">"), end()}},
      {"before_attr_value | EOF | end (tag dropped)", "<a b=", {end()}, 1},
      // value_dq, value_sq
      {"value_dq | '\"' | after_value", "<a b=\"x\">c\">", {tag("a b=\"x\""), txt("c\">"), end()}},
      {"value_dq | other ('>', '\\'') | value_dq", "<a b=\"x>'\n\">", {tag("a b=\"x>'\n\""), end(2)}},
      {"value_dq | EOF | end (tag dropped)", "<a b=\"x>", {end()}, 1},
      {"value_sq | '\\'' | after_value", "<a b='x'>c'>", {tag("a b='x'"), txt("c'>"), end()}},
      {"value_sq | other ('>', '\"') | value_sq", "<a b='x>\"'>", {tag("a b='x>\"'"), end()}},
      {"value_sq | EOF | end (tag dropped)", "<a b='x>", {end()}, 1},
      // value_uq
      {"value_uq | WS | before_attr_name", "<a b=x c=\"d>e\">", {tag("a b=x c=\"d>e\""), end()}},
      {"value_uq | '>' | data", "<a b=x>c", {tag("a b=x"), txt("c"), end()}},
      {"value_uq | other ('=', '\"') | value_uq", "<a b=x=\"y>", {tag("a b=x=\"y"), end()}},
      {"value_uq | EOF | end (tag dropped)", "<a b=x", {end()}, 1},
      // after_value
      {"after_value | WS | before_attr_name", "<a b=\"x\" =\"d>e\">", {tag("a b=\"x\" =\"d"), txt("e\">"), end()}},
      {"after_value | '/' | self_closing", "<a b=\"x\"/=\"d>e\">", {tag("a b=\"x\"/=\"d"), txt("e\">"), end()}},
      {"after_value | '>' | data", "<a b=\"x\">c", {tag("a b=\"x\""), txt("c"), end()}},
      {"after_value | other | attr_name", "<a b=\"x\"c=\"d>e\">", {tag("a b=\"x\"c=\"d>e\""), end()}},
      {"after_value | '=' | attr_name", "<a b=\"x\"=\"d>e\">", {tag("a b=\"x\"=\"d"), txt("e\">"), end()}},
      {"after_value | EOF | end (tag dropped)", "<a b=\"x\"", {end()}, 1},
      // self_closing
      {"self_closing | '>' | data", "<br/>x", {tag("br/"), txt("x"), end()}},
      {"self_closing | WS | before_attr_name", "<a/ =\"x>y\">", {tag("a/ =\"x"), txt("y\">"), end()}},
      {"self_closing | '/' | self_closing", "<a//=\"x>y\">", {tag("a//=\"x"), txt("y\">"), end()}},
      {"self_closing | other | attr_name", "<a/b=\"x>y\">", {tag("a/b=\"x>y\""), end()}},
      {"self_closing | EOF | end (tag dropped)", "x\n<a/", {txt("x\n"), end(2)}, 2},
  });
}

// Whether a tag ended as "/>" decides, in foreign content, whether its
// element stays open; and whether a start tag begins raw text decides how
// what follows it is read.
TEST_F(SafeScanTest, TagEndsDecideTheContentAfterThem) {
  check({
      {"self_closing | '>' | data (the element is closed)", "<svg/><style><a></style>",
       {tag("svg/"), tag("style"), txt("<a>"), tag("/style"), end()}},
      {"value_uq | '/' | value_uq (not self-closing)", "<svg a=b/><style><a></style>",
       {tag("svg a=b/"), tag("style"), tag("a"), tag("/style"), end()}},
      {"tag_name | '>' | raw (style)", "<style><b></style>", {tag("style"), txt("<b>"), tag("/style"), end()}},
      {"tag_name | '>' | script", "<script><b></script>", {tag("script"), txt("<b>"), tag("/script"), end()}},
      {"tag_name | '>' | plaintext", "<plaintext>a</plaintext><b>", {tag("plaintext"), txt("a</plaintext><b>"), end()}},
      {"after_value | '>' | raw", "<textarea a=\"b\"><i></textarea>",
       {tag("textarea a=\"b\""), txt("<i>"), tag("/textarea"), end()}},
  });
}

TEST_F(SafeScanTest, CommentRows) {
  check({
      // markup_decl
      {"markup_decl | '-' | md_dash", "<!--x>y-->", {cmt("!--x>y--"), end()}},
      {"markup_decl | '>' | data (emit, mark)", "<!>\na", {cmt("!"), txt("\na"), end(2)}},
      {"markup_decl | other | bogus_comment", "<!x>y-->", {cmt("!x"), txt("y-->"), end()}},
      {"markup_decl | '[' in HTML | bogus_comment", "<![CDATA[x>]]>", {cmt("![CDATA[x"), txt("]]>"), end()}},
      {"markup_decl | '[' in foreign content | cdata_open", "<svg><![CDATA[x>]]>",
       {tag("svg"), txt("<![CDATA[x>]]>"), end()}},
      {"markup_decl | EOF | end (comment dropped)", "a<!", {txt("a"), end()}},
      // md_dash
      {"md_dash | '-' | comment_start", "<!--a>b-->", {cmt("!--a>b--"), end()}},
      {"md_dash | '>' | data", "<!->a", {cmt("!-"), txt("a"), end()}},
      {"md_dash | other | bogus_comment", "<!-x>y-->", {cmt("!-x"), txt("y-->"), end()}},
      {"md_dash | EOF | end (comment dropped)", "<!-", {end()}},
      // comment_start
      {"comment_start | '-' | comment_start_dash", "<!--->a", {cmt("!---"), txt("a"), end()}},
      {"comment_start | '>' | data", "<!-->a", {cmt("!--"), txt("a"), end()}},
      {"comment_start | other | comment", "<!--a>b-->", {cmt("!--a>b--"), end()}},
      {"comment_start | EOF | end (comment dropped)", "<!--", {end()}},
      // comment_start_dash
      {"comment_start_dash | '-' | comment_end", "<!----!>a", {cmt("!----!"), txt("a"), end()}},
      {"comment_start_dash | '>' | data", "<!--->\na", {cmt("!---"), txt("\na"), end(2)}},
      {"comment_start_dash | other | comment", "<!---x>y-->", {cmt("!---x>y--"), end()}},
      {"comment_start_dash | '!' | comment", "<!---!>x-->", {cmt("!---!>x--"), end()}},
      {"comment_start_dash | EOF | end (comment dropped)", "<!---", {end()}},
      // comment
      {"comment | '-' | comment_end_dash", "<!--x-y-->", {cmt("!--x-y--"), end()}},
      {"comment | other ('>', '<', '!') | comment", "<!--a>b<!c\n-->", {cmt("!--a>b<!c\n--"), end(2)}},
      {"comment | EOF | end (comment dropped)", "<!--x", {end()}},
      // comment_end_dash
      {"comment_end_dash | '-' | comment_end", "<!--x-->a", {cmt("!--x--"), txt("a"), end()}},
      {"comment_end_dash | other ('>') | comment", "<!--x->y-->", {cmt("!--x->y--"), end()}},
      {"comment_end_dash | EOF | end (comment dropped)", "<!--x-", {end()}},
      // comment_end
      {"comment_end | '>' | data (emit, mark)", "\n<!--x-->\na", {txt("\n"), cmt("!--x--", 2), txt("\na", 2), end(3)}},
      {"comment_end | '!' | comment_end_bang", "<!--x--!>a", {cmt("!--x--!"), txt("a"), end()}},
      {"comment_end | '-' | comment_end", "<!--x--->a", {cmt("!--x---"), txt("a"), end()}},
      {"comment_end | other | comment", "<!--x--y>z-->", {cmt("!--x--y>z--"), end()}},
      {"comment_end | EOF | end (comment dropped)", "<!--x--", {end()}},
      // comment_end_bang
      {"comment_end_bang | '-' | comment_end_dash", "a<!--x--!-->b<i>c</i>",
       {txt("a"), cmt("!--x--!--"), txt("b"), tag("i"), txt("c"), tag("/i"), end()}},
      {"comment_end_bang | '-' then other | comment", "<!--x--!-y-->", {cmt("!--x--!-y--"), end()}},
      {"comment_end_bang | '>' | data", "<!--x--!>a", {cmt("!--x--!"), txt("a"), end()}},
      {"comment_end_bang | other | comment", "<!--x--!y>z-->", {cmt("!--x--!y>z--"), end()}},
      {"comment_end_bang | EOF | end (comment dropped)", "<!--x--!", {end()}},
      // bogus_comment
      {"bogus_comment | '>' | data", "<?x>\ny", {cmt("?x"), txt("\ny"), end(2)}},
      {"bogus_comment | other ('<', '-') | bogus_comment", "<?a<b--c>d", {cmt("?a<b--c"), txt("d"), end()}},
      {"bogus_comment | EOF | end (comment dropped)", "<?x", {end()}},
  });
}

TEST_F(SafeScanTest, RawTextRows) {
  check({
      {"raw | other | raw", "<style>a>b</style>", {tag("style"), txt("a>b"), tag("/style"), end()}},
      {"raw | '<' | raw_lt (held)", "<style>a<b</style>", {tag("style"), txt("a<b"), tag("/style"), end()}},
      {"raw | EOF | end (released, text)", "<style>a<", {tag("style"), txt("a<"), end()}},
      {"raw_lt | '/' | raw_end (held)", "<style></b></style>", {tag("style"), txt("</b>"), tag("/style"), end()}},
      {"raw_lt | other | again in raw", "<style><</style>", {tag("style"), txt("<"), tag("/style"), end()}},
      {"raw_end | next letter of the name | raw_end", "<title>a</TiTlE>b",
       {tag("title"), txt("a"), tag("/TiTlE"), txt("b"), end()}},
      {"raw_end | WS after the name | before_attr_name (text, mark)", "<xmp>a\n</xmp\nx=\"y>z\">b",
       {tag("xmp"), txt("a\n"), tag("/xmp\nx=\"y>z\"", 2), txt("b", 3), end(3)}},
      {"raw_end | '/' after the name | self_closing", "<style>a</style/>b",
       {tag("style"), txt("a"), tag("/style/"), txt("b"), end()}},
      {"raw_end | '>' after the name | data", "<iframe>a</iframe><b>",
       {tag("iframe"), txt("a"), tag("/iframe"), tag("b"), end()}},
      {"raw_end | other letter | again in raw", "<style>a</stylex></style>",
       {tag("style"), txt("a</stylex>"), tag("/style"), end()}},
      {"raw_end | other before the name's end | again in raw", "<style>a</sty</style>",
       {tag("style"), txt("a</sty"), tag("/style"), end()}},
      {"raw_end | '>' before the name's end | again in raw", "<style>a</styl>b</style>",
       {tag("style"), txt("a</styl>b"), tag("/style"), end()}},
      {"raw_end | EOF | end (released, text)", "<noembed>a</noemb", {tag("noembed"), txt("a</noemb"), end()}},
      {"plaintext | any | plaintext", "<plaintext></plaintext><!--x-->",
       {tag("plaintext"), txt("</plaintext><!--x-->"), end()}},
  });
}

TEST_F(SafeScanTest, ScriptRows) {
  check({
      {"script | other | script", "<script>a>b</script>", {tag("script"), txt("a>b"), tag("/script"), end()}},
      {"script | '<' | script_lt (held)", "<script>a<b</script>", {tag("script"), txt("a<b"), tag("/script"), end()}},
      {"script | EOF | end (released, text)", "<script>a<", {tag("script"), txt("a<"), end()}},
      {"script_lt | '/' | raw_end", "<script>a</script\n>b",
       {tag("script"), txt("a"), tag("/script\n"), txt("b", 2), end(2)}},
      {"script_lt | '!' | script_esc_start", "<script><!x</script>",
       {tag("script"), txt("<!x"), tag("/script"), end()}},
      {"script_lt | other | again in script", "<script><</script>", {tag("script"), txt("<"), tag("/script"), end()}},
      {"raw_end | other, after script_lt | again in script", "<script></scr<!--<script></script>x</script>",
       {tag("script"), txt("</scr<!--<script></script>x"), tag("/script"), end()}},
      {"script_esc_start | '-' | script_esc_start_dash", "<script><!-<</script>",
       {tag("script"), txt("<!-<"), tag("/script"), end()}},
      {"script_esc_start | other | again in script", "<script><!<</script>",
       {tag("script"), txt("<!<"), tag("/script"), end()}},
      {"script_esc_start | EOF | end", "<script><!", {tag("script"), txt("<!"), end()}},
      {"script_esc_start_dash | '-' | script_esc_dash_dash", "<script><!--<script></script>x</script>",
       {tag("script"), txt("<!--<script></script>x"), tag("/script"), end()}},
      {"script_esc_start_dash | other | again in script", "<script><!-<script></script>",
       {tag("script"), txt("<!-<script>"), tag("/script"), end()}},
      // escaped
      {"script_esc | other | script_esc", "<script><!--x<script></script>y</script>",
       {tag("script"), txt("<!--x<script></script>y"), tag("/script"), end()}},
      {"script_esc | '-' | script_esc_dash", "<script><!--x-<script></script>y</script>",
       {tag("script"), txt("<!--x-<script></script>y"), tag("/script"), end()}},
      {"script_esc | '<' | script_esc_lt", "<script><!--x</script>",
       {tag("script"), txt("<!--x"), tag("/script"), end()}},
      {"script_esc | EOF | end", "<script><!--x<", {tag("script"), txt("<!--x<"), end()}},
      {"script_esc_dash | '-' | script_esc_dash_dash", "<script><!--x--><script></script>",
       {tag("script"), txt("<!--x--><script>"), tag("/script"), end()}},
      {"script_esc_dash | '<' | script_esc_lt", "<script><!--x-</script>",
       {tag("script"), txt("<!--x-"), tag("/script"), end()}},
      {"script_esc_dash | other | script_esc", "<script><!--x-><script></script>y</script>",
       {tag("script"), txt("<!--x-><script></script>y"), tag("/script"), end()}},
      {"script_esc_dash_dash | '-' | script_esc_dash_dash", "<script><!--x---><script></script>",
       {tag("script"), txt("<!--x---><script>"), tag("/script"), end()}},
      {"script_esc_dash_dash | '<' | script_esc_lt", "<script><!--x--</script>",
       {tag("script"), txt("<!--x--"), tag("/script"), end()}},
      {"script_esc_dash_dash | '>' | script", "<script><!----><script></script>",
       {tag("script"), txt("<!----><script>"), tag("/script"), end()}},
      {"script_esc_dash_dash | other | script_esc", "<script><!--x--y><script></script>z</script>",
       {tag("script"), txt("<!--x--y><script></script>z"), tag("/script"), end()}},
      {"script_esc_lt | '/' | raw_end, back to script_esc", "<script><!--</scr<script></script>z</script>",
       {tag("script"), txt("<!--</scr<script></script>z"), tag("/script"), end()}},
      {"script_esc_lt | letter | script_desc_start", "<script><!--<SCRIPT></script>z</script>",
       {tag("script"), txt("<!--<SCRIPT></script>z"), tag("/script"), end()}},
      {"script_esc_lt | letter | script_desc_start (a name collected afresh)",
       "<script><!--<x><script></script>y</script>",
       {tag("script"), txt("<!--<x><script></script>y"), tag("/script"), end()}},
      {"script_esc_lt | other | again in script_esc", "<script><!--<</script>",
       {tag("script"), txt("<!--<"), tag("/script"), end()}},
      // double escape start and end
      {"script_desc_start | WS after \"script\" | script_desc", "<script><!--<script\n></script>z</script>",
       {tag("script"), txt("<!--<script\n></script>z"), tag("/script", 2), end(2)}},
      {"script_desc_start | '/' after \"script\" | script_desc", "<script><!--<script/></script>z</script>",
       {tag("script"), txt("<!--<script/></script>z"), tag("/script"), end()}},
      {"script_desc_start | '>' after another name | script_esc", "<script><!--<scripty></script>",
       {tag("script"), txt("<!--<scripty>"), tag("/script"), end()}},
      {"script_desc_start | other | again in script_esc", "<script><!--<s</script>",
       {tag("script"), txt("<!--<s"), tag("/script"), end()}},
      // double escaped
      {"script_desc | other | script_desc", "<script><!--<script>x</script>y</script>",
       {tag("script"), txt("<!--<script>x</script>y"), tag("/script"), end()}},
      {"script_desc | EOF | end", "<script><!--<script>x<", {tag("script"), txt("<!--<script>x<"), end()}},
      {"script_desc | '-' | script_desc_dash", "<script><!--<script>-></script>x</script>",
       {tag("script"), txt("<!--<script>-></script>x"), tag("/script"), end()}},
      {"script_desc | '<' | script_desc_lt", "<script><!--<script><</script>x</script>",
       {tag("script"), txt("<!--<script><</script>x"), tag("/script"), end()}},
      {"script_desc_dash | '-' | script_desc_dash_dash", "<script><!--<script>--><script></script>",
       {tag("script"), txt("<!--<script>--><script>"), tag("/script"), end()}},
      {"script_desc_dash | '<' | script_desc_lt", "<script><!--<script>-</script>x</script>",
       {tag("script"), txt("<!--<script>-</script>x"), tag("/script"), end()}},
      {"script_desc_dash | other | script_desc", "<script><!--<script>-x-></script>y</script>",
       {tag("script"), txt("<!--<script>-x-></script>y"), tag("/script"), end()}},
      {"script_desc_dash_dash | '-' | script_desc_dash_dash", "<script><!--<script>---><script></script>",
       {tag("script"), txt("<!--<script>---><script>"), tag("/script"), end()}},
      {"script_desc_dash_dash | '<' | script_desc_lt", "<script><!--<script>--</script>x</script>",
       {tag("script"), txt("<!--<script>--</script>x"), tag("/script"), end()}},
      {"script_desc_dash_dash | '>' | script", "<script><!--<script>--><script></script>",
       {tag("script"), txt("<!--<script>--><script>"), tag("/script"), end()}},
      {"script_desc_dash_dash | other | script_desc", "<script><!--<script>--x></script>y</script>",
       {tag("script"), txt("<!--<script>--x></script>y"), tag("/script"), end()}},
      {"script_desc_lt | '/' | script_desc_end", "<script><!--<script></script>x</script>",
       {tag("script"), txt("<!--<script></script>x"), tag("/script"), end()}},
      {"script_desc_lt | other | again in script_desc", "<script><!--<script><-->x</script>",
       {tag("script"), txt("<!--<script><-->x"), tag("/script"), end()}},
      {"script_desc_end | WS after \"script\" | script_esc", "<script><!--<script></script >x</script>",
       {tag("script"), txt("<!--<script></script >x"), tag("/script"), end()}},
      {"script_desc_end | '>' after another name | script_desc", "<script><!--<script></scripty>x</script>y</script>",
       {tag("script"), txt("<!--<script></scripty>x</script>y"), tag("/script"), end()}},
      {"script_desc_end | other | again in script_desc", "<script><!--<script></s-->x</script>",
       {tag("script"), txt("<!--<script></s-->x"), tag("/script"), end()}},
  });
}

TEST_F(SafeScanTest, CdataRows) {
  check({
      {"cdata_open | the rest of \"[CDATA[\" | cdata", "<svg>a<![CDATA[<b>]]><i>",
       {tag("svg"), txt("a"), txt("<![CDATA[<b>]]>"), tag("i"), end()}},
      {"cdata_open | other | again in bogus_comment", "<svg><![CDAT>x", {tag("svg"), cmt("![CDAT"), txt("x"), end()}},
      {"cdata_open | other letter | bogus_comment", "<math><![cdata[x]]>", {tag("math"), cmt("![cdata[x]]"), end()}},
      {"cdata_open | EOF | end (comment dropped)", "<svg><![CD", {tag("svg"), end()}},
      {"cdata | other | cdata", "<svg><![CDATA[a<!--b>]]><i>",
       {tag("svg"), txt("<![CDATA[a<!--b>]]>"), tag("i"), end()}},
      {"cdata | EOF | end", "<svg><![CDATA[a", {tag("svg"), txt("<![CDATA[a"), end()}},
      {"cdata_bracket | ']' | cdata_brackets", "<svg><![CDATA[]]><i>",
       {tag("svg"), txt("<![CDATA[]]>"), tag("i"), end()}},
      {"cdata_bracket | other | cdata", "<svg><![CDATA[a]>]]><i>",
       {tag("svg"), txt("<![CDATA[a]>]]>"), tag("i"), end()}},
      {"cdata_bracket | EOF | end", "<svg><![CDATA[a]", {tag("svg"), txt("<![CDATA[a]"), end()}},
      {"cdata_brackets | '>' | data", "<svg><![CDATA[a]]>\n<i>",
       {tag("svg"), txt("<![CDATA[a]]>\n"), tag("i", 2), end(2)}},
      {"cdata_brackets | ']' | cdata_brackets", "<svg><![CDATA[a]]]><i>",
       {tag("svg"), txt("<![CDATA[a]]]>"), tag("i"), end()}},
      {"cdata_brackets | other | cdata", "<svg><![CDATA[a]]b]]><i>",
       {tag("svg"), txt("<![CDATA[a]]b]]>"), tag("i"), end()}},
      {"cdata_brackets | EOF | end", "<svg><![CDATA[a]]", {tag("svg"), txt("<![CDATA[a]]"), end()}},
  });
}

// ESC is dropped in every state, as NUL is, and leaves the state as it was.
TEST_F(SafeScanTest, EscIsDroppedInEveryState) {
  check({
      {"data", "a\x1b" "b", {txt("ab"), end()}},
      {"tag_open", "<\x1b" "b>", {tag("b"), end()}},
      {"end_tag_open", "</\x1b" "b>", {tag("/b"), end()}},
      {"before_attr_value", "<a b=\x1b\"x>y\">", {tag("a b=\"x>y\""), end()}},
      {"comment_end", "<!--x--\x1b>a", {cmt("!--x--"), txt("a"), end()}},
      {"comment_end_bang", "<!--x--!\x1b-->", {cmt("!--x--!--"), end()}},
      {"raw_end", "<style></sty\x1ble>a", {tag("style"), tag("/style"), txt("a"), end()}},
      {"script_esc_start_dash", "<script><!-\x1b-<script></script>x</script>",
       {tag("script"), txt("<!--<script></script>x"), tag("/script"), end()}},
      {"cdata_open", "<svg><![CD\x1b" "ATA[a]]>", {tag("svg"), txt("<![CDATA[a]]>"), end()}},
  });
}

}  // namespace
