// The simulated vCenter's inventory: one datacenter with its clusters, hosts, port groups, VMs,
// datastores and folders, indexed by managed object reference (MOR).
#pragma once

#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "tools/vcmgr_sim/sim_inventory.pb.h"

namespace vcmgr_sim {

// Object uuid of `mor` in the cloud `cloud_uuid`: MOR + "-" + cloud uuid.
std::string ObjectUuid(const std::string& mor, const std::string& cloud_uuid);

// The MOR inside an object uuid or a MOR: its first two "-"-separated parts ("vm-12-c1" gives
// "vm-12", "vm-12" gives itself); empty when there are fewer than two non-empty parts.
std::string MorOf(const std::string& id);

// The MAC address number `n` (0 to 0x3fffff) of the range vCenter assigns on its own,
// 00:50:56:00:00:00 to 00:50:56:3f:ff:ff.
std::string MacOfIndex(uint32_t n);

// True when `mor` has the form kind "-" id with a lower-case kind and a non-empty id made of
// letters and digits (exactly one "-").
bool IsMor(const std::string& mor);

// The inventory with its indexes. Holds only validated data (see ValidateInventory); every
// change made through it keeps the indexes current. Pointers returned by the lookups stay
// valid until the next change. Single-threaded.
class Inventory {
 public:
  Inventory() = default;
  Inventory(const Inventory&) = delete;
  Inventory& operator=(const Inventory&) = delete;

  // Validates `data` (ValidateInventory) and, on success, replaces the whole inventory with
  // it. On failure `*error` names the offending field and nothing changes.
  bool Reset(SimInventory data, std::string* error);

  const SimInventory& data() const { return data_; }
  const SimVcenter& vcenter() const { return data_.vcenter(); }
  const VIDCInfo& datacenter() const { return data_.datacenter(); }

  // Lookups by MOR (an object uuid is accepted too); nullptr when absent.
  const CorvelClusterRuntime* FindCluster(const std::string& id) const;
  const CorvelHostRuntime* FindHost(const std::string& id) const;
  const CorvelNWRuntime* FindPortGroup(const std::string& id) const;
  const CorvelVMRuntime* FindVm(const std::string& id) const;
  // The first port group with this name; nullptr when none.
  const CorvelNWRuntime* FindPortGroupByName(const std::string& name) const;
  // The first VM with this name; nullptr when none.
  const CorvelVMRuntime* FindVmByName(const std::string& name) const;

  // MORs of the hosts in a cluster, and of the hosts connected to a port group, in inventory
  // order. Empty for an unknown MOR.
  const std::vector<std::string>& HostsOfCluster(const std::string& cluster_mor) const;
  const std::vector<std::string>& HostsOfPortGroup(const std::string& pg_mor) const;
  // True when a vNIC of some VM is on the port group.
  bool PortGroupInUse(const std::string& pg_mor) const;

  // A VM MOR and a MAC address that no object uses yet.
  std::string NewVmMor();
  std::string NewMac();

  // Adds a VM that the caller has checked (unique MOR, known host and networks, unique MACs).
  // `created` marks a VM made by an RPC rather than read from the inventory file.
  void AddVm(const CorvelVMRuntime& vm, bool created);
  // The VM for in-place changes that keep its MOR, name and MACs; nullptr when absent.
  CorvelVMRuntime* MutableVm(const std::string& id);
  // Removes a VM and copies it to `*removed` when given. False when absent.
  bool RemoveVm(const std::string& id, CorvelVMRuntime* removed = nullptr);
  // Removes a port group no vNIC uses. False when absent or in use.
  bool RemovePortGroup(const std::string& id, CorvelNWRuntime* removed = nullptr);

  // MORs of the VMs added with created = true that are still present.
  std::vector<std::string> CreatedVms() const;
  // Marks a present VM as created through an RPC (kept across reloads).
  void MarkCreated(const std::string& mor) { created_.insert(mor); }

  size_t vnic_count() const { return macs_.size(); }

 private:
  void BuildIndexes();
  void IndexVm(int pos);

  SimInventory data_;
  std::unordered_map<std::string, int> clusters_;  // MOR -> position in data_
  std::unordered_map<std::string, int> hosts_;
  std::unordered_map<std::string, int> pgs_;
  std::unordered_map<std::string, int> vms_;
  std::unordered_map<std::string, std::vector<std::string>> cluster_hosts_;
  std::unordered_map<std::string, std::vector<std::string>> pg_hosts_;
  std::unordered_set<std::string> macs_;
  std::unordered_set<std::string> created_;
  uint64_t next_vm_ = 1;
  uint64_t next_mac_ = 1;
};

}  // namespace vcmgr_sim
