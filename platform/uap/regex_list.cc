#include "platform/uap/regex_list.h"

#include <glog/logging.h>
#include <re2/re2.h>
#include <re2/set.h>

#include <algorithm>
#include <regex>
#include <utility>

namespace uap_cpp {
namespace {

// Memory budget of each list's pattern set (program and lazily built DFA together). With
// widened repeats, each uap-core 0.18.0 list needs about a megabyte; a text that would need
// more than the budget is matched one pattern at a time instead.
constexpr int64_t kSetMaxMem = 32 << 20;

constexpr int kMaxGroups = static_cast<int>(std::tuple_size<MatchGroups>::value) - 1;

RE2::Options PatternOptions(bool case_insensitive) {
  RE2::Options options;
  options.set_log_errors(false);
  options.set_case_sensitive(!case_insensitive);
  return options;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Length of the digits at s[pos...].
size_t DigitsAt(std::string_view s, size_t pos) {
  size_t n = 0;
  while (pos + n < s.size() && IsDigit(s[pos + n])) ++n;
  return n;
}

// Position just past the character class that opens at s[pos] ('['), or s.size().
size_t SkipClass(std::string_view s, size_t pos) {
  size_t i = pos + 1;
  if (i < s.size() && s[i] == '^') ++i;
  if (i < s.size() && s[i] == ']') ++i;  // a leading ']' is a member
  while (i < s.size() && s[i] != ']') {
    if (s[i] == '\\') {
      i += 2;
    } else if (s.compare(i, 2, "[:") == 0) {  // [:alpha:] and the like
      const size_t end = s.find(":]", i + 2);
      i = end == std::string_view::npos ? s.size() : end + 2;
    } else {
      ++i;
    }
  }
  return std::min(i + 1, s.size());
}

}  // namespace

std::string WidenCountedRepeats(std::string_view regex) {
  std::string out;
  out.reserve(regex.size());
  size_t i = 0;
  while (i < regex.size()) {
    const char c = regex[i];
    if (c == '\\') {
      out.append(regex.substr(i, 2));
      i += 2;
    } else if (c == '[') {
      const size_t end = SkipClass(regex, i);
      out.append(regex.substr(i, end - i));
      i = end;
    } else if (c == '{') {
      // "{m,n}" with both numbers present: keep "{m," and drop "n".
      const size_t m = DigitsAt(regex, i + 1);
      const size_t comma = i + 1 + m;
      const size_t n = comma < regex.size() && regex[comma] == ',' ? DigitsAt(regex, comma + 1) : 0;
      const size_t close = comma + 1 + n;
      if (m > 0 && n > 0 && close < regex.size() && regex[close] == '}') {
        out.append(regex.substr(i, comma + 1 - i));
        out.push_back('}');
        i = close + 1;
      } else {
        out.push_back(c);
        ++i;
      }
    } else {
      out.push_back(c);
      ++i;
    }
  }
  return out;
}

struct RegexList::Compiled {
  std::unique_ptr<RE2> re2;              // set when RE2 accepted the pattern
  std::unique_ptr<std::regex> fallback;  // otherwise set
  int groups = 0;                        // capture groups reported, at most kMaxGroups
};

// The RE2 patterns of a list compiled as one set, plus the positions the set cannot answer
// for (fallback patterns and any pattern the set refused), which are always tried.
class RegexList::Prefilter {
 public:
  Prefilter() : set_(SetOptions(), RE2::UNANCHORED) {}

  static RE2::Options SetOptions() {
    RE2::Options options;
    options.set_log_errors(false);
    options.set_max_mem(kSetMaxMem);
    return options;
  }

  // Adds the pattern at `pos`; false when the set refuses it.
  bool Add(size_t pos, const RegexSource& source) {
    std::string error;
    const std::string widened = WidenCountedRepeats(source.regex);
    const int index = set_.Add(source.case_insensitive ? "(?i)" + widened : widened, &error);
    if (index < 0) return false;
    set_to_pos_.push_back(static_cast<int>(pos));
    return true;
  }
  void AddUnfiltered(size_t pos) { unfiltered_.push_back(static_cast<int>(pos)); }
  bool Compile() { return set_.Compile(); }

  // Sets *positions to the sorted positions of set patterns that match somewhere in `text`.
  // False when the set could not answer (out of memory); then nothing can be concluded.
  bool Candidates(std::string_view text, std::vector<int>* positions) const {
    std::vector<int> indices;
    RE2::Set::ErrorInfo info{};
    const bool matched = set_.Match(re2::StringPiece(text.data(), text.size()), &indices, &info);
    if (!matched && info.kind != RE2::Set::kNoError) return false;
    positions->clear();
    positions->reserve(indices.size());
    for (int i : indices) positions->push_back(set_to_pos_[static_cast<size_t>(i)]);
    std::sort(positions->begin(), positions->end());
    return true;
  }

  const std::vector<int>& unfiltered() const { return unfiltered_; }

 private:
  RE2::Set set_;
  std::vector<int> set_to_pos_;  // set index to list position
  std::vector<int> unfiltered_;  // ascending
};

RegexList::RegexList(std::string name, const std::vector<RegexSource>& sources, bool prefilter)
    : name_(std::move(name)) {
  stats_.total = sources.size();
  if (prefilter) prefilter_ = std::make_unique<Prefilter>();
  patterns_.reserve(sources.size());
  for (size_t pos = 0; pos < sources.size(); ++pos) {
    const RegexSource& source = sources[pos];
    auto compiled = std::make_unique<Compiled>();
    auto re2 = std::make_unique<RE2>(source.regex, PatternOptions(source.case_insensitive));
    if (re2->ok()) {
      compiled->groups = std::min(re2->NumberOfCapturingGroups(), kMaxGroups);
      compiled->re2 = std::move(re2);
      ++stats_.re2;
      if (prefilter_ && !prefilter_->Add(pos, source)) prefilter_->AddUnfiltered(pos);
    } else {
      try {
        auto flags = std::regex::ECMAScript;
        if (source.case_insensitive) flags |= std::regex::icase;
        compiled->fallback = std::make_unique<std::regex>(source.regex, flags);
        compiled->groups = std::min(static_cast<int>(compiled->fallback->mark_count()), kMaxGroups);
        ++stats_.fallback;
        if (prefilter_) prefilter_->AddUnfiltered(pos);
        VLOG(1) << name_ << " pattern " << pos << " refused by RE2 (" << re2->error()
                << "), matched with std::regex: " << source.regex;
      } catch (const std::regex_error& e) {
        ++stats_.skipped;
        LOG(WARNING) << name_ << " pattern " << pos << " skipped: RE2: " << re2->error()
                     << "; std::regex: " << e.what() << ": " << source.regex;
        compiled.reset();
      }
    }
    patterns_.push_back(std::move(compiled));
  }
  if (prefilter_ && !prefilter_->Compile()) {
    LOG(WARNING) << name_ << ": the pattern set does not compile within " << (kSetMaxMem >> 20)
                 << " MiB; patterns are tried one by one";
    prefilter_.reset();
  }
  stats_.prefiltered = prefilter_ != nullptr;
}

RegexList::~RegexList() = default;

bool RegexList::MatchOne(size_t pos, std::string_view text, MatchGroups* groups) const {
  const Compiled* c = patterns_[pos].get();
  if (c == nullptr) return false;
  const int n = c->groups + 1;
  if (c->re2) {
    re2::StringPiece found[kMaxGroups + 1];
    if (!c->re2->Match(re2::StringPiece(text.data(), text.size()), 0, text.size(),
                       RE2::UNANCHORED, found, n)) {
      return false;
    }
    for (int i = 0; i < n; ++i) {
      if (found[i].data() != nullptr) {
        (*groups)[i] = std::string_view(found[i].data(), found[i].size());
      }
    }
    return true;
  }
  const char* begin = text.data();
  const char* end = begin + std::min(text.size(), kFallbackMaxInput);
  std::cmatch m;
  try {
    if (!std::regex_search(begin, end, m, *c->fallback)) return false;
  } catch (const std::regex_error& e) {
    LOG_FIRST_N(WARNING, 5) << name_ << " pattern " << pos << " failed on a text: " << e.what();
    return false;
  }
  for (int i = 0; i < n; ++i) {
    if (m[i].matched) {
      (*groups)[i] = std::string_view(m[i].first, static_cast<size_t>(m[i].length()));
    }
  }
  return true;
}

int RegexList::Scan(std::string_view text, MatchGroups* groups) const {
  for (size_t pos = 0; pos < patterns_.size(); ++pos) {
    if (MatchOne(pos, text, groups)) return static_cast<int>(pos);
  }
  return -1;
}

int RegexList::FirstMatch(std::string_view text, MatchGroups* groups) const {
  groups->fill(std::string_view());
  if (prefilter_) {
    std::vector<int> candidates;
    if (prefilter_->Candidates(text, &candidates)) {
      // Both lists are ascending: try their positions in one merged order.
      const std::vector<int>& unfiltered = prefilter_->unfiltered();
      size_t i = 0, j = 0;
      while (i < candidates.size() || j < unfiltered.size()) {
        const bool take_candidate =
            j == unfiltered.size() || (i < candidates.size() && candidates[i] < unfiltered[j]);
        const int pos = take_candidate ? candidates[i++] : unfiltered[j++];
        if (MatchOne(static_cast<size_t>(pos), text, groups)) return pos;
      }
      return -1;
    }
    LOG_FIRST_N(WARNING, 1) << name_ << ": the pattern set ran out of memory on a text; such "
                            << "texts are matched one pattern at a time";
  }
  return Scan(text, groups);
}

}  // namespace uap_cpp
