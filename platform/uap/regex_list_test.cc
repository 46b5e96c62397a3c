#include "platform/uap/regex_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace uap_cpp {
namespace {

// Position and group 1 of the first match, as "pos:group1" ("-1" for none).
std::string First(const RegexList& list, const std::string& text) {
  MatchGroups g;
  const int pos = list.FirstMatch(text, &g);
  return pos < 0 ? "-1" : std::to_string(pos) + ":" + std::string(g[1]);
}

TEST(RegexListTest, WidenCountedRepeats) {
  const struct {
    const char* in;
    const char* want;
  } cases[] = {
      {"Mozilla.{1,200}Mobile.{0,100}?(Foo)", "Mozilla.{1,}Mobile.{0,}?(Foo)"},
      {"\\d{4} \\d{2,} x{3}", "\\d{4} \\d{2,} x{3}"},  // exact and open repeats stay
      {"\\{1,2\\} a\\{1,2}", "\\{1,2\\} a\\{1,2}"},        // escaped braces are literals
      {"[{1,2}]{1,2}", "[{1,2}]{1,}"},                        // inside a class: literals
      {"[]{1,2}]{1,2}[^]{3,4}]", "[]{1,2}]{1,}[^]{3,4}]"},    // a leading ']' is a member
      {"[[:alpha:]{1,2}]{1,2}", "[[:alpha:]{1,2}]{1,}"},
      {"[\\]{1,2}]{1,2}", "[\\]{1,2}]{1,}"},
      {"a{,5} b{x,2} c{1,2", "a{,5} b{x,2} c{1,2"},          // not repeats
      {"trailing\\", "trailing\\"},
  };
  for (const auto& c : cases) EXPECT_EQ(WidenCountedRepeats(c.in), c.want) << c.in;
}

const std::vector<RegexSource> kMixed = {
    {"Foo(?!Bar)/(\\d+)", false},  // look-ahead: RE2 refuses it, std::regex takes it
    {"(Foo\\w*)/(\\d+)", false},
    {"(Opera).*Version/(\\d+)", false},
    {"(?<=x)y", false},           // look-behind: neither engine takes it
    {"(bot)(?=\\b)", true},       // case-insensitive fallback pattern
    {"(Bot|Spider)", false},
    {"(?:Mobile|Tablet)(?: (X))?", false},
    {"(", false},                 // broken: skipped
};

TEST(RegexListTest, EngineChoiceIsCounted) {
  for (bool prefilter : {true, false}) {
    RegexList list("test", kMixed, prefilter);
    EXPECT_EQ(list.stats().total, 8u);
    EXPECT_EQ(list.stats().re2, 4u);
    EXPECT_EQ(list.stats().fallback, 2u);
    EXPECT_EQ(list.stats().skipped, 2u);
    EXPECT_EQ(list.stats().prefiltered, prefilter);
  }
}

// The earliest matching pattern wins whichever engine runs it, with or without the set.
TEST(RegexListTest, EarliestPatternWinsAcrossEngines) {
  const struct {
    const char* text;
    const char* want;
  } cases[] = {
      {"Foo/12", "0:12"},             // the fallback pattern comes first
      {"FooBar/12", "1:FooBar"},      // its look-ahead fails; the RE2 pattern after it matches
      {"Opera/9.80 Version/12", "2:Opera"},
      {"xy", "-1"},                   // the skipped pattern never matches
      {"GoogleBot/2.1", "4:Bot"},     // fallback, flagged 'i', beats pattern 5 that matches too
      {"Spider", "5:Spider"},
      {"Tablet", "6:"},               // a group that did not take part is empty
      {"Mobile X", "6:X"},
      {"nothing here", "-1"},
      {"", "-1"},
  };
  for (bool prefilter : {true, false}) {
    RegexList list("test", kMixed, prefilter);
    for (const auto& c : cases) {
      EXPECT_EQ(First(list, c.text), c.want) << c.text << " prefilter=" << prefilter;
    }
  }
}

TEST(RegexListTest, GroupsViewTheText) {
  RegexList list("test", {{"(a)(b)?(c)", false}, {"((x)(y))", false}});
  const std::string text = "zzxy";
  MatchGroups g;
  ASSERT_EQ(list.FirstMatch(text, &g), 1);
  EXPECT_EQ(g[0], "xy");
  EXPECT_EQ(g[1], "xy");
  EXPECT_EQ(g[2], "x");
  EXPECT_EQ(g[3], "y");
  EXPECT_TRUE(g[4].empty());
  EXPECT_EQ(g[2].data(), text.data() + 2);
  ASSERT_EQ(list.FirstMatch("ac", &g), 0);
  EXPECT_TRUE(g[2].empty());
  EXPECT_EQ(g[3], "c");
}

// The fallback engine recurses per character: it only sees the start of a long text, and a
// huge text neither crashes it nor hides RE2 matches further on.
TEST(RegexListTest, LongTextsAreSafeOnTheFallbackEngine) {
  RegexList list("test", {{"^(a+)(?!b)", false}, {"(tail)$", false}});
  std::string text(200000, 'a');
  text += "tail";
  MatchGroups g;
  ASSERT_EQ(list.FirstMatch(text, &g), 0);
  EXPECT_EQ(g[1].size(), RegexList::kFallbackMaxInput);
  RegexList later("test", {{"(z)(?!b)", false}, {"(tail)$", false}});
  EXPECT_EQ(First(later, text), "1:tail");
}

}  // namespace
}  // namespace uap_cpp
