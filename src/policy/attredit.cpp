// Attribute editing: a kept start tag written attribute by attribute.
//
// A tag is split into segments, each an attribute with the separators
// before it, classic mode splitting as the scanner's classic machine reads
// tags and safe mode as browsers do. Each segment is kept or left out as
// the Config says (in safe mode unsafe URLs are left out too), and what is
// kept is written so that no segment runs into the one written before it.
// In safe mode a start tag whose attributes the browser would give to the
// page's own elements (<body onload>) is written without any: see
// write_without_attributes.
//
// A link that keeps its target (href, action) when the Config gives link
// relations carries exactly those in its rel: every rel of its own is left
// out, and one rel="..." is written at the end, just before the '>', after
// a space. Written there it cannot join an unquoted value (a space ends
// it) nor change one (before a final '/' it would: in <a href=/x/> the '/'
// belongs to the value), and a browser reads a '/' before it as nothing.
// Its value in double quotes holds only letters and spaces. Its name
// follows the case of the tag's name as written: REL for <A HREF=x>.
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "policy/attredit.h"
#include "policy/findings.h"
#include "policy/urlcheck.h"
#include "policy/written.h"
#include "scanner/cclass.h"
#include "scanner/scrub.h"

using namespace policy;

namespace {

// The tag being edited, for the editing's own helpers: set by each call of
// edit_attributes and write_without_attributes.
const JudgedTag* judged = nullptr;

// What the Config says of the attribute (upper case) on the tag, without
// rules for every tag (cfg_rules_attr_action has those).
Action attribute_action(const char* attribute) {
  return judged->entry != nullptr ? cfg_entry_attr_action(judged->entry, attribute)
                                  : cfg_attr_action(judged->config, judged->name, attribute);
}

}  // namespace

namespace {

std::array<char, kNameBuffSize> attr_name{};

bool is_html_space(char c) { return has_class(c, kHtmlSpace); }

// ---- attribute segments ----

struct Segment {
  const char* begin;        // the separators before the attribute
  const char* name;         // the attribute's first byte (end when none)
  std::size_t name_length;  // 0 when the segment has no attribute
  const char* value;        // the value without quotes, or null when none
  std::size_t value_length;
  const char* end;
};

// Makes attr_name the upper-cased name of the segment's attribute.
void record_name(const Segment& s) {
  std::size_t n = 0;
  for (; n < s.name_length && n < kNameMax; ++n) {
    attr_name[n] = cclass::to_upper(s.name[n]);
  }
  attr_name[n] = '\0';
}

// The separators, name and value of the first attribute of text, as
// browsers split it: names end at white space, '/', '=' (not as their
// first byte) or the end; '/' separates attributes; values may be quoted
// with '"' or '\''. The name is not recorded: most kept attributes are
// never looked up.
// Inlined into the loop of edit_tag, whatever the count of its callers:
// there it runs for every attribute of every kept tag.
[[gnu::always_inline]] inline Segment split_safe(const char* text) {
  Segment s{text, text, 0, nullptr, 0, text};
  const char* p = text;
  while (has_class(*p, kSeparator)) {
    ++p;
  }
  s.name = p;
  if (*p == '\0') {
    s.end = p;
    return s;
  }
  const char* name_end = p + 1;
  while (!has_class(*name_end, kEndsName)) {
    ++name_end;
  }
  s.name_length = static_cast<std::size_t>(name_end - p);
  p = name_end;
  while (is_html_space(*p)) {
    ++p;
  }
  if (*p != '=') {
    s.end = name_end;  // no value: the white space belongs to the next segment
    return s;
  }
  ++p;
  while (is_html_space(*p)) {
    ++p;
  }
  if (*p == '"' || *p == '\'') {
    const char* close = std::strchr(p + 1, *p);
    s.value = p + 1;
    s.end = close != nullptr ? close + 1 : p + std::strlen(p);
    s.value_length = static_cast<std::size_t>((close != nullptr ? close : s.end) - s.value);
    return s;
  }
  s.value = p;
  while (!has_class(*p, kEndsValue)) {
    ++p;
  }
  s.value_length = static_cast<std::size_t>(p - s.value);
  s.end = p;
  return s;
}

// find_attribute, inlined into the loop of edit_tag (see split_safe).
[[gnu::always_inline]] inline const char* read_attribute(const char* text) {
  const char* p = skip_space(text);
  if (*p == '\0') {
    attr_name[0] = '\0';
    return p;
  }
  p = copy_upper(p, attr_name, kEndsClassicAttrName);
  while (*p != '\0' && *p != '=' && !is_space(*p)) {
    ++p;  // the part of an overly long name that was not copied
  }
  const char* after_name = p;
  p = skip_space(p);
  if (*p != '=') {
    return after_name;  // no value: the white space belongs to the next segment
  }
  p = skip_space(p + 1);
  if (*p == '\'' || *p == '"') {
    const char* close = std::strchr(p + 1, *p);
    return close != nullptr ? close + 1 : p + std::strlen(p);
  }
  while (*p != '\0' && !is_space(*p)) {
    ++p;
  }
  return p;
}

// The classic segment: read_attribute records the name itself.
Segment split_classic(const char* text) {
  Segment s{text, text, 0, nullptr, 0, text};
  s.end = read_attribute(text);
  s.name_length = std::strlen(attr_name.data());
  return s;
}

bool starts_with_separator(const Segment& s) { return s.name != s.begin || *s.begin == '\0'; }

// How the last attribute written ends, which decides what may follow it.
enum class Ending { kTagName, kBareName, kQuotedValue, kUnquotedValue };

Ending ending_of(const Segment& s) {
  if (s.value == nullptr) {
    return Ending::kBareName;
  }
  const char before = s.value[-1];  // an unquoted value follows '=' or white space
  return before == '"' || before == '\'' ? Ending::kQuotedValue : Ending::kUnquotedValue;
}

// A kept segment right after one that was left out must not run into what
// was written before it and change its meaning:
// - an unquoted value runs on to white space, '/' included: a space ends it;
// - a name written without a value takes a '=' that follows it, white space
//   or not, and what comes after as its value (browsers start a name with
//   '=' after a value): a '/' ends the name first;
// - otherwise a segment without a separator of its own would join the name
//   or value before it: a space keeps it apart.
void separate_from_written(const Segment& s, Ending written, std::FILE* out) {
  if (written == Ending::kUnquotedValue) {
    if (!is_html_space(*s.begin)) {
      (void)put_bytes(" ", 1, out);
    }
    return;
  }
  if (s.name_length == 0) {
    return;  // the separators at the end of the tag
  }
  if (written == Ending::kBareName && *s.name == '=') {
    (void)put_bytes("/", 1, out);
  } else if (!starts_with_separator(s)) {
    (void)put_bytes(" ", 1, out);
  }
}

// In classic mode a segment holds the white space before its attribute, so
// one written right after one that was left out follows what was written
// before that directly: without white space of its own it would join it
// (<a onclick="go()"href=/x> must not become <ahref=/x>, a tag of another
// name). A space keeps it apart. Safe mode has its own rules above.
void separate_classic(const Segment& s, std::FILE* out) {
  if (!is_space(*s.begin)) {
    (void)put_bytes(" ", 1, out);
  }
}

// Whether a kept attribute may be written: false (after a warning) for a
// URL attribute whose URL a browser would run or load as active content.
// The content of a <meta> is a refresh's time and URL when its http-equiv
// says so: judged as one whatever http-equiv says, since a value that is no
// refresh holds no URL. (Safe mode writes no <meta> at all, for what it does
// to the whole page; the check stands behind that rule, not in its place.) A srcdoc on an <iframe> is a document that runs in
// the page's origin: never written.
bool url_passes(const Segment& s) {
  const UrlAttribute kind = url_attribute_kind(s.name, s.name_length);
  bool safe_url = true;
  switch (kind) {
    case UrlAttribute::kNone:
      return true;
    case UrlAttribute::kSrcdoc:
      safe_url = !judged->is("IFRAME");
      break;
    case UrlAttribute::kRefresh:
      safe_url = s.value == nullptr || !judged->is("META") ||
                 refresh_value_is_safe(s.value, s.value_length, judged->url_rules);
      break;
    default:
      safe_url = s.value == nullptr ||
                 url_value_is_safe(s.value, s.value_length, kind == UrlAttribute::kSrcset, judged->url_rules);
      break;
  }
  return safe_url;
}

bool url_allows(const Segment& s, bool recorded, unsigned long line) {
  if (url_passes(s)) {
    return true;
  }
  if (!recorded) {
    record_name(s);
  }
  report_finding(
      Finding{FindingKind::kUnsafeUrl, FindingSubject::kAttribute, line, 0, judged->name, attr_name.data()});
  return false;
}

// Reports the attribute in attr_name (removals only when asked for).
void report_attribute(FindingKind kind, unsigned long line) {
  if (kind == FindingKind::kRemoved && !reporting_removals()) {
    return;
  }
  report_finding(Finding{kind, FindingSubject::kAttribute, line, 0, judged->name, attr_name.data()});
}

// Whether an attribute segment is written, as the Config says for its
// attribute (with the warnings); segments without one are always written.
// A tag that is only kept (safe mode) keeps every attribute but unsafe URLs.
// every: the Config has rules for every tag.
bool keep_segment(const Segment& s, bool edited, bool every, unsigned long line) {
  if (s.name_length == 0) {
    return true;
  }
  if (judged->safe && edited) {
    record_name(s);
  }
  Action action = ACTION_KEEP;
  if (edited) {
    action = every ? cfg_rules_attr_action(judged->config, judged->entry, attr_name.data())
                   : attribute_action(attr_name.data());
  }
  if (action == ACTION_DROP) {
    report_attribute(FindingKind::kRemoved, line);
    return false;
  }
  if (judged->safe && (action == ACTION_KEEP || action == ACTION_WARN) && !url_allows(s, edited, line)) {
    return false;
  }
  if (action == ACTION_WARN) {
    report_attribute(FindingKind::kWarning, line);
  } else if (action != ACTION_KEEP) {
    std::fputs("edit_tag: Internal error: invalid attribute action\n", stderr);
  }
  return true;
}

// ---- link relations ----

// Whether the segment's attribute is named upper (in upper case), with its
// name in attr_name after the call (the classic split recorded it).
bool segment_names(const Segment& s, const char* upper) {
  if (s.name_length == 0) {
    return false;
  }
  if (judged->safe) {
    record_name(s);
  }
  return std::strcmp(attr_name.data(), upper) == 0;
}

// Whether the tag keeps an href or an action, as keep_segment would judge
// them (without its reports): only then is a rel written.
// Out of line: only links come here, and a second copy of the splitting
// in the loop of edit_tag would cost every tag.
[[gnu::noinline]] bool keeps_link_target(const char* attributes, bool edited) {
  for (const char* p = attributes; *p != '\0';) {
    Segment s{p, p, 0, nullptr, 0, p};
    if (judged->safe) {
      s = split_safe(p);
    } else {
      s.end = find_attribute(p);
      s.name_length = std::strlen(attr_name.data());
    }
    p = s.end;
    if (!segment_names(s, "HREF") && !segment_names(s, "ACTION")) {
      continue;
    }
    const Action action = edited ? cfg_rules_attr_action(judged->config, judged->entry, attr_name.data()) : ACTION_KEEP;
    if ((action == ACTION_KEEP || action == ACTION_WARN) && (!judged->safe || url_passes(s))) {
      return true;
    }
  }
  return false;
}

// Whether the tag's name as written has capitals and no small letters.
bool written_in_capitals(const char* name, const char* end) {
  bool capital = false;
  for (; name != end; ++name) {
    if (*name >= 'a' && *name <= 'z') {
      return false;
    }
    capital = capital || (*name >= 'A' && *name <= 'Z');
  }
  return capital;
}

// Whether the segment's attribute has a '=' and no value after it: then a
// browser would take what is written after it, white space or not, for
// its value.
bool awaits_value(const Segment& s) {
  if (s.name_length == 0) {
    return false;
  }
  if (judged->safe) {
    return s.value != nullptr && s.value_length == 0 && s.value == s.end;
  }
  const char* p = skip_space(s.begin);
  while (p != s.end && *p != '=' && !is_space(*p)) {
    ++p;
  }
  p = skip_space(p);
  if (p == s.end || *p != '=') {
    return false;
  }
  return skip_space(p + 1) == s.end;
}

// After an attribute that awaits its value the rel is preceded by an empty
// one, which is what the browser gave that attribute at the '>'.
void write_link_rel(const char* rel, bool capitals, bool after_bare_equals, std::FILE* out) {
  if (after_bare_equals) {
    (void)put_bytes("\"\"", 2, out);
  }
  (void)put_bytes(capitals ? " REL=\"" : " rel=\"", 6, out);
  (void)put_bytes(rel, std::strlen(rel), out);
  (void)put_bytes("\"", 1, out);
}

}  // namespace

bool JudgedTag::is(const char* upper) const { return std::strcmp(name, upper) == 0; }

const char* policy::link_rel_for(const char* upper_name, const char* link_rel) {
  if (link_rel == nullptr) {
    return nullptr;
  }
  const bool link = (upper_name[0] == 'A' && (upper_name[1] == '\0' || std::strcmp(upper_name, "AREA") == 0)) ||
                    (upper_name[0] == 'F' && std::strcmp(upper_name, "FORM") == 0);
  return link ? link_rel : nullptr;
}

const char* policy::find_attribute(const char* text) { return read_attribute(text); }

int policy::write_without_attributes(const char* piece, const JudgedTag& tag, std::FILE* out, unsigned long line) {
  judged = &tag;
  const char* p = skip_space(piece);
  while (*p != '\0' && !ends_name(*p, judged->safe)) {
    ++p;
  }
  open_tag(out);
  write_segment(piece, p, out);
  (void)put_bytes(">", 1, out);
  while (*p != '\0') {
    const Segment s = split_safe(p);
    if (s.name_length != 0) {
      record_name(s);
      report_attribute(FindingKind::kRemoved, line);
    }
    p = s.end;
  }
  return 0;
}

int policy::edit_attributes(const char* piece, const JudgedTag& tag, std::FILE* out, unsigned long line) {
  judged = &tag;
  open_tag(out);
  const char* p = skip_space(piece);
  while (*p != '\0' && !ends_name(*p, judged->safe)) {
    ++p;
  }
  // Kept bytes are written in runs, one write per run rather than one per
  // attribute: a tag that keeps everything costs a single write.
  const char* run = piece;
  const bool edited = tag.edited;
  const bool every = edited && tag.every_tag_rules;
  const char* const rel = link_rel_for(tag.name, tag.link_rel);
  const bool writes_rel = rel != nullptr && keeps_link_target(p, edited);
  const bool capitals = writes_rel && written_in_capitals(skip_space(piece), p);
  bool left_out = false;
  bool value_awaited = false;  // by the last attribute written (see write_link_rel)
  Ending written = Ending::kTagName;
  while (*p != '\0') {
    const Segment s = judged->safe ? split_safe(p) : split_classic(p);
    bool kept = false;
    if (writes_rel && segment_names(s, "REL")) {
      report_attribute(FindingKind::kRemoved, line);  // replaced by the one written at the end
    } else {
      kept = keep_segment(s, edited, every, line);
    }
    if (kept && left_out && s.begin != s.end) {
      if (judged->safe) {
        separate_from_written(s, written, out);
      } else {
        separate_classic(s, out);
      }
    }
    if (!kept) {
      write_segment(run, s.begin, out);
      run = s.end;
    } else if (s.name_length != 0) {
      written = ending_of(s);
      value_awaited = writes_rel && awaits_value(s);
    }
    left_out = !kept;
    p = s.end;
  }
  write_segment(run, p, out);
  if (writes_rel) {
    write_link_rel(rel, capitals, value_awaited, out);
  }
  (void)put_bytes(">", 1, out);
  return 0;
}
