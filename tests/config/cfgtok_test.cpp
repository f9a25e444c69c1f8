// Unit tests for the configuration tokenizer: inputs to token sequences
// (types and texts), read from memory streams.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "config/config.h"
#include "source_dir.h"

namespace {

using Tok = std::pair<int, std::string>;

// A read-only stream over the bytes of text (NUL bytes included).
std::FILE* open_text(std::string& text) { return fmemopen(text.data(), text.size(), "r"); }

// Tokens of input up to and including the first end-of-file or error token.
std::vector<Tok> tokens_of(std::string input) {
  std::vector<Tok> out;
  std::FILE* in = open_text(input);
  EXPECT_NE(in, nullptr);
  if (in == nullptr) {
    return out;
  }
  for (int guard = 0; guard < 64; ++guard) {
    Token t{};
    std::memset(t.text, '@', sizeof t.text);  // a missing terminator shows
    EXPECT_EQ(cfg_tok(&t, in), 0);
    EXPECT_NE(std::memchr(t.text, '\0', sizeof t.text), nullptr);
    out.emplace_back(t.type, std::string(t.text, strnlen(t.text, sizeof t.text)));
    if (t.type == TOKEN_EOF || t.type == TOKEN_ERROR) {
      break;
    }
  }
  std::fclose(in);
  return out;
}

const Tok kEof{TOKEN_EOF, ""};
const Tok kLt{TOKEN_LT, "<"};
const Tok kGt{TOKEN_GT, ">"};
const Tok kColon{TOKEN_COLON, ":"};
const Tok kLbrace{TOKEN_LBRACE, "{"};
const Tok kRbrace{TOKEN_RBRACE, "}"};
Tok word(std::string text) { return {TOKEN_WORD, std::move(text)}; }
Tok error(std::string text) { return {TOKEN_ERROR, std::move(text)}; }

TEST(CfgTok, Sequences) {
  const std::string w127 = std::string(126, 'w') + "9";
  const std::string w128(128, 'w');
  const struct {
    const char* title;
    std::string input;
    std::vector<Tok> want;
  } cases[] = {
      {"empty", "", {kEof}},
      {"white space only", " \t\r\n\v\f \r\n", {kEof}},
      {"comment without newline", "# nothing here", {kEof}},
      {"comment with newline", "#x\n", {kEof}},
      {"symbols", "<>:{}", {kLt, kGt, kColon, kLbrace, kRbrace, kEof}},
      {"tag", "<a>", {kLt, word("A"), kGt, kEof}},
      {"folding", "keep KeEp h1 data-x_1 9lives", {word("KEEP"), word("KEEP"), word("H1"), word("DATA-X_1"),
                                                    word("9LIVES"), kEof}},
      {"dash and underscore after the first", "a- b_", {word("A-"), word("B_"), kEof}},
      {"word<", "word<", {word("WORD"), kLt, kEof}},
      {"word:", "word:keep", {word("WORD"), kColon, word("KEEP"), kEof}},
      {"word{word}", "a{b}", {word("A"), kLbrace, word("B"), kRbrace, kEof}},
      {"word#", "KEEP#note < >\nDROP", {word("KEEP"), word("DROP"), kEof}},
      {"word# at the end", "a#x", {word("A"), kEof}},
      {"CRLF lines", "<b>: KEEP\r\n# c\r\n<i>", {kLt, word("B"), kGt, kColon, word("KEEP"), kLt, word("I"), kGt, kEof}},
      {"127 characters", w127, {word(std::string(126, 'W') + "9"), kEof}},
      {"127 then a symbol", w127 + ":", {word(std::string(126, 'W') + "9"), kColon, kEof}},
      {"128 characters", w128, {error("Excessively long word encountered")}},
      {"dash first", "-x", {error("Unexpected character -")}},
      {"underscore first", "_x", {error("Unexpected character _")}},
      {"slash", "</b>", {kLt, error("Unexpected character /")}},
      {"semicolon after a word", "KEEP;", {word("KEEP"), error("Unexpected character ;")}},
      {"dot inside a word", "a.b", {word("A"), error("Unexpected character .")}},
      {"quote", "\"x\"", {error("Unexpected character \"")}},
      {"byte above 127", "\xe9t\xe9", {error("Unexpected character \xe9")}},
      {"byte above 127 ends a word", "t\xe9", {word("T"), error("Unexpected character \xe9")}},
      {"control byte", "\x01", {error("Unexpected character \x01")}},
      {"NUL byte", std::string("a\0b", 3), {word("A"), error("Unexpected character ")}},
      // A '*' ends a word (an attribute pattern), or the character right
      // after it does; it cannot begin one.
      {"pattern", "on* data-*:", {word("ON*"), word("DATA-*"), kColon, kEof}},
      {"pattern at the end", "on*", {word("ON*"), kEof}},
      {"pattern then comment", "on*#x", {word("ON*"), kEof}},
      {"word character after the star", "on*x y", {word("ON*X"), word("Y"), kEof}},
      {"two stars", "on**:", {word("ON**"), kColon, kEof}},
      {"star first", "*x", {error("Unexpected character *")}},
      {"star after a symbol", "<*", {kLt, error("Unexpected character *")}},
      {"star with room for one more", std::string(125, 'a') + "*", {word(std::string(125, 'A') + "*"), kEof}},
      {"star without room for one more", std::string(126, 'a') + "*",
       {word(std::string(126, 'A')), error("Unexpected character *")}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.title);
    EXPECT_EQ(tokens_of(c.input), c.want);
  }
}

// Each call reads exactly one token: a word ended by end of file is a word,
// end of file stays end of file, and a word that grows too long is cut at its
// 128th character, the rest left for the next call.
TEST(CfgTok, CallsResumeWhereTheLastOneStopped) {
  std::string text = "ab";
  std::FILE* in = open_text(text);
  ASSERT_NE(in, nullptr);
  Token t{};
  ASSERT_EQ(cfg_tok(&t, in), 0);
  EXPECT_EQ(t.type, TOKEN_WORD);
  EXPECT_STREQ(t.text, "AB");
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(cfg_tok(&t, in), 0);
    EXPECT_EQ(t.type, TOKEN_EOF);
    EXPECT_STREQ(t.text, "");
  }
  std::fclose(in);

  text = std::string(130, 'x') + " y";
  in = open_text(text);
  ASSERT_NE(in, nullptr);
  const Tok want[] = {error("Excessively long word encountered"), word("XX"), word("Y"), kEof};
  for (const Tok& w : want) {
    ASSERT_EQ(cfg_tok(&t, in), 0);
    EXPECT_EQ(Tok(t.type, t.text), w);
  }
  std::fclose(in);
}

// Token::line counts the line feeds read before each token: in white space
// and in comments; a line feed that ends a word is counted once, by the
// next call. The end of the file is on the line where the reading stopped.
TEST(CfgTok, LinesOfTokens) {
  const struct {
    const char* title;
    std::string input;
    std::vector<std::uint64_t> lines;  // of each token, the last the end of the file
    std::uint64_t first = 1;           // the line the stream stands on at the start
  } cases[] = {
      {"one line", "<a>", {1, 1, 1, 1}},
      {"blank lines and a comment", "\n\n<a> # c\n:\n", {3, 3, 3, 4, 5}},
      {"word ended by a line feed", "a\nb\n", {1, 2, 3}},
      {"pattern ended by a line feed", "on*\nx", {1, 2, 2}},
      {"CR LF", "a\r\n\r\nb", {1, 3, 3}},
      {"comment at the end", "a\n# c", {1, 2}},
      {"carriage returns alone are no line ends", "a\r\rb", {1, 1, 1}},
      {"past 2^32 lines", "a\nb\n", {0xFFFFFFFFu, 0x100000000u, 0x100000001u}, 0xFFFFFFFFu},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.title);
    std::string text = c.input;
    std::FILE* in = open_text(text);
    ASSERT_NE(in, nullptr);
    Token t{};
    t.line = c.first;
    std::vector<std::uint64_t> got;
    do {
      ASSERT_EQ(cfg_tok(&t, in), 0);
      got.push_back(t.line);
    } while (t.type != TOKEN_EOF && t.type != TOKEN_ERROR && got.size() < 16);
    EXPECT_EQ(got, c.lines);
    std::fclose(in);
  }
}

TEST(CfgTok, NullArguments) {
  std::string text = "a";
  std::FILE* in = open_text(text);
  ASSERT_NE(in, nullptr);
  Token t{};
  t.type = 42;

  testing::internal::CaptureStderr();
  EXPECT_EQ(cfg_tok(nullptr, in), 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "cfg_tok: Null pointer to token\n");

  testing::internal::CaptureStderr();
  EXPECT_EQ(cfg_tok(&t, nullptr), 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "cfg_tok: Null file pointer\n");
  EXPECT_EQ(t.type, 42);

  testing::internal::CaptureStderr();
  EXPECT_EQ(cfg_tok(nullptr, nullptr), 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "cfg_tok: Null pointer to token\ncfg_tok: Null file pointer\n");

  // The stream was not touched.
  ASSERT_EQ(cfg_tok(&t, in), 0);
  EXPECT_EQ(Tok(t.type, t.text), word("A"));
  std::fclose(in);
}

// Opening a directory for reading succeeds on Linux; reading it fails.
TEST(CfgTok, ReadErrorBecomesAnErrorToken) {
  const std::filesystem::path dir = source_path("tests/config");
  ASSERT_TRUE(std::filesystem::is_directory(dir)) << dir << " is not a directory";
  std::FILE* in = std::fopen(dir.c_str(), "r");
  if (in == nullptr) {
    GTEST_SKIP() << "cannot open a directory as a stream here";
  }
  Token t{};
  ASSERT_EQ(cfg_tok(&t, in), 0);
  EXPECT_EQ(t.type, TOKEN_ERROR);
  EXPECT_STREQ(t.text, std::strerror(EISDIR));
  std::fclose(in);
}

}  // namespace
