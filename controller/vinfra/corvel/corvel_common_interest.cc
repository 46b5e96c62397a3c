// Interested VMs and hosts of a datacenter: the VMs other services follow closely and the hosts
// they run on.
#include <glog/logging.h>

#include <set>

#include "controller/vinfra/corvel/corvel_common.h"

namespace {

using EntityList = google::protobuf::RepeatedPtrField<CorvelInterestedEntity>;

// Appends an entry for `uuid` unless the list has one; logs which.
void AddEntity(EntityList* list, const std::string& dc_name, const std::string& uuid,
               const char* kind) {
  for (const auto& e : *list) {
    if (e.interested_uuid() == uuid) {
      VLOG(2) << "Datacenter : " << dc_name << " already has Interested " << kind << " : " << uuid;
      return;
    }
  }
  VLOG(2) << "Datacenter : " << dc_name << " now has an Interested " << kind << " : " << uuid;
  list->Add()->set_interested_uuid(uuid);
}

}  // namespace

void CorvelAddDCInterestedVMs(CorvelDCRuntime* dc_obj, const std::string& vm_uuid) {
  AddEntity(dc_obj->mutable_interested_vms(), dc_obj->name(), vm_uuid, "VM");
}

void CorvelAddDCInterestedHosts(CorvelDCRuntime* dc_obj, const std::string& host_uuid) {
  AddEntity(dc_obj->mutable_interested_hosts(), dc_obj->name(), host_uuid, "Host");
}

void CorvelAddInterestedVMsforDC(const VIInterestedVMs* request) {
  auto* txn = new Transaction();
  VLOG(2) << "Request received to add Interested VMs for Datacenter UUID : ";
  for (const auto& vm_uuid : request->vm_uuids()) {
    VLOG(2) << " Received Interested VM UUID : " << vm_uuid << " from Web App";
    CorvelVMRuntime* vm = nullptr;
    if (CorvelInventoryRetrieveVMinDbview(txn, vm_uuid, &vm) != SYSERR_SUCCESS) continue;
    VLOG(2) << "Datacenter UUID : " << vm->vcenter_datacenter_uuid();
    CorvelDCRuntime* dc = nullptr;
    if (CorvelInventoryRetrieveDCinDbview(txn, vm->vcenter_datacenter_uuid(), &dc) != SYSERR_SUCCESS) {
      continue;
    }
    CorvelAddDCInterestedVMs(dc, vm_uuid);
    CorvelAddDCInterestedHosts(dc, vm->host());
    CorvelDbUpdateRuntime(txn, dc);
  }
  txn->Commit(false);
}

void CorvelDelInterestedVMsforDC(Transaction* txn, const VIInterestedVMs* request) {
  VLOG(2) << "Request received to Delete Interested VMs for Datacenter UUID : ";
  std::string dc_uuid;
  for (const auto& vm_uuid : request->vm_uuids()) {
    VLOG(2) << " Received Interested VM UUID : " << vm_uuid << " from Web App";
    CorvelVMRuntime* vm = nullptr;
    if (CorvelInventoryRetrieveVMinDbview(txn, vm_uuid, &vm) == SYSERR_SUCCESS) {
      dc_uuid = vm->vcenter_datacenter_uuid();
      break;
    }
  }
  CorvelDCRuntime* dc = nullptr;
  if (CorvelInventoryRetrieveDCinDbview(txn, dc_uuid, &dc) != SYSERR_SUCCESS) {
    VLOG(2) << " Datacenter : " << dc_uuid << " Not found in datastore";
    return;
  }
  const std::set<std::string> doomed(request->vm_uuids().begin(), request->vm_uuids().end());
  EntityList kept;
  int index = 0;
  for (const auto& e : dc->interested_vms()) {
    VLOG(2) << "VM[" << index++ << "] uuid : " << e.interested_uuid();
    if (doomed.count(e.interested_uuid()) != 0) {
      VLOG(2) << " VM UUID : " << e.interested_uuid() << " need to be removed ";
    } else {
      *kept.Add() = e;
    }
  }
  dc->clear_interested_vms();
  for (const auto& e : kept) {
    VLOG(2) << "Adding VM UUID : " << e.interested_uuid() << " back to Datacenter";
    *dc->add_interested_vms() = e;
  }
  CorvelDbUpdateRuntime(txn, dc);
}

void CorvelDelDCInterestedHosts(Transaction* txn, CorvelDCRuntime* dc_obj,
                                const std::string& host_uuid) {
  VLOG(2) << "Request received to Delete Interested Host : " << host_uuid
          << " for Datacenter UUID : " << dc_obj->uuid();
  EntityList kept;
  int index = 0;
  for (const auto& e : dc_obj->interested_hosts()) {
    VLOG(2) << "Host[" << index++ << "] uuid : " << e.interested_uuid();
    if (e.interested_uuid() != host_uuid) *kept.Add() = e;
  }
  dc_obj->clear_interested_hosts();
  for (const auto& e : kept) {
    VLOG(2) << "Adding Host UUID : " << e.interested_uuid() << " back to Datacenter";
    *dc_obj->add_interested_hosts() = e;
  }
  CorvelDbUpdateRuntime(txn, dc_obj);
}
