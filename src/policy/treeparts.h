// The parts of the tree model (treemodel.h), for its own files only:
// treestack.cpp keeps the stack of open elements and the list of active
// formatting elements with the algorithms that work on them, treebody.cpp
// the rules of the "in body" insertion mode, treemodes.cpp the other modes
// (tables, select, template) and the table of their handlers, and
// treemodel.cpp the interface the policy calls.
#ifndef TESSEL_TREEPARTS_H
#define TESSEL_TREEPARTS_H

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tree {

// The elements whose rules the model knows, and the commonest of the
// ordinary ones (which are looked up faster this way); every other name is
// an ordinary element, told apart by its name alone.
enum El : std::uint8_t {
  kNone,  // a marker in the formatting list; the container, on the stack
  kA, kAbbr, kAddress, kApplet, kArea, kArticle, kAside, kAudio, kB, kBase, kBasefont, kBdi, kBdo, kBgsound,
  kBig, kBlockquote, kBody, kBr, kButton, kCanvas, kCaption, kCenter, kCite, kCode, kCol, kColgroup, kData,
  kDatalist, kDd, kDel, kDetails, kDfn, kDialog, kDir, kDiv, kDl, kDt, kEm, kEmbed, kFieldset, kFigcaption,
  kFigure, kFont, kFooter, kForm, kFrame, kFrameset, kH1, kH2, kH3, kH4, kH5, kH6, kHead, kHeader, kHgroup,
  kHr, kHtml, kI, kIframe, kImg, kInput, kIns, kKbd, kKeygen, kLabel, kLegend, kLi, kLink, kListing, kMain,
  kMap, kMark, kMarquee, kMath, kMenu, kMeta, kMeter, kNav, kNobr, kNoembed, kNoframes, kNoscript, kObject,
  kOl, kOptgroup, kOption, kOutput, kP, kParam, kPicture, kPlaintext, kPre, kProgress, kQ, kRb, kRp, kRt,
  kRtc, kRuby, kS, kSamp, kScript, kSearch, kSection, kSelect, kSmall, kSource, kSpan, kStrike, kStrong,
  kStyle, kSub, kSummary, kSup, kSvg, kTable, kTbody, kTd, kTemplate, kTextarea, kTfoot, kTh, kThead, kTime,
  kTitle, kTr, kTrack, kTt, kU, kUl, kVar, kVideo, kWbr, kXmp,
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

// Names on the stack and in the list: below kElCount an El, above it the
// name of an ordinary element, kept by treestack.cpp.
using Name = std::uint32_t;
using NameTest = bool (*)(Name name);

enum Mode : std::uint8_t {
  kInBody, kInTable, kInCaption, kInColumnGroup, kInTableBody, kInRow, kInCell, kInSelect,
  kInSelectInTable, kInTemplate, kModeCount,
};

// What the browser does with a tag: it changes the tree, ignores the tag,
// or would need an element below the container (the page's) for it.
enum class Verdict { kApplied, kIgnored, kBeyond };

struct TagToken {
  Name name;
  El el;
  bool bare;
};

enum class Scope { kDefault, kListItem, kButton, kTable, kSelect };

// Past these the output is cut short: a start tag that would open more
// elements, or add to a full list of formatting elements (a formatting
// element, or one that puts a marker there), is not written. No page
// needs them; they keep the model's memory and the rebuilding of
// formatting elements bounded on hostile input.
constexpr std::size_t kMaxOpen = 4096;
constexpr std::size_t kMaxFormatting = 256;

// ---- treestack.cpp ----

// The container alone on the stack, the list empty.
void reset_stack();
[[nodiscard]] El el_of(Name name);
[[nodiscard]] El known_element(std::string_view upper_name);
[[nodiscard]] bool has(Name name, std::uint16_t traits);
[[nodiscard]] bool is_special(Name name);
// The Name of an upper-case tag name, and back.
[[nodiscard]] Name name_of(std::string_view upper_name);
[[nodiscard]] std::string_view upper_name(Name name);

// The stack, stack[0] the container.
[[nodiscard]] Name current();
[[nodiscard]] bool above_floor();
[[nodiscard]] std::size_t depth();
[[nodiscard]] Name name_at(std::size_t at);
[[nodiscard]] std::size_t index_of(std::uint32_t serial);  // 0 when not open
[[nodiscard]] std::size_t templates_open();
std::uint32_t insert(Name name);  // returns the element's serial
void pop();
void remove_at(std::size_t at);
void pop_until(Name name);
void pop_until_any(NameTest test);
void generate_implied_end_tags(Name except = kNone);
void generate_all_implied_end_tags();
[[nodiscard]] bool in_scope(Name name, Scope scope = Scope::kDefault);
// The place of the innermost open element that passes test, when it is in
// scope above the container; 0 when none is.
[[nodiscard]] std::size_t find_in_scope(NameTest test, Scope scope);
[[nodiscard]] bool in_scope_at(std::size_t at);
void close_p();
void close_p_in_button_scope();
Verdict any_other_end_tag(Name name);

// The list of active formatting elements.
[[nodiscard]] std::size_t formatting_size();
// The name of its last entry, kNone for a marker or when it is empty.
[[nodiscard]] Name last_formatting();
void push_marker();
void clear_to_last_marker();
void reconstruct_formatting();
Verdict start_formatting(const TagToken& token);
Verdict adoption_agency(Name subject);

// Every change to the stack, the list or a mode counts: a tag the browser
// ignores after changing the tree is written, as it changed it.
[[nodiscard]] std::uint64_t change_count();
void note_change();

// ---- treebody.cpp ----

void reset_body();
Verdict start_in_body(const TagToken& token);
Verdict end_in_body(const TagToken& token);
Verdict close_template();
// A <form> in a table: the form pointer set, the element closed at once.
Verdict start_form_in_table();
// Whether the output set the form element pointer and left it set.
[[nodiscard]] bool form_left_open();

// ---- treemodes.cpp ----

void reset_modes();
[[nodiscard]] Mode current_mode();
void set_mode(Mode next);
[[nodiscard]] bool in_table_modes();
// The mode the open elements give, after a table, select or template closed.
void reset_mode();
void enter_template_mode();
void leave_template_mode();
Verdict process(const TagToken& token, bool end_tag);
// Text written, as the current mode takes it.
void take_text(const char* text, std::size_t length);

}  // namespace tree

#endif
