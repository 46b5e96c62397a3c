// The inventory as the connector of one cloud sees it.
#pragma once

#include <string>

#include "tools/vcmgr_sim/inventory.h"

namespace vcmgr_sim {

// Renders inventory records as the records of one cloud: object uuids built from MORs and the
// cloud's uuid, references turned into uuids, and the reference lists that vCenter derives
// filled in. Holds a reference to the inventory, which must outlive the view; each render
// reflects the inventory at the time of the call.
class CloudView {
 public:
  CloudView(const Inventory& inv, std::string cloud_uuid)
      : inv_(inv), cloud_uuid_(std::move(cloud_uuid)) {}

  const std::string& cloud_uuid() const { return cloud_uuid_; }
  // uuid of `mor` in this cloud; empty for an empty MOR.
  std::string Uuid(const std::string& mor) const;
  std::string DatacenterUuid() const { return Uuid(inv_.datacenter().managed_object_id()); }

  VIDCInfo DatacenterInfo() const;
  // The datacenter with the uuids of its clusters, hosts and port groups.
  void Datacenter(CorvelDCRuntime* out) const;
  void Cluster(const CorvelClusterRuntime& in, CorvelClusterRuntime* out) const;
  void Host(const CorvelHostRuntime& in, CorvelHostRuntime* out) const;
  // Subnets a port group declares in the inventory are not sent: the connector keeps its own.
  void PortGroup(const CorvelNWRuntime& in, CorvelNWRuntime* out) const;
  void Vm(const CorvelVMRuntime& in, CorvelVMRuntime* out) const;

 private:
  const Inventory& inv_;
  std::string cloud_uuid_;
};

}  // namespace vcmgr_sim
