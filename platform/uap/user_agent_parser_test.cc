#include "platform/uap/user_agent_parser.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/uap/parse_cache.h"

namespace uap_cpp {
namespace {

struct Case {
  const char* ua;
  const char* browser;
  const char* browser_version;
  const char* os;
  const char* os_version;
  const char* device;
};

// Well-known user agents and what uap-core 0.18.0's patterns make of them.
const Case kCases[] = {
    // Desktop browsers.
    {"Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
     "Chrome/120.0.0.0 Safari/537.36",
     "Chrome", "120.0.0.0", "Windows", "10", "Other"},
    {"Mozilla/5.0 (Windows NT 10.0; Win64; x64; rv:121.0) Gecko/20100101 Firefox/121.0",
     "Firefox", "121.0", "Windows", "10", "Other"},
    {"Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
     "Chrome/120.0.0.0 Safari/537.36 Edg/120.0.2210.91",
     "Edge", "120.0.2210.91", "Windows", "10", "Other"},
    {"Mozilla/5.0 (Windows NT 6.1; WOW64; Trident/7.0; rv:11.0) like Gecko", "IE", "11.0",
     "Windows", "7", "Other"},
    {"Mozilla/4.0 (compatible; MSIE 8.0; Windows NT 5.1; Trident/4.0)", "IE", "8.0", "Windows",
     "XP", "Other"},
    {"Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
     "Chrome/120.0.0.0 Safari/537.36 OPR/106.0.0.0",
     "Opera", "106.0.0", "Windows", "10", "Other"},
    {"Opera/9.80 (Windows NT 6.1; U; en) Presto/2.10.289 Version/12.02", "Opera", "12.02",
     "Windows", "7", "Other"},
    {"Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
     "Chrome/118.0.0.0 YaBrowser/23.11.0.0 Safari/537.36",
     "Yandex Browser", "23.11.0", "Windows", "10", "Other"},
    {"Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
     "Chrome/120.0.0.0 Safari/537.36 Vivaldi/6.5.3206.48",
     "Vivaldi", "6.5.3206", "Windows", "10", "Other"},
    {"Mozilla/5.0 (Macintosh; Intel Mac OS X 10_15_7) AppleWebKit/605.1.15 (KHTML, like Gecko) "
     "Version/17.1 Safari/605.1.15",
     "Safari", "17.1", "Mac OS X", "10.15.7", "Mac"},
    {"Mozilla/5.0 (Macintosh; Intel Mac OS X 10_15_7) AppleWebKit/537.36 (KHTML, like Gecko) "
     "Chrome/120.0.0.0 Safari/537.36",
     "Chrome", "120.0.0.0", "Mac OS X", "10.15.7", "Mac"},
    {"Mozilla/5.0 (X11; Linux x86_64; rv:109.0) Gecko/20100101 Firefox/115.0", "Firefox",
     "115.0", "Linux", "", "Other"},
    {"Mozilla/5.0 (X11; Ubuntu; Linux x86_64; rv:121.0) Gecko/20100101 Firefox/121.0",
     "Firefox", "121.0", "Ubuntu", "", "Other"},
    {"Mozilla/5.0 (X11; CrOS x86_64 14541.0.0) AppleWebKit/537.36 (KHTML, like Gecko) "
     "Chrome/120.0.0.0 Safari/537.36",
     "Chrome", "120.0.0.0", "Chrome OS", "14541.0.0", "Other"},
    // Phones and tablets.
    {"Mozilla/5.0 (iPhone; CPU iPhone OS 17_1 like Mac OS X) AppleWebKit/605.1.15 (KHTML, like "
     "Gecko) Version/17.1 Mobile/15E148 Safari/604.1",
     "Mobile Safari", "17.1", "iOS", "17.1", "iPhone"},
    {"Mozilla/5.0 (iPad; CPU OS 16_6 like Mac OS X) AppleWebKit/605.1.15 (KHTML, like Gecko) "
     "Version/16.6 Mobile/15E148 Safari/604.1",
     "Mobile Safari", "16.6", "iOS", "16.6", "iPad"},
    {"Mozilla/5.0 (iPhone; CPU iPhone OS 17_2 like Mac OS X) AppleWebKit/605.1.15 (KHTML, like "
     "Gecko) CriOS/120.0.6099.119 Mobile/15E148 Safari/604.1",
     "Chrome Mobile iOS", "120.0.6099.119", "iOS", "17.2", "iPhone"},
    {"Mozilla/5.0 (iPhone; CPU iPhone OS 17_2 like Mac OS X) AppleWebKit/605.1.15 (KHTML, like "
     "Gecko) FxiOS/121.0 Mobile/15E148 Safari/605.1.15",
     "Firefox iOS", "121.0", "iOS", "17.2", "iPhone"},
    {"Mozilla/5.0 (iPhone; CPU iPhone OS 16_5 like Mac OS X) AppleWebKit/605.1.15 (KHTML, like "
     "Gecko) Mobile/15E148 [FBAN/FBIOS;FBDV/iPhone14,5;FBMD/iPhone;FBSN/iOS;FBSV/16.5;FBSS/3;"
     "FBID/phone;FBLC/en_US;FBOP/5]",
     "Facebook", "", "iOS", "16.5", "iPhone"},
    {"Mozilla/5.0 (Linux; Android 13; SM-S918B) AppleWebKit/537.36 (KHTML, like Gecko) "
     "Chrome/120.0.6099.144 Mobile Safari/537.36",
     "Chrome Mobile", "120.0.6099.144", "Android", "13", "Samsung SM-S918B"},
    {"Mozilla/5.0 (Linux; Android 13; SAMSUNG SM-A536B) AppleWebKit/537.36 (KHTML, like Gecko) "
     "SamsungBrowser/23.0 Chrome/115.0.0.0 Mobile Safari/537.36",
     "Samsung Internet", "23.0", "Android", "13", "Samsung SM-A536B"},
    {"Mozilla/5.0 (Linux; Android 14; Pixel 8 Pro) AppleWebKit/537.36 (KHTML, like Gecko) "
     "Chrome/120.0.6099.144 Mobile Safari/537.36",
     "Chrome Mobile", "120.0.6099.144", "Android", "14", "Pixel 8 Pro"},
    {"Mozilla/5.0 (Android 14; Mobile; rv:121.0) Gecko/121.0 Firefox/121.0", "Firefox Mobile",
     "121.0", "Android", "14", "Generic Smartphone"},
    {"Mozilla/5.0 (Linux; Android 12; SM-G991B Build/SP1A.210812.016; wv) AppleWebKit/537.36 "
     "(KHTML, like Gecko) Version/4.0 Chrome/120.0.6099.144 Mobile Safari/537.36",
     "Chrome Mobile WebView", "120.0.6099.144", "Android", "12", "Samsung SM-G991B"},
    {"Mozilla/5.0 (Linux; U; Android 4.0.3; ko-kr; LG-L160L Build/IML74K) AppleWebkit/534.30 "
     "(KHTML, like Gecko) Version/4.0 Mobile Safari/534.30",
     "Android", "4.0.3", "Android", "4.0.3", "LG-L160L"},
    {"Mozilla/5.0 (Linux; U; Android 10; en-US; RMX2020 Build/QP1A.190711.020) AppleWebKit/537.36 "
     "(KHTML, like Gecko) Version/4.0 Chrome/78.0.3904.108 UCBrowser/13.4.0.1306 Mobile "
     "Safari/537.36",
     "UC Browser", "13.4.0", "Android", "10", "Oppo RMX2020"},
    {"Mozilla/5.0 (Linux; Android 9; KFTRWI) AppleWebKit/537.36 (KHTML, like Gecko) "
     "Silk/120.3.1 like Chrome/120.0.6099.230 Safari/537.36",
     "Amazon Silk", "120.3.1", "Android", "9", "Kindle"},
    {"Mozilla/5.0 (Windows Phone 10.0; Android 6.0.1; Microsoft; Lumia 950) AppleWebKit/537.36 "
     "(KHTML, like Gecko) Chrome/52.0.2743.116 Mobile Safari/537.36 Edge/15.15063",
     "Edge Mobile", "15.15063", "Windows Phone", "10.0", "Lumia 950"},
    {"Mozilla/5.0 (BlackBerry; U; BlackBerry 9900; en) AppleWebKit/534.11+ (KHTML, like Gecko) "
     "Version/7.1.0.346 Mobile Safari/534.11+",
     "BlackBerry WebKit", "7.1.0", "BlackBerry OS", "7.1.0.346", "BlackBerry 9900"},
    // Consoles and TVs.
    {"Mozilla/5.0 (SMART-TV; Linux; Tizen 6.0) AppleWebKit/537.36 (KHTML, like Gecko) "
     "SamsungBrowser/4.0 Chrome/76.0.3809.146 TV Safari/537.36",
     "Samsung Internet", "4.0", "Tizen", "6.0", "Samsung SMART-TV"},
    {"Mozilla/5.0 (PlayStation; PlayStation 5/2.26) AppleWebKit/605.1.15 (KHTML, like Gecko)",
     "Apple Mail", "605.1.15", "Other", "", "PlayStation 5"},
    // Crawlers and tools.
    {"Mozilla/5.0 (compatible; Googlebot/2.1; +http://www.google.com/bot.html)", "Googlebot",
     "2.1", "Other", "", "Spider"},
    {"Mozilla/5.0 (Linux; Android 6.0.1; Nexus 5X Build/MMB29P) AppleWebKit/537.36 (KHTML, like "
     "Gecko) Chrome/120.0.0.0 Mobile Safari/537.36 (compatible; Googlebot/2.1; "
     "+http://www.google.com/bot.html)",
     "Googlebot", "2.1", "Android", "6.0.1", "Spider"},
    {"Mozilla/5.0 (compatible; bingbot/2.0; +http://www.bing.com/bingbot.htm)", "bingbot", "2.0",
     "Other", "", "Spider"},
    {"Mozilla/5.0 (compatible; YandexBot/3.0; +http://yandex.com/bots)", "YandexBot", "3.0",
     "Other", "", "Spider"},
    {"Mozilla/5.0 (compatible; Baiduspider/2.0; +http://www.baidu.com/search/spider.html)",
     "Baiduspider", "2.0", "Other", "", "Spider"},
    {"DuckDuckBot/1.1; (+http://duckduckgo.com/duckduckbot.html)", "DuckDuckBot", "1.1", "Other",
     "", "Spider"},
    {"facebookexternalhit/1.1 (+http://www.facebook.com/externalhit_uatext.php)", "FacebookBot",
     "1.1", "Other", "", "Spider"},
    {"Twitterbot/1.0", "Twitterbot", "1.0", "Other", "", "Spider"},
    {"curl/7.88.1", "curl", "7.88.1", "Other", "", "Other"},
    {"Wget/1.21.3", "Wget", "1.21.3", "Other", "", "Other"},
    {"python-requests/2.31.0", "Python Requests", "2.31", "Other", "", "Other"},
    {"Apache-HttpClient/4.5.13 (Java/17.0.8)", "Apache-HttpClient", "4.5.13", "Other", "",
     "Other"},
    // Nothing to recognise.
    {"", "Other", "", "Other", "", "Other"},
    {"garbage ### !!!", "Other", "", "Other", "", "Other"},
    {"Mozilla/5.0 (\xff\xfe\x01 Chrome/\xc3\x28 Windows NT 10.0", "Other", "", "Windows", "10",
     "Other"},
};

class UserAgentParserTest : public ::testing::Test {
 protected:
  // A small cache, so that the table below keeps evicting and the matchers keep running.
  static constexpr size_t kCacheCapacity = 8;
  static void SetUpTestSuite() {
    ParserOptions options;
    options.cache_capacity = kCacheCapacity;
    parser_ = new UserAgentParser(UAP_REGEXES_FILE, options);
  }
  static void TearDownTestSuite() {
    delete parser_;
    parser_ = nullptr;
  }
  static UserAgentParser* parser_;
};
UserAgentParser* UserAgentParserTest::parser_ = nullptr;

void ExpectCase(const Case& c, const UserAgent& ua) {
  SCOPED_TRACE(c.ua);
  EXPECT_EQ(ua.browser.family, c.browser);
  EXPECT_EQ(ua.browser.version(), c.browser_version);
  EXPECT_EQ(ua.os.family, c.os);
  EXPECT_EQ(ua.os.version(), c.os_version);
  EXPECT_EQ(ua.device.family, c.device);
}

TEST_F(UserAgentParserTest, KnownUserAgents) {
  ASSERT_TRUE(parser_->ok()) << parser_->error();
  const ParserStats& s = parser_->stats();
  EXPECT_EQ(s.browser.total + s.os.total + s.device.total, 1175u);
  EXPECT_EQ(s.browser.fallback + s.os.fallback + s.device.fallback, 0u);  // all RE2 syntax
  EXPECT_TRUE(s.browser.prefiltered && s.os.prefiltered && s.device.prefiltered);
  for (const Case& c : kCases) ExpectCase(c, parser_->parse(c.ua));
}

TEST_F(UserAgentParserTest, BrandAndModel) {
  const struct {
    const char* ua;
    const char* brand;
    const char* model;
  } cases[] = {
      {"Mozilla/5.0 (Linux; Android 13; SM-S918B) AppleWebKit/537.36", "Samsung", "SM-S918B"},
      {"Mozilla/5.0 (Linux; Android 14; Pixel 8 Pro) AppleWebKit/537.36 (KHTML, like Gecko) "
       "Chrome/120.0.6099.144 Mobile Safari/537.36",
       "Google", "Pixel 8 Pro"},
      {"Mozilla/5.0 (iPhone; CPU iPhone OS 17_1 like Mac OS X)", "Apple", "iPhone"},
      {"Mozilla/5.0 (compatible; Googlebot/2.1; +http://www.google.com/bot.html)", "Spider",
       "Desktop"},
      {"curl/7.88.1", "", ""},
  };
  for (const auto& c : cases) {
    const Device d = parser_->parse(c.ua).device;
    EXPECT_EQ(d.brand, c.brand) << c.ua;
    EXPECT_EQ(d.model, c.model) << c.ua;
  }
}

// The pattern set only narrows the candidates: one-by-one matching answers the same.
TEST_F(UserAgentParserTest, PrefilterChangesNoAnswer) {
  ParserOptions options;
  options.prefilter = false;
  options.cache_capacity = 0;
  UserAgentParser plain(UAP_REGEXES_FILE, options);
  ASSERT_FALSE(plain.stats().device.prefiltered);
  for (const Case& c : kCases) EXPECT_EQ(plain.parse(c.ua), parser_->parse(c.ua)) << c.ua;
}

TEST_F(UserAgentParserTest, CachedAnswersAreTheSame) {
  UserAgentParser& parser = *parser_;
  const ParseCache& cache = parser.cache();
  for (const Case& c : kCases) {
    const UserAgent first = parser.parse(c.ua);
    const uint64_t hits = cache.hits();
    EXPECT_EQ(parser.parse(c.ua), first) << c.ua;
    EXPECT_EQ(cache.hits(), hits + 1) << c.ua;
    EXPECT_LE(cache.size(), kCacheCapacity);
  }
  EXPECT_EQ(cache.size(), kCacheCapacity);
  // A cached answer is a copy: changing it leaves the cache alone.
  UserAgent changed = parser.parse(kCases[0].ua);
  changed.browser.family = "changed";
  EXPECT_EQ(parser.parse(kCases[0].ua).browser.family, "Chrome");

  const std::string overlong = std::string(kCases[0].ua) + std::string(4000, ' ');
  const size_t misses = cache.misses();
  EXPECT_EQ(parser.parse(overlong).browser.family, "Chrome");
  EXPECT_EQ(parser.parse(overlong).browser.family, "Chrome");
  EXPECT_EQ(cache.misses(), misses);  // never looked up, never stored
}

TEST_F(UserAgentParserTest, ParsesFromManyThreads) {
  std::vector<std::thread> threads;
  std::vector<int> wrong(4, 0);
  for (size_t t = 0; t < wrong.size(); ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 3; ++round) {
        for (const Case& c : kCases) wrong[t] += parser_->parse(c.ua).browser.family != c.browser;
      }
    });
  }
  for (auto& th : threads) th.join();
  for (int w : wrong) EXPECT_EQ(w, 0);
}

// Pattern files written to the test's temporary directory.
class PatternFileTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& text) {
    const std::string path = ::testing::TempDir() + "uap_patterns_" +
                             ::testing::UnitTest::GetInstance()->current_test_info()->name() +
                             std::to_string(files_.size()) + ".yaml";
    std::ofstream(path) << text;
    files_.push_back(path);
    return path;
  }
  void TearDown() override {
    for (const auto& f : files_) std::remove(f.c_str());
  }
  std::vector<std::string> files_;
};

TEST_F(PatternFileTest, UnusableFilesGiveOtherForEverything) {
  const struct {
    const char* name;
    std::string path;
  } cases[] = {
      {"missing", ::testing::TempDir() + "no_such_dir/regexes.yaml"},
      {"not yaml", Write("user_agent_parsers: [ {regex: 'a'\n")},
      {"not a map", Write("- regex: '(Chrome)'\n")},
      {"empty", Write("")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    UserAgentParser p(c.path);
    EXPECT_FALSE(p.ok());
    EXPECT_FALSE(p.error().empty());
    EXPECT_EQ(p.parse("Mozilla/5.0 Chrome/120.0"), UserAgent());
  }
  UserAgentParser missing(cases[0].path);
  EXPECT_NE(missing.error().find(cases[0].path), std::string::npos) << missing.error();
}

TEST_F(PatternFileTest, ReplacementRulesAndBadEntries) {
  const std::string path = Write(R"(
user_agent_parsers:
  - regex: 'NoGroups/\d+'
  - regex: '(Tool)/(\d+)\.(\d+)'
    family_replacement: 'My $1'
    v2_replacement: '$3$2'
  - regex: 'Bot(?!tle)/(\d+)'
    family_replacement: 'LookAheadBot'
    v1_replacement: '$1'
  - regex: '(?<=x)broken'
  - family_replacement: 'no regex here'
  - regex: ['not', 'a', 'scalar']
  - 'just a string'
  - regex: '(Tool)'
    family_replacement: 'never reached'
os_parsers:
  - regex: 'win(dows) nt (\d+)'
    regex_flag: 'i'
    os_replacement: 'Windows'
    os_v1_replacement: 'NT $2'
device_parsers:
  - regex: '(Phone) (\w+)'
    device_replacement: '$2'
    brand_replacement: 'Maker'
  - regex: '(Tablet)'
)");
  UserAgentParser p(path);
  ASSERT_TRUE(p.ok()) << p.error();
  const ParserStats& s = p.stats();
  EXPECT_EQ(s.skipped_entries, 3u);
  EXPECT_EQ(s.browser.total, 5u);
  EXPECT_EQ(s.browser.fallback, 1u);
  EXPECT_EQ(s.browser.skipped, 1u);

  UserAgent ua = p.parse("Tool/4.7 WINDOWS NT 10 Phone X1");
  EXPECT_EQ(ua.browser.family, "My Tool");  // the first match wins over the last entry
  EXPECT_EQ(ua.browser.major, "4");
  EXPECT_EQ(ua.browser.minor, "74");
  EXPECT_EQ(ua.os.family, "Windows");  // regex_flag 'i'
  EXPECT_EQ(ua.os.major, "NT 10");
  EXPECT_EQ(ua.os.minor, "");  // no os_v2_replacement, and the regex has no group 3
  EXPECT_EQ(ua.device.family, "X1");
  EXPECT_EQ(ua.device.brand, "Maker");
  EXPECT_EQ(ua.device.model, "Phone");  // no model_replacement: group 1

  ua = p.parse("NoGroups/12 Bot/7 Tablet");
  EXPECT_EQ(ua.browser.family, "Other");  // matched, but no group gives a family
  EXPECT_EQ(ua.browser.major, "");
  EXPECT_EQ(ua.device.family, "Tablet");
  EXPECT_EQ(ua.device.brand, "");
  EXPECT_EQ(p.parse("Bot/7").browser.family, "LookAheadBot");  // on the fallback engine
  EXPECT_EQ(p.parse("Bot/7").browser.major, "7");
  EXPECT_EQ(p.parse("Bottle/7").browser.family, "Other");
}

}  // namespace
}  // namespace uap_cpp
