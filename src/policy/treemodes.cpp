// The tree model's insertion modes but "in body" (treebody.cpp): tables,
// their captions, column groups, sections, rows and cells, select, and
// template, each a row of handlers for start and end tags; and text, which
// goes before a table when it is more than white space.
#include <algorithm>
#include <array>
#include <cstddef>
#include <initializer_list>
#include <vector>

#include "policy/treeparts.h"
#include "scanner/cclass.h"

namespace tree {
namespace {

Mode mode = kInBody;
std::vector<Mode> template_modes;  // one for each open <template>

bool is_table_section(Name name) {
  const El el = el_of(name);
  return el == kTbody || el == kThead || el == kTfoot;
}

bool is_cell(Name name) { return el_of(name) == kTd || el_of(name) == kTh; }

}  // namespace

void reset_modes() {
  mode = kInBody;
  template_modes.clear();
}

Mode current_mode() { return mode; }

void set_mode(Mode next) {
  mode = next;
  note_change();
}

void enter_template_mode() { template_modes.push_back(kInTemplate); }

void leave_template_mode() {
  if (!template_modes.empty()) {
    template_modes.pop_back();
  }
}

bool in_table_modes() {
  return mode == kInTable || mode == kInCaption || mode == kInTableBody || mode == kInRow || mode == kInCell;
}

// The mode the elements open give, after a table, select or template closed.
void reset_mode() {
  note_change();
  for (std::size_t i = depth(); i-- > 1;) {
    switch (el_of(name_at(i))) {
      case kSelect: {
        mode = kInSelect;
        for (std::size_t j = i; j-- > 1;) {
          if (el_of(name_at(j)) == kTemplate) {
            break;
          }
          if (el_of(name_at(j)) == kTable) {
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

namespace {

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
  note_change();
  return process(token, end_tag);
}

Verdict start_in_table(const TagToken& token) {
  switch (token.el) {
    case kCaption:
      clear_to_table_context();
      push_marker();
      insert(token.name);
      set_mode(kInCaption);
      return Verdict::kApplied;
    case kColgroup:
      clear_to_table_context();
      insert(token.name);
      set_mode(kInColumnGroup);
      return Verdict::kApplied;
    case kCol:
      clear_to_table_context();
      insert(kColgroup);
      return reprocess_as(kInColumnGroup, token, false);
    case kTbody: case kTfoot: case kThead:
      clear_to_table_context();
      insert(token.name);
      set_mode(kInTableBody);
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
      return start_form_in_table();
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
  set_mode(kInTable);
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
    case kCol: note_change(); return Verdict::kApplied;
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
      set_mode(kInTable);
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
      set_mode(kInRow);
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
      set_mode(kInTable);
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
  set_mode(kInTableBody);
}

Verdict start_in_row(const TagToken& token) {
  switch (token.el) {
    case kTh: case kTd:
      clear_to_row_context();
      insert(token.name);
      set_mode(kInCell);
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
  set_mode(kInRow);
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
      set_mode(kInRow);
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
      note_change();
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
      if (current() == kOption && depth() > 2 && name_at(depth() - 2) == kOptgroup) {
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
    template_modes.back() = next;  // the content's first element decides
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

}  // namespace

Verdict process(const TagToken& token, bool end_tag) {
  const ModeHandlers& handlers = kModes[mode];
  return end_tag ? handlers.end(token) : handlers.start(token);
}

namespace {

bool is_html_space(char c) { return cclass::is_html_space(c); }

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

}  // namespace

void take_text(const char* text, std::size_t length) {
  switch (mode) {
    case kInTable: case kInTableBody: case kInRow:
      text_in_table(text, length);
      return;
    case kInColumnGroup:
      if (!std::all_of(text, text + length, is_html_space) && current() == kColgroup) {
        pop();
        mode = kInTable;
        note_change();
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

}  // namespace tree
