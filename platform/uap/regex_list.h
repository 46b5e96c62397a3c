// An ordered list of regular expressions that answers which one matches a text first.
#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace uap_cpp {

// The groups of a match: [0] the whole match, [1] to [9] the first nine capture groups. A group
// that did not take part in the match, or that the pattern lacks, is empty.
using MatchGroups = std::array<std::string_view, 10>;

// Returns `regex` with the upper bound of every counted repeat dropped: "x{m,n}" becomes
// "x{m,}" (a lazy "?" after it stays). Braces inside character classes and escaped braces are
// left alone. The result accepts every text the original accepts, and more; it compiles into
// far fewer automaton states, since a bound of n costs n copies of the repeated part.
std::string WidenCountedRepeats(std::string_view regex);

// One pattern of a list.
struct RegexSource {
  std::string regex;
  bool case_insensitive = false;
};

// How the patterns of a list were compiled.
struct RegexListStats {
  size_t total = 0;     // patterns given
  size_t re2 = 0;       // compiled by RE2
  size_t fallback = 0;  // refused by RE2, compiled by the fallback engine (std::regex)
  size_t skipped = 0;   // refused by both engines; never match
  bool prefiltered = false;  // the RE2 patterns also run as one set (see RegexList)
};

// Matching follows the pattern file's own semantics: a pattern matches when it matches
// anywhere in the text (a search, not a full match), and the pattern earliest in the list
// wins. Each pattern is compiled with RE2; a pattern that RE2 refuses (look-around, back
// references) is compiled with std::regex's ECMAScript grammar instead, and one that both
// refuse is skipped with a warning. The fallback engine only sees the first
// kFallbackMaxInput bytes of a text, since its matcher recurses once per character.
//
// With the prefilter, the RE2 patterns are also compiled into one RE2 set that finds, in a
// single pass, every pattern that may match the text; the candidates are then run on their
// own, earliest first, until one matches and gives its groups. The set holds the patterns
// widened by WidenCountedRepeats (uap-core bounds most repeats, ".{0,200}", which would make
// the set's automaton huge), so it may name a candidate that does not match but never misses
// one that does. Without the prefilter (or when the set cannot be built, or runs out of
// memory on a text) the patterns are tried one by one in order; the answers are the same.
//
// Immutable after construction; FirstMatch may run on several threads at once.
class RegexList {
 public:
  static constexpr size_t kFallbackMaxInput = 1024;

  // Compiles `sources` in order. `name` prefixes log lines. Never fails: unusable patterns
  // are skipped (logged and counted in stats()).
  RegexList(std::string name, const std::vector<RegexSource>& sources, bool prefilter = true);
  ~RegexList();
  RegexList(const RegexList&) = delete;
  RegexList& operator=(const RegexList&) = delete;

  // Returns the position in `sources` of the first pattern that matches `text` and sets
  // *groups to views into `text`; returns -1 (groups all empty) when none matches.
  int FirstMatch(std::string_view text, MatchGroups* groups) const;

  const RegexListStats& stats() const { return stats_; }

 private:
  struct Compiled;
  class Prefilter;

  // Runs the pattern at position `pos`; fills *groups on a match.
  bool MatchOne(size_t pos, std::string_view text, MatchGroups* groups) const;
  // Tries every pattern in order.
  int Scan(std::string_view text, MatchGroups* groups) const;

  std::string name_;
  std::vector<std::unique_ptr<Compiled>> patterns_;  // one per source; null when skipped
  std::unique_ptr<Prefilter> prefilter_;
  RegexListStats stats_;
};

}  // namespace uap_cpp
