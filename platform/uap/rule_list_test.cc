#include "platform/uap/rule_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace uap_cpp {
namespace {

TEST(RuleListTest, ExpandReplacement) {
  MatchGroups g;
  g[0] = "Foo/1.2";
  g[1] = "Foo";
  g[2] = "1";
  g[3] = "2";
  const struct {
    const char* tmpl;
    const char* want;
  } cases[] = {
      {"$1 for ArcGIS", "Foo for ArcGIS"},
      {"$2.$3", "1.2"},
      {"$3$2$1", "21Foo"},
      {"Generic $9", "Generic"},  // an absent group is empty, and the blank is trimmed
      {"  $1  ", "Foo"},
      {"$0 $", "$0 $"},           // only $1 to $9 are groups
      {"$$1", "$Foo"},
      {"$10", "Foo0"},
      {"Literal", "Literal"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(ExpandReplacement(c.tmpl, g), c.want) << c.tmpl;
}

PatternEntry Entry(const char* regex, std::map<std::string, std::string> fields = {}) {
  PatternEntry e;
  e.regex = regex;
  e.fields = std::move(fields);
  return e;
}

const std::vector<FieldRule> kFields = {{"family", 1}, {"brand", 0}, {"model", 2}};

TEST(RuleListTest, TemplatesThenDefaultGroups) {
  RuleList rules("test",
                 {Entry("(Nexus) (\\w+)", {{"brand", "Google"}, {"family", "$1 $2"}}),
                  Entry("(Pixel) ?(\\d*)"),
                  Entry("(SM-\\w+)", {{"model", "$1"}, {"unrelated", "x"}})},
                 kFields, true);
  const struct {
    const char* text;
    RuleList::Values want;
  } cases[] = {
      {"Android; Nexus 5X Build", {"Nexus 5X", "Google", "5X", "", ""}},
      {"Pixel 8", {"Pixel", "", "8", "", ""}},
      {"Pixel", {"Pixel", "", "", "", ""}},           // default group that matched empty
      {"SM-S918B", {"SM-S918B", "", "SM-S918B", "", ""}},
  };
  for (const auto& c : cases) {
    RuleList::Values v;
    v.fill("stale");
    ASSERT_TRUE(rules.Apply(c.text, &v)) << c.text;
    EXPECT_EQ(v, c.want) << c.text;
  }
  RuleList::Values untouched;
  untouched.fill("kept");
  EXPECT_FALSE(rules.Apply("Lumia", &untouched));
  EXPECT_EQ(untouched[0], "kept");
}

}  // namespace
}  // namespace uap_cpp
