// Configuration tokenizer.
//
// Conventions: every call starts between tokens and reads until one token is
// complete; each handler gets the character just read (EOF included) and may
// complete the token by setting its type. A word ends at the first character
// that cannot continue it, which is pushed back for the next call.
//
//  state       | input                      | action                    | next
//  0 between   | EOF                        | end-of-file token         | -
//              | < > : { }                  | symbol token              | -
//              | #                          | none                      | 2
//              | white space                | skip                      | 0
//              | letter or digit            | start word (upper case)   | 1
//              | other                      | error "Unexpected ..."    | -
//  1 word      | letter, digit, - or _      | append (upper case)       | 1
//              |   ... the 128th of them    | error "Excessively ..."   | -
//              | * with room for one more   | append                    | 3
//              | EOF                        | word token                | -
//              | other                      | word token, push back     | 0
//  2 comment   | newline                    | none                      | 0
//              | EOF                        | end-of-file token         | -
//              | other                      | discard                   | 2
//  3 star      | letter, digit, -, _ or *   | append, word token        | -
//              | EOF                        | word token                | -
//              | other                      | word token, push back     | 0
//
// Every line feed read between tokens (in white space or a comment) moves
// the token's line on; the one that ends a word is pushed back and counted
// by the next call.
//
// A '*' ends a word as the '*' of an attribute pattern ("ON*"). Before
// patterns, a word ended at a '*', which was then an unexpected character.
// The reader keeps that error for every '*' that is not the last
// character of a word in the place of an attribute name, and for that it
// must see whether a word character followed the '*' ("ON*X"): so such a
// character is taken into the word too. A '*' that would leave no room
// for it ends the word as before and is read again by the next call.
#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstring>

#include "config/config.h"

namespace {

enum LexState : int { kBetween, kWord, kComment, kStar, kLexStateCount };

constexpr std::size_t kWordMax = kTokenTextSize - 1;

int state = kBetween;
std::size_t length = 0;
Token* pT = nullptr;
std::FILE* pIn = nullptr;

void set_token(TokenType type, const char* text) {
  pT->type = type;
  std::strncpy(pT->text, text, kWordMax);
  pT->text[kWordMax] = '\0';
}

void end_word() {
  pT->text[length] = '\0';
  pT->type = TOKEN_WORD;
}

bool is_word_char(int c) { return c != EOF && (std::isalnum(c) != 0 || c == '-' || c == '_'); }

void count_line() {
  if (pT->line < UINT64_MAX) {
    ++pT->line;
  }
}

// Ends the word before c, which the next call reads again.
void end_word_before(int c) {
  end_word();
  if (c != EOF) {
    state = kBetween;
    (void)std::ungetc(c, pIn);
  }
}

void do_between(int c) {
  switch (c) {
    case EOF: set_token(TOKEN_EOF, ""); return;
    case '<': set_token(TOKEN_LT, "<"); return;
    case '>': set_token(TOKEN_GT, ">"); return;
    case ':': set_token(TOKEN_COLON, ":"); return;
    case '{': set_token(TOKEN_LBRACE, "{"); return;
    case '}': set_token(TOKEN_RBRACE, "}"); return;
    case '#': state = kComment; return;
    default: break;
  }
  if (std::isspace(c) != 0) {
    if (c == '\n') {
      count_line();
    }
    return;
  }
  if (std::isalnum(c) != 0) {
    pT->text[0] = static_cast<char>(std::toupper(c));
    length = 1;
    state = kWord;
    return;
  }
  pT->type = TOKEN_ERROR;
  std::snprintf(pT->text, kTokenTextSize, "Unexpected character %c", c);
}

void do_word(int c) {
  if (is_word_char(c)) {
    if (length >= kWordMax) {
      set_token(TOKEN_ERROR, "Excessively long word encountered");
      return;
    }
    pT->text[length++] = static_cast<char>(std::toupper(c));
    return;
  }
  if (c == '*' && length + 1 < kWordMax) {
    pT->text[length++] = '*';
    state = kStar;
    return;
  }
  end_word_before(c);
}

void do_comment(int c) {
  if (c == '\n') {
    count_line();
    state = kBetween;
  } else if (c == EOF) {
    set_token(TOKEN_EOF, "");
  }
}

void do_star(int c) {
  if (is_word_char(c) || c == '*') {
    pT->text[length++] = static_cast<char>(std::toupper(c));
    end_word();
    return;
  }
  end_word_before(c);
}

using Handler = void (*)(int c);

// Built by name, so that a state left out is an empty entry, which the
// check below refuses (an initialiser list one short would still compile).
constexpr std::array<Handler, kLexStateCount> make_handlers() {
  std::array<Handler, kLexStateCount> t{};
  t[kBetween] = do_between;
  t[kWord] = do_word;
  t[kComment] = do_comment;
  t[kStar] = do_star;
  return t;
}

constexpr std::array<Handler, kLexStateCount> handlers = make_handlers();
static_assert(std::none_of(handlers.begin(), handlers.end(), [](Handler h) { return h == nullptr; }),
              "every lexer state has a handler");

}  // namespace

int cfg_tok(Token* token, std::FILE* stream) {
  if (token == nullptr) {
    std::fputs("cfg_tok: Null pointer to token\n", stderr);
  }
  if (stream == nullptr) {
    std::fputs("cfg_tok: Null file pointer\n", stderr);
  }
  if (token == nullptr || stream == nullptr) {
    return 1;
  }
  pT = token;
  pIn = stream;
  state = kBetween;
  token->type = TOKEN_NONE;
  while (token->type == TOKEN_NONE) {
    errno = 0;
    const int c = std::getc(pIn);
    if (c == EOF && errno != 0) {
      set_token(TOKEN_ERROR, std::strerror(errno));
    } else {
      handlers[state](c);
    }
  }
  pT = nullptr;
  pIn = nullptr;
  return 0;
}
