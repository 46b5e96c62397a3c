// Stale-record removal and refresh: deleting the objects of a cloud that a discovery pass or a
// resynchronisation did not rewrite, rewriting every object of a table, the deletability test of
// a port group, and the clean-up of discovered networks when a cloud runs in APIC mode.

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "controller/vinfra/corvel/corvel_common.h"
#include "controller/vinfra/corvel/corvel_events.h"
#include "platform/common/logger.h"

namespace {

Logger* Log() { return Logger::GetLogger(CORVEL_DEBUG); }

// How stale-record removal and refresh handle one record table.
struct StaleKind {
  std::string table;
  // Kind word of the vCenter-role event; null for the vCenter table, which raises none.
  const char* word;
  // The object `key` of the table when the transaction finds it and it belongs to `cloud_uuid`;
  // null otherwise. Owned by the transaction's view.
  google::protobuf::Message* (*find)(Transaction* txn, const std::string& key,
                                     const std::string& cloud_uuid);
  // Takes the object out of its parents' reference lists; null for records never detached.
  void (*detach)(Transaction* txn, google::protobuf::Message* record);
};

template <typename Record, Syserr (*Lookup)(Transaction*, const std::string&, Record**)>
google::protobuf::Message* FindInCloud(Transaction* txn, const std::string& key,
                                       const std::string& cloud_uuid) {
  Record* record = nullptr;
  if (Lookup(txn, key, &record) != SYSERR_SUCCESS || record == nullptr) return nullptr;
  if (record->cloud_uuid() != cloud_uuid) return nullptr;
  return record;
}

template <typename Record, void (*Remove)(Transaction*, Record*)>
void Detach(Transaction* txn, google::protobuf::Message* record) {
  Remove(txn, static_cast<Record*>(record));
}

// The handling of `table`, or null for a table that holds no inventory records.
const StaleKind* StaleKindOf(const std::string& table) {
  static const StaleKind kKinds[] = {
      {CorvelTable<CorvelNWRuntime>(), "Network",
       &FindInCloud<CorvelNWRuntime, &CorvelInventoryRetrievePGinDbview>,
       &Detach<CorvelNWRuntime, &CorvelRemoveNWRef>},
      {CorvelTable<CorvelDCRuntime>(), "Datacenter",
       &FindInCloud<CorvelDCRuntime, &CorvelInventoryRetrieveDCinDbview>,
       &Detach<CorvelDCRuntime, &CorvelRemoveDCRef>},
      {CorvelTable<CorvelVcenterRuntime>(), nullptr,
       &FindInCloud<CorvelVcenterRuntime, &CorvelInventoryRetrieveVcenterinDbview>, nullptr},
      {CorvelTable<CorvelClusterRuntime>(), "Cluster",
       &FindInCloud<CorvelClusterRuntime, &CorvelInventoryRetrieveClusterinDbview>,
       &Detach<CorvelClusterRuntime, &CorvelRemoveClusterRef>},
      {CorvelTable<CorvelHostRuntime>(), "Host",
       &FindInCloud<CorvelHostRuntime, &CorvelInventoryRetrieveHostinDbview>,
       &Detach<CorvelHostRuntime, &CorvelRemoveHostRef>},
      {CorvelTable<CorvelVMRuntime>(), "Virtual Machine",
       &FindInCloud<CorvelVMRuntime, &CorvelInventoryRetrieveVMinDbview>,
       &Detach<CorvelVMRuntime, &CorvelRemoveVMRef>},
      // An SE VM leaves its datacenter's sevm_uuids, so the list never names a deleted one.
      {CorvelTable<CorvelSEVMRuntime>(), "SE Virtual Machine",
       &FindInCloud<CorvelSEVMRuntime, &CorvelInventoryRetrieveSEVMinDbview>,
       &Detach<CorvelSEVMRuntime, &CorvelRemoveSEVMRef>},
  };
  for (const StaleKind& kind : kKinds) {
    if (kind.table == table) return &kind;
  }
  return nullptr;
}

// Keys of `table` whose last write is before `timestamp` (every key for 0), in key order.
std::vector<std::string> KeysWrittenBefore(const std::string& table, time_t timestamp) {
  std::vector<std::pair<std::string, std::string>> pairs;
  if (Datastore::g_db_ != nullptr) Datastore::g_db_->GetAll(table, &pairs, timestamp);
  std::vector<std::string> keys;
  keys.reserve(pairs.size());
  for (auto& pair : pairs) keys.push_back(std::move(pair.second));
  return keys;
}

}  // namespace

Syserr CorvelInventoryCheckforDelete(const std::string& table, Transaction* txn, time_t timestamp,
                                     const std::string& cloud_uuid, bool flush,
                                     bool resource_resync,
                                     const std::map<std::string, bool>& resync_resource_list) {
  const StaleKind* kind = StaleKindOf(table);
  for (const std::string& key : KeysWrittenBefore(table, timestamp)) {
    TRACE(Log(), TRACE_LEVEL_DEBUG) << "Object UUID : " << key
                                    << " needs to be removed from datastore";
    if (resource_resync && resync_resource_list.count(key) != 0) {
      TRACE(Log(), TRACE_LEVEL_DEBUG)
          << "Object UUID : " << key
          << " cannot be remove from datastore [ Object present in vcenter ]";
      continue;
    }
    if (kind == nullptr) continue;
    google::protobuf::Message* record = kind->find(txn, key, cloud_uuid);
    if (record == nullptr) continue;
    if (!flush && kind->detach != nullptr) kind->detach(txn, record);
    txn->db_view()->DbUpdate(DbIndex(table, key), nullptr, record, true, false, false);
  }
  return SYSERR_SUCCESS;
}

Syserr CorvelInventoryRefreshTableObjects(const std::string& table, Transaction* txn,
                                          const std::string& cloud_uuid,
                                          const std::string& vcenter, const std::string& user) {
  const StaleKind* kind = StaleKindOf(table);
  const std::vector<std::string> keys = KeysWrittenBefore(table, 0);
  const char* word = nullptr;
  for (const std::string& key : keys) {
    TRACE(Log(), TRACE_LEVEL_DEBUG) << "Object UUID : " << key
                                    << " needs to be refreshed in datastore";
    if (kind == nullptr) continue;
    google::protobuf::Message* record = kind->find(txn, key, cloud_uuid);
    if (record == nullptr) continue;
    word = kind->word;
    txn->db_view()->DbUpdate(DbIndex(table, key), nullptr, record, false, false, false);
  }
  // The count is that of the whole table, other clouds included.
  if (!keys.empty() && word != nullptr) {
    CorvelGenVcenterRoleError(vcenter, word, user, static_cast<int>(keys.size()));
  }
  return SYSERR_SUCCESS;
}

bool CorvelCheckPGforDelete(Transaction* txn, const std::string& pg_uuid) {
  const std::string se_table = CorvelTable<ServiceEngine>();
  std::vector<DbIndex> indexes;
  txn->db_view()->GetAllObjects(se_table, &indexes);
  Datastore* db = txn->datastore();
  if (db == nullptr) return true;
  for (const DbIndex& index : indexes) {
    std::unique_ptr<google::protobuf::Message> cfg;
    std::unique_ptr<google::protobuf::Message> runtime;
    if (db->Read(index, &cfg, &runtime) != SYSERR_SUCCESS) continue;
    const auto* se = dynamic_cast<const ServiceEngine*>(cfg.get());
    if (se == nullptr) continue;
    if (se->mgmt_vnic().network_uuid() == pg_uuid) {
      TRACE(Log(), TRACE_LEVEL_DEBUG) << " SE : " << se->name()
                                      << " mgmt_vnic points to Network : " << pg_uuid;
      return false;
    }
    for (const vNIC& vnic : se->data_vnics()) {
      if (vnic.network_uuid() == pg_uuid) {
        TRACE(Log(), TRACE_LEVEL_DEBUG) << " SE : " << se->name()
                                        << " data vnic points to Network : " << pg_uuid;
        return false;
      }
    }
  }
  return true;
}

void VIRemovedDiscoveredNetworksApicMode(const std::string& mgmt_nw_uuid) {
  auto* txn = new Transaction();
  CorvelNWRuntime* mgmt_pg = nullptr;
  if (CorvelInventoryRetrievePGinDbview(txn, mgmt_nw_uuid, &mgmt_pg) != SYSERR_SUCCESS) {
    txn->Commit(false);
    return;
  }
  const time_t timestamp = GET_LATEST_TIME();
  const std::string cloud_uuid = mgmt_pg->cloud_uuid();
  const std::string nw_table = CorvelTable<CorvelNWRuntime>();

  // Rewriting renews the write time, so these survive the removal below.
  txn->db_view()->DbUpdate(DbIndex(nw_table, mgmt_nw_uuid), nullptr, mgmt_pg, false, false, false);
  for (const std::string& key : KeysWrittenBefore(nw_table, 0)) {
    std::unique_ptr<google::protobuf::Message> cfg;
    std::unique_ptr<google::protobuf::Message> runtime;
    if (Datastore::g_db_->Read(DbIndex(nw_table, key), &cfg, &runtime) != SYSERR_SUCCESS) continue;
    const auto* pg = dynamic_cast<const CorvelNWRuntime*>(runtime.get());
    if (pg == nullptr || pg->type() != CLOUD_APIC) continue;
    txn->db_view()->DbUpdate(DbIndex(nw_table, key), nullptr, pg, false, false, false);
  }
  txn->Commit(false);

  txn = new Transaction();
  CorvelInventoryCheckforDelete(nw_table, txn, timestamp, cloud_uuid, true, false, {});
  txn->Commit(false);
}
