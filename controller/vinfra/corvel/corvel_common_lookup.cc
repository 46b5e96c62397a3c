// Lookups of runtime records, reads outside transactions, identifiers and timestamps.
#include <glog/logging.h>

#include <chrono>

#include "controller/vinfra/corvel/corvel_common.h"
#include "platform/common/clock.h"
#include "platform/common/common_utils.h"

namespace {

// The view first, then the datastore; `word` names the record in the absence log line.
template <typename Record>
Syserr RetrieveRuntime(Transaction* txn, const std::string& uuid, Record** out,
                       const char* word) {
  const std::string table = CorvelTable<Record>();
  if (SvcObject* tracked = txn->db_view()->GetObject(DbIndex(table, uuid))) {
    if (auto* rec = dynamic_cast<Record*>(tracked->obj_runtime())) {
      *out = rec;
      return SYSERR_SUCCESS;
    }
  }
  Record* rec = nullptr;
  if (GetObjectFromDatastore<NullObj, Record>(txn, table, uuid, nullptr, &rec) != SYSERR_SUCCESS ||
      rec == nullptr) {
    VLOG(2) << word << " " << uuid << " Not found in Datastore";
    return SYSERR_FAILURE;
  }
  *out = rec;
  return SYSERR_SUCCESS;
}

// Reads one configuration object outside any transaction; null when absent or not a Cfg.
template <typename Cfg>
std::unique_ptr<Cfg> ReadConfig(const std::string& uuid, Syserr* err) {
  google::protobuf::Message* obj = nullptr;
  google::protobuf::Message* obj_runtime = nullptr;
  *err = Datastore::g_db_ == nullptr
             ? SYSERR_DB_NOT_INITIALIZED
             : Datastore::g_db_->GetInternal(CorvelTable<Cfg>(), uuid, &obj, &obj_runtime);
  std::unique_ptr<Cfg> out;
  if (*err == SYSERR_SUCCESS) {
    if (auto* c = dynamic_cast<Cfg*>(obj)) {
      out.reset(c);
      obj = nullptr;
    }
  }
  CorvelFreeObjObjRuntime(obj, obj_runtime);
  return out;
}

}  // namespace

Syserr CorvelInventoryRetrieveVcenterinDbview(Transaction* txn, const std::string& uuid,
                                              CorvelVcenterRuntime** out) {
  return RetrieveRuntime(txn, uuid, out, "Datacenter");
}
Syserr CorvelInventoryRetrieveControllerinDbview(Transaction* txn, const std::string& uuid,
                                                 CorvelControllerRuntime** out) {
  return RetrieveRuntime(txn, uuid, out, "Datacenter");
}
Syserr CorvelInventoryRetrieveDCinDbview(Transaction* txn, const std::string& uuid,
                                         CorvelDCRuntime** out) {
  return RetrieveRuntime(txn, uuid, out, "Datacenter");
}
Syserr CorvelInventoryRetrieveHostinDbview(Transaction* txn, const std::string& uuid,
                                           CorvelHostRuntime** out) {
  return RetrieveRuntime(txn, uuid, out, "Host :");
}
Syserr CorvelInventoryRetrievePGinDbview(Transaction* txn, const std::string& uuid,
                                         CorvelNWRuntime** out) {
  return RetrieveRuntime(txn, uuid, out, "PG  :");
}
Syserr CorvelInventoryRetrieveClusterinDbview(Transaction* txn, const std::string& uuid,
                                              CorvelClusterRuntime** out) {
  return RetrieveRuntime(txn, uuid, out, "Cluster  :");
}
Syserr CorvelInventoryRetrieveVMinDbview(Transaction* txn, const std::string& uuid,
                                         CorvelVMRuntime** out) {
  return RetrieveRuntime(txn, uuid, out, "VM :");
}
Syserr CorvelInventoryRetrieveSEVMinDbview(Transaction* txn, const std::string& uuid,
                                           CorvelSEVMRuntime** out) {
  return RetrieveRuntime(txn, uuid, out, "SE VM :");
}

Syserr CorvelInventoryRetrieveCloudConnectorStatusinDbview(Transaction* txn,
                                                           const std::string& cloud_uuid,
                                                           CloudConnectorStatus** out) {
  const std::string table = CorvelTable<CloudConnectorStatus>();
  if (SvcObject* tracked = txn->db_view()->GetObject(DbIndex(table, cloud_uuid))) {
    if (auto* rec = dynamic_cast<CloudConnectorStatus*>(tracked->obj())) {
      *out = rec;
      return SYSERR_SUCCESS;
    }
  }
  CloudConnectorStatus* rec = nullptr;
  if (GetObjectFromDatastore<CloudConnectorStatus, NullObj>(txn, table, cloud_uuid, &rec,
                                                            nullptr) != SYSERR_SUCCESS ||
      rec == nullptr) {
    VLOG(2) << "Cloud Connector Status " << cloud_uuid << " Not found in Datastore";
    return SYSERR_FAILURE;
  }
  *out = rec;
  return SYSERR_SUCCESS;
}

bool CorvelObjectAbsent(Transaction* txn, const std::string& table, const std::string& uuid) {
  DbIndex index(table, uuid);
  if (txn->db_view()->GetObject(index) != nullptr) return false;
  google::protobuf::Message* obj = nullptr;
  google::protobuf::Message* obj_runtime = nullptr;
  Syserr err = txn->db_view()->GetObjectFromDb(index, &obj, &obj_runtime, false);
  CorvelFreeObjObjRuntime(obj, obj_runtime);
  return err == SYSERR_DB_OBJ_NOT_FOUND;
}

Syserr CorvelDbUpdateRuntime(Transaction* txn, google::protobuf::Message* record) {
  const auto* f = record->GetDescriptor()->FindFieldByName("uuid");
  const std::string uuid = f != nullptr ? record->GetReflection()->GetString(*record, f) : "";
  DbIndex index(db_table_name_from_pb(record->GetDescriptor()->name()), uuid);
  return txn->db_view()->DbUpdate(index, nullptr, record, false, false, false);
}

// ---------------------------------------------------------------------------------------------
// Reads outside a transaction

std::string RetrieveVcenter(const std::string& cloud_uuid) {
  Syserr err;
  std::unique_ptr<Cloud> cloud = ReadConfig<Cloud>(cloud_uuid, &err);
  if (err != SYSERR_SUCCESS) {
    VLOG(2) << "Could not retrieve Cloud table from Datastore " << cloud_uuid;
    return "";
  }
  if (!cloud) {
    VLOG(2) << "Could not retrieve Cloud table from DbView " << cloud_uuid;
    return "";
  }
  return cloud->vcenter_configuration().vcenter_url();
}

bool CorvelInventoryRetrieveVMDiscStatus(Transaction*, const std::string& cloud_uuid) {
  Syserr err;
  std::unique_ptr<Cloud> cloud = ReadConfig<Cloud>(cloud_uuid, &err);
  if (!cloud) {
    VLOG(2) << "Could not retrieve Cloud table from Datastore " << cloud_uuid;
    return false;
  }
  return cloud->has_vcenter_configuration() &&
         cloud->vcenter_configuration().deactivate_vm_discovery();
}

std::string CorvelRetrieveCloudUuid(Transaction*, const std::string& cloud_name) {
  std::string found;
  if (CorvelForEachStored<Cloud>([&](const Cloud& cloud) {
        if (cloud.name() == cloud_name) found = cloud.uuid();
        return found.empty();
      }) != SYSERR_SUCCESS) {
    VLOG(2) << "Could not retrieve Cloud table from Datastore ";
  }
  return found;
}

std::string CorvelRetrieveDiscoveredDcUuid(Transaction*, const std::string& cloud_uuid,
                                           const std::string& datacenter) {
  if (datacenter == "DELETE") return "DELETE";
  std::string found;
  if (CorvelForEachStored<CorvelDCRuntime>([&](const CorvelDCRuntime& dc) {
        if (dc.cloud_uuid() == cloud_uuid && dc.name() == datacenter) found = dc.uuid();
        return found.empty();
      }) != SYSERR_SUCCESS) {
    VLOG(2) << "Could not retrieve DC table from DbView ";
  }
  return found;
}

void CorvelFreeObjObjRuntime(google::protobuf::Message* obj, google::protobuf::Message* obj_runtime) {
  delete obj;
  delete obj_runtime;
}

// ---------------------------------------------------------------------------------------------
// Identifiers and time

std::string CorvelRetrieveSeVmUuid(int, const CorvelVMRuntime* vm_obj) {
  if (vm_obj->se_ver() == 2) {
    const CorvelGuestNicRuntime* first = nullptr;
    for (const auto& nic : vm_obj->guest_nic()) {
      if (nic.label() == "Network adapter 1") first = &nic;  // the last match wins
    }
    if (first != nullptr) {
      std::string mac;
      for (char c : first->mac_addr()) {
        if (c != ':') mac += c;
      }
      std::string uuid = "sevm-" + mac;
      VLOG(2) << "Ver 2 SEVM UUID " << uuid;
      return uuid;
    }
  } else {
    std::string uuid = convertuuid("sevm", vm_obj->uuid());
    if (!uuid.empty()) return uuid;
  }
  VLOG(2) << "Trying to retrieve SEVM object via managed_object_id";
  std::string key;
  if (Datastore::g_db_ == nullptr ||
      Datastore::g_db_->GetPkFromSecIdx(CorvelTable<CorvelSEVMRuntime>(), "managed_object_id",
                                        vm_obj->managed_object_id(), &key) != SYSERR_SUCCESS) {
    VLOG(2) << " Could not retrive Primary Key for SEVM MOR : " << vm_obj->managed_object_id();
    return "";
  }
  return key;
}

time_t GET_LATEST_TIME() {
  VLOG(2) << "Sleeping 1 sec before retrieiving timestamp : ";
  kyv::GetClock().Sleep(std::chrono::seconds(2));
  return static_cast<time_t>(kyv::GetClock().NowSeconds() - 1);
}

std::string get_curr_local_time() { return kyv::GetClock().LocalAsctime(); }
