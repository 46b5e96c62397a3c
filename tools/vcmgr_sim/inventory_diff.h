// Differences between two inventories, for the notifications of a reload.
#pragma once

#include <utility>
#include <vector>

#include "tools/vcmgr_sim/monitor_feed.h"
#include "tools/vcmgr_sim/sim_inventory.pb.h"

namespace vcmgr_sim {

// What changed, object by object (matched by MOR). Entered and modified objects are taken from
// the new inventory, left ones from the old. Lists keep inventory order.
struct InventoryDiff {
  std::vector<std::pair<Change, CorvelClusterRuntime>> clusters;
  std::vector<std::pair<Change, CorvelHostRuntime>> hosts;
  std::vector<std::pair<Change, CorvelNWRuntime>> port_groups;
  std::vector<std::pair<Change, CorvelVMRuntime>> vms;
  bool datacenter_changed = false;
  bool connection_changed = false;

  bool empty() const {
    return clusters.empty() && hosts.empty() && port_groups.empty() && vms.empty() && !datacenter_changed &&
           !connection_changed;
  }
};

// Compares two checked inventories.
InventoryDiff DiffInventories(const SimInventory& before, const SimInventory& after);

// Sends the differences to the monitors: new and changed objects parents first (clusters,
// hosts, port groups, VMs), then removals children first, then the datacenter and the
// connection state.
void ReportDiff(const InventoryDiff& diff, bool connected, MonitorFeed* feed);

}  // namespace vcmgr_sim
