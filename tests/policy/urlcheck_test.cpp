// URL checks of safe mode: attribute values decoded as browsers decode them,
// then judged by their scheme.
#include "policy/urlcheck.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "config/config.h"
#include "policy/tscrub02.h"

namespace {

struct UrlCase {
  const char* value;
  bool safe;
};

bool safe_url(const std::string& value, bool srcset = false) {
  return url_value_is_safe(value.data(), value.size(), srcset);
}

TEST(UrlCheck, SchemesAfterDecodingAndCleaning) {
  const UrlCase cases[] = {
      {"", true},
      {"/path?q=1", true},
      {"page.html#javascript:x", true},  // the ':' comes after a '.' and '#'
      {"//evil.example/x", true},        // scheme-relative: no scheme of its own
      {"http://x", true},
      {"HTTPS://x", true},
      {"mailto:a@b", true},
      {"ftp://x", true},
      {"tel:+1", true},
      {"javascript:alert(1)", false},
      {" JaVaScRiPt:alert(1)", false},
      {"java\tscript:x", false},
      {"java\nscript:x", false},
      {"vbscript:x", false},
      {"data:text/html,x", false},
      {"about:blank", false},
      {"jav&#x09;ascript:x", false},       // numeric reference to a tab
      {"jav&#9ascript:x", false},          // without its ';'
      {"&#106;avascript:x", false},
      {"&#x6A&#x61&#x76&#x61&#x73&#x63&#x72&#x69&#x70&#x74&#x3A;x", false},
      {"javascript&colon;x", false},       // named reference
      {"java&Tab;script:x", false},
      {"javascript&#0000058x", false},     // leading zeros, no ';'
      {"&#x10FFFF0;javascript:x", true},   // out of range: U+FFFD, not a scheme
      {"jav&#xFFFD;ascript:x", true},      // not a scheme character: relative
      {"java&NewLine;script:x", false},
      {"&amp;javascript:x", true},         // '&' is not a scheme character
      {"https://x/?a=1&amp;b=2", true},
      {"x&colon", true},                   // "colon" is a reference only with its ';'
      {"x&colon;", false},                 // "x:" has the scheme "x"
      {"mailtox:x", false},                // an allowed scheme with more after it
      {"httpsx:x", false},
      {"mailt:x", false},
      {"averylongschemename:x", false},
      {"ht&#x74;ps://x", true},
  };
  for (const UrlCase& c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(safe_url(c.value), c.safe);
  }
}

TEST(UrlCheck, ReferencesWithoutSemicolonBeforeEqualsOrAlnumStayAsTheyAre) {
  // In attribute values "&not" before '=' or a letter is left alone, for
  // historical reasons; elsewhere it is decoded.
  EXPECT_EQ(decode_attribute_value("a&not=1", 7), U"a&not=1");
  EXPECT_EQ(decode_attribute_value("a&notx", 6), U"a&notx");
  EXPECT_EQ(decode_attribute_value("a&not;x", 7), U"a\u00ACx");
  EXPECT_EQ(decode_attribute_value("a&not x", 7), U"a\u00AC x");
  EXPECT_EQ(decode_attribute_value("&notin;", 7), U"\u2209");  // the longest name wins
}

// The table of named references, as the decoder has it.
struct NamedRef {
  const char* name;
  char32_t first;
  char32_t second;
};
#include "policy/entities.inc"

TEST(UrlCheck, EveryNamedReferenceIsFound) {
  for (const NamedRef& ref : kNamedRefs) {
    const std::string text = std::string("&") + ref.name;
    std::u32string expected(1, ref.first);
    if (ref.second != 0) {
      expected += ref.second;
    }
    SCOPED_TRACE(text);
    EXPECT_EQ(decode_attribute_value(text.data(), text.size()), expected);
  }
  EXPECT_EQ(decode_attribute_value("&", 1), U"&");
  EXPECT_EQ(decode_attribute_value("&zzz;", 5), U"&zzz;");
  EXPECT_EQ(decode_attribute_value("&\xff;", 3), U"&\xff;");
}

TEST(UrlCheck, NumericReferencesFollowTheStandardsReplacements) {
  EXPECT_EQ(decode_attribute_value("&#0;", 4), U"\uFFFD");
  EXPECT_EQ(decode_attribute_value("&#x80;", 6), U"\u20AC");   // windows-1252
  EXPECT_EQ(decode_attribute_value("&#xD800;", 8), U"\uFFFD");  // surrogate
  EXPECT_EQ(decode_attribute_value("&#;", 3), U"&#;");          // no digits: no reference
  EXPECT_EQ(decode_attribute_value("&#x;", 4), U"&#x;");
  EXPECT_EQ(decode_attribute_value("\xc3\xa9", 2), U"\u00E9");  // UTF-8 bytes as code points
}

TEST(UrlCheck, SrcsetChecksEveryCandidate) {
  EXPECT_TRUE(safe_url("a.png 1x, b.png 2x", true));
  EXPECT_TRUE(safe_url("a.png, b.png", true));
  EXPECT_TRUE(safe_url("image(a,b) 1x, c.png 2x", true));
  EXPECT_FALSE(safe_url("x ((),javascript:y", true));  // parentheses do not nest
  EXPECT_FALSE(safe_url("x (a(b)c),javascript:y", true));
  EXPECT_TRUE(safe_url("x ((a,b), c.png", true));
  EXPECT_FALSE(safe_url("a.png 1x, javascript:x 2x", true));
  EXPECT_FALSE(safe_url("a.png 1x,javascript:x", true));
  EXPECT_FALSE(safe_url("data:image/png;base64,AAAA 1x", true));
  // Bytes past ASCII, in values read as bytes (no reference) and decoded.
  for (const std::string ref : {"a", "&#x61;"}) {
    SCOPED_TRACE(ref);
    EXPECT_FALSE(safe_url(ref + "\xc3\xa9.png 1x, javascript:x 2x", true));
    EXPECT_TRUE(safe_url(ref + "\xc3\xa9.png 1x, b.png 2x", true));
    EXPECT_TRUE(safe_url(ref + ".png 1x,\xe2\x80\x83javascript:x", true));  // U+2003 is no separator
    EXPECT_TRUE(safe_url(ref + ".png 1x,\xe2\x80\x83 javascript:x", true));  // a URL, then a descriptor
    EXPECT_FALSE(safe_url(ref + ".png 1x, javascript:\xe2\x80\x83", true));
  }
}

// A refresh is a time, then the URL, perhaps after "url=" and in quotes;
// a value that browsers take for no refresh holds no URL at all.
TEST(UrlCheck, RefreshUrlsAsBrowsersFindThem) {
  const UrlCase cases[] = {
      {"0;url=javascript:alert(1)", false},
      {"0; URL = 'javascript:x'", false},
      {"0;url=\"javascript:x\"", false},
      {"5,javascript:x", false},           // no "url=": the rest is the URL
      {" .5 javascript:x", false},         // a time may begin with a dot
      {"0;urjavascript:x", false},         // "ur" without "l": the URL is "urjavascript:x"
      {"0;ur/javascript:x", true},         // and here "ur/javascript:x", relative
      {"0;url=jav&#x61;script:x", false},  // references are decoded first
      {"0;url='https://x/'javascript:y", true},  // the quote ends the URL
      {"0; url=/next", true},
      {"5", true},
      {"5x;url=javascript:x", true},  // no refresh: the time runs into a letter
      {"javascript: the good parts", true},
      {"", true},
  };
  for (const UrlCase& c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(refresh_value_is_safe(c.value, std::string(c.value).size()), c.safe);
  }
}

TEST(UrlCheck, UrlAttributesInAnyCase) {
  const std::pair<const char*, UrlAttribute> cases[] = {
      {"href", UrlAttribute::kUrl},     {"HREF", UrlAttribute::kUrl},     {"Src", UrlAttribute::kUrl},
      {"xlink:href", UrlAttribute::kUrl}, {"formaction", UrlAttribute::kUrl}, {"srcset", UrlAttribute::kSrcset},
      {"IMAGESRCSET", UrlAttribute::kSrcset}, {"title", UrlAttribute::kNone}, {"hrefx", UrlAttribute::kNone},
      {"", UrlAttribute::kNone},           {"XLINK:HREF", UrlAttribute::kUrl}, {"0src", UrlAttribute::kNone},
      {"\xc3\xa9src", UrlAttribute::kNone}, {"hrEF", UrlAttribute::kUrl},
      {"Content", UrlAttribute::kRefresh},  {"SRCDOC", UrlAttribute::kSrcdoc}, {"contents", UrlAttribute::kNone},
      {"srcdox", UrlAttribute::kNone},      {"classid", UrlAttribute::kUrl},   {"srcset", UrlAttribute::kSrcset},
  };
  for (const auto& [name, kind] : cases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(url_attribute_kind(name, std::string(name).size()), kind);
  }
  // Every URL attribute, and nothing one byte away from one.
  for (const std::string name : {"action", "archive", "background", "cite", "classid", "codebase", "data", "dynsrc",
                                 "formaction", "href", "icon", "imagesrcset", "longdesc", "lowsrc", "manifest",
                                 "ping", "poster", "profile", "src", "srcset", "usemap", "xlink:href"}) {
    SCOPED_TRACE(name);
    EXPECT_NE(url_attribute_kind(name.data(), name.size()), UrlAttribute::kNone);
    EXPECT_EQ(url_attribute_kind(name.data(), name.size() - 1), UrlAttribute::kNone);
    EXPECT_EQ(url_attribute_kind((name + "s").data(), name.size() + 1), UrlAttribute::kNone);
    std::string changed = name;
    changed[name.size() / 2] = '_';
    EXPECT_EQ(url_attribute_kind(changed.data(), changed.size()), UrlAttribute::kNone);
  }
}

// A Config's SCHEMES replaces the fixed list (relative URLs still pass);
// its RELATIVE: DROP refuses protocol-relative URLs, however written.
TEST(UrlCheck, SchemesAndRelativeUrlsOfAConfig) {
  Config* mail = cfg_construct();
  ASSERT_NE(mail, nullptr);
  ASSERT_EQ(cfg_set_schemes(mail), 0);
  ASSERT_EQ(cfg_add_scheme(mail, "HTTPS"), 0);
  ASSERT_EQ(cfg_add_scheme(mail, "CID"), 0);
  ASSERT_EQ(cfg_add_scheme(mail, std::string(35, 'X').c_str()), 0);
  ASSERT_EQ(cfg_set_relative(mail, ACTION_DROP), 0);
  Config* plain = cfg_construct();
  ASSERT_NE(plain, nullptr);
  const struct {
    const char* value;
    bool mail_safe;
    bool plain_safe;
  } cases[] = {
      {"cid:part1@example", true, false},
      {"CID:part1", true, false},
      {"https://x/", true, true},
      {"http://x/", false, true},
      {"ftp://x/", false, true},
      {"c&#x69;d:x", true, false},
      {"javascript:alert(1)", false, false},
      {"/path", true, true},
      {"path/x:y", true, true},
      {":x", true, true},
      {"//evil.example/", false, true},
      {"\\\\evil.example/", false, true},
      {"/\\evil.example/", false, true},
      {"/\t/evil.example/", false, true},
      {" //evil.example/", false, true},
      {"&#47;/evil.example/", false, true},
      {"/ok//x", true, true},
      {"/", true, true},
      {"xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx:y", true, false},
      {"xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx:y", false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    const std::string value = c.value;
    EXPECT_EQ(url_value_is_safe(value.data(), value.size(), false, mail), c.mail_safe);
    EXPECT_EQ(url_value_is_safe(value.data(), value.size(), false, plain), c.plain_safe);
    EXPECT_EQ(url_value_is_safe(value.data(), value.size(), false, nullptr), c.plain_safe);
  }
  const std::string srcset = "/a.png 1x, //evil/b.png 2x";
  EXPECT_FALSE(url_value_is_safe(srcset.data(), srcset.size(), true, mail));
  EXPECT_TRUE(url_value_is_safe(srcset.data(), srcset.size(), true, plain));
  const std::string refresh = "0; url=http://x/";
  EXPECT_FALSE(refresh_value_is_safe(refresh.data(), refresh.size(), mail));
  EXPECT_TRUE(refresh_value_is_safe(refresh.data(), refresh.size(), plain));
  cfg_release(&mail);
  cfg_release(&plain);
}

}  // namespace

// Outside a scan nothing is known about a tag's attributes, so a tag handed
// to the policy directly in safe mode still has its URLs checked.
TEST(UrlCheck, KeptTagsHandedOverDirectlyAreStillChecked) {
  Config* config = cfg_construct();
  ASSERT_EQ(cfg_set_mode(config, MODE_SAFE), 0);
  install_config(config);
  char* text = nullptr;
  std::size_t size = 0;
  std::FILE* out = open_memstream(&text, &size);
  testing::internal::CaptureStderr();
  EXPECT_EQ(scrub_tag("a href=javascript:x title=t", out, 3), 0);
  const std::string warnings = testing::internal::GetCapturedStderr();
  std::fclose(out);
  EXPECT_EQ(std::string(text, size), "<a title=t>");
  EXPECT_EQ(warnings, "line 3: A tag with unsafe URL in attribute HREF\n");
  std::free(text);
  (void)scrub_tag(nullptr, nullptr, 0);
  install_config(nullptr);
  cfg_release(&config);
}
