// The IP address group table: longest-prefix match per tenant, tenant order, replacement by
// uuid, and the rate-limited warnings for entries that cannot be added.
#include "controller/metrics_manager/ip_table.h"

#include <glog/logging.h>
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "controller/metrics_manager/metrics_common.h"

namespace kyv::infra::log {
namespace {

// Collects the warning lines written while it exists.
class WarningCapture : public google::LogSink {
 public:
  WarningCapture() { google::AddLogSink(this); }
  ~WarningCapture() override { google::RemoveLogSink(this); }
  using google::LogSink::send;
  void send(google::LogSeverity severity, const char*, const char*, int,
            const google::LogMessageTime&, const char* message, size_t length) override {
    if (severity == google::GLOG_WARNING) lines.emplace_back(message, length);
  }
  std::vector<std::string> lines;
};

struct GroupFields {
  std::string uuid;
  std::string tenant;
  std::vector<std::string> addrs;
  std::vector<std::pair<std::string, std::string>> ranges;
  std::vector<std::pair<std::string, int>> prefixes;
};

IpAddrGroup Group(const GroupFields& s) {
  IpAddrGroup g;
  g.set_uuid(s.uuid);
  g.set_name("name-" + s.uuid);
  g.set_tenant_uuid(s.tenant);
  for (const auto& a : s.addrs) g.add_addrs()->set_addr(a);
  for (const auto& r : s.ranges) {
    IpAddrRange* range = g.add_ranges();
    range->mutable_begin()->set_addr(r.first);
    range->mutable_end()->set_addr(r.second);
  }
  for (const auto& p : s.prefixes) {
    IpAddrPrefix* prefix = g.add_prefixes();
    prefix->mutable_ip_addr()->set_addr(p.first);
    prefix->set_mask(p.second);
  }
  return g;
}

class IpTableGroupTest : public ::testing::Test {
 protected:
  void Add(const GroupFields& fields) { ipg_.upd_group(Group(fields)); }
  std::string Find(const std::string& ip, const std::vector<std::string>& tenants) {
    return ipg_.get_ipaddrgroup(ip, tenants);
  }
  ip_table_group ipg_;
};

TEST_F(IpTableGroupTest, AddressMatchesOnlyForItsTenant) {
  EXPECT_TRUE(ipg_.is_empty());
  Add({"g1", "t", {"10.1.1.1"}, {}, {}});
  EXPECT_FALSE(ipg_.is_empty());
  EXPECT_EQ(Find("10.1.1.1", {"admin", "t"}), "name-g1");
  EXPECT_EQ(Find("10.1.1.1", {"admin"}), "");
  EXPECT_EQ(Find("10.1.1.2", {"admin", "t"}), "");
  EXPECT_EQ(Find("10.1.1.1", {}), "");
}

TEST_F(IpTableGroupTest, LongestPrefixWinsWithinATenant) {
  Add({"a", "t", {}, {}, {{"10.0.0.0", 8}}});
  Add({"b", "t", {"10.1.1.1"}, {}, {}});
  struct {
    const char* ip;
    const char* name;
  } cases[] = {
      {"10.1.1.1", "name-b"}, {"10.1.1.2", "name-a"}, {"10.255.0.1", "name-a"}, {"11.0.0.0", ""}};
  for (const auto& c : cases) EXPECT_EQ(Find(c.ip, {"t"}), c.name) << c.ip;
}

TEST_F(IpTableGroupTest, FirstTenantInTheListWins) {
  Add({"ga", "admin", {}, {}, {{"10.0.0.0", 16}}});
  Add({"gt", "t", {"10.0.1.1"}, {}, {}});
  EXPECT_EQ(Find("10.0.1.1", {"admin", "t"}), "name-ga");  // even though t's match is longer
  EXPECT_EQ(Find("10.0.1.1", {"t", "admin"}), "name-gt");
  EXPECT_EQ(Find("10.0.1.1", {"unknown", "t"}), "name-gt");  // tenants without a table skipped
}

TEST_F(IpTableGroupTest, RangesAddTheirSplitAndItDecidesOverlaps) {
  Add({"single", "t", {}, {{"10.9.0.5", "10.9.0.5"}}, {}});
  Add({"reversed", "t", {}, {{"10.9.0.9", "10.9.0.2"}}, {}});
  Add({"bad", "t", {}, {{"10.9.0.1", "not-an-address"}}, {}});
  EXPECT_EQ(Find("10.9.0.5", {"t"}), "name-single");
  for (const char* ip : {"10.9.0.4", "10.9.0.6", "10.9.0.3", "10.9.0.1"}) {
    EXPECT_EQ(Find(ip, {"t"}), "") << ip;
  }
  // The range 10.0.0.0-255 is stored as /25 ... /32 pieces, all longer than a /24 and most
  // longer than the /28 of another group: the range's group wins inside that /28.
  Add({"range", "u", {}, {{"10.0.0.0", "10.0.0.255"}}, {}});
  Add({"p28", "u", {}, {}, {{"10.0.0.0", 28}}});
  for (const char* ip :
       {"10.0.0.0", "10.0.0.1", "10.0.0.5", "10.0.0.9", "10.0.0.15", "10.0.0.200"}) {
    EXPECT_EQ(Find(ip, {"u"}), "name-range") << ip;
  }
}

TEST_F(IpTableGroupTest, PrefixLengthsOutsideZeroToThirtyTwoAreSkipped) {
  Add({"g", "t", {}, {}, {{"10.0.0.0", 33}, {"11.0.0.0", -1}, {"12.0.0.0", 32}}});
  EXPECT_EQ(Find("10.0.0.0", {"t"}), "");
  EXPECT_EQ(Find("11.0.0.0", {"t"}), "");
  EXPECT_EQ(Find("12.0.0.0", {"t"}), "name-g");
}

TEST_F(IpTableGroupTest, MaskZeroMatchesEveryAddressOfTheTenant) {
  Add({"any", "t", {}, {}, {{"10.0.0.0", 0}}});
  Add({"all", "u", {}, {}, {{"0.0.0.0", 0}}});  // looks like the tree's empty answer
  for (const char* ip : {"0.0.0.0", "10.1.2.3", "255.255.255.255"}) {
    EXPECT_EQ(Find(ip, {"t"}), "name-any") << ip;
    EXPECT_EQ(Find(ip, {"u"}), "name-all") << ip;
  }
}

TEST_F(IpTableGroupTest, LaterGroupWithTheSameUuidReplacesTheEarlier) {
  Add({"g", "t", {"10.0.0.1"}, {}, {}});
  IpAddrGroup second = Group({"g", "t", {"10.0.0.2"}, {}, {}});
  second.set_name("renamed");
  ipg_.upd_group(second);
  EXPECT_EQ(Find("10.0.0.1", {"t"}), "");
  EXPECT_EQ(Find("10.0.0.2", {"t"}), "renamed");

  // A bulk load (set_group, then rebuild) ends in the same table.
  ip_table_group bulk;
  bulk.set_group(Group({"g", "t", {"10.0.0.1"}, {}, {}}));
  bulk.set_group(second);
  EXPECT_EQ(bulk.get_ipaddrgroup("10.0.0.2", {"t"}), "");  // not built yet
  bulk.rebuild();
  EXPECT_EQ(bulk.get_ipaddrgroup("10.0.0.1", {"t"}), "");
  EXPECT_EQ(bulk.get_ipaddrgroup("10.0.0.2", {"t"}), "renamed");
}

TEST_F(IpTableGroupTest, SamePrefixInTwoGroupsKeepsTheFirstInUuidOrder) {
  Add({"b", "t", {"10.0.0.1"}, {}, {}});
  Add({"a", "t", {"10.0.0.1"}, {}, {}});
  EXPECT_EQ(Find("10.0.0.1", {"t"}), "name-a");
}

TEST_F(IpTableGroupTest, GroupNameIsFoundInAnyTenantsMap) {
  Add({"g", "t", {"10.0.0.1"}, {}, {}});
  EXPECT_EQ(ipg_.find_ipgroup("g"), "name-g");
  EXPECT_EQ(ipg_.find_ipgroup("missing"), "");
  ipg_.clear_ipg();
  EXPECT_TRUE(ipg_.is_empty());
  EXPECT_EQ(Find("10.0.0.1", {"t"}), "");
}

TEST(IpTableTest, DeleteAndClearRebuildTheTree) {
  ip_table table;
  table.upd_obj(Group({"a", "t", {"10.0.0.1"}, {}, {}}));
  table.upd_obj(Group({"b", "t", {}, {}, {{"10.0.0.0", 24}}}));
  EXPECT_EQ(table.size(), 2u);
  EXPECT_EQ(table.find_ip("10.0.0.1"), "a");
  table.del_obj("a");
  EXPECT_EQ(table.find_obj("a"), nullptr);
  ASSERT_NE(table.find_obj("b"), nullptr);
  EXPECT_EQ(table.find_ip("10.0.0.1"), "b");
  table.clear_ipt();
  EXPECT_EQ(table.size(), 0u);
  EXPECT_EQ(table.find_ip("10.0.0.1"), "");
}

TEST(IpTableTest, WarningsAreRateLimitedPerMessage) {
  const int32_t saved = FLAGS_logging_freq;
  FLAGS_logging_freq = 3;
  ip_table table;
  WarningCapture capture;
  for (int i = 0; i < 6; ++i) table.add_ipentry("10.0.0.1", 33, "u");
  for (int i = 0; i < 3; ++i) table.add_ipentry("10.0.0.1", -2, "u");
  for (int i = 0; i < 6; ++i) table.add_ipentry("10.0.0", 32, "u");  // inet_aton takes "a.b.c"
  for (int i = 0; i < 3; ++i) table.add_ipentry("10.0.0.x", 32, "u");
  table.add_ipentry(std::string("10.0.0.9\0junk", 13), 32, "u");
  for (int i = 0; i < 3; ++i) EXPECT_EQ(table.find_ip("nowhere"), "");
  FLAGS_logging_freq = saved;

  auto count = [&](const std::string& prefix) {
    int n = 0;
    for (const std::string& line : capture.lines) n += line.rfind(prefix, 0) == 0 ? 1 : 0;
    return n;
  };
  // Nine occurrences of one message at a period of three: three lines, whatever came before.
  EXPECT_EQ(count("add_ipentry  len > 32. len "), 3);
  EXPECT_EQ(count("add_ipentry  len > 32. len -2"), 1);
  const int addr_lines = count("add_ipentry  invalid address: ip = 10.0.0.");  // four occurrences
  EXPECT_GE(addr_lines, 1);
  EXPECT_LE(addr_lines, 2);
  EXPECT_EQ(count("find_ip  invalid address: dst = nowhere"), 1);
  EXPECT_EQ(table.find_ip("10.0.0.0"), "u");  // "10.0.0" read as 10.0.0.0
}

}  // namespace
}  // namespace kyv::infra::log
