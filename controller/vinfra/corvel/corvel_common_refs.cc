// Cross-references between runtime records: adding a child to its parent's list, and taking a
// record out of every list that names it before it is removed.
#include <glog/logging.h>

#include "controller/vinfra/corvel/corvel_common.h"

namespace {

using StringList = google::protobuf::RepeatedPtrField<std::string>;

// Appends `uuid` unless the list holds it; true when appended.
bool AddUnique(StringList* list, const std::string& uuid) {
  for (const auto& entry : *list) {
    if (entry == uuid) return false;
  }
  *list->Add() = uuid;
  return true;
}

// Drops every occurrence of `uuid`, keeping the order of the others.
void RemoveAll(StringList* list, const std::string& uuid) {
  StringList kept;
  for (const auto& entry : *list) {
    if (entry != uuid) *kept.Add() = entry;
  }
  list->Clear();
  for (auto& entry : kept) *list->Add() = std::move(entry);
}

// Takes `uuid` out of `list` of `record` and records the write (even when nothing changed).
void RemoveAndWrite(Transaction* txn, google::protobuf::Message* record, StringList* list,
                    const std::string& uuid) {
  RemoveAll(list, uuid);
  CorvelDbUpdateRuntime(txn, record);
}

// Every port group of the datastore (all clouds) loses `uuid` from the list `member` selects.
void RemoveFromAllPortGroups(Transaction* txn, const std::string& uuid,
                             StringList* (CorvelNWRuntime::*member)()) {
  std::vector<std::pair<std::string, std::string>> keys;
  if (Datastore::g_db_ == nullptr ||
      Datastore::g_db_->GetAll(CorvelTable<CorvelNWRuntime>(), &keys, 0) != SYSERR_SUCCESS) {
    return;
  }
  for (const auto& key : keys) {
    CorvelNWRuntime* pg = nullptr;
    if (CorvelInventoryRetrievePGinDbview(txn, key.second, &pg) != SYSERR_SUCCESS) {
      VLOG(2) << "Could not retrieve CorvelNWRuntime for Portgroup : " << key.second;
      continue;
    }
    RemoveAndWrite(txn, pg, (pg->*member)(), uuid);
  }
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Adding

void CorvelUpdateVcenterDCRef(CorvelVcenterRuntime* vcenter_obj, const std::string& dc_uuid) {
  if (AddUnique(vcenter_obj->mutable_datacenter_uuids(), dc_uuid)) {
    VLOG(2) << "Vcenter : " << vcenter_obj->uuid() << " now has a reference to Datacenter : " << dc_uuid;
  } else {
    VLOG(2) << "Vcenter : " << vcenter_obj->uuid() << " already has Datacenter : " << dc_uuid;
  }
}

void CorvelUpdateDCClusterRef(CorvelDCRuntime* dc_obj, const std::string& cluster_uuid) {
  AddUnique(dc_obj->mutable_cluster_uuids(), cluster_uuid);
}

void CorvelUpdateDCHostRef(CorvelDCRuntime* dc_obj, const std::string& host_uuid) {
  AddUnique(dc_obj->mutable_host_uuids(), host_uuid);
}

void CorvelUpdateDCSEVMRef(CorvelDCRuntime* dc_obj, const std::string& sevm_uuid) {
  AddUnique(dc_obj->mutable_sevm_uuids(), sevm_uuid);
}

void CorvelUpdateDCPGRef(CorvelDCRuntime* dc_obj, const std::string& pg_uuid) {
  if (AddUnique(dc_obj->mutable_nw_uuids(), pg_uuid)) {
    VLOG(2) << "Datacenter : " << dc_obj->name() << " now has a reference to PG : " << pg_uuid;
  } else {
    VLOG(2) << "Datacenter : " << dc_obj->name() << " already has PG : " << pg_uuid;
  }
}

void CorvelUpdateDCVMRef(CorvelDCRuntime* dc_obj, const std::string& vm_uuid) {
  if (AddUnique(dc_obj->mutable_vm_uuids(), vm_uuid)) {
    VLOG(2) << "Datacenter : " << dc_obj->name() << " now has a reference to VM : " << vm_uuid;
  } else {
    VLOG(2) << "Datacenter : " << dc_obj->name() << " already has VM : " << vm_uuid;
  }
}

void CorvelUpdateHostVMRef(CorvelHostRuntime* host_obj, const std::string& vm_uuid) {
  if (AddUnique(host_obj->mutable_vm_uuids(), vm_uuid)) {
    VLOG(2) << "Host : " << host_obj->uuid() << " now has a reference to VM : " << vm_uuid;
  } else {
    VLOG(2) << "Host : " << host_obj->uuid() << " already has Virtual Machine  : " << vm_uuid;
  }
}

int CorvelUpdatePGVMRef(CorvelNWRuntime* pg_obj, const std::string& vm_uuid) {
  if (!AddUnique(pg_obj->mutable_vm_uuids(), vm_uuid)) return 0;
  VLOG(2) << "Portgroup : " << pg_obj->name() << " now has a reference to VM : " << vm_uuid;
  return 1;
}

// ---------------------------------------------------------------------------------------------
// Removal

void CorvelRemoveDCRef(Transaction* txn, CorvelDCRuntime* dc_obj) {
  if (dc_obj == nullptr) return;
  CorvelVcenterRuntime* vcenter = nullptr;
  if (CorvelInventoryRetrieveVcenterinDbview(txn, dc_obj->vcenter_uuid(), &vcenter) !=
      SYSERR_SUCCESS) {
    VLOG(2) << "Could not retrieve vCenter for DC : " << dc_obj->name();
    return;
  }
  RemoveAndWrite(txn, vcenter, vcenter->mutable_datacenter_uuids(), dc_obj->uuid());
}

void CorvelRemoveClusterRef(Transaction* txn, CorvelClusterRuntime* cluster_obj) {
  if (cluster_obj == nullptr) return;
  CorvelDCRuntime* dc = nullptr;
  if (CorvelInventoryRetrieveDCinDbview(txn, cluster_obj->datacenter_uuid(), &dc) !=
      SYSERR_SUCCESS) {
    VLOG(2) << "Could not retrieve DC for Cluster : " << cluster_obj->name();
    return;
  }
  RemoveAndWrite(txn, dc, dc->mutable_cluster_uuids(), cluster_obj->uuid());
}

void CorvelRemoveNWRef(Transaction* txn, CorvelNWRuntime* pg_obj) {
  if (pg_obj == nullptr) return;
  CorvelDCRuntime* dc = nullptr;
  if (CorvelInventoryRetrieveDCinDbview(txn, pg_obj->datacenter_uuid(), &dc) != SYSERR_SUCCESS) {
    VLOG(2) << "Could not retrieve DC for PG : " << pg_obj->name();
    return;
  }
  RemoveAndWrite(txn, dc, dc->mutable_nw_uuids(), pg_obj->uuid());
}

// A host without a cluster still leaves its datacenter (found through its cloud's vCenter
// record) and every port group.
void CorvelRemoveHostRef(Transaction* txn, CorvelHostRuntime* host_obj) {
  if (host_obj == nullptr) return;
  CorvelDCRuntime* dc = nullptr;
  CorvelClusterRuntime* cluster = nullptr;
  if (CorvelInventoryRetrieveClusterinDbview(txn, host_obj->cluster_uuid(), &cluster) ==
      SYSERR_SUCCESS) {
    RemoveAndWrite(txn, cluster, cluster->mutable_host_uuids(), host_obj->uuid());
    VLOG(2) << " Datacenter UUID : " << cluster->datacenter_uuid();
    if (CorvelInventoryRetrieveDCinDbview(txn, cluster->datacenter_uuid(), &dc) != SYSERR_SUCCESS) {
      VLOG(2) << "Could not retrieve DC for Host : " << host_obj->name();
      return;
    }
  } else {
    VLOG(2) << "Could not retrieve Cluster for Host : " << host_obj->name();
    CorvelVcenterRuntime* vcenter = nullptr;
    if (CorvelInventoryRetrieveVcenterinDbview(txn, host_obj->cloud_uuid(), &vcenter) ==
        SYSERR_SUCCESS) {
      for (const auto& dc_uuid : vcenter->datacenter_uuids()) {
        CorvelDCRuntime* candidate = nullptr;
        if (CorvelInventoryRetrieveDCinDbview(txn, dc_uuid, &candidate) != SYSERR_SUCCESS) continue;
        for (const auto& h : candidate->host_uuids()) {
          if (h == host_obj->uuid()) dc = candidate;
        }
        if (dc != nullptr) break;
      }
    }
  }
  if (dc != nullptr) RemoveAndWrite(txn, dc, dc->mutable_host_uuids(), host_obj->uuid());
  RemoveFromAllPortGroups(txn, host_obj->uuid(), &CorvelNWRuntime::mutable_host_uuids);
}

void CorvelRemoveVMRef(Transaction* txn, CorvelVMRuntime* vm_obj) {
  if (vm_obj == nullptr) return;
  CorvelDCRuntime* dc = nullptr;
  if (CorvelInventoryRetrieveDCinDbview(txn, vm_obj->vcenter_datacenter_uuid(), &dc) !=
      SYSERR_SUCCESS) {
    VLOG(2) << "Could not retrieve DC for VM : " << vm_obj->name();
    return;
  }
  RemoveAll(dc->mutable_vm_uuids(), vm_obj->uuid());
  RemoveAndWrite(txn, dc, dc->mutable_sevm_uuids(), vm_obj->uuid());
  RemoveFromAllPortGroups(txn, vm_obj->uuid(), &CorvelNWRuntime::mutable_vm_uuids);
  CorvelHostRuntime* host = nullptr;
  if (CorvelInventoryRetrieveHostinDbview(txn, vm_obj->host(), &host) != SYSERR_SUCCESS) return;
  RemoveAndWrite(txn, host, host->mutable_vm_uuids(), vm_obj->uuid());
}

void CorvelRemoveVMRefInPGs(Transaction* txn, CorvelNWRuntime* pg_obj, const std::string& vm_uuid) {
  if (pg_obj == nullptr) return;
  RemoveAndWrite(txn, pg_obj, pg_obj->mutable_vm_uuids(), vm_uuid);
}

void CorvelRemoveSEVMRef(Transaction* txn, CorvelSEVMRuntime* sevm_obj) {
  if (sevm_obj == nullptr) return;
  CorvelDCRuntime* dc = nullptr;
  if (CorvelInventoryRetrieveDCinDbview(txn, sevm_obj->vcenter_datacenter_uuid(), &dc) !=
      SYSERR_SUCCESS) {
    VLOG(2) << "Could not retrieve DC for VM : " << sevm_obj->name();
    return;
  }
  RemoveAndWrite(txn, dc, dc->mutable_sevm_uuids(), sevm_obj->uuid());
}

void CorvelClearDCObjRef(Transaction* txn, const std::string& dc_uuid) {
  CorvelDCRuntime* dc = nullptr;
  if (CorvelInventoryRetrieveDCinDbview(txn, dc_uuid, &dc) != SYSERR_SUCCESS) return;
  dc->clear_host_uuids();
  dc->clear_cluster_uuids();
  dc->clear_vm_uuids();
  dc->clear_sevm_uuids();
  dc->clear_nw_uuids();
  CorvelDbUpdateRuntime(txn, dc);
}
