// The tree model of safe mode's output (see treemodel.h): the interface the
// policy calls, over the parts in treeparts.h.
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

#include <cstring>
#include <string>
#include <string_view>

#include "policy/attredit.h"
#include "policy/treeparts.h"
#include "scanner/scrub.h"

using namespace tree;

namespace {

int write_end_tag(Name name, std::FILE* out) {
  const std::string_view upper = upper_name(name);
  std::string text = "</";
  for (const char c : upper) {
    text.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c);
  }
  text.push_back('>');
  return put_bytes(text.data(), text.size(), out);
}

std::size_t open_count() { return depth() + formatting_size() + (form_left_open() ? 1 : 0); }

// The name of the end tag that closes the next thing the output left open,
// kNone when nothing is.
Name next_to_close() {
  if (above_floor()) {
    return current();
  }
  if (last_formatting() != kNone) {
    return last_formatting();  // closed, but rebuilt at the next text
  }
  return form_left_open() ? Name{kForm} : Name{kNone};
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

// Formatting elements, and those that put a marker in the formatting list.
bool joins_the_list(El el) {
  switch (el) {
    case kApplet: case kMarquee: case kObject: case kTemplate: case kTd: case kTh: case kCaption:
      return true;
    default:
      return has(el, kFormatting);
  }
}

Verdict judge(std::string_view name, bool bare, bool end_tag) {
  // A name cut short by the policy's buffer is not the browser's name: it
  // could match another element's.
  if (name.size() >= policy::kNameMax) {
    return Verdict::kIgnored;
  }
  const Name id = name_of(name);
  return process(TagToken{id, el_of(id), bare}, end_tag);
}

}  // namespace

void tree_reset() {
  reset_stack();
  reset_body();
  reset_modes();
}

bool tree_start_tag(std::string_view name, bool bare) {
  if (depth() == 0) {
    tree_reset();  // the first document
  }
  if ((depth() > kMaxOpen && !opens_nothing(known_element(name))) ||
      (formatting_size() > kMaxFormatting && joins_the_list(known_element(name)))) {
    return false;
  }
  const std::uint64_t before = change_count();
  return judge(name, bare, false) == Verdict::kApplied || change_count() != before;
}

bool tree_end_tag(std::string_view name) {
  if (depth() == 0) {
    tree_reset();  // the first document
  }
  const std::uint64_t before = change_count();
  return judge(name, true, true) == Verdict::kApplied || change_count() != before;
}

void tree_text(const char* text, std::size_t length) {
  if (depth() == 0) {
    tree_reset();
  }
  take_text(text, length);
}

int tree_close_all(std::FILE* out) {
  if (depth() == 0) {
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
