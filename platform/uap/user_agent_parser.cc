#include "platform/uap/user_agent_parser.h"

#include <glog/logging.h>

#include <utility>

#include "platform/uap/parse_cache.h"
#include "platform/uap/pattern_file.h"
#include "platform/uap/rule_list.h"

namespace uap_cpp {
namespace {

const std::vector<FieldRule> kBrowserFields = {{"family_replacement", 1}, {"v1_replacement", 2},
                                               {"v2_replacement", 3},     {"v3_replacement", 4},
                                               {"v4_replacement", 5}};
const std::vector<FieldRule> kOsFields = {{"os_replacement", 1},    {"os_v1_replacement", 2},
                                          {"os_v2_replacement", 3}, {"os_v3_replacement", 4},
                                          {"os_v4_replacement", 5}};
const std::vector<FieldRule> kDeviceFields = {
    {"device_replacement", 1}, {"brand_replacement", 0}, {"model_replacement", 1}};

std::string FamilyOrOther(std::string family) {
  return family.empty() ? std::string(kOtherFamily) : std::move(family);
}

void FillAgent(const RuleList& rules, const std::string& text, Agent* agent) {
  RuleList::Values v;
  if (!rules.Apply(text, &v)) return;
  agent->family = FamilyOrOther(std::move(v[0]));
  agent->major = std::move(v[1]);
  agent->minor = std::move(v[2]);
  agent->patch = std::move(v[3]);
  agent->patch_minor = std::move(v[4]);
}

}  // namespace

UserAgentParser::UserAgentParser(const std::string& regexes_file_path,
                                 const ParserOptions& options)
    : cache_(std::make_unique<ParseCache>(options.cache_capacity)) {
  PatternFile file;
  if (!LoadPatternFile(regexes_file_path, &file, &error_)) {
    LOG(ERROR) << "user agent patterns not loaded, every user agent parses as Other: " << error_;
  }
  browser_ = std::make_unique<RuleList>("user_agent_parsers", file.user_agent_parsers,
                                        kBrowserFields, options.prefilter);
  os_ = std::make_unique<RuleList>("os_parsers", file.os_parsers, kOsFields, options.prefilter);
  device_ = std::make_unique<RuleList>("device_parsers", file.device_parsers, kDeviceFields,
                                       options.prefilter);
  stats_.browser = browser_->stats();
  stats_.os = os_->stats();
  stats_.device = device_->stats();
  stats_.skipped_entries = file.skipped_entries;
  if (!ok()) return;

  const size_t total = stats_.browser.total + stats_.os.total + stats_.device.total;
  const size_t fallback = stats_.browser.fallback + stats_.os.fallback + stats_.device.fallback;
  const size_t skipped = stats_.browser.skipped + stats_.os.skipped + stats_.device.skipped;
  if (fallback > 0) {
    LOG(WARNING) << "user agent patterns: " << fallback << " of " << total
                 << " regexes are not RE2 syntax and run on std::regex (slower; they see only "
                 << "the first " << RegexList::kFallbackMaxInput << " bytes of a user agent)";
  }
  LOG(INFO) << "user agent patterns loaded from " << regexes_file_path << ": " << total
            << " regexes (" << stats_.browser.total << " browser, " << stats_.os.total << " os, "
            << stats_.device.total << " device), " << fallback << " on the fallback engine, "
            << skipped + stats_.skipped_entries << " skipped";
}

UserAgentParser::~UserAgentParser() = default;

UserAgent UserAgentParser::Match(const std::string& user_agent) const {
  UserAgent ua;
  FillAgent(*browser_, user_agent, &ua.browser);
  FillAgent(*os_, user_agent, &ua.os);
  RuleList::Values v;
  if (device_->Apply(user_agent, &v)) {
    ua.device.family = FamilyOrOther(std::move(v[0]));
    ua.device.brand = std::move(v[1]);
    ua.device.model = std::move(v[2]);
  }
  return ua;
}

UserAgent UserAgentParser::parse(const std::string& user_agent) const {
  const bool cacheable = user_agent.size() <= kMaxCachedLength && cache_->capacity() > 0;
  UserAgent ua;
  if (cacheable && cache_->Lookup(user_agent, &ua)) return ua;
  ua = Match(user_agent);
  if (cacheable) cache_->Insert(user_agent, ua);
  return ua;
}

}  // namespace uap_cpp
