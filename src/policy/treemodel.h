// The tree model: what a browser's tree builder does with the tags safe
// mode writes, so that the output stays inside the element of a page it is
// pasted into.
//
// A site pastes the output into a container of its own page, a <div> in the
// page's body. The model keeps the stack of open elements and the list of
// active formatting elements that the output builds above that container,
// with the insertion modes of tables, selects and templates. A tag is
// written only where the browser does with it what the model does: one the
// browser would ignore there, or one that would reach below the container
// (an end tag of an element the output did not open, an <li> that would
// close the page's list item), is not. At the end of the output the model
// writes the end tags that leave nothing it opened open, and nothing in the
// formatting list for the browser to rebuild after the container.
//
// The model sees only what is written: regions dropped whole, raw text and
// namespace frames never reach it. Names are the policy's upper-case ones.
#ifndef TESSEL_TREEMODEL_H
#define TESSEL_TREEMODEL_H

#include <cstddef>
#include <cstdio>
#include <string_view>

// Nothing written yet: the container is empty. Part of the reset between
// documents.
void tree_reset();

// A start tag of this name, with bare set when it is written without
// attributes, about to be written: true when it may be, the model updated;
// false when it must not be (the model unchanged).
[[nodiscard]] bool tree_start_tag(std::string_view name, bool bare);

// The same for an end tag that does not end raw text.
[[nodiscard]] bool tree_end_tag(std::string_view name);

// Text written outside raw-text elements, before the next tag.
void tree_text(const char* text, std::size_t length);

// At the end of the output: writes the end tags of everything the output
// left open, innermost first, then those that take what it left in the
// formatting list out of it, then a </form> that clears the form it
// opened. EOF when a write failed, else 0.
int tree_close_all(std::FILE* out);

#endif
