// The tree model's stack of open elements and list of active formatting
// elements, and what the tree builder does to them: scopes, implied end
// tags, the rebuilding of formatting elements and the adoption agency that
// end tags of formatting elements run.
#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "policy/treeparts.h"

namespace tree {
namespace {

struct ElInfo {
  El el;
  std::string_view name;  // upper case
  std::uint16_t traits;
};

constexpr std::uint16_t kBlock = kSpecial | kClosesP;
constexpr std::uint16_t kFormat = kFormatting;

constexpr std::array<ElInfo, kElCount> kElements = {{
    {kNone, "", kSpecial},
    {kA, "A", kFormat},
    {kAbbr, "ABBR", 0},
    {kAddress, "ADDRESS", kBlock},
    {kApplet, "APPLET", kSpecial | kScope},
    {kArea, "AREA", kSpecial},
    {kArticle, "ARTICLE", kBlock},
    {kAside, "ASIDE", kBlock},
    {kAudio, "AUDIO", 0},
    {kB, "B", kFormat},
    {kBase, "BASE", kSpecial},
    {kBasefont, "BASEFONT", kSpecial},
    {kBdi, "BDI", 0},
    {kBdo, "BDO", 0},
    {kBgsound, "BGSOUND", kSpecial},
    {kBig, "BIG", kFormat},
    {kBlockquote, "BLOCKQUOTE", kBlock},
    {kBody, "BODY", kSpecial},
    {kBr, "BR", kSpecial},
    {kButton, "BUTTON", kSpecial},
    {kCanvas, "CANVAS", 0},
    {kCaption, "CAPTION", kSpecial | kScope | kThoroughEnd},
    {kCenter, "CENTER", kBlock},
    {kCite, "CITE", 0},
    {kCode, "CODE", kFormat},
    {kCol, "COL", kSpecial},
    {kColgroup, "COLGROUP", kSpecial | kThoroughEnd},
    {kData, "DATA", 0},
    {kDatalist, "DATALIST", 0},
    {kDd, "DD", kSpecial | kImpliedEnd},
    {kDel, "DEL", 0},
    {kDetails, "DETAILS", kBlock},
    {kDfn, "DFN", 0},
    {kDialog, "DIALOG", kClosesP},
    {kDir, "DIR", kBlock},
    {kDiv, "DIV", kBlock},
    {kDl, "DL", kBlock},
    {kDt, "DT", kSpecial | kImpliedEnd},
    {kEm, "EM", kFormat},
    {kEmbed, "EMBED", kSpecial},
    {kFieldset, "FIELDSET", kBlock},
    {kFigcaption, "FIGCAPTION", kBlock},
    {kFigure, "FIGURE", kBlock},
    {kFont, "FONT", kFormat},
    {kFooter, "FOOTER", kBlock},
    {kForm, "FORM", kSpecial},
    {kFrame, "FRAME", kSpecial},
    {kFrameset, "FRAMESET", kSpecial},
    {kH1, "H1", kBlock | kHeading},
    {kH2, "H2", kBlock | kHeading},
    {kH3, "H3", kBlock | kHeading},
    {kH4, "H4", kBlock | kHeading},
    {kH5, "H5", kBlock | kHeading},
    {kH6, "H6", kBlock | kHeading},
    {kHead, "HEAD", kSpecial},
    {kHeader, "HEADER", kBlock},
    {kHgroup, "HGROUP", kBlock},
    {kHr, "HR", kSpecial},
    {kHtml, "HTML", kSpecial | kScope},
    {kI, "I", kFormat},
    {kIframe, "IFRAME", kSpecial},
    {kImg, "IMG", kSpecial},
    {kInput, "INPUT", kSpecial},
    {kIns, "INS", 0},
    {kKbd, "KBD", 0},
    {kKeygen, "KEYGEN", kSpecial},
    {kLabel, "LABEL", 0},
    {kLegend, "LEGEND", 0},
    {kLi, "LI", kSpecial | kImpliedEnd},
    {kLink, "LINK", kSpecial},
    {kListing, "LISTING", kBlock},
    {kMain, "MAIN", kBlock},
    {kMap, "MAP", 0},
    {kMark, "MARK", 0},
    {kMarquee, "MARQUEE", kSpecial | kScope},
    {kMath, "MATH", 0},
    {kMenu, "MENU", kBlock},
    {kMeta, "META", kSpecial},
    {kMeter, "METER", 0},
    {kNav, "NAV", kBlock},
    {kNobr, "NOBR", kFormat},
    {kNoembed, "NOEMBED", kSpecial},
    {kNoframes, "NOFRAMES", kSpecial},
    {kNoscript, "NOSCRIPT", kSpecial},
    {kObject, "OBJECT", kSpecial | kScope},
    {kOl, "OL", kBlock},
    {kOptgroup, "OPTGROUP", kImpliedEnd},
    {kOption, "OPTION", kImpliedEnd},
    {kOutput, "OUTPUT", 0},
    {kP, "P", kBlock | kImpliedEnd},
    {kParam, "PARAM", kSpecial},
    {kPicture, "PICTURE", 0},
    {kPlaintext, "PLAINTEXT", kBlock},
    {kPre, "PRE", kBlock},
    {kProgress, "PROGRESS", 0},
    {kQ, "Q", 0},
    {kRb, "RB", kImpliedEnd},
    {kRp, "RP", kImpliedEnd},
    {kRt, "RT", kImpliedEnd},
    {kRtc, "RTC", kImpliedEnd},
    {kRuby, "RUBY", 0},
    {kS, "S", kFormat},
    {kSamp, "SAMP", 0},
    {kScript, "SCRIPT", kSpecial},
    {kSearch, "SEARCH", kBlock},
    {kSection, "SECTION", kBlock},
    {kSelect, "SELECT", kSpecial},
    {kSmall, "SMALL", kFormat},
    {kSource, "SOURCE", kSpecial},
    {kSpan, "SPAN", 0},
    {kStrike, "STRIKE", kFormat},
    {kStrong, "STRONG", kFormat},
    {kStyle, "STYLE", kSpecial},
    {kSub, "SUB", 0},
    {kSummary, "SUMMARY", kBlock},
    {kSup, "SUP", 0},
    {kSvg, "SVG", 0},
    {kTable, "TABLE", kSpecial | kScope | kTableFamily},
    {kTbody, "TBODY", kSpecial | kThoroughEnd | kTableFamily},
    {kTd, "TD", kSpecial | kScope | kThoroughEnd},
    {kTemplate, "TEMPLATE", kSpecial | kScope},
    {kTextarea, "TEXTAREA", kSpecial},
    {kTfoot, "TFOOT", kSpecial | kThoroughEnd | kTableFamily},
    {kTh, "TH", kSpecial | kScope | kThoroughEnd},
    {kThead, "THEAD", kSpecial | kThoroughEnd | kTableFamily},
    {kTime, "TIME", 0},
    {kTitle, "TITLE", kSpecial},
    {kTr, "TR", kSpecial | kThoroughEnd | kTableFamily},
    {kTrack, "TRACK", kSpecial},
    {kTt, "TT", kFormat},
    {kU, "U", kFormat},
    {kUl, "UL", kBlock},
    {kVar, "VAR", 0},
    {kVideo, "VIDEO", 0},
    {kWbr, "WBR", kSpecial},
    {kXmp, "XMP", kSpecial},
}};

constexpr bool elements_in_order() {
  for (std::size_t i = 0; i < kElements.size(); ++i) {
    if (kElements[i].el != i || (i > 1 && !(kElements[i - 1].name < kElements[i].name))) {
      return false;
    }
  }
  return true;
}
static_assert(elements_in_order(), "kElements holds each element at its own place, sorted by name");

// Looks at the length and the first and last bytes only: cheap, and enough
// to spread the known names; names that meet are told apart by comparing.
constexpr std::uint32_t name_hash(std::string_view name) {
  if (name.empty()) {
    return 0;
  }
  const auto first = static_cast<unsigned char>(name.front());
  const auto last = static_cast<unsigned char>(name.back());
  return (static_cast<std::uint32_t>(name.size()) * 0x9E3779B1U) ^ (first * 0x85EBCA77U) ^ (last * 0xC2B2AE3DU);
}

// The known elements by the hash of their names, kNone in empty slots; at
// most a quarter full, so that a lookup mostly ends at its first slot.
constexpr std::array<El, 1024> kSlots = [] {
  std::array<El, 1024> slots{};
  for (std::size_t i = 1; i < kElements.size(); ++i) {
    std::size_t slot = name_hash(kElements[i].name) & (slots.size() - 1);
    while (slots[slot] != kNone) {
      slot = (slot + 1) & (slots.size() - 1);
    }
    slots[slot] = kElements[i].el;
  }
  return slots;
}();
static_assert(4 * kElCount <= kSlots.size());

constexpr std::size_t kLongestKnownName = [] {
  std::size_t longest = 0;
  for (const ElInfo& info : kElements) {
    longest = std::max(longest, info.name.size());
  }
  return longest;
}();

struct Node {
  Name name;
  std::uint32_t serial;  // tells apart two elements of one name
};

struct Entry {  // of the list of active formatting elements
  Name name;    // kNone: a marker
  std::uint32_t serial;
  bool bare;    // no attributes: three bare entries of a name are the most kept
  bool open;    // its element is on the stack
};

std::vector<Node> stack;  // stack[0] is the container
std::vector<Entry> formatting;
std::uint32_t next_serial = 1;
// How many elements of each known kind are open: most scope walks end
// before they begin, with none of the element looked for open.
std::array<std::uint32_t, kElCount> open_known{};
std::uint64_t changes = 0;  // counts every change, to tell a tag that changed the tree
// The names of ordinary elements, each once: those that are open or in the
// list, and some that were.
std::vector<std::string> names_seen;
// Looked up by string_view, without a string made for each tag.
struct NameHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view name) const { return std::hash<std::string_view>{}(name); }
};
std::unordered_map<std::string, Name, NameHash, std::equal_to<>> name_ids;

// Forgets the names of ordinary elements that are neither open nor in the
// list, once there are many: their number stays that of the open ones.
void compact_names() {
  std::vector<std::string> kept;
  std::unordered_map<std::string, Name, NameHash, std::equal_to<>> ids;
  auto renumber = [&](Name& name) {
    if (name < kElCount) {
      return;
    }
    std::string& text = names_seen[name - kElCount];
    const auto [entry, added] = ids.try_emplace(text, static_cast<Name>(kElCount + kept.size()));
    if (added) {
      kept.push_back(text);
    }
    name = entry->second;
  };
  for (Node& node : stack) {
    renumber(node.name);
  }
  for (Entry& entry : formatting) {
    renumber(entry.name);
  }
  names_seen = std::move(kept);
  name_ids = std::move(ids);
}

Entry* entry_of(std::uint32_t serial) {
  for (auto entry = formatting.rbegin(); entry != formatting.rend(); ++entry) {
    if (entry->name != kNone && entry->serial == serial) {
      return &*entry;
    }
  }
  return nullptr;
}

void note_removed(const Node& node) {
  ++changes;
  --open_known[el_of(node.name)];
  if (has(node.name, kFormatting)) {
    if (Entry* entry = entry_of(node.serial)) {
      entry->open = false;
    }
  }
}

bool bounds(Name name, Scope scope) {
  const El el = el_of(name);
  switch (scope) {
    case Scope::kDefault: return has(name, kScope);
    case Scope::kListItem: return has(name, kScope) || el == kOl || el == kUl;
    case Scope::kButton: return has(name, kScope) || el == kButton;
    case Scope::kTable: return el == kHtml || el == kTable || el == kTemplate;
    case Scope::kSelect: return el != kOptgroup && el != kOption;
  }
  return true;
}

// A formatting element just inserted joins the list; of bare ones with its
// name after the last marker, three at most stay.
void push_formatting(Name name, std::uint32_t serial, bool bare) {
  if (bare) {
    std::size_t same = 0;
    std::size_t earliest = formatting.size();
    for (std::size_t i = formatting.size(); i-- > 0 && formatting[i].name != kNone;) {
      if (formatting[i].name == name && formatting[i].bare) {
        ++same;
        earliest = i;
      }
    }
    if (same >= 3) {
      formatting.erase(formatting.begin() + static_cast<std::ptrdiff_t>(earliest));
    }
  }
  formatting.push_back(Entry{name, serial, bare, true});
}

// The innermost entry after the last marker with this name, or -1.
std::ptrdiff_t formatting_entry_named(Name name) {
  for (std::size_t i = formatting.size(); i-- > 0 && formatting[i].name != kNone;) {
    if (formatting[i].name == name) {
      return static_cast<std::ptrdiff_t>(i);
    }
  }
  return -1;
}

std::size_t entry_index(std::uint32_t serial) { return static_cast<std::size_t>(entry_of(serial) - formatting.data()); }

}  // namespace

// Names are short: a loop beats a call of memcmp.
bool same_name(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i]) {
      return false;
    }
  }
  return true;
}

// A name's El, from an open-addressing table built at compile time; kNone
// for names the model does not know. Every tag written is looked up here.
El known_element(std::string_view name) {
  if (name.size() > kLongestKnownName) {
    return kNone;
  }
  for (std::size_t slot = name_hash(name) & (kSlots.size() - 1);; slot = (slot + 1) & (kSlots.size() - 1)) {
    const El el = kSlots[slot];
    if (el == kNone || same_name(kElements[el].name, name)) {
      return el;
    }
  }
}

El el_of(Name name) { return name < kElCount ? static_cast<El>(name) : kNone; }
bool has(Name name, std::uint16_t traits) { return (kElements[el_of(name)].traits & traits) != 0; }
bool is_special(Name name) { return name < kElCount && has(name, kSpecial); }

Name name_of(std::string_view upper_name) {
  const El el = known_element(upper_name);
  if (el != kNone) {
    return el;
  }
  if (const auto found = name_ids.find(upper_name); found != name_ids.end()) {
    return found->second;
  }
  if (names_seen.size() >= 2 * (kMaxOpen + kMaxFormatting)) {
    compact_names();
  }
  const auto id = static_cast<Name>(kElCount + names_seen.size());
  names_seen.emplace_back(upper_name);
  name_ids.emplace(names_seen.back(), id);
  return id;
}

std::string_view upper_name(Name name) {
  return name < kElCount ? kElements[name].name : std::string_view(names_seen[name - kElCount]);
}

void reset_stack() {
  stack.assign(1, Node{kNone, 0});
  formatting.clear();
  next_serial = 1;
  open_known.fill(0);
  names_seen.clear();
  name_ids.clear();
}

Name current() { return stack.back().name; }
bool above_floor() { return stack.size() > 1; }
std::size_t depth() { return stack.size(); }
Name name_at(std::size_t at) { return stack[at].name; }
std::size_t templates_open() { return open_known[kTemplate]; }
std::size_t formatting_size() { return formatting.size(); }
Name last_formatting() { return formatting.empty() ? Name{kNone} : formatting.back().name; }
std::uint64_t change_count() { return changes; }
void note_change() { ++changes; }

// ---- the stack and the list ----

std::size_t index_of(std::uint32_t serial) {
  for (std::size_t i = stack.size(); i-- > 1;) {
    if (stack[i].serial == serial) {
      return i;
    }
  }
  return 0;
}

void pop() {
  if (above_floor()) {
    note_removed(stack.back());
    stack.pop_back();
  }
}

void remove_at(std::size_t index) {
  note_removed(stack[index]);
  stack.erase(stack.begin() + static_cast<std::ptrdiff_t>(index));
}

std::uint32_t insert(Name name) {
  ++changes;
  const std::uint32_t serial = next_serial++;
  stack.push_back(Node{name, serial});
  ++open_known[el_of(name)];
  return serial;
}

void pop_until(Name name) {
  while (above_floor() && current() != name) {
    pop();
  }
  pop();
}

void pop_until_any(NameTest stop) {
  while (above_floor() && !stop(current())) {
    pop();
  }
  pop();
}

void generate_implied_end_tags(Name except) {
  while (above_floor() && current() != except && has(current(), kImpliedEnd)) {
    pop();
  }
}

void generate_all_implied_end_tags() {
  while (above_floor() && has(current(), kImpliedEnd | kThoroughEnd)) {
    pop();
  }
}

std::size_t find_in_scope(NameTest match, Scope scope) {
  for (std::size_t i = stack.size(); i-- > 1;) {
    if (match(stack[i].name)) {
      return i;
    }
    if (bounds(stack[i].name, scope)) {
      return 0;
    }
  }
  return 0;
}

bool in_scope(Name name, Scope scope) {
  if (name < kElCount && open_known[name] == 0) {
    return false;
  }
  for (std::size_t i = stack.size(); i-- > 1;) {
    if (stack[i].name == name) {
      return true;
    }
    if (bounds(stack[i].name, scope)) {
      return false;
    }
  }
  return false;
}

void push_marker() {
  ++changes;
  formatting.push_back(Entry{kNone, 0, true, false});
}

void clear_to_last_marker() {
  while (!formatting.empty()) {
    ++changes;
    const bool marker = formatting.back().name == kNone;
    formatting.pop_back();
    if (marker) {
      return;
    }
  }
}

// Opens again, in order, the formatting elements of the list after its last
// marker that have been closed since.
void reconstruct_formatting() {
  if (formatting.empty() || formatting.back().name == kNone || formatting.back().open) {
    return;
  }
  std::size_t first = formatting.size() - 1;
  while (first > 0 && formatting[first - 1].name != kNone && !formatting[first - 1].open) {
    --first;
  }
  for (std::size_t i = first; i < formatting.size(); ++i) {
    formatting[i].serial = insert(formatting[i].name);
    formatting[i].open = true;
  }
}

void close_p() {
  generate_implied_end_tags(kP);
  pop_until(kP);
}

void close_p_in_button_scope() {
  if (in_scope(kP, Scope::kButton)) {
    close_p();
  }
}

Verdict any_other_end_tag(Name name) {
  for (std::size_t i = stack.size(); i-- > 1;) {
    if (stack[i].name == name) {
      generate_implied_end_tags(name);
      while (stack.size() > i) {
        pop();
      }
      return Verdict::kApplied;
    }
    if (is_special(stack[i].name)) {
      return Verdict::kIgnored;
    }
  }
  return Verdict::kBeyond;
}

// ---- the adoption agency, which end tags of formatting elements run ----

// Whether the element at this place is in scope: no element above it
// bounds the scope.
bool in_scope_at(std::size_t at) {
  for (std::size_t i = stack.size(); --i > at;) {
    if (bounds(stack[i].name, Scope::kDefault)) {
      return false;
    }
  }
  return true;
}

namespace {

// Moves the elements between the formatting element and its furthest block
// as browsers do: the stack and list change, the document's nodes the model
// does not keep. Both lie above the container, so all they move stays in it.
void adopt(std::size_t element_at, std::size_t block_at) {
  const std::uint32_t element_serial = stack[element_at].serial;
  const std::uint32_t block_serial = stack[block_at].serial;
  std::size_t bookmark = entry_index(element_serial);
  bool last_is_block = true;
  std::size_t node_at = block_at;
  for (int inner = 1;; ++inner) {
    --node_at;
    if (stack[node_at].serial == element_serial) {
      break;
    }
    Entry* entry = entry_of(stack[node_at].serial);
    if (inner > 3 && entry != nullptr) {
      const std::size_t at = entry_index(entry->serial);
      formatting.erase(formatting.begin() + static_cast<std::ptrdiff_t>(at));
      bookmark -= at < bookmark ? 1 : 0;
      entry = nullptr;
    }
    if (entry == nullptr) {
      remove_at(node_at);
      continue;
    }
    const std::uint32_t serial = next_serial++;
    stack[node_at].serial = serial;
    entry->serial = serial;
    if (last_is_block) {
      bookmark = entry_index(serial) + 1;
      last_is_block = false;
    }
  }
  const std::size_t old_entry = entry_index(element_serial);
  const Entry moved{formatting[old_entry].name, next_serial++, formatting[old_entry].bare, true};
  formatting.erase(formatting.begin() + static_cast<std::ptrdiff_t>(old_entry));
  bookmark -= old_entry < bookmark ? 1 : 0;
  formatting.insert(formatting.begin() + static_cast<std::ptrdiff_t>(bookmark), moved);
  stack.erase(stack.begin() + static_cast<std::ptrdiff_t>(index_of(element_serial)));
  stack.insert(stack.begin() + static_cast<std::ptrdiff_t>(index_of(block_serial)) + 1, Node{moved.name, moved.serial});
  ++changes;
}

}  // namespace

Verdict adoption_agency(Name subject) {
  // The common case first: the element is the current node and the last
  // entry of the list, as in <a>x</a>. The algorithm would pop it and take
  // its entry out, having found no furthest block above it.
  if (above_floor() && current() == subject && !formatting.empty() &&
      formatting.back().serial == stack.back().serial && formatting.back().name == subject) {
    formatting.pop_back();
    pop();
    return Verdict::kApplied;
  }
  if (current() == subject && above_floor() && entry_of(stack.back().serial) == nullptr) {
    pop();
    return Verdict::kApplied;
  }
  for (int outer = 0; outer < 8; ++outer) {
    const std::ptrdiff_t found = formatting_entry_named(subject);
    if (found < 0) {
      return outer == 0 ? any_other_end_tag(subject) : Verdict::kApplied;
    }
    Entry& entry = formatting[static_cast<std::size_t>(found)];
    if (!entry.open) {
      formatting.erase(formatting.begin() + found);
      ++changes;
      return Verdict::kApplied;
    }
    const std::uint32_t serial = entry.serial;
    const std::size_t element_at = index_of(serial);
    if (element_at == 0) {  // not on the stack after all: only the list holds it
      formatting.erase(formatting.begin() + found);
      ++changes;
      return Verdict::kApplied;
    }
    if (!in_scope_at(element_at)) {
      return outer == 0 ? Verdict::kIgnored : Verdict::kApplied;
    }
    std::size_t block_at = 0;
    for (std::size_t i = element_at + 1; i < stack.size(); ++i) {
      if (is_special(stack[i].name)) {
        block_at = i;
        break;
      }
    }
    if (block_at == 0) {
      while (stack.size() > element_at) {
        pop();
      }
      formatting.erase(formatting.begin() + static_cast<std::ptrdiff_t>(entry_index(serial)));
      return Verdict::kApplied;
    }
    adopt(element_at, block_at);
  }
  return Verdict::kApplied;
}

Verdict start_formatting(const TagToken& token) {
  if (token.el == kA) {
    const std::ptrdiff_t open_a = formatting_entry_named(kA);
    if (open_a >= 0) {
      const std::uint32_t serial = formatting[static_cast<std::size_t>(open_a)].serial;
      (void)adoption_agency(kA);
      if (Entry* entry = entry_of(serial)) {
        formatting.erase(formatting.begin() + static_cast<std::ptrdiff_t>(entry_index(entry->serial)));
      }
      if (const std::size_t at = index_of(serial); at != 0) {
        remove_at(at);
      }
    }
  }
  reconstruct_formatting();
  if (token.el == kNobr && in_scope(kNobr)) {
    (void)adoption_agency(kNobr);
    reconstruct_formatting();
  }
  push_formatting(token.name, insert(token.name), token.bare);
  return Verdict::kApplied;
}

}  // namespace tree
