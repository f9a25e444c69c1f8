// Safe-mode tree context: what the tree builder tells the tokenizer.
//
// The safe-mode machine (safescan.cpp) splits a document as a browser's
// tokenizer does, but which text state follows a start tag, and whether
// "<![CDATA[" begins a CDATA section, depend on where the tag stands in
// the document tree. This file keeps the part of that tree the tokenizer
// depends on: the namespace frames of SVG and MathML and their
// integration points, and the name of the last tag handed over
// (note_tag_frames), and tells the machine which text state follows it.
#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "scanner/safescan.h"
#include "scanner/safetree.h"

namespace safescan {
namespace {

// The lower-case name of the last tag handed over (kNameMax + 1 once too
// long to matter) and whether it was an end tag, as note_tag found them.
char tag_name[kNameMax + 1] = {};
std::size_t tag_name_len = 0;
bool end_tag = false;
bool opened_frame = false;  // the start tag last noted opened a namespace frame
bool closed_at_once = false;  // it was a self-closing foreign element

// ---- foreign content ----
//
// Browsers read <style>, <title> and the like as ordinary elements inside
// SVG and MathML, and accept CDATA sections there: the tree builder tells
// the tokenizer. This follows the same feedback as the reference tokenizer
// the tests compare against. Namespaces come in frames, each opened by a
// tag and closed by its end tag: <svg> and <math> open foreign frames,
// integration points (<foreignObject>, <desc>, <title>, <mi> ...,
// <annotation-xml encoding=text/html>) open HTML frames inside them, and
// HTML elements such as <p> or <b> close every foreign frame at once.

// The names of the tags that open frames. A name not among them (there is
// none) would stand for a frame that no end tag closes: read by its rules
// longer, and dropped longer by the policy.
constexpr std::array<std::string_view, 15> kFrameTags = {
    "",   "svg", "math", "mglyph", "malignmark", "foreignobject", "desc",           "title",
    "mi", "mo",  "mn",   "ms",     "mtext",      "annotation-xml", "\x01no such tag",
};

// The tag's place in kFrameTags; the last place when it is not there.
std::uint8_t frame_tag_id(std::string_view tag) {
  const auto* found = std::find(kFrameTags.begin(), kFrameTags.end() - 1, tag);
  return static_cast<std::uint8_t>(found - kFrameTags.begin());
}

struct Frame {
  char space;          // 'H' HTML, 'S' SVG, 'M' MathML
  std::uint8_t tag_id;  // in kFrameTags

  // Lower case; its end tag closes the frame.
  [[nodiscard]] std::string_view tag() const { return kFrameTags[tag_id]; }
};

bool operator==(const Frame& a, const Frame& b) { return a.space == b.space && a.tag_id == b.tag_id; }

// The open frames, innermost last, kept as runs of equal frames: <svg>
// nested a million deep in <svg> takes one run, not a million frames.
class FrameStack {
 public:
  void clear() {
    runs_.clear();
    depth_ = 0;
  }
  void push(char space, std::string_view tag) {
    const Frame frame{space, frame_tag_id(tag)};
    if (runs_.empty() || !(runs_.back().frame == frame) || runs_.back().count == UINT32_MAX) {
      runs_.push_back(Run{frame, 0});
    }
    ++runs_.back().count;
    ++depth_;
  }
  void pop() {
    if (--runs_.back().count == 0) {
      runs_.pop_back();
    }
    --depth_;
  }
  [[nodiscard]] std::size_t size() const { return depth_; }
  [[nodiscard]] const Frame& back() const { return runs_.back().frame; }
  // The frame that many levels below the innermost (0 for the innermost);
  // callers look a few levels down at most.
  [[nodiscard]] const Frame& below_top(std::size_t levels) const {
    auto run = runs_.rbegin();
    while (levels >= run->count) {
      levels -= run->count;
      ++run;
    }
    return run->frame;
  }

 private:
  struct Run {
    Frame frame;
    std::uint32_t count;
  };
  static_assert(sizeof(Run) == 8);
  std::vector<Run> runs_;
  std::size_t depth_ = 0;
};

FrameStack frames;
// Above 0 while the current element is the one that opened the last frame;
// each further count is a frame below whose element is the parent of the
// next frame's.
int direct_frames = 0;

}  // namespace

bool in_foreign() { return frames.back().space != 'H'; }

namespace {

void enter(char space, std::string_view tag) {
  frames.push(space, tag);
  ++direct_frames;
}

void leave() {
  frames.pop();
  if (direct_frames > 0) {
    --direct_frames;
  }
}

// Whether the tag's attributes (the text after its name) hold one named
// name; its value, lower-cased, goes to *value.
bool attribute_value(const char* attrs, std::string_view name, std::string* value) {
  const char* p = attrs;
  for (;;) {
    while (is_ws(*p) || *p == '/') {
      ++p;
    }
    if (*p == '\0') {
      return false;
    }
    const char* name_begin = p++;
    while (*p != '\0' && !is_ws(*p) && *p != '/' && *p != '=') {
      ++p;
    }
    std::string found;
    for (const char* q = name_begin; q < p; ++q) {
      found.push_back(lower(*q));
    }
    while (is_ws(*p)) {
      ++p;
    }
    std::string text;
    if (*p == '=') {
      ++p;
      while (is_ws(*p)) {
        ++p;
      }
      const char quote = *p == '"' || *p == '\'' ? *p : '\0';
      p += quote != '\0' ? 1 : 0;
      while (*p != '\0' && (quote != '\0' ? *p != quote : !is_ws(*p))) {
        text.push_back(lower(*p++));
      }
      p += quote != '\0' && *p == quote ? 1 : 0;
    }
    if (found == name) {
      *value = text;
      return true;
    }
  }
}

bool has_attribute(const char* attrs, std::string_view name) {
  std::string ignored;
  return attribute_value(attrs, name, &ignored);
}

bool is_text_integration_point(std::string_view name) {
  return name == "mi" || name == "mo" || name == "mn" || name == "ms" || name == "mtext";
}

bool is_integration_point(std::string_view name, char space, const char* attrs) {
  if (space == 'S') {
    return name == "foreignobject" || name == "desc" || name == "title";
  }
  if (space != 'M') {
    return false;
  }
  std::string encoding;
  return is_text_integration_point(name) ||
         (name == "annotation-xml" && attribute_value(attrs, "encoding", &encoding) &&
          (encoding == "text/html" || encoding == "application/xhtml+xml"));
}

// HTML elements that end foreign content when they start inside it.
bool leaves_foreign_content(std::string_view name, const char* attrs) {
  static constexpr std::array<std::string_view, 44> kBreakouts = {
      "b",  "big",  "blockquote", "body", "br",  "center", "code",   "dd",     "div", "dl",  "dt",
      "em", "embed", "h1",        "h2",   "h3",  "h4",     "h5",     "h6",     "head", "hr", "i",
      "img", "li",  "listing",    "menu", "meta", "nobr",  "ol",     "p",      "pre", "ruby", "s",
      "small", "span", "strong",  "strike", "sub", "sup",  "table",  "tt",     "u",   "ul",  "var",
  };
  if (name == "font") {
    return has_attribute(attrs, "color") || has_attribute(attrs, "face") || has_attribute(attrs, "size");
  }
  return std::find(kBreakouts.begin(), kBreakouts.end(), name) != kBreakouts.end();
}

// A start tag opens and closes frames; returns whether the tag itself is an
// HTML element (only those switch to raw text).
bool foreign_start_tag(std::string_view name, const char* attrs, bool self_closing) {
  const std::size_t before = frames.size();
  const char space = frames.back().space;
  if (name == "svg" || name == "math") {
    const char target = name == "svg" ? 'S' : 'M';
    if (space == 'H' || space == target) {
      enter(target, name);
    } else if (direct_frames == 0) {
      enter(target, name);
      direct_frames = 0;
    }
  } else if (name == "mglyph" || name == "malignmark") {
    // A MathML text integration point keeps these in MathML.
    if (direct_frames > 0 && before >= 2 && frames.below_top(1).space == 'M' &&
        is_text_integration_point(frames.back().tag())) {
      enter('M', name);
    }
  }
  const bool html = !in_foreign();
  if (!html) {
    if (leaves_foreign_content(name, attrs)) {
      while (in_foreign()) {
        leave();
      }
      direct_frames = 0;
      return true;  // an HTML element after all
    }
    closed_at_once = self_closing;
    if (!self_closing && frames.size() == before) {
      if (is_integration_point(name, frames.back().space, attrs)) {
        enter('H', name);
      } else {
        direct_frames = 0;
      }
    }
  } else if (name == frames.back().tag()) {
    enter('H', name);  // an HTML element named like the integration point
  } else {
    direct_frames = 0;
  }
  // A self-closing foreign element is closed at once, and the frame with it.
  if (self_closing && in_foreign() && frames.size() > before) {
    leave();
  }
  return html;
}

void foreign_end_tag(std::string_view name) {
  if (!in_foreign()) {
    if (name == frames.back().tag()) {
      leave();
    } else {
      direct_frames = 0;
    }
    return;
  }
  if (name == "p" || name == "br") {
    while (in_foreign()) {
      leave();
    }
    return;
  }
  // The frame's own end tag closes it; an mglyph or malignmark frame sits
  // directly in its text integration point, so the end tags of that element
  // and of the frame below close it too.
  const std::string_view top = frames.back().tag();
  const std::size_t looked_at = std::min<std::size_t>(top == "mglyph" || top == "malignmark" ? 3 : 1, frames.size());
  std::size_t below = 0;
  while (below < looked_at && name != frames.below_top(below).tag()) {
    ++below;
  }
  if (below < looked_at) {
    for (std::size_t closed = 0; closed <= below; ++closed) {
      leave();
    }
  } else {
    direct_frames = 0;
  }
}

}  // namespace

void reset_tree() {
  tag_name_len = 0;
  end_tag = false;
  frames.clear();
  direct_frames = 0;
  enter('H', "");
  opened_frame = false;
  closed_at_once = false;
}

std::string_view noted_tag_name() { return {tag_name, tag_name_len}; }

// Bytes that end a tag's name in a piece: NUL, white space and '/'.
constexpr std::array<bool, 256> kEndsTagName = [] {
  std::array<bool, 256> table{};
  for (const char c : {'\0', '\t', '\n', '\f', '\r', ' ', '/'}) {
    table[static_cast<unsigned char>(c)] = true;
  }
  return table;
}();

namespace {

std::string_view note_frames(const char* piece, bool self_closing) {
  end_tag = *piece == '/';
  closed_at_once = false;
  if (end_tag && frames.size() == 1) {
    direct_frames = 0;  // plain HTML: an end tag opens and closes nothing
    return {};
  }
  const char* name_begin = end_tag ? piece + 1 : piece;
  const char* p = name_begin;
  while (!kEndsTagName[static_cast<unsigned char>(*p)]) {
    ++p;
  }
  const auto length = static_cast<std::size_t>(p - name_begin);
  constexpr std::size_t kShortestRaw = 3;   // xmp, and svg
  constexpr std::size_t kLongestRaw = 9;    // plaintext
  if (frames.size() == 1 && (length < kShortestRaw || length > kLongestRaw)) {
    direct_frames = 0;  // plain HTML, and no name that raw text or SVG has
    return {};
  }
  // Only names the model knows matter, and none is longer than kNameMax: a
  // longer name stands as "-", which no tag of the model is called.
  tag_name_len = length <= kNameMax ? length : 0;
  for (std::size_t i = 0; i < tag_name_len; ++i) {
    tag_name[i] = lower(name_begin[i]);
  }
  const std::string_view name = length <= kNameMax ? std::string_view(tag_name, length) : "-";
  if (frames.size() == 1 && name != "svg" && name != "math") {
    // Plain HTML, the common case: no frame to open or close.
    direct_frames = 0;
    return name;
  }
  if (end_tag) {
    foreign_end_tag(name);
    return {};
  }
  return foreign_start_tag(name, p, self_closing) ? name : std::string_view{};
}

}  // namespace

std::string_view note_tag_frames(const char* piece, bool self_closing) {
  const std::size_t before = frames.size();
  const std::string_view html_start = note_frames(piece, self_closing);
  opened_frame = !end_tag && frames.size() > before;
  return html_start;
}

bool tag_opened_frame() { return opened_frame; }

bool tag_closed_at_once() { return closed_at_once; }

std::size_t frame_depth() { return frames.size(); }

}  // namespace safescan
