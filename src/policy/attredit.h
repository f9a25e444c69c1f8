// Inside the scrubbing policy: the contract between the tag policy
// (tscrub02.cpp), which judges each tag as a whole, and the attribute
// editing (attredit.cpp) that writes a kept start tag attribute by
// attribute. Both split tags by the byte classes here; the tag policy hands
// the editing the tag it has judged (JudgedTag), and the editing asks it
// nothing back. Not for use outside src/policy.
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

// Whether c ends a tag's name: white space, and in safe mode '/' too (the
// safe mode set is that of the attribute separators).
inline bool ends_name(char c, bool safe) { return safe ? has_class(c, kSeparator) : is_space(c); }

// A start tag as the tag policy (tscrub02.cpp) has judged it, handed to the
// attribute editing with everything the editing needs to know of it.
struct JudgedTag {
  const char* name;         // upper case
  bool safe;                // the installed Config asks for safe mode
  // The Config edits the tag's attributes (ACTION_EDIT, or any kept tag
  // when it has rules for every tag) rather than only keeping the tag.
  bool edited;
  bool every_tag_rules;     // the Config has rules for every tag
  const char* link_rel;     // the relations written into the rel of kept links, or null
  const Config* url_rules;  // the Config when it has URL rules (SCHEMES, RELATIVE), else null
  const Config* config;     // for what it says of each attribute
  const CfgTag* entry;      // the tag's entry, when the Config names it

  [[nodiscard]] bool is(const char* upper) const;
};

// ---- attribute editing (attredit.cpp), for the tag policy ----

// The relations a kept start tag named upper_name is to carry in its rel,
// given the Config's link_rel: those for a link (<a>, <area>, <form>), null
// for any other tag or when the Config gives none.
[[nodiscard]] const char* link_rel_for(const char* upper_name, const char* link_rel);

// Writes the start tag piece as '<' piece '>' with each attribute kept,
// reported or removed as the Config says for the tag (in safe mode also
// removing unsafe URLs); always 0.
int edit_attributes(const char* piece, const JudgedTag& tag, std::FILE* out, unsigned long line);

// Writes the start tag piece (safe mode) as '<' its name '>', leaving out
// every attribute whatever the Config says, each reported as removed when
// removals are reported; always 0.
int write_without_attributes(const char* piece, const JudgedTag& tag, std::FILE* out, unsigned long line);

// The end of the first attribute segment of text (its leading white space,
// name and value); a value-less attribute's segment ends after its name.
// Records the upper-cased name, empty when the segment has none.
const char* find_attribute(const char* text);

}  // namespace policy

#endif
