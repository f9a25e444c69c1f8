// Unit tests for the configuration store, through its interface: setters with
// their results and exact messages, queries, the record's life cycle.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "config/config.h"

namespace {

using Call = std::function<int(Config*)>;

Call tag_action(const char* tag, Action action) {
  return [=](Config* c) { return cfg_set_tag_action(c, tag, action); };
}
Call attr_action(const char* tag, const char* attribute, Action action) {
  return [=](Config* c) { return cfg_set_attr_action(c, tag, attribute, action); };
}
Call attr_default(const char* tag, Action action) {
  return [=](Config* c) { return cfg_set_attr_default(c, tag, action); };
}
Call tag_default(Action action) {
  return [=](Config* c) { return cfg_set_tag_default(c, action); };
}
Call comment_action(Action action) {
  return [=](Config* c) { return cfg_set_comment_action(c, action); };
}

struct Step {
  const char* what;
  Call call;
  int result;
  std::string message;
};

// Runs the steps in order on config, each with its result and exact message.
void run_steps(Config* config, const std::vector<Step>& steps) {
  for (std::size_t i = 0; i < steps.size(); ++i) {
    SCOPED_TRACE(testing::Message() << "step " << i << ": " << steps[i].what);
    testing::internal::CaptureStderr();
    const int result = steps[i].call(config);
    const std::string message = testing::internal::GetCapturedStderr();
    EXPECT_EQ(result, steps[i].result);
    EXPECT_EQ(message, steps[i].message);
  }
}

class CfgStore : public testing::Test {
 protected:
  void SetUp() override {
    config_ = cfg_construct();
    ASSERT_NE(config_, nullptr);
  }
  void TearDown() override { cfg_release(&config_); }

  Config* config_ = nullptr;
};

TEST_F(CfgStore, TagAndAttributeSetters) {
  const std::string tag35(35, 'T');
  const std::string tag36(36, 'T');
  const std::string attr35(35, 'X');
  const std::string attr36(36, 'X');
  const char* t35 = tag35.c_str();
  const char* t36 = tag36.c_str();
  const char* a35 = attr35.c_str();
  const char* a36 = attr36.c_str();

  run_steps(config_, {
      // cfg_set_tag_action: null, then empty, then the range, then the store.
      {"null tag before bad action", tag_action(nullptr, 9), 1, "cfg_set_tag_action: null ptr to tag\n"},
      {"empty tag before bad action", tag_action("", 9), 1, "cfg_set_tag_action: tag name is empty\n"},
      {"action 5", tag_action("B", 5), 1, "cfg_set_tag_action: Invalid action type for tag B\n"},
      {"negative action", tag_action("B", -1), 1, "cfg_set_tag_action: Invalid action type for tag B\n"},
      {"range before length", tag_action(t36, 7), 1,
       "cfg_set_tag_action: Invalid action type for tag " + tag36 + "\n"},
      {"36 characters", tag_action(t36, ACTION_KEEP), 1,
       "add_action: overly long tag " + tag36 + " in configuration file\n"},
      {"35 characters", tag_action(t35, ACTION_WARN), 0, ""},
      {"refused B was not stored", tag_action("B", ACTION_KEEP), 0, ""},
      {"repeat keeps the first", tag_action("B", ACTION_DROP), 1,
       "add_action: multiple actions specified for tag B\n"},
      {"names are case-sensitive", tag_action("b", ACTION_DROP), 0, ""},
      {"DROP ALL", tag_action("S", ACTION_DROP_ALL), 0, ""},
      {"EDIT", tag_action("A", ACTION_EDIT), 0, ""},
      {"DROP", tag_action("D", ACTION_DROP), 0, ""},

      // cfg_set_attr_action: tag checks, attribute checks, range, then the store.
      {"attr: null tag", attr_action(nullptr, nullptr, 9), 1, "cfg_set_attr_action: null ptr to tag\n"},
      {"attr: empty tag", attr_action("", nullptr, 9), 1, "cfg_set_attr_action: tag name is empty\n"},
      {"attr: null attribute", attr_action("A", nullptr, 9), 1,
       "cfg_set_attr_action: null ptr to attribute name for A tag\n"},
      {"attr: empty attribute", attr_action("A", "", 9), 1,
       "cfg_set_attr_action: attribute name for A tag is empty\n"},
      {"attr: DROP ALL", attr_action("A", "HREF", ACTION_DROP_ALL), 1,
       "cfg_set_attr_action: Invalid action type for tag A\n"},
      {"attr: EDIT", attr_action("A", "HREF", ACTION_EDIT), 1,
       "cfg_set_attr_action: Invalid action type for tag A\n"},
      {"attr: negative", attr_action("A", "HREF", -2), 1,
       "cfg_set_attr_action: Invalid action type for tag A\n"},
      {"attr: long tag", attr_action(t36, "HREF", ACTION_KEEP), 1,
       "add_attr_action: overly long tag " + tag36 + " in configuration file\n"},
      {"attr: unknown tag", attr_action("NOPE", "HREF", ACTION_KEEP), 1,
       "add_attr_action: tag NOPE does not exist\n"},
      {"attr: 36 characters", attr_action("A", a36, ACTION_KEEP), 1,
       "add_attr_action: overly long attribute " + attr36 + " in configuration file\n"},
      {"attr: 35 characters", attr_action("A", a35, ACTION_WARN), 0, ""},
      {"attr: first", attr_action("A", "HREF", ACTION_KEEP), 0, ""},
      {"attr: repeat keeps the first", attr_action("A", "HREF", ACTION_DROP), 1,
       "add_atr_action: action for attribute HREF already defined\n"},
      {"attr: same name on another tag", attr_action("B", "HREF", ACTION_DROP), 0, ""},
      {"attr: case-sensitive", attr_action("A", "href", ACTION_DROP), 0, ""},
      {"attr: 35-character tag", attr_action(t35, "ID", ACTION_DROP), 0, ""},

      // cfg_set_attr_default: tag checks, range, then the tag must exist.
      {"default: null tag", attr_default(nullptr, 9), 1, "cfg_set_attr_default: null ptr to tag\n"},
      {"default: empty tag", attr_default("", 9), 1, "cfg_set_attr_default: tag name is empty\n"},
      {"default: DROP ALL", attr_default("A", ACTION_DROP_ALL), 1,
       "cfg_set_attr_default: Invalid action type for tag A\n"},
      {"default: negative", attr_default("A", -1), 1, "cfg_set_attr_default: Invalid action type for tag A\n"},
      {"default: unknown tag", attr_default("NOPE", ACTION_DROP), 1, "add_attr_default: tag NOPE does not exist\n"},
      {"default: long tag", attr_default(t36, ACTION_DROP), 1,
       "add_attr_default: tag " + tag36 + " does not exist\n"},
      {"default: set", attr_default("A", ACTION_DROP), 0, ""},
      {"default: replaced silently", attr_default("A", ACTION_WARN), 0, ""},
  });

  const struct {
    const char* tag;
    const char* attribute;  // null: the tag's own action
    Action want;
  } queries[] = {
      {"B", nullptr, ACTION_KEEP},           {"b", nullptr, ACTION_DROP},
      {"S", nullptr, ACTION_DROP_ALL},       {"A", nullptr, ACTION_EDIT},
      {"D", nullptr, ACTION_DROP},           {t35, nullptr, ACTION_WARN},
      {"A", "HREF", ACTION_KEEP},            {"A", "href", ACTION_DROP},
      {"A", a35, ACTION_WARN},               {"A", a36, ACTION_WARN},  // the attribute default
      {"A", "STYLE", ACTION_WARN},           {"B", "HREF", ACTION_DROP},
      {"B", "STYLE", ACTION_KEEP},           {t35, "ID", ACTION_DROP},
  };
  for (const auto& q : queries) {
    SCOPED_TRACE(testing::Message() << q.tag << " " << (q.attribute != nullptr ? q.attribute : "(tag)"));
    const Action got = q.attribute != nullptr ? cfg_attr_action(config_, q.tag, q.attribute)
                                              : cfg_action(config_, q.tag);
    EXPECT_EQ(got, q.want);
  }
}

TEST_F(CfgStore, TagDefaultCountsEveryCall) {
  run_steps(config_, {
      {"DROP ALL first", tag_default(ACTION_DROP_ALL), 1,
       "cfg_set_tag_default: \"drop all\"not allowed as default action\n"},
  });
  EXPECT_EQ(cfg_action(config_, "U"), ACTION_KEEP);
  run_steps(config_, {
      {"valid after a refused one", tag_default(ACTION_WARN), 1,
       "cfg_set_tag_default: multiple default actions specified\n"},
  });
  EXPECT_EQ(cfg_action(config_, "U"), ACTION_WARN);

  Config* other = cfg_construct();
  ASSERT_NE(other, nullptr);
  run_steps(other, {
      {"KEEP", tag_default(ACTION_KEEP), 0, ""},
      {"DROP replaces it but reports", tag_default(ACTION_DROP), 1,
       "cfg_set_tag_default: multiple default actions specified\n"},
      {"EDIT", tag_default(ACTION_EDIT), 1,
       "cfg_set_tag_default: \"edit\"not allowed as default action\n"
       "cfg_set_tag_default: multiple default actions specified\n"},
      {"DROP ALL", tag_default(ACTION_DROP_ALL), 1,
       "cfg_set_tag_default: \"drop all\"not allowed as default action\n"
       "cfg_set_tag_default: multiple default actions specified\n"},
      {"5", tag_default(5), 1,
       "cfg_set_tag_default: invalid default action\n"
       "cfg_set_tag_default: multiple default actions specified\n"},
      {"negative", tag_default(-1), 1,
       "cfg_set_tag_default: invalid default action\n"
       "cfg_set_tag_default: multiple default actions specified\n"},
  });
  EXPECT_EQ(cfg_action(other, "U"), ACTION_DROP);
  cfg_release(&other);
}

TEST_F(CfgStore, CommentActionLastOneWins) {
  run_steps(config_, {
      {"not range-checked", comment_action(7), 0, ""},
  });
  EXPECT_EQ(cfg_comment_action(config_), 7);
  run_steps(config_, {
      {"second", comment_action(ACTION_WARN), 1, "cfg_set_comment_action: multiple comment actions specified\n"},
      {"third", comment_action(ACTION_DROP), 1, "cfg_set_comment_action: multiple comment actions specified\n"},
  });
  EXPECT_EQ(cfg_comment_action(config_), ACTION_DROP);
}

// The first check of every setter is the Config: nothing else is looked at.
TEST_F(CfgStore, SettersRefuseAnInvalidConfigFirst) {
  Config* dead = cfg_construct();
  ASSERT_NE(dead, nullptr);
  ASSERT_EQ(cfg_set_tag_action(dead, "B", ACTION_KEEP), 0);
  cfg_destruct(&dead);
  ASSERT_NE(dead, nullptr);  // left for the caller
  EXPECT_EQ(cfg_valid(dead), 0);

  for (Config* config : {static_cast<Config*>(nullptr), dead}) {
    SCOPED_TRACE(config == nullptr ? "null Config" : "destroyed Config");
    run_steps(config, {
        {"tag action", tag_action(nullptr, 9), 1, "cfg_set_tag_action: no valid configuration supplied\n"},
        {"attr action", attr_action(nullptr, nullptr, 9), 1,
         "cfg_set_attr_action: no valid configuration supplied\n"},
        {"attr default", attr_default(nullptr, 9), 1, "cfg_set_attr_default: no valid configuration supplied\n"},
        {"tag default", tag_default(9), 1, "cfg_set_tag_default: no valid configuration supplied\n"},
        {"comment action", comment_action(ACTION_DROP), 1,
         "cfg_set_comment_action: no valid configuration supplied\n"},
    });
  }
  cfg_release(&dead);
  EXPECT_EQ(dead, nullptr);
}

TEST_F(CfgStore, Queries) {
  ASSERT_EQ(cfg_action(config_, "A"), ACTION_KEEP);  // a fresh Config keeps everything
  ASSERT_EQ(cfg_attr_action(config_, "A", "X"), ACTION_KEEP);
  ASSERT_EQ(cfg_comment_action(config_), ACTION_KEEP);

  ASSERT_EQ(cfg_set_tag_default(config_, ACTION_DROP), 0);
  ASSERT_EQ(cfg_set_tag_action(config_, "A", ACTION_EDIT), 0);
  ASSERT_EQ(cfg_set_attr_action(config_, "A", "HREF", ACTION_KEEP), 0);
  ASSERT_EQ(cfg_set_attr_action(config_, "A", "ONCLICK", ACTION_WARN), 0);
  ASSERT_EQ(cfg_set_attr_default(config_, "A", ACTION_DROP), 0);
  ASSERT_EQ(cfg_set_tag_action(config_, "B", ACTION_EDIT), 0);
  ASSERT_EQ(cfg_set_attr_default(config_, "B", ACTION_DROP), 0);  // but no attribute entries
  ASSERT_EQ(cfg_set_tag_action(config_, "K", ACTION_KEEP), 0);

  const struct {
    const char* tag;
    const char* attribute;  // null: the tag's own action
    Action want;
  } cases[] = {
      {"A", nullptr, ACTION_EDIT},     {"K", nullptr, ACTION_KEEP},
      {"U", nullptr, ACTION_DROP},     {"a", nullptr, ACTION_DROP},   // not named: the tag default
      {"", nullptr, ACTION_DROP},      {"A", "HREF", ACTION_KEEP},
      {"A", "ONCLICK", ACTION_WARN},   {"A", "STYLE", ACTION_DROP},   // the attribute default
      {"A", "href", ACTION_DROP},      {"A", "", ACTION_DROP},
      {"B", "HREF", ACTION_DROP},      {"B", "STYLE", ACTION_DROP},   // default without entries
      {"K", "HREF", ACTION_KEEP},      {"U", "HREF", ACTION_KEEP},    // tag not named
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << '"' << c.tag << "\" " << (c.attribute != nullptr ? c.attribute : "(tag)"));
    testing::internal::CaptureStderr();
    const Action got = c.attribute != nullptr ? cfg_attr_action(config_, c.tag, c.attribute)
                                              : cfg_action(config_, c.tag);
    // One lookup of the tag answers the same, with an entry only for a named tag.
    const CfgTag* entry = nullptr;
    const Action by_entry = cfg_action_entry(config_, c.tag, &entry);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(got, c.want);
    EXPECT_EQ(entry != nullptr, std::string("ABK").find(c.tag) != std::string::npos && c.tag[0] != '\0');
    if (c.attribute != nullptr) {
      EXPECT_EQ(cfg_entry_attr_action(entry, c.attribute), c.want);
    } else {
      EXPECT_EQ(by_entry, c.want);
    }
  }
  // An invalid Config gives no entry (its message is printed once per
  // process, so it is checked where that is known).
  const CfgTag* entry = nullptr;
  ASSERT_EQ(cfg_action_entry(config_, "A", &entry), ACTION_EDIT);
  ASSERT_NE(entry, nullptr);
  testing::internal::CaptureStderr();
  EXPECT_EQ(cfg_action_entry(nullptr, "A", &entry), ACTION_KEEP);
  (void)testing::internal::GetCapturedStderr();
  EXPECT_EQ(entry, nullptr);
}

// Enough tags to make any lookup structure of the store grow several times.
TEST_F(CfgStore, ManyTagsAreAllFound) {
  constexpr int kTags = 1000;
  std::vector<std::string> names;
  for (int i = 0; i < kTags; ++i) {
    names.push_back("T" + std::to_string(i));
  }
  const auto tag_of = [](int i) -> Action { return i % 5; };
  const auto attr_of = [](int i) -> Action { return (i + 1) % 3; };
  int i = 0;
  for (const std::string& name : names) {
    ASSERT_EQ(cfg_set_tag_action(config_, name.c_str(), tag_of(i)), 0) << name;
    ASSERT_EQ(cfg_set_attr_action(config_, name.c_str(), "X", attr_of(i)), 0) << name;
    ++i;
  }
  i = 0;
  for (const std::string& name : names) {
    EXPECT_EQ(cfg_action(config_, name.c_str()), tag_of(i)) << name;
    EXPECT_EQ(cfg_attr_action(config_, name.c_str(), "X"), attr_of(i)) << name;
    ++i;
  }
  EXPECT_EQ(cfg_action(config_, "T1000"), ACTION_KEEP);
  testing::internal::CaptureStderr();
  EXPECT_EQ(cfg_set_tag_action(config_, "T999", ACTION_KEEP), 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "add_action: multiple actions specified for tag T999\n");
}

// Past a few attributes a tag's attributes are found through an index too.
TEST_F(CfgStore, ManyAttributesOfATagAreAllFound) {
  ASSERT_EQ(cfg_set_tag_action(config_, "A", ACTION_EDIT), 0);
  ASSERT_EQ(cfg_set_attr_default(config_, "A", ACTION_WARN), 0);
  const auto action_of = [](int i) -> Action { return i % 3 == 0 ? ACTION_KEEP : i % 3 == 1 ? ACTION_DROP : ACTION_WARN; };
  for (int count = 1; count <= 200; ++count) {
    const std::string added = "X" + std::to_string(count - 1);
    ASSERT_EQ(cfg_set_attr_action(config_, "A", added.c_str(), action_of(count - 1)), 0) << added;
    for (int i = 0; i < count; ++i) {
      const std::string name = "X" + std::to_string(i);
      ASSERT_EQ(cfg_attr_action(config_, "A", name.c_str()), action_of(i)) << name << " of " << count;
    }
    ASSERT_EQ(cfg_attr_action(config_, "A", "Y"), ACTION_WARN) << count;
  }
  testing::internal::CaptureStderr();
  EXPECT_EQ(cfg_set_attr_action(config_, "A", "X150", ACTION_KEEP), 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "add_atr_action: action for attribute X150 already defined\n");
}

// A tag notes the first bytes of its attributes' names to answer most
// lookups at once: names of every first byte are found, walked (few) or
// through the index (many), and a name that shares only its first byte
// with a named one gets the default.
TEST_F(CfgStore, AttributesOfEveryFirstByteAreFound) {
  ASSERT_EQ(cfg_set_tag_action(config_, "FEW", ACTION_EDIT), 0);
  ASSERT_EQ(cfg_set_tag_action(config_, "MANY", ACTION_EDIT), 0);
  ASSERT_EQ(cfg_set_attr_default(config_, "FEW", ACTION_WARN), 0);
  ASSERT_EQ(cfg_set_attr_default(config_, "MANY", ACTION_WARN), 0);
  const auto action_of = [](int byte) -> Action { return byte % 2 == 0 ? ACTION_KEEP : ACTION_DROP; };
  const std::string few_bytes = "\x01A?\x7f\x80\xbf\xc0\xff";
  for (const char byte : few_bytes) {
    const auto b = static_cast<unsigned char>(byte);
    ASSERT_EQ(cfg_set_attr_action(config_, "FEW", (std::string(1, byte) + "N").c_str(), action_of(b)), 0) << int{b};
  }
  for (int b = 1; b < 256; ++b) {
    ASSERT_EQ(cfg_set_attr_action(config_, "MANY", (std::string(1, static_cast<char>(b)) + "N").c_str(), action_of(b)),
              0)
        << b;
  }
  for (int b = 1; b < 256; ++b) {
    const std::string first(1, static_cast<char>(b));
    const bool in_few = few_bytes.find(static_cast<char>(b)) != std::string::npos;
    EXPECT_EQ(cfg_attr_action(config_, "FEW", (first + "N").c_str()), in_few ? action_of(b) : ACTION_WARN) << b;
    EXPECT_EQ(cfg_attr_action(config_, "MANY", (first + "N").c_str()), action_of(b)) << b;
    EXPECT_EQ(cfg_attr_action(config_, "FEW", (first + "M").c_str()), ACTION_WARN) << b;
    EXPECT_EQ(cfg_attr_action(config_, "MANY", (first + "M").c_str()), ACTION_WARN) << b;
  }
  EXPECT_EQ(cfg_attr_action(config_, "MANY", ""), ACTION_WARN);
}

// A name ending in '*' is a pattern: it matches the names that begin with
// what precedes the '*'. Names win over patterns, longer patterns over
// shorter ones, in whatever order they were given; patterns count without
// named attributes too.
TEST_F(CfgStore, AttributePatterns) {
  const std::string p35 = std::string(35, 'P') + "*";
  const std::string p36 = std::string(36, 'P') + "*";
  const std::string p35_matched = std::string(35, 'P') + "X";
  ASSERT_EQ(cfg_set_tag_action(config_, "A", ACTION_EDIT), 0);
  ASSERT_EQ(cfg_set_tag_action(config_, "P", ACTION_EDIT), 0);
  ASSERT_EQ(cfg_set_tag_action(config_, "K", ACTION_KEEP), 0);
  run_steps(config_, {
      {"short pattern first", attr_action("A", "O*", ACTION_WARN), 0, ""},
      {"name", attr_action("A", "ONLOAD", ACTION_KEEP), 0, ""},
      {"longer pattern", attr_action("A", "ON*", ACTION_DROP), 0, ""},
      {"the name of a pattern's prefix", attr_action("A", "ON", ACTION_KEEP), 0, ""},
      {"longest pattern last", attr_action("A", "ONM*", ACTION_KEEP), 0, ""},
      {"same length, other prefix", attr_action("A", "OX*", ACTION_KEEP), 0, ""},
      {"pattern twice", attr_action("A", "ON*", ACTION_KEEP), 1,
       "add_atr_action: action for attribute ON* already defined\n"},
      {"35 characters before the star", attr_action("P", p35.c_str(), ACTION_DROP), 0, ""},
      {"36 characters before the star", attr_action("P", p36.c_str(), ACTION_DROP), 1,
       "add_attr_action: overly long attribute " + p36 + " in configuration file\n"},
      {"pattern of a tag that is not named", attr_action("NOPE", "ON*", ACTION_DROP), 1,
       "add_attr_action: tag NOPE does not exist\n"},
      {"pattern on a tag that is only kept", attr_action("K", "ON*", ACTION_DROP), 0, ""},
  });
  const struct {
    const char* tag;
    const char* attribute;
    Action want;
  } queries[] = {
      {"A", "ONCLICK", ACTION_DROP},   {"A", "ONLOAD", ACTION_KEEP},      // the name wins
      {"A", "ON", ACTION_KEEP},        {"A", "ONMOUSEOVER", ACTION_KEEP},  // the longest pattern wins
      {"A", "OPEN", ACTION_WARN},      {"A", "O", ACTION_WARN},          {"A", "OXEN", ACTION_KEEP},
      {"A", "onclick", ACTION_KEEP},   {"A", "HREF", ACTION_KEEP},       {"A", "", ACTION_KEEP},
      {"P", p35_matched.c_str(), ACTION_DROP},                          {"P", "PP", ACTION_KEEP},
      {"K", "ONCLICK", ACTION_DROP},   {"U", "ONCLICK", ACTION_KEEP},
  };
  for (const auto& q : queries) {
    SCOPED_TRACE(testing::Message() << q.tag << " " << q.attribute);
    EXPECT_EQ(cfg_attr_action(config_, q.tag, q.attribute), q.want);
  }
  ASSERT_EQ(cfg_set_attr_default(config_, "A", ACTION_DROP), 0);
  EXPECT_EQ(cfg_attr_action(config_, "A", "HREF"), ACTION_DROP);
  EXPECT_EQ(cfg_attr_action(config_, "A", "OXEN"), ACTION_KEEP);

  // What the tag names already, for the reader's messages.
  EXPECT_EQ(cfg_attr_named(config_, "A", "ON*"), 1);
  EXPECT_EQ(cfg_attr_named(config_, "A", "ON"), 1);
  EXPECT_EQ(cfg_attr_named(config_, "A", "ONLOAD"), 1);
  EXPECT_EQ(cfg_attr_named(config_, "A", "ONCLICK"), 0);  // matched by a pattern, not named
  EXPECT_EQ(cfg_attr_named(config_, "A", "ONL*"), 0);
  EXPECT_EQ(cfg_attr_named(config_, "A", p36.c_str()), 0);
  EXPECT_EQ(cfg_attr_named(config_, "U", "ON*"), 0);
  EXPECT_EQ(cfg_attr_named(nullptr, "A", "ON*"), 0);
  EXPECT_EQ(cfg_attr_named(config_, "A", nullptr), 0);
}

TEST_F(CfgStore, LifeCycle) {
  EXPECT_EQ(cfg_valid(config_), 1);
  EXPECT_EQ(cfg_valid(nullptr), 0);

  ASSERT_EQ(cfg_set_tag_action(config_, "A", ACTION_EDIT), 0);
  ASSERT_EQ(cfg_set_attr_action(config_, "A", "X", ACTION_DROP), 0);
  ASSERT_EQ(cfg_set_attr_action(config_, "A", "Y", ACTION_DROP), 0);
  ASSERT_EQ(cfg_set_attr_action(config_, "A", "Y*", ACTION_DROP), 0);
  ASSERT_EQ(cfg_set_attr_action(config_, "A", "YZ*", ACTION_DROP), 0);
  ASSERT_EQ(cfg_set_tag_action(config_, "B", ACTION_KEEP), 0);

  Config* const record = config_;
  testing::internal::CaptureStderr();
  cfg_destruct(&config_);
  cfg_destruct(&config_);  // a second time: nothing
  cfg_destruct(nullptr);
  Config* none = nullptr;
  cfg_destruct(&none);
  cfg_release(&none);
  cfg_release(nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(config_, record);
  EXPECT_EQ(cfg_valid(config_), 0);

  cfg_release(&config_);  // frees the destroyed record
  EXPECT_EQ(config_, nullptr);

  Config* live = cfg_construct();
  ASSERT_NE(live, nullptr);
  ASSERT_EQ(cfg_set_tag_action(live, "A", ACTION_EDIT), 0);
  ASSERT_EQ(cfg_set_attr_action(live, "A", "X", ACTION_DROP), 0);
  cfg_release(&live);  // entries and record: the leak checker sees the rest
  EXPECT_EQ(live, nullptr);
}

// Every query on a null and on a destroyed Config, three rounds; 0 when all
// of them answered KEEP.
int query_invalid_configs() {
  Config* dead = cfg_construct();
  if (dead == nullptr || cfg_set_tag_default(dead, ACTION_DROP) != 0 || cfg_set_comment_action(dead, ACTION_DROP) != 0) {
    return 2;
  }
  cfg_destruct(&dead);
  int wrong = 0;
  for (int round = 0; round < 3; ++round) {
    for (const Config* config : {static_cast<const Config*>(nullptr), static_cast<const Config*>(dead)}) {
      wrong += cfg_action(config, "U") != ACTION_KEEP ? 1 : 0;
      wrong += cfg_attr_action(config, "U", "X") != ACTION_KEEP ? 1 : 0;
      wrong += cfg_comment_action(config) != ACTION_KEEP ? 1 : 0;
    }
  }
  cfg_release(&dead);
  return wrong == 0 ? 0 : 1;
}

// The messages of the queries on an invalid Config are printed once per
// process. The queries run in a newly started copy of this program, so that
// no earlier test (or an earlier --gtest_repeat round) has used up a message.
TEST_F(CfgStore, QueriesOnAnInvalidConfigReportOnce) {
  const std::string style = GTEST_FLAG_GET(death_test_style);
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(std::exit(query_invalid_configs()), testing::ExitedWithCode(0),
              "^cfg_action: invalid Config\n"  // cfg_action
              "cfg_action: invalid Config\n"   // cfg_attr_action, with its own flag
              "cfg_comment_action: invalid Config\n$");
  GTEST_FLAG_SET(death_test_style, style);
}

// Queries take names from the policy, which never passes null, but the store
// promises not to crash on a null name; each call runs in a child process so
// that a crash fails the case instead of the whole run.
TEST_F(CfgStore, QueriesWithNullNamesDoNotCrash) {
  ASSERT_EQ(cfg_set_tag_action(config_, "A", ACTION_EDIT), 0);
  ASSERT_EQ(cfg_set_attr_action(config_, "A", "X", ACTION_DROP), 0);
  EXPECT_EXIT(
      {
        (void)cfg_action(config_, nullptr);
        std::exit(0);
      },
      testing::ExitedWithCode(0), "")
      << "cfg_action(config, nullptr)";
  EXPECT_EXIT(
      {
        (void)cfg_attr_action(config_, nullptr, "X");
        std::exit(0);
      },
      testing::ExitedWithCode(0), "")
      << "cfg_attr_action(config, nullptr, \"X\")";
  EXPECT_EXIT(
      {
        (void)cfg_attr_action(config_, "A", nullptr);
        std::exit(0);
      },
      testing::ExitedWithCode(0), "")
      << "cfg_attr_action(config, \"A\", nullptr)";
}

}  // namespace

// The order of rules for one attribute, each step decisive in one case:
// the tag's name, the tag's pattern, the name and the pattern among the
// rules for every tag, the tag's DEFAULT, the DEFAULT for every tag, KEEP.
TEST_F(CfgStore, OrderOfRulesWithRulesForEveryTag) {
  run_steps(config_, {
                         {"every tag", tag_action("*", ACTION_EDIT), 0, ""},
                         {"every tag: id", attr_action("*", "ID", ACTION_KEEP), 0, ""},
                         {"every tag: class", attr_action("*", "CLASS", ACTION_WARN), 0, ""},
                         {"every tag: onload", attr_action("*", "ONLOAD", ACTION_KEEP), 0, ""},
                         {"every tag: on*", attr_action("*", "ON*", ACTION_DROP), 0, ""},
                         {"every tag: data-*", attr_action("*", "DATA-*", ACTION_WARN), 0, ""},
                         {"every tag: default", attr_default("*", ACTION_WARN), 0, ""},
                         {"edited A", tag_action("A", ACTION_EDIT), 0, ""},
                         {"A: id", attr_action("A", "ID", ACTION_DROP), 0, ""},
                         {"A: cl*", attr_action("A", "CL*", ACTION_KEEP), 0, ""},
                         {"A: default", attr_default("A", ACTION_DROP), 0, ""},
                         {"kept B", tag_action("B", ACTION_KEEP), 0, ""},
                     });
  struct Row {
    const char* tag;
    const char* attribute;
    Action want;
  };
  for (const Row& row : std::vector<Row>{
           {"A", "ID", ACTION_DROP},        // the tag's name before every tag's name
           {"A", "CLASS", ACTION_KEEP},     // the tag's pattern before every tag's name
           {"A", "ONLOAD", ACTION_KEEP},    // every tag's name before its pattern and the tag's DEFAULT
           {"A", "DATA-X", ACTION_WARN},    // every tag's pattern before the tag's DEFAULT
           {"A", "TITLE", ACTION_DROP},     // the tag's DEFAULT before every tag's
           {"B", "ONCLICK", ACTION_DROP},   // every tag's pattern before its DEFAULT
           {"B", "TITLE", ACTION_WARN},     // every tag's DEFAULT before KEEP
           {"U", "TITLE", ACTION_WARN},     // a tag that is not named
           {"U", "ONMOUSEOVER", ACTION_DROP},
       }) {
    SCOPED_TRACE(testing::Message() << row.tag << " " << row.attribute);
    EXPECT_EQ(cfg_attr_action(config_, row.tag, row.attribute), row.want);
    const CfgTag* entry = nullptr;
    (void)cfg_action_entry(config_, row.tag, &entry);
    EXPECT_EQ(cfg_rules_attr_action(config_, entry, row.attribute), row.want);
  }
  // The entry's own answer leaves the rules for every tag out.
  const CfgTag* b = nullptr;
  (void)cfg_action_entry(config_, "B", &b);
  EXPECT_EQ(cfg_entry_attr_action(b, "ONCLICK"), ACTION_KEEP);
  // "*" is no tag of a document: it gets the tag default.
  EXPECT_EQ(cfg_action(config_, "*"), ACTION_KEEP);
  EXPECT_EQ(cfg_has_every_tag_rules(config_), 1);
}

TEST_F(CfgStore, WithoutDefaultsTheLastStepKeeps) {
  run_steps(config_, {
                         {"every tag", tag_action("*", ACTION_EDIT), 0, ""},
                         {"every tag: style", attr_action("*", "STYLE", ACTION_DROP), 0, ""},
                         {"edited A", tag_action("A", ACTION_EDIT), 0, ""},
                         {"A: href", attr_action("A", "HREF", ACTION_WARN), 0, ""},
                     });
  EXPECT_EQ(cfg_attr_action(config_, "A", "TITLE"), ACTION_KEEP);
  EXPECT_EQ(cfg_attr_action(config_, "A", "STYLE"), ACTION_DROP);
  EXPECT_EQ(cfg_attr_action(config_, "U", "TITLE"), ACTION_KEEP);
}

TEST_F(CfgStore, RulesForEveryTagMisused) {
  EXPECT_EQ(cfg_has_every_tag_rules(config_), 0);
  run_steps(config_, {
                         {"attribute before the rules", attr_action("*", "ON*", ACTION_DROP), 1,
                          "add_attr_action: tag * does not exist\n"},
                         {"default before the rules", attr_default("*", ACTION_DROP), 1,
                          "add_attr_default: tag * does not exist\n"},
                         {"not edited", tag_action("*", ACTION_KEEP), 1,
                          "cfg_set_tag_action: the rules for every tag are given in braces\n"},
                         {"every tag", tag_action("*", ACTION_EDIT), 0, ""},
                         {"twice", tag_action("*", ACTION_EDIT), 1, "add_action: multiple actions specified for tag *\n"},
                         {"pattern twice", attr_action("*", "ON*", ACTION_DROP), 0, ""},
                         {"pattern twice", attr_action("*", "ON*", ACTION_KEEP), 1,
                          "add_atr_action: action for attribute ON* already defined\n"},
                     });
  EXPECT_EQ(cfg_attr_named(config_, "*", "ON*"), 1);
}

TEST_F(CfgStore, SchemesRelativeAndLinkRelations) {
  const auto schemes = [](Config* c) { return cfg_set_schemes(c); };
  const auto scheme = [](const char* name) { return [=](Config* c) { return cfg_add_scheme(c, name); }; };
  const auto relative = [](Action a) { return [=](Config* c) { return cfg_set_relative(c, a); }; };
  const auto link_rel = [](Config* c) { return cfg_set_link_rel(c); };
  const auto rel = [](const char* name) { return [=](Config* c) { return cfg_add_link_rel(c, name); }; };
  EXPECT_EQ(cfg_scheme_allowed(config_, "https", 5), -1);
  EXPECT_EQ(cfg_link_rel(config_), nullptr);
  EXPECT_EQ(cfg_relative_action(config_), ACTION_KEEP);
  const std::string s35(35, 's');
  const std::string s36(36, 's');
  run_steps(config_, {
                         {"schemes", schemes, 0, ""},
                         {"https", scheme("HTTPS"), 0, ""},
                         {"twice", scheme("https"), 0, ""},
                         {"svn+ssh", scheme("svn+ssh"), 0, ""},
                         {"35 characters", scheme(s35.c_str()), 0, ""},
                         {"36 characters", scheme(s36.c_str()), 1, "cfg_add_scheme: invalid URL scheme " + s36 + "\n"},
                         {"digit first", scheme("9P"), 1, "cfg_add_scheme: invalid URL scheme 9P\n"},
                         {"underscore", scheme("A_B"), 1, "cfg_add_scheme: invalid URL scheme A_B\n"},
                         {"schemes again", schemes, 1, "cfg_set_schemes: multiple scheme lists specified\n"},
                         {"relative", relative(ACTION_DROP), 0, ""},
                         {"relative WARN", relative(ACTION_WARN), 1, "cfg_set_relative: invalid action\n"},
                         {"relative again", relative(ACTION_KEEP), 1,
                          "cfg_set_relative: multiple actions specified for relative URLs\n"},
                         {"link rel", link_rel, 0, ""},
                         {"noopener", rel("NOOPENER"), 0, ""},
                         {"nofollow", rel("nofollow"), 0, ""},
                         {"twice", rel("noopener"), 0, ""},
                         {"unknown", rel("NOOPNER"), 1,
                          "cfg_add_link_rel: unknown link relation NOOPNER (accepted: nofollow, noopener, noreferrer, "
                          "sponsored, ugc)\n"},
                         {"link rel again", link_rel, 1, "cfg_set_link_rel: multiple link relation lists specified\n"},
                     });
  EXPECT_EQ(cfg_scheme_allowed(config_, "HTTPS", 5), 1);
  EXPECT_EQ(cfg_scheme_allowed(config_, "http", 4), 0);
  EXPECT_EQ(cfg_scheme_allowed(config_, "httpsx", 6), 0);
  EXPECT_EQ(cfg_scheme_allowed(config_, "svn+ssh", 7), 1);
  EXPECT_EQ(cfg_relative_action(config_), ACTION_KEEP);  // the last one given is stored
  EXPECT_STREQ(cfg_link_rel(config_), "noopener nofollow");
}
