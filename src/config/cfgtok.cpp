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
//              | EOF                        | word token                | -
//              | other                      | word token, push back     | 0
//  2 comment   | newline                    | none                      | 0
//              | EOF                        | end-of-file token         | -
//              | other                      | discard                   | 2
#include <array>
#include <cctype>
#include <cerrno>
#include <cstring>

#include "config/config.h"

namespace {

enum LexState : int { kBetween, kWord, kComment, kLexStateCount };

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
  end_word();
  if (c != EOF) {
    state = kBetween;
    (void)std::ungetc(c, pIn);
  }
}

void do_comment(int c) {
  if (c == '\n') {
    state = kBetween;
  } else if (c == EOF) {
    set_token(TOKEN_EOF, "");
  }
}

using Handler = void (*)(int c);
constexpr std::array<Handler, kLexStateCount> handlers = {do_between, do_word, do_comment};
static_assert(handlers.size() == 3, "one handler per lexer state");

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
