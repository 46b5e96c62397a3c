#include "platform/uap/pattern_file.h"

#include <glog/logging.h>
#include <yaml-cpp/yaml.h>

#include <exception>
#include <utility>

namespace uap_cpp {
namespace {

// Converts one list entry; false (with the reason in *why) when it is malformed.
bool ReadEntry(const YAML::Node& node, PatternEntry* entry, std::string* why) {
  if (!node.IsMap()) {
    *why = "entry is not a map";
    return false;
  }
  for (const auto& kv : node) {
    const std::string key = kv.first.Scalar();
    if (!kv.second.IsScalar()) {
      *why = "value of '" + key + "' is not a scalar";
      return false;
    }
    const std::string& value = kv.second.Scalar();
    if (key == "regex") {
      entry->regex = value;
    } else if (key == "regex_flag") {
      if (value == "i") {
        entry->case_insensitive = true;
      } else {
        LOG(WARNING) << "user agent patterns: line " << entry->line << ": unknown regex_flag '"
                     << value << "' ignored";
      }
    } else {
      entry->fields[key] = value;
    }
  }
  if (!node["regex"]) {
    *why = "entry has no regex";
    return false;
  }
  return true;
}

void ReadList(const YAML::Node& root, const char* name, std::vector<PatternEntry>* list,
              size_t* skipped) {
  const YAML::Node node = root[name];
  if (!node || !node.IsSequence()) {
    LOG(WARNING) << "user agent patterns: no '" << name << "' list; every lookup of it answers "
                 << "Other";
    return;
  }
  list->reserve(node.size());
  for (const auto& item : node) {
    PatternEntry entry;
    entry.line = static_cast<size_t>(item.Mark().line) + 1;
    std::string why;
    if (ReadEntry(item, &entry, &why)) {
      list->push_back(std::move(entry));
    } else {
      ++*skipped;
      LOG(WARNING) << "user agent patterns: " << name << " entry at line " << entry.line
                   << " skipped: " << why;
    }
  }
}

bool ReadRoot(const YAML::Node& root, PatternFile* out, std::string* error) {
  if (!root.IsMap()) {
    *error = "the top level is not a map of pattern lists";
    return false;
  }
  ReadList(root, "user_agent_parsers", &out->user_agent_parsers, &out->skipped_entries);
  ReadList(root, "os_parsers", &out->os_parsers, &out->skipped_entries);
  ReadList(root, "device_parsers", &out->device_parsers, &out->skipped_entries);
  return true;
}

// Runs `load` (which yields the YAML root) and reads it, turning every exception into *error.
template <typename LoadFn>
bool LoadWith(LoadFn load, PatternFile* out, std::string* error) {
  *out = PatternFile();
  try {
    if (ReadRoot(load(), out, error)) return true;
  } catch (const YAML::BadFile&) {
    *error = "cannot open the file";
  } catch (const YAML::Exception& e) {
    *error = e.what();
  } catch (const std::exception& e) {
    *error = e.what();
  }
  *out = PatternFile();
  return false;
}

}  // namespace

bool LoadPatternFile(const std::string& path, PatternFile* out, std::string* error) {
  if (LoadWith([&] { return YAML::LoadFile(path); }, out, error)) return true;
  *error = path + ": " + *error;
  return false;
}

bool ParsePatternText(const std::string& yaml_text, PatternFile* out, std::string* error) {
  return LoadWith([&] { return YAML::Load(yaml_text); }, out, error);
}

}  // namespace uap_cpp
