#include "tools/vcmgr_sim/inventory.h"

#include <cctype>
#include <cstdio>
#include <utility>

#include "tools/vcmgr_sim/inventory_validator.h"

namespace vcmgr_sim {

namespace {

const std::vector<std::string> kNoMors;

// The numeric part of "kind-N", or 0 when it is not a number.
uint64_t MorNumber(const std::string& mor) {
  const size_t dash = mor.find('-');
  if (dash == std::string::npos || dash + 1 >= mor.size()) return 0;
  uint64_t n = 0;
  for (size_t i = dash + 1; i < mor.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(mor[i]))) return 0;
    n = n * 10 + static_cast<uint64_t>(mor[i] - '0');
    if (n > (uint64_t{1} << 40)) return 0;
  }
  return n;
}

template <typename Map>
int Position(const Map& index, const std::string& id) {
  auto it = index.find(id);
  if (it == index.end()) it = index.find(MorOf(id));
  return it == index.end() ? -1 : it->second;
}

}  // namespace

std::string ObjectUuid(const std::string& mor, const std::string& cloud_uuid) {
  return mor + "-" + cloud_uuid;
}

std::string MorOf(const std::string& id) {
  const size_t first = id.find('-');
  if (first == std::string::npos || first == 0) return "";
  const size_t second = id.find('-', first + 1);
  const std::string mor = id.substr(0, second);
  return mor.size() > first + 1 ? mor : "";
}

std::string MacOfIndex(uint32_t n) {
  char buf[18];
  std::snprintf(buf, sizeof(buf), "00:50:56:%02x:%02x:%02x", (n >> 16) & 0x3f, (n >> 8) & 0xff, n & 0xff);
  return buf;
}

bool IsMor(const std::string& mor) {
  const size_t dash = mor.find('-');
  if (dash == std::string::npos || dash == 0 || dash + 1 == mor.size()) return false;
  for (size_t i = 0; i < mor.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(mor[i]);
    if (i < dash ? !std::islower(c) : (i > dash && !std::isalnum(c))) return false;
  }
  return true;
}

bool Inventory::Reset(SimInventory data, std::string* error) {
  if (!ValidateInventory(&data, error)) return false;
  data_ = std::move(data);
  created_.clear();
  BuildIndexes();
  return true;
}

void Inventory::BuildIndexes() {
  clusters_.clear();
  hosts_.clear();
  pgs_.clear();
  vms_.clear();
  cluster_hosts_.clear();
  pg_hosts_.clear();
  macs_.clear();
  for (int i = 0; i < data_.clusters_size(); ++i) clusters_[data_.clusters(i).managed_object_id()] = i;
  for (int i = 0; i < data_.port_groups_size(); ++i) pgs_[data_.port_groups(i).managed_object_id()] = i;
  for (int i = 0; i < data_.hosts_size(); ++i) {
    const CorvelHostRuntime& h = data_.hosts(i);
    hosts_[h.managed_object_id()] = i;
    if (!h.cluster_uuid().empty()) cluster_hosts_[h.cluster_uuid()].push_back(h.managed_object_id());
    for (const std::string& pg : h.network_uuids()) pg_hosts_[pg].push_back(h.managed_object_id());
  }
  for (int i = 0; i < data_.vms_size(); ++i) IndexVm(i);
}

void Inventory::IndexVm(int pos) {
  const CorvelVMRuntime& vm = data_.vms(pos);
  vms_[vm.managed_object_id()] = pos;
  if (MorNumber(vm.managed_object_id()) >= next_vm_) next_vm_ = MorNumber(vm.managed_object_id()) + 1;
  for (const auto& nic : vm.guest_nic()) macs_.insert(nic.mac_addr());
}

const CorvelClusterRuntime* Inventory::FindCluster(const std::string& id) const {
  const int pos = Position(clusters_, id);
  return pos < 0 ? nullptr : &data_.clusters(pos);
}

const CorvelHostRuntime* Inventory::FindHost(const std::string& id) const {
  const int pos = Position(hosts_, id);
  return pos < 0 ? nullptr : &data_.hosts(pos);
}

const CorvelNWRuntime* Inventory::FindPortGroup(const std::string& id) const {
  const int pos = Position(pgs_, id);
  return pos < 0 ? nullptr : &data_.port_groups(pos);
}

const CorvelVMRuntime* Inventory::FindVm(const std::string& id) const {
  const int pos = Position(vms_, id);
  return pos < 0 ? nullptr : &data_.vms(pos);
}

const CorvelNWRuntime* Inventory::FindPortGroupByName(const std::string& name) const {
  for (const auto& pg : data_.port_groups()) {
    if (pg.name() == name) return &pg;
  }
  return nullptr;
}

const CorvelVMRuntime* Inventory::FindVmByName(const std::string& name) const {
  for (const auto& vm : data_.vms()) {
    if (vm.name() == name) return &vm;
  }
  return nullptr;
}

const std::vector<std::string>& Inventory::HostsOfCluster(const std::string& cluster_mor) const {
  auto it = cluster_hosts_.find(cluster_mor);
  return it == cluster_hosts_.end() ? kNoMors : it->second;
}

const std::vector<std::string>& Inventory::HostsOfPortGroup(const std::string& pg_mor) const {
  auto it = pg_hosts_.find(pg_mor);
  return it == pg_hosts_.end() ? kNoMors : it->second;
}

bool Inventory::PortGroupInUse(const std::string& pg_mor) const {
  for (const auto& vm : data_.vms()) {
    for (const auto& nic : vm.guest_nic()) {
      if (nic.network_uuid() == pg_mor) return true;
    }
  }
  return false;
}

std::string Inventory::NewVmMor() {
  std::string mor;
  do {
    mor = "vm-" + std::to_string(next_vm_++);
  } while (vms_.count(mor));
  return mor;
}

std::string Inventory::NewMac() {
  // Counted from the top of the range, so that they do not meet generated addresses, which
  // count from the bottom.
  for (;;) {
    std::string mac = MacOfIndex(static_cast<uint32_t>(0x3fffff - (next_mac_++ & 0x3fffff)));
    if (!macs_.count(mac)) return mac;
  }
}

void Inventory::AddVm(const CorvelVMRuntime& vm, bool created) {
  *data_.add_vms() = vm;
  IndexVm(data_.vms_size() - 1);
  if (created) created_.insert(vm.managed_object_id());
}

CorvelVMRuntime* Inventory::MutableVm(const std::string& id) {
  const int pos = Position(vms_, id);
  return pos < 0 ? nullptr : data_.mutable_vms(pos);
}

bool Inventory::RemoveVm(const std::string& id, CorvelVMRuntime* removed) {
  const int pos = Position(vms_, id);
  if (pos < 0) return false;
  auto* vms = data_.mutable_vms();
  const std::string mor = vms->Get(pos).managed_object_id();
  for (const auto& nic : vms->Get(pos).guest_nic()) macs_.erase(nic.mac_addr());
  if (removed) *removed = vms->Get(pos);
  // Move the last VM into the hole so that removal stays cheap.
  const int last = vms->size() - 1;
  if (pos != last) {
    vms->SwapElements(pos, last);
    vms_[vms->Get(pos).managed_object_id()] = pos;
  }
  vms->RemoveLast();
  vms_.erase(mor);
  created_.erase(mor);
  return true;
}

bool Inventory::RemovePortGroup(const std::string& id, CorvelNWRuntime* removed) {
  const int pos = Position(pgs_, id);
  if (pos < 0) return false;
  const std::string mor = data_.port_groups(pos).managed_object_id();
  if (PortGroupInUse(mor)) return false;
  if (removed) *removed = data_.port_groups(pos);
  data_.mutable_port_groups()->DeleteSubrange(pos, 1);
  for (auto& host : *data_.mutable_hosts()) {
    auto* nets = host.mutable_network_uuids();
    for (int i = 0; i < nets->size(); ++i) {
      if (nets->Get(i) == mor) {
        nets->DeleteSubrange(i, 1);
        break;
      }
    }
  }
  const auto created = created_;
  BuildIndexes();
  created_ = created;
  return true;
}

std::vector<std::string> Inventory::CreatedVms() const {
  std::vector<std::string> out;
  for (const auto& vm : data_.vms()) {
    if (created_.count(vm.managed_object_id())) out.push_back(vm.managed_object_id());
  }
  return out;
}

}  // namespace vcmgr_sim
