#include "controller/metrics_manager/ip_table.h"

namespace kyv::infra::log {

std::string ip_table_group::get_ipaddrgroup(const std::string& /*ip*/,
                                            const std::vector<std::string>& /*tenants*/) const {
  return "";
}

}  // namespace kyv::infra::log
