// Parses HTTP User-Agent strings into browser, operating system and device families with the
// patterns of a uap-core regexes.yaml file.
//
//   uap_cpp::UserAgentParser parser("/opt/kyv/etc/regexes.yaml");
//   uap_cpp::UserAgent ua = parser.parse(user_agent_text);
//   // ua.browser.family "Chrome Mobile", ua.os.family "Android",
//   // ua.device.family "Samsung SM-S918B"
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/uap/regex_list.h"
#include "platform/uap/user_agent.h"

namespace uap_cpp {

class ParseCache;
class RuleList;

struct ParserOptions {
  // Parse results kept in the LRU cache in front of the patterns (0: no cache). An entry holds
  // the text and its parse, well under a kilobyte; four thousand of them cover the user agents
  // that dominate a log file.
  size_t cache_capacity = 4096;
  // Match each list's RE2 patterns as one set first (see RegexList); off, every text is tried
  // against the patterns one by one, slower but with less memory.
  bool prefilter = true;
};

// How the pattern file was taken in.
struct ParserStats {
  RegexListStats browser;  // user_agent_parsers
  RegexListStats os;       // os_parsers
  RegexListStats device;   // device_parsers
  size_t skipped_entries = 0;  // malformed entries of the file, dropped before compiling
};

// Each part of a parse comes from the first entry of its list whose regex matches anywhere in
// the user agent (an entry with regex_flag 'i' ignores case):
//   browser  family_replacement, v1_replacement .. v4_replacement, else groups 1 .. 5
//   os       os_replacement, os_v1_replacement .. os_v4_replacement, else groups 1 .. 5
//   device   device_replacement (else group 1), brand_replacement (else empty),
//            model_replacement (else group 1)
// "$1" to "$9" in a replacement stand for the capture groups; every value is trimmed. A part
// that no entry matches, or whose family comes out empty, has the family "Other".
//
// parse() is const and may run on several threads at once (the cache has its own lock).
class UserAgentParser {
 public:
  // User agents longer than this are parsed but not cached (they are rarely repeated, and the
  // cache's memory stays below capacity times this length).
  static constexpr size_t kMaxCachedLength = 2048;

  // Loads the patterns of the file at `regexes_file_path`. Never throws: when the file cannot
  // be read or is not a pattern file, ok() is false, error() says why (also logged), and every
  // parse answers "Other" for all three families. Malformed entries and patterns that no
  // engine compiles are skipped with a warning; patterns only the fallback engine compiles are
  // counted in stats() and reported in one log line.
  explicit UserAgentParser(const std::string& regexes_file_path,
                           const ParserOptions& options = ParserOptions());
  ~UserAgentParser();
  UserAgentParser(const UserAgentParser&) = delete;
  UserAgentParser& operator=(const UserAgentParser&) = delete;

  // The browser, operating system and device of `user_agent`. Any byte string is accepted;
  // "" answers "Other" for all three.
  UserAgent parse(const std::string& user_agent) const;

  bool ok() const { return error_.empty(); }
  const std::string& error() const { return error_; }
  const ParserStats& stats() const { return stats_; }
  // The parse cache (owned by the parser), for its size and hit counts.
  const ParseCache& cache() const { return *cache_; }

 private:
  UserAgent Match(const std::string& user_agent) const;

  std::string error_;
  ParserStats stats_;
  std::unique_ptr<RuleList> browser_;
  std::unique_ptr<RuleList> os_;
  std::unique_ptr<RuleList> device_;
  std::unique_ptr<ParseCache> cache_;
};

}  // namespace uap_cpp
