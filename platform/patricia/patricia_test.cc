#include "platform/patricia/patricia.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

uint32_t Ip(const char* dotted) {
  in_addr a{};
  EXPECT_EQ(inet_pton(AF_INET, dotted, &a), 1) << dotted;
  return ntohl(a.s_addr);
}

struct Prefix {
  const char* addr;
  unsigned len;
  const char* name;
};

// A tree whose data pointers are strdup'ed names, released with free() at the end.
class Tree {
 public:
  Tree() : head_(pat_new_head()) {}
  ~Tree() { pat_free(head_, std::free); }
  Tree(const Tree&) = delete;
  Tree& operator=(const Tree&) = delete;

  // Inserts and returns pat_insert's answer; a turned-down node is released here.
  pat_node* Insert(uint32_t key, unsigned len, const char* name) {
    pat_node* n = pat_node_new(key, len, strdup(name));
    pat_node* got = pat_insert(n, head_);
    if (got != n) pat_node_free(n, std::free);
    return got;
  }
  void Insert(const Prefix& p) { ASSERT_NE(Insert(Ip(p.addr), p.len, p.name), nullptr); }

  // Name of the longest stored prefix holding addr; "" for the no-match answer (the head).
  std::string Find(uint32_t addr) const {
    pat_node* n = pat_search(addr, head_);
    if (n == head_) return "";
    return static_cast<const char*>(n->p_m[0].pm_data);
  }
  std::string Find(const char* addr) const { return Find(Ip(addr)); }

  pat_node* head() const { return head_; }

 private:
  pat_node* head_;
};

TEST(PatriciaTest, EmptyTreeAnswersTheHead) {
  Tree t;
  pat_node* head = t.head();
  EXPECT_EQ(head->p_left, head);
  EXPECT_EQ(head->p_right, head);
  for (const char* addr : {"0.0.0.0", "10.1.1.1", "255.255.255.255"}) {
    pat_node* n = pat_search(Ip(addr), head);
    ASSERT_EQ(n, head) << addr;
    EXPECT_EQ(n->p_key, 0u);
    ASSERT_EQ(n->p_mlen, 1);
    EXPECT_EQ(n->p_m[0].pm_mask, 0u);
    EXPECT_EQ(n->p_m[0].pm_data, nullptr);
  }
  EXPECT_EQ(pat_search(1, nullptr), nullptr);
}

const std::vector<Prefix> kPrefixes = {
    {"10.0.0.0", 8, "ten"},          {"10.1.0.0", 16, "ten-one"},  {"10.1.1.1", 32, "host"},
    {"10.1.1.0", 24, "ten-one-one"}, {"11.0.0.0", 8, "eleven"},    {"10.0.0.0", 7, "ten-seven"},
    {"192.168.7.0", 24, "lab"},      {"255.255.255.255", 32, "bcast"},
};

const struct {
  const char* addr;
  const char* want;
} kLookups[] = {
    {"10.1.1.1", "host"},          // an address beats every prefix around it
    {"10.1.1.2", "ten-one-one"},   // the /24 beats the /16 and the /8
    {"10.1.2.3", "ten-one"},       {"10.200.0.1", "ten"},
    {"11.5.5.5", "eleven"},        {"11.255.255.255", "eleven"},
    {"12.0.0.0", ""},              {"9.255.255.255", ""},
    {"192.168.7.255", "lab"},      {"192.168.6.255", ""},
    {"255.255.255.255", "bcast"},  {"255.255.255.254", ""},
    {"0.0.0.0", ""},
};

void ExpectLookups(const Tree& t) {
  for (const auto& c : kLookups) EXPECT_EQ(t.Find(c.addr), c.want) << c.addr;
}

TEST(PatriciaTest, LongestPrefixWins) {
  Tree t;
  for (const auto& p : kPrefixes) t.Insert(p);
  ExpectLookups(t);
}

// Branch nodes are made and later replaced by entries depending on the insertion order (the
// /7 lands on the branch that 10/8 and 11/8 create); every order must answer the same.
TEST(PatriciaTest, AnswersDoNotDependOnInsertionOrder) {
  std::vector<size_t> order(5);
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  const size_t picks[] = {0, 2, 3, 4, 5};  // ten, host, ten-one-one, eleven, ten-seven
  do {
    Tree t;
    for (size_t i : order) t.Insert(kPrefixes[picks[i]]);
    EXPECT_EQ(t.Find("10.1.1.1"), "host");
    EXPECT_EQ(t.Find("10.1.1.9"), "ten-one-one");
    EXPECT_EQ(t.Find("10.9.9.9"), "ten");
    EXPECT_EQ(t.Find("11.9.9.9"), "eleven");
    EXPECT_EQ(t.Find("12.0.0.0"), "");
    if (HasFailure()) return;
  } while (std::next_permutation(order.begin(), order.end()));
}

TEST(PatriciaTest, SlashZeroHoldsEveryAddress) {
  Tree t;
  t.Insert({"10.1.1.1", 32, "host"});
  pat_node* any = t.Insert(Ip("10.0.0.0"), 0, "any");
  ASSERT_NE(any, nullptr);
  EXPECT_EQ(t.Find("10.1.1.1"), "host");
  EXPECT_EQ(t.Find("0.0.0.0"), "any");
  EXPECT_EQ(t.Find("200.1.2.3"), "any");
  // The node keeps the key as given, so a caller that reads key 0 with mask 0 as "no match"
  // still tells 10.0.0.0/0 from the head; 0.0.0.0/0 is the same prefix and is turned down.
  EXPECT_EQ(pat_search(Ip("200.1.2.3"), t.head())->p_key, Ip("10.0.0.0"));
  EXPECT_EQ(t.Insert(0, 0, "zero"), any);
}

TEST(PatriciaTest, SamePrefixKeepsTheFirstNode) {
  Tree t;
  pat_node* first = t.Insert(Ip("10.1.1.5"), 24, "first");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->p_key, Ip("10.1.1.5"));  // host bits below the mask are kept
  EXPECT_EQ(first->p_m[0].pm_mask, 0xFFFFFF00u);
  EXPECT_EQ(t.Insert(Ip("10.1.1.0"), 24, "second"), first);
  EXPECT_EQ(t.Find("10.1.1.77"), "first");
  EXPECT_NE(t.Insert(Ip("10.1.1.0"), 25, "narrower"), first);  // another length is another prefix
  EXPECT_EQ(t.Find("10.1.1.77"), "narrower");
  EXPECT_EQ(t.Find("10.1.1.200"), "first");
}

TEST(PatriciaTest, RefusesMalformedNodes) {
  EXPECT_EQ(pat_node_new(1, 33, nullptr), nullptr);
  pat_node* head = pat_new_head();
  pat_node* n = pat_node_new(Ip("10.0.0.0"), 8, nullptr);
  EXPECT_EQ(pat_insert(nullptr, head), nullptr);
  EXPECT_EQ(pat_insert(n, nullptr), nullptr);
  n->p_m[0].pm_mask = 0xFF00FF00u;  // not contiguous
  EXPECT_EQ(pat_insert(n, head), nullptr);
  n->p_m[0].pm_mask = 0xFF000000u;
  n->p_mlen = 0;
  EXPECT_EQ(pat_insert(n, head), nullptr);
  n->p_mlen = 1;
  EXPECT_EQ(pat_search(Ip("10.0.0.1"), head), head);  // nothing was stored
  EXPECT_EQ(pat_insert(n, head), n);
  EXPECT_EQ(pat_search(Ip("10.0.0.1"), head), n);
  pat_free(head, nullptr);
  pat_free(nullptr, nullptr);
  pat_node_free(nullptr, nullptr);
}

int g_freed = 0;
void CountFree(void* data) {
  ++g_freed;
  std::free(data);
}

TEST(PatriciaTest, FreeReleasesEveryDataPointerOnce) {
  pat_node* head = pat_new_head();
  head->p_m[0].pm_data = strdup("head");  // a head with data has it released too
  int stored = 1;
  for (const auto& p : kPrefixes) {
    pat_node* n = pat_node_new(Ip(p.addr), p.len, strdup(p.name));
    ASSERT_EQ(pat_insert(n, head), n);
    ++stored;
  }
  g_freed = 0;
  pat_free(head, CountFree);
  EXPECT_EQ(g_freed, stored);  // the sanitizer build reports anything left behind
}

// Random prefixes against a linear scan that keeps the first of equal prefixes.
TEST(PatriciaTest, MatchesLinearScanOnRandomPrefixes) {
  std::mt19937 rng(7);
  struct Stored {
    uint32_t prefix, mask;
    std::string name;
  };
  std::vector<Stored> stored;
  Tree t;
  for (int i = 0; i < 1000; ++i) {
    // Few distinct high bits so that prefixes nest and collide often.
    const uint32_t key = (rng() & 0xF0F0F0F0u) | (rng() & 0x03000003u);
    const unsigned len = rng() % 33;
    const std::string name = std::to_string(i);
    ASSERT_NE(t.Insert(key, len, name.c_str()), nullptr);
    const uint32_t mask = pat_len_to_mask(len);
    stored.push_back({key & mask, mask, name});
  }
  for (int i = 0; i < 5000; ++i) {
    const uint32_t addr = (rng() & 0xF0F0F0F0u) | (rng() & 0x0F0F0F0Fu & rng());
    const Stored* best = nullptr;
    for (const auto& s : stored) {
      if ((addr & s.mask) == s.prefix && (best == nullptr || s.mask > best->mask)) best = &s;
    }
    ASSERT_EQ(t.Find(addr), best ? best->name : "") << "addr " << addr;
  }
}

TEST(PatriciaTest, LenToMask) {
  EXPECT_EQ(pat_len_to_mask(0), 0u);
  EXPECT_EQ(pat_len_to_mask(1), 0x80000000u);
  EXPECT_EQ(pat_len_to_mask(24), 0xFFFFFF00u);
  EXPECT_EQ(pat_len_to_mask(32), 0xFFFFFFFFu);
  EXPECT_EQ(pat_len_to_mask(40), 0xFFFFFFFFu);
}

}  // namespace
