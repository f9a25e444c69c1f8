// The configuration store: what the configuration file says, in memory, and
// the language that fills it (cfg_tok splits a file into tokens, cfg_read
// reads a whole file into a Config).
#ifndef TESSEL_CONFIG_H
#define TESSEL_CONFIG_H

#include <cstdint>
#include <cstdio>

// What is done with a tag, an attribute or a comment. The values are fixed.
using Action = std::int32_t;
inline constexpr Action ACTION_KEEP = 0;      // pass through unchanged
inline constexpr Action ACTION_WARN = 1;      // pass through with a warning
inline constexpr Action ACTION_DROP = 2;      // remove
inline constexpr Action ACTION_DROP_ALL = 3;  // remove up to the matching end tag
inline constexpr Action ACTION_EDIT = 4;      // filter the attributes one by one

// How markup is split and judged. CLASSIC is the default; SAFE splits markup
// as an HTML5 browser does, checks URLs and never writes unfiltered markup.
using Mode = std::int32_t;
inline constexpr Mode MODE_CLASSIC = 0;
inline constexpr Mode MODE_SAFE = 1;

// Names held by the store (tags and attributes) have at most this many bytes.
inline constexpr std::size_t kCfgNameMax = 35;

struct Config;

// A new empty Config (defaults KEEP), or null when memory runs out.
[[nodiscard]] Config* cfg_construct();
// 1 if config is non-null and live, else 0 (no message).
[[nodiscard]] int cfg_valid(const Config* config);
// Frees every tag and attribute entry of a live *config and marks the record
// dead; the record itself and *config are left alone. Anything else: no-op.
void cfg_destruct(Config** config);
// cfg_destruct, then frees the record and stores null in *config.
void cfg_release(Config** config);

// Setters: 0 on success, 1 after a message on standard error (see the
// messages in cfgmaint.cpp). Names are stored as given and compared exactly.
// An attribute name ending in '*' is a pattern for every attribute whose
// name begins with the part before the '*' (at most kCfgNameMax bytes).
[[nodiscard]] int cfg_set_tag_action(Config* config, const char* tag, Action action);
[[nodiscard]] int cfg_set_attr_action(Config* config, const char* tag, const char* attribute, Action action);
[[nodiscard]] int cfg_set_attr_default(Config* config, const char* tag, Action action);
[[nodiscard]] int cfg_set_tag_default(Config* config, Action action);
[[nodiscard]] int cfg_set_comment_action(Config* config, Action action);
// Stores the mode; a second call stores its mode too but reports an error.
[[nodiscard]] int cfg_set_mode(Config* config, Mode mode);

// The tag name that stands for every tag ("<*>" in the file): its rules,
// set with the tag setters above, apply to every tag that is kept or
// edited. It takes only ACTION_EDIT, and cfg_action never answers for it.
inline constexpr const char* kCfgEveryTag = "*";

// A URL scheme (a letter, then letters, digits, '+', '-' or '.') has at
// most kCfgNameMax bytes.
// Begins the list of allowed URL schemes: from then on only the schemes
// added (and relative URLs) pass safe mode's checks. A second call reports
// an error.
[[nodiscard]] int cfg_set_schemes(Config* config);
// Adds a scheme, in any case, to the list begun by cfg_set_schemes; one
// given twice is kept once. 1 after a message for a name that is no scheme.
[[nodiscard]] int cfg_add_scheme(Config* config, const char* scheme);
// What is done with protocol-relative URLs ("//host/path"): ACTION_KEEP
// (as before the statement) or ACTION_DROP. A second call reports an error.
[[nodiscard]] int cfg_set_relative(Config* config, Action action);
// Begins the relations written in the rel of every kept link; a second
// call reports an error.
[[nodiscard]] int cfg_set_link_rel(Config* config);
// Adds a link relation, in any case: one of nofollow, noopener,
// noreferrer, sponsored and ugc (1 after a message for any other); one
// given twice is kept once.
[[nodiscard]] int cfg_add_link_rel(Config* config, const char* relation);
// The link relations accepted, for messages: "nofollow, noopener, ...".
[[nodiscard]] const char* cfg_link_rels_accepted();

// Queries never fail: on an invalid Config they answer ACTION_KEEP and print
// their message the first time in the process.
// The tag's action, or the tag default when the tag is not named.
[[nodiscard]] Action cfg_action(const Config* config, const char* tag);
// The attribute's action on the tag, in this order: the tag's rule for the
// name, the longest of the tag's patterns that matches it, the same two
// among the rules for every tag, the tag's attribute default, that of
// every tag, and KEEP. (Without rules for every tag: the tag's name, its
// pattern, its attribute default, KEEP unless set; KEEP when the tag is
// not named.)
[[nodiscard]] Action cfg_attr_action(const Config* config, const char* tag, const char* attribute);
// 1 when the named tag has an action for this attribute name, or for this
// very pattern when the name ends in '*'; else 0 (no message).
[[nodiscard]] int cfg_attr_named(const Config* config, const char* tag, const char* attribute);
[[nodiscard]] Action cfg_comment_action(const Config* config);

// For many questions about one tag with one lookup of its name: the tag's
// action as cfg_action gives it, with *entry set to the tag's entry (null
// when the tag is not named or the Config is invalid). The entry stays
// valid while the Config is neither changed nor destroyed.
struct CfgTag;
[[nodiscard]] Action cfg_action_entry(const Config* config, const char* tag, const CfgTag** entry);
// What cfg_attr_action answers for the tag whose non-null entry this is,
// leaving out the rules for every tag.
[[nodiscard]] Action cfg_entry_attr_action(const CfgTag* entry, const char* attribute);
// What cfg_attr_action answers for the tag whose entry this is (null: a
// tag that is not named), with the rules for every tag.
[[nodiscard]] Action cfg_rules_attr_action(const Config* config, const CfgTag* entry, const char* attribute);
// 1 when the Config has rules for every tag, else 0 (no message).
[[nodiscard]] int cfg_has_every_tag_rules(const Config* config);
// Whether the scheme (length bytes, any case) is allowed: 1 or 0, or -1
// when no list was given (then the caller's own list holds).
[[nodiscard]] int cfg_scheme_allowed(const Config* config, const char* scheme, std::size_t length);
// ACTION_KEEP or ACTION_DROP, for protocol-relative URLs.
[[nodiscard]] Action cfg_relative_action(const Config* config);
// The relations to write in the rel of kept links, lower case and
// separated by single spaces, or null when none were given.
[[nodiscard]] const char* cfg_link_rel(const Config* config);
[[nodiscard]] Mode cfg_mode(const Config* config);

// ---- configuration language ----

enum TokenType : std::int32_t {
  TOKEN_NONE = 0,
  TOKEN_ERROR = 1,
  TOKEN_EOF = 2,
  TOKEN_LT = 3,
  TOKEN_GT = 4,
  TOKEN_COLON = 5,
  TOKEN_LBRACE = 6,
  TOKEN_RBRACE = 7,
  TOKEN_WORD = 8,
};

inline constexpr std::size_t kTokenTextSize = 128;

struct Token {
  std::int32_t type;
  char text[kTokenTextSize];  // always NUL-terminated when a token is returned
  // The line the stream stands on: set by the caller (1 at the start of a
  // file) and advanced by cfg_tok past each line feed it reads, so that on
  // return it is the line of the token (for the end of the file or an
  // error, of where the reading stopped). It stops at its largest value.
  std::uint64_t line;
};

// Reads one token from stream into *token: 0 when a token (an error token
// included) was stored, 1 after a message when an argument is null.
// A word is a letter or digit, then letters, digits, '-' and '_'; a '*'
// after its first character ends it, as the '*' of an attribute pattern
// ("ON*"), unless a word character or another '*' follows at once: then
// that one ends it ("ON*X", which no grammar position accepts).
[[nodiscard]] int cfg_tok(Token* token, std::FILE* stream);

// Reads a whole configuration file into config: 0 when every statement was
// read and stored; otherwise nonzero after the messages. Statements stored
// before an error stay stored.
[[nodiscard]] int cfg_read(std::FILE* stream, Config* config);
// cfg_read for a file the user knows by name (as given with -f, in
// TESSEL_CFG or found by the search): the name goes into the place of an
// error (copied; null is taken as no name, as cfg_read has).
[[nodiscard]] int cfg_read_named(std::FILE* stream, const char* name, Config* config);

// Where the last cfg_read or cfg_read_named stopped on an error in the
// file: the name it was given ("" for none), the line of the token it
// stopped at (from 1), and what it found there and expected, as in
// `found "KEEP", expected ':' or '{' after <i>`. line is 0 after a read
// that succeeded or that read nothing (a null stream or an invalid
// Config). The texts stay valid until the next read.
struct CfgErrorPlace {
  const char* file;
  unsigned long line;
  const char* message;
};
[[nodiscard]] CfgErrorPlace cfg_error_place();
// Writes that place as one line to out, "FILE:LINE: MESSAGE\n" (without a
// name "line LINE: MESSAGE\n"); nothing when line is 0. The reader's own
// messages do not include it: the caller writes it after its own.
void cfg_report_place(std::FILE* out);

#endif
