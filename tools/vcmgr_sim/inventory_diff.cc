#include "tools/vcmgr_sim/inventory_diff.h"

#include <google/protobuf/util/message_differencer.h>

#include <string>
#include <unordered_map>

namespace vcmgr_sim {

namespace {

template <typename Record>
void DiffList(const google::protobuf::RepeatedPtrField<Record>& before,
              const google::protobuf::RepeatedPtrField<Record>& after,
              std::vector<std::pair<Change, Record>>* out) {
  std::unordered_map<std::string, const Record*> old;
  for (const Record& r : before) old.emplace(r.managed_object_id(), &r);
  for (const Record& r : after) {
    auto it = old.find(r.managed_object_id());
    if (it == old.end()) {
      out->emplace_back(Change::kEnter, r);
      continue;
    }
    if (!google::protobuf::util::MessageDifferencer::Equals(*it->second, r)) out->emplace_back(Change::kModify, r);
    old.erase(it);
  }
  for (const Record& r : before) {
    if (old.count(r.managed_object_id())) out->emplace_back(Change::kLeave, r);
  }
}

template <typename Record, typename Send>
void Report(const std::vector<std::pair<Change, Record>>& list, bool leaves, Send send) {
  for (const auto& [change, record] : list) {
    if ((change == Change::kLeave) == leaves) send(change, record);
  }
}

}  // namespace

InventoryDiff DiffInventories(const SimInventory& before, const SimInventory& after) {
  InventoryDiff diff;
  DiffList(before.clusters(), after.clusters(), &diff.clusters);
  DiffList(before.hosts(), after.hosts(), &diff.hosts);
  DiffList(before.port_groups(), after.port_groups(), &diff.port_groups);
  DiffList(before.vms(), after.vms(), &diff.vms);
  diff.datacenter_changed = before.datacenter().name() != after.datacenter().name();
  diff.connection_changed = before.vcenter().connected() != after.vcenter().connected();
  return diff;
}

void ReportDiff(const InventoryDiff& diff, bool connected, MonitorFeed* feed) {
  auto cluster = [feed](Change c, const CorvelClusterRuntime& r) { feed->ClusterChanged(c, r); };
  auto host = [feed](Change c, const CorvelHostRuntime& r) { feed->HostChanged(c, r); };
  auto pg = [feed](Change c, const CorvelNWRuntime& r) { feed->PortGroupChanged(c, r); };
  auto vm = [feed](Change c, const CorvelVMRuntime& r) { feed->VmChanged(c, r); };
  Report(diff.clusters, false, cluster);
  Report(diff.hosts, false, host);
  Report(diff.port_groups, false, pg);
  Report(diff.vms, false, vm);
  Report(diff.vms, true, vm);
  Report(diff.port_groups, true, pg);
  Report(diff.hosts, true, host);
  Report(diff.clusters, true, cluster);
  if (diff.datacenter_changed) feed->DatacenterChanged();
  if (diff.connection_changed) {
    feed->ConnectionStatus(connected, connected ? CORVEL_SUCCESS : CORVEL_CONN_FAILURE,
                           connected ? "Connected to vCenter" : "Connection to vCenter lost");
  }
}

}  // namespace vcmgr_sim
