// URL checks for safe mode.
//
// A browser decodes character references in an attribute value before it
// parses the URL, and the URL parser drops tabs and line ends anywhere and
// control characters and spaces at either end. So "jav&#x09;ascript&colon;"
// is a javascript: URL. The check decodes references exactly as browsers do
// in attribute values, then removes every ASCII white space and control
// character (more than a browser does, so it errs on the side of refusing)
// and reads the scheme.
#include "policy/urlcheck.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <utility>

namespace {

struct NamedRef {
  const char* name;
  char32_t first;
  char32_t second;
};

#include "policy/entities.inc"

constexpr char32_t kReplacement = 0xFFFD;
constexpr char32_t kMaxCodePoint = 0x10FFFF;
constexpr std::size_t kLongestName = 32;

// What numeric references to 0x80..0x9F stand for (windows-1252), as the
// HTML standard maps them.
constexpr std::array<char32_t, 32> kC1Replacements = {
    0x20AC, 0x81,   0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x8D,   0x017D, 0x8F,   0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D,   0x017E, 0x0178,
};

bool is_alnum(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool is_hex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

int hex_value(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  return (c | 0x20) - 'a' + 10;
}

// The places [first, last) of the names that begin with each byte: a
// search looks only among those (the table is sorted by name).
constexpr auto kNamedRefBuckets = [] {
  std::array<std::pair<std::size_t, std::size_t>, 256> buckets{};
  for (std::size_t i = 0; i < kNamedRefCount; ++i) {
    auto& bucket = buckets[static_cast<unsigned char>(kNamedRefs[i].name[0])];
    if (bucket.second == 0) {
      bucket.first = i;
    }
    bucket.second = i + 1;
  }
  return buckets;
}();

// Compares a table name with key as bytes, without measuring the name: <0,
// 0 or >0 as the name sorts before, with or after key.
int compare_name(const char* name, std::string_view key) {
  std::size_t i = 0;
  for (; i < key.size() && name[i] != '\0'; ++i) {
    if (name[i] != key[i]) {
      return static_cast<unsigned char>(name[i]) < static_cast<unsigned char>(key[i]) ? -1 : 1;
    }
  }
  if (i < key.size()) {
    return -1;  // the name is a prefix of key
  }
  return name[i] == '\0' ? 0 : 1;
}

const NamedRef* find_named(std::string_view name) {
  if (name.empty()) {
    return nullptr;
  }
  const auto& [first, last] = kNamedRefBuckets[static_cast<unsigned char>(name[0])];
  const NamedRef* const end = kNamedRefs + last;
  const NamedRef* it = std::lower_bound(kNamedRefs + first, end, name, [](const NamedRef& ref, std::string_view key) {
    return compare_name(ref.name, key) < 0;
  });
  return it != end && compare_name(it->name, name) == 0 ? it : nullptr;
}

char32_t numeric_value(char32_t value) {
  if (value == 0 || value > kMaxCodePoint || (value >= 0xD800 && value <= 0xDFFF)) {
    return kReplacement;
  }
  if (value >= 0x80 && value <= 0x9F) {
    return kC1Replacements[value - 0x80];
  }
  return value;
}

// Decodes a numeric reference at p ("&#..."); returns the characters used,
// 0 when there is no digit (then it is no reference).
std::size_t decode_numeric(std::string_view text, std::u32string& out) {
  std::size_t i = 2;
  const bool hex = i < text.size() && (text[i] == 'x' || text[i] == 'X');
  i += hex ? 1 : 0;
  const std::size_t digits_begin = i;
  char32_t value = 0;
  for (; i < text.size() && (hex ? is_hex(text[i]) : text[i] >= '0' && text[i] <= '9'); ++i) {
    const char32_t digit = static_cast<char32_t>(hex ? hex_value(text[i]) : text[i] - '0');
    value = value > kMaxCodePoint ? value : value * (hex ? 16 : 10) + digit;
  }
  if (i == digits_begin) {
    return 0;
  }
  if (i < text.size() && text[i] == ';') {
    ++i;
  }
  out.push_back(numeric_value(value));
  return i;
}

// Decodes a named reference at text ("&name..."); returns the characters
// used, 0 when the text is left as it stands.
std::size_t decode_named(std::string_view text, std::u32string& out) {
  std::size_t run = 1;
  while (run < text.size() && run <= kLongestName && is_alnum(text[run])) {
    ++run;
  }
  const std::size_t limit = run < text.size() && text[run] == ';' ? run + 1 : run;
  for (std::size_t end = limit; end > 1; --end) {
    const NamedRef* ref = find_named(text.substr(1, end - 1));
    if (ref == nullptr) {
      continue;
    }
    // In attribute values a reference without ';' before '=' or a letter or
    // digit is left alone, for historical reasons.
    const bool terminated = text[end - 1] == ';';
    if (!terminated && end < text.size() && (text[end] == '=' || is_alnum(text[end]))) {
      return 0;
    }
    out.push_back(ref->first);
    if (ref->second != 0) {
      out.push_back(ref->second);
    }
    return end;
  }
  return 0;
}

// Appends the UTF-8 sequence at text to out as one code point; returns the
// bytes used. Bytes that are not valid UTF-8 stand for themselves: only
// ASCII matters to the scheme, and no ASCII byte is ever taken into a
// sequence.
std::size_t decode_byte(std::string_view text, std::u32string& out) {
  const auto lead = static_cast<unsigned char>(text[0]);
  std::size_t count = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
  if (count > text.size()) {
    count = 1;
  }
  char32_t value = count == 1 ? lead : lead & (0x3F >> (count - 1));
  for (std::size_t i = 1; i < count; ++i) {
    const auto next = static_cast<unsigned char>(text[i]);
    if ((next & 0xC0) != 0x80) {
      out.push_back(lead);
      return 1;
    }
    value = (value << 6) | (next & 0x3F);
  }
  out.push_back(value);
  return count;
}

bool removable(char32_t c) { return c <= 0x20 || c == 0x7F; }

bool is_alpha(char32_t c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool is_scheme_char(char32_t c) {
  return is_alpha(c) || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
}

bool is_slash(char32_t c) { return c == '/' || c == '\\'; }

// Reads a URL's scheme one code point at a time and decides as soon as it
// can: at the ':' that ends a scheme, or at the first code point that
// cannot be part of one (then the URL is relative). Only the first bytes of
// a scheme are kept: one longer than every allowed scheme is refused.
// With a Config's rules, its list of schemes replaces the fixed one, and
// protocol-relative URLs may be refused: browsers read "//host", "\\host"
// and the mixed pairs alike, tabs and line ends between them dropped.
class SchemeReader {
 public:
  explicit SchemeReader(const Config* rules = nullptr)
      : rules_(rules), drop_slashes_(rules != nullptr && cfg_relative_action(rules) == ACTION_DROP) {}

  // True once the verdict is known. Called for every code point of a
  // URL's scheme in every URL attribute a kept tag has; the checks end up
  // inlined in edit_tag, a large function whose size limits would
  // otherwise leave this call out of line, at a cost of close to 1% of
  // the whole run on common pages.
  [[gnu::always_inline]] bool feed(char32_t c) {
    if (removable(c)) {
      return false;
    }
    if (lead_slash_) {
      safe_ = !is_slash(c);
      return true;
    }
    if (c == ':') {
      safe_ = allowed();
      return true;
    }
    if (length_ == 0 ? !is_alpha(c) : !is_scheme_char(c)) {
      if (drop_slashes_ && length_ == 0 && is_slash(c)) {
        lead_slash_ = true;  // a second one makes it protocol-relative
        return false;
      }
      return true;  // relative: safe_ stays true
    }
    if (length_ < scheme_.size()) {
      scheme_[length_] = static_cast<char>(c | 0x20);
    }
    ++length_;
    return false;
  }
  // A URL that ends before its scheme is decided is relative.
  [[nodiscard]] bool safe() const { return safe_; }

 private:
  static constexpr std::array<std::string_view, 6> kAllowed = {"", "http", "https", "mailto", "ftp", "tel"};
  // No scheme a Config allows is longer than a name it holds.
  static constexpr std::size_t kLongestKept = kCfgNameMax;

  [[nodiscard]] bool allowed() const {
    if (length_ == 0) {
      return true;  // ":x" is a relative URL
    }
    if (length_ > kLongestKept) {
      return false;
    }
    if (rules_ != nullptr) {
      const int listed = cfg_scheme_allowed(rules_, scheme_.data(), length_);
      if (listed >= 0) {
        return listed == 1;
      }
    }
    const std::string_view scheme(scheme_.data(), length_);
    return std::find(kAllowed.begin(), kAllowed.end(), scheme) != kAllowed.end();
  }

  const Config* rules_;
  std::array<char, kLongestKept> scheme_;  // only the first length_ bytes are set
  std::size_t length_ = 0;
  bool drop_slashes_;
  bool lead_slash_ = false;
  bool safe_ = true;
};

char32_t code_point(char byte) { return static_cast<unsigned char>(byte); }
char32_t code_point(char32_t c) { return c; }

// Text is a view of bytes (a value without references) or of code points.
template <typename Text>
bool url_is_safe(Text url, const Config* rules) {
  SchemeReader reader(rules);
  for (const auto unit : url) {
    if (reader.feed(code_point(unit))) {
      break;
    }
  }
  return reader.safe();
}

// Tab, line feed, form feed, carriage return and space, as bits.
constexpr std::uint64_t kAsciiWs = 1ull << '\t' | 1ull << '\n' | 1ull << '\f' | 1ull << '\r' | 1ull << ' ';

bool is_ascii_ws(char32_t c) { return c <= ' ' && ((kAsciiWs >> c) & 1) != 0; }

// Every URL of a srcset value: candidates are separated by commas; each is
// a URL (no white space) and optional descriptors, which may hold commas
// inside parentheses. The value is decoded code points, or bytes when it
// holds no reference: then each byte past ASCII stands for a part of a code
// point past ASCII, and both count alike here (neither separates anything
// nor belongs to a scheme).
template <typename Unit>
bool srcset_is_safe(std::basic_string_view<Unit> value, const Config* rules) {
  std::size_t i = 0;
  while (i < value.size()) {
    while (i < value.size() && (is_ascii_ws(value[i]) || value[i] == ',')) {
      ++i;
    }
    const std::size_t url_begin = i;
    while (i < value.size() && !is_ascii_ws(value[i])) {
      ++i;
    }
    std::basic_string_view<Unit> url = value.substr(url_begin, i - url_begin);
    const bool ends_candidate = !url.empty() && url.back() == ',';
    while (!url.empty() && url.back() == ',') {
      url.remove_suffix(1);
    }
    if (!url.empty() && !url_is_safe(url, rules)) {
      return false;
    }
    if (ends_candidate) {
      continue;
    }
    // The descriptors run to the ',' that ends the candidate; a ',' inside
    // parentheses does not, and the first ')' closes them: browsers do not
    // nest them, so "x ((),javascript:y" holds a second candidate.
    bool in_parens = false;
    for (; i < value.size() && (in_parens || value[i] != ','); ++i) {
      in_parens = value[i] == '(' || (in_parens && value[i] != ')');
    }
  }
  return true;
}

char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c; }

// Whether the length bytes at name are word (lower case) in any case; the
// first byte is known to match.
bool names_match(const char* name, std::size_t length, std::string_view word) {
  if (length != word.size()) {
    return false;
  }
  for (std::size_t i = 1; i < length; ++i) {
    if (ascii_lower(name[i]) != word[i]) {
      return false;
    }
  }
  return true;
}

// The URL of a refresh, as browsers find it in the decoded content value:
// a time (digits and dots, at least one digit or a leading dot), then after
// white space, ';' or ',' the URL, which may be introduced by "url=" (in
// any case, white space around '=') and quoted. Sets *url to it; false
// when the value is no refresh or holds no URL.
bool refresh_url(std::u32string_view value, std::u32string_view* url) {
  std::size_t i = 0;
  const auto skip_ws = [&value, &i] {
    while (i < value.size() && is_ascii_ws(value[i])) {
      ++i;
    }
  };
  const auto at = [&value, &i](char32_t c) { return i < value.size() && value[i] == c; };
  const auto at_letter = [&value, &i](char32_t c) { return i < value.size() && (value[i] | 0x20) == c; };
  skip_ws();
  const std::size_t time_begin = i;
  while (i < value.size() && value[i] >= '0' && value[i] <= '9') {
    ++i;
  }
  if (i == time_begin && !at('.')) {
    return false;
  }
  while (i < value.size() && ((value[i] >= '0' && value[i] <= '9') || value[i] == '.')) {
    ++i;
  }
  if (i < value.size()) {
    if (!at(';') && !at(',') && !is_ascii_ws(value[i])) {
      return false;
    }
    skip_ws();
    i += at(';') || at(',') ? 1 : 0;
    skip_ws();
  }
  if (i == value.size()) {
    return false;
  }
  const std::size_t url_begin = i;
  if (at_letter('u')) {
    ++i;
    if (!at_letter('r')) {
      *url = value.substr(url_begin);
      return true;
    }
    ++i;
    if (!at_letter('l')) {
      *url = value.substr(url_begin);
      return true;
    }
    ++i;
    skip_ws();
    if (!at('=')) {
      *url = value.substr(url_begin);
      return true;
    }
    ++i;
    skip_ws();
  }
  char32_t quote = 0;
  if (at('"') || at('\'')) {
    quote = value[i++];
  }
  std::u32string_view rest = value.substr(i);
  if (quote != 0) {
    rest = rest.substr(0, rest.find(quote));
  }
  *url = rest;
  return true;
}

}  // namespace

UrlAttribute url_attribute_kind(const char* name, std::size_t length) {
  // Asked for every attribute of every kept tag, and most attributes are no
  // URL. No two of these names share both their length and their first
  // letter, so those two pick the one name to compare.
  static constexpr std::array<std::string_view, 22> kUrlAttributes = {
      "src",        "cite",     "data",       "href",     "icon",     "ping",    "action",     "dynsrc",
      "lowsrc",     "poster",   "srcset",     "usemap",   "archive",  "classid", "profile",    "codebase",
      "longdesc",   "manifest", "background", "formaction", "xlink:href", "imagesrcset",
  };
  static constexpr std::size_t kLongest = 11;
  static constexpr int kNoName = -1;
  static constexpr int kShared = -2;  // two names would share the place: never so
  // kCandidate[length][letter]: the place of the name, or kNoName.
  static constexpr auto kCandidate = [] {
    std::array<std::array<int, 26>, kLongest + 1> candidate{};
    for (auto& row : candidate) {
      row.fill(kNoName);
    }
    for (std::size_t i = 0; i < kUrlAttributes.size(); ++i) {
      const std::string_view url_name = kUrlAttributes[i];
      int& place = candidate[url_name.size()][static_cast<std::size_t>(url_name[0] - 'a')];
      place = place == kNoName ? static_cast<int>(i) : kShared;
    }
    return candidate;
  }();
  static_assert(std::all_of(kCandidate.begin(), kCandidate.end(),
                            [](const auto& row) { return std::find(row.begin(), row.end(), kShared) == row.end(); }));
  if (length == 0 || length > kLongest) {
    return UrlAttribute::kNone;
  }
  const char first = ascii_lower(name[0]);
  if (first < 'a' || first > 'z') {
    return UrlAttribute::kNone;
  }
  const int place = kCandidate[length][static_cast<std::size_t>(first - 'a')];
  if (place == kNoName) {
    return UrlAttribute::kNone;
  }
  const std::string_view url_name = kUrlAttributes[static_cast<std::size_t>(place)];
  if (!names_match(name, length, url_name)) {
    // Two names share a place with one of the table: content that of
    // classid, srcdoc that of srcset.
    if (url_name == "classid" && names_match(name, length, "content")) {
      return UrlAttribute::kRefresh;
    }
    return url_name == "srcset" && names_match(name, length, "srcdoc") ? UrlAttribute::kSrcdoc : UrlAttribute::kNone;
  }
  return url_name == "srcset" || url_name == "imagesrcset" ? UrlAttribute::kSrcset : UrlAttribute::kUrl;
}

// Decodes the value one character or reference at a time, handing each
// code point to sink until it returns true.
template <typename Sink>
void decode_each(std::string_view text, Sink sink) {
  std::u32string unit;
  std::size_t i = 0;
  while (i < text.size()) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x80 && byte != '&') {
      // ASCII other than a reference decodes to itself.
      if (sink(static_cast<char32_t>(byte))) {
        return;
      }
      ++i;
      continue;
    }
    unit.clear();
    std::size_t used = 0;
    if (text[i] == '&' && i + 1 < text.size()) {
      const std::string_view rest = text.substr(i);
      used = text[i + 1] == '#' ? decode_numeric(rest, unit) : decode_named(rest, unit);
    }
    i += used != 0 ? used : decode_byte(text.substr(i), unit);
    for (const char32_t c : unit) {
      if (sink(c)) {
        return;
      }
    }
  }
}

std::u32string decode_attribute_value(const char* value, std::size_t length) {
  // No byte or reference decodes to more code points than it has bytes.
  std::u32string out(length, U'\0');
  std::size_t used = 0;
  decode_each(std::string_view(value, length), [&out, &used](char32_t c) {
    out[used++] = c;
    return false;
  });
  out.resize(used);
  return out;
}

bool url_value_is_safe(const char* value, std::size_t length, bool srcset) {
  return url_value_is_safe(value, length, srcset, nullptr);
}

bool url_value_is_safe(const char* value, std::size_t length, bool srcset, const Config* config) {
  const bool has_references = std::memchr(value, '&', length) != nullptr;
  if (srcset) {
    return has_references ? srcset_is_safe(std::u32string_view(decode_attribute_value(value, length)), config)
                          : srcset_is_safe(std::string_view(value, length), config);
  }
  if (!has_references) {
    return url_is_safe(std::string_view(value, length), config);
  }
  // Only as much of the value is decoded as the scheme needs: references
  // after it (in a query string, say) cost nothing.
  SchemeReader reader(config);
  decode_each(std::string_view(value, length), [&reader](char32_t c) { return reader.feed(c); });
  return reader.safe();
}

bool refresh_value_is_safe(const char* value, std::size_t length) { return refresh_value_is_safe(value, length, nullptr); }

bool refresh_value_is_safe(const char* value, std::size_t length, const Config* config) {
  const std::u32string decoded = decode_attribute_value(value, length);
  std::u32string_view url;
  return !refresh_url(decoded, &url) || url_is_safe(url, config);
}
