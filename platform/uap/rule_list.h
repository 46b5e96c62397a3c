// A pattern list together with its replacement rules: what a match of each entry makes of the
// fields of one part of a parse (browser, operating system or device).
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/uap/pattern_file.h"
#include "platform/uap/regex_list.h"

namespace uap_cpp {

// One output field of a list: the key of its replacement template in the pattern file, and
// the capture group that gives the field when an entry has no template (0: none, so empty).
struct FieldRule {
  const char* replacement_key;
  int default_group;
};

// Replaces every "$1" to "$9" in `tmpl` by that capture group (empty when the group did not
// take part), keeps every other character, and trims blanks from both ends of the result.
std::string ExpandReplacement(std::string_view tmpl, const MatchGroups& groups);

// Immutable after construction; Apply may run on several threads at once.
class RuleList {
 public:
  static constexpr size_t kMaxFields = 5;
  using Values = std::array<std::string, kMaxFields>;

  // Compiles the regexes of `entries` (see RegexList) and keeps, for each entry, the templates
  // of the `fields` (at most kMaxFields) that it has.
  RuleList(std::string name, const std::vector<PatternEntry>& entries,
           const std::vector<FieldRule>& fields, bool prefilter);

  // Finds the first entry matching `text`. On a match sets (*values)[i] for every field i: the
  // entry's template expanded with the groups, else the field's default group (trimmed), else
  // ""; the fields past fields.size() are cleared. Returns false, leaving *values untouched,
  // when no entry matches.
  bool Apply(std::string_view text, Values* values) const;

  const RegexListStats& stats() const { return regexes_.stats(); }

 private:
  using Templates = std::array<std::optional<std::string>, kMaxFields>;

  static std::vector<RegexSource> Sources(const std::vector<PatternEntry>& entries);

  std::vector<FieldRule> fields_;
  std::vector<Templates> templates_;  // one per entry, by field
  RegexList regexes_;
};

}  // namespace uap_cpp
