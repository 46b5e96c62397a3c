// The cloud connector status, the per-datacenter discovery phase with the vCenter's progress,
// the phase texts, and the pool-service report of followed VMs powering on or off.
#include <glog/logging.h>

#include "controller/vinfra/corvel/corvel_common.h"
#include "controller/vinfra/corvel/corvel_inventory.h"
#include "platform/svc/svc_api.h"
#include "proto/options.pb.h"
#include "proto/rpc.pb.h"
#include "proto/sibling_services.pb.h"

namespace {
constexpr int kPoolServiceTimeoutSec = 10;
}  // namespace

void CorvelDbUpdateCloudConnectorStatus(CloudState cloud_state, CloudConnectorState cc_state,
                                        std::string cloud_uuid, ImageState image_state,
                                        std::string image_state_reason, std::string se_version) {
  auto* txn = new Transaction();
  CloudConnectorStatus* status = nullptr;
  if (CorvelInventoryRetrieveCloudConnectorStatusinDbview(txn, cloud_uuid, &status) != SYSERR_SUCCESS) {
    txn->Commit(false);
    return;
  }
  status->set_state(cc_state);
  status->mutable_detail()->set_cc_id(cloud_uuid);
  status->mutable_detail()->set_state(cloud_state);
  if (!se_version.empty()) {
    for (auto& image : *status->mutable_se_image_state()) {
      if (image.version() == se_version) {
        image.set_state(image_state);
        image.set_reason(image_state_reason);
      }
    }
  }
  txn->db_view()->DbUpdate(DbIndex(CorvelTable<CloudConnectorStatus>(), cloud_uuid), status,
                           nullptr, false, false, false);
  txn->Commit(false);
}

void CorvelUpdateDCInventoryState(CorvelDCRuntime* dc_obj, CorvelDatacenter_* dc_map,
                                  Transaction* txn, DCDiscoveryState state) {
  CorvelVcenterRuntime* vcenter = nullptr;
  if (CorvelInventoryRetrieveVcenterinDbview(txn, dc_obj->vcenter_uuid(), &vcenter) != SYSERR_SUCCESS) {
    VLOG(2) << "Could not retrieve vCenter for DC : " << dc_obj->name();
    return;
  }
  dc_obj->set_inventory_state(state);
  dc_obj->set_pending_vcenter_reqs(dc_map->num_outstanding_vnic_vmpg_reqs +
                                   dc_map->num_outstanding_vnic_sevm_reqs +
                                   dc_map->num_outstanding_vnic_vm_notif);
  dc_map->discovery_state = state;

  struct Phase {
    DCDiscoveryState state;
    CORVEL_DC_DISC_STATE text;  // DISCOVERY_INIT: leave the text unchanged
    int progress;
  };
  static const Phase kPhases[] = {
      {DC_DISC_DC, DISCOVERY_NETWORK, 10},     {DC_DISC_HOST, DISCOVERY_HOST, 30},
      {DC_DISC_CLUSTER, DISCOVERY_CLUSTER, 50}, {DC_DISC_PG, DISCOVERY_NETWORK, 10},
      {DC_DISC_VM, DISCOVERY_VM, 60},           {DC_DISC_COMPLETE, DISCOVERY_INIT, 80},
  };
  int progress = 0;
  for (const auto& phase : kPhases) {
    if (phase.state != state) continue;
    if (phase.text != DISCOVERY_INIT) {
      vcenter->set_inventory_progress(CorvelRetrieveDiscoveryStateString(phase.text));
    }
    progress = phase.progress;
  }
  vcenter->set_progress(progress);
  vcenter->set_num_dcs(1);
  vcenter->set_num_hosts(dc_obj->host_uuids_size());
  vcenter->set_num_clusters(dc_obj->cluster_uuids_size());
  vcenter->set_num_vms(dc_obj->vm_uuids_size());
  vcenter->set_num_nws(dc_obj->nw_uuids_size());
  vcenter->set_num_vcenter_req_pending(dc_obj->pending_vcenter_reqs());
  VLOG(2) << "Progress : " << vcenter->progress() << " DCs : " << vcenter->num_dcs()
          << " Hosts : " << vcenter->num_hosts() << " Clusters : " << vcenter->num_clusters()
          << " VMs : " << vcenter->num_vms() << " Networks : " << vcenter->num_nws()
          << " vCenter Pending Requests : " << vcenter->num_vcenter_req_pending();
  if (CorvelDbUpdateRuntime(txn, dc_obj) != SYSERR_SUCCESS) {
    VLOG(2) << "Datacenter DbUpdate() failed ..";
    return;
  }
  if (CorvelDbUpdateRuntime(txn, vcenter) != SYSERR_SUCCESS) VLOG(2) << "vCenter DbUpdate() failed ..";
}

std::string CorvelRetrieveDiscoveryStateString(CORVEL_DC_DISC_STATE state) {
  const auto* value = CORVEL_DC_DISC_STATE_descriptor()->FindValueByNumber(state);
  if (value == nullptr) {
    VLOG(2) << "Disc State  not found ";
    return " ";
  }
  if (!value->options().HasExtension(e_format_str)) {
    VLOG(2) << "No e_fornat_str found ";
    return " ";
  }
  const std::string& text = value->options().GetExtension(e_format_str);
  VLOG(2) << "Disc State " << text;
  return text;
}

void CorvelInventoryNotifyServerVmUpDown(const CorvelVMRuntime* vm_obj, PoolServerStateEnum state) {
  auto* txn = new Transaction();
  VLOG(2) << "Searching whether VM : " << vm_obj->name()
          << " is present in Interested VM list of DC : " << vm_obj->vcenter_datacenter_uuid();
  CorvelDCRuntime* dc = nullptr;
  if (CorvelInventoryRetrieveDCinDbview(txn, vm_obj->vcenter_datacenter_uuid(), &dc) != SYSERR_SUCCESS ||
      dc->interested_vms_size() == 0) {
    txn->Commit(false);
    return;
  }
  for (const auto& e : dc->interested_vms()) {
    if (e.interested_uuid() != vm_obj->uuid()) continue;
    auto* api = new SvcApi<RPCRequest, VoidResponse, PoolService_Stub>(kPoolServiceTimeoutSec);
    api->request->set_uuid(vm_obj->uuid());
    api->request->set_obj_type(SERVERUPDATEREQ);
    api->request->mutable_action_params()->mutable_pool_server_state()->set_state(state);
    api->rpc_stub()->ServerUpdate(api->rpc_controller(), api->request, nullptr, nullptr);
    delete api;
    VLOG(2) << "Issued RPC ServerUpdate to VS_MGR ";
    break;
  }
  txn->Commit(false);
}
