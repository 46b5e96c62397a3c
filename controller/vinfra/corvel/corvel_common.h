// The connector's runtime object store: lookups and identifiers, create-or-update of every
// runtime record, cross-references, stale-record removal, the network limit with IP subnets and
// vNICs, interested VMs and hosts, and the cloud connector status.
//
// Everything runs on the I/O context inside the caller's transaction unless a function says it
// opens its own. Records handed out through a transaction belong to its view: callers change
// them and write them back with DbUpdate, never free them.
#pragma once

#include <google/protobuf/message.h>

#include <ctime>
#include <map>
#include <string>

#include "platform/datastore/datastore.h"
#include "platform/datastore/db_view.h"
#include "platform/datastore/svc_object.h"
#include "platform/datastore/transaction.h"
#include "proto/config.pb.h"
#include "proto/controller_enums.pb.h"
#include "proto/corvel_enums.pb.h"
#include "proto/corvel_runtime.pb.h"
#include "proto/corvel_service.pb.h"
#include "proto/vcenter_mgr.pb.h"

struct CorvelDatacenter_;

// ---------------------------------------------------------------------------------------------
// Lookups

// The table of a record type.
template <typename T>
std::string CorvelTable() {
  return db_table_name_from_pb(T::descriptor()->name());
}

// Loads (table_id, uuid) from the datastore into the transaction's view and hands out typed
// pointers into it (each only when both the pointer and that half exist). Any failure to read
// is SYSERR_FAILURE.
template <typename Cfg, typename Runtime>
Syserr GetObjectFromDatastore(Transaction* txn, const std::string& table_id,
                              const std::string& uuid, Cfg** cfg, Runtime** runtime) {
  DbIndex index(table_id, uuid);
  google::protobuf::Message* obj = nullptr;
  google::protobuf::Message* obj_runtime = nullptr;
  if (txn->db_view()->GetObjectFromDb(index, &obj, &obj_runtime, false) != SYSERR_SUCCESS) {
    return SYSERR_FAILURE;
  }
  auto* svc_obj = new SvcObject(false);
  svc_obj->set_obj(obj, obj_runtime);
  svc_obj->PbGetBaseObject(obj != nullptr ? obj : obj_runtime);
  svc_obj->set_transaction(txn);
  txn->db_view()->add_to_tracked_object_list(svc_obj);
  if (cfg != nullptr && obj != nullptr) *cfg = dynamic_cast<Cfg*>(obj);
  if (runtime != nullptr && obj_runtime != nullptr) *runtime = dynamic_cast<Runtime*>(obj_runtime);
  return SYSERR_SUCCESS;
}

// An object the view already tracks; SYSERR_FAILURE when it tracks nothing under the index.
// Never reads the datastore.
template <typename Cfg, typename Runtime>
Syserr GetObjectFromCachedView(Transaction* txn, const std::string& table_id,
                               const std::string& uuid, Cfg** cfg, Runtime** runtime) {
  SvcObject* svc_obj = txn->db_view()->GetObject(DbIndex(table_id, uuid));
  if (svc_obj == nullptr) return SYSERR_FAILURE;
  if (cfg != nullptr && svc_obj->obj() != nullptr) *cfg = dynamic_cast<Cfg*>(svc_obj->obj());
  if (runtime != nullptr && svc_obj->obj_runtime() != nullptr) {
    *runtime = dynamic_cast<Runtime*>(svc_obj->obj_runtime());
  }
  return SYSERR_SUCCESS;
}

// Typed lookups: the view first, then the datastore. SYSERR_FAILURE (out pointer untouched)
// when the record is absent or cannot be read.
Syserr CorvelInventoryRetrieveVcenterinDbview(Transaction* txn, const std::string& uuid,
                                              CorvelVcenterRuntime** out);
Syserr CorvelInventoryRetrieveControllerinDbview(Transaction* txn, const std::string& uuid,
                                                 CorvelControllerRuntime** out);
Syserr CorvelInventoryRetrieveDCinDbview(Transaction* txn, const std::string& uuid,
                                         CorvelDCRuntime** out);
Syserr CorvelInventoryRetrieveHostinDbview(Transaction* txn, const std::string& uuid,
                                           CorvelHostRuntime** out);
Syserr CorvelInventoryRetrievePGinDbview(Transaction* txn, const std::string& uuid,
                                         CorvelNWRuntime** out);
Syserr CorvelInventoryRetrieveClusterinDbview(Transaction* txn, const std::string& uuid,
                                              CorvelClusterRuntime** out);
Syserr CorvelInventoryRetrieveVMinDbview(Transaction* txn, const std::string& uuid,
                                         CorvelVMRuntime** out);
Syserr CorvelInventoryRetrieveSEVMinDbview(Transaction* txn, const std::string& uuid,
                                           CorvelSEVMRuntime** out);
// The configuration half of the cloud's connector status.
Syserr CorvelInventoryRetrieveCloudConnectorStatusinDbview(Transaction* txn,
                                                           const std::string& cloud_uuid,
                                                           CloudConnectorStatus** out);

// Whether the record (table, uuid) is absent (SYSERR_DB_OBJ_NOT_FOUND) rather than unreadable.
// The create-or-update functions create a record only when this is true.
bool CorvelObjectAbsent(Transaction* txn, const std::string& table, const std::string& uuid);

// Reads outside a transaction.
// The vcenter_url of the cloud's vCenter configuration, or "".
std::string RetrieveVcenter(const std::string& cloud_uuid);
// The cloud's deactivate_vm_discovery (false when the cloud or the section is missing).
bool CorvelInventoryRetrieveVMDiscStatus(Transaction* txn, const std::string& cloud_uuid);
// The uuid of the Cloud named `cloud_name`, or "".
std::string CorvelRetrieveCloudUuid(Transaction* txn, const std::string& cloud_name);
// The uuid of the datacenter record of `cloud_uuid` named `datacenter`, or ""; "DELETE" for
// the name "DELETE".
std::string CorvelRetrieveDiscoveredDcUuid(Transaction* txn, const std::string& cloud_uuid,
                                           const std::string& datacenter);
void CorvelFreeObjObjRuntime(google::protobuf::Message* obj, google::protobuf::Message* obj_runtime);

// Calls `fn` with every committed record of type T (whichever half of each object is a T), in
// key order, outside any transaction, until `fn` returns false. Objects that cannot be read are
// skipped. Returns the result of listing the table (SYSERR_DB_NOT_INITIALIZED without a
// datastore).
template <typename T, typename Fn>
Syserr CorvelForEachStored(Fn fn) {
  Datastore* db = Datastore::g_db_;
  if (db == nullptr) return SYSERR_DB_NOT_INITIALIZED;
  const std::string table = CorvelTable<T>();
  std::vector<std::pair<std::string, std::string>> keys;
  Syserr err = db->GetAll(table, &keys, 0);
  if (err != SYSERR_SUCCESS) return err;
  for (const auto& key : keys) {
    google::protobuf::Message* obj = nullptr;
    google::protobuf::Message* obj_runtime = nullptr;
    if (db->GetInternal(table, key.second, &obj, &obj_runtime) != SYSERR_SUCCESS) continue;
    const T* rec = dynamic_cast<const T*>(obj);
    if (rec == nullptr) rec = dynamic_cast<const T*>(obj_runtime);
    const bool go_on = rec == nullptr || fn(*rec);
    CorvelFreeObjObjRuntime(obj, obj_runtime);
    if (!go_on) break;
  }
  return SYSERR_SUCCESS;
}

// The SE VM identifier of a VM record, or "" (`ver` is unused; the VM's se_ver decides).
std::string CorvelRetrieveSeVmUuid(int ver, const CorvelVMRuntime* vm_obj);
// A fresh discovery timestamp: waits two seconds (through the process clock) and returns the
// current time minus one second.
time_t GET_LATEST_TIME();
// The current local time in asctime form, with its trailing newline.
std::string get_curr_local_time();

// ---------------------------------------------------------------------------------------------
// Create or update (the out pointer receives the record tracked by the view)

Syserr CorvelCreateVcenterinDbview(Transaction* txn, std::string uuid, std::string cloud_uuid,
                                   CorvelVcenterRuntime** out);
Syserr CorvelCreateDCinDbview(Transaction* txn, std::string dc_uuid, VIDCInfo dcinfo,
                              CorvelDCRuntime** out);
Syserr CorvelCreateClusterinDbView(Transaction* txn, std::string cluster_uuid,
                                   CorvelClusterRuntime clusterinfo, CorvelClusterRuntime** out,
                                   bool initial_disc);
Syserr CorvelCreatePGinDbView(Transaction* txn, std::string pg_uuid, CorvelNWRuntime pginfo,
                              std::string def_vrf_ctxt_uuid, CorvelNWRuntime** out,
                              std::string mgmt_nw_name, bool initial_disc);
Syserr CorvelCreateHostinDbView(Transaction* txn, std::string host_uuid, std::string vcenter_url,
                                CorvelHostRuntime hostinfo, CorvelHostRuntime** out,
                                bool initial_disc);
// For an ordinary VM while VM discovery is disabled nothing is written: *out is then an
// unsaved record owned by the caller (*owned set to true when `owned` is given).
Syserr CorvelCreateVMinDbView(Transaction* txn, CorvelVMRuntime vminfo, CorvelVMRuntime** out,
                              bool initial_disc, bool disable_vm_disc, bool* owned = nullptr);
Syserr CorvelCreateSEVMinDbView(Transaction* txn, CorvelVMRuntime* vm_obj,
                                CorvelSEVMRuntime** out);
Syserr CorvelCreateCloudConnectorStatusinDbview(Transaction* txn, std::string cloud_uuid,
                                                CloudConnectorStatus** out);

// Records the write of a runtime record under (its table, its uuid).
Syserr CorvelDbUpdateRuntime(Transaction* txn, google::protobuf::Message* record);

// ---------------------------------------------------------------------------------------------
// Cross-references

void CorvelUpdateVcenterDCRef(CorvelVcenterRuntime* vcenter_obj, const std::string& dc_uuid);
void CorvelUpdateDCClusterRef(CorvelDCRuntime* dc_obj, const std::string& cluster_uuid);
void CorvelUpdateDCHostRef(CorvelDCRuntime* dc_obj, const std::string& host_uuid);
void CorvelUpdateDCSEVMRef(CorvelDCRuntime* dc_obj, const std::string& sevm_uuid);
void CorvelUpdateDCPGRef(CorvelDCRuntime* dc_obj, const std::string& pg_uuid);
void CorvelUpdateDCVMRef(CorvelDCRuntime* dc_obj, const std::string& vm_uuid);
void CorvelUpdateHostVMRef(CorvelHostRuntime* host_obj, const std::string& vm_uuid);
// 1 when the uuid was added, 0 when the list held it.
int CorvelUpdatePGVMRef(CorvelNWRuntime* pg_obj, const std::string& vm_uuid);

void CorvelRemoveDCRef(Transaction* txn, CorvelDCRuntime* dc_obj);
void CorvelRemoveClusterRef(Transaction* txn, CorvelClusterRuntime* cluster_obj);
void CorvelRemoveNWRef(Transaction* txn, CorvelNWRuntime* pg_obj);
void CorvelRemoveHostRef(Transaction* txn, CorvelHostRuntime* host_obj);
void CorvelRemoveVMRef(Transaction* txn, CorvelVMRuntime* vm_obj);
void CorvelRemoveVMRefInPGs(Transaction* txn, CorvelNWRuntime* pg_obj, const std::string& vm_uuid);
// Removes an SE VM's identifier from its datacenter's sevm_uuids and records the write.
void CorvelRemoveSEVMRef(Transaction* txn, CorvelSEVMRuntime* sevm_obj);
void CorvelClearDCObjRef(Transaction* txn, const std::string& dc_uuid);

// ---------------------------------------------------------------------------------------------
// Stale-record removal and refresh

Syserr CorvelInventoryCheckforDelete(const std::string& table, Transaction* txn, time_t timestamp,
                                     const std::string& cloud_uuid, bool flush,
                                     bool resource_resync,
                                     const std::map<std::string, bool>& resync_resource_list);
Syserr CorvelInventoryRefreshTableObjects(const std::string& table, Transaction* txn,
                                          const std::string& cloud_uuid,
                                          const std::string& vcenter, const std::string& user);
bool CorvelCheckPGforDelete(Transaction* txn, const std::string& pg_uuid);
void VIRemovedDiscoveredNetworksApicMode(const std::string& mgmt_nw_uuid);

// ---------------------------------------------------------------------------------------------
// Network limit, IP subnets and vNICs

constexpr int kCorvelNetworkLimit = 7168;
constexpr int kCorvelNetworkGreenThreshold = 3584;
constexpr int kCorvelNetworkYellowThreshold = 5376;
// Name of the controller's internal network, never part of subnet bookkeeping.
extern const char* const kCorvelInternalNetwork;

// 1 when discovery of new clouds must stop, 0 otherwise.
int VICheckCorvelNWRuntimeLimit(int num_networks);
void CorvelUpdateVMvNicIpInfo(Transaction* txn, CorvelVMRuntime* vm_obj, bool disable_vm_disc);
void CorvelAddIPSubnetRef(Transaction* txn, const CorvelVMRuntime* vm_obj);
void CorvelRemoveIPSubnetRef(Transaction* txn, const CorvelVMRuntime* vm_obj);
int CorvelInventoryAddIPSubnetPG(CorvelNWRuntime* pg_obj, IpAddrType ip_type, int mask,
                                 const std::string& subnet);
void CorvelNWClearIpSubnet(Transaction* txn, const std::string& subnet, int mask,
                           const std::string& vm_uuid, CorvelNWRuntime* pg_obj);
// Network address of `addr` (network byte order) with `prefix` bits kept.
void ipv4_nw(uint32_t addr, int prefix, uint32_t* network);
void ipv6_nw(const unsigned char addr[16], int prefix, unsigned char network[16]);

// ---------------------------------------------------------------------------------------------
// Interested VMs and hosts

void CorvelAddDCInterestedVMs(CorvelDCRuntime* dc_obj, const std::string& vm_uuid);
void CorvelAddDCInterestedHosts(CorvelDCRuntime* dc_obj, const std::string& host_uuid);
void CorvelAddInterestedVMsforDC(const VIInterestedVMs* request);
void CorvelDelInterestedVMsforDC(Transaction* txn, const VIInterestedVMs* request);
void CorvelDelDCInterestedHosts(Transaction* txn, CorvelDCRuntime* dc_obj,
                                const std::string& host_uuid);

// ---------------------------------------------------------------------------------------------
// Cloud connector status and discovery state

void CorvelDbUpdateCloudConnectorStatus(CloudState cloud_state, CloudConnectorState cc_state,
                                        std::string cloud_uuid, ImageState image_state,
                                        std::string image_state_reason, std::string se_version);
void CorvelUpdateDCInventoryState(CorvelDCRuntime* dc_obj, CorvelDatacenter_* dc_map,
                                  Transaction* txn, DCDiscoveryState state);
std::string CorvelRetrieveDiscoveryStateString(CORVEL_DC_DISC_STATE state);
void CorvelInventoryNotifyServerVmUpDown(const CorvelVMRuntime* vm_obj, PoolServerStateEnum state);
