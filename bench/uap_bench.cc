// User-agent parsing throughput. Prints figures; no assertions.
//
//   load/<mode>: seconds to read and compile the pattern file, and the process RSS after it.
//   uncached/<mode>: parses per second over distinct user agents, cache off; "set" matches
//     each list's patterns as one RE2 set first, "one-by-one" tries them in order. Also
//     prints how many answers the two modes disagree on (should be 0).
//   cached: parses per second over a skewed stream of 2,000 distinct user agents (a few
//     dominate, as in access logs) with the default 4,096-entry cache, and its hit rate.
//
// Usage: uap_bench [regexes.yaml] (default: the uap-core file of the source tree).
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "platform/uap/parse_cache.h"
#include "platform/uap/user_agent_parser.h"

namespace {

#ifdef UAP_REGEXES_FILE
const char kDefaultPatterns[] = UAP_REGEXES_FILE;
#else
const char kDefaultPatterns[] = "third_party/uap-core/regexes.yaml";
#endif

double Seconds(const std::function<void()>& fn) {
  auto start = std::chrono::steady_clock::now();
  fn();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double RssMiB() {
  long pages = 0, resident = 0;
  std::ifstream("/proc/self/statm") >> pages >> resident;
  return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1 << 20);
}

// Distinct user agents in the shapes that dominate real traffic: desktop and mobile browsers
// with varying versions and device models, crawlers, tools, and unrecognisable text.
std::vector<std::string> MakeUserAgents(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  auto num = [&](int lo, int hi) {
    return std::to_string(lo + static_cast<int>(rng() % static_cast<uint32_t>(hi - lo + 1)));
  };
  const std::vector<std::string> models = {"SM-S918B", "SM-A536B",  "Pixel 7",   "Redmi Note 12",
                                           "CPH2451",  "moto g(60)", "2201117TG", "V2111",
                                           "RMX3363",  "LM-Q720",    "M2101K6G",  "TECNO KI5q"};
  std::vector<std::string> out;
  out.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    const std::string model = models[rng() % models.size()];
    const std::string chrome = num(90, 125) + ".0." + num(4000, 6500) + "." + num(0, 250);
    switch (rng() % 12) {
      case 0:
        out.push_back("Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like "
                      "Gecko) Chrome/" + chrome + " Safari/537.36");
        break;
      case 1: {
        const std::string v = num(90, 125);
        out.push_back("Mozilla/5.0 (Windows NT 10.0; Win64; x64; rv:" + v +
                      ".0) Gecko/20100101 Firefox/" + v + ".0");
        break;
      }
      case 2:
        out.push_back("Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like "
                      "Gecko) Chrome/" + chrome + " Safari/537.36 Edg/" + chrome);
        break;
      case 3:
        out.push_back("Mozilla/5.0 (Macintosh; Intel Mac OS X 10_15_" + num(1, 7) +
                      ") AppleWebKit/605.1.15 (KHTML, like Gecko) Version/" + num(14, 17) + "." +
                      num(0, 6) + " Safari/605.1.15");
        break;
      case 4:
        out.push_back("Mozilla/5.0 (iPhone; CPU iPhone OS " + num(14, 17) + "_" + num(0, 7) +
                      " like Mac OS X) AppleWebKit/605.1.15 (KHTML, like Gecko) Version/" +
                      num(14, 17) + ".0 Mobile/15E148 Safari/604.1");
        break;
      case 5:
      case 6:
        out.push_back("Mozilla/5.0 (Linux; Android " + num(9, 14) + "; " + model +
                      ") AppleWebKit/537.36 (KHTML, like Gecko) Chrome/" + chrome +
                      " Mobile Safari/537.36");
        break;
      case 7:
        out.push_back("Mozilla/5.0 (Linux; Android " + num(9, 14) + "; " + model + " Build/" +
                      num(100000, 999999) + "; wv) AppleWebKit/537.36 (KHTML, like Gecko) "
                      "Version/4.0 Chrome/" + chrome + " Mobile Safari/537.36");
        break;
      case 8:
        out.push_back("Mozilla/5.0 (Linux; Android " + num(9, 14) + "; SAMSUNG " + model +
                      ") AppleWebKit/537.36 (KHTML, like Gecko) SamsungBrowser/" + num(15, 23) +
                      ".0 Chrome/" + chrome + " Mobile Safari/537.36");
        break;
      case 9:
        out.push_back("Mozilla/5.0 (compatible; Googlebot/2." + num(0, 9) +
                      "; +http://www.google.com/bot.html) " + num(0, 99999));
        break;
      case 10:
        out.push_back("curl/7." + num(40, 88) + "." + num(0, 9));
        break;
      default: {
        std::string junk;
        for (int k = 0; k < 40; ++k) junk.push_back(static_cast<char>(' ' + rng() % 95));
        out.push_back(junk);
      }
    }
    out.back() += " r" + std::to_string(i);  // every entry distinct
  }
  return out;
}

std::unique_ptr<uap_cpp::UserAgentParser> Load(const std::string& path, const char* mode,
                                               const uap_cpp::ParserOptions& options) {
  std::unique_ptr<uap_cpp::UserAgentParser> parser;
  const double rss_before = RssMiB();
  const double s =
      Seconds([&] { parser = std::make_unique<uap_cpp::UserAgentParser>(path, options); });
  std::printf("load/%-12s %8.3f s   rss +%.1f MiB\n", mode, s, RssMiB() - rss_before);
  if (!parser->ok()) std::fprintf(stderr, "pattern file not loaded: %s\n", parser->error().c_str());
  return parser;
}

// Parses `uas` with the cache off; prints parses per second and returns the answers.
std::vector<uap_cpp::UserAgent> Uncached(const std::string& path, const char* mode,
                                         bool prefilter, const std::vector<std::string>& uas) {
  uap_cpp::ParserOptions options;
  options.cache_capacity = 0;
  options.prefilter = prefilter;
  auto parser = Load(path, mode, options);
  std::vector<uap_cpp::UserAgent> answers;
  answers.reserve(uas.size());
  const double rss_before = RssMiB();
  const double s = Seconds([&] {
    for (const auto& ua : uas) answers.push_back(parser->parse(ua));
  });
  size_t recognised = 0;
  for (const auto& a : answers) recognised += a.browser.family != "Other";
  std::printf("uncached/%-10s %9.0f parses/s  (%zu user agents, %zu recognised, rss +%.1f MiB)\n",
              mode, static_cast<double>(uas.size()) / s, uas.size(), recognised,
              RssMiB() - rss_before);
  // The same texts again: the set's automaton is built lazily, so the first pass pays for it.
  const double again = Seconds([&] {
    for (const auto& ua : uas) parser->parse(ua);
  });
  std::printf("uncached/%-10s %9.0f parses/s  (second pass)\n", mode,
              static_cast<double>(uas.size()) / again);
  return answers;
}

void Cached(const std::string& path) {
  auto parser = Load(path, "cached", uap_cpp::ParserOptions());
  const std::vector<std::string> distinct = MakeUserAgents(2000, 2);
  // Skewed stream: user agent k is drawn with weight 1/(k+1).
  std::vector<double> weights(distinct.size());
  for (size_t k = 0; k < weights.size(); ++k) weights[k] = 1.0 / static_cast<double>(k + 1);
  std::discrete_distribution<size_t> pick(weights.begin(), weights.end());
  std::mt19937 rng(3);
  std::vector<const std::string*> stream(300000);
  for (auto& p : stream) p = &distinct[pick(rng)];
  const double s = Seconds([&] {
    for (const std::string* ua : stream) parser->parse(*ua);
  });
  const auto& cache = parser->cache();
  std::printf("cached          %10.0f parses/s  (%zu parses, hit rate %.1f%%, %zu cached)\n",
              static_cast<double>(stream.size()) / s, stream.size(),
              100.0 * static_cast<double>(cache.hits()) / static_cast<double>(stream.size()),
              cache.size());
}

}  // namespace

int main(int argc, char** argv) {
  const std::string path = argc > 1 ? argv[1] : kDefaultPatterns;
  const std::vector<std::string> uas = MakeUserAgents(20000, 1);
  const auto with_set = Uncached(path, "set", true, uas);
  const std::vector<std::string> few(uas.begin(), uas.begin() + 2000);
  const auto one_by_one = Uncached(path, "one-by-one", false, few);
  size_t differ = 0;
  for (size_t i = 0; i < few.size(); ++i) differ += !(with_set[i] == one_by_one[i]);
  std::printf("set and one-by-one answers differ on %zu of %zu user agents\n", differ, few.size());
  Cached(path);
  return 0;
}
