// Configuration store: a list of named tags, each with its action, its own
// list of attribute actions, its attribute patterns and an attribute
// default; a tag default and a comment action with counters of how often
// each was set. Lists are pushed at the front; names are compared exactly
// (case-sensitive). Both lists of names have a hash index, so that looking a
// name up (once per tag and attribute of every document) does not compare
// against every configured name.
//
// An attribute name ending in '*' is a pattern: it matches every attribute
// whose name begins with what comes before the '*'. A named attribute wins
// over a pattern, and a longer pattern over a shorter one. A tag keeps its
// patterns apart from its names, longest first, so that a tag without
// patterns pays nothing for them and the first pattern that matches is the
// one that wins.
//
// The rules for every tag ("*") are a tag entry of their own, outside the
// list and its index: a document's tag is never looked up as "*", and the
// attribute queries consult it after the tag's own names and patterns.
//
// The URL schemes of a SCHEMES statement are kept in lower case in an
// array that grows by doubling; the link relations as the one text that
// is written into a link's rel.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "config/config.h"

namespace {

constexpr std::uint32_t kLiveMarker = 0x58BA35CEu;
constexpr std::uint32_t kDeadMarker = 0x89060BD9u;
constexpr std::size_t kNameSize = kCfgNameMax + 1;

struct AttrEntry {
  AttrEntry* next;
  char name[kNameSize];
  Action action;
};

// A hash index over a list of named entries: open addressing with linear
// probing, at most half full; null slots are free. All zero is empty.
template <typename Entry>
struct NameIndex {
  Entry** slots;
  std::size_t size;  // a power of two, or 0 before the first entry
  std::size_t count;
};

}  // namespace

// A named tag: the entries callers get from cfg_action_entry.
struct CfgTag {
  CfgTag* next;
  char name[kNameSize];
  Action action;
  AttrEntry* attributes;
  NameIndex<AttrEntry> attr_index;
  Action attr_default;
  bool attr_default_set;  // by a DEFAULT in the braces
  AttrEntry* patterns;  // the part before the '*' as name, longest first
  // The first bytes of the named attributes, a bit each: most attributes
  // of a document are named by no tag, and this tells so at once.
  std::array<std::uint64_t, 4> attr_first_bytes;
};

namespace {
using TagEntry = CfgTag;
static_assert(sizeof(TagEntry::name) == 36, "names hold 35 characters and a NUL");
}  // namespace

struct Config {
  TagEntry* tags;
  std::int32_t tag_default;
  std::int32_t tag_default_count;
  std::int32_t comment_action;
  std::int32_t comment_action_count;
  std::uint32_t marker;
  NameIndex<TagEntry> tag_index;
  std::int32_t mode;
  std::int32_t mode_count;
  TagEntry* every_tag;  // the rules for every tag, or null
  char (*schemes)[kCfgNameMax + 1];
  std::size_t scheme_count;
  std::size_t scheme_capacity;
  std::int32_t schemes_count;  // SCHEMES statements
  std::int32_t relative_action;
  std::int32_t relative_count;
  char link_rel[64];  // "" when no relation was given
  std::int32_t link_rel_count;
};

namespace {

bool reported_action = false;
bool reported_attr_action = false;
bool reported_comment_action = false;
bool reported_mode = false;

bool too_long(const char* name) { return std::strlen(name) > kCfgNameMax; }

// Callers have refused longer names. The rest of the field is zeroed, as the
// entries come from malloc.
void copy_name(char (&dest)[kNameSize], const char* name) {
  const std::size_t length = std::min(std::strlen(name), kCfgNameMax);
  std::memcpy(dest, name, length);
  std::memset(dest + length, 0, kNameSize - length);
}

constexpr std::size_t kFirstIndexSize = 64;

// FNV-1a over the name's bytes.
std::size_t hash_name(const char* name) {
  std::uint64_t h = 0xcbf29ce484222325u;
  for (; *name != '\0'; ++name) {
    h = (h ^ static_cast<unsigned char>(*name)) * 0x100000001b3u;
  }
  return static_cast<std::size_t>(h);
}

template <typename Entry>
void index_insert(Entry** slots, std::size_t size, Entry* entry) {
  std::size_t slot = hash_name(entry->name) & (size - 1);
  while (slots[slot] != nullptr) {
    slot = (slot + 1) & (size - 1);
  }
  slots[slot] = entry;
}

// Adds entry, just pushed on list, to the index, doubling the index first
// when it would be more than half full. False when memory runs out (the
// index is unchanged).
template <typename Entry>
bool index_add(NameIndex<Entry>& index, Entry* list, Entry* entry) {
  if ((index.count + 1) * 2 > index.size) {
    const std::size_t size = index.size == 0 ? kFirstIndexSize : index.size * 2;
    auto** grown = static_cast<Entry**>(std::calloc(size, sizeof(Entry*)));
    if (grown == nullptr) {
      return false;
    }
    for (Entry* e = list; e != nullptr; e = e->next) {
      if (e != entry) {
        index_insert(grown, size, e);
      }
    }
    std::free(index.slots);
    index.slots = grown;
    index.size = size;
  }
  index_insert(index.slots, index.size, entry);
  ++index.count;
  return true;
}

template <typename Entry>
void index_free(NameIndex<Entry>& index) {
  std::free(index.slots);
  index = NameIndex<Entry>{};
}

// Whether two names are equal. Names are short and most that differ do so
// in their first byte: a loop here costs less than a library call.
bool same_name(const char* stored, const char* name) {
  for (; *stored == *name; ++stored, ++name) {
    if (*stored == '\0') {
      return true;
    }
  }
  return false;
}

// The entry named name, found through the index (names in a list are
// unique, so this is the entry a search of the list would find).
template <typename Entry>
inline Entry* index_find(const NameIndex<Entry>& index, const char* name) {
  if (index.size == 0 || name == nullptr) {
    return nullptr;
  }
  const std::size_t mask = index.size - 1;
  for (std::size_t slot = hash_name(name) & mask; index.slots[slot] != nullptr; slot = (slot + 1) & mask) {
    if (same_name(index.slots[slot]->name, name)) {
      return index.slots[slot];
    }
  }
  return nullptr;
}

TagEntry* seek_action(const Config* config, const char* name) { return index_find(config->tag_index, name); }

bool names_every_tag(const char* name) { return name[0] == kCfgEveryTag[0] && name[1] == '\0'; }

// The entry whose rules a setter changes: that of every tag for "*".
TagEntry* seek_rules(const Config* config, const char* name) {
  return names_every_tag(name) ? config->every_tag : seek_action(config, name);
}

void note_first_byte(TagEntry* entry, char first) {
  const auto byte = static_cast<unsigned char>(first);
  entry->attr_first_bytes[byte / 64] |= std::uint64_t{1} << (byte % 64);
}

bool may_name(const TagEntry* entry, char first) {
  const auto byte = static_cast<unsigned char>(first);
  return ((entry->attr_first_bytes[byte / 64] >> (byte % 64)) & 1u) != 0;
}

// Most names a tag is asked about it does not name, which the bit of
// their first byte tells at once. A tag names few attributes as a rule,
// and then a walk through the list costs less than hashing the name.
AttrEntry* seek_attr_action(const TagEntry* entry, const char* name) {
  constexpr std::size_t kWalkedAtMost = 8;
  if (name == nullptr || !may_name(entry, *name)) {
    return nullptr;
  }
  if (entry->attr_index.count > kWalkedAtMost) {
    return index_find(entry->attr_index, name);
  }
  for (AttrEntry* attr = entry->attributes; attr != nullptr; attr = attr->next) {
    if (same_name(attr->name, name)) {
      return attr;
    }
  }
  return nullptr;
}

// Whether name is a pattern: it ends in '*'.
bool is_pattern(const char* name) {
  const std::size_t length = std::strlen(name);
  return length > 0 && name[length - 1] == '*';
}

bool begins_with(const char* name, const char* prefix) {
  for (; *prefix != '\0'; ++prefix, ++name) {
    if (*name != *prefix) {
      return false;
    }
  }
  return true;
}

// The longest of the tag's patterns that matches name, or null. Patterns
// are few, and only tags that have them come here.
const AttrEntry* seek_pattern(const TagEntry* entry, const char* name) {
  for (const AttrEntry* pattern = entry->patterns; pattern != nullptr && name != nullptr; pattern = pattern->next) {
    if (begins_with(name, pattern->name)) {
      return pattern;
    }
  }
  return nullptr;
}

// The name of a pattern as it is kept: the part before the '*'. False when
// that is longer than a name may be.
bool pattern_prefix(const char* pattern, char (&prefix)[kNameSize]) {
  const std::size_t length = std::strlen(pattern) - 1;
  if (length > kCfgNameMax) {
    return false;
  }
  std::memcpy(prefix, pattern, length);
  prefix[length] = '\0';
  return true;
}

// Where a pattern of this prefix goes in the tag's list, longest first;
// null when the tag has it already.
AttrEntry** pattern_slot(TagEntry* entry, const char* prefix) {
  const std::size_t length = std::strlen(prefix);
  AttrEntry** link = &entry->patterns;
  for (; *link != nullptr && std::strlen((*link)->name) >= length; link = &(*link)->next) {
    if (same_name((*link)->name, prefix)) {
      return nullptr;
    }
  }
  return link;
}

// The tag's rule for the name, else the longest of its patterns that
// matches it, else null.
const AttrEntry* seek_rule(const TagEntry* entry, const char* name) {
  if (entry->attributes != nullptr) {
    const AttrEntry* attr = seek_attr_action(entry, name);
    if (attr != nullptr) {
      return attr;
    }
  }
  return entry->patterns != nullptr ? seek_pattern(entry, name) : nullptr;
}

// ---- URL schemes and link relations ----

constexpr const char* kLinkRels = "nofollow, noopener, noreferrer, sponsored, ugc";

char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool is_ascii_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// A letter, then letters, digits, '+', '-' or '.', as URLs have them.
bool is_scheme_name(const char* name) {
  if (!is_ascii_letter(name[0]) || too_long(name)) {
    return false;
  }
  for (const char* p = name + 1; *p != '\0'; ++p) {
    if (!is_ascii_letter(*p) && !(*p >= '0' && *p <= '9') && *p != '+' && *p != '-' && *p != '.') {
      return false;
    }
  }
  return true;
}

// Copies a name of at most kCfgNameMax bytes in lower case; returns dest.
const char* lower_name(char (&dest)[kNameSize], const char* name) {
  std::size_t n = 0;
  for (; name[n] != '\0' && n < kCfgNameMax; ++n) {
    dest[n] = ascii_lower(name[n]);
  }
  dest[n] = '\0';
  return dest;
}

// Whether the scheme (length bytes, any case) is in the list.
bool find_scheme(const Config* config, const char* scheme, std::size_t length) {
  if (length > kCfgNameMax) {
    return false;
  }
  for (std::size_t i = 0; i < config->scheme_count; ++i) {
    const char* name = config->schemes[i];
    std::size_t n = 0;
    while (n < length && name[n] == ascii_lower(scheme[n])) {
      ++n;
    }
    if (n == length && name[n] == '\0') {
      return true;
    }
  }
  return false;
}

// Whether the space-separated words hold word.
bool has_word(const char* words, const char* word) {
  const std::size_t length = std::strlen(word);
  for (const char* p = words; *p != '\0';) {
    const char* end = std::strchr(p, ' ');
    const std::size_t n = end != nullptr ? static_cast<std::size_t>(end - p) : std::strlen(p);
    if (n == length && std::strncmp(p, word, n) == 0) {
      return true;
    }
    p += n + (end != nullptr ? 1 : 0);
  }
  return false;
}

bool is_link_rel(const char* name) {
  for (const char* rel : {"nofollow", "noopener", "noreferrer", "sponsored", "ugc"}) {
    if (std::strcmp(name, rel) == 0) {
      return true;
    }
  }
  return false;
}

bool is_action_at_most(Action action, Action highest) {
  return static_cast<std::uint32_t>(action) <= static_cast<std::uint32_t>(highest);
}

int add_action(Config* config, const char* tag, Action action) {
  if (too_long(tag)) {
    std::fprintf(stderr, "add_action: overly long tag %s in configuration file\n", tag);
    return 1;
  }
  if (seek_action(config, tag) != nullptr) {
    std::fprintf(stderr, "add_action: multiple actions specified for tag %s\n", tag);
    return 1;
  }
  if (names_every_tag(tag) && config->every_tag != nullptr) {
    std::fprintf(stderr, "add_action: multiple actions specified for tag %s\n", tag);
    return 1;
  }
  auto* entry = static_cast<TagEntry*>(std::calloc(1, sizeof(TagEntry)));
  if (entry == nullptr) {
    std::fputs("add_action: out of memory\n", stderr);
    return 1;
  }
  copy_name(entry->name, tag);
  entry->action = action;
  entry->attr_default = ACTION_KEEP;
  if (names_every_tag(tag)) {
    config->every_tag = entry;
    return 0;
  }
  entry->next = config->tags;
  config->tags = entry;
  if (!index_add(config->tag_index, config->tags, entry)) {
    config->tags = entry->next;
    std::free(entry);
    std::fputs("add_action: out of memory\n", stderr);
    return 1;
  }
  return 0;
}

// The pattern's messages are those of a named attribute, with the pattern
// as it was given.
int add_attr_pattern(TagEntry* entry, const char* pattern, Action action) {
  char prefix[kNameSize];
  if (!pattern_prefix(pattern, prefix)) {
    std::fprintf(stderr, "add_attr_action: overly long attribute %s in configuration file\n", pattern);
    return 1;
  }
  AttrEntry** slot = pattern_slot(entry, prefix);
  if (slot == nullptr) {
    std::fprintf(stderr, "add_atr_action: action for attribute %s already defined\n", pattern);
    return 1;
  }
  auto* attr = static_cast<AttrEntry*>(std::malloc(sizeof(AttrEntry)));
  if (attr == nullptr) {
    std::fputs("add_attr_action: out of memory\n", stderr);
    return 1;
  }
  copy_name(attr->name, prefix);
  attr->action = action;
  attr->next = *slot;
  *slot = attr;
  return 0;
}

int add_attr_action(Config* config, const char* tag, const char* attribute, Action action) {
  if (too_long(tag)) {
    std::fprintf(stderr, "add_attr_action: overly long tag %s in configuration file\n", tag);
    return 1;
  }
  TagEntry* entry = seek_rules(config, tag);
  if (entry == nullptr) {
    std::fprintf(stderr, "add_attr_action: tag %s does not exist\n", tag);
    return 1;
  }
  if (is_pattern(attribute)) {
    return add_attr_pattern(entry, attribute, action);
  }
  if (too_long(attribute)) {
    std::fprintf(stderr, "add_attr_action: overly long attribute %s in configuration file\n", attribute);
    return 1;
  }
  if (seek_attr_action(entry, attribute) != nullptr) {
    std::fprintf(stderr, "add_atr_action: action for attribute %s already defined\n", attribute);
    return 1;
  }
  auto* attr = static_cast<AttrEntry*>(std::malloc(sizeof(AttrEntry)));
  if (attr == nullptr) {
    std::fputs("add_attr_action: out of memory\n", stderr);
    return 1;
  }
  copy_name(attr->name, attribute);
  attr->action = action;
  attr->next = entry->attributes;
  entry->attributes = attr;
  if (!index_add(entry->attr_index, entry->attributes, attr)) {
    entry->attributes = attr->next;
    std::free(attr);
    std::fputs("add_attr_action: out of memory\n", stderr);
    return 1;
  }
  note_first_byte(entry, attr->name[0]);
  return 0;
}

int add_attr_default(Config* config, const char* tag, Action action) {
  TagEntry* entry = seek_rules(config, tag);
  if (entry == nullptr) {
    std::fprintf(stderr, "add_attr_default: tag %s does not exist\n", tag);
    return 1;
  }
  entry->attr_default = action;
  entry->attr_default_set = true;
  return 0;
}

// The checks every tag setter makes first, in order; the message names the
// setter. 0 when config and tag are usable.
int check_config_and_tag(const Config* config, const char* tag, const char* setter) {
  if (cfg_valid(config) == 0) {
    std::fprintf(stderr, "%s: no valid configuration supplied\n", setter);
    return 1;
  }
  if (tag == nullptr) {
    std::fprintf(stderr, "%s: null ptr to tag\n", setter);
    return 1;
  }
  if (tag[0] == '\0') {
    std::fprintf(stderr, "%s: tag name is empty\n", setter);
    return 1;
  }
  return 0;
}

int check_action(Action action, Action highest, const char* tag, const char* setter) {
  if (!is_action_at_most(action, highest)) {
    std::fprintf(stderr, "%s: Invalid action type for tag %s\n", setter, tag);
    return 1;
  }
  return 0;
}

void free_list(AttrEntry** list) {
  AttrEntry* attr = *list;
  while (attr != nullptr) {
    AttrEntry* next = attr->next;
    attr->next = nullptr;
    std::free(attr);
    attr = next;
  }
  *list = nullptr;
}

void free_attributes(TagEntry* entry) {
  free_list(&entry->attributes);
  free_list(&entry->patterns);
  index_free(entry->attr_index);
}

// Counts one more setting of a value that may be set once: 1 after the
// message when it had been set before, else 0. Every call counts, up to
// the counter's largest value, where it stays rather than wrap to zero.
int count_setting(std::int32_t* count, const char* repeat_message) {
  const int result = *count != 0 ? 1 : 0;
  if (result != 0) {
    std::fputs(repeat_message, stderr);
  }
  if (*count < std::numeric_limits<std::int32_t>::max()) {
    ++*count;
  }
  return result;
}

void report_once(bool* reported, const char* message) {
  if (!*reported) {
    *reported = true;
    std::fputs(message, stderr);
  }
}

}  // namespace

Config* cfg_construct() {
  auto* config = static_cast<Config*>(std::calloc(1, sizeof(Config)));
  if (config != nullptr) {
    config->marker = kLiveMarker;
  }
  return config;
}

int cfg_valid(const Config* config) { return config != nullptr && config->marker == kLiveMarker ? 1 : 0; }

void cfg_destruct(Config** config) {
  if (config == nullptr || cfg_valid(*config) == 0) {
    return;
  }
  TagEntry* entry = (*config)->tags;
  (*config)->tags = nullptr;
  while (entry != nullptr) {
    TagEntry* next = entry->next;
    entry->next = nullptr;
    free_attributes(entry);
    std::free(entry);
    entry = next;
  }
  index_free((*config)->tag_index);
  if ((*config)->every_tag != nullptr) {
    free_attributes((*config)->every_tag);
    std::free((*config)->every_tag);
    (*config)->every_tag = nullptr;
  }
  std::free((*config)->schemes);
  (*config)->schemes = nullptr;
  (*config)->scheme_count = 0;
  (*config)->scheme_capacity = 0;
  (*config)->marker = kDeadMarker;
}

void cfg_release(Config** config) {
  if (config == nullptr || *config == nullptr) {
    return;
  }
  cfg_destruct(config);
  std::free(*config);
  *config = nullptr;
}

int cfg_set_tag_action(Config* config, const char* tag, Action action) {
  if (check_config_and_tag(config, tag, "cfg_set_tag_action") != 0 ||
      check_action(action, ACTION_EDIT, tag, "cfg_set_tag_action") != 0) {
    return 1;
  }
  if (names_every_tag(tag) && action != ACTION_EDIT) {
    std::fputs("cfg_set_tag_action: the rules for every tag are given in braces\n", stderr);
    return 1;
  }
  return add_action(config, tag, action);
}

int cfg_set_attr_action(Config* config, const char* tag, const char* attribute, Action action) {
  constexpr const char* kSetter = "cfg_set_attr_action";
  if (check_config_and_tag(config, tag, kSetter) != 0) {
    return 1;
  }
  if (attribute == nullptr) {
    std::fprintf(stderr, "%s: null ptr to attribute name for %s tag\n", kSetter, tag);
    return 1;
  }
  if (attribute[0] == '\0') {
    std::fprintf(stderr, "%s: attribute name for %s tag is empty\n", kSetter, tag);
    return 1;
  }
  if (check_action(action, ACTION_DROP, tag, kSetter) != 0) {
    return 1;
  }
  return add_attr_action(config, tag, attribute, action);
}

int cfg_set_attr_default(Config* config, const char* tag, Action action) {
  if (check_config_and_tag(config, tag, "cfg_set_attr_default") != 0 ||
      check_action(action, ACTION_DROP, tag, "cfg_set_attr_default") != 0) {
    return 1;
  }
  return add_attr_default(config, tag, action);
}

int cfg_set_tag_default(Config* config, Action action) {
  if (cfg_valid(config) == 0) {
    std::fputs("cfg_set_tag_default: no valid configuration supplied\n", stderr);
    return 1;
  }
  int result = 0;
  if (is_action_at_most(action, ACTION_DROP)) {
    config->tag_default = action;
  } else if (action == ACTION_DROP_ALL) {
    std::fputs("cfg_set_tag_default: \"drop all\"not allowed as default action\n", stderr);
    result = 1;
  } else if (action == ACTION_EDIT) {
    std::fputs("cfg_set_tag_default: \"edit\"not allowed as default action\n", stderr);
    result = 1;
  } else {
    std::fputs("cfg_set_tag_default: invalid default action\n", stderr);
    result = 1;
  }
  return count_setting(&config->tag_default_count, "cfg_set_tag_default: multiple default actions specified\n") != 0
             ? 1
             : result;
}

int cfg_set_comment_action(Config* config, Action action) {
  if (cfg_valid(config) == 0) {
    std::fputs("cfg_set_comment_action: no valid configuration supplied\n", stderr);
    return 1;
  }
  config->comment_action = action;
  return count_setting(&config->comment_action_count, "cfg_set_comment_action: multiple comment actions specified\n");
}

int cfg_set_mode(Config* config, Mode mode) {
  if (cfg_valid(config) == 0) {
    std::fputs("cfg_set_mode: no valid configuration supplied\n", stderr);
    return 1;
  }
  if (mode != MODE_CLASSIC && mode != MODE_SAFE) {
    std::fputs("cfg_set_mode: invalid mode\n", stderr);
    return 1;
  }
  config->mode = mode;
  return count_setting(&config->mode_count, "cfg_set_mode: multiple modes specified\n");
}

Mode cfg_mode(const Config* config) {
  if (cfg_valid(config) == 0) {
    report_once(&reported_mode, "cfg_mode: invalid Config\n");
    return MODE_CLASSIC;
  }
  return config->mode;
}

Action cfg_action_entry(const Config* config, const char* tag, const CfgTag** entry) {
  *entry = nullptr;
  if (cfg_valid(config) == 0) {
    report_once(&reported_action, "cfg_action: invalid Config\n");
    return ACTION_KEEP;
  }
  *entry = seek_action(config, tag);
  return *entry != nullptr ? (*entry)->action : config->tag_default;
}

Action cfg_action(const Config* config, const char* tag) {
  const CfgTag* entry = nullptr;
  return cfg_action_entry(config, tag, &entry);
}

// The attribute default counts also for a tag whose braces name no
// attribute: "<p> { DEFAULT: DROP }" drops them all.
Action cfg_entry_attr_action(const CfgTag* entry, const char* attribute) {
  if (entry == nullptr) {
    return ACTION_KEEP;
  }
  const AttrEntry* rule = seek_rule(entry, attribute);
  return rule != nullptr ? rule->action : entry->attr_default;
}

// The tag's rules come first, then those for every tag; a DEFAULT only
// after every name and pattern of both.
Action cfg_rules_attr_action(const Config* config, const CfgTag* entry, const char* attribute) {
  const TagEntry* every = cfg_valid(config) != 0 ? config->every_tag : nullptr;
  if (every == nullptr) {
    return cfg_entry_attr_action(entry, attribute);
  }
  const AttrEntry* rule = entry != nullptr ? seek_rule(entry, attribute) : nullptr;
  if (rule == nullptr) {
    rule = seek_rule(every, attribute);
  }
  if (rule != nullptr) {
    return rule->action;
  }
  if (entry != nullptr && entry->attr_default_set) {
    return entry->attr_default;
  }
  return every->attr_default;  // KEEP unless set
}

int cfg_has_every_tag_rules(const Config* config) {
  return cfg_valid(config) != 0 && config->every_tag != nullptr ? 1 : 0;
}

int cfg_set_schemes(Config* config) {
  if (cfg_valid(config) == 0) {
    std::fputs("cfg_set_schemes: no valid configuration supplied\n", stderr);
    return 1;
  }
  return count_setting(&config->schemes_count, "cfg_set_schemes: multiple scheme lists specified\n");
}

int cfg_add_scheme(Config* config, const char* scheme) {
  if (cfg_valid(config) == 0) {
    std::fputs("cfg_add_scheme: no valid configuration supplied\n", stderr);
    return 1;
  }
  if (scheme == nullptr || !is_scheme_name(scheme)) {
    std::fprintf(stderr, "cfg_add_scheme: invalid URL scheme %s\n", scheme != nullptr ? scheme : "(null)");
    return 1;
  }
  char name[kNameSize];
  lower_name(name, scheme);
  if (find_scheme(config, name, std::strlen(name))) {
    return 0;
  }
  if (config->scheme_count == config->scheme_capacity) {
    const std::size_t capacity = config->scheme_capacity == 0 ? 8 : config->scheme_capacity * 2;
    void* grown = std::realloc(config->schemes, capacity * sizeof *config->schemes);
    if (grown == nullptr) {
      std::fputs("cfg_add_scheme: out of memory\n", stderr);
      return 1;
    }
    config->schemes = static_cast<char(*)[kNameSize]>(grown);
    config->scheme_capacity = capacity;
  }
  std::memcpy(config->schemes[config->scheme_count++], name, kNameSize);
  return 0;
}

int cfg_set_relative(Config* config, Action action) {
  if (cfg_valid(config) == 0) {
    std::fputs("cfg_set_relative: no valid configuration supplied\n", stderr);
    return 1;
  }
  if (action != ACTION_KEEP && action != ACTION_DROP) {
    std::fputs("cfg_set_relative: invalid action\n", stderr);
    return 1;
  }
  config->relative_action = action;
  return count_setting(&config->relative_count, "cfg_set_relative: multiple actions specified for relative URLs\n");
}

int cfg_set_link_rel(Config* config) {
  if (cfg_valid(config) == 0) {
    std::fputs("cfg_set_link_rel: no valid configuration supplied\n", stderr);
    return 1;
  }
  return count_setting(&config->link_rel_count, "cfg_set_link_rel: multiple link relation lists specified\n");
}

int cfg_add_link_rel(Config* config, const char* relation) {
  if (cfg_valid(config) == 0) {
    std::fputs("cfg_add_link_rel: no valid configuration supplied\n", stderr);
    return 1;
  }
  char name[kNameSize];
  if (relation == nullptr || too_long(relation) || !is_link_rel(lower_name(name, relation))) {
    std::fprintf(stderr, "cfg_add_link_rel: unknown link relation %s (accepted: %s)\n",
                 relation != nullptr ? relation : "(null)", kLinkRels);
    return 1;
  }
  if (!has_word(config->link_rel, name)) {
    const std::size_t used = std::strlen(config->link_rel);
    std::snprintf(config->link_rel + used, sizeof config->link_rel - used, used == 0 ? "%s" : " %s", name);
  }
  return 0;
}

const char* cfg_link_rels_accepted() { return kLinkRels; }

int cfg_scheme_allowed(const Config* config, const char* scheme, std::size_t length) {
  if (cfg_valid(config) == 0 || config->schemes_count == 0) {
    return -1;
  }
  return find_scheme(config, scheme, length) ? 1 : 0;
}

Action cfg_relative_action(const Config* config) {
  return cfg_valid(config) != 0 ? config->relative_action : ACTION_KEEP;
}

const char* cfg_link_rel(const Config* config) {
  return cfg_valid(config) != 0 && config->link_rel[0] != '\0' ? config->link_rel : nullptr;
}

int cfg_attr_named(const Config* config, const char* tag, const char* attribute) {
  if (cfg_valid(config) == 0 || tag == nullptr || attribute == nullptr) {
    return 0;
  }
  TagEntry* entry = seek_rules(config, tag);
  if (entry == nullptr) {
    return 0;
  }
  if (!is_pattern(attribute)) {
    return seek_attr_action(entry, attribute) != nullptr ? 1 : 0;
  }
  char prefix[kNameSize];
  return pattern_prefix(attribute, prefix) && pattern_slot(entry, prefix) == nullptr ? 1 : 0;
}

Action cfg_attr_action(const Config* config, const char* tag, const char* attribute) {
  if (cfg_valid(config) == 0) {
    report_once(&reported_attr_action, "cfg_action: invalid Config\n");
    return ACTION_KEEP;
  }
  return cfg_rules_attr_action(config, seek_action(config, tag), attribute);
}

Action cfg_comment_action(const Config* config) {
  if (cfg_valid(config) == 0) {
    report_once(&reported_comment_action, "cfg_comment_action: invalid Config\n");
    return ACTION_KEEP;
  }
  return config->comment_action;
}
