// Test faults armed through InjectFault.
#pragma once

#include <map>

#include "proto/vcenter_mgr.pb.h"

namespace vcmgr_sim {

// Faults by API: one entry per API; a fault armed with count N fires on the next N checks of
// its API and then stays, inert, until it is overwritten or cleared. Single-threaded.
class FaultTable {
 public:
  // Arms `fault`, replacing an entry of the same API. CLEAR_ALL_FAULTS empties the table.
  void Insert(const VIFaultInjection& fault);
  // True when `api` has an entry with a count above 0: takes one count and, when `status` is
  // given, stores the entry's status there. False leaves `*status` untouched.
  bool Fire(FAULT_API_TYPE api, VCENTER_MGR_STATUS* status = nullptr);
  // Counts left for `api` (0 when none).
  int Remaining(FAULT_API_TYPE api) const;
  void Clear() { faults_.clear(); }

 private:
  std::map<FAULT_API_TYPE, VIFaultInjection> faults_;
};

}  // namespace vcmgr_sim
