// Scrubbing policy.
//
// Regions dropped whole are kept as a stack of the upper-case names of their
// start tags: a region ends at its own end tag, so an end tag of another
// dropped element inside it (</div> inside <style>) cannot reopen the
// output. Output is suppressed while the stack is not empty.
#include "policy/tscrub02.h"

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "scanner/cclass.h"

namespace {

constexpr std::size_t kNameBuffSize = 128;
constexpr std::size_t kNameMax = kNameBuffSize - 1;

Config* config = nullptr;
std::vector<std::string> regions;  // innermost region last
std::array<char, kNameBuffSize> name_buff{};
std::array<char, kNameBuffSize> attr_name{};

bool is_space(char c) { return cclass::is_space(c); }

const char* skip_space(const char* p) {
  while (*p != '\0' && is_space(*p)) {
    ++p;
  }
  return p;
}

// Copies up to kNameMax bytes through toupper into dest until a byte for
// which stop() holds; returns the first byte not copied.
template <typename Stop>
const char* copy_upper(const char* p, std::array<char, kNameBuffSize>& dest, Stop stop) {
  std::size_t n = 0;
  while (*p != '\0' && !stop(*p) && n < kNameMax) {
    dest[n++] = cclass::to_upper(*p);
    ++p;
  }
  dest[n] = '\0';
  return p;
}

// Fills name_buff with the tag's name; true for an end tag.
bool read_tag_name(const char* piece) {
  const char* p = skip_space(piece);
  const bool end_tag = *p == '/';
  if (end_tag) {
    p = skip_space(p + 1);
  }
  copy_upper(p, name_buff, is_space);
  return end_tag;
}

bool dropping() { return !regions.empty(); }

void write_tag(const char* piece, std::FILE* out) {
  fputc_unlocked('<', out);
  fputs_unlocked(piece, out);
  fputc_unlocked('>', out);
}

void warn_tag(const char* slash, unsigned long line) {
  std::fprintf(stderr, "Warning: <%s%s> tag on line %lu\n", slash, name_buff.data(), line);
}

bool is_script() { return std::strcmp(name_buff.data(), "SCRIPT") == 0; }

int scrub_start_tag(const char* piece, std::FILE* out, unsigned long line, Action action) {
  const bool suppressed = dropping();
  bool written = false;
  int result = 0;
  switch (action) {
    case ACTION_WARN:
      warn_tag("", line);
      [[fallthrough]];
    case ACTION_KEEP:
      written = !suppressed;
      if (written) {
        write_tag(piece, out);
      }
      break;
    case ACTION_EDIT:
      written = !suppressed;
      if (written) {
        result = edit_tag(piece, out, line);
      }
      break;
    case ACTION_DROP_ALL:
      regions.emplace_back(name_buff.data());
      return 0;
    default:
      break;
  }
  // The scanner reads a script body as text whatever happens to its start
  // tag, so a script whose start tag is not written is dropped whole.
  if (!written && is_script()) {
    regions.emplace_back(name_buff.data());
  }
  return result;
}

int scrub_end_tag(const char* piece, std::FILE* out, unsigned long line, Action action) {
  if (action == ACTION_WARN) {
    warn_tag("/", line);
  }
  if (dropping() && regions.back() == name_buff.data()) {
    regions.pop_back();
    return 0;
  }
  if (!dropping() && (action == ACTION_KEEP || action == ACTION_WARN || action == ACTION_EDIT)) {
    write_tag(piece, out);
  }
  return 0;
}

bool is_valid_action(Action action) { return action >= ACTION_KEEP && action <= ACTION_EDIT; }

void write_segment(const char* begin, const char* end, std::FILE* out) {
  fwrite_unlocked(begin, 1, static_cast<std::size_t>(end - begin), out);
}

// Writes an attribute segment as the Config says for attr_name.
void edit_segment(const char* begin, const char* end, std::FILE* out, unsigned long line) {
  if (attr_name[0] == '\0') {
    write_segment(begin, end, out);
    return;
  }
  switch (cfg_attr_action(config, name_buff.data(), attr_name.data())) {
    case ACTION_KEEP:
      write_segment(begin, end, out);
      break;
    case ACTION_WARN:
      std::fprintf(stderr, "line %lu: %s tag with attribute %s\n", line, name_buff.data(), attr_name.data());
      write_segment(begin, end, out);
      break;
    case ACTION_DROP:
      break;
    default:
      std::fputs("edit_tag: Internal error: invalid attribute action\n", stderr);
      write_segment(begin, end, out);
      break;
  }
}

}  // namespace

Config* install_config(Config* cfg) {
  config = cfg;
  return cfg;
}

int scrub_tag(const char* piece, std::FILE* out, unsigned long line) {
  if (piece == nullptr || out == nullptr) {
    regions.clear();
    return 0;
  }
  const bool end_tag = read_tag_name(piece);
  const Action action = cfg_action(config, name_buff.data());
  if (!is_valid_action(action)) {
    std::fputs("scrub_tag: invalid action\n", stderr);
    return 1;
  }
  return end_tag ? scrub_end_tag(piece, out, line, action) : scrub_start_tag(piece, out, line, action);
}

int scrub_text(const char* piece, std::FILE* out, unsigned long /*line*/) {
  if (piece == nullptr || out == nullptr) {
    regions.clear();
    return 0;
  }
  if (dropping()) {
    return 0;
  }
  if (fputs_unlocked(piece, out) == EOF) {
    std::perror("Unable to write HTML");
    return 1;
  }
  return 0;
}

int scrub_comment(const char* piece, std::FILE* out, unsigned long line) {
  if (piece == nullptr || out == nullptr) {
    regions.clear();
    return 0;
  }
  switch (cfg_comment_action(config)) {
    case ACTION_WARN:
      std::fprintf(stderr, "Warning: comment on line %ld\n", static_cast<long>(line));
      [[fallthrough]];
    case ACTION_KEEP:
      if (!dropping()) {
        write_tag(piece, out);
      }
      return 0;
    case ACTION_DROP:
      return 0;
    default:
      std::fputs("scrub_comment: invalid action\n", stderr);
      return 1;
  }
}

const char* find_attribute(const char* text) {
  const char* p = skip_space(text);
  if (*p == '\0') {
    attr_name[0] = '\0';
    return p;
  }
  p = copy_upper(p, attr_name, [](char c) { return c == '=' || is_space(c); });
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

int edit_tag(const char* piece, std::FILE* out, unsigned long line) {
  std::fputc('<', out);
  const char* p = skip_space(piece);
  while (*p != '\0' && !is_space(*p)) {
    ++p;
  }
  write_segment(piece, p, out);
  while (*p != '\0') {
    const char* end = find_attribute(p);
    edit_segment(p, end, out, line);
    p = end;
  }
  std::fputc('>', out);
  return 0;
}
