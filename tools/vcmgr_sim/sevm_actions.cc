#include "tools/vcmgr_sim/sevm_actions.h"

#include <algorithm>
#include <cctype>
#include <utility>
#include <vector>

#include "tools/vcmgr_sim/inventory_validator.h"

namespace vcmgr_sim {

namespace {

ActionResult Fail(VCENTER_MGR_STATUS status, std::string text) {
  ActionResult r;
  r.status = status;
  r.text = std::move(text);
  return r;
}

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}

// A port group named by MOR, uuid or name.
const CorvelNWRuntime* FindNetwork(const Inventory& inv, const std::string& id) {
  if (id.empty()) return nullptr;
  const CorvelNWRuntime* pg = inv.FindPortGroup(id);
  return pg ? pg : inv.FindPortGroupByName(id);
}

bool Connected(const CorvelHostRuntime& host, const std::string& pg_mor) {
  const auto& nets = host.network_uuids();
  return std::find(nets.begin(), nets.end(), pg_mor) != nets.end();
}

// vNICs attached to a port group across the inventory.
int PortsInUse(const Inventory& inv, const std::string& pg_mor) {
  int n = 0;
  for (const auto& vm : inv.data().vms()) {
    for (const auto& nic : vm.guest_nic()) n += nic.network_uuid() == pg_mor;
  }
  return n;
}

// A distributed port group of fixed size whose ports are all taken cannot take `extra` more.
bool OutOfPorts(const Inventory& inv, const CorvelNWRuntime& pg, int extra) {
  return pg.dvs() && !pg.auto_expand() && PortsInUse(inv, pg.managed_object_id()) + extra > pg.num_ports();
}

void Attach(CorvelGuestNicRuntime* nic, const CorvelNWRuntime* pg) {
  nic->set_network_uuid(pg ? pg->managed_object_id() : "");
  nic->set_network_name(pg ? pg->name() : "none");
}

// Takes the pieces "KEY:VALUE" of the SE identity text the connector sends.
void ApplyIdentity(const std::string& internal, CorvelVMRuntime* vm) {
  vm->set_ovf_kyvsetype_field(internal);
  vm->set_vcenter_se_type(CORVEL_SE_NETWORK_ADMIN);
  size_t start = 0;
  while (start <= internal.size()) {
    size_t end = internal.find(',', start);
    if (end == std::string::npos) end = internal.size();
    const std::string piece = internal.substr(start, end - start);
    const size_t colon = piece.find(':');
    if (colon != std::string::npos) {
      const std::string key = piece.substr(0, colon);
      const std::string value = piece.substr(colon + 1);
      if (key == "KYVRMCOOKIE") vm->set_vcenter_rm_cookie(value);
      if (key == "KYVSETYPE" && value == "UNIFIED_ADMIN") vm->set_vcenter_se_type(CORVEL_SE_UNIFIED_ADMIN);
    }
    start = end + 1;
  }
}

ActionResult CheckHostUsable(const CorvelHostRuntime& host) {
  if (host.powerstate() != "poweredOn") {
    return Fail(SEVM_CREATE_FAILURE, "host " + host.name() + " is " + host.powerstate());
  }
  if (host.connection_state() != "connected") {
    return Fail(SEVM_CREATE_FAILURE, "host " + host.name() + " is " + host.connection_state());
  }
  if (host.maintenance_mode()) return Fail(SEVM_CREATE_FAILURE, "host " + host.name() + " is in maintenance mode");
  return ActionResult();
}

}  // namespace

ActionResult CreateSeVm(Inventory& inv, const VICreateSEVMReq& req, CorvelVMRuntime* vm) {
  const VISeVmOvaParams& p = req.sevm_params();
  if (p.sevm_name().empty()) return Fail(SEVM_INVALID_DATA, "sevm_params.sevm_name is empty");
  if (inv.FindVmByName(p.sevm_name())) {
    return Fail(SEVM_CREATE_FAIL_DUPLICATE_NAME, "a VM named " + p.sevm_name() + " already exists");
  }
  const CorvelHostRuntime* host = inv.FindHost(p.vcenter_host());
  if (!host) return Fail(SEVM_CREATE_NO_HOST, "no host '" + p.vcenter_host() + "'");
  ActionResult usable = CheckHostUsable(*host);
  if (!usable.ok()) return usable;

  const CorvelNWRuntime* mgmt = FindNetwork(inv, p.vcenter_se_mgmt_nw());
  if (!mgmt) return Fail(SEVM_CREATE_FAIL_NO_MGMT_NW, "no management network '" + p.vcenter_se_mgmt_nw() + "'");
  std::vector<const CorvelNWRuntime*> data;
  for (const std::string& id : req.vnic_portgroups()) {
    const CorvelNWRuntime* pg = inv.FindPortGroup(id);
    if (!pg) return Fail(SEVM_CREATE_NO_HOST_VM_NETWORK, "no port group '" + id + "'");
    data.push_back(pg);
  }
  if (static_cast<int>(data.size()) > kSeVmVnics - 1) {
    return Fail(SEVM_INVALID_DATA, "more data port groups than the " + std::to_string(kSeVmVnics - 1) + " data vNICs");
  }
  for (const CorvelNWRuntime* pg : data) {
    if (!Connected(*host, pg->managed_object_id()) && pg != mgmt) {
      return Fail(SEVM_CREATE_NO_HOST_VM_NETWORK, "host " + host->name() + " is not on port group " + pg->name());
    }
  }
  if (!Connected(*host, mgmt->managed_object_id())) {
    return Fail(SEVM_CREATE_NO_HOST_VM_NETWORK, "host " + host->name() + " is not on management network " + mgmt->name());
  }
  if (OutOfPorts(inv, *mgmt, 1)) {
    return Fail(SEVM_CREATE_FAIL_NO_MGMT_NW_PORTS, "no free port on management network " + mgmt->name());
  }

  const CorvelVMRuntime* source = nullptr;
  if (!req.vcenter_sevm_name().empty()) {
    source = inv.FindVmByName(req.vcenter_sevm_name());
    if (!source) return Fail(SEVM_NO_SOURCE_CLONE, "no template VM '" + req.vcenter_sevm_name() + "'");
  } else if (p.vcenter_ovf_path().empty()) {
    return Fail(SEVM_CREATE_NO_IMAGE, "no SE image path");
  }
  const int cores = p.vcenter_num_se_cores() > 0 ? p.vcenter_num_se_cores() : (source ? source->num_cpu() : 1);
  const int64_t mem_mb = p.vcenter_num_mem() > 0 ? static_cast<int64_t>(std::min<uint64_t>(p.vcenter_num_mem(), 1ull << 40))
                                                 : (source ? source->memory() : 2048);
  if (host->num_cpu_threads() > 0 && cores > host->num_cpu_threads()) {
    return Fail(SEVM_CREATE_FAIL_NO_CPU, std::to_string(cores) + " vCPUs exceed the " +
                                             std::to_string(host->num_cpu_threads()) + " threads of host " + host->name());
  }
  if (host->mem() > 0 && mem_mb > (host->mem() >> 20)) {
    return Fail(SEVM_CREATE_FAIL_NO_MEM, std::to_string(mem_mb) + " MB exceed the memory of host " + host->name());
  }

  CorvelVMRuntime out;
  out.set_name(p.sevm_name());
  out.set_managed_object_id(inv.NewVmMor());
  out.set_host(host->managed_object_id());
  out.set_powerstate(req.poweron_sevm() ? "poweredOn" : "poweredOff");
  out.set_connection_state("connected");
  out.set_num_cpu(cores);
  out.set_memory(mem_mb);
  if (!p.controller_ip_addr().empty()) out.set_controller_ip_addr(p.controller_ip_addr());
  if (!p.controller_cluster_uuid().empty()) out.set_controller_cluster_uuid(p.controller_cluster_uuid());
  out.set_vcenter_vm_type(VMTYPE_SE_VM);
  out.set_vcenter_template_vm(false);
  out.set_vcenter_vappname("Service Engine");
  out.set_vcenter_vappvendor("Kyv");
  ApplyIdentity(p.vcenter_internal(), &out);
  out.set_creation_in_progress(false);
  out.set_init_vnics(static_cast<int>(data.size()));
  out.set_se_ver(2);
  for (int i = 0; i < kSeVmVnics; ++i) {
    CorvelGuestNicRuntime* nic = out.add_guest_nic();
    nic->set_mac_addr(inv.NewMac());  // each call gives a new address
    nic->set_label("Network adapter " + std::to_string(i + 1));
    Attach(nic, i == 0 ? mgmt : (i - 1 < static_cast<int>(data.size()) ? data[i - 1] : nullptr));
  }
  inv.AddVm(out, true);
  *vm = out;
  return ActionResult();
}

ActionResult DeleteSeVm(Inventory& inv, const VIDeleteSEVMReq& req, CorvelVMRuntime* removed) {
  const CorvelVMRuntime* vm = req.sevm_mor().empty() ? inv.FindVmByName(req.sevm_name()) : inv.FindVm(req.sevm_mor());
  const std::string what = req.sevm_mor().empty() ? req.sevm_name() : req.sevm_mor();
  if (!vm) return Fail(SEVM_DELETE_FAILURE, "no VM '" + what + "'");
  if (vm->vcenter_vm_type() != VMTYPE_SE_VM) return Fail(SEVM_DELETE_FAILURE, vm->name() + " is not an SE VM");
  const CorvelHostRuntime* host = inv.FindHost(vm->host());
  if (host && host->connection_state() != "connected") {
    return Fail(SEVM_DELETE_FAILURE, "host " + host->name() + " of " + vm->name() + " is " + host->connection_state());
  }
  inv.RemoveVm(vm->managed_object_id(), removed);
  return ActionResult();
}

ActionResult ChangePower(Inventory& inv, const std::string& vm_mor, const std::string& action, CorvelVMRuntime* vm) {
  CorvelVMRuntime* target = inv.FindVm(vm_mor) ? inv.MutableVm(vm_mor) : nullptr;
  if (!target) return Fail(SEVM_INVALID_DATA, "no VM '" + vm_mor + "'");
  const std::string a = Lower(action);
  std::string state;
  if (a == "poweron" || a == "on" || a == "power_on" || a == "reset" || a == "reboot") {
    state = "poweredOn";
  } else if (a == "poweroff" || a == "off" || a == "power_off" || a == "shutdown") {
    state = "poweredOff";
  } else if (a == "suspend") {
    state = "suspended";
  } else {
    return Fail(SEVM_INVALID_DATA, "unknown power action '" + action + "'");
  }
  target->set_powerstate(state);
  *vm = *target;
  return ActionResult();
}

ActionResult SetMgmtIp(Inventory& inv, const VISetMgmtIpSEVMReq& req, bool check_macs, CorvelVMRuntime* vm) {
  CorvelVMRuntime* target = inv.MutableVm(req.sevm_mor());
  if (req.sevm_mor().empty() || !target) return Fail(SEVM_SET_MGMT_IP_FAILED, "no VM '" + req.sevm_mor() + "'");
  if (check_macs) {
    for (const std::string& mac : req.vnic_macs()) {
      const auto& nics = target->guest_nic();
      if (std::none_of(nics.begin(), nics.end(), [&](const auto& n) { return n.mac_addr() == Lower(mac); })) {
        return Fail(SEVM_VNIC_MAC_ADDR_ERROR, "VM " + target->name() + " has no vNIC " + mac);
      }
    }
  }
  if (target->guest_nic_size() == 0) return Fail(SEVM_SET_MGMT_IP_FAILED, "VM " + target->name() + " has no vNIC");
  const VISeVmIpConfParams& ip = req.ip_params();
  CorvelIPSubnetRuntime addr;
  if (!ip.dhcp_enabled()) {
    const std::string& text = ip.mgmt_ip().ip_addr().addr();
    uint32_t a = 0;
    if (!ParseIpv4(text, &a)) return Fail(SEVM_INVALID_DATA, "ip_params.mgmt_ip '" + text + "' is not an IPv4 address");
    const int mask = ip.mgmt_ip().mask();
    if (mask < 0 || mask > 32) return Fail(SEVM_INVALID_DATA, "ip_params.mgmt_ip mask " + std::to_string(mask) + " is out of range");
    uint32_t gw = 0;
    if (ip.has_default_gateway() && !ParseIpv4(ip.default_gateway().addr(), &gw)) {
      return Fail(SEVM_INVALID_DATA, "ip_params.default_gateway '" + ip.default_gateway().addr() + "' is not an IPv4 address");
    }
    addr.set_ip_subnet(FormatIpv4(NetworkOf(a, mask)));
    addr.mutable_prefix()->mutable_ip_addr()->set_type(V4);
    addr.mutable_prefix()->mutable_ip_addr()->set_addr(text);
    addr.mutable_prefix()->set_mask(mask);
  }
  CorvelGuestNicRuntime* mgmt = target->mutable_guest_nic(0);
  mgmt->clear_guest_ip();
  if (!ip.dhcp_enabled()) *mgmt->add_guest_ip() = addr;
  *vm = *target;
  return ActionResult();
}

ActionResult SetVnicNetworks(Inventory& inv, const VISetvNicNwReq& req, CorvelVMRuntime* vm) {
  CorvelVMRuntime* target = req.vcenter_sevm_mor().empty() ? nullptr : inv.MutableVm(req.vcenter_sevm_mor());
  if (!target) return Fail(SEVM_VNIC_NO_VM, "no VM '" + req.vcenter_sevm_mor() + "'");
  // Check every assignment before changing anything.
  std::vector<std::pair<int, const CorvelNWRuntime*>> plan;
  for (const VIvNicNetworkInfo& info : req.vcenter_vnic_info()) {
    int index = -1;
    for (int i = 0; i < target->guest_nic_size(); ++i) {
      if (target->guest_nic(i).mac_addr() == Lower(info.mac_addr())) index = i;
    }
    if (index < 0) return Fail(SEVM_VNIC_MAC_ADDR_ERROR, "VM " + target->name() + " has no vNIC '" + info.mac_addr() + "'");
    const CorvelNWRuntime* pg = nullptr;
    if (info.connected()) {
      pg = FindNetwork(inv, info.network_mor());
      if (!pg) pg = FindNetwork(inv, info.network_uuid());
      if (!pg) pg = FindNetwork(inv, info.network_name());
      if (!pg) {
        return Fail(SEVM_VNIC_FAILURE, "no port group for vNIC " + info.mac_addr() + " ('" + info.network_mor() +
                                           "', '" + info.network_uuid() + "', '" + info.network_name() + "')");
      }
      if (pg->managed_object_id() != target->guest_nic(index).network_uuid() && OutOfPorts(inv, *pg, 1)) {
        return Fail(SEVM_VNIC_NO_PG_PORTS, "no free port on port group " + pg->name());
      }
    }
    plan.emplace_back(index, pg);
  }
  for (const auto& [index, pg] : plan) {
    CorvelGuestNicRuntime* nic = target->mutable_guest_nic(index);
    if (!pg || pg->managed_object_id() != nic->network_uuid()) nic->clear_guest_ip();
    Attach(nic, pg);
  }
  *vm = *target;
  return ActionResult();
}

}  // namespace vcmgr_sim
