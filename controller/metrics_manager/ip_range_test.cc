// The split of address ranges into prefixes: order, edges and coverage.
#include "controller/metrics_manager/ip_range.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <random>
#include <string>

namespace kyv::infra::log {
namespace {

uint32_t Addr(const char* text) {
  in_addr a{};
  EXPECT_EQ(inet_pton(AF_INET, text, &a), 1) << text;
  return ntohl(a.s_addr);
}

std::string Text(const std::vector<Ipv4Prefix>& prefixes) {
  std::string out;
  for (const Ipv4Prefix& p : prefixes) {
    const in_addr a{htonl(p.addr)};
    char buf[INET_ADDRSTRLEN];
    out +=
        std::string(inet_ntop(AF_INET, &a, buf, sizeof(buf))) + "/" + std::to_string(p.len) + " ";
  }
  return out;
}

TEST(SplitIpRangeTest, DecomposesInTheTableOrder) {
  struct Case {
    const char* begin;
    const char* end;
    const char* prefixes;
  } cases[] = {
      // A block is never placed at relative 0: an aligned /24 becomes nine prefixes.
      {"10.0.0.0", "10.0.0.255",
       "10.0.0.128/25 10.0.0.64/26 10.0.0.32/27 10.0.0.16/28 10.0.0.8/29 10.0.0.4/30 "
       "10.0.0.2/31 10.0.0.0/32 10.0.0.1/32 "},
      {"10.0.0.5", "10.0.0.5", "10.0.0.5/32 "},
      {"10.0.0.9", "10.0.0.2", ""},
      {"10.0.0.4", "10.0.0.7", "10.0.0.6/31 10.0.0.4/32 10.0.0.5/32 "},
      // The block, then what lies above it, then what lies below it.
      {"10.0.0.3", "10.0.0.10", "10.0.0.4/30 10.0.0.8/31 10.0.0.10/32 10.0.0.3/32 "},
      {"10.0.0.1", "10.0.0.2", "10.0.0.1/32 10.0.0.2/32 "},
      {"192.168.0.255", "192.168.1.0", "192.168.0.255/32 192.168.1.0/32 "},
      {"255.255.255.254", "255.255.255.255", "255.255.255.254/32 255.255.255.255/32 "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.begin) + " - " + c.end);
    EXPECT_EQ(Text(SplitIpRange(Addr(c.begin), Addr(c.end))), c.prefixes);
  }
}

TEST(SplitIpRangeTest, WholeAddressSpaceStartsAtTheTopBit) {
  const std::vector<Ipv4Prefix> all = SplitIpRange(0, 0xFFFFFFFFu);
  ASSERT_EQ(all.size(), 33u);
  for (int len = 1; len <= 31; ++len) {
    EXPECT_EQ(all[len - 1], (Ipv4Prefix{uint32_t{1} << (32 - len), len})) << len;
  }
  EXPECT_EQ(all[31], (Ipv4Prefix{0, 32}));
  EXPECT_EQ(all[32], (Ipv4Prefix{1, 32}));
}

// Whatever the range, the prefixes are aligned, disjoint and cover it exactly.
TEST(SplitIpRangeTest, RandomRangesAreCoveredExactly) {
  std::mt19937 rng(20240611);
  for (int i = 0; i < 3000; ++i) {
    uint32_t begin = rng();
    // Mostly short spans (where block edges matter), some across large blocks.
    const uint32_t span = i % 3 == 0 ? rng() : rng() % 5000;
    const uint32_t end = begin + span < begin ? 0xFFFFFFFFu : begin + span;
    const std::vector<Ipv4Prefix> prefixes = SplitIpRange(begin, end);
    ASSERT_LE(prefixes.size(), kMaxRangePrefixes);
    uint64_t covered = 0;
    for (const Ipv4Prefix& p : prefixes) {
      ASSERT_GE(p.len, 0);
      ASSERT_LE(p.len, 32);
      const uint64_t size = uint64_t{1} << (32 - p.len);
      ASSERT_EQ(p.addr % size, 0u) << "unaligned " << Text({p});
      ASSERT_GE(p.addr, begin) << Text(prefixes);
      ASSERT_LE(p.addr + size - 1, end) << Text(prefixes);
      for (const Ipv4Prefix& q : prefixes) {
        if (&p == &q) continue;
        const uint64_t qsize = uint64_t{1} << (32 - q.len);
        ASSERT_TRUE(p.addr + size <= q.addr || q.addr + qsize <= p.addr) << Text(prefixes);
      }
      covered += size;
    }
    ASSERT_EQ(covered, uint64_t{end} - begin + 1) << Text(prefixes);
  }
}

}  // namespace
}  // namespace kyv::infra::log
