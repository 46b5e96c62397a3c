#include "platform/uap/rule_list.h"

#include <glog/logging.h>

#include <utility>

namespace uap_cpp {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

std::string Trimmed(std::string_view s) {
  size_t begin = 0, end = s.size();
  while (begin < end && IsBlank(s[begin])) ++begin;
  while (end > begin && IsBlank(s[end - 1])) --end;
  return std::string(s.substr(begin, end - begin));
}

}  // namespace

std::string ExpandReplacement(std::string_view tmpl, const MatchGroups& groups) {
  std::string out;
  out.reserve(tmpl.size());
  for (size_t i = 0; i < tmpl.size(); ++i) {
    if (tmpl[i] == '$' && i + 1 < tmpl.size() && tmpl[i + 1] >= '1' && tmpl[i + 1] <= '9') {
      out.append(groups[static_cast<size_t>(tmpl[i + 1] - '0')]);
      ++i;
    } else {
      out.push_back(tmpl[i]);
    }
  }
  return Trimmed(out);
}

std::vector<RegexSource> RuleList::Sources(const std::vector<PatternEntry>& entries) {
  std::vector<RegexSource> sources;
  sources.reserve(entries.size());
  for (const PatternEntry& e : entries) sources.push_back({e.regex, e.case_insensitive});
  return sources;
}

RuleList::RuleList(std::string name, const std::vector<PatternEntry>& entries,
                   const std::vector<FieldRule>& fields, bool prefilter)
    : fields_(fields), regexes_(std::move(name), Sources(entries), prefilter) {
  CHECK_LE(fields_.size(), kMaxFields);
  templates_.reserve(entries.size());
  for (const PatternEntry& e : entries) {
    Templates t;
    for (size_t f = 0; f < fields_.size(); ++f) {
      auto it = e.fields.find(fields_[f].replacement_key);
      if (it != e.fields.end()) t[f] = it->second;
    }
    templates_.push_back(std::move(t));
  }
}

bool RuleList::Apply(std::string_view text, Values* values) const {
  MatchGroups groups;
  const int pos = regexes_.FirstMatch(text, &groups);
  if (pos < 0) return false;
  const Templates& t = templates_[static_cast<size_t>(pos)];
  for (size_t f = 0; f < kMaxFields; ++f) {
    std::string& value = (*values)[f];
    if (f >= fields_.size()) {
      value.clear();
    } else if (t[f]) {
      value = ExpandReplacement(*t[f], groups);
    } else if (fields_[f].default_group > 0) {
      value = Trimmed(groups[static_cast<size_t>(fields_[f].default_group)]);
    } else {
      value.clear();
    }
  }
  return true;
}

}  // namespace uap_cpp
