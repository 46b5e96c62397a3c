#include "tools/vcmgr_sim/inventory_validator.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>
#include <initializer_list>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "tools/vcmgr_sim/inventory.h"

namespace vcmgr_sim {

bool ParseIpv4(const std::string& text, uint32_t* out) {
  in_addr a;
  if (inet_pton(AF_INET, text.c_str(), &a) != 1) return false;
  *out = ntohl(a.s_addr);
  return true;
}

std::string FormatIpv4(uint32_t addr) {
  return std::to_string(addr >> 24) + "." + std::to_string((addr >> 16) & 0xff) + "." +
         std::to_string((addr >> 8) & 0xff) + "." + std::to_string(addr & 0xff);
}

uint32_t NetworkOf(uint32_t addr, int mask) {
  if (mask <= 0) return 0;
  if (mask >= 32) return addr;
  return addr & ~((uint32_t{1} << (32 - mask)) - 1);
}

bool IsMac(const std::string& mac) {
  if (mac.size() != 17) return false;
  for (size_t i = 0; i < mac.size(); ++i) {
    const bool colon = i % 3 == 2;
    if (colon ? mac[i] != ':' : !std::isxdigit(static_cast<unsigned char>(mac[i]))) return false;
  }
  return true;
}

namespace {

// Walks the inventory once, stopping at the first fault. Each check returns false after
// recording the error.
class Checker {
 public:
  Checker(SimInventory* inv, std::string* error) : inv_(*inv), error_(*error) {}

  bool Run() {
    return CheckVcenter() && CheckDatacenter() && IndexMors() && CheckClusters() &&
           CheckPortGroups() && CheckHosts() && CheckVms() && CheckDatastores() && CheckFolders();
  }

 private:
  bool Fail(const std::string& path, const std::string& what) {
    error_ = path + ": " + what;
    return false;
  }

  static std::string At(const char* list, int i) {
    return std::string(list) + "[" + std::to_string(i) + "]";
  }

  // Fields the simulator derives or the connector keeps must not come from the inventory.
  bool CheckUnset(const google::protobuf::Message& m, const std::string& path,
                  std::initializer_list<const char*> names) {
    const auto* desc = m.GetDescriptor();
    const auto* refl = m.GetReflection();
    for (const char* name : names) {
      const auto* field = desc->FindFieldByName(name);
      if (!field) continue;
      const bool set = field->is_repeated() ? refl->FieldSize(m, field) > 0 : refl->HasField(m, field);
      if (set) {
        return Fail(path + "." + name,
                    "is derived by the simulator or kept by the connector; leave it out");
      }
    }
    return true;
  }

  bool CheckMor(const std::string& mor, const std::string& path,
                std::initializer_list<const char*> kinds) {
    if (mor.empty()) return Fail(path, "required");
    if (!IsMor(mor)) return Fail(path, "'" + mor + "' is not a managed object reference (kind-N)");
    if (kinds.size() == 0) return true;
    const std::string kind = mor.substr(0, mor.find('-'));
    std::string want;
    for (const char* k : kinds) {
      if (kind == k) return true;
      want += std::string(want.empty() ? "" : " or ") + k + "-N";
    }
    return Fail(path, "'" + mor + "' must be " + want);
  }

  bool Required(const std::string& value, const std::string& path) {
    return !value.empty() || Fail(path, "required");
  }

  bool OneOf(std::string* value, const std::string& path, const char* fallback,
             std::initializer_list<const char*> allowed) {
    if (value->empty()) *value = fallback;
    for (const char* a : allowed) {
      if (*value == a) return true;
    }
    std::string list;
    for (const char* a : allowed) list += std::string(list.empty() ? "" : ", ") + a;
    return Fail(path, "'" + *value + "' is not one of " + list);
  }

  bool NonNegative(int64_t v, const std::string& path) {
    return v >= 0 || Fail(path, "must not be negative");
  }

  bool CheckVcenter() {
    if (!inv_.has_vcenter()) return Fail("vcenter", "required");
    const SimVcenter& vc = inv_.vcenter();
    return Required(vc.username(), "vcenter.username") &&
           Required(vc.password(), "vcenter.password") && Required(vc.name(), "vcenter.name") &&
           Required(vc.api_version(), "vcenter.api_version");
  }

  bool CheckDatacenter() {
    if (!inv_.has_datacenter()) return Fail("datacenter", "required");
    const VIDCInfo& dc = inv_.datacenter();
    return Required(dc.name(), "datacenter.name") &&
           CheckMor(dc.managed_object_id(), "datacenter.managed_object_id", {"datacenter"}) &&
           CheckUnset(dc, "datacenter", {"uuid"});
  }

  // Every MOR is unique across the inventory; remembers where each kind of object sits.
  bool IndexMors() {
    std::unordered_map<std::string, std::string> seen;
    auto add = [&](const std::string& mor, const std::string& path) {
      if (mor.empty()) return true;  // reported by the object's own check
      auto [it, fresh] = seen.emplace(mor, path);
      return fresh || Fail(path, "'" + mor + "' is also used by " + it->second);
    };
    if (!add(inv_.datacenter().managed_object_id(), "datacenter.managed_object_id")) return false;
    for (int i = 0; i < inv_.clusters_size(); ++i) {
      if (!add(inv_.clusters(i).managed_object_id(), At("clusters", i) + ".managed_object_id")) return false;
      clusters_.emplace(inv_.clusters(i).managed_object_id(), i);
    }
    for (int i = 0; i < inv_.hosts_size(); ++i) {
      if (!add(inv_.hosts(i).managed_object_id(), At("hosts", i) + ".managed_object_id")) return false;
      hosts_.emplace(inv_.hosts(i).managed_object_id(), i);
    }
    for (int i = 0; i < inv_.port_groups_size(); ++i) {
      if (!add(inv_.port_groups(i).managed_object_id(), At("port_groups", i) + ".managed_object_id")) return false;
      pgs_.emplace(inv_.port_groups(i).managed_object_id(), i);
    }
    for (int i = 0; i < inv_.vms_size(); ++i) {
      if (!add(inv_.vms(i).managed_object_id(), At("vms", i) + ".managed_object_id")) return false;
    }
    for (int i = 0; i < inv_.datastores_size(); ++i) {
      if (!add(inv_.datastores(i).managed_object_id(), At("datastores", i) + ".managed_object_id")) return false;
    }
    for (int i = 0; i < inv_.folders_size(); ++i) {
      if (!add(inv_.folders(i).managed_object_id(), At("folders", i) + ".managed_object_id")) return false;
    }
    return true;
  }

  bool CheckClusters() {
    const std::string& dc_mor = inv_.datacenter().managed_object_id();
    for (int i = 0; i < inv_.clusters_size(); ++i) {
      CorvelClusterRuntime* c = inv_.mutable_clusters(i);
      const std::string path = At("clusters", i);
      if (!CheckMor(c->managed_object_id(), path + ".managed_object_id", {"domain"}) ||
          !Required(c->name(), path + ".name") ||
          !CheckUnset(*c, path, {"uuid", "cloud_uuid", "tenant_uuid", "datacenter_uuid", "host_uuids"})) {
        return false;
      }
      if (c->datacenter_managed_object_id().empty()) c->set_datacenter_managed_object_id(dc_mor);
      if (c->datacenter_managed_object_id() != dc_mor) {
        return Fail(path + ".datacenter_managed_object_id",
                    "'" + c->datacenter_managed_object_id() + "' is not the datacenter " + dc_mor);
      }
    }
    return true;
  }

  bool CheckPortGroups() {
    std::unordered_set<std::string> names;
    for (int i = 0; i < inv_.port_groups_size(); ++i) {
      CorvelNWRuntime* pg = inv_.mutable_port_groups(i);
      const std::string path = At("port_groups", i);
      if (!CheckMor(pg->managed_object_id(), path + ".managed_object_id", {"network", "dvportgroup"}) ||
          !Required(pg->name(), path + ".name") ||
          !CheckUnset(*pg, path, {"uuid", "cloud_uuid", "tenant_uuid", "type", "datacenter_uuid",
                                  "host_uuids", "vm_uuids", "interested_nw", "vrf_context_uuid"})) {
        return false;
      }
      if (pg->name() == "none") return Fail(path + ".name", "'none' means a disconnected vNIC");
      const bool dvs = pg->managed_object_id().compare(0, 12, "dvportgroup-") == 0;
      if (pg->has_dvs() && pg->dvs() != dvs) {
        return Fail(path + ".dvs", std::string("contradicts the MOR kind of ") + pg->managed_object_id());
      }
      pg->set_dvs(dvs);
      if (!pg->has_num_ports()) pg->set_num_ports(dvs ? 128 : 0);
      if (!pg->has_auto_expand()) pg->set_auto_expand(dvs);
      if (!NonNegative(pg->num_ports(), path + ".num_ports")) return false;
      for (int j = 0; j < pg->ip_subnet_size(); ++j) {
        if (!CheckPortGroupSubnet(pg->mutable_ip_subnet(j), path + ".ip_subnet[" + std::to_string(j) + "]")) {
          return false;
        }
      }
    }
    return true;
  }

  bool CheckPortGroupSubnet(CorvelIPSubnetRuntime* s, const std::string& path) {
    if (!CheckUnset(*s, path, {"ref_count", "se_ref_count"})) return false;
    const std::string& addr = s->prefix().ip_addr().addr();
    uint32_t net = 0;
    if (!ParseIpv4(addr, &net)) return Fail(path + ".prefix.ip_addr.addr", "'" + addr + "' is not an IPv4 address");
    if (!s->prefix().has_mask() || s->prefix().mask() < 0 || s->prefix().mask() > 32) {
      return Fail(path + ".prefix.mask", "required, 0 to 32");
    }
    if (NetworkOf(net, s->prefix().mask()) != net) {
      return Fail(path + ".prefix", addr + "/" + std::to_string(s->prefix().mask()) + " has host bits set");
    }
    if (!s->ip_subnet().empty() && s->ip_subnet() != addr) {
      return Fail(path + ".ip_subnet", "'" + s->ip_subnet() + "' differs from the prefix address " + addr);
    }
    return true;
  }

  bool CheckHosts() {
    for (int i = 0; i < inv_.hosts_size(); ++i) {
      CorvelHostRuntime* h = inv_.mutable_hosts(i);
      const std::string path = At("hosts", i);
      if (!CheckMor(h->managed_object_id(), path + ".managed_object_id", {"host"}) ||
          !Required(h->name(), path + ".name") ||
          !CheckUnset(*h, path, {"uuid", "cloud_uuid", "tenant_uuid", "vm_uuids", "cntlr_accessible",
                                 "quarantined", "quarantine_start_ts", "quarantined_periods",
                                 "se_success_cnt", "se_fail_cnt"}) ||
          !OneOf(h->mutable_powerstate(), path + ".powerstate", "poweredOn",
                 {"poweredOn", "poweredOff", "standBy", "unknown"}) ||
          !OneOf(h->mutable_connection_state(), path + ".connection_state", "connected",
                 {"connected", "disconnected", "notResponding"})) {
        return false;
      }
      if (!h->cluster_uuid().empty()) {
        auto it = clusters_.find(h->cluster_uuid());
        if (it == clusters_.end()) return Fail(path + ".cluster_uuid", "'" + h->cluster_uuid() + "' names no cluster");
        const std::string& name = inv_.clusters(it->second).name();
        if (!h->cluster_name().empty() && h->cluster_name() != name) {
          return Fail(path + ".cluster_name", "'" + h->cluster_name() + "' is not the name of " + h->cluster_uuid());
        }
        h->set_cluster_name(name);
      } else if (!h->cluster_name().empty()) {
        return Fail(path + ".cluster_name", "set on a host without cluster_uuid");
      }
      std::unordered_set<std::string> nets;
      for (int j = 0; j < h->network_uuids_size(); ++j) {
        const std::string& net = h->network_uuids(j);
        const std::string npath = path + ".network_uuids[" + std::to_string(j) + "]";
        if (!pgs_.count(net)) return Fail(npath, "'" + net + "' names no port group");
        if (!nets.insert(net).second) return Fail(npath, "'" + net + "' is listed twice");
      }
      if (!h->has_num_cpu_threads()) h->set_num_cpu_threads(32);
      if (!h->has_cpu_hz()) h->set_cpu_hz(2400000000LL);
      if (!h->has_mem()) h->set_mem(256LL << 30);
      if (!NonNegative(h->num_cpu_threads(), path + ".num_cpu_threads") ||
          !NonNegative(h->cpu_hz(), path + ".cpu_hz") || !NonNegative(h->mem(), path + ".mem")) {
        return false;
      }
    }
    return true;
  }

  bool CheckVms() {
    std::unordered_map<std::string, std::string> macs;
    for (int i = 0; i < inv_.vms_size(); ++i) {
      CorvelVMRuntime* vm = inv_.mutable_vms(i);
      const std::string path = At("vms", i);
      if (!CheckMor(vm->managed_object_id(), path + ".managed_object_id", {"vm"}) ||
          !Required(vm->name(), path + ".name") ||
          !CheckUnset(*vm, path, {"uuid", "cloud_uuid", "tenant_uuid", "vcenter_datacenter_uuid",
                                  "vcenter_vnic_discovered"}) ||
          !Required(vm->host(), path + ".host") ||
          !OneOf(vm->mutable_powerstate(), path + ".powerstate", "poweredOn",
                 {"poweredOn", "poweredOff", "suspended"}) ||
          !OneOf(vm->mutable_connection_state(), path + ".connection_state", "connected",
                 {"connected", "disconnected", "orphaned", "inaccessible", "invalid"}) ||
          !NonNegative(vm->num_cpu(), path + ".num_cpu") || !NonNegative(vm->memory(), path + ".memory") ||
          !NonNegative(vm->cpu_reservation(), path + ".cpu_reservation") ||
          !NonNegative(vm->memory_reservation(), path + ".memory_reservation")) {
        return false;
      }
      if (!hosts_.count(vm->host())) return Fail(path + ".host", "'" + vm->host() + "' names no host");
      for (int j = 0; j < vm->guest_nic_size(); ++j) {
        const std::string npath = path + ".guest_nic[" + std::to_string(j) + "]";
        CorvelGuestNicRuntime* nic = vm->mutable_guest_nic(j);
        if (!CheckNic(nic, j, npath)) return false;
        auto [it, fresh] = macs.emplace(nic->mac_addr(), npath);
        if (!fresh) return Fail(npath + ".mac_addr", "'" + nic->mac_addr() + "' is also used by " + it->second);
      }
    }
    return true;
  }

  bool CheckNic(CorvelGuestNicRuntime* nic, int index, const std::string& path) {
    std::string mac = nic->mac_addr();
    std::transform(mac.begin(), mac.end(), mac.begin(), [](unsigned char c) { return std::tolower(c); });
    if (!IsMac(mac)) return Fail(path + ".mac_addr", "'" + nic->mac_addr() + "' is not a MAC address (xx:xx:xx:xx:xx:xx)");
    nic->set_mac_addr(mac);
    if (nic->label().empty()) nic->set_label("Network adapter " + std::to_string(index + 1));
    const CorvelNWRuntime* pg = nullptr;
    if (nic->network_uuid().empty()) {
      if (!nic->network_name().empty() && nic->network_name() != "none") {
        return Fail(path + ".network_name", "set on a vNIC without network_uuid");
      }
      nic->set_network_name("none");
    } else {
      auto it = pgs_.find(nic->network_uuid());
      if (it == pgs_.end()) return Fail(path + ".network_uuid", "'" + nic->network_uuid() + "' names no port group");
      pg = &inv_.port_groups(it->second);
      if (!nic->network_name().empty() && nic->network_name() != pg->name()) {
        return Fail(path + ".network_name", "'" + nic->network_name() + "' is not the name of " + pg->managed_object_id());
      }
      nic->set_network_name(pg->name());
    }
    for (int k = 0; k < nic->guest_ip_size(); ++k) {
      if (!CheckGuestIp(nic->mutable_guest_ip(k), pg, path + ".guest_ip[" + std::to_string(k) + "]")) return false;
    }
    return true;
  }

  bool CheckGuestIp(CorvelIPSubnetRuntime* ip, const CorvelNWRuntime* pg, const std::string& path) {
    if (!CheckUnset(*ip, path, {"ref_count", "se_ref_count"})) return false;
    IpAddrPrefix* prefix = ip->mutable_prefix();
    const std::string addr = prefix->ip_addr().addr();
    const std::string apath = path + ".prefix.ip_addr.addr";
    if (addr.empty()) return Fail(apath, "required");
    if (prefix->ip_addr().type() == V6) {
      in6_addr a6;
      if (inet_pton(AF_INET6, addr.c_str(), &a6) != 1) return Fail(apath, "'" + addr + "' is not an IPv6 address");
      if (!prefix->has_mask() || prefix->mask() < 0 || prefix->mask() > 128) {
        return Fail(path + ".prefix.mask", "required, 0 to 128");
      }
      return true;
    }
    if (prefix->ip_addr().type() != V4) return Fail(path + ".prefix.ip_addr.type", "must be V4 or V6");
    uint32_t a = 0;
    if (!ParseIpv4(addr, &a)) return Fail(apath, "'" + addr + "' is not an IPv4 address");
    prefix->mutable_ip_addr()->set_type(V4);
    if (!prefix->has_mask() || prefix->mask() < 0 || prefix->mask() > 32) {
      return Fail(path + ".prefix.mask", "required, 0 to 32");
    }
    const std::string net = FormatIpv4(NetworkOf(a, prefix->mask()));
    if (!ip->ip_subnet().empty() && ip->ip_subnet() != net) {
      return Fail(path + ".ip_subnet", "'" + ip->ip_subnet() + "' is not the network of " + addr + "/" +
                                           std::to_string(prefix->mask()) + " (" + net + ")");
    }
    ip->set_ip_subnet(net);
    if (pg && pg->ip_subnet_size() > 0) {
      for (const auto& s : pg->ip_subnet()) {
        uint32_t snet = 0;
        ParseIpv4(s.prefix().ip_addr().addr(), &snet);
        if (NetworkOf(a, s.prefix().mask()) == snet) return true;
      }
      return Fail(apath, addr + " is outside the subnets of port group " + pg->managed_object_id());
    }
    return true;
  }

  bool CheckDatastores() {
    for (int i = 0; i < inv_.datastores_size(); ++i) {
      const VcenterDatastore& ds = inv_.datastores(i);
      const std::string path = At("datastores", i);
      if (!CheckMor(ds.managed_object_id(), path + ".managed_object_id", {}) ||
          !Required(ds.datastore_name(), path + ".datastore_name") ||
          !NonNegative(ds.free_space(), path + ".free_space") ||
          !NonNegative(ds.capacity(), path + ".capacity")) {
        return false;
      }
      if (ds.free_space() > ds.capacity()) return Fail(path + ".free_space", "exceeds capacity");
    }
    return true;
  }

  bool CheckFolders() {
    std::unordered_set<std::string> paths;
    for (int i = 0; i < inv_.folders_size(); ++i) {
      const VIFolder& f = inv_.folders(i);
      const std::string path = At("folders", i);
      if (!CheckMor(f.managed_object_id(), path + ".managed_object_id", {}) ||
          !Required(f.name(), path + ".name") || !Required(f.path(), path + ".path")) {
        return false;
      }
      if (!paths.insert(f.path()).second) return Fail(path + ".path", "'" + f.path() + "' is listed twice");
    }
    return true;
  }

  SimInventory& inv_;
  std::string& error_;
  std::unordered_map<std::string, int> clusters_;
  std::unordered_map<std::string, int> hosts_;
  std::unordered_map<std::string, int> pgs_;
};

}  // namespace

bool ValidateInventory(SimInventory* inv, std::string* error) {
  return Checker(inv, error).Run();
}

}  // namespace vcmgr_sim
