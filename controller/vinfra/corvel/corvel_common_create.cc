// Create-or-update of every runtime record: find the stored record in the transaction, create
// it only when the datastore says it is absent, merge the incoming vCenter data under rules that
// keep the connector's own fields, and record the write.
#include <glog/logging.h>

#include <unordered_map>

#include "controller/vinfra/corvel/corvel_common.h"
#include "controller/vinfra/corvel/corvel_events.h"
#include "platform/common/common_utils.h"

namespace {

constexpr char kTenantAdmin[] = "admin";

// Finds the record (view first, then datastore) or inserts `fresh` when it is absent. A record
// that exists but cannot be read is an error: it is never overwritten with a blank one.
// On success *out is the tracked record and *existed tells whether it was stored before.
template <typename Record>
Syserr FindOrInsert(Transaction* txn, const std::string& uuid, const Record& fresh, Record** out,
                    bool* existed, Syserr (*lookup)(Transaction*, const std::string&, Record**),
                    const std::string& insert_error) {
  *existed = lookup(txn, uuid, out) == SYSERR_SUCCESS;
  if (*existed) return SYSERR_SUCCESS;
  const std::string table = CorvelTable<Record>();
  if (!CorvelObjectAbsent(txn, table, uuid)) {
    LOG(ERROR) << "Cannot read " << table << " " << uuid << "; not overwriting it";
    return SYSERR_DB_PARSE_ERROR;
  }
  Syserr err = txn->db_view()->DbUpdate(DbIndex(table, uuid), nullptr, &fresh, false, false, false);
  if (err != SYSERR_SUCCESS || lookup(txn, uuid, out) != SYSERR_SUCCESS) {
    VLOG(2) << insert_error;
    return err != SYSERR_SUCCESS ? err : SYSERR_FAILURE;
  }
  return SYSERR_SUCCESS;
}

// Records the write of a merged record; logs `error` on failure.
Syserr WriteMerged(Transaction* txn, google::protobuf::Message* record, const std::string& error) {
  Syserr err = CorvelDbUpdateRuntime(txn, record);
  if (err != SYSERR_SUCCESS) VLOG(2) << error;
  return err;
}

// The vNICs of `incoming` in their order: one reported on network "none" is replaced by the
// stored vNIC with the same MAC address, or dropped when there is none.
google::protobuf::RepeatedPtrField<CorvelGuestNicRuntime> MergeNics(
    const google::protobuf::RepeatedPtrField<CorvelGuestNicRuntime>& incoming,
    const google::protobuf::RepeatedPtrField<CorvelGuestNicRuntime>& stored) {
  std::unordered_map<std::string, const CorvelGuestNicRuntime*> by_mac;
  for (const auto& nic : stored) by_mac[nic.mac_addr()] = &nic;
  google::protobuf::RepeatedPtrField<CorvelGuestNicRuntime> merged;
  for (const auto& nic : incoming) {
    if (nic.network_name() != "none") {
      *merged.Add() = nic;
    } else {
      auto it = by_mac.find(nic.mac_addr());
      if (it != by_mac.end()) *merged.Add() = *it->second;
    }
  }
  return merged;
}

}  // namespace

Syserr CorvelCreateVcenterinDbview(Transaction* txn, std::string uuid, std::string cloud_uuid,
                                   CorvelVcenterRuntime** out) {
  CorvelVcenterRuntime fresh;
  fresh.set_type(CLOUD_VCENTER);
  fresh.set_uuid(uuid);
  fresh.set_vcenter_url(uuid);
  fresh.set_cloud_uuid(cloud_uuid);
  const std::string error = " Error in Updating Vcenter : " + uuid + " in Datastore ";
  CorvelVcenterRuntime* rec = nullptr;
  bool existed = false;
  Syserr err = FindOrInsert(txn, uuid, fresh, &rec, &existed,
                            &CorvelInventoryRetrieveVcenterinDbview, error);
  if (err != SYSERR_SUCCESS) return err;
  rec->set_uuid(uuid);
  rec->set_vcenter_url(uuid);
  rec->set_cloud_uuid(cloud_uuid);
  rec->set_tenant_uuid(kTenantAdmin);
  rec->set_inventory_progress(CorvelRetrieveDiscoveryStateString(DISCOVERY_NETWORK));
  err = WriteMerged(txn, rec, error);
  *out = rec;
  return err;
}

Syserr CorvelCreateDCinDbview(Transaction* txn, std::string dc_uuid, VIDCInfo dcinfo,
                              CorvelDCRuntime** out) {
  CorvelDCRuntime fresh;
  fresh.set_type(CLOUD_VCENTER);
  fresh.set_uuid(dcinfo.uuid());
  fresh.set_name(dcinfo.name());
  const std::string error = " Error in Updating DC : " + dcinfo.name() + " in Datastore ";
  CorvelDCRuntime* rec = nullptr;
  bool existed = false;
  Syserr err =
      FindOrInsert(txn, dc_uuid, fresh, &rec, &existed, &CorvelInventoryRetrieveDCinDbview, error);
  if (err != SYSERR_SUCCESS) return err;
  rec->set_uuid(dcinfo.uuid());
  rec->set_name(dcinfo.name());
  rec->set_managed_object_id(dcinfo.managed_object_id());
  rec->set_inventory_state(DC_DISC_HOST);
  rec->set_tenant_uuid(kTenantAdmin);
  err = WriteMerged(txn, rec, error);
  *out = rec;
  return err;
}

Syserr CorvelCreateClusterinDbView(Transaction* txn, std::string cluster_uuid,
                                   CorvelClusterRuntime clusterinfo, CorvelClusterRuntime** out,
                                   bool) {
  VLOG(2) << "Cluster.name : " << clusterinfo.name() << " Cluster.mor : "
          << clusterinfo.managed_object_id() << " Cluster.UUID : " << clusterinfo.uuid()
          << " Cluster.dc   : " << clusterinfo.datacenter_managed_object_id();
  CorvelClusterRuntime fresh;
  fresh.set_name(clusterinfo.name());
  fresh.set_uuid(cluster_uuid);
  CorvelClusterRuntime* rec = nullptr;
  bool existed = false;
  Syserr err = FindOrInsert(txn, cluster_uuid, fresh, &rec, &existed,
                            &CorvelInventoryRetrieveClusterinDbview,
                            " Error in Inserting Cluster : " + clusterinfo.name() + " in DbView ");
  if (err != SYSERR_SUCCESS) return err;
  *rec = clusterinfo;
  rec->set_tenant_uuid(kTenantAdmin);
  err = WriteMerged(txn, rec, " Error in Updating Cluster : " + clusterinfo.name() + " in DbView ");
  *out = rec;
  return err;
}

Syserr CorvelCreatePGinDbView(Transaction* txn, std::string pg_uuid, CorvelNWRuntime pginfo,
                              std::string def_vrf_ctxt_uuid, CorvelNWRuntime** out,
                              std::string mgmt_nw_name, bool) {
  VLOG(2) << "PG.name : " << pginfo.name() << " PG.mor : " << pginfo.managed_object_id()
          << " PG.UUID : " << pginfo.uuid() << " Def Vrf Context : " << def_vrf_ctxt_uuid;
  std::string tenant = kTenantAdmin;
  std::string vrf = def_vrf_ctxt_uuid;
  CorvelNWRuntime fresh;
  fresh.set_name(pginfo.name());
  fresh.set_uuid(pg_uuid);
  CorvelNWRuntime* rec = nullptr;
  bool existed = false;
  Syserr err = FindOrInsert(txn, pg_uuid, fresh, &rec, &existed, &CorvelInventoryRetrievePGinDbview,
                            " Error in Inserting Portgroup : " + pginfo.name() + " in DbView ");
  if (err != SYSERR_SUCCESS) return err;
  if (existed) {
    tenant = rec->tenant_uuid();
    vrf = rec->vrf_context_uuid();
  }
  if (rec->name() != pginfo.name()) {
    VLOG(2) << "Old : " << rec->name() << " New : " << pginfo.name() << " Mgmt Nw : " << mgmt_nw_name;
    // The management network may be configured by name or by port-group uuid.
    if (!mgmt_nw_name.empty() && (rec->name() == mgmt_nw_name || rec->uuid() == mgmt_nw_name)) {
      CorvelGenMgmtNwChangeEvent(RetrieveVcenter(rec->cloud_uuid()), rec->name(), pginfo.name());
    }
  }
  *pginfo.mutable_ip_subnet() = rec->ip_subnet();
  *rec = pginfo;
  rec->set_interested_nw(true);
  rec->set_tenant_uuid(tenant);
  rec->set_vrf_context_uuid(vrf);
  err = CorvelDbUpdateRuntime(txn, rec);
  if (err != SYSERR_SUCCESS) {
    VLOG(2) << " Error in Upating Portgroup : " << pginfo.name() << " in DbView "
            << " Syserr : " << err;
    return err;
  }
  *out = rec;
  return err;
}

Syserr CorvelCreateHostinDbView(Transaction* txn, std::string host_uuid, std::string vcenter_url,
                                CorvelHostRuntime hostinfo, CorvelHostRuntime** out, bool) {
  VLOG(2) << "Host.name : " << hostinfo.name() << " Host.MOR     : " << hostinfo.managed_object_id()
          << " Hostcluster  : " << hostinfo.cluster_name() << " Host.uuid    : " << hostinfo.uuid();
  CorvelHostRuntime fresh;
  fresh.set_name(hostinfo.name());
  fresh.set_uuid(host_uuid);
  CorvelHostRuntime* rec = nullptr;
  bool existed = false;
  Syserr err = FindOrInsert(txn, host_uuid, fresh, &rec, &existed,
                            &CorvelInventoryRetrieveHostinDbview,
                            " Error in Inserting Host : " + hostinfo.name() + " in DbView ");
  if (err != SYSERR_SUCCESS) return err;
  // Fields the connector owns survive a refresh from vCenter data.
  const CorvelHostRuntime saved = *rec;
  *rec = hostinfo;
  rec->set_quarantined(saved.quarantined());
  rec->set_quarantine_start_ts(saved.quarantine_start_ts());
  rec->set_cntlr_accessible(saved.cntlr_accessible());
  rec->set_se_success_cnt(saved.se_success_cnt());
  rec->set_se_fail_cnt(saved.se_fail_cnt());
  rec->set_quarantined_periods(saved.quarantined_periods());
  rec->set_tenant_uuid(kTenantAdmin);
  if (saved.powerstate() == "poweredOn" && rec->powerstate() == "poweredOff") {
    VLOG(2) << " Host : " << rec->name() << " Transitioned from "
            << " poweredOn to poweredOff. Generating event ESX_HOST_POWERED_DOWN ";
    EventApiInfo info;
    CorvelForEachStored<CorvelSEVMRuntime>([&](const CorvelSEVMRuntime& sevm) {
      if (sevm.host_uuid() == rec->uuid()) info.add_related_uuids(convertuuid("se", sevm.uuid()));
      return true;
    });
    CorvelGenEsxHostPoweredDown(rec->uuid(), ESX_HOST_POWERED_DOWN, &info, vcenter_url, rec->name());
  }
  err = WriteMerged(txn, rec, " Error in Updating Host : " + hostinfo.name() + " in DbView ");
  *out = rec;
  return err;
}

Syserr CorvelCreateVMinDbView(Transaction* txn, CorvelVMRuntime vminfo, CorvelVMRuntime** out,
                              bool, bool disable_vm_disc, bool* owned) {
  VLOG(2) << "VM.name       : " << vminfo.name() << " VM.mor : " << vminfo.managed_object_id()
          << " VM.UUID : " << vminfo.uuid() << " VM.power : " << vminfo.powerstate()
          << " VM.host : " << vminfo.host() << " VM.Controller : " << vminfo.controller_ip_addr()
          << " VM.dc : " << vminfo.vcenter_datacenter_uuid()
          << " VM.SE VM : " << vminfo.vcenter_vm_type()
          << " VM.Template   : " << vminfo.vcenter_template_vm()
          << " VM.SE_Type    : " << vminfo.vcenter_se_type()
          << " VM.CPU        : " << vminfo.cpu_reservation()
          << " VM.Mem        : " << vminfo.memory_reservation();
  if (owned != nullptr) *owned = false;
  const bool is_se = vminfo.vcenter_vm_type() == VMTYPE_SE_VM;
  const bool unsaved = !is_se && disable_vm_disc;
  const std::string uuid = vminfo.uuid();

  CorvelVMRuntime* rec = nullptr;
  bool existed = CorvelInventoryRetrieveVMinDbview(txn, uuid, &rec) == SYSERR_SUCCESS;
  if (!existed) {
    if (!CorvelObjectAbsent(txn, CorvelTable<CorvelVMRuntime>(), uuid)) {
      LOG(ERROR) << "Cannot read VM " << uuid << "; not overwriting it";
      return SYSERR_DB_PARSE_ERROR;
    }
    CorvelVMRuntime fresh;
    fresh.set_name(vminfo.name());
    fresh.set_uuid(uuid);
    if (unsaved) {
      rec = new CorvelVMRuntime(fresh);  // handed to the caller, never written
      if (owned != nullptr) *owned = true;
    } else {
      Syserr err = txn->db_view()->DbUpdate(DbIndex(CorvelTable<CorvelVMRuntime>(), uuid), nullptr,
                                            &fresh, false, false, false);
      if (err != SYSERR_SUCCESS || CorvelInventoryRetrieveVMinDbview(txn, uuid, &rec) != SYSERR_SUCCESS) {
        VLOG(2) << " Error in Inserting VM : " << vminfo.name() << " in DbView ";
        return err != SYSERR_SUCCESS ? err : SYSERR_FAILURE;
      }
    }
  }

  if (rec->has_powerstate()) {
    if (rec->powerstate() == "poweredOn" && vminfo.powerstate() == "poweredOff") {
      VLOG(2) << "VM : " << uuid << " Power Transition On -> Off ";
      CorvelInventoryNotifyServerVmUpDown(rec, POOL_SERVER_DOWN);
    } else if (rec->powerstate() == "poweredOff" && vminfo.powerstate() == "poweredOn") {
      VLOG(2) << "VM : " << uuid << " Power Transition Off -> On ";
      CorvelInventoryNotifyServerVmUpDown(rec, POOL_SERVER_UP);
    }
  }

  // Counts follow the current addresses: the stored ones go, the new ones come. A record that
  // is not written changes no count, so counts of unsaved VMs never grow.
  if (!unsaved) CorvelRemoveIPSubnetRef(txn, rec);
  auto nics = MergeNics(vminfo.guest_nic(), rec->guest_nic());
  *rec = vminfo;
  *rec->mutable_guest_nic() = std::move(nics);
  CorvelUpdateVMvNicIpInfo(txn, rec, disable_vm_disc);
  if (!unsaved) CorvelAddIPSubnetRef(txn, rec);
  rec->set_vcenter_vnic_discovered(true);
  rec->set_tenant_uuid(kTenantAdmin);
  *out = rec;
  if (unsaved) return SYSERR_SUCCESS;
  return WriteMerged(txn, rec, " Error in Updating VM : " + vminfo.name() + " in DbView ");
}

Syserr CorvelCreateSEVMinDbView(Transaction* txn, CorvelVMRuntime* vm_obj, CorvelSEVMRuntime** out) {
  *out = nullptr;
  const std::string uuid = CorvelRetrieveSeVmUuid(vm_obj->se_ver(), vm_obj);
  if (uuid.empty()) return SYSERR_FAILURE;
  CorvelSEVMRuntime fresh;
  fresh.set_type(CLOUD_VCENTER);
  fresh.set_name(vm_obj->name());
  fresh.set_uuid(uuid);
  CorvelSEVMRuntime* rec = nullptr;
  bool existed = false;
  Syserr err = FindOrInsert(txn, uuid, fresh, &rec, &existed, &CorvelInventoryRetrieveSEVMinDbview,
                            " Error in Inserting SE VM : " + vm_obj->name() + " in DbView ");
  if (err != SYSERR_SUCCESS) return err;
  rec->set_name(vm_obj->name());
  rec->set_uuid(uuid);
  rec->set_managed_object_id(vm_obj->managed_object_id());
  rec->set_powerstate(vm_obj->powerstate());
  rec->set_connection_state(vm_obj->connection_state());
  rec->set_host_uuid(vm_obj->host());
  rec->set_vcenter_vappname(vm_obj->vcenter_vappname());
  rec->set_vcenter_vappvendor(vm_obj->vcenter_vappvendor());
  if (vm_obj->has_controller_ip_addr()) rec->set_controller_ip_addr(vm_obj->controller_ip_addr());
  rec->set_vcenter_vm_type(vm_obj->vcenter_vm_type());
  rec->set_vcenter_template_vm(vm_obj->vcenter_template_vm());
  rec->set_vcenter_se_type(vm_obj->vcenter_se_type());
  rec->set_creation_in_progress(vm_obj->creation_in_progress());
  rec->set_vcenter_rm_cookie(vm_obj->vcenter_rm_cookie());
  rec->set_init_vnics(vm_obj->init_vnics());
  rec->set_controller_cluster_uuid(vm_obj->controller_cluster_uuid());
  auto nics = MergeNics(vm_obj->guest_nic(), rec->guest_nic());
  *rec->mutable_guest_nic() = std::move(nics);
  rec->set_tenant_uuid(kTenantAdmin);
  rec->set_uuid(uuid);
  err = WriteMerged(txn, rec, " Error in Updating SE VM : " + vm_obj->name() + " in DbView ");
  *out = rec;
  return err;
}

Syserr CorvelCreateCloudConnectorStatusinDbview(Transaction* txn, std::string cloud_uuid,
                                                CloudConnectorStatus** out) {
  const std::string table = CorvelTable<CloudConnectorStatus>();
  const std::string error = " Error in Updating CloudConnectorStatus : " + cloud_uuid + " in Datastore ";
  CloudConnectorStatus* rec = nullptr;
  if (CorvelInventoryRetrieveCloudConnectorStatusinDbview(txn, cloud_uuid, &rec) != SYSERR_SUCCESS) {
    if (!CorvelObjectAbsent(txn, table, cloud_uuid)) {
      LOG(ERROR) << "Cannot read the connector status of " << cloud_uuid << "; not overwriting it";
      return SYSERR_DB_PARSE_ERROR;
    }
    CloudConnectorStatus fresh;
    fresh.set_uuid(cloud_uuid);
    fresh.set_state(CC_STATE_UNKNOWN);
    fresh.mutable_detail()->set_cc_id(cloud_uuid);
    fresh.mutable_detail()->set_state(CLOUD_STATE_UNKNOWN);
    VLOG(2) << " Updating CloudConnectorStatus." << "Setting CLOUD_STATE_UNKNOWN for cloud_uuid : "
            << cloud_uuid;
    Syserr err = txn->db_view()->DbUpdate(DbIndex(table, cloud_uuid), &fresh, nullptr, false, false, false);
    if (err != SYSERR_SUCCESS ||
        CorvelInventoryRetrieveCloudConnectorStatusinDbview(txn, cloud_uuid, &rec) != SYSERR_SUCCESS) {
      VLOG(2) << error;
      return err != SYSERR_SUCCESS ? err : SYSERR_FAILURE;
    }
  }
  Syserr err = txn->db_view()->DbUpdate(DbIndex(table, cloud_uuid), rec, nullptr, false, false, false);
  if (err != SYSERR_SUCCESS) VLOG(2) << error;
  *out = rec;
  return err;
}
