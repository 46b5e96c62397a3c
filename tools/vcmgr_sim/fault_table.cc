#include "tools/vcmgr_sim/fault_table.h"

#include <glog/logging.h>

#include <algorithm>

namespace vcmgr_sim {

void FaultTable::Insert(const VIFaultInjection& fault) {
  if (fault.api() == CLEAR_ALL_FAULTS) {
    LOG(INFO) << "faults cleared";
    faults_.clear();
    return;
  }
  LOG(INFO) << "fault armed: " << FAULT_API_TYPE_Name(fault.api()) << " count " << fault.count()
            << " status " << VCENTER_MGR_STATUS_Name(fault.status());
  faults_[fault.api()] = fault;
}

bool FaultTable::Fire(FAULT_API_TYPE api, VCENTER_MGR_STATUS* status) {
  auto it = faults_.find(api);
  if (it == faults_.end() || it->second.count() <= 0) return false;
  it->second.set_count(it->second.count() - 1);
  if (status) *status = it->second.status();
  LOG(INFO) << "fault fired: " << FAULT_API_TYPE_Name(api) << ", " << it->second.count() << " left";
  return true;
}

int FaultTable::Remaining(FAULT_API_TYPE api) const {
  auto it = faults_.find(api);
  return it == faults_.end() ? 0 : std::max(0, it->second.count());
}

}  // namespace vcmgr_sim
