// Reading of a user-agent pattern file (uap-core's regexes.yaml layout): three ordered lists,
// `user_agent_parsers`, `os_parsers` and `device_parsers`, whose entries each hold a `regex`,
// an optional `regex_flag: 'i'` and optional replacement templates.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

namespace uap_cpp {

// One entry of a pattern list, as written in the file.
struct PatternEntry {
  std::string regex;
  bool case_insensitive = false;  // regex_flag: 'i'
  // Every other scalar key of the entry ("family_replacement", "os_v1_replacement", ...) to
  // its text, unexpanded.
  std::map<std::string, std::string> fields;
  size_t line = 0;  // 1-based line of the entry in the file, for log lines
};

// The three lists of a pattern file, in file order.
struct PatternFile {
  std::vector<PatternEntry> user_agent_parsers;
  std::vector<PatternEntry> os_parsers;
  std::vector<PatternEntry> device_parsers;
  size_t skipped_entries = 0;  // entries dropped as malformed (each logged)
};

// Reads the pattern file at `path` into *out (replacing its contents). Returns false and sets
// *error when the file cannot be read, is not YAML, or its top level is not a map; *out is
// then empty. A missing or non-list pattern list is read as empty with a warning. An entry
// that is not a map, has no scalar `regex`, or has a non-scalar value is skipped with a
// warning and counted in skipped_entries.
bool LoadPatternFile(const std::string& path, PatternFile* out, std::string* error);

// As LoadPatternFile, from YAML text held in memory.
bool ParsePatternText(const std::string& yaml_text, PatternFile* out, std::string* error);

}  // namespace uap_cpp
