// Configuration file reader: a parser of 18 states fed one token at a time.
//
// Conventions: each handler gets the current token and either moves to
// another state (result 0), calls the store and moves on whatever the store
// answered (result: the store's), or reports the token as unexpected
// (result 1). "word X" is a word token whose text is the keyword X; "word"
// alone is any word, so keywords are keywords only where one is expected.
//
//  state           | token                  | action                           | next
//  0 between       | end of file            | finish                           | 0
//                  | <                      |                                  | 1
//                  | word DEFAULT           |                                  | 7
//                  | word COMMENT           |                                  | 9
//                  | word MODE              |                                  | 16
//  1 lt            | word                   | tag_name = word                  | 2
//  2 tag           | >                      |                                  | 3
//  3 gt            | :                      |                                  | 4
//                  | {                      | set tag action EDIT              | 6
//  4 t_colon       | word KEEP / WARN       | set tag action KEEP / WARN       | 0
//                  | word DROP              |                                  | 5
//  5 t_drop        | word ALL               | set tag action DROP ALL          | 0
//                  | end of file            | set tag action DROP, finish      | 5
//                  | < DEFAULT COMMENT MODE | set tag action DROP              | as state 0
//  6 t_lbrace      | end of file            | finish                           | 6
//                  | }                      |                                  | 0
//                  | word ATTRIBUTE         |                                  | 11
//                  | word DEFAULT           |                                  | 14
//  7 t_default     | :                      |                                  | 8
//  8 td_colon      | word KEEP/WARN/DROP    | set tag default                  | 0
//  9 comment       | :                      |                                  | 10
// 10 c_colon       | word KEEP/WARN/DROP    | set comment action               | 0
// 11 attribute     | word                   | attribute_name = word            | 12
// 12 a_name        | :                      |                                  | 13
// 13 a_colon       | word KEEP/WARN/DROP    | set attribute action             | 6
// 14 a_default     | :                      |                                  | 15
// 15 ad_colon      | word KEEP/WARN/DROP    | set attribute default            | 6
// 16 mode          | :                      |                                  | 17
// 17 m_colon       | word SAFE / CLASSIC    | set mode                         | 0
// Every other pair is unexpected.
#include <array>
#include <cstring>

#include "config/config.h"

namespace {

constexpr const char* key_keep = "KEEP";
constexpr const char* key_drop = "DROP";
constexpr const char* key_warn = "WARN";
constexpr const char* key_all = "ALL";
constexpr const char* key_default = "DEFAULT";
constexpr const char* key_comment = "COMMENT";
constexpr const char* key_attribute = "ATTRIBUTE";
constexpr const char* key_mode = "MODE";
constexpr const char* key_safe = "SAFE";
constexpr const char* key_classic = "CLASSIC";

enum ParseState : int {
  kBetween,
  kLt,
  kTag,
  kGt,
  kTColon,
  kTDrop,
  kTLbrace,
  kTDefault,
  kTdColon,
  kComment,
  kCColon,
  kAttribute,
  kAName,
  kAColon,
  kADefault,
  kAdColon,
  kMode,
  kMColon,
  kParseStateCount
};

std::FILE* pIn = nullptr;
Config* config = nullptr;
int state = kBetween;
bool finished = false;
char tag_name[kTokenTextSize] = {};
char attribute_name[kTokenTextSize] = {};

const char* token_name(int type) {
  switch (type) {
    case TOKEN_ERROR: return "error";
    case TOKEN_EOF: return "end of file";
    case TOKEN_LT: return "less-than symbol";
    case TOKEN_GT: return "greater-than symbol";
    case TOKEN_COLON: return "colon";
    case TOKEN_LBRACE: return "left curly brace";
    case TOKEN_RBRACE: return "right curly brace";
    case TOKEN_WORD: return "character string";
    default: return "unrecognized token type";
  }
}

bool is_known_type(const Token* t) { return t->type >= TOKEN_EOF && t->type <= TOKEN_WORD; }

int unexpected(const Token* t) {
  if (!is_known_type(t)) {
    std::fprintf(stderr, "Unrecognized token type %d\n", t->type);
  } else if (t->type == TOKEN_WORD) {
    std::fprintf(stderr, "Unexpected word \"%s\" found\n", t->text);
  } else {
    std::fprintf(stderr, "Unexpected %s found\n", token_name(t->type));
  }
  finished = true;
  return 1;
}

bool is_keyword(const Token* t, const char* keyword) {
  return t->type == TOKEN_WORD && std::strcmp(t->text, keyword) == 0;
}

// KEEP, WARN or DROP as an action code; -1 for any other token.
Action simple_action(const Token* t) {
  if (is_keyword(t, key_keep)) {
    return ACTION_KEEP;
  }
  if (is_keyword(t, key_warn)) {
    return ACTION_WARN;
  }
  if (is_keyword(t, key_drop)) {
    return ACTION_DROP;
  }
  return -1;
}

void copy_word(char (&dest)[kTokenTextSize], const Token* t) {
  std::memcpy(dest, t->text, kTokenTextSize);
  dest[kTokenTextSize - 1] = '\0';
}

int go(int next) {
  state = next;
  return 0;
}

int do_between(Token* t) {
  if (t->type == TOKEN_EOF) {
    finished = true;
    return 0;
  }
  if (t->type == TOKEN_LT) {
    return go(kLt);
  }
  if (is_keyword(t, key_default)) {
    return go(kTDefault);
  }
  if (is_keyword(t, key_comment)) {
    return go(kComment);
  }
  if (is_keyword(t, key_mode)) {
    return go(kMode);
  }
  return unexpected(t);
}

int do_lt(Token* t) {
  if (t->type != TOKEN_WORD) {
    return unexpected(t);
  }
  copy_word(tag_name, t);
  return go(kTag);
}

int do_tag(Token* t) { return t->type == TOKEN_GT ? go(kGt) : unexpected(t); }

int do_gt(Token* t) {
  if (t->type == TOKEN_COLON) {
    return go(kTColon);
  }
  if (t->type == TOKEN_LBRACE) {
    state = kTLbrace;
    return cfg_set_tag_action(config, tag_name, ACTION_EDIT);
  }
  return unexpected(t);
}

int do_t_colon(Token* t) {
  if (is_keyword(t, key_drop)) {
    return go(kTDrop);
  }
  const Action action = simple_action(t);
  if (action != ACTION_KEEP && action != ACTION_WARN) {
    return unexpected(t);
  }
  state = kBetween;
  return cfg_set_tag_action(config, tag_name, action);
}

// The token after DROP completes the statement and also begins the next one.
int do_t_drop(Token* t) {
  if (is_keyword(t, key_all)) {
    state = kBetween;
    return cfg_set_tag_action(config, tag_name, ACTION_DROP_ALL);
  }
  if (t->type == TOKEN_EOF) {
    finished = true;
  } else if (t->type == TOKEN_LT) {
    state = kLt;
  } else if (is_keyword(t, key_default)) {
    state = kTDefault;
  } else if (is_keyword(t, key_comment)) {
    state = kComment;
  } else if (is_keyword(t, key_mode)) {
    state = kMode;
  } else {
    return unexpected(t);
  }
  return cfg_set_tag_action(config, tag_name, ACTION_DROP);
}

int do_t_lbrace(Token* t) {
  if (t->type == TOKEN_EOF) {
    finished = true;
    return 0;
  }
  if (t->type == TOKEN_RBRACE) {
    return go(kBetween);
  }
  if (is_keyword(t, key_attribute)) {
    return go(kAttribute);
  }
  if (is_keyword(t, key_default)) {
    return go(kADefault);
  }
  return unexpected(t);
}

int do_t_default(Token* t) { return t->type == TOKEN_COLON ? go(kTdColon) : unexpected(t); }

int do_td_colon(Token* t) {
  const Action action = simple_action(t);
  if (action < 0) {
    return unexpected(t);
  }
  state = kBetween;
  return cfg_set_tag_default(config, action);
}

int do_comment(Token* t) { return t->type == TOKEN_COLON ? go(kCColon) : unexpected(t); }

int do_c_colon(Token* t) {
  const Action action = simple_action(t);
  if (action < 0) {
    return unexpected(t);
  }
  state = kBetween;
  return cfg_set_comment_action(config, action);
}

int do_attribute(Token* t) {
  if (t->type != TOKEN_WORD) {
    return unexpected(t);
  }
  copy_word(attribute_name, t);
  return go(kAName);
}

int do_a_name(Token* t) { return t->type == TOKEN_COLON ? go(kAColon) : unexpected(t); }

int do_a_colon(Token* t) {
  const Action action = simple_action(t);
  if (action < 0) {
    return unexpected(t);
  }
  state = kTLbrace;
  return cfg_set_attr_action(config, tag_name, attribute_name, action);
}

int do_a_default(Token* t) { return t->type == TOKEN_COLON ? go(kAdColon) : unexpected(t); }

int do_ad_colon(Token* t) {
  const Action action = simple_action(t);
  if (action < 0) {
    return unexpected(t);
  }
  state = kTLbrace;
  return cfg_set_attr_default(config, tag_name, action);
}

int do_mode(Token* t) { return t->type == TOKEN_COLON ? go(kMColon) : unexpected(t); }

int do_m_colon(Token* t) {
  Mode mode = MODE_CLASSIC;
  if (is_keyword(t, key_safe)) {
    mode = MODE_SAFE;
  } else if (!is_keyword(t, key_classic)) {
    return unexpected(t);
  }
  state = kBetween;
  return cfg_set_mode(config, mode);
}

using Handler = int (*)(Token* t);
constexpr std::array<Handler, kParseStateCount> state_handler = {
    do_between, do_lt,        do_tag,     do_gt,     do_t_colon,   do_t_drop,    do_t_lbrace, do_t_default,
    do_td_colon, do_comment, do_c_colon, do_attribute, do_a_name, do_a_colon, do_a_default, do_ad_colon,
    do_mode,     do_m_colon,
};
static_assert(state_handler.size() == 18, "one handler per parser state");

// One token through the parser; the status of this step.
int read_one() {
  Token token{};
  const int lexed = cfg_tok(&token, pIn);
  if (lexed != 0) {
    std::fputs("cfg_read: lexical error found\n", stderr);
    return lexed;
  }
  if (token.type == TOKEN_ERROR) {
    std::fprintf(stderr, "Error in configuration file: %s\n", token.text);
    return 1;
  }
  const int status = state_handler[state](&token);
  if (status != 0) {
    std::fputs("cfg_read: semantic error found\n", stderr);
  }
  return status;
}

}  // namespace

int cfg_read(std::FILE* stream, Config* cfg) {
  if (stream == nullptr) {
    std::fputs("cfg_read: Null pointer to configuration file\n", stderr);
    return 1;
  }
  if (cfg_valid(cfg) == 0) {
    std::fputs("cfg_read: invalid Config\n", stderr);
    return 1;
  }
  pIn = stream;
  config = cfg;
  finished = false;
  state = kBetween;
  int status = 0;
  do {
    status = read_one();
  } while (!finished && status == 0);
  config = nullptr;
  pIn = nullptr;
  return status;
}
