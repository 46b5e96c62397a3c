// IP address groups of every tenant, for labelling client addresses in logs.
//
// For now the table holds no group: it is filled from the exported IP address group file by the
// group table work (IndexWorker::create_ipg reads that file and calls upd_group).
#pragma once

#include <string>
#include <vector>

namespace kyv::infra::log {

// The process-wide table of IP address groups, one longest-prefix table per tenant.
class ip_table_group {
 public:
  // True when no tenant holds a group.
  bool is_empty() const { return true; }
  // Drops every group of every tenant.
  void clear_ipg() {}
  // Name of the first group of `tenants` (in list order) that holds the dotted-quad address
  // `ip`; "" when none does.
  std::string get_ipaddrgroup(const std::string& ip, const std::vector<std::string>& tenants) const;
};

}  // namespace kyv::infra::log
