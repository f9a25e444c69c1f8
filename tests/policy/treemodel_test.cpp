// Unit tests for the tree model of safe mode's output: which tags it lets
// through where they stand, and the end tags it writes at the end.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>

#include "policy/treemodel.h"

namespace {

struct Fed {
  std::string refused;  // the tags the model kept out, in order
  std::string closed;   // what it wrote at the end
};

// Feeds the model a sequence of words: "<NAME" a start tag (bare; "<NAME+"
// with attributes), "</NAME" an end tag, "#TEXT" text, "_" one space.
Fed feed(const std::string& words) {
  tree_reset();
  Fed run;
  std::istringstream in(words);
  for (std::string word; in >> word;) {
    bool written = true;
    if (word.rfind("</", 0) == 0) {
      written = tree_end_tag(word.c_str() + 2);
    } else if (word[0] == '<') {
      const bool bare = word.back() != '+';
      written = tree_start_tag(word.substr(1, word.size() - (bare ? 1 : 2)).c_str(), bare);
    } else {
      const std::string text = word == "_" ? " " : word.substr(1);
      tree_text(text.data(), text.size());
    }
    if (!written) {
      run.refused += (run.refused.empty() ? "" : " ") + word;
    }
  }
  std::FILE* out = std::tmpfile();
  EXPECT_NE(out, nullptr);
  EXPECT_EQ(tree_close_all(out), 0);
  std::rewind(out);
  for (int c = std::fgetc(out); c != EOF; c = std::fgetc(out)) {
    run.closed.push_back(static_cast<char>(c));
  }
  std::fclose(out);
  return run;
}

TEST(TreeModel, WhatStaysOutAndWhatIsClosed) {
  const struct {
    const char* title;
    const char* words;
    const char* refused;
    const char* closed;
  } cases[] = {
      {"nothing open", "<P #a </P <BR #b", "", ""},
      {"blocks close a paragraph", "<P #a <DIV #b", "", "</div>"},
      {"the page's containers", "</DIV </BODY </HTML #x", "</DIV </BODY </HTML", ""},
      {"an empty paragraph is the output's own", "</P", "", ""},
      {"list items outside a list would close the page's", "<LI #a </LI", "<LI </LI", ""},
      {"list items in a list", "<UL <LI #a <LI #b", "", "</li></ul>"},
      {"definition terms close each other", "<DL <DT #a <DD #b", "", "</dd></dl>"},
      {"headings", "<H1 #a <H2 #b", "", "</h2>"},
      {"any heading's end tag ends one", "<H1 #a </H2 #b", "", ""},
      {"an ordinary element closed by name", "<X-A <X-B </X-A #c", "", ""},
      {"another name closes nothing", "<X-A </X-B", "</X-B", "</x-a>"},
      {"formatting left open", "<B <I #x", "", "</i></b>"},
      {"misnested formatting", "<B <I #x </B #y", "", "</i>"},
      {"formatting rebuilt by text", "<DIV <B </DIV #x", "", "</b>"},
      {"closed formatting taken out of the list", "<DIV <B </DIV", "", "</b>"},
      {"three bare ones of a name at most", "<P <B <B <B <B </P", "", "</b></b></b>"},
      {"unless their attributes differ", "<P <B+ <B+ <B+ <B+ </P", "", "</b></b></b></b>"},
      {"a formatting end tag of nothing", "</B </I", "</B </I", ""},
      // <b>x</b> inside the paragraph, the y after it.
      {"adoption by a block", "<B <P #x </B #y", "", "</p>"},
      {"a second <a> closes the first", "<A+ #x <A+ #y", "", "</a>"},
      {"a table left open", "<TABLE <TR <TD <A+ #x", "", "</a></td></tr></tbody></table>"},
      {"cells outside a table", "<TD <TR </TD </TABLE", "<TD <TR </TD </TABLE", ""},
      {"white space stays in a table", "<P <B </P <TABLE _", "", "</table></b>"},
      {"text goes before it, formatting rebuilt", "<P <B </P <TABLE #x", "", "</b></table>"},
      {"a caption and its marker", "<TABLE <CAPTION <B #x </CAPTION", "", "</table>"},
      {"a select ignores most tags", "<SELECT <DIV <STYLE <OPTION #x", "<DIV <STYLE", "</option></select>"},
      {"but not a template's", "<SELECT <TEMPLATE <STYLE </SELECT", "</SELECT", "</template></select>"},
      {"an <input> ends a select", "<SELECT <INPUT #x", "", ""},
      {"a select in a select ends it", "<SELECT <SELECT", "", ""},
      {"a column first in a template", "<TEMPLATE <COL <STYLE <TITLE", "<STYLE <TITLE", "</template>"},
      {"a template's rows", "<TEMPLATE <TR <TD #x", "", "</td></tr></template>"},
      {"a form left open", "<FORM #x", "", "</form>"},
      {"a form closed by its block is still the form", "<DIV <FORM </DIV", "", "</form>"},
      {"one form at a time", "<FORM <FORM", "<FORM", "</form>"},
      {"a form's end tag without one", "</FORM", "</FORM", ""},
      {"a form out of scope is not ended", "<FORM <TABLE <TR <TD </FORM", "</FORM",
       "</td></tr></tbody></table></form>"},
      {"tags a body ignores", "<CAPTION <COL <TBODY <FRAME <HEAD", "<CAPTION <COL <TBODY <FRAME", ""},
      {"markers of objects", "<OBJECT <B #x </OBJECT #y", "", ""},
      {"ruby", "<RUBY <RB #a <RT #b", "", "</rt></ruby>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.title << ": " << c.words);
    const Fed run = feed(c.words);
    EXPECT_EQ(run.refused, c.refused);
    EXPECT_EQ(run.closed, c.closed);
  }
}

// Hostile depth: past a bound, start tags that open more are kept out, so
// the model's memory and the end tags it writes stay bounded.
TEST(TreeModel, DepthIsBounded) {
  tree_reset();
  int written = 0;
  for (int i = 0; i < 10000; ++i) {
    written += tree_start_tag(i % 2 == 0 ? "DIV" : "SPAN", true) ? 1 : 0;
  }
  EXPECT_GT(written, 1000);
  EXPECT_LT(written, 10000);
  EXPECT_TRUE(tree_start_tag("BR", true));  // opens nothing
  std::FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(tree_close_all(out), 0);
  EXPECT_EQ(std::ftell(out), (written + 1) / 2 * 6L + written / 2 * 7L);
  std::fclose(out);
}

// A full list of formatting elements keeps out what would add to it, and
// nothing else: the blocks after it are still written.
TEST(TreeModel, FormattingListIsBounded) {
  tree_reset();
  int formatting = 0;
  for (int i = 0; i < 1000; ++i) {
    ASSERT_TRUE(tree_start_tag("DIV", true));
    formatting += tree_start_tag("B", false) ? 1 : 0;  // each with other attributes
    ASSERT_TRUE(tree_end_tag("DIV"));
    tree_text("x", 1);
  }
  EXPECT_GT(formatting, 100);
  EXPECT_LT(formatting, 1000);
  EXPECT_FALSE(tree_start_tag("TD", true));  // ignored in a body anyway
  EXPECT_TRUE(tree_start_tag("P", true));
}

// A name longer than the policy holds is kept out: cut short, it could
// match another element's.
TEST(TreeModel, LongNamesAreKeptOut) {
  tree_reset();
  const std::string name(200, 'X');
  EXPECT_FALSE(tree_start_tag(name.c_str(), true));
  EXPECT_FALSE(tree_end_tag(name.c_str()));
  EXPECT_TRUE(tree_start_tag("X", true));
}

}  // namespace
