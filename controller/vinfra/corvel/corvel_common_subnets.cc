// The network limit across all vCenter clouds, and the per-port-group IP subnets learned from
// the guest addresses of VM vNICs, with their reference counts.

#include <arpa/inet.h>
#include <glog/logging.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "controller/vinfra/corvel/corvel_common.h"
#include "controller/vinfra/corvel/corvel_events.h"
#include "platform/common/logger.h"

const char* const kCorvelInternalNetwork = "Kyv Internal";

namespace {

Logger* Log() { return Logger::GetLogger(CORVEL_DEBUG); }

// vCenter states whose datacenters' port groups count towards the network limit.
bool CountsTowardsNetworkLimit(VCENTER_DISCOVERY_STATE state) {
  switch (state) {
    case VCENTER_DISCOVERY_RETRIEVING_DC:
    case VCENTER_DISCOVERY_RETRIEVING_NW:
    case VCENTER_DISCOVERY_ONGOING:
    case VCENTER_DISCOVERY_RESYNCING:
    case VCENTER_DISCOVERY_COMPLETE:
    case VCENTER_DISCOVERY_COMPLETE_NO_MGMT_NW:
      return true;
    default:
      return false;
  }
}

// Reads the runtime half of a committed record; null when it is absent, unreadable or of
// another type.
template <typename Record>
std::unique_ptr<Record> ReadRuntime(Datastore* db, const std::string& key) {
  std::unique_ptr<google::protobuf::Message> cfg;
  std::unique_ptr<google::protobuf::Message> runtime;
  if (db->Read(DbIndex(CorvelTable<Record>(), key), &cfg, &runtime) != SYSERR_SUCCESS) {
    return nullptr;
  }
  auto* record = dynamic_cast<Record*>(runtime.get());
  if (record == nullptr) return nullptr;
  runtime.release();
  return std::unique_ptr<Record>(record);
}

// Port groups of the datacenters whose vCenter is in a counting state, over all clouds.
// -1 when the datacenter table cannot be listed.
int CountDiscoveredNetworks() {
  Datastore* db = Datastore::g_db_;
  std::set<std::string> dc_keys;
  if (db == nullptr || db->GetKeys(CorvelTable<CorvelDCRuntime>(), &dc_keys) != SYSERR_SUCCESS) {
    VLOG(2) << "ds->GetKeys() failed for DC Table";
    return -1;
  }
  int count = 0;
  for (const std::string& dc_key : dc_keys) {
    std::unique_ptr<CorvelDCRuntime> dc = ReadRuntime<CorvelDCRuntime>(db, dc_key);
    if (dc == nullptr) {
      VLOG(2) << "ds->Get() failed for DC Table";
      continue;
    }
    std::unique_ptr<CorvelVcenterRuntime> vcenter =
        ReadRuntime<CorvelVcenterRuntime>(db, dc->vcenter_uuid());
    if (vcenter == nullptr) {
      VLOG(2) << "ds->Get() failed for VCENTER Table";
      continue;
    }
    VLOG(2) << "Vcenter : " << vcenter->vcenter_url()
            << " Datacenter : " << vcenter->discovered_datacenter()
            << " State : " << vcenter->inventory_state();
    if (CountsTowardsNetworkLimit(vcenter->inventory_state())) count += dc->nw_uuids_size();
  }
  return count;
}

// Whether a vNIC takes part in subnet bookkeeping at all.
bool TracksSubnets(const CorvelGuestNicRuntime& nic) {
  return nic.network_name() != kCorvelInternalNetwork && nic.network_name() != "none";
}

// The port-group entry that a vNIC address entry falls in, or null.
CorvelIPSubnetRuntime* FindSubnetEntry(CorvelNWRuntime* pg, const CorvelIPSubnetRuntime& addr) {
  for (CorvelIPSubnetRuntime& entry : *pg->mutable_ip_subnet()) {
    if (entry.prefix().ip_addr().addr() == addr.ip_subnet() &&
        entry.prefix().mask() == addr.prefix().mask()) {
      return &entry;
    }
  }
  return nullptr;
}

// One address of a VM's vNIC together with the vNIC's port group.
struct VnicAddress {
  CorvelNWRuntime* pg;  // owned by the transaction's view
  const CorvelIPSubnetRuntime* addr;
};

// The addresses of the VM's vNICs whose port group the transaction finds, in vNIC order.
std::vector<VnicAddress> VnicAddresses(Transaction* txn, const CorvelVMRuntime* vm_obj) {
  std::vector<VnicAddress> out;
  for (const CorvelGuestNicRuntime& nic : vm_obj->guest_nic()) {
    if (!TracksSubnets(nic)) continue;
    CorvelNWRuntime* pg = nullptr;
    if (CorvelInventoryRetrievePGinDbview(txn, nic.network_uuid(), &pg) != SYSERR_SUCCESS) continue;
    for (const CorvelIPSubnetRuntime& addr : nic.guest_ip()) out.push_back({pg, &addr});
  }
  return out;
}

// The network of an address in text form, or false when the type is neither V4 nor V6, the
// address does not parse, or (V4) the prefix is negative.
bool NetworkText(IpAddrType type, const std::string& addr, int prefix, std::string* network) {
  char text[INET6_ADDRSTRLEN] = {};
  if (type == V6) {
    unsigned char in[16];
    unsigned char out[16];
    if (inet_pton(AF_INET6, addr.c_str(), in) != 1) return false;
    ipv6_nw(in, prefix, out);
    if (inet_ntop(AF_INET6, out, text, sizeof(text)) == nullptr) return false;
  } else if (type == V4) {
    struct in_addr in;
    if (prefix < 0 || inet_pton(AF_INET, addr.c_str(), &in) != 1) return false;
    uint32_t out = 0;
    ipv4_nw(in.s_addr, prefix, &out);
    if (inet_ntop(AF_INET, &out, text, sizeof(text)) == nullptr) return false;
  } else {
    return false;
  }
  *network = text;
  return true;
}

// Host routes and whole-space prefixes are not subnets a port group learns.
bool LearnablePrefix(IpAddrType type, int prefix) {
  const int max = type == V6 ? 128 : 32;
  return prefix >= 1 && prefix < max;
}

}  // namespace

int VICheckCorvelNWRuntimeLimit(int num_networks) {
  const int count = CountDiscoveredNetworks();
  if (count < 0) return 0;
  const int total = num_networks + count;
  VLOG(2) << "Total Num Networks : " << total;

  if (total < kCorvelNetworkGreenThreshold) {
    VLOG(2) << "Total Network entries " << total << " is below the Green Threshold Limit of "
            << kCorvelNetworkGreenThreshold;
    return 0;
  }
  if (total <= kCorvelNetworkYellowThreshold) {
    VLOG(2) << "Total Network entries " << total << " is in the Yellow Threshold Limit of "
            << kCorvelNetworkYellowThreshold;
    CorvelGenNetworkLimitReached(
        total, kCorvelNetworkLimit,
        " Reaching cut off threshold of " + std::to_string(kCorvelNetworkYellowThreshold));
    return 0;
  }
  VLOG(2) << "Total Network entries " << total << " is in the Red Threshold Limit of "
          << kCorvelNetworkLimit;
  CorvelGenNetworkLimitReached(total, kCorvelNetworkLimit,
                               " vCenter Discovery stopped for new clouds");
  return 1;
}

void CorvelUpdateVMvNicIpInfo(Transaction* txn, CorvelVMRuntime* vm_obj, bool disable_vm_disc) {
  const bool record_vm = vm_obj->vcenter_vm_type() == VMTYPE_SE_VM || !disable_vm_disc;
  for (int i = 0; i < vm_obj->guest_nic_size(); ++i) {
    CorvelGuestNicRuntime* nic = vm_obj->mutable_guest_nic(i);
    if (!TracksSubnets(*nic)) continue;
    CorvelNWRuntime* pg = nullptr;
    if (CorvelInventoryRetrievePGinDbview(txn, nic->network_uuid(), &pg) != SYSERR_SUCCESS) {
      TRACE(Log(), TRACE_LEVEL_DEBUG) << "Portgroup : " << nic->network_uuid()
                                      << " Not present. Error!!";
      continue;
    }
    // A new reference is written at once: a vNIC without addresses writes nothing below.
    if (record_vm && CorvelUpdatePGVMRef(pg, vm_obj->uuid()) == 1) {
      CorvelDbUpdateRuntime(txn, pg);
    }
    for (CorvelIPSubnetRuntime& addr : *nic->mutable_guest_ip()) {
      const IpAddrType type = addr.prefix().ip_addr().type();
      const int prefix = addr.prefix().mask();
      std::string network;
      if (!NetworkText(type, addr.prefix().ip_addr().addr(), prefix, &network)) continue;
      TRACE(Log(), TRACE_LEVEL_DEBUG) << "vNic [" << i << "]: IP " << (type == V6 ? "v6" : "v4")
                                      << " Network " << network;
      addr.set_ip_subnet(network);
      if (pg->name() != kCorvelInternalNetwork && LearnablePrefix(type, prefix)) {
        CorvelInventoryAddIPSubnetPG(pg, type, prefix, network);
      }
      CorvelDbUpdateRuntime(txn, pg);
    }
  }
  if (record_vm) CorvelDbUpdateRuntime(txn, vm_obj);
}

void CorvelAddIPSubnetRef(Transaction* txn, const CorvelVMRuntime* vm_obj) {
  const bool se_vm = vm_obj->vcenter_vm_type() == VMTYPE_SE_VM;
  for (const VnicAddress& va : VnicAddresses(txn, vm_obj)) {
    CorvelIPSubnetRuntime* entry = FindSubnetEntry(va.pg, *va.addr);
    if (entry == nullptr) continue;
    TRACE(Log(), TRACE_LEVEL_DEBUG) << "PG : " << va.pg->name() << " IP Subnet : "
                                    << entry->prefix().ip_addr().addr()
                                    << " Mask : " << entry->prefix().mask()
                                    << " Ref count(before) : " << entry->ref_count();
    entry->set_ref_count(entry->ref_count() + 1);
    TRACE(Log(), TRACE_LEVEL_DEBUG) << " Ref count(after) : " << entry->ref_count();
    if (se_vm) entry->set_se_ref_count(entry->se_ref_count() + 1);
    CorvelDbUpdateRuntime(txn, va.pg);
  }
}

void CorvelRemoveIPSubnetRef(Transaction* txn, const CorvelVMRuntime* vm_obj) {
  const bool se_vm = vm_obj->vcenter_vm_type() == VMTYPE_SE_VM;
  for (const VnicAddress& va : VnicAddresses(txn, vm_obj)) {
    CorvelIPSubnetRuntime* entry = FindSubnetEntry(va.pg, *va.addr);
    if (entry == nullptr) continue;
    const std::string subnet = entry->prefix().ip_addr().addr();
    const int mask = entry->prefix().mask();
    int count = entry->ref_count();
    TRACE(Log(), TRACE_LEVEL_DEBUG) << "PG : " << va.pg->name() << " IP Subnet : " << subnet
                                    << " Mask : " << mask << " Ref count(before) : " << count;
    if (count == 1) {
      count = 0;
      CorvelNWClearIpSubnet(txn, subnet, mask, vm_obj->uuid(), va.pg);  // frees `entry`
    } else if (count > 1) {
      entry->set_ref_count(--count);
      if (se_vm && entry->se_ref_count() > 0) entry->set_se_ref_count(entry->se_ref_count() - 1);
    }
    TRACE(Log(), TRACE_LEVEL_DEBUG) << " Ref count(after) : " << count;
    CorvelRemoveVMRefInPGs(txn, va.pg, vm_obj->uuid());
    CorvelDbUpdateRuntime(txn, va.pg);
  }
}

int CorvelInventoryAddIPSubnetPG(CorvelNWRuntime* pg_obj, IpAddrType ip_type, int mask,
                                 const std::string& subnet) {
  for (const CorvelIPSubnetRuntime& entry : pg_obj->ip_subnet()) {
    if (entry.prefix().ip_addr().addr() == subnet && entry.prefix().mask() == mask) return 0;
  }
  CorvelIPSubnetRuntime* entry = pg_obj->add_ip_subnet();
  entry->mutable_prefix()->mutable_ip_addr()->set_type(ip_type);
  entry->mutable_prefix()->mutable_ip_addr()->set_addr(subnet);
  entry->mutable_prefix()->set_mask(mask);
  entry->set_ref_count(0);
  return 1;
}

void CorvelNWClearIpSubnet(Transaction* txn, const std::string& subnet, int mask,
                           const std::string& /*vm_uuid*/, CorvelNWRuntime* pg_obj) {
  google::protobuf::RepeatedPtrField<CorvelIPSubnetRuntime> kept;
  for (const CorvelIPSubnetRuntime& entry : pg_obj->ip_subnet()) {
    if (entry.prefix().ip_addr().addr() == subnet && entry.prefix().mask() == mask) continue;
    *kept.Add() = entry;
  }
  pg_obj->mutable_ip_subnet()->Swap(&kept);
  CorvelDbUpdateRuntime(txn, pg_obj);
}

void ipv4_nw(uint32_t addr, int prefix, uint32_t* network) {
  if (prefix < 0) return;  // no network for a negative prefix; *network is left as it was
  const uint32_t host_mask = prefix >= 32 ? 0xffffffffu
                             : prefix == 0 ? 0u
                                           : 0xffffffffu << (32 - prefix);
  *network = addr & htonl(host_mask);
}

void ipv6_nw(const unsigned char addr[16], int prefix, unsigned char network[16]) {
  const int bits = prefix < 0 ? 0 : prefix > 128 ? 128 : prefix;
  for (int i = 0; i < 16; ++i) {
    const int kept = bits - 8 * i;  // bits of this byte that belong to the network
    const unsigned char mask = kept >= 8  ? 0xff
                               : kept <= 0 ? 0x00
                                           : static_cast<unsigned char>(0xff << (8 - kept));
    network[i] = addr[i] & mask;
  }
}
