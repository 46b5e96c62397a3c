#include "tools/vcmgr_sim/cloud_view.h"

namespace vcmgr_sim {

std::string CloudView::Uuid(const std::string& mor) const {
  return mor.empty() ? std::string() : ObjectUuid(mor, cloud_uuid_);
}

VIDCInfo CloudView::DatacenterInfo() const {
  VIDCInfo info = inv_.datacenter();
  info.set_uuid(DatacenterUuid());
  return info;
}

void CloudView::Datacenter(CorvelDCRuntime* out) const {
  out->Clear();
  out->set_uuid(DatacenterUuid());
  out->set_name(inv_.datacenter().name());
  out->set_managed_object_id(inv_.datacenter().managed_object_id());
  out->set_type(CLOUD_VCENTER);
  for (const auto& c : inv_.data().clusters()) out->add_cluster_uuids(Uuid(c.managed_object_id()));
  for (const auto& h : inv_.data().hosts()) out->add_host_uuids(Uuid(h.managed_object_id()));
  for (const auto& pg : inv_.data().port_groups()) out->add_nw_uuids(Uuid(pg.managed_object_id()));
}

void CloudView::Cluster(const CorvelClusterRuntime& in, CorvelClusterRuntime* out) const {
  *out = in;
  out->set_uuid(Uuid(in.managed_object_id()));
  out->set_datacenter_uuid(DatacenterUuid());
  out->clear_host_uuids();
  for (const auto& mor : inv_.HostsOfCluster(in.managed_object_id())) out->add_host_uuids(Uuid(mor));
}

void CloudView::Host(const CorvelHostRuntime& in, CorvelHostRuntime* out) const {
  *out = in;
  out->set_uuid(Uuid(in.managed_object_id()));
  if (!in.cluster_uuid().empty()) out->set_cluster_uuid(Uuid(in.cluster_uuid()));
  for (auto& net : *out->mutable_network_uuids()) net = Uuid(net);
}

void CloudView::PortGroup(const CorvelNWRuntime& in, CorvelNWRuntime* out) const {
  *out = in;
  out->set_uuid(Uuid(in.managed_object_id()));
  out->set_datacenter_uuid(DatacenterUuid());
  out->set_type(CLOUD_VCENTER);
  out->clear_ip_subnet();
  out->clear_host_uuids();
  for (const auto& mor : inv_.HostsOfPortGroup(in.managed_object_id())) out->add_host_uuids(Uuid(mor));
}

void CloudView::Vm(const CorvelVMRuntime& in, CorvelVMRuntime* out) const {
  *out = in;
  out->set_uuid(Uuid(in.managed_object_id()));
  out->set_host(Uuid(in.host()));
  out->set_vcenter_datacenter_uuid(DatacenterUuid());
  for (auto& nic : *out->mutable_guest_nic()) {
    if (!nic.network_uuid().empty()) nic.set_network_uuid(Uuid(nic.network_uuid()));
  }
}

}  // namespace vcmgr_sim
