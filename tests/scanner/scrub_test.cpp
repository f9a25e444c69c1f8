// Unit tests for the markup scanner, its pending-piece buffer and its hooks.
// Recording hooks capture each piece as a (kind, text, line) triple and write
// nothing, so the scan's output holds only what the scanner writes itself
// (raw flushes of unterminated markup and a held-back '<').
#include "scanner/scrub.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include <sys/types.h>

#include "estr/estr.h"

using namespace std::string_literals;

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

// ---- recording hooks ----

std::vector<Piece> pieces;
// Where each piece lay, as handed_piece_place gave it during its hook:
// column, end line and end column.
using Place = std::array<unsigned long, 3>;
std::vector<Place> places;
std::FILE* scan_out = nullptr;  // the stream the current scan writes to
int foreign_streams = 0;        // hook calls that got another stream
Piece stop_at{};                // the piece whose hook returns stop_result
int stop_result = 0;

int record(char kind, const char* piece, std::FILE* out, unsigned long line) {
  if (out != scan_out) {
    ++foreign_streams;
  }
  pieces.push_back({kind, piece, line});
  const PiecePlace at = handed_piece_place();
  places.push_back({at.column, at.end_line, at.end_column});
  return pieces.back() == stop_at ? stop_result : 0;
}
int record_text(const char* piece, std::FILE* out, unsigned long line) { return record('t', piece, out, line); }
int record_tag(const char* piece, std::FILE* out, unsigned long line) { return record('g', piece, out, line); }
int record_comment(const char* piece, std::FILE* out, unsigned long line) {
  return record('c', piece, out, line);
}

std::vector<std::string> estr_reports;
void capture_estr_report(const char* message) { estr_reports.emplace_back(message); }

std::string without_nul(const std::string& s) {
  std::string r;
  for (const char c : s) {
    if (c != '\0') {
      r += c;
    }
  }
  return r;
}

class ScrubTest : public testing::Test {
 protected:
  void SetUp() override {
    pieces.clear();
    places.clear();
    foreign_streams = 0;
    stop_at = Piece{};
    stop_result = 0;
    estr_reports.clear();
  }

  void TearDown() override {
    install_text_scrubber(nullptr);
    install_tag_scrubber(nullptr);
    install_comment_scrubber(nullptr);
    estr_install_error_reporter(nullptr);
  }

  static void install_recorders() {
    install_text_scrubber(record_text);
    install_tag_scrubber(record_tag);
    install_comment_scrubber(record_comment);
  }

  // Scans input into a fresh output stream; keeps the output and the first
  // byte the scan left unread.
  int scan(const std::string& input) {
    std::FILE* in = fmemopen(const_cast<char*>(input.data()), input.size(), "r");
    EXPECT_NE(in, nullptr);
    char* buf = nullptr;
    std::size_t size = 0;
    std::FILE* out = open_memstream(&buf, &size);
    EXPECT_NE(out, nullptr);
    scan_out = out;
    const int status = scrub_html(in, out);
    next_ = std::fgetc(in);
    std::fclose(out);
    output_.assign(buf, size);
    std::free(buf);
    std::fclose(in);
    return status;
  }

  struct ScanCase {
    const char* name;
    std::string input;
    std::vector<Piece> pieces;
    std::string output;  // written by the scanner itself, past the hooks
  };

  void check(const std::vector<ScanCase>& cases) {
    for (const ScanCase& c : cases) {
      SCOPED_TRACE(c.name);
      pieces.clear();
      EXPECT_EQ(scan(c.input), 0);
      EXPECT_EQ(pieces, c.pieces);
      EXPECT_EQ(output_, c.output);
    }
    EXPECT_EQ(foreign_streams, 0);
  }

  std::string output_;
  int next_ = EOF;
};

// Every row of the transition table, state by state.
TEST_F(ScrubTest, SplitsMarkupStateByState) {
  install_recorders();
  const std::vector<ScanCase> cases = {
      {"empty input", "", {}, ""},
      {"text to end of input", "hello world", {txt("hello world")}, ""},
      {"text, tag, text", "a<b>c", {txt("a"), tag("b"), txt("c")}, ""},
      {"bytes above 127 are ordinary", "\xFF\x80<\xFF>\xFE", {txt("\xFF\x80"), tag("\xFF"), txt("\xFE")}, ""},
      // 1 less
      {"less: '!' opens a declaration", "<!x>", {cmt("!x")}, ""},
      {"less: a lone space is a tag", "< >", {tag(" ")}, ""},
      {"less: white space is kept", "< \t\na>", {tag(" \t\na")}, ""},
      {"less: '<>' hands nothing", "a<>b", {txt("a"), txt("b")}, ""},
      {"less: end of input", "x<", {txt("x")}, "<"},
      {"less: white space then end of input", "x< \n", {txt("x")}, "< \n"},
      {"less: '\"' does not open a value", "<\"x>y\">", {tag("\"x"), txt("y\">")}, ""},
      {"less: nor after white space", "< \"x>y\">", {tag(" \"x"), txt("y\">")}, ""},
      {"less: CR is an ordinary character", "<\r\"x>\">", {tag("\r\"x>\"")}, ""},
      {"less: '<' is an ordinary character", "<<>>", {tag("<"), txt(">")}, ""},
      // 2 tag, 3 quote
      {"tag: quoted value hides '>'", "<a title=\"x>y\">z", {tag("a title=\"x>y\""), txt("z")}, ""},
      {"tag: single quotes are not special", "<a title='x>y'>", {tag("a title='x"), txt("y'>")}, ""},
      {"tag: end of input", "a<abc", {txt("a")}, "<abc"},
      {"quote: closing quote returns to the tag", "<a b=\"c\" d>", {tag("a b=\"c\" d")}, ""},
      {"quote: end of input", "<a b=\"c>", {}, "<a b=\"c>"},
      // 4 bang
      {"bang: comment", "<!-- a -->", {cmt("!-- a --")}, ""},
      {"bang: white space", "<! \n>x", {cmt("! \n"), txt("x", 2)}, ""},
      {"bang: white space before a comment", "<! -- > -->", {cmt("! -- > --")}, ""},
      {"bang: CR leads to a declaration", "<!\r-- > -->", {cmt("!\r-- "), txt(" -->")}, ""},
      {"bang: '>' at once", "<!>", {cmt("!")}, ""},
      {"bang: end of input", "<!", {}, "<!"},
      {"bang: other leads to a declaration", "<!DOCTYPE html>", {cmt("!DOCTYPE html")}, ""},
      // 5 dash_1
      {"dash 1: '>'", "<!->", {cmt("!-")}, ""},
      {"dash 1: end of input", "<!-", {}, "<!-"},
      {"dash 1: white space leads to a declaration", "<!- > -->", {cmt("!- "), txt(" -->")}, ""},
      // 6 dash_2, 7 dash_3
      {"dash 2: '>' inside a comment", "<!-- a > b -->", {cmt("!-- a > b --")}, ""},
      {"dash 2: end of input", "<!-- x", {}, "<!-- x"},
      {"dash 3: single dash inside a comment", "<!-- a - b -->", {cmt("!-- a - b --")}, ""},
      {"dash 3: other goes back inside the comment", "<!-- a -x > b -->", {cmt("!-- a -x > b --")}, ""},
      {"dash 3: end of input", "<!-- a -", {}, "<!-- a -"},
      {"dash 3: empty comment", "<!---->", {cmt("!----")}, ""},
      {"two comments in one declaration", "<!-- a -- -- b -->", {cmt("!-- a -- -- b --")}, ""},
      {"'>' after a closed comment ends it", "<!-- a -- > b -->", {cmt("!-- a -- "), txt(" b -->")}, ""},
      {"closed comment then end of input", "<!-- a --", {}, "<!-- a --"},
      // 8 error
      {"error: text after a closed comment", "<!-- a -- x>y", {cmt("!-- a -- x"), txt("y")}, ""},
      {"error: dashes do not protect '>'", "<!x -- > -->", {cmt("!x -- "), txt(" -->")}, ""},
      {"error: end of input", "<!DOCTYPE", {}, "<!DOCTYPE"},
  };
  check(cases);
}

// Safe mode drops what it must never write, and ends every scan that read
// its whole input with the empty text piece (on the last line); classic
// scans, and scans that a hook stopped, do not.
TEST_F(ScrubTest, SafeScanDropsWhatItNeverWritesAndHandsOverTheEnd) {
  install_recorders();
  const bool was_safe = install_safe_scan(true);
  const std::vector<ScanCase> cases = {
      {"empty input", "", {txt("")}, ""},
      {"comment left open", "a<!-- x", {txt("a"), txt("")}, ""},
      {"comment left open after a dash", "a\n<!--x-", {txt("a\n"), txt("", 2)}, ""},
      {"declaration left open", "<!DOCTYPE", {txt("")}, ""},
      {"closed comment", "<!-- x -->", {cmt("!-- x --"), txt("")}, ""},
      {"ESC is dropped everywhere", "\x1b$B<a title=\"\x1b\">\x1b(B<!--\x1b-->",
       {txt("$B"), tag("a title=\"\""), txt("(B"), cmt("!----"), txt("")}, ""},
      {"ESC between a tag's '<' and its name goes too", "<\x1b" "b>", {tag("b"), txt("")}, ""},
  };
  check(cases);
  pieces.clear();
  stop_at = tag("b");
  stop_result = 7;
  EXPECT_EQ(scan("a<b>c"), 7);
  EXPECT_EQ(pieces, (std::vector<Piece>{txt("a"), tag("b")}));
  install_safe_scan(false);
  pieces.clear();
  EXPECT_EQ(scan("a<!-- x\x1b"), 0);
  EXPECT_EQ(pieces, (std::vector<Piece>{txt("a")}));
  EXPECT_EQ(output_, "<!-- x\x1b");
  install_safe_scan(was_safe);
}

TEST_F(ScrubTest, ScriptBodiesKeepLessThanAsText) {
  install_recorders();
  const std::vector<ScanCase> cases = {
      {"'<' in a script body", "<script>if (a<b) x();</script><i>",
       {tag("script"), txt("if (a<b) x();"), tag("/script"), tag("i")}, ""},
      {"'<!' starts a comment", "<script>a<!-- c -->b</script>",
       {tag("script"), txt("a"), cmt("!-- c --"), txt("b"), tag("/script")}, ""},
      {"a comment hides an end tag", "<script><!-- </script> --></script><i>",
       {tag("script"), cmt("!-- </script> --"), tag("/script"), tag("i")}, ""},
      {"other end tags are tags", "<script>a</b>c</script><i>",
       {tag("script"), txt("a"), tag("/b"), txt("c"), tag("/script"), tag("i")}, ""},
      {"'<' then end of input", "<script>ab<", {tag("script"), txt("ab")}, "<"},
      {"'<' alone at end of input", "<script><", {tag("script")}, "<"},
      {"'<<' before '/script>'", "<script>x<</script>y<b>", {tag("script"), txt("x<</script>y<b>")}, ""},
      {"'<>' is text", "<script><>", {tag("script"), txt("<>")}, ""},
      {"'< /' is text", "<script>a< / script ><b>", {tag("script"), txt("a< / script ><b>")}, ""},
      {"NUL between '<' and '/'", "<script>a<\0/script>b<i>"s,
       {tag("script"), txt("a"), tag("/script"), txt("b"), tag("i")}, ""},
      // which tags count as script tags
      {"upper case with attributes", "<SCRIPT LANGUAGE=\"x\">a<b</SCRIPT><i>",
       {tag("SCRIPT LANGUAGE=\"x\""), txt("a<b"), tag("/SCRIPT"), tag("i")}, ""},
      {"mixed case", "<ScRiPt>a<b", {tag("ScRiPt"), txt("a<b")}, ""},
      {"white space around the end tag's name", "<script>a</ script >b<i>",
       {tag("script"), txt("a"), tag("/ script "), txt("b"), tag("i")}, ""},
      {"white space before the name", "< script >a<b", {tag(" script "), txt("a<b")}, ""},
      {"form feed and CR count as space here", "<\fscript\r>a<b", {tag("\fscript\r"), txt("a<b")}, ""},
      {"'scripts' is not a script", "<scripts>a<b>", {tag("scripts"), txt("a"), tag("b")}, ""},
      {"'script/' is not a script", "<script/>a<b>", {tag("script/"), txt("a"), tag("b")}, ""},
      {"'scrip' is not a script", "<scrip>a<b>", {tag("scrip"), txt("a"), tag("b")}, ""},
      {"a declaration is not a tag", "<!script>a<b>", {cmt("!script"), txt("a"), tag("b")}, ""},
      {"an end tag outside a script", "</script>a<b>", {tag("/script"), txt("a"), tag("b")}, ""},
  };
  check(cases);
}

TEST_F(ScrubTest, PiecesCarryTheLineOnWhichTheyBegan) {
  install_recorders();
  const std::vector<ScanCase> cases = {
      {"tag spanning lines", "a\n<b\nc>\nd", {txt("a\n", 1), tag("b\nc", 2), txt("\nd", 3)}, ""},
      {"text has the line of the '>' before it", "<a>\n\nb<c>", {tag("a", 1), txt("\n\nb", 1), tag("c", 3)}, ""},
      {"comment spanning lines", "\n\n<!-- \n -->x", {txt("\n\n", 1), cmt("!-- \n --", 3), txt("x", 4)}, ""},
      {"an empty pair marks its line", "a\n<>\nb<c>", {txt("a\n", 1), txt("\nb", 2), tag("c", 3)}, ""},
      {"carriage returns are not counted", "a\r\r<b>\r\n<c>", {txt("a\r\r", 1), tag("b", 1), txt("\r\n", 1), tag("c", 2)},
       ""},
      {"NUL is not a line", "\0\n\0<a>"s, {txt("\n", 1), tag("a", 2)}, ""},
      {"script text cut by '</' keeps its first line", "<script>\na\n</script>\n<b>",
       {tag("script", 1), txt("\na\n", 1), tag("/script", 3), txt("\n", 3), tag("b", 4)}, ""},
      {"script comment", "<script>\n<!--x-->\n<i", {tag("script", 1), txt("\n", 1), cmt("!--x--", 2), txt("\n<i", 2)},
       ""},
  };
  check(cases);
}

TEST_F(ScrubTest, NulBytesAreDiscardedWithoutDisturbingTheState) {
  install_recorders();
  const std::vector<ScanCase> cases = {
      {"around and inside pieces", "\0a\0b<\0x\0>\0c\0"s, {txt("ab"), tag("x"), txt("c")}, ""},
      {"inside the dashes of a comment", "<!\0-\0-x-\0->"s, {cmt("!--x--")}, ""},
      {"between '<' and '>'", "a<\0>b"s, {txt("a"), txt("b")}, ""},
      {"inside a quoted value", "<a b=\"\0>\">"s, {tag("a b=\">\"")}, ""},
      {"only NUL bytes", "\0\0\0"s, {}, ""},
      {"in an unterminated tag", "<a\0b"s, {}, "<ab"},
  };
  check(cases);
}

// The pending buffer holds 127 characters before it spills; pieces of any
// length around that boundary must arrive whole and in order.
TEST_F(ScrubTest, LongPiecesArriveWhole) {
  install_recorders();
  for (const std::size_t n : {1u, 126u, 127u, 128u, 129u, 254u, 255u, 256u, 300u, 1000u}) {
    SCOPED_TRACE(n);
    std::string body;
    for (std::size_t i = 0; i < n; ++i) {
      body += static_cast<char>('a' + i % 26);
    }
    const std::vector<ScanCase> cases = {
        {"text", body, {txt(body)}, ""},
        {"tag then text", "<" + body + ">" + body, {tag(body), txt(body)}, ""},
        {"comment", "<!--" + body + "-->", {cmt("!--" + body + "--")}, ""},
        {"unterminated comment", "<!--" + body, {}, "<!--" + body},
        {"unterminated tag", "<" + body, {}, "<" + body},
        {"script text", "<script>" + body + "<" + body + "</script>",
         {tag("script"), txt(body + "<" + body), tag("/script")}, ""},
    };
    check(cases);
  }
}

// Line feeds are counted wherever the pending buffer happens to spill.
TEST_F(ScrubTest, LinesAreCountedAcrossSpills) {
  install_recorders();
  for (std::size_t n = 124; n < 260; n += (n == 131 ? 120 : 1)) {
    SCOPED_TRACE(n);
    const std::string lines(n, '\n');
    const unsigned long after = n + 1;
    const std::vector<ScanCase> cases = {
        {"text", lines + "<a>", {txt(lines, 1), tag("a", after)}, ""},
        {"tag", "<a" + lines + "><b>", {tag("a" + lines, 1), tag("b", after)}, ""},
        {"quoted value", "<a \"" + lines + "\">x<b>", {tag("a \"" + lines + "\"", 1), txt("x", after), tag("b", after)},
         ""},
        {"comment", "<!--" + lines + "-->x<b>", {cmt("!--" + lines + "--", 1), txt("x", after), tag("b", after)}, ""},
        {"declaration", "<!x" + lines + ">x<b>", {cmt("!x" + lines, 1), txt("x", after), tag("b", after)}, ""},
        {"script text", "<script>" + lines + "</script>", {tag("script"), txt(lines, 1), tag("/script", after)}, ""},
    };
    check(cases);
  }
}

// In a script, a held-back '<' and the character after it are appended
// together; neither may be lost when that pair straddles a spill.
TEST_F(ScrubTest, ScriptLessThanPairsStraddlingASpillArriveWhole) {
  install_recorders();
  for (std::size_t k = 120; k < 135; ++k) {
    SCOPED_TRACE(k);
    const std::string head(k, 'h');
    pieces.clear();
    EXPECT_EQ(scan("<script>" + head + "<b" + head + "</script>"), 0);
    EXPECT_EQ(pieces, (std::vector<Piece>{tag("script"), txt(head + "<b" + head), tag("/script")}));
  }
}

// Short pieces are copied into the output buffer in blocks of fixed size
// that overlap; every length comes out whole, in the buffer of the open
// output and across its ends (pieces of every length up to 40, and with
// brackets, over more than two buffers), and straight to any other stream.
TEST(PutBytes, EveryLengthComesOutWhole) {
  std::string source;
  for (int i = 0; i < 128; ++i) {
    source += static_cast<char>('A' + i % 26);
  }
  for (const bool gathered : {false, true}) {
    SCOPED_TRACE(gathered);
    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    if (gathered) {
      output_open(out);
    }
    std::string expected;
    const int rounds = gathered ? 200 : 1;
    for (int round = 0; round < rounds; ++round) {
      for (std::size_t count = 0; count <= 40; ++count) {
        ASSERT_EQ(put_bytes(source.data() + count, count, out), 0) << count;
        ASSERT_EQ(put_bracketed(source.data(), count, out), 0) << count;
        expected.append(source, count, count);
        expected += '<' + source.substr(0, count) + '>';
      }
    }
    if (gathered) {
      ASSERT_EQ(output_close(), 0);
    }
    std::rewind(out);
    std::string written(expected.size() + 1, '\0');
    written.resize(std::fread(written.data(), 1, written.size(), out));
    std::fclose(out);
    EXPECT_EQ(written, expected);
  }
}

// The input is read in blocks, from a memory stream through fread (whose own
// buffer then does not matter) or from a file through its descriptor:
// pieces, lines and the stopping point come out the same wherever the
// blocks end, with NUL bytes and long pieces across their ends. A scan that
// stops puts back what it read past the stop.
TEST_F(ScrubTest, PiecesLinesAndStopDoNotDependOnTheStreamBuffer) {
  install_recorders();
  std::string input;
  std::vector<Piece> expected;
  for (unsigned long line = 1; line <= 3000; ++line) {
    const std::string text = "line " + std::to_string(line) + std::string(line % 7, '\0') + "\n";
    const std::string name = "t" + std::string(line % 300, 'x');
    input += text + "<" + name + ">";
    expected.push_back(txt(without_nul(text), line));
    expected.push_back(tag(name, line + 1));
  }
  input += "<!-- the end";  // unterminated: written raw at the end
  const Piece stop = expected[4001];
  // A buffer of 0: a file, read through its descriptor.
  for (const std::size_t buffer : {std::size_t{0}, std::size_t{1}, std::size_t{7}, std::size_t{1} << 16}) {
    SCOPED_TRACE(buffer);
    for (const bool stopping : {false, true}) {
      pieces.clear();
      stop_at = stopping ? stop : Piece{};
      stop_result = stopping ? 3 : 0;
      std::FILE* in = nullptr;
      if (buffer == 0) {
        in = std::tmpfile();
        ASSERT_NE(in, nullptr);
        ASSERT_EQ(std::fwrite(input.data(), 1, input.size(), in), input.size());
        std::rewind(in);
      } else {
        in = fmemopen(input.data(), input.size(), "r");
        ASSERT_NE(in, nullptr);
        ASSERT_EQ(std::setvbuf(in, nullptr, buffer == 1 ? _IONBF : _IOFBF, buffer), 0);
      }
      char* buf = nullptr;
      std::size_t size = 0;
      scan_out = open_memstream(&buf, &size);
      ASSERT_NE(scan_out, nullptr);
      EXPECT_EQ(scrub_html(in, scan_out), stopping ? 3 : 0);
      const int next = std::fgetc(in);
      std::fclose(scan_out);
      const std::string output(buf, size);
      std::free(buf);
      std::fclose(in);
      if (stopping) {
        EXPECT_EQ(next, 'l');  // the text after the tag that stopped it
        EXPECT_TRUE(std::equal(pieces.begin(), pieces.end(), expected.begin(), expected.begin() + 4002));
        EXPECT_EQ(pieces.size(), 4002u);
        EXPECT_EQ(output, "");
      } else {
        EXPECT_EQ(next, EOF);
        EXPECT_EQ(pieces, expected);
        EXPECT_EQ(output, "<!-- the end");
      }
    }
  }
}

// A nonzero hook result stops the scan at once: it becomes the result, and
// nothing after the character that finished the piece is read.
TEST_F(ScrubTest, NonzeroHookResultStopsTheScanAtOnce) {
  install_recorders();
  const struct {
    const char* name;
    std::string input;
    Piece stop;
    int result;
    std::vector<Piece> pieces;
    int next;
    std::string output;
  } cases[] = {
      {"text", "ab<x>cd", txt("ab"), 5, {txt("ab")}, 'x', ""},
      {"tag", "ab<x>cd<y>", tag("x"), -1, {txt("ab"), tag("x")}, 'c', ""},
      {"comment", "<!--c-->rest", cmt("!--c--"), 42, {cmt("!--c--")}, 'r', ""},
      {"script start tag", "<script>a</script>b", tag("script"), 2, {tag("script")}, 'a', ""},
      {"script text cut by '<!'", "<script>ab<!x>", txt("ab"), 3, {tag("script"), txt("ab")}, 'x', ""},
      {"text at end of input", "<i>ab", txt("ab"), 9, {tag("i"), txt("ab")}, EOF, ""},
      // The held-back '<' is written even when the text hook stops the scan.
      {"script text at end of input", "<script>ab<", txt("ab"), 4, {tag("script"), txt("ab")}, EOF, "<"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    pieces.clear();
    stop_at = c.stop;
    stop_result = c.result;
    EXPECT_EQ(scan(c.input), c.result);
    EXPECT_EQ(pieces, c.pieces);
    EXPECT_EQ(next_, c.next);
    EXPECT_EQ(output_, c.output);
  }
}

// Script mode, line counts and the pending piece do not leak from one scan
// into the next, whether the first ran to the end or was stopped.
TEST_F(ScrubTest, EachScanStartsAfresh) {
  install_recorders();
  stop_at = tag("script", 4);
  stop_result = 1;
  const struct {
    const char* name;
    std::string first;
    int result;
  } cases[] = {
      {"ended inside a script body", "x\n\n<script>a<b", 0},
      {"ended inside a comment", "x\n\n<!-- a <b>", 0},
      {"stopped just after a script tag", "\n\n\n<script>rest<b>", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(scan(c.first), c.result);
    pieces.clear();
    EXPECT_EQ(scan("a<b>c"), 0);
    EXPECT_EQ(pieces, (std::vector<Piece>{txt("a", 1), tag("b", 1), txt("c", 1)}));
    EXPECT_EQ(output_, "");
  }
}

TEST_F(ScrubTest, InstallersReturnThePreviousHookAndNullRestoresTheDefault) {
  EXPECT_EQ(install_text_scrubber(record_text), &default_text_scrubber);
  EXPECT_EQ(install_text_scrubber(nullptr), &record_text);
  EXPECT_EQ(install_text_scrubber(nullptr), &default_text_scrubber);

  EXPECT_EQ(install_tag_scrubber(record_tag), &default_tag_scrubber);
  EXPECT_EQ(install_tag_scrubber(record_comment), &record_tag);
  EXPECT_EQ(install_tag_scrubber(nullptr), &record_comment);
  EXPECT_EQ(install_tag_scrubber(nullptr), &default_tag_scrubber);

  EXPECT_EQ(install_comment_scrubber(record_comment), &default_tag_scrubber);
  EXPECT_EQ(install_comment_scrubber(nullptr), &record_comment);
  EXPECT_EQ(install_comment_scrubber(nullptr), &default_tag_scrubber);

  // Each installer replaces only its own hook.
  install_comment_scrubber(record_comment);
  EXPECT_EQ(scan("a<b><!c>"), 0);
  EXPECT_EQ(pieces, (std::vector<Piece>{cmt("!c")}));
  EXPECT_EQ(output_, "a<b>");
}

// With the default hooks the output is the input less NUL bytes and less the
// '<>' pairs that hand nothing.
TEST_F(ScrubTest, DefaultHooksPassMarkupThrough) {
  const struct {
    std::string input;
    std::string output;
  } cases[] = {
      {"", ""},
      {"plain text\n", "plain text\n"},
      {"<!-- x -->", "<!-- x -->"},
      {"< a >", "< a >"},
      {"<!DOCTYPE html><p class=\"a>b\">t</p>", "<!DOCTYPE html><p class=\"a>b\">t</p>"},
      {"<a title='x>y'>", "<a title='x>y'>"},
      {"a<>b<>", "ab"},
      {"<\0>"s, ""},
      {"a\0b"s, "ab"},
      {"<<>>", "<<>>"},
      {"<!-- x", "<!-- x"},
      {"x<", "x<"},
      {"<script>a<>b</script><>", "<script>a<>b</script>"},
      {"<script>ab<", "<script>ab<"},
      {"<script>a<!--<>--></script>", "<script>a<!--<>--></script>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.input));
    EXPECT_EQ(scan(c.input), 0);
    EXPECT_EQ(output_, c.output);
  }
}

// Small deterministic generator (xorshift64), so that every run sees the
// same inputs.
class Xorshift {
 public:
  explicit Xorshift(std::uint64_t seed) : s_(seed) {}
  std::uint32_t next() {
    s_ ^= s_ << 13;
    s_ ^= s_ >> 7;
    s_ ^= s_ << 17;
    return static_cast<std::uint32_t>(s_ >> 32);
  }
  std::size_t below(std::size_t n) { return next() % n; }

 private:
  std::uint64_t s_;
};

// Without '<' the whole input is one text run: output is input less NUL.
TEST_F(ScrubTest, BinaryInputWithoutLessThanPassesThrough) {
  Xorshift rng(0x9E3779B97F4A7C15u);
  for (int i = 0; i < 200; ++i) {
    std::string input;
    const std::size_t n = rng.below(700);
    while (input.size() < n) {
      const char c = static_cast<char>(rng.below(256));
      if (c != '<') {
        input += c;
      }
    }
    SCOPED_TRACE(i);
    EXPECT_EQ(scan(input), 0);
    EXPECT_EQ(output_, without_nul(input));
  }
}

// Markup-rich input (tags, quotes, comments, script bodies, unterminated
// pieces, binary bytes). As long as no '<' is directly followed by '>' once
// NUL bytes are gone, every byte other than NUL reaches the output in order.
TEST_F(ScrubTest, MarkupInputWithoutEmptyPairsPassesThrough) {
  const std::string tokens[] = {
      "<", ">", "\"", "!", "-", "--", "<!", "<!--", "-->", "</", "<script>", "</script>",
      "<SCRIPT a=\"1\">", "< / script >", "< ", "\n", "\t", "\r", "\0"s, "<a href=\"x>y\">", "<<",
      "/script>", "text ", std::string(200, 'y'), "<!DOCTYPE html>", "'",
  };
  Xorshift rng(20240611u);
  for (int i = 0; i < 300; ++i) {
    std::string raw;
    const std::size_t count = rng.below(120);
    for (std::size_t t = 0; t < count; ++t) {
      if (rng.below(3) == 0) {
        raw += static_cast<char>(rng.below(256));
      } else {
        raw += tokens[rng.below(std::size(tokens))];
      }
    }
    std::string input;
    char last = '\0';
    for (const char c : raw) {
      if (c == '>' && last == '<') {
        input += ' ';
      }
      input += c;
      if (c != '\0') {
        last = c;
      }
    }
    SCOPED_TRACE(i);
    EXPECT_EQ(scan(input), 0);
    EXPECT_EQ(output_, without_nul(input));
  }
}

// The states' tables let the scanner join characters to the piece, and move
// between states, without calling the handlers; they must agree with the
// handlers in every state of both machines. Random markup made of the
// tokens that switch states is scanned with and without them.
TEST_F(ScrubTest, JoinTablesAgreeWithTheHandlers) {
  const std::string tokens[] = {
      "<", ">", "/", "=", "\"", "'", "!", "-", "--", "?", "[", "]", "]]>", "<!", "<!--", "-->", "--!>", "</",
      "<a", "<b x=1 y='2' z=\"3\">", "</a >", "<img/src=x>", " ", "\n", "\t", "\f", "\r", "\v", "\0"s, "x",
      "Y", "&amp;", "<script>", "</script>", "<!--<script>", "<style>", "</style>", "<textarea>", "</textarea>",
      "<title>", "</title>", "<plaintext>", "<svg>", "</svg>", "<math>", "<![CDATA[", "<foreignObject>",
      "<xmp>", "</xmp>", "< / script >", "<SCRIPT a=\"1\">", "<!DOCTYPE html>", std::string(130, 'w'),
      "='>'", "=\">\"", "='\"'", "=\"'\"", "=>", "a=", " b = '", "\">", "'>", "<svg/ >", "<math", "/ ",
      "\x1b", "/>", " data-long-name=\"0123456789>abcdef\" ", "\n    title='a b\nc'", "=\"\n\"",
  };
  install_recorders();
  Xorshift rng(0x5eed0f7ab1e5u);
  for (const bool safe : {false, true}) {
    const bool was_safe = install_safe_scan(safe);
    for (int i = 0; i < 2000; ++i) {
      std::string input;
      const std::size_t count = rng.below(60);
      for (std::size_t t = 0; t < count; ++t) {
        input += rng.below(8) == 0 ? std::string(1, static_cast<char>(rng.below(256)))
                                   : tokens[rng.below(std::size(tokens))];
      }
      SCOPED_TRACE(testing::Message() << (safe ? "safe " : "classic ") << i << ": " << testing::PrintToString(input));
      pieces.clear();
      places.clear();
      const int with_runs = scan(input);
      const std::vector<Piece> pieces_with_runs = pieces;
      const std::vector<Place> places_with_runs = places;
      const std::string output_with_runs = output_;
      pieces.clear();
      places.clear();
      install_join_runs(false);
      const int without_runs = scan(input);
      install_join_runs(true);
      EXPECT_EQ(with_runs, without_runs);
      EXPECT_EQ(pieces_with_runs, pieces);
      EXPECT_EQ(places_with_runs, places);
      EXPECT_EQ(output_with_runs, output_);
    }
    install_safe_scan(was_safe);
  }
}

// Columns count the bytes of the input from the start of the line (NUL and
// tab included, a carriage return before a line feed among them), for the
// '<' of a tag or comment and for its '>', in both machines, with and
// without join runs, and across windows of input (64 KiB blocks).
TEST_F(ScrubTest, TagsAndCommentsKnowTheColumnsOfTheirBrackets) {
  struct ColumnCase {
    const char* name;
    bool safe;
    std::string input;
    std::vector<Piece> pieces;  // tags and comments only
    std::vector<Place> places;
  };
  const std::string wide(70000, 'a');
  const std::string to_edge(65534, 'a');  // a '<' two bytes before the first window ends
  const std::vector<ColumnCase> cases = {
      {"one line", false, "<p>ab <b>x</b>", {tag("p"), tag("b"), tag("/b")}, {{1, 1, 3}, {7, 1, 9}, {11, 1, 14}}},
      {"one line, safe", true, "<p>ab <b>x</b>", {tag("p"), tag("b"), tag("/b")}, {{1, 1, 3}, {7, 1, 9}, {11, 1, 14}}},
      {"CR LF, tab, a tag over two lines", false, "a\r\n<b>\r\n\t<i\r\n x>",
       {tag("b", 2), tag("i\r\n x", 3)}, {{1, 2, 3}, {2, 4, 3}}},
      {"CR LF, safe", true, "a\r\n<b>\r\n\t<i\r\n x>", {tag("b", 2), tag("i\r\n x", 3)}, {{1, 2, 3}, {2, 4, 3}}},
      {"NUL bytes are bytes of the line", false, "a\0<b>"s, {tag("b")}, {{3, 1, 5}}},
      {"comments", false, "xy<!-- a -->", {cmt("!-- a --")}, {{3, 1, 12}}},
      {"comments, safe", true, "xy<!-- a -->", {cmt("!-- a --")}, {{3, 1, 12}}},
      {"held '<' in a script", false, "<script>a<!--c-->b</script>",
       {tag("script"), cmt("!--c--"), tag("/script")}, {{1, 1, 8}, {10, 1, 17}, {19, 1, 27}}},
      {"held \"</script\" in raw text, safe", true, "<script>if(a<b)</script >",
       {tag("script"), tag("/script ")}, {{1, 1, 8}, {16, 1, 25}}},
      {"a line longer than a window", false, wide + "<b>", {tag("b")}, {{70001, 1, 70003}}},
      {"a line longer than a window, safe", true, wide + "<b>", {tag("b")}, {{70001, 1, 70003}}},
      {"a tag across the end of a window", false, to_edge + "<font>", {tag("font")}, {{65535, 1, 65540}}},
      {"a tag across the end of a window, safe", true, to_edge + "<font>", {tag("font")}, {{65535, 1, 65540}}},
      {"a line that began in an earlier window", true, "x\n" + wide + "<i>", {tag("i", 2)}, {{70001, 2, 70003}}},
      {"a tag over lines and windows", false, "<a\n" + std::string(70000, ' ') + ">",
       {tag("a\n" + std::string(70000, ' '))}, {{1, 2, 70001}}},
  };
  install_recorders();
  install_text_scrubber(default_text_scrubber);  // pieces and places: tags and comments only
  for (const ColumnCase& c : cases) {
    const bool was_safe = install_safe_scan(c.safe);
    for (const bool join_runs : {true, false}) {
      SCOPED_TRACE(testing::Message() << c.name << (join_runs ? "" : " (handlers only)"));
      install_join_runs(join_runs);
      pieces.clear();
      places.clear();
      EXPECT_EQ(scan(c.input), 0);
      EXPECT_EQ(pieces, c.pieces);
      EXPECT_EQ(places, c.places);
    }
    install_join_runs(true);
    install_safe_scan(was_safe);
  }
  EXPECT_EQ(handed_piece_place().column, 0u);  // outside a hook
}

// Text runs have no place; an unterminated tag that safe mode drops keeps
// the column of its '<'.
TEST_F(ScrubTest, TextHasNoPlaceAndADroppedTagKeepsItsColumn) {
  install_recorders();
  const bool was_safe = install_safe_scan(true);
  EXPECT_EQ(scan("ab\n  <i x"), 0);
  EXPECT_EQ(pieces, (std::vector<Piece>{txt("ab\n  "), txt("", 2)}));
  EXPECT_EQ(places, (std::vector<Place>{{0, 0, 0}, {0, 0, 0}}));
  EXPECT_EQ(unterminated_piece_dropped(), 2u);
  EXPECT_EQ(unterminated_piece_place().column, 3u);
  EXPECT_EQ(scan("<i>"), 0);
  EXPECT_EQ(unterminated_piece_place().column, 0u);
  install_safe_scan(was_safe);
}

TEST_F(ScrubTest, DefaultHooksIgnoreNullArguments) {
  char* buf = nullptr;
  std::size_t size = 0;
  std::FILE* out = open_memstream(&buf, &size);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(default_text_scrubber(nullptr, out, 1), 0);
  EXPECT_EQ(default_text_scrubber("x", nullptr, 1), 0);
  EXPECT_EQ(default_tag_scrubber(nullptr, out, 1), 0);
  EXPECT_EQ(default_tag_scrubber("x", nullptr, 1), 0);
  EXPECT_EQ(default_text_scrubber("piece", out, 7), 0);
  std::fclose(out);
  EXPECT_EQ(std::string(buf, size), "piece");
  std::free(buf);
}

// The tag hook's angle brackets go to the scan's output, the piece to the
// stream it is given.
std::FILE* side_stream = nullptr;
int tag_to_side_stream(const char* piece, std::FILE* /*out*/, unsigned long line) {
  return default_tag_scrubber(piece, side_stream, line);
}

TEST_F(ScrubTest, DefaultTagHookWritesBracketsToTheScanOutput) {
  char* buf = nullptr;
  std::size_t size = 0;
  side_stream = open_memstream(&buf, &size);
  ASSERT_NE(side_stream, nullptr);
  install_tag_scrubber(tag_to_side_stream);
  EXPECT_EQ(scan("a<b>c<d e>"), 0);
  std::fclose(side_stream);
  side_stream = nullptr;
  EXPECT_EQ(output_, "a<>c<>");
  EXPECT_EQ(std::string(buf, size), "bd e");
  std::free(buf);
}

TEST_F(ScrubTest, FailedWritesAreReportedAndStopTheScan) {
  char backing[16] = {};
  std::FILE* read_only = fmemopen(backing, sizeof backing, "r");
  ASSERT_NE(read_only, nullptr);
  testing::internal::CaptureStderr();
  EXPECT_EQ(default_text_scrubber("x", read_only, 1), 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr().rfind("Unable to write HTML: ", 0), 0u);
  std::fclose(read_only);

  // Output is gathered and handed to the stream in blocks: a write that
  // fails when the scan ends is reported once and fails the scan, raw
  // writes at the end of the input included; one that fails while a hook
  // writes stops the scan there.
  const std::string long_text(70000, 'x');
  const struct {
    std::string input;
    int next;
  } cases[] = {
      {"text<a>", EOF},
      {"<a>rest", EOF},
      {"<!-- unterminated", EOF},
      {long_text + "<a>rest", 'a'},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input.substr(0, 20));
    std::FILE* in = fmemopen(const_cast<char*>(c.input.data()), c.input.size(), "r");
    std::FILE* out = fmemopen(backing, sizeof backing, "r");
    ASSERT_NE(in, nullptr);
    ASSERT_NE(out, nullptr);
    testing::internal::CaptureStderr();
    EXPECT_EQ(scrub_html(in, out), 1);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.rfind("Unable to write HTML: ", 0), 0u) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_EQ(std::fgetc(in), c.next);
    std::fclose(out);
    std::fclose(in);
  }
}

// A read error ends the input like end of file: pending text still goes to
// its hook, and errno is left as the failed read set it.
struct FailingSource {
  const char* data;
  std::size_t left;
};

ssize_t read_then_fail(void* cookie, char* buf, std::size_t size) {
  auto* src = static_cast<FailingSource*>(cookie);
  if (src->left == 0) {
    errno = EIO;
    return -1;
  }
  const std::size_t n = size < src->left ? size : src->left;
  std::memcpy(buf, src->data, n);
  src->data += n;
  src->left -= n;
  return static_cast<ssize_t>(n);
}

int text_hook_clobbering_errno(const char* piece, std::FILE* out, unsigned long line) {
  errno = 0;
  return record_text(piece, out, line);
}

TEST_F(ScrubTest, ReadErrorEndsTheInputAndKeepsErrno) {
  install_recorders();
  install_text_scrubber(text_hook_clobbering_errno);
  FailingSource src{"ab<x>c", 6};
  cookie_io_functions_t io{};
  io.read = read_then_fail;
  std::FILE* in = fopencookie(&src, "r", io);
  ASSERT_NE(in, nullptr);
  char* buf = nullptr;
  std::size_t size = 0;
  scan_out = open_memstream(&buf, &size);
  ASSERT_NE(scan_out, nullptr);
  errno = 0;
  EXPECT_EQ(scrub_html(in, scan_out), 0);
  EXPECT_EQ(errno, EIO);  // checked before anything else touches errno
  EXPECT_NE(std::ferror(in), 0);
  EXPECT_EQ(pieces, (std::vector<Piece>{txt("ab"), tag("x"), txt("c")}));
  std::fclose(scan_out);
  std::free(buf);
  std::fclose(in);
}

// Outside a scan there is no Estr, so the pending buffer's first spill fails:
// that shows exactly when a spill happens and what a failed one reports.
TEST_F(ScrubTest, PendingBufferSpillsAtThe128thCharacter) {
  EXPECT_EQ(scan(""), 0);  // leaves the buffer empty
  estr_install_error_reporter(capture_estr_report);
  testing::internal::CaptureStderr();
  for (int i = 0; i < 127; ++i) {
    ASSERT_EQ(append_c('a'), 0) << i;
  }
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_TRUE(estr_reports.empty());

  testing::internal::CaptureStderr();
  EXPECT_EQ(append_c('b'), 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Unable to expand HTML buffer\nUnable to allocate HTML buffer\n");
  EXPECT_EQ(estr_reports, std::vector<std::string>{"Estr is null"});

  // The characters stay pending: moving them fails again.
  testing::internal::CaptureStderr();
  EXPECT_EQ(finish_buffer(), 1);
  EXPECT_EQ(process_text(), 1);
  EXPECT_EQ(write_buffer(), 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Unable to expand HTML buffer\nUnable to expand HTML buffer\nUnable to expand HTML buffer\n");
  EXPECT_TRUE(pieces.empty());

  // The next scan starts with an empty buffer.
  install_recorders();
  EXPECT_EQ(scan("ab"), 0);
  EXPECT_EQ(pieces, std::vector<Piece>{txt("ab")});
}

TEST_F(ScrubTest, NothingPendingCallsNoHook) {
  EXPECT_EQ(scan(""), 0);  // leaves the buffer empty
  install_recorders();
  estr_install_error_reporter(capture_estr_report);
  testing::internal::CaptureStderr();
  EXPECT_EQ(finish_buffer(), 0);
  EXPECT_EQ(process_text(), 0);
  EXPECT_EQ(process_tag(), 0);
  EXPECT_EQ(process_comment(), 0);
  EXPECT_EQ(write_buffer(), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_TRUE(pieces.empty());
}

}  // namespace
