// Scrubbing policy: the hooks and what they decide for each piece. Regions
// dropped whole are kept in regions.cpp and suppress all output while one
// is open; what the output has told the browser (a '<' held back, the end
// of the output) in written.cpp; the tree of what safe mode writes in the
// tree model (treemodel.h).
//
// The scanner reads the body of a script (in safe mode, of every raw-text
// element) as text whatever the policy does with its start tag, so a start
// tag of such an element that is not written opens a region too: its body
// never goes out without it. In safe mode the same holds for a start tag
// that opens a namespace frame (<svg>, <math>): the scanner reads what
// follows by that namespace's rules until the frame closes, and the region
// lasts as long. Such a tag is never written, since where a browser leaves
// the frame depends on a tree the scanner does not build.
//
// Safe mode also keeps dropped markup from joining what is written around
// it: a '<' that is text, written just before the text after dropped
// markup, must not make a tag with it (see written.h).
//
// And the output stays inside the element of the page it is pasted into:
// the tree model (treemodel.h) follows what the browser builds from what is
// written; a tag the browser would ignore where it stands (a <style> inside
// a <select>, whose text would be markup to the browser) or that would reach
// into the page (a </div> of the page's own) is not written, and at the end
// the model closes whatever the output left open.
//
// Nor may the output join what follows it: it is pasted into pages next to
// other text and other filtered fragments. So in safe mode the output ends
// with the browser's tokenizer back in its data state: no comment left open
// (the scanner drops those), no '<' or "</" of text at the end (written as
// "&lt;"), and no raw-text element left open: the one repair safe mode
// makes there is to write the end tag of a kept one that the input never
// closed, before the end tags the tree model writes (write_end_of_output).
// <plaintext>, which nothing closes, and <noscript>, whose content is markup
// to readers that run no script, are never written.
//
// Nor is anything that acts on the page around the output wherever it
// stands: <base>, <meta> and <frameset> are never written, and a kept
// <html>, <head> or <body> start tag is written without its attributes,
// which the browser would give to the page's own elements (see
// acts_on_whole_page and lends_attributes_to_page).
//
// In safe mode the scanner splits markup as browsers do, and the policy
// reads names and attributes the same way: a name ends at white space or
// '/', '/' separates attributes, quotes are '"' and '\''. Every kept start
// tag goes through attribute editing so that URL attributes are checked, and
// end tags are written as their name alone.
#include "policy/tscrub02.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "policy/attredit.h"
#include "policy/findings.h"
#include "policy/regions.h"
#include "policy/written.h"
#include "policy/treemodel.h"
#include "policy/urlcheck.h"
#include "scanner/cclass.h"
#include "scanner/scrub.h"

using namespace policy;

namespace {

Config* config = nullptr;
std::array<char, kNameBuffSize> name_buff{};
std::size_t name_length = 0;  // of the name in name_buff
bool safe = false;  // the Config, as it was installed, asks for safe mode
Action tag_action = ACTION_KEEP;  // the action scrub_tag found for name_buff
const CfgTag* tag_entry = nullptr;  // and the tag's entry, when it is named

// Whether the start tag being judged is written without attributes (safe
// mode), as far as its piece shows.
bool tag_bare = false;

// What the Config asks beyond the actions of tags, looked up once per
// document rather than once per tag: the Config is read after it is
// installed, and before the first tag.
struct Rules {
  bool known;
  bool every_tag;         // rules for every tag
  const char* link_rel;   // relations written into kept links, or null
  const Config* urls;     // the Config when it has URL rules, else null
  bool drops_relative;    // RELATIVE: DROP, which needs no ':' to refuse a URL
};
Rules rules{};

[[gnu::noinline]] void look_up_rules() {
  rules.known = true;
  rules.every_tag = cfg_has_every_tag_rules(config) != 0;
  rules.link_rel = cfg_link_rel(config);
  rules.drops_relative = cfg_relative_action(config) == ACTION_DROP;
  rules.urls = cfg_scheme_allowed(config, "", 0) >= 0 || rules.drops_relative ? config : nullptr;
}

const Rules& rules_in_use() {
  if (!rules.known) {
    look_up_rules();
  }
  return rules;
}


bool tag_is(const char* name) { return std::strcmp(name_buff.data(), name) == 0; }

// The tag scrub_tag is judging, as attribute editing needs it.
JudgedTag judged_tag() {
  const Rules& in_use = rules_in_use();
  return JudgedTag{name_buff.data(), safe,          tag_action == ACTION_EDIT || in_use.every_tag,
                   in_use.every_tag, in_use.link_rel, in_use.urls,
                   config,           tag_entry};
}

// The first byte of the tag's name in piece, past leading white space and
// the '/' of an end tag; sets *end_tag.
const char* find_tag_name(const char* piece, bool* end_tag) {
  const char* p = skip_space(piece);
  *end_tag = *p == '/';
  return *end_tag ? skip_space(p + 1) : p;
}

}  // namespace


namespace {


// Between documents: no region open, nothing written yet.
void start_afresh() {
  rules = Rules{};
  reset_regions();
  reset_written();
  tree_reset();
}

// Browsers build an <img> from an <image> start tag (outside SVG), so it is
// judged as one.
void judge_as_browsers_build() {
  if (name_buff[0] == 'I' && tag_is("IMAGE")) {
    std::memcpy(name_buff.data(), "IMG", sizeof "IMG");
    name_length = 3;
  }
}

// Raw-text start tags that safe mode never writes, whatever their action:
// <plaintext>, which no end tag closes, so that the output would swallow
// all that follows it; and <noscript>, whose content is text only where
// script runs, but markup to a reader that runs none (a DOM built on a
// server, a DOMParser), which would then build what the policy never judged.
bool is_never_written_raw_text() {
  return (name_buff[0] == 'P' && tag_is("PLAINTEXT")) || (name_buff[0] == 'N' && tag_is("NOSCRIPT"));
}

// Tags that safe mode never writes, whatever their action (their end tags
// go with them), because they act on the whole page the output is pasted
// into, wherever they stand in it: a <base> re-bases every relative URL of
// the page (the scripts it loads after the output included), a <meta> sets
// the page's encoding, refreshes it or stands in for its headers, and a
// <frameset> replaces its body for good.
bool acts_on_whole_page() {
  switch (name_buff[0]) {
    case 'B': return tag_is("BASE");
    case 'M': return tag_is("META");
    case 'F': return tag_is("FRAMESET");
    default: return false;
  }
}

// Start tags whose attributes the browser gives to the page's own elements
// rather than to the output: those of <html> and <body> are added to the
// page's <html> and <body> (an onload among them runs), and the page's
// <head> is not the output's to shape either. Safe mode writes them bare.
bool lends_attributes_to_page() {
  switch (name_buff[0]) {
    case 'H': return tag_is("HTML") || tag_is("HEAD");
    case 'B': return tag_is("BODY");
    default: return false;
  }
}

void report_tag(FindingKind kind, bool end_tag, unsigned long line) {
  report_finding(Finding{kind, end_tag ? FindingSubject::kEndTag : FindingSubject::kStartTag, line, 0,
                         name_buff.data(), nullptr});
}

void warn_tag(bool end_tag, unsigned long line) { report_tag(FindingKind::kWarning, end_tag, line); }

// A tag that is not written, outside a region (whose report covers it).
void report_removed_tag(bool end_tag, unsigned long line) {
  if (reporting_removals()) {
    report_tag(FindingKind::kRemoved, end_tag, line);
  }
}

// Whether the scanner reads the content after this start tag as text: in
// classic mode after a SCRIPT start tag, in safe mode as the scanner says
// (raw-text elements, but not inside SVG or MathML).
bool has_raw_text() {
  return safe ? raw_text_follows() : tag_is("SCRIPT");
}

// A kept tag in safe mode is edited only to check its URLs. A URL is an
// attribute value, and a value comes after '='; without a ':' or a
// character reference no value can hold a scheme.
bool may_hold_url_scheme(const char* piece) {
  const char* const first_value = std::strchr(piece, '=');
  // Any ':' or '&' after the first '=' will do: looking for one there is
  // cheaper than telling values from names.
  return first_value != nullptr && std::strpbrk(first_value, ":&") != nullptr;
}

// An <iframe> is always edited in safe mode, for its srcdoc (see url_allows),
// and every kept tag when protocol-relative URLs are refused ("//host" has
// no ':');
// every kept tag when there are rules for every tag, and every link when
// its rel is written (see link_rel_for).
int write_start_tag(const char* piece, std::FILE* out, unsigned long line, Action action) {
  if (safe && lends_attributes_to_page()) {
    return write_without_attributes(piece, judged_tag(), out, line);
  }
  if (action == ACTION_EDIT ||
      (safe && (may_hold_url_scheme(piece) || (name_buff[0] == 'I' && tag_is("IFRAME")) ||
                rules_in_use().drops_relative)) ||
      rules_in_use().every_tag || link_rel_for(name_buff.data(), rules.link_rel) != nullptr) {
    return edit_tag(piece, out, line);
  }
  write_tag(piece, out);
  return 0;
}

int scrub_start_tag(const char* piece, std::FILE* out, unsigned long line, Action action) {
  if (action == ACTION_DROP_ALL) {
    if (!tag_closed_at_once()) {
      open_region(name_buff.data(), line);  // a self-closing <svg/> has nothing inside to drop
    } else if (!dropping()) {
      report_removed_tag(false, line);
    }
    return 0;
  }
  if (action == ACTION_WARN) {
    warn_tag(false, line);
  }
  // A raw-text start tag that browsers may ignore is never written: what the
  // scanner reads as its text may be markup to them. Nor is a start tag that
  // enters SVG or MathML (it opens a frame): where a browser leaves them
  // again depends on the document tree (an end tag of an HTML element around
  // them, say), which the scanner does not build. Its content goes until the
  // scanner leaves the frame, and the browser, which never entered, reads
  // on alike. A self-closing <svg/> holds nothing, but goes too: safe mode
  // writes no SVG or MathML.
  // And in safe mode a start tag the browser would ignore where the output
  // stands, or that would change the page around it, is not written: the
  // tree model, asked last, takes in only what is written.
  const bool is_written =
      action != ACTION_DROP && !dropping() &&
      !(safe && (tag_opened_frame() || tag_closed_at_once() || acts_on_whole_page() ||
                 (is_never_written_raw_text() && has_raw_text()) || !tree_start_tag({name_buff.data(), name_length}, tag_bare)));
  if (!is_written) {
    if (has_raw_text() || tag_opened_frame()) {
      open_region(name_buff.data(), line);
    } else if (!dropping()) {
      report_removed_tag(false, line);
    }
    return 0;
  }
  return write_start_tag(piece, out, line, action);
}

// In safe mode an end tag is written as its name alone: browsers ignore
// what follows the name, so nothing else needs judging.
void write_end_tag(const char* piece, const char* name, std::FILE* out) {
  if (!safe) {
    write_tag(piece, out);
    return;
  }
  const char* end = name;
  while (*end != '\0' && !ends_name(*end, safe)) {
    ++end;
  }
  if (*end == '\0' && name == piece + 1) {
    write_tag(piece, out);  // "/name" alone, the usual end tag
    return;
  }
  open_tag(out);
  (void)put_bytes("/", 1, out);
  write_segment(name, end, out);
  (void)put_bytes(">", 1, out);
}

int scrub_end_tag(const char* piece, const char* name, std::FILE* out, unsigned long line, Action action) {
  if (action == ACTION_WARN) {
    warn_tag(true, line);
  }
  if (dropping() && ends_region(name_buff.data())) {
    close_region(line);
    return 0;
  }
  if (dropping()) {
    return 0;
  }
  // The end tag of a raw-text element closes it in the browser wherever it
  // stands; any other end tag in safe mode goes through the tree model, which
  // keeps out those that would close what the output did not open.
  const bool is_written = (action == ACTION_KEEP || action == ACTION_WARN || action == ACTION_EDIT) &&
                          !(safe && (acts_on_whole_page() || (!reading_raw_text() && !tree_end_tag({name_buff.data(), name_length}))));
  if (!is_written) {
    report_removed_tag(true, line);
    return 0;
  }
  write_end_tag(piece, name, out);
  return 0;
}

bool is_valid_action(Action action) { return action >= ACTION_KEEP && action <= ACTION_EDIT; }

// Elements that have no content and no end tag, the obsolete ones among
// them: a region opened at one would run to the end of the input.
constexpr std::array<const char*, 18> kVoidElements = {
    "AREA", "BASE", "BR", "COL", "EMBED", "HR", "IMG", "INPUT", "LINK", "META", "SOURCE", "TRACK", "WBR",
    "KEYGEN", "PARAM", "BASEFONT", "BGSOUND", "FRAME",
};

bool is_void_element() { return std::any_of(kVoidElements.begin(), kVoidElements.end(), tag_is); }

// DROP ALL on a void element removes the tag alone, as DROP does. Its end
// tag (</br>, which browsers read as a <br>) is removed alone in the same
// way, so it closes no region, whatever region is open.
Action effective_action(Action action) {
  return action == ACTION_DROP_ALL && is_void_element() ? ACTION_DROP : action;
}

// Whether nothing but separators follows a tag's name.
bool is_bare(const char* after_name) {
  while (has_class(*after_name, kSeparator)) {
    ++after_name;
  }
  return *after_name == '\0';
}

bool is_safe_mode() { return cfg_valid(config) != 0 && cfg_mode(config) == MODE_SAFE; }

}  // namespace

int edit_tag(const char* piece, std::FILE* out, unsigned long line) {
  return edit_attributes(piece, judged_tag(), out, line);
}

Config* install_config(Config* cfg) {
  config = cfg;
  tag_entry = nullptr;
  safe = is_safe_mode();
  rules = Rules{};
  return cfg;
}

int scrub_tag(const char* piece, std::FILE* out, unsigned long line) {
  if (piece == nullptr || out == nullptr) {
    start_afresh();
    return 0;
  }
  bool end_tag = false;
  const char* name = find_tag_name(piece, &end_tag);
  const char* const after_name = copy_upper(name, name_buff, safe ? kEndsSafeTagName : kEndsClassicTagName);
  name_length = static_cast<std::size_t>(after_name - name);
  tag_bare = safe && is_bare(after_name);
  if (safe && !end_tag) {
    judge_as_browsers_build();
  }
  const Action action = effective_action(cfg_action_entry(config, name_buff.data(), &tag_entry));
  tag_action = action;
  if (!is_valid_action(action)) {
    std::fputs("scrub_tag: invalid action\n", stderr);
    return 1;
  }
  if (close_regions_of_closed_frames(name_buff.data(), end_tag, line)) {
    return 0;
  }
  return end_tag ? scrub_end_tag(piece, name, out, line, action) : scrub_start_tag(piece, out, line, action);
}

int scrub_text(const char* piece, std::FILE* out, unsigned long /*line*/) {
  if (piece == nullptr || out == nullptr) {
    start_afresh();
    return 0;
  }
  if (piece[0] == '\0') {
    write_end_of_output(out);
    return 0;
  }
  if (dropping()) {
    return 0;
  }
  const int written = write_text(piece, piece_length(piece), safe, out);
  if (safe && !reading_raw_text()) {
    tree_text(piece, piece_length(piece));
  }
  if (written == EOF) {
    std::perror("Unable to write HTML");
    return 1;
  }
  return 0;
}

int scrub_comment(const char* piece, std::FILE* out, unsigned long line) {
  if (piece == nullptr || out == nullptr) {
    start_afresh();
    return 0;
  }
  switch (cfg_comment_action(config)) {
    case ACTION_WARN:
      report_finding(Finding{FindingKind::kWarning, FindingSubject::kComment, line, 0, nullptr, nullptr});
      [[fallthrough]];
    case ACTION_KEEP:
      if (!dropping()) {
        write_tag(piece, out);
      }
      return 0;
    case ACTION_DROP:
      if (!dropping() && reporting_removals()) {
        report_finding(Finding{FindingKind::kRemoved, FindingSubject::kComment, line, 0, nullptr, nullptr});
      }
      return 0;
    default:
      std::fputs("scrub_comment: invalid action\n", stderr);
      return 1;
  }
}

void report_unclosed_region() { report_open_region(); }
