// The tree model of safe mode's output (see treemodel.h).
//
// It follows the HTML tree builder's insertion modes for what can stand in
// a <div> of a page's body: "in body", the table modes, "in select" and "in
// template", each a row of handlers for start tags, end tags and text. The
// container is the floor of the stack: scopes end there, an end tag whose
// element is not found above it is not written, and nothing is popped past
// it. Foreign content never reaches the model (safe mode writes no SVG or
// MathML) and raw-text elements are opened and closed at once, since the
// scanner reads their content and end tag as text.
//
// The model assumes what a page in standards mode gives a container in its
// body: no <p>, <a>, <button>, <form> or formatting element around it, and
// no formatting elements of the page's own left for the browser to rebuild.
#include "policy/treemodel.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "policy/attredit.h"
#include "scanner/scrub.h"

namespace {

// The elements whose rules the model knows; every other name is an
// ordinary element, told apart by its name alone.
enum El : std::uint8_t {
  kNone,  // a marker in the formatting list; the container, on the stack
  kA, kAddress, kApplet, kArea, kArticle, kAside, kB, kBase, kBasefont, kBgsound, kBig, kBlockquote,
  kBody, kBr, kButton, kCaption, kCenter, kCode, kCol, kColgroup, kDd, kDetails, kDialog, kDir, kDiv,
  kDl, kDt, kEm, kEmbed, kFieldset, kFigcaption, kFigure, kFont, kFooter, kForm, kFrame, kFrameset,
  kH1, kH2, kH3, kH4, kH5, kH6, kHead, kHeader, kHgroup, kHr, kHtml, kI, kIframe, kImg, kInput,
  kKeygen, kLi, kLink, kListing, kMain, kMarquee, kMath, kMenu, kMeta, kNav, kNobr, kNoembed,
  kNoframes, kNoscript, kObject, kOl, kOptgroup, kOption, kP, kParam, kPlaintext, kPre, kRb, kRp,
  kRt, kRtc, kRuby, kS, kScript, kSearch, kSection, kSelect, kSmall, kSource, kStrike, kStrong,
  kStyle, kSummary, kSvg, kTable, kTbody, kTd, kTemplate, kTextarea, kTfoot, kTh, kThead, kTitle,
  kTr, kTrack, kTt, kU, kUl, kWbr, kXmp,
  kElCount,
};

// What the tree builder's rules say of an element.
enum Trait : std::uint16_t {
  kSpecial = 1,        // stops the walks of end tags, <li>, <dd> and <dt>
  kFormatting = 2,     // kept in the list of active formatting elements
  kImpliedEnd = 4,     // closed by "generate implied end tags"
  kThoroughEnd = 8,    // closed too when that is done thoroughly
  kScope = 16,         // bounds every scope
  kClosesP = 32,       // its start tag closes an open <p> in button scope
  kHeading = 64,
  kTableFamily = 128,  // table, tbody, tfoot, thead, tr: text in them is foster-parented
};

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
    {kAddress, "ADDRESS", kBlock},
    {kApplet, "APPLET", kSpecial | kScope},
    {kArea, "AREA", kSpecial},
    {kArticle, "ARTICLE", kBlock},
    {kAside, "ASIDE", kBlock},
    {kB, "B", kFormat},
    {kBase, "BASE", kSpecial},
    {kBasefont, "BASEFONT", kSpecial},
    {kBgsound, "BGSOUND", kSpecial},
    {kBig, "BIG", kFormat},
    {kBlockquote, "BLOCKQUOTE", kBlock},
    {kBody, "BODY", kSpecial},
    {kBr, "BR", kSpecial},
    {kButton, "BUTTON", kSpecial},
    {kCaption, "CAPTION", kSpecial | kScope | kThoroughEnd},
    {kCenter, "CENTER", kBlock},
    {kCode, "CODE", kFormat},
    {kCol, "COL", kSpecial},
    {kColgroup, "COLGROUP", kSpecial | kThoroughEnd},
    {kDd, "DD", kSpecial | kImpliedEnd},
    {kDetails, "DETAILS", kBlock},
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
    {kKeygen, "KEYGEN", kSpecial},
    {kLi, "LI", kSpecial | kImpliedEnd},
    {kLink, "LINK", kSpecial},
    {kListing, "LISTING", kBlock},
    {kMain, "MAIN", kBlock},
    {kMarquee, "MARQUEE", kSpecial | kScope},
    {kMath, "MATH", 0},
    {kMenu, "MENU", kBlock},
    {kMeta, "META", kSpecial},
    {kNav, "NAV", kBlock},
    {kNobr, "NOBR", kFormat},
    {kNoembed, "NOEMBED", kSpecial},
    {kNoframes, "NOFRAMES", kSpecial},
    {kNoscript, "NOSCRIPT", kSpecial},
    {kObject, "OBJECT", kSpecial | kScope},
    {kOl, "OL", kBlock},
    {kOptgroup, "OPTGROUP", kImpliedEnd},
    {kOption, "OPTION", kImpliedEnd},
    {kP, "P", kBlock | kImpliedEnd},
    {kParam, "PARAM", kSpecial},
    {kPlaintext, "PLAINTEXT", kBlock},
    {kPre, "PRE", kBlock},
    {kRb, "RB", kImpliedEnd},
    {kRp, "RP", kImpliedEnd},
    {kRt, "RT", kImpliedEnd},
    {kRtc, "RTC", kImpliedEnd},
    {kRuby, "RUBY", 0},
    {kS, "S", kFormat},
    {kScript, "SCRIPT", kSpecial},
    {kSearch, "SEARCH", kBlock},
    {kSection, "SECTION", kBlock},
    {kSelect, "SELECT", kSpecial},
    {kSmall, "SMALL", kFormat},
    {kSource, "SOURCE", kSpecial},
    {kStrike, "STRIKE", kFormat},
    {kStrong, "STRONG", kFormat},
    {kStyle, "STYLE", kSpecial},
    {kSummary, "SUMMARY", kBlock},
    {kSvg, "SVG", 0},
    {kTable, "TABLE", kSpecial | kScope | kTableFamily},
    {kTbody, "TBODY", kSpecial | kThoroughEnd | kTableFamily},
    {kTd, "TD", kSpecial | kScope | kThoroughEnd},
    {kTemplate, "TEMPLATE", kSpecial | kScope},
    {kTextarea, "TEXTAREA", kSpecial},
    {kTfoot, "TFOOT", kSpecial | kThoroughEnd | kTableFamily},
    {kTh, "TH", kSpecial | kScope | kThoroughEnd},
    {kThead, "THEAD", kSpecial | kThoroughEnd | kTableFamily},
    {kTitle, "TITLE", kSpecial},
    {kTr, "TR", kSpecial | kThoroughEnd | kTableFamily},
    {kTrack, "TRACK", kSpecial},
    {kTt, "TT", kFormat},
    {kU, "U", kFormat},
    {kUl, "UL", kBlock},
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

// A name's El, by binary search of the sorted table; kNone for names the
// model does not know.
El known_element(std::string_view name) {
  const auto* begin = kElements.begin() + 1;
  const auto* found = std::lower_bound(begin, kElements.end(), name,
                                       [](const ElInfo& info, std::string_view n) { return info.name < n; });
  return found != kElements.end() && found->name == name ? found->el : kNone;
}

// Names on the stack and in the list: below kElCount an El, above it an
// ordinary element's name in names_seen.
using Name = std::uint32_t;

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

enum Mode : std::uint8_t {
  kInBody, kInTable, kInCaption, kInColumnGroup, kInTableBody, kInRow, kInCell, kInSelect,
  kInSelectInTable, kInTemplate, kModeCount,
};

enum class Verdict { kApplied, kIgnored, kBeyond };

struct TagToken {
  Name name;
  El el;
  bool bare;
};

// Past these the output is cut short: a start tag that would open more is
// not written. No page needs them; they keep the model's memory and the
// rebuilding of formatting elements bounded on hostile input.
constexpr std::size_t kMaxOpen = 4096;
constexpr std::size_t kMaxFormatting = 256;

std::vector<Node> stack;  // stack[0] is the container
std::vector<Entry> formatting;
std::vector<Mode> template_modes;
Mode mode = kInBody;
std::uint32_t next_serial = 1;
std::size_t open_templates = 0;
bool form_open = false;  // the output set the form element pointer
std::uint32_t form_serial = 0;
std::uint64_t changes = 0;  // counts every change, to tell a tag that changed the tree

// The names of ordinary elements, each once: those that are open or in the
// list, and some that were.
std::vector<std::string> names_seen;
std::unordered_map<std::string, Name> name_ids;

El el_of(Name name) { return name < kElCount ? static_cast<El>(name) : kNone; }
bool has(Name name, std::uint16_t traits) { return (kElements[el_of(name)].traits & traits) != 0; }
bool is_special(Name name) { return name < kElCount && has(name, kSpecial); }

Name current() { return stack.back().name; }
bool above_floor() { return stack.size() > 1; }

// Forgets the names of ordinary elements that are neither open nor in the
// list, once there are many: their number stays that of the open ones.
void compact_names() {
  std::vector<std::string> kept;
  std::unordered_map<std::string, Name> ids;
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

Name name_of(const char* upper_name) {
  const std::string_view text(upper_name);
  const El el = known_element(text);
  if (el != kNone) {
    return el;
  }
  if (names_seen.size() >= 2 * (kMaxOpen + kMaxFormatting)) {
    compact_names();
  }
  const auto [entry, added] = name_ids.try_emplace(std::string(text), static_cast<Name>(kElCount + names_seen.size()));
  if (added) {
    names_seen.emplace_back(text);
  }
  return entry->second;
}

// ---- the stack and the list ----

Entry* entry_of(std::uint32_t serial) {
  for (auto entry = formatting.rbegin(); entry != formatting.rend(); ++entry) {
    if (entry->name != kNone && entry->serial == serial) {
      return &*entry;
    }
  }
  return nullptr;
}

std::size_t index_of(std::uint32_t serial) {
  for (std::size_t i = stack.size(); i-- > 1;) {
    if (stack[i].serial == serial) {
      return i;
    }
  }
  return 0;
}

void note_removed(const Node& node) {
  ++changes;
  if (el_of(node.name) == kTemplate) {
    --open_templates;
  }
  if (has(node.name, kFormatting)) {
    if (Entry* entry = entry_of(node.serial)) {
      entry->open = false;
    }
  }
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
  if (el_of(name) == kTemplate) {
    ++open_templates;
  }
  return serial;
}

void pop_until(Name name) {
  while (above_floor() && current() != name) {
    pop();
  }
  pop();
}

template <typename Stop>
void pop_until_any(Stop stop) {
  while (above_floor() && !stop(current())) {
    pop();
  }
  pop();
}

void generate_implied_end_tags(Name except = kNone) {
  while (above_floor() && current() != except && has(current(), kImpliedEnd)) {
    pop();
  }
}

void generate_all_implied_end_tags() {
  while (above_floor() && has(current(), kImpliedEnd | kThoroughEnd)) {
    pop();
  }
}

enum class Scope { kDefault, kListItem, kButton, kTable, kSelect };

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

// The place on the stack of the innermost open element that matches, when
// it is in scope above the container; 0 when none is.
template <typename Match>
std::size_t find_in_scope(Match match, Scope scope) {
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

bool in_scope(Name name, Scope scope = Scope::kDefault) {
  return find_in_scope([name](Name n) { return n == name; }, scope) != 0;
}

bool is_table_section(Name name) {
  const El el = el_of(name);
  return el == kTbody || el == kThead || el == kTfoot;
}

bool is_cell(Name name) { return el_of(name) == kTd || el_of(name) == kTh; }

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

Verdict adoption_agency(Name subject) {
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

// ---- the insertion modes ----

Verdict process(const TagToken& token, bool end_tag);
Verdict start_in_body(const TagToken& token);
Verdict end_in_body(const TagToken& token);

bool in_table_modes() {
  return mode == kInTable || mode == kInCaption || mode == kInTableBody || mode == kInRow || mode == kInCell;
}

// The mode the elements open give, after a table, select or template closed.
void reset_mode() {
  ++changes;
  for (std::size_t i = stack.size(); i-- > 1;) {
    switch (el_of(stack[i].name)) {
      case kSelect: {
        mode = kInSelect;
        for (std::size_t j = i; j-- > 1;) {
          if (el_of(stack[j].name) == kTemplate) {
            break;
          }
          if (el_of(stack[j].name) == kTable) {
            mode = kInSelectInTable;
            break;
          }
        }
        return;
      }
      case kTd: case kTh: mode = kInCell; return;
      case kTr: mode = kInRow; return;
      case kTbody: case kThead: case kTfoot: mode = kInTableBody; return;
      case kCaption: mode = kInCaption; return;
      case kColgroup: mode = kInColumnGroup; return;
      case kTable: mode = kInTable; return;
      case kTemplate: mode = template_modes.empty() ? kInBody : template_modes.back(); return;
      default: break;
    }
  }
  mode = kInBody;  // the container's
}

Verdict open_template() {
  insert(kTemplate);
  push_marker();
  mode = kInTemplate;
  template_modes.push_back(kInTemplate);
  return Verdict::kApplied;
}

Verdict close_template() {
  if (open_templates == 0) {
    return Verdict::kBeyond;
  }
  generate_all_implied_end_tags();
  pop_until(kTemplate);
  clear_to_last_marker();
  if (!template_modes.empty()) {
    template_modes.pop_back();
  }
  reset_mode();
  return Verdict::kApplied;
}

// <li>, <dd> and <dt> close the item they are in, looking down the stack
// past elements that are not special (and <address>, <div>, <p>). The
// container is a <div>: a walk that reaches it would go on into the page.
Verdict start_list_item(const TagToken& token) {
  const auto closes = [&token](Name name) {
    return token.el == kLi ? name == kLi : (name == kDd || name == kDt);
  };
  for (std::size_t i = stack.size();; --i) {
    if (i == 1) {
      return Verdict::kBeyond;
    }
    const Name name = stack[i - 1].name;
    if (closes(name)) {
      generate_implied_end_tags(name);
      pop_until(name);
      break;
    }
    const El el = el_of(name);
    if (is_special(name) && el != kAddress && el != kDiv && el != kP) {
      break;
    }
  }
  close_p_in_button_scope();
  insert(token.name);
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

Verdict start_in_body(const TagToken& token) {
  switch (token.el) {
    // Written without attributes, if at all: nothing changes in the tree.
    case kHtml: case kBody: case kHead:
    // Void, or raw text: opened and closed at once.
    case kBase: case kBasefont: case kBgsound: case kLink: case kMeta: case kParam: case kSource:
    case kTrack: case kScript: case kStyle: case kTitle: case kNoframes: case kTextarea: case kIframe:
    case kNoembed: case kNoscript:
      return Verdict::kApplied;
    case kTemplate:
      return open_template();
    case kH1: case kH2: case kH3: case kH4: case kH5: case kH6:
      close_p_in_button_scope();
      if (has(current(), kHeading)) {
        pop();
      }
      insert(token.name);
      return Verdict::kApplied;
    case kForm:
      if (form_open && open_templates == 0) {
        return Verdict::kIgnored;
      }
      close_p_in_button_scope();
      if (open_templates == 0) {
        form_open = true;
        form_serial = insert(kForm);
      } else {
        insert(kForm);
      }
      return Verdict::kApplied;
    case kLi: case kDd: case kDt:
      return start_list_item(token);
    case kButton:
      if (in_scope(kButton)) {
        generate_implied_end_tags();
        pop_until(kButton);
      }
      reconstruct_formatting();
      insert(token.name);
      return Verdict::kApplied;
    case kApplet: case kMarquee: case kObject:
      reconstruct_formatting();
      insert(token.name);
      push_marker();
      return Verdict::kApplied;
    case kTable:
      close_p_in_button_scope();  // a page in standards mode
      insert(token.name);
      mode = kInTable;
      return Verdict::kApplied;
    case kArea: case kBr: case kEmbed: case kImg: case kKeygen: case kWbr: case kInput:
      reconstruct_formatting();
      ++changes;
      return Verdict::kApplied;
    case kHr:
      close_p_in_button_scope();
      ++changes;
      return Verdict::kApplied;
    case kXmp:
      close_p_in_button_scope();
      reconstruct_formatting();
      ++changes;
      return Verdict::kApplied;
    case kSelect:
      reconstruct_formatting();
      insert(token.name);
      mode = in_table_modes() ? kInSelectInTable : kInSelect;
      return Verdict::kApplied;
    case kOptgroup: case kOption:
      if (current() == kOption) {
        pop();
      }
      reconstruct_formatting();
      insert(token.name);
      return Verdict::kApplied;
    case kRb: case kRtc: case kRp: case kRt:
      if (in_scope(kRuby)) {
        generate_implied_end_tags(token.el == kRp || token.el == kRt ? Name{kRtc} : Name{kNone});
      }
      insert(token.name);
      return Verdict::kApplied;
    case kCaption: case kCol: case kColgroup: case kFrame: case kFrameset: case kTbody: case kTd:
    case kTfoot: case kTh: case kThead: case kTr: case kMath: case kSvg: case kPlaintext:
      return Verdict::kIgnored;
    default:
      break;
  }
  if (has(token.name, kClosesP)) {  // the blocks, <pre> and <listing>
    close_p_in_button_scope();
    insert(token.name);
    return Verdict::kApplied;
  }
  if (has(token.name, kFormatting)) {
    return start_formatting(token);
  }
  reconstruct_formatting();
  insert(token.name);
  return Verdict::kApplied;
}

Verdict end_form() {
  if (open_templates != 0) {
    if (!in_scope(kForm)) {
      return Verdict::kBeyond;
    }
    generate_implied_end_tags();
    pop_until(kForm);
    return Verdict::kApplied;
  }
  if (!form_open) {
    return Verdict::kBeyond;
  }
  const std::size_t at = index_of(form_serial);
  if (at != 0 && !in_scope_at(at)) {
    return Verdict::kBeyond;  // it would stay open with nothing left to close it
  }
  form_open = false;
  ++changes;
  if (at != 0) {
    generate_implied_end_tags();
    remove_at(index_of(form_serial));
  }
  return Verdict::kApplied;
}

Verdict end_in_body(const TagToken& token) {
  switch (token.el) {
    case kTemplate: return close_template();
    case kBody: case kHtml: return Verdict::kBeyond;
    case kForm: return end_form();
    case kP:
      if (in_scope(kP, Scope::kButton)) {
        close_p();
      }
      return Verdict::kApplied;  // else an empty <p>
    case kLi: case kDd: case kDt:
      if (!in_scope(token.name, token.el == kLi ? Scope::kListItem : Scope::kDefault)) {
        return Verdict::kBeyond;
      }
      generate_implied_end_tags(token.name);
      pop_until(token.name);
      return Verdict::kApplied;
    case kH1: case kH2: case kH3: case kH4: case kH5: case kH6: {
      const auto heading = [](Name name) { return has(name, kHeading); };
      if (find_in_scope(heading, Scope::kDefault) == 0) {
        return Verdict::kBeyond;
      }
      generate_implied_end_tags();
      pop_until_any(heading);
      return Verdict::kApplied;
    }
    case kApplet: case kMarquee: case kObject:
      if (!in_scope(token.name)) {
        return Verdict::kBeyond;
      }
      generate_implied_end_tags();
      pop_until(token.name);
      clear_to_last_marker();
      return Verdict::kApplied;
    case kBr:  // read as <br>
      reconstruct_formatting();
      ++changes;
      return Verdict::kApplied;
    case kButton:
      break;
    default:
      if (has(token.name, kFormatting)) {
        return adoption_agency(token.name);
      }
      if (!has(token.name, kClosesP) || token.el == kDialog) {
        return any_other_end_tag(token.name);
      }
      break;
  }
  // The blocks, <button>, <pre> and <listing>.
  if (!in_scope(token.name)) {
    return Verdict::kBeyond;
  }
  generate_implied_end_tags();
  pop_until(token.name);
  return Verdict::kApplied;
}

void clear_to_context(std::initializer_list<El> context) {
  while (above_floor() && std::find(context.begin(), context.end(), el_of(current())) == context.end()) {
    pop();
  }
}

void clear_to_table_context() { clear_to_context({kTable, kTemplate}); }
void clear_to_table_body_context() { clear_to_context({kTbody, kTfoot, kThead, kTemplate}); }
void clear_to_row_context() { clear_to_context({kTr, kTemplate}); }

Verdict reprocess_as(Mode next, const TagToken& token, bool end_tag) {
  mode = next;
  ++changes;
  return process(token, end_tag);
}

Verdict start_in_table(const TagToken& token) {
  switch (token.el) {
    case kCaption:
      clear_to_table_context();
      push_marker();
      insert(token.name);
      mode = kInCaption;
      return Verdict::kApplied;
    case kColgroup:
      clear_to_table_context();
      insert(token.name);
      mode = kInColumnGroup;
      return Verdict::kApplied;
    case kCol:
      clear_to_table_context();
      insert(kColgroup);
      return reprocess_as(kInColumnGroup, token, false);
    case kTbody: case kTfoot: case kThead:
      clear_to_table_context();
      insert(token.name);
      mode = kInTableBody;
      return Verdict::kApplied;
    case kTd: case kTh: case kTr:
      clear_to_table_context();
      insert(kTbody);
      return reprocess_as(kInTableBody, token, false);
    case kTable:
      if (!in_scope(kTable, Scope::kTable)) {
        return Verdict::kIgnored;
      }
      pop_until(kTable);
      reset_mode();
      return process(token, false);
    case kStyle: case kScript: case kTemplate:
      return start_in_body(token);
    case kInput:  // a hidden one stays in the table, others go before it: the model cannot tell
      return Verdict::kIgnored;
    case kForm:
      if (open_templates != 0 || form_open) {
        return Verdict::kIgnored;
      }
      form_open = true;
      form_serial = insert(kForm);
      pop();
      return Verdict::kApplied;
    default:
      return start_in_body(token);  // placed before the table, which changes no stack
  }
}

Verdict end_in_table(const TagToken& token) {
  switch (token.el) {
    case kTable:
      if (!in_scope(kTable, Scope::kTable)) {
        return Verdict::kBeyond;
      }
      pop_until(kTable);
      reset_mode();
      return Verdict::kApplied;
    case kBody: case kCaption: case kCol: case kColgroup: case kHtml: case kTbody: case kTd: case kTfoot:
    case kTh: case kThead: case kTr:
      return Verdict::kIgnored;
    case kTemplate:
      return close_template();
    default:
      return end_in_body(token);
  }
}

bool is_table_part(El el) {
  switch (el) {
    case kCaption: case kCol: case kColgroup: case kTbody: case kTd: case kTfoot: case kTh: case kThead:
    case kTr:
      return true;
    default:
      return false;
  }
}

void close_caption() {
  generate_implied_end_tags();
  pop_until(kCaption);
  clear_to_last_marker();
  mode = kInTable;
}

Verdict start_in_caption(const TagToken& token) {
  if (!is_table_part(token.el)) {
    return start_in_body(token);
  }
  if (!in_scope(kCaption, Scope::kTable)) {
    return Verdict::kIgnored;
  }
  close_caption();
  return process(token, false);
}

Verdict end_in_caption(const TagToken& token) {
  switch (token.el) {
    case kCaption: case kTable:
      if (!in_scope(kCaption, Scope::kTable)) {
        return Verdict::kBeyond;
      }
      close_caption();
      return token.el == kTable ? process(token, true) : Verdict::kApplied;
    case kBody: case kCol: case kColgroup: case kHtml: case kTbody: case kTd: case kTfoot: case kTh:
    case kThead: case kTr:
      return Verdict::kIgnored;
    default:
      return end_in_body(token);
  }
}

// Anything but a column or a template ends a column group, if there is one
// to end: inside a <template> there may be none.
Verdict leave_column_group(const TagToken& token, bool end_tag) {
  if (current() != kColgroup) {
    return Verdict::kIgnored;
  }
  pop();
  return reprocess_as(kInTable, token, end_tag);
}

Verdict start_in_column_group(const TagToken& token) {
  switch (token.el) {
    case kHtml: case kTemplate: return start_in_body(token);
    case kCol: ++changes; return Verdict::kApplied;
    default: return leave_column_group(token, false);
  }
}

Verdict end_in_column_group(const TagToken& token) {
  switch (token.el) {
    case kColgroup:
      if (current() != kColgroup) {
        return Verdict::kIgnored;
      }
      pop();
      mode = kInTable;
      return Verdict::kApplied;
    case kCol: return Verdict::kIgnored;
    case kTemplate: return close_template();
    default: return leave_column_group(token, true);
  }
}

Verdict start_in_table_body(const TagToken& token) {
  switch (token.el) {
    case kTr:
      clear_to_table_body_context();
      insert(token.name);
      mode = kInRow;
      return Verdict::kApplied;
    case kTh: case kTd:
      clear_to_table_body_context();
      insert(kTr);
      return reprocess_as(kInRow, token, false);
    case kCaption: case kCol: case kColgroup: case kTbody: case kTfoot: case kThead:
      if (find_in_scope(is_table_section, Scope::kTable) == 0) {
        return Verdict::kIgnored;
      }
      clear_to_table_body_context();
      pop();
      return reprocess_as(kInTable, token, false);
    default:
      return start_in_table(token);
  }
}

Verdict end_in_table_body(const TagToken& token) {
  switch (token.el) {
    case kTbody: case kTfoot: case kThead:
      if (!in_scope(token.name, Scope::kTable)) {
        return Verdict::kBeyond;
      }
      clear_to_table_body_context();
      pop();
      mode = kInTable;
      return Verdict::kApplied;
    case kTable:
      if (find_in_scope(is_table_section, Scope::kTable) == 0) {
        return Verdict::kBeyond;
      }
      clear_to_table_body_context();
      pop();
      return reprocess_as(kInTable, token, true);
    case kBody: case kCaption: case kCol: case kColgroup: case kHtml: case kTd: case kTh: case kTr:
      return Verdict::kIgnored;
    default:
      return end_in_table(token);
  }
}

void close_row() {
  clear_to_row_context();
  pop();
  mode = kInTableBody;
}

Verdict start_in_row(const TagToken& token) {
  switch (token.el) {
    case kTh: case kTd:
      clear_to_row_context();
      insert(token.name);
      mode = kInCell;
      push_marker();
      return Verdict::kApplied;
    case kCaption: case kCol: case kColgroup: case kTbody: case kTfoot: case kThead: case kTr:
      if (!in_scope(kTr, Scope::kTable)) {
        return Verdict::kIgnored;
      }
      close_row();
      return process(token, false);
    default:
      return start_in_table(token);
  }
}

Verdict end_in_row(const TagToken& token) {
  switch (token.el) {
    case kTr: case kTable:
      if (!in_scope(kTr, Scope::kTable)) {
        return Verdict::kBeyond;
      }
      close_row();
      return token.el == kTable ? process(token, true) : Verdict::kApplied;
    case kTbody: case kTfoot: case kThead:
      if (!in_scope(token.name, Scope::kTable) || !in_scope(kTr, Scope::kTable)) {
        return Verdict::kBeyond;
      }
      close_row();
      return process(token, true);
    case kBody: case kCaption: case kCol: case kColgroup: case kHtml: case kTd: case kTh:
      return Verdict::kIgnored;
    default:
      return end_in_table(token);
  }
}

void close_cell() {
  generate_implied_end_tags();
  pop_until_any(is_cell);
  clear_to_last_marker();
  mode = kInRow;
}

Verdict start_in_cell(const TagToken& token) {
  if (!is_table_part(token.el)) {
    return start_in_body(token);
  }
  if (find_in_scope(is_cell, Scope::kTable) == 0) {
    return Verdict::kIgnored;
  }
  close_cell();
  return process(token, false);
}

Verdict end_in_cell(const TagToken& token) {
  switch (token.el) {
    case kTd: case kTh:
      if (!in_scope(token.name, Scope::kTable)) {
        return Verdict::kBeyond;
      }
      generate_implied_end_tags();
      pop_until(token.name);
      clear_to_last_marker();
      mode = kInRow;
      return Verdict::kApplied;
    case kBody: case kCaption: case kCol: case kColgroup: case kHtml:
      return Verdict::kIgnored;
    case kTable: case kTbody: case kTfoot: case kThead: case kTr:
      if (!in_scope(token.name, Scope::kTable)) {
        return Verdict::kBeyond;
      }
      close_cell();
      return process(token, true);
    default:
      return end_in_body(token);
  }
}

void pop_option_and_optgroup() {
  if (current() == kOption) {
    pop();
  }
  if (current() == kOptgroup) {
    pop();
  }
}

Verdict close_select() {
  if (!in_scope(kSelect, Scope::kSelect)) {
    return Verdict::kIgnored;
  }
  pop_until(kSelect);
  reset_mode();
  return Verdict::kApplied;
}

Verdict start_in_select(const TagToken& token) {
  switch (token.el) {
    case kHtml:
      return Verdict::kApplied;
    case kOption:
      if (current() == kOption) {
        pop();
      }
      insert(token.name);
      return Verdict::kApplied;
    case kOptgroup:
      pop_option_and_optgroup();
      insert(token.name);
      return Verdict::kApplied;
    case kHr:
      pop_option_and_optgroup();
      ++changes;
      return Verdict::kApplied;
    case kSelect:
      return close_select();  // a <select> in a <select> ends it
    case kInput: case kKeygen: case kTextarea:
      return close_select() == Verdict::kApplied ? process(token, false) : Verdict::kIgnored;
    case kScript: case kTemplate:
      return start_in_body(token);
    default:
      return Verdict::kIgnored;
  }
}

Verdict end_in_select(const TagToken& token) {
  switch (token.el) {
    case kOptgroup:
      if (current() == kOption && stack.size() > 2 && stack[stack.size() - 2].name == kOptgroup) {
        pop();
      }
      if (current() != kOptgroup) {
        return Verdict::kIgnored;
      }
      pop();
      return Verdict::kApplied;
    case kOption:
      if (current() != kOption) {
        return Verdict::kIgnored;
      }
      pop();
      return Verdict::kApplied;
    case kSelect:
      return close_select() == Verdict::kApplied ? Verdict::kApplied : Verdict::kBeyond;
    case kTemplate:
      return close_template();
    default:
      return Verdict::kIgnored;
  }
}

bool ends_select_in_table(El el) { return el == kTable || (is_table_part(el) && el != kCol && el != kColgroup); }

Verdict start_in_select_in_table(const TagToken& token) {
  if (!ends_select_in_table(token.el)) {
    return start_in_select(token);
  }
  pop_until(kSelect);
  reset_mode();
  return process(token, false);
}

Verdict end_in_select_in_table(const TagToken& token) {
  if (!ends_select_in_table(token.el)) {
    return end_in_select(token);
  }
  if (!in_scope(token.name, Scope::kTable)) {
    return Verdict::kIgnored;
  }
  pop_until(kSelect);
  reset_mode();
  return process(token, true);
}

// Inside a <template> the first element of the content decides how the rest
// is read: as a table's parts, or as a body.
Verdict start_in_template(const TagToken& token) {
  Mode next = kInBody;
  switch (token.el) {
    case kBase: case kBasefont: case kBgsound: case kLink: case kMeta: case kNoframes: case kScript:
    case kStyle: case kTemplate: case kTitle:
      return start_in_body(token);
    case kCaption: case kColgroup: case kTbody: case kTfoot: case kThead: next = kInTable; break;
    case kCol: next = kInColumnGroup; break;
    case kTr: next = kInTableBody; break;
    case kTd: case kTh: next = kInRow; break;
    default: break;
  }
  if (!template_modes.empty()) {
    template_modes.back() = next;
  }
  return reprocess_as(next, token, false);
}

Verdict end_in_template(const TagToken& token) {
  return token.el == kTemplate ? close_template() : Verdict::kIgnored;
}

using Handler = Verdict (*)(const TagToken& token);

struct ModeHandlers {
  Mode mode;
  Handler start;
  Handler end;
};

constexpr std::array<ModeHandlers, kModeCount> kModes = {{
    {kInBody, start_in_body, end_in_body},
    {kInTable, start_in_table, end_in_table},
    {kInCaption, start_in_caption, end_in_caption},
    {kInColumnGroup, start_in_column_group, end_in_column_group},
    {kInTableBody, start_in_table_body, end_in_table_body},
    {kInRow, start_in_row, end_in_row},
    {kInCell, start_in_cell, end_in_cell},
    {kInSelect, start_in_select, end_in_select},
    {kInSelectInTable, start_in_select_in_table, end_in_select_in_table},
    {kInTemplate, start_in_template, end_in_template},
}};

constexpr bool modes_in_order() {
  for (std::size_t i = 0; i < kModes.size(); ++i) {
    if (kModes[i].mode != i) {
      return false;
    }
  }
  return true;
}
static_assert(modes_in_order(), "kModes holds each mode's handlers at its own place");

Verdict process(const TagToken& token, bool end_tag) {
  const ModeHandlers& handlers = kModes[mode];
  return end_tag ? handlers.end(token) : handlers.start(token);
}

bool is_html_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r'; }

// Text goes before a table, where the browser rebuilds formatting elements
// as in a body; white space alone stays in the table.
void text_in_table(const char* text, std::size_t length) {
  if (!has(current(), kTableFamily) && el_of(current()) != kTemplate) {
    reconstruct_formatting();
    return;
  }
  if (!std::all_of(text, text + length, is_html_space)) {
    reconstruct_formatting();
  }
}

int write_end_tag(Name name, std::FILE* out) {
  const std::string_view upper = name < kElCount ? kElements[name].name : names_seen[name - kElCount];
  std::string text = "</";
  for (const char c : upper) {
    text.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c);
  }
  text.push_back('>');
  return put_bytes(text.data(), text.size(), out);
}

std::size_t open_count() { return stack.size() + formatting.size() + (form_open ? 1 : 0); }

// The name of the end tag that closes the next thing the output left open,
// kNone when nothing is.
Name next_to_close() {
  if (above_floor()) {
    return current();
  }
  if (!formatting.empty() && formatting.back().name != kNone) {
    return formatting.back().name;  // closed, but rebuilt at the next text
  }
  return form_open ? Name{kForm} : Name{kNone};
}

// Void elements, and raw-text ones: the model opens and closes them at once.
bool opens_nothing(El el) {
  switch (el) {
    case kArea: case kBr: case kEmbed: case kImg: case kKeygen: case kWbr: case kInput: case kHr: case kParam:
    case kSource: case kTrack: case kBase: case kBasefont: case kBgsound: case kLink: case kMeta: case kScript:
    case kStyle: case kTitle: case kNoframes: case kTextarea: case kIframe: case kNoembed: case kNoscript:
    case kXmp:
      return true;
    default:
      return false;
  }
}

Verdict judge(const char* name, bool bare, bool end_tag) {
  // A name cut short by the policy's buffer is not the browser's name: it
  // could match another element's.
  if (std::strlen(name) >= policy::kNameMax) {
    return Verdict::kIgnored;
  }
  const Name id = name_of(name);
  return process(TagToken{id, el_of(id), bare}, end_tag);
}

}  // namespace

void tree_reset() {
  stack.assign(1, Node{kNone, 0});
  formatting.clear();
  template_modes.clear();
  mode = kInBody;
  next_serial = 1;
  open_templates = 0;
  form_open = false;
  form_serial = 0;
  names_seen.clear();
  name_ids.clear();
}

bool tree_start_tag(const char* name, bool bare) {
  if (stack.empty()) {
    tree_reset();
  }
  if ((stack.size() > kMaxOpen || formatting.size() > kMaxFormatting) && !opens_nothing(known_element(name))) {
    return false;
  }
  const std::uint64_t before = changes;
  return judge(name, bare, false) == Verdict::kApplied || changes != before;
}

bool tree_end_tag(const char* name) {
  if (stack.empty()) {
    tree_reset();
  }
  const std::uint64_t before = changes;
  return judge(name, true, true) == Verdict::kApplied || changes != before;
}

void tree_text(const char* text, std::size_t length) {
  if (stack.empty()) {
    tree_reset();
  }
  switch (mode) {
    case kInTable: case kInTableBody: case kInRow:
      text_in_table(text, length);
      return;
    case kInColumnGroup:
      if (!std::all_of(text, text + length, is_html_space) && current() == kColgroup) {
        pop();
        mode = kInTable;
        text_in_table(text, length);
      }
      return;
    case kInSelect: case kInSelectInTable:
      return;
    default:
      reconstruct_formatting();
      return;
  }
}

int tree_close_all(std::FILE* out) {
  if (stack.empty()) {
    return 0;
  }
  for (Name name = next_to_close(); name != kNone; name = next_to_close()) {
    const std::size_t before = open_count();
    if (write_end_tag(name, out) == EOF) {
      return EOF;
    }
    (void)process(TagToken{name, el_of(name), true}, true);
    if (open_count() >= before) {
      break;  // each of these end tags closes something; a fault of the model must not loop
    }
  }
  return 0;
}
