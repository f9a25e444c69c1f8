// The tree model's rules for the "in body" insertion mode, which tables'
// cells and captions, templates and what stands before a table use too;
// and the form element pointer.
#include <cstdint>

#include "policy/treeparts.h"

namespace tree {
namespace {

bool form_open = false;  // the output set the form element pointer
std::uint32_t form_serial = 0;

}  // namespace

void reset_body() {
  form_open = false;
  form_serial = 0;
}

bool form_left_open() { return form_open; }

Verdict start_form_in_table() {
  if (templates_open() != 0 || form_open) {
    return Verdict::kIgnored;
  }
  form_open = true;
  form_serial = insert(kForm);
  pop();
  return Verdict::kApplied;
}

namespace {

Verdict open_template() {
insert(kTemplate);
  push_marker();
  set_mode(kInTemplate);
  enter_template_mode();
  return Verdict::kApplied;
}

}  // namespace

Verdict close_template() {
  if (templates_open() == 0) {
    return Verdict::kBeyond;
  }
  generate_all_implied_end_tags();
  pop_until(kTemplate);
  clear_to_last_marker();
  leave_template_mode();
  reset_mode();
  return Verdict::kApplied;
}

namespace {

// <li>, <dd> and <dt> close the item they are in, looking down the stack
// past elements that are not special (and <address>, <div>, <p>). The
// container is a <div>: a walk that reaches it would go on into the page.
Verdict start_list_item(const TagToken& token) {
  const auto closes = [&token](Name name) {
    return token.el == kLi ? name == kLi : (name == kDd || name == kDt);
  };
  for (std::size_t i = depth();; --i) {
    if (i == 1) {
      return Verdict::kBeyond;
    }
    const Name name = name_at(i - 1);
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

}  // namespace

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
      if (form_open && templates_open() == 0) {
        return Verdict::kIgnored;
      }
      close_p_in_button_scope();
      if (templates_open() == 0) {
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
      set_mode(kInTable);
      return Verdict::kApplied;
    case kArea: case kBr: case kEmbed: case kImg: case kKeygen: case kWbr: case kInput:
      reconstruct_formatting();
      note_change();
      return Verdict::kApplied;
    case kHr:
      close_p_in_button_scope();
      note_change();
      return Verdict::kApplied;
    case kXmp:
      close_p_in_button_scope();
      reconstruct_formatting();
      note_change();
      return Verdict::kApplied;
    case kSelect:
      reconstruct_formatting();
      insert(token.name);
      set_mode(in_table_modes() ? kInSelectInTable : kInSelect);
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

namespace {

Verdict end_form() {
  if (templates_open() != 0) {
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
  note_change();
  if (at != 0) {
    generate_implied_end_tags();
    remove_at(index_of(form_serial));
  }
  return Verdict::kApplied;
}

}  // namespace

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
      note_change();
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

}  // namespace tree
