#include "controller/vinfra/corvel/corvel_inventory.h"

#include <glog/logging.h>

#include <algorithm>

#include "controller/vinfra/corvel/corvel_globals.h"
#include "controller/vinfra/corvel/corvel_ids.h"
#include "controller/vinfra/corvel/corvel_service_impl.h"
#include "platform/svc/svc_timer.h"

namespace {
constexpr int kDiscoveryRetryMs = 20000;

Logger* Log() { return Logger::GetLogger(CORVEL_DEBUG); }
}  // namespace

CorvelInventory::CorvelInventory(const std::string& vcenter_url, const std::string& username,
                                 const std::string& password, const std::string& mgmt_nw,
                                 const std::string& datacenter, const std::string& sevm_name,
                                 const std::string& default_vrf_context_uuid,
                                 const std::string& dc_uuid, time_t disc_start_ts,
                                 vCenterMgrService_Stub* vcenter_mgr_stub,
                                 CorvelServiceImpl* service, boost::asio::io_context* ios)
    : p_vcenter_mgr_stub_(vcenter_mgr_stub),
      disc_start_timestamp(disc_start_ts),
      ios_(ios),
      vswitch_mgmt_nw(mgmt_nw),
      p_corvel_service_(service),
      vCenter_url_(vcenter_url),
      vCenter_username_(username),
      vCenter_password_(password),
      vCenter_SEVM_name_(sevm_name),
      datacenter_uuid_(dc_uuid),
      datacenter_(datacenter) {
  CorvelCreateDCMap("UNKNOWN", dc_uuid);
  default_vrf_context_uuid_ = default_vrf_context_uuid;
  vcenter_disc_retry_timer_ = std::make_shared<SvcTimer>(kDiscoveryRetryMs);
  TRACE(Log(), TRACE_LEVEL_DEBUG) << "Disc Start Time Stamp : " << disc_start_timestamp;
}

CorvelInventory::~CorvelInventory() {
  if (vcenter_disc_retry_timer_) vcenter_disc_retry_timer_->Stop();
  delete _p_inventory_dc_;
  for (auto& [name, nodes] : nw_map) {
    for (NetworkNode* node : *nodes) delete node;
    delete nodes;
  }
}

void CorvelInventory::UpdateVcenterCredentials(const std::string& vcenter_url,
                                               const std::string& username,
                                               const std::string& password) {
  vCenter_url_ = vcenter_url;
  vCenter_username_ = username;
  vCenter_password_ = password;
}

void CorvelInventory::CorvelCreateDCMap(const std::string& datacenter, const std::string& dc_uuid) {
  if (_p_inventory_dc_ != nullptr) {
    TRACE(Log(), TRACE_LEVEL_DEBUG) << " DC Map present for dc_uuid : " << dc_uuid;
    return;
  }
  CorvelDatacenter* dc =
      CorvelInventoryCreateDCmapObject(this, datacenter, dc_uuid, RetrieveMorFromUuid(dc_uuid));
  if (dc == nullptr) {
    TRACE(Log(), TRACE_LEVEL_DEBUG) << " dc_map_obj == null";
    return;
  }
  dc->discovery_state = DC_DISC_HOST;
  datacenter_uuid_ = dc_uuid;
  TRACE(Log(), TRACE_LEVEL_DEBUG) << "Starting Discovery for Datacenter : " << dc_uuid;
}

void CorvelInventory::InsertNwMapNode(const std::string& nw_name, const std::string& uuid,
                                      bool dvs) {
  auto it = nw_map.find(nw_name);
  if (it == nw_map.end()) {
    nw_map[nw_name] = new NwNodeSet{new NetworkNode{uuid, dvs}};
    return;
  }
  NwNodeSet* nodes = it->second;
  for (const NetworkNode* node : *nodes) {
    if (node->uuid == uuid) return;
  }
  nodes->push_back(new NetworkNode{uuid, dvs});
}

void CorvelInventory::RemoveNwMapNode(const std::string& nw_name, const std::string& uuid,
                                      bool dvs) {
  std::string key = nw_name;
  if (!dvs) {
    // A standard port group renamed for a clash is stored as "vSwitch:<name>".
    size_t colon = nw_name.find(':');
    if (colon != std::string::npos) key = nw_name.substr(colon + 1);
  }
  TRACE(Log(), TRACE_LEVEL_DEBUG) << "vCenter Name : " << key;
  auto it = nw_map.find(key);
  if (it == nw_map.end()) return;
  NwNodeSet* nodes = it->second;
  for (size_t i = 0; i < nodes->size(); ++i) {
    if ((*nodes)[i]->uuid == uuid) {
      delete (*nodes)[i];
      nodes->erase(nodes->begin() + static_cast<long>(i));
      TRACE(Log(), TRACE_LEVEL_DEBUG) << "Removing : " << uuid << " from idx : " << i;
      return;
    }
  }
}

// Applying notifications to the stored inventory comes with the notification handling; until
// then a routed notification is only traced.
void CorvelInventory::VIVMNotification(const VIGlobalVMNotif* request) {
  TRACE(Log(), TRACE_LEVEL_DEBUG) << "VM notification for " << request->dc_uuid() << " : "
                                  << request->vm_notify_list_size() << " VMs";
}

void CorvelInventory::VIResourceNotification(const VIGlobalResourceNotif* request) {
  TRACE(Log(), TRACE_LEVEL_DEBUG) << "Resource notification for " << request->dc_uuid();
}

void CorvelInventory::VIVcenterConnectStatus(const VIVcenterStatus* request) {
  TRACE(Log(), TRACE_LEVEL_DEBUG) << "Connection status for " << request->dc_uuid() << " : "
                                  << request->connect_status();
}

// ---------------------------------------------------------------------------------------------
// Datacenter map

CorvelDatacenter* CorvelInventoryCreateDCmapObject(CorvelInventory* inventory,
                                                   const std::string& dc_name,
                                                   const std::string& dc_uuid,
                                                   const std::string& managed_obj_id) {
  if (inventory->_p_inventory_dc_ != nullptr) return inventory->_p_inventory_dc_;
  auto* dc = new CorvelDatacenter();
  dc->dc_name = dc_name;
  dc->dc_uuid = dc_uuid;
  dc->dc_managed_obj_id = managed_obj_id;
  dc->discovery_state = DC_DISC_DC;
  inventory->_p_inventory_dc_ = dc;
  TRACE(Log(), TRACE_LEVEL_DEBUG) << " Created a new entry for Datacenter " << dc_name
                                  << " in _p_inventory_dc_";
  return dc;
}

void CorvelInventoryUpdateDCmapObject(CorvelInventory* inventory, const std::string& dc_uuid) {
  CorvelDatacenter* dc = inventory->_p_inventory_dc_;
  if (dc == nullptr) return;
  dc->dc_uuid = dc_uuid;
  dc->dc_managed_obj_id = RetrieveMorFromUuid(dc_uuid);
}

CorvelDatacenter* CorvelInventoryRetrieveDCmapObjectUuid(CorvelInventory* inventory,
                                                         const std::string&) {
  return inventory->_p_inventory_dc_;
}

CorvelDatacenter* CorvelInventoryRetrieveDCmapObjectMor(CorvelInventory* inventory,
                                                        const std::string&) {
  return inventory->_p_inventory_dc_;
}

void CorvelInventoryRemoveDCmapObject(CorvelInventory* inventory, const std::string&) {
  delete inventory->_p_inventory_dc_;
  inventory->_p_inventory_dc_ = nullptr;
}

std::string CorvelInventoryGetVcenterUsername(const std::string& cloud_uuid) {
  CorvelInventory* inv = nullptr;
  CorvelServiceImpl* svc = CorvelGlobals::corvel_service();
  if (svc == nullptr || svc->VICheckVcenter(cloud_uuid, &inv) != 0) return "";
  return inv->vCenter_username_;
}

std::string CorvelInventoryGetVcenterUrl(const std::string& cloud_uuid) {
  CorvelInventory* inv = nullptr;
  CorvelServiceImpl* svc = CorvelGlobals::corvel_service();
  if (svc == nullptr || svc->VICheckVcenter(cloud_uuid, &inv) != 0) return "";
  return inv->vCenter_url_;
}
