// Virtual service name to tenant name, read from the controller's tenant map file.
#pragma once

#include <string>
#include <unordered_map>

namespace kyv::infra::log {

// The file holds one "vs name,tenant name[,...]" entry per line. Entries are only ever added or
// overwritten, never removed.
class VsTenantMap {
 public:
  explicit VsTenantMap(std::string path) : path_(std::move(path)) {}

  // Tenant of the virtual service `vs`. When the map is empty or lacks the name the file is read
  // again first; a name still missing gives "". A file that cannot be opened changes nothing.
  std::string get_tenant_for_vs(const std::string& vs);

  size_t size() const { return map_.size(); }

 private:
  // Reads the file into the map: later lines overwrite earlier ones; lines with fewer than two
  // comma-separated fields are skipped. A standard exception ends the read with a line on
  // standard error; entries read so far stay.
  void Load();

  std::string path_;
  std::unordered_map<std::string, std::string> map_;
};

}  // namespace kyv::infra::log
