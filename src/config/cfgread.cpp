// Configuration file reader: a parser of 27 states fed one token at a time.
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
//                  | word SCHEMES           |                                  | 18
//                  | word RELATIVE          |                                  | 21
//                  | word LINK              |                                  | 23
//  1 lt            | word                   | tag_name = word                  | 2
//                  | '*'                    | tag_name = "*" (every tag)       | 2
//  2 tag           | >                      |                                  | 3
//  3 gt            | : (not after <*>)      |                                  | 4
//                  | {                      | set tag action EDIT              | 6
//  4 t_colon       | word KEEP / WARN       | set tag action KEEP / WARN       | 0
//                  | word DROP              |                                  | 5
//  5 t_drop        | word ALL               | set tag action DROP ALL          | 0
//                  | end of file            | set tag action DROP, finish      | 5
//                  | what begins a statement| set tag action DROP              | as state 0
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
// 18 schemes       | :                      | begin the scheme list            | 19
// 19 s_colon       | word                   | add scheme                       | 20
// 20 s_list        | what begins a statement|                                  | as state 0
//                  | word                   | add scheme                       | 20
// 21 relative      | :                      |                                  | 22
// 22 r_colon       | word KEEP / DROP       | set relative action              | 0
// 23 link          | word REL               |                                  | 24
// 24 l_rel         | :                      | begin the link relations         | 25
// 25 lr_colon      | word                   | add link relation                | 26
// 26 lr_list       | what begins a statement|                                  | as state 0
//                  | word                   | add link relation                | 26
// Every other pair is unexpected. What begins a statement is what state 0
// takes: the end of the file, '<' and the words DEFAULT, COMMENT, MODE,
// SCHEMES, RELATIVE and LINK. So a list of words ends where the next
// statement begins, and no scheme can be called DEFAULT.
//
// The tokenizer has no token for '*': it is an unexpected character, which
// right after '<' the reader takes for the name of every tag.
//
// A word with a '*' is an attribute pattern where an attribute name is
// expected and the '*' ends it (state 11, "ON*"). Anywhere else, and when
// more follows the '*', the reader does what it did before patterns, when
// the word ended at the '*' and the '*' was an unexpected character: it
// handles the part before the '*' as the word, then reports the '*'.
//
// Each error ends with a place: the line of the token where the reading
// stopped, what was found there and what the state expected. An
// unexpected end of the file is placed on the line of the last token, as
// compilers place it; a statement the store refused, on the line of the
// token that completed it.
#include <algorithm>
#include <array>
#include <cctype>
#include <cstdarg>
#include <cstring>
#include <utility>

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
constexpr const char* key_schemes = "SCHEMES";
constexpr const char* key_relative = "RELATIVE";
constexpr const char* key_link = "LINK";
constexpr const char* key_rel = "REL";

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
  kSchemes,
  kSColon,
  kSList,
  kRelative,
  kRColon,
  kLink,
  kLRel,
  kLrColon,
  kLrList,
  kParseStateCount
};

std::FILE* pIn = nullptr;
Config* config = nullptr;
int state = kBetween;
bool finished = false;
char tag_name[kTokenTextSize] = {};
char attribute_name[kTokenTextSize] = {};

std::uint64_t line = 1;        // the line the stream stands on
std::uint64_t token_line = 1;  // the line of the token being handled
std::uint64_t last_line = 1;   // and that of the one before it

// Where the last read stopped on an error. The name holds any path that
// the system can open (PATH_MAX on Linux); a longer one is cut.
constexpr std::size_t kFileNameSize = 4096;
constexpr std::size_t kPlaceSize = 512;
char file_name[kFileNameSize] = {};
unsigned long place_line = 0;  // 0: no place
char place_message[kPlaceSize] = {};

// The texts of the tokenizer's error tokens that are not read errors.
constexpr const char* kUnexpectedCharacter = "Unexpected character ";
constexpr const char* kLongWord = "Excessively long word encountered";

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

// ---- the place of an error ----

// Records the place of the first error of a read.
[[gnu::format(printf, 2, 3)]] void place_error(std::uint64_t at, const char* format, ...) {
  if (place_line != 0) {
    return;
  }
  place_line = at;
  std::va_list args;
  va_start(args, format);
  std::vsnprintf(place_message, sizeof place_message, format, args);
  va_end(args);
}

// A name of the file in lower case, as tags and attributes are usually
// written.
struct Lowered {
  char text[kTokenTextSize];
};

Lowered lowered(const char* name) {
  Lowered out{};
  std::size_t n = 0;
  for (; name[n] != '\0' && n + 1 < sizeof out.text; ++n) {
    out.text[n] = static_cast<char>(std::tolower(static_cast<unsigned char>(name[n])));
  }
  out.text[n] = '\0';
  return out;
}

// A byte as the place shows it: quoted when it is printable ASCII.
struct Shown {
  char text[16];
};

Shown shown_byte(unsigned char c) {
  Shown out{};
  if (c >= 0x20 && c < 0x7f) {
    std::snprintf(out.text, sizeof out.text, "'%c'", c);
  } else {
    std::snprintf(out.text, sizeof out.text, "byte 0x%02X", c);
  }
  return out;
}

bool is_every_tag() { return std::strcmp(tag_name, kCfgEveryTag) == 0; }

// What the current state expected, after "expected ".
struct Expected {
  char text[3 * kTokenTextSize];
};

Expected expected_here() {
  Expected out{};
  const Lowered lower_tag = lowered(tag_name);
  const Lowered attr = lowered(attribute_name);
  const char* tag = lower_tag.text;
  char* e = out.text;
  const std::size_t n = sizeof out.text;
  switch (state) {
    case kBetween: std::snprintf(e, n, "'<', DEFAULT, COMMENT or MODE"); break;
    case kLt: std::snprintf(e, n, "a tag name after '<'"); break;
    case kTag: std::snprintf(e, n, "'>' after <%s", tag); break;
    case kGt:
      std::snprintf(e, n, is_every_tag() ? "'{' after <%s>" : "':' or '{' after <%s>", tag);
      break;
    case kTColon: std::snprintf(e, n, "KEEP, WARN, DROP or DROP ALL after <%s>:", tag); break;
    case kTDrop: std::snprintf(e, n, "ALL, '<', DEFAULT, COMMENT or MODE after <%s>: DROP", tag); break;
    case kTLbrace: std::snprintf(e, n, "ATTRIBUTE, DEFAULT or '}' in the braces of <%s>", tag); break;
    case kTDefault: std::snprintf(e, n, "':' after DEFAULT"); break;
    case kTdColon: std::snprintf(e, n, "KEEP, WARN or DROP after DEFAULT:"); break;
    case kComment: std::snprintf(e, n, "':' after COMMENT"); break;
    case kCColon: std::snprintf(e, n, "KEEP, WARN or DROP after COMMENT:"); break;
    case kAttribute: std::snprintf(e, n, "an attribute name after ATTRIBUTE in the braces of <%s>", tag); break;
    case kAName: std::snprintf(e, n, "':' after ATTRIBUTE %s", attr.text); break;
    case kAColon: std::snprintf(e, n, "KEEP, WARN or DROP after ATTRIBUTE %s:", attr.text); break;
    case kADefault: std::snprintf(e, n, "':' after DEFAULT in the braces of <%s>", tag); break;
    case kAdColon: std::snprintf(e, n, "KEEP, WARN or DROP after DEFAULT: in the braces of <%s>", tag); break;
    case kMode: std::snprintf(e, n, "':' after MODE"); break;
    case kMColon: std::snprintf(e, n, "SAFE or CLASSIC after MODE:"); break;
    case kSchemes: std::snprintf(e, n, "':' after SCHEMES"); break;
    case kSColon: std::snprintf(e, n, "a URL scheme after SCHEMES:"); break;
    case kSList: std::snprintf(e, n, "a URL scheme or the next statement after the schemes of SCHEMES:"); break;
    case kRelative: std::snprintf(e, n, "':' after RELATIVE"); break;
    case kRColon: std::snprintf(e, n, "KEEP or DROP after RELATIVE:"); break;
    case kLink: std::snprintf(e, n, "REL after LINK"); break;
    case kLRel: std::snprintf(e, n, "':' after LINK REL"); break;
    case kLrColon: std::snprintf(e, n, "a link relation (%s) after LINK REL:", cfg_link_rels_accepted()); break;
    case kLrList:
      std::snprintf(e, n, "a link relation (%s) or the next statement after LINK REL:", cfg_link_rels_accepted());
      break;
    default: std::snprintf(e, n, "nothing"); break;
  }
  return out;
}

// A token that the current state does not accept: found, and expected.
void place_unexpected(const Token* t) {
  const Expected want = expected_here();
  switch (t->type) {
    case TOKEN_WORD: place_error(token_line, "found \"%s\", expected %s", t->text, want.text); return;
    case TOKEN_EOF: place_error(last_line, "found the end of the file, expected %s", want.text); return;
    case TOKEN_LT:
    case TOKEN_GT:
    case TOKEN_COLON:
    case TOKEN_LBRACE:
    case TOKEN_RBRACE: place_error(token_line, "found '%s', expected %s", t->text, want.text); return;
    default: place_error(token_line, "found a token of type %d, expected %s", t->type, want.text); return;
  }
}

// An error token: a character that begins no token, a word too long, or a
// read error.
void place_lexical_error(const Token* t) {
  const std::size_t prefix = std::strlen(kUnexpectedCharacter);
  if (std::strncmp(t->text, kUnexpectedCharacter, prefix) == 0) {
    place_error(token_line, "found %s, expected %s", shown_byte(static_cast<unsigned char>(t->text[prefix])).text,
                expected_here().text);
  } else if (std::strcmp(t->text, kLongWord) == 0) {
    place_error(token_line, "found a word of more than %zu characters, expected %s", kTokenTextSize - 1,
                expected_here().text);
  } else {
    place_error(token_line, "cannot be read: %s", t->text);
  }
}

bool is_tag_named() {
  const CfgTag* entry = nullptr;
  (void)cfg_action_entry(config, tag_name, &entry);
  return entry != nullptr;
}

// The place of a statement the store refused, as far as the reader can
// tell why: the store's own message above it says it exactly.
int tag_stored(int result, std::uint64_t at) {
  if (result == 0) {
    return 0;
  }
  const Lowered tag = lowered(tag_name);
  if (is_every_tag()) {
    place_error(at, "found a second statement for <*>, expected one");
  } else if (std::strlen(tag_name) > kCfgNameMax) {
    place_error(at, "found a tag name of %zu characters, expected at most %zu", std::strlen(tag_name), kCfgNameMax);
  } else if (is_tag_named()) {
    place_error(at, "found a second statement for <%s>, expected one for each tag", tag.text);
  } else {
    place_error(at, "<%s> could not be stored", tag.text);
  }
  return result;
}

int attribute_stored(int result) {
  if (result == 0) {
    return 0;
  }
  const Lowered tag = lowered(tag_name);
  const Lowered attr = lowered(attribute_name);
  const std::size_t length = std::strlen(attribute_name);
  const bool pattern = length > 0 && attribute_name[length - 1] == '*';
  if (pattern && length - 1 > kCfgNameMax) {
    place_error(token_line, "found an attribute pattern of %zu characters before its '*', expected at most %zu",
                length - 1, kCfgNameMax);
  } else if (!pattern && length > kCfgNameMax) {
    place_error(token_line, "found an attribute name of %zu characters, expected at most %zu", length, kCfgNameMax);
  } else if (cfg_attr_named(config, tag_name, attribute_name) != 0) {
    place_error(token_line, "found a second ATTRIBUTE %s in the braces of <%s>, expected one for each attribute",
                attr.text, tag.text);
  } else {
    place_error(token_line, "ATTRIBUTE %s of <%s> could not be stored", attr.text, tag.text);
  }
  return result;
}

// A statement that may be given once: its keyword.
int once_stored(int result, const char* keyword) {
  if (result != 0) {
    place_error(token_line, "found a second %s statement, expected one", keyword);
  }
  return result;
}

int unexpected(const Token* t) {
  if (!is_known_type(t)) {
    std::fprintf(stderr, "Unrecognized token type %d\n", t->type);
  } else if (t->type == TOKEN_WORD) {
    std::fprintf(stderr, "Unexpected word \"%s\" found\n", t->text);
  } else {
    std::fprintf(stderr, "Unexpected %s found\n", token_name(t->type));
  }
  place_unexpected(t);
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

// The state after a token that begins a statement (at the end of the
// file, finished and state 0); -1 for any other token.
int statement_start(const Token* t) {
  if (t->type == TOKEN_EOF) {
    finished = true;
    return kBetween;
  }
  if (t->type == TOKEN_LT) {
    return kLt;
  }
  constexpr std::array<std::pair<const char*, int>, 6> kStarts = {{
      {key_default, kTDefault},
      {key_comment, kComment},
      {key_mode, kMode},
      {key_schemes, kSchemes},
      {key_relative, kRelative},
      {key_link, kLink},
  }};
  for (const auto& [keyword, next] : kStarts) {
    if (is_keyword(t, keyword)) {
      return next;
    }
  }
  return -1;
}

int do_between(Token* t) {
  const int next = statement_start(t);
  return next >= 0 ? go(next) : unexpected(t);
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
  if (t->type == TOKEN_COLON && !is_every_tag()) {
    return go(kTColon);
  }
  if (t->type == TOKEN_LBRACE) {
    state = kTLbrace;
    return tag_stored(cfg_set_tag_action(config, tag_name, ACTION_EDIT), token_line);
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
  return tag_stored(cfg_set_tag_action(config, tag_name, action), token_line);
}

// The token after DROP completes the statement and also begins the next one;
// a refusal of the store is placed at the DROP.
int do_t_drop(Token* t) {
  if (is_keyword(t, key_all)) {
    state = kBetween;
    return tag_stored(cfg_set_tag_action(config, tag_name, ACTION_DROP_ALL), token_line);
  }
  const int next = statement_start(t);
  if (next < 0) {
    return unexpected(t);
  }
  state = next;
  return tag_stored(cfg_set_tag_action(config, tag_name, ACTION_DROP), last_line);
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
  return once_stored(cfg_set_tag_default(config, action), key_default);
}

int do_comment(Token* t) { return t->type == TOKEN_COLON ? go(kCColon) : unexpected(t); }

int do_c_colon(Token* t) {
  const Action action = simple_action(t);
  if (action < 0) {
    return unexpected(t);
  }
  state = kBetween;
  return once_stored(cfg_set_comment_action(config, action), key_comment);
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
  return attribute_stored(cfg_set_attr_action(config, tag_name, attribute_name, action));
}

int do_a_default(Token* t) { return t->type == TOKEN_COLON ? go(kAdColon) : unexpected(t); }

int do_ad_colon(Token* t) {
  const Action action = simple_action(t);
  if (action < 0) {
    return unexpected(t);
  }
  state = kTLbrace;
  const int result = cfg_set_attr_default(config, tag_name, action);
  if (result != 0) {
    place_error(token_line, "the DEFAULT in the braces of <%s> could not be stored", lowered(tag_name).text);
  }
  return result;
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
  return once_stored(cfg_set_mode(config, mode), key_mode);
}

int do_schemes(Token* t) {
  if (t->type != TOKEN_COLON) {
    return unexpected(t);
  }
  state = kSColon;
  return once_stored(cfg_set_schemes(config), key_schemes);
}

int add_scheme(const Token* t) {
  state = kSList;
  const int result = cfg_add_scheme(config, t->text);
  if (result != 0) {
    place_error(token_line, "found \"%s\", expected a URL scheme (a letter, then letters, digits or '-')",
                t->text);
  }
  return result;
}

// The first word is a scheme whatever it is: an empty list is an error.
int do_s_colon(Token* t) {
  if (t->type != TOKEN_WORD || statement_start(t) >= 0) {
    return unexpected(t);
  }
  return add_scheme(t);
}

int do_s_list(Token* t) {
  const int next = statement_start(t);
  if (next >= 0) {
    return go(next);
  }
  return t->type == TOKEN_WORD ? add_scheme(t) : unexpected(t);
}

int do_relative(Token* t) { return t->type == TOKEN_COLON ? go(kRColon) : unexpected(t); }

int do_r_colon(Token* t) {
  const Action action = simple_action(t);
  if (action != ACTION_KEEP && action != ACTION_DROP) {
    return unexpected(t);
  }
  state = kBetween;
  return once_stored(cfg_set_relative(config, action), key_relative);
}

int do_link(Token* t) { return is_keyword(t, key_rel) ? go(kLRel) : unexpected(t); }

int do_l_rel(Token* t) {
  if (t->type != TOKEN_COLON) {
    return unexpected(t);
  }
  state = kLrColon;
  return once_stored(cfg_set_link_rel(config), "LINK REL");
}

int add_link_rel(const Token* t) {
  state = kLrList;
  const int result = cfg_add_link_rel(config, t->text);
  if (result != 0) {
    place_error(token_line, "found \"%s\", expected a link relation (%s)", t->text, cfg_link_rels_accepted());
  }
  return result;
}

int do_lr_colon(Token* t) {
  if (t->type != TOKEN_WORD || statement_start(t) >= 0) {
    return unexpected(t);
  }
  return add_link_rel(t);
}

int do_lr_list(Token* t) {
  const int next = statement_start(t);
  if (next >= 0) {
    return go(next);
  }
  return t->type == TOKEN_WORD ? add_link_rel(t) : unexpected(t);
}

using Handler = int (*)(Token* t);

// Built by name, so that a state left out is an empty entry, which the
// check below refuses (an initialiser list one short would still compile).
constexpr std::array<Handler, kParseStateCount> make_state_handler() {
  std::array<Handler, kParseStateCount> t{};
  t[kBetween] = do_between;
  t[kLt] = do_lt;
  t[kTag] = do_tag;
  t[kGt] = do_gt;
  t[kTColon] = do_t_colon;
  t[kTDrop] = do_t_drop;
  t[kTLbrace] = do_t_lbrace;
  t[kTDefault] = do_t_default;
  t[kTdColon] = do_td_colon;
  t[kComment] = do_comment;
  t[kCColon] = do_c_colon;
  t[kAttribute] = do_attribute;
  t[kAName] = do_a_name;
  t[kAColon] = do_a_colon;
  t[kADefault] = do_a_default;
  t[kAdColon] = do_ad_colon;
  t[kMode] = do_mode;
  t[kMColon] = do_m_colon;
  t[kSchemes] = do_schemes;
  t[kSColon] = do_s_colon;
  t[kSList] = do_s_list;
  t[kRelative] = do_relative;
  t[kRColon] = do_r_colon;
  t[kLink] = do_link;
  t[kLRel] = do_l_rel;
  t[kLrColon] = do_lr_colon;
  t[kLrList] = do_lr_list;
  return t;
}

constexpr std::array<Handler, kParseStateCount> state_handler = make_state_handler();
static_assert(std::none_of(state_handler.begin(), state_handler.end(), [](Handler h) { return h == nullptr; }),
              "every parser state has a handler");

// Reports an error token; the status of the step.
int lexical_error(const Token* t) {
  std::fprintf(stderr, "Error in configuration file: %s\n", t->text);
  place_lexical_error(t);
  return 1;
}

// Hands a token to the handler of the current state.
int handle(Token* t) {
  const int status = state_handler[state](t);
  if (status != 0) {
    std::fputs("cfg_read: semantic error found\n", stderr);
  }
  return status;
}

// A word with a '*' that is no attribute pattern here: the word before the
// '*', then the '*' as the character that cannot begin a token.
int handle_star(Token* t, char* star) {
  *star = '\0';
  const int status = handle(t);
  if (status != 0) {
    return status;
  }
  Token error{TOKEN_ERROR, {}, t->line};
  std::snprintf(error.text, sizeof error.text, "%s*", kUnexpectedCharacter);
  return lexical_error(&error);
}

bool is_star_error(const Token* t) {
  const std::size_t prefix = std::strlen(kUnexpectedCharacter);
  return std::strncmp(t->text, kUnexpectedCharacter, prefix) == 0 && t->text[prefix] == '*' &&
         t->text[prefix + 1] == '\0';
}

// One token through the parser; the status of this step.
int read_one() {
  Token token{};
  token.line = line;
  const int lexed = cfg_tok(&token, pIn);
  if (lexed != 0) {
    std::fputs("cfg_read: lexical error found\n", stderr);
    return lexed;
  }
  line = token.line;
  last_line = token_line;
  token_line = token.line;
  if (token.type == TOKEN_ERROR && state == kLt && is_star_error(&token)) {
    std::snprintf(token.text, sizeof token.text, "%s", kCfgEveryTag);
    token.type = TOKEN_WORD;
    return handle(&token);
  }
  if (token.type == TOKEN_ERROR) {
    return lexical_error(&token);
  }
  char* star = token.type == TOKEN_WORD ? std::strchr(token.text, '*') : nullptr;
  if (star != nullptr && (state != kAttribute || star[1] != '\0')) {
    return handle_star(&token, star);
  }
  return handle(&token);
}

}  // namespace

int cfg_read_named(std::FILE* stream, const char* name, Config* cfg) {
  place_line = 0;
  place_message[0] = '\0';
  std::snprintf(file_name, sizeof file_name, "%s", name != nullptr ? name : "");
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
  line = 1;
  token_line = 1;
  last_line = 1;
  int status = 0;
  do {
    status = read_one();
  } while (!finished && status == 0);
  config = nullptr;
  pIn = nullptr;
  return status;
}

int cfg_read(std::FILE* stream, Config* cfg) { return cfg_read_named(stream, nullptr, cfg); }

CfgErrorPlace cfg_error_place() { return CfgErrorPlace{file_name, place_line, place_message}; }

void cfg_report_place(std::FILE* out) {
  if (place_line == 0) {
    return;
  }
  if (file_name[0] != '\0') {
    std::fprintf(out, "%s:%lu: %s\n", file_name, place_line, place_message);
  } else {
    std::fprintf(out, "line %lu: %s\n", place_line, place_message);
  }
}
