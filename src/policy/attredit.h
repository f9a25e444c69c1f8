// Inside the scrubbing policy: the contract between the tag policy
// (tscrub02.cpp), which judges each tag as a whole, and the attribute
// editing (attredit.cpp) that writes a kept start tag attribute by
// attribute. Both split tags by the byte classes here; the editing asks
// the tag policy about the tag it is judging. edit_tag and find_attribute
// themselves are declared in tscrub02.h. Not for use outside src/policy.
#ifndef TESSEL_ATTREDIT_H
#define TESSEL_ATTREDIT_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "config/config.h"
#include "scanner/cclass.h"

namespace policy {

constexpr std::size_t kNameBuffSize = 128;
constexpr std::size_t kNameMax = kNameBuffSize - 1;

inline bool is_space(char c) { return cclass::is_space(c); }

// Byte classes of splitting a tag, as tables: a tag is split byte by byte,
// and a lookup is cheaper than a chain of compares.
constexpr std::uint8_t kHtmlSpace = 1;  // white space as browsers see it in a tag (no vertical tab)
constexpr std::uint8_t kEndsName = 2;   // ends an attribute name after its first byte (NUL too)
constexpr std::uint8_t kEndsValue = 4;  // ends an unquoted value (NUL too)
constexpr std::uint8_t kSeparator = 8;  // separates attributes: white space and '/'
constexpr std::uint8_t kEndsSafeTagName = 16;     // NUL and the separators
constexpr std::uint8_t kEndsClassicTagName = 32;  // NUL and isspace
constexpr std::uint8_t kEndsClassicAttrName = 64;  // NUL, isspace and '='

inline constexpr std::array<std::uint8_t, 256> kAttrClass = [] {
  std::array<std::uint8_t, 256> table{};
  for (const char c : {' ', '\t', '\n', '\f', '\r'}) {
    table[static_cast<unsigned char>(c)] = kHtmlSpace | kEndsName | kEndsValue | kSeparator | kEndsSafeTagName;
  }
  for (const char c : {' ', '\t', '\n', '\v', '\f', '\r'}) {
    table[static_cast<unsigned char>(c)] |= kEndsClassicTagName | kEndsClassicAttrName;
  }
  table['/'] = kEndsName | kSeparator | kEndsSafeTagName;
  table['='] = kEndsName | kEndsClassicAttrName;
  table[0] = kEndsName | kEndsValue | kEndsSafeTagName | kEndsClassicTagName | kEndsClassicAttrName;
  return table;
}();
static_assert(kAttrClass['\v'] == (kEndsClassicTagName | kEndsClassicAttrName) && kAttrClass['a'] == 0);

inline bool has_class(char c, std::uint8_t bits) { return (kAttrClass[static_cast<unsigned char>(c)] & bits) != 0; }

inline const char* skip_space(const char* p) {
  while (is_space(*p)) {  // never NUL
    ++p;
  }
  return p;
}

// Copies up to kNameMax bytes through toupper into dest until a byte of the
// class ends (which holds NUL); returns the first byte not copied.
inline const char* copy_upper(const char* p, std::array<char, kNameBuffSize>& dest, std::uint8_t ends) {
  std::size_t n = 0;
  while (!has_class(*p, ends) && n < kNameMax) {
    dest[n++] = cclass::to_upper(*p);
    ++p;
  }
  dest[n] = '\0';
  return p;
}

// ---- the tag policy (tscrub02.cpp), about the tag scrub_tag is judging ----

// Its upper-case name.
[[nodiscard]] const char* tag_name();
[[nodiscard]] bool tag_is(const char* name);
// The installed Config when it has URL rules of its own (SCHEMES,
// RELATIVE), else null.
[[nodiscard]] const Config* url_rules();
// The relations the Config writes into the rel of kept links, or null.
[[nodiscard]] const char* link_rel();
// Whether the installed Config asks for safe mode.
[[nodiscard]] bool in_safe_mode();
// Whether the Config edits the tag's attributes (ACTION_EDIT, or any kept
// tag when it has rules for every tag) rather than only keeping the tag.
[[nodiscard]] bool tag_is_edited();
// What the Config says of the attribute (upper case) on this tag, when it
// has no rules for every tag; attribute_action_with_rules in any case.
[[nodiscard]] Action attribute_action(const char* attribute);
[[nodiscard]] Action attribute_action_with_rules(const char* attribute);
// Whether the Config has rules for every tag.
[[nodiscard]] bool every_tag_rules();
// Whether c ends a tag's name.
[[nodiscard]] bool ends_name(char c);
// Writes the '<' of a tag written a part at a time.
void open_tag(std::FILE* out);
void write_segment(const char* begin, const char* end, std::FILE* out);

// ---- attribute editing (attredit.cpp), for the tag policy ----

// The relations a kept start tag of a link (<a>, <area>, <form>) is to
// carry in its rel, as the Config gives them; null for any other tag or
// when the Config gives none.
[[nodiscard]] const char* link_rel_of_tag();

// Writes the start tag piece (safe mode) as '<' its name '>', leaving out
// every attribute whatever the Config says, each reported as removed when
// removals are reported; always 0.
int write_without_attributes(const char* piece, std::FILE* out, unsigned long line);

}  // namespace policy

#endif
