#include "infrastructure/common/log_renderer/vs_tenant_map.h"

#include <fstream>
#include <iostream>

namespace kyv::infra::log {

std::string VsTenantMap::get_tenant_for_vs(const std::string& vs) {
  auto it = map_.find(vs);
  if (it == map_.end()) {
    Load();
    it = map_.find(vs);
  }
  return it == map_.end() ? std::string() : it->second;
}

void VsTenantMap::Load() {
  std::ifstream in(path_);
  if (!in.is_open()) return;
  try {
    std::string line;
    while (std::getline(in, line)) {
      const size_t comma = line.find(',');
      if (comma == std::string::npos) continue;
      const size_t next = line.find(',', comma + 1);
      map_[line.substr(0, comma)] =
          line.substr(comma + 1, next == std::string::npos ? std::string::npos : next - comma - 1);
    }
  } catch (const std::exception&) {
    std::cerr << "Could not read the vs tenant map" << std::endl;
  }
}

}  // namespace kyv::infra::log
