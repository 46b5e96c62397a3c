// What the simulated vCenter does to the inventory for SE VM requests.
#pragma once

#include <string>

#include "proto/vcenter_mgr.pb.h"
#include "tools/vcmgr_sim/inventory.h"

namespace vcmgr_sim {

// Outcome of an action: SEVM_SUCCESS, or the failure with a text for status_string.
struct ActionResult {
  VCENTER_MGR_STATUS status = SEVM_SUCCESS;
  std::string text = "SUCCESS";
  bool ok() const { return status == SEVM_SUCCESS; }
};

// vNICs of a new SE VM: "Network adapter 1" on the management network and nine data vNICs.
constexpr int kSeVmVnics = 10;

// Deploys the SE VM that `req` describes on the host named by sevm_params.vcenter_host (a MOR
// or uuid), with its first vNIC on the management network named by vcenter_se_mgmt_nw (a
// name, MOR or uuid) and the next ones on vnic_portgroups (MORs). Checks, in order: the VM
// name (SEVM_INVALID_DATA, SEVM_CREATE_FAIL_DUPLICATE_NAME), the host (SEVM_CREATE_NO_HOST;
// SEVM_CREATE_FAILURE when it is off, disconnected or in maintenance), the networks
// (SEVM_CREATE_FAIL_NO_MGMT_NW, SEVM_CREATE_NO_HOST_VM_NETWORK, SEVM_CREATE_FAIL_NO_MGMT_NW_PORTS),
// the source (SEVM_NO_SOURCE_CLONE for an unknown template, SEVM_CREATE_NO_IMAGE without
// image path) and the size (SEVM_CREATE_FAIL_NO_CPU, SEVM_CREATE_FAIL_NO_MEM). On success the
// VM, of type VMTYPE_SE_VM with se_ver 2, is in the inventory and copied to `*vm`; on failure
// nothing changes.
ActionResult CreateSeVm(Inventory& inv, const VICreateSEVMReq& req, CorvelVMRuntime* vm);

// Deletes the SE VM named by sevm_mor (or, without it, sevm_name). SEVM_DELETE_FAILURE for an
// unknown VM, a VM that is not an SE VM, or a VM whose host is not connected. On success the
// removed VM is copied to `*removed`.
ActionResult DeleteSeVm(Inventory& inv, const VIDeleteSEVMReq& req, CorvelVMRuntime* removed);

// Applies a power action ("powerOn"/"on", "powerOff"/"off"/"shutdown", "suspend",
// "reset"/"reboot"; any case) to the VM `vm_mor`. On success `*vm` is the changed VM.
ActionResult ChangePower(Inventory& inv, const std::string& vm_mor, const std::string& action,
                         CorvelVMRuntime* vm);

// Gives the VM sevm_mor its management address on the first vNIC (DHCP leaves the address to
// the guest). With `check_macs`, every MAC of vnic_macs must belong to the VM
// (SEVM_VNIC_MAC_ADDR_ERROR). SEVM_SET_MGMT_IP_FAILED for an unknown VM, SEVM_INVALID_DATA for
// a missing or malformed address. On success `*vm` is the changed VM.
ActionResult SetMgmtIp(Inventory& inv, const VISetMgmtIpSEVMReq& req, bool check_macs,
                       CorvelVMRuntime* vm);

// Connects the vNICs named by MAC to the port groups of vcenter_vnic_info (by network_mor,
// network_uuid or network_name), or disconnects them. All or nothing: SEVM_VNIC_NO_VM,
// SEVM_VNIC_MAC_ADDR_ERROR, SEVM_VNIC_FAILURE (unknown port group) or SEVM_VNIC_NO_PG_PORTS
// leave the VM as it was. On success `*vm` is the changed VM.
ActionResult SetVnicNetworks(Inventory& inv, const VISetvNicNwReq& req, CorvelVMRuntime* vm);

}  // namespace vcmgr_sim
