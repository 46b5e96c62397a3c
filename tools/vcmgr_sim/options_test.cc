// The command line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/vcmgr_sim/options.h"

namespace vcmgr_sim {
namespace {

TEST(OptionsTest, ValuesAndDefaults) {
  Options o;
  std::string error;
  ASSERT_EQ(ParseOptions({"--inventory", "inv.json", "--port=0", "--no_answer", "--latency_ms=40",
                          "--print_stats=false", "--vcenter_url="},
                         &o, &error),
            ParseResult::kRun)
      << error;
  EXPECT_EQ(o.inventory_path, "inv.json");
  EXPECT_EQ(o.port, 0);
  EXPECT_TRUE(o.no_answer);
  EXPECT_EQ(o.latency_ms, 40);
  EXPECT_FALSE(o.print_stats);
  EXPECT_TRUE(o.set_vcenter_url);
  EXPECT_EQ(o.notify_port, 5008);
  EXPECT_EQ(o.batch_size, 500);
  EXPECT_FALSE(o.generate);

  ASSERT_EQ(ParseOptions({"--generate=hosts=7,vms=3"}, &o, &error), ParseResult::kRun) << error;
  EXPECT_TRUE(o.generate);
  EXPECT_EQ(o.generate_sizes.hosts, 7);
  EXPECT_EQ(o.port, 5007);
  EXPECT_EQ(ParseOptions({"--port=1", "--help"}, &o, &error), ParseResult::kHelp);
}

TEST(OptionsTest, ErrorsNameTheFlag) {
  struct Case {
    std::vector<std::string> args;
    const char* want;
  };
  const Case cases[] = {
      {{}, "give --inventory=PATH or --generate=SIZES"},
      {{"--inventory=a", "--generate=hosts=1"}, "give --inventory or --generate, not both"},
      {{"--generate=", "--colour=red"}, "unknown flag --colour"},
      {{"--generate=", "--port=70000"}, "--port needs a whole number from 0 to 65535, not '70000'"},
      {{"--generate=", "--port=12ab"}, "--port needs a whole number"},
      {{"--generate=", "--batch_size=0"}, "--batch_size needs a whole number from 1"},
      {{"--generate=", "--no_answer=maybe"}, "--no_answer takes true or false, not 'maybe'"},
      {{"--generate=", "--notify_port"}, "--notify_port needs a value"},
      {{"--generate=", "stray"}, "unexpected argument 'stray'"},
      {{"--inventory="}, "--inventory needs a value"},
      {{"--generate=vms=x"}, "--generate: vms needs a whole number"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.want);
    Options o;
    std::string error;
    EXPECT_EQ(ParseOptions(c.args, &o, &error), ParseResult::kError);
    EXPECT_EQ(error.compare(0, std::string(c.want).size(), c.want), 0) << error;
  }
}

}  // namespace
}  // namespace vcmgr_sim
