#include "platform/uap/parse_cache.h"

#include <gtest/gtest.h>

#include <string>

namespace uap_cpp {
namespace {

UserAgent Named(const std::string& browser) {
  UserAgent ua;
  ua.browser.family = browser;
  return ua;
}

std::string BrowserOf(ParseCache& cache, const std::string& key) {
  UserAgent ua;
  return cache.Lookup(key, &ua) ? ua.browser.family : "<miss>";
}

TEST(ParseCacheTest, EvictsTheLeastRecentlyUsed) {
  ParseCache cache(3);
  cache.Insert("a", Named("A"));
  cache.Insert("b", Named("B"));
  cache.Insert("c", Named("C"));
  EXPECT_EQ(BrowserOf(cache, "a"), "A");  // a is now the most recent; b the least
  cache.Insert("d", Named("D"));
  EXPECT_EQ(cache.size(), 3u);
  EXPECT_EQ(BrowserOf(cache, "b"), "<miss>");
  EXPECT_EQ(BrowserOf(cache, "a"), "A");
  EXPECT_EQ(BrowserOf(cache, "c"), "C");
  EXPECT_EQ(BrowserOf(cache, "d"), "D");
  EXPECT_EQ(cache.hits(), 4u);
  EXPECT_EQ(cache.misses(), 1u);
}

TEST(ParseCacheTest, ReinsertReplacesAndRefreshes) {
  ParseCache cache(2);
  cache.Insert("a", Named("A"));
  cache.Insert("b", Named("B"));
  cache.Insert("a", Named("A2"));  // replaces, and a becomes the most recent
  cache.Insert("c", Named("C"));   // so b goes
  EXPECT_EQ(cache.size(), 2u);
  EXPECT_EQ(BrowserOf(cache, "a"), "A2");
  EXPECT_EQ(BrowserOf(cache, "b"), "<miss>");
}

TEST(ParseCacheTest, StaysBoundedUnderChurn) {
  ParseCache cache(100);
  for (int i = 0; i < 5000; ++i) cache.Insert("ua-" + std::to_string(i), Named(std::to_string(i)));
  EXPECT_EQ(cache.size(), 100u);
  EXPECT_EQ(BrowserOf(cache, "ua-4999"), "4999");
  EXPECT_EQ(BrowserOf(cache, "ua-4900"), "4900");
  EXPECT_EQ(BrowserOf(cache, "ua-4899"), "<miss>");
}

TEST(ParseCacheTest, ZeroCapacityCachesNothing) {
  ParseCache cache(0);
  cache.Insert("a", Named("A"));
  EXPECT_EQ(cache.size(), 0u);
  EXPECT_EQ(BrowserOf(cache, "a"), "<miss>");
}

}  // namespace
}  // namespace uap_cpp
