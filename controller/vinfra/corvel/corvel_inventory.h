// The connector's in-memory object for one configured vCenter cloud: credentials, the
// identifiers that tie it to the stored records, its one datacenter entry with that
// datacenter's discovery state and open transaction, the discovery retry timer, the flags that
// steer notifications and stale-record removal, and the port-group name index.
#pragma once

#include <boost/asio/io_context.hpp>

#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "proto/corvel_enums.pb.h"
#include "proto/corvel_service.pb.h"
#include "proto/vcenter_mgr.pb.h"

class CorvelServiceImpl;
class SvcTimer;
class Transaction;

// The datacenter entry of an inventory.
typedef struct CorvelDatacenter_ {
  DCDiscoveryState discovery_state = DC_DISC_DC;
  Transaction* txn = nullptr;
  std::string dc_name;
  std::string dc_uuid;
  std::string dc_managed_obj_id;
  int num_outstanding_vnic_sevm_reqs = 0;
  int num_outstanding_vnic_vmpg_reqs = 0;
  int num_outstanding_vnic_vm_notif = 0;
  int num_interested_pgs = 0;
  int num_outstanding_host_pg_reqs = 0;
} CorvelDatacenter;

// One port group in the name index.
struct NetworkNode {
  std::string uuid;
  bool dvs = false;
};
typedef std::vector<NetworkNode*> NwNodeSet;
// Port-group name -> the port groups of that name. Owns its vectors and nodes.
typedef std::map<std::string, NwNodeSet*> NwMapDict;

class CorvelInventory {
 public:
  // Creates the datacenter entry (named "UNKNOWN", state DC_DISC_HOST) and the 20 s retry
  // timer. The stub, the service and the I/O context are borrowed.
  CorvelInventory(const std::string& vcenter_url, const std::string& username,
                  const std::string& password, const std::string& mgmt_nw,
                  const std::string& datacenter, const std::string& sevm_name,
                  const std::string& default_vrf_context_uuid, const std::string& dc_uuid,
                  time_t disc_start_ts, vCenterMgrService_Stub* vcenter_mgr_stub,
                  CorvelServiceImpl* service, boost::asio::io_context* ios);
  virtual ~CorvelInventory();
  CorvelInventory(const CorvelInventory&) = delete;
  CorvelInventory& operator=(const CorvelInventory&) = delete;

  void UpdateVcenterCredentials(const std::string& vcenter_url, const std::string& username,
                                const std::string& password);
  void CorvelCreateDCMap(const std::string& datacenter, const std::string& dc_uuid);
  void InsertNwMapNode(const std::string& nw_name, const std::string& uuid, bool dvs);
  void RemoveNwMapNode(const std::string& nw_name, const std::string& uuid, bool dvs);

  // Notifications routed here by the service (exact vCenter URL and datacenter uuid).
  void VIVMNotification(const VIGlobalVMNotif* request);
  void VIResourceNotification(const VIGlobalResourceNotif* request);
  void VIVcenterConnectStatus(const VIVcenterStatus* request);

  // Accessors of the string members.
  const std::string& CorvelInventoryGetUrl() const { return vCenter_url_; }
  void CorvelInventoryUpdateUrl(const std::string& v) { vCenter_url_ = v; }
  const std::string& CorvelInventoryGetUsername() const { return vCenter_username_; }
  void CorvelInventoryUpdateUsername(const std::string& v) { vCenter_username_ = v; }
  const std::string& CorvelInventoryGetPassword() const { return vCenter_password_; }
  void CorvelInventoryUpdatePassword(const std::string& v) { vCenter_password_ = v; }
  const std::string& CorvelInventoryGetSEVMName() const { return vCenter_SEVM_name_; }
  void CorvelInventoryUpdateSEVMName(const std::string& v) { vCenter_SEVM_name_ = v; }
  const std::string& CorvelInventoryGetCloudUuid() const { return cloud_uuid_; }
  void CorvelInventoryUpdateCloudUuid(const std::string& v) { cloud_uuid_ = v; }
  const std::string& CorvelInventoryGetDcUuid() const { return datacenter_uuid_; }
  void CorvelInventoryUpdateDcUuid(const std::string& v) { datacenter_uuid_ = v; }
  const std::string& CorvelInventoryGetDatacenter() const { return datacenter_; }
  void CorvelInventoryUpdateDatacenter(const std::string& v) { datacenter_ = v; }
  const std::string& CorvelInventoryGetVcenterCloudUuid() const { return vcentercloud_uuid_; }
  void CorvelInventoryUpdateVcenterCloudUuid(const std::string& v) { vcentercloud_uuid_ = v; }
  const std::string& CorvelInventoryGetDefaultVrf() const { return default_vrf_context_uuid_; }
  void CorvelInventoryUpdateDefaultVrf(const std::string& v) { default_vrf_context_uuid_ = v; }

  CorvelDatacenter* _p_inventory_dc_ = nullptr;
  vCenterMgrService_Stub* p_vcenter_mgr_stub_;
  time_t disc_start_timestamp;
  std::shared_ptr<SvcTimer> vcenter_disc_retry_timer_;
  boost::asio::io_context* ios_;
  std::string vswitch_mgmt_nw;
  CorvelServiceImpl* p_corvel_service_;
  NwMapDict nw_map;
  bool apic_mode = false;
  bool waiting_in_cloud_throttle = false;
  std::string cloud_uuid_;
  std::string vCenter_url_;
  std::string vCenter_username_;
  std::string vCenter_password_;
  std::string vCenter_SEVM_name_;
  std::string default_vrf_context_uuid_;
  bool initiate_vcenter_discovery_ = false;
  std::string datacenter_uuid_;
  std::string vcentercloud_uuid_;
  std::string datacenter_;
  time_t vm_resync_ts = 0;
  bool vm_resync = false;
  time_t resource_resync_ts = 0;
  bool resource_resync = false;
  bool disable_vm_disc = false;
  bool inventory_flush = true;
};

// The datacenter map of an inventory holds one entry: every lookup returns it, whatever key is
// given (the keys serve the log lines).
CorvelDatacenter* CorvelInventoryCreateDCmapObject(CorvelInventory* inventory,
                                                   const std::string& dc_name,
                                                   const std::string& dc_uuid,
                                                   const std::string& managed_obj_id);
void CorvelInventoryUpdateDCmapObject(CorvelInventory* inventory, const std::string& dc_uuid);
CorvelDatacenter* CorvelInventoryRetrieveDCmapObjectUuid(CorvelInventory* inventory,
                                                         const std::string& dc_uuid);
CorvelDatacenter* CorvelInventoryRetrieveDCmapObjectMor(CorvelInventory* inventory,
                                                        const std::string& dc_mor);
void CorvelInventoryRemoveDCmapObject(CorvelInventory* inventory, const std::string& dc_uuid);

// The user name or URL of the inventory of `cloud_uuid`; empty when no inventory has it.
std::string CorvelInventoryGetVcenterUsername(const std::string& cloud_uuid);
std::string CorvelInventoryGetVcenterUrl(const std::string& cloud_uuid);
