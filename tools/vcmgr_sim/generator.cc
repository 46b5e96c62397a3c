#include "tools/vcmgr_sim/generator.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

#include "tools/vcmgr_sim/inventory.h"
#include "tools/vcmgr_sim/inventory_validator.h"

namespace vcmgr_sim {

namespace {

struct Limit {
  const char* key;
  int64_t min;
  int64_t max;
};

const Limit kLimits[] = {
    {"hosts", 0, 100000}, {"clusters", 0, 10000}, {"vms", 0, 1000000},
    {"pgs", 0, 100000},   {"nics", 0, 10},        {"seed", 0, INT64_MAX},
};

bool ParseNumber(const std::string& text, int64_t* out) {
  if (text.empty() || text.size() > 19) return false;
  int64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  *out = v;
  return true;
}

// Addresses of the generated MAC range count up from 00:50:56:00:00:01; the top half of the
// range is left to SE VMs created at run time.
constexpr int64_t kMaxMacs = 0x1fffff;

template <typename T, size_t N>
T Pick(std::mt19937_64& rng, const T (&values)[N]) {
  return values[rng() % N];
}

}  // namespace

bool ParseGenerateSizes(const std::string& text, GenerateSizes* sizes, std::string* error) {
  GenerateSizes out;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(',', start);
    if (end == std::string::npos) end = text.size();
    const std::string item = text.substr(start, end - start);
    start = end + 1;
    if (item.empty()) continue;
    const size_t eq = item.find('=');
    const std::string key = item.substr(0, eq);
    const Limit* limit = nullptr;
    for (const Limit& l : kLimits) {
      if (key == l.key) limit = &l;
    }
    if (!limit) {
      *error = "--generate: unknown key '" + key + "' (known: hosts, clusters, vms, pgs, nics, seed)";
      return false;
    }
    int64_t value = 0;
    if (eq == std::string::npos || !ParseNumber(item.substr(eq + 1), &value)) {
      *error = "--generate: " + key + " needs a whole number, as in " + key + "=10";
      return false;
    }
    if (value < limit->min || value > limit->max) {
      *error = "--generate: " + key + "=" + std::to_string(value) + " is out of range " +
               std::to_string(limit->min) + ".." + std::to_string(limit->max);
      return false;
    }
    if (key == "hosts") out.hosts = static_cast<int>(value);
    if (key == "clusters") out.clusters = static_cast<int>(value);
    if (key == "vms") out.vms = static_cast<int>(value);
    if (key == "pgs") out.pgs = static_cast<int>(value);
    if (key == "nics") out.nics = static_cast<int>(value);
    if (key == "seed") out.seed = static_cast<uint64_t>(value);
  }
  if (out.vms > 0 && out.hosts == 0) {
    *error = "--generate: vms=" + std::to_string(out.vms) + " needs hosts";
    return false;
  }
  if (out.vms > 0 && out.nics > 0 && out.pgs == 0) {
    *error = "--generate: nics=" + std::to_string(out.nics) + " needs pgs";
    return false;
  }
  if (out.clusters > out.hosts) {
    *error = "--generate: clusters=" + std::to_string(out.clusters) + " is more than hosts=" + std::to_string(out.hosts);
    return false;
  }
  if (out.clusters == 0 && out.hosts > 0) out.clusters = (out.hosts + 31) / 32;
  *sizes = out;
  return true;
}

bool GenerateInventory(const GenerateSizes& wanted, SimInventory* out, std::string* error) {
  GenerateSizes sizes = wanted;
  if (sizes.vms > 0 && sizes.hosts <= 0) {
    *error = "--generate: VMs need hosts";
    return false;
  }
  if (static_cast<int64_t>(sizes.vms) * sizes.nics > kMaxMacs) {
    *error = "--generate: vms x nics = " + std::to_string(static_cast<int64_t>(sizes.vms) * sizes.nics) +
             " vNICs exceed the " + std::to_string(kMaxMacs) + " MAC addresses available";
    return false;
  }
  if (sizes.hosts > 0 && sizes.clusters <= 0) sizes.clusters = (sizes.hosts + 31) / 32;
  std::mt19937_64 rng(sizes.seed);
  SimInventory inv;
  SimVcenter* vc = inv.mutable_vcenter();
  vc->set_username("administrator@sim.local");
  vc->set_password("sim-password");
  VIDCInfo* dc = inv.mutable_datacenter();
  dc->set_name("dc-sim");
  dc->set_managed_object_id("datacenter-2");

  for (int c = 1; c <= sizes.clusters; ++c) {
    CorvelClusterRuntime* cl = inv.add_clusters();
    cl->set_managed_object_id("domain-c" + std::to_string(c));
    cl->set_name("Cluster-" + std::to_string(c));
  }

  // Port group k (1-based); data port groups belong to cluster (k - 2) % clusters.
  std::vector<std::vector<int>> cluster_pgs(sizes.clusters);
  for (int k = 1; k <= sizes.pgs; ++k) {
    CorvelNWRuntime* pg = inv.add_port_groups();
    const bool dvs = k > 1 && k % 4 != 0;
    pg->set_managed_object_id((dvs ? "dvportgroup-" : "network-") + std::to_string(k));
    pg->set_name(k == 1 ? "Management Network" : (dvs ? "dvpg-data-" : "vss-data-") + std::to_string(k));
    if (k > 1 && sizes.clusters > 0) cluster_pgs[(k - 2) % sizes.clusters].push_back(k - 1);
  }

  static const int kThreads[] = {16, 24, 32, 48, 64};
  static const int64_t kHz[] = {2100000000LL, 2400000000LL, 2600000000LL, 3000000000LL};
  static const int64_t kMemGiB[] = {128, 256, 384, 512};
  std::vector<int> host_cluster(sizes.hosts);
  for (int i = 0; i < sizes.hosts; ++i) {
    CorvelHostRuntime* h = inv.add_hosts();
    char name[32];
    std::snprintf(name, sizeof(name), "esx-%04d.sim.local", i + 1);
    h->set_managed_object_id("host-" + std::to_string(i + 1));
    h->set_name(name);
    host_cluster[i] = i % sizes.clusters;
    h->set_cluster_uuid(inv.clusters(host_cluster[i]).managed_object_id());
    if (sizes.pgs > 0) h->add_network_uuids(inv.port_groups(0).managed_object_id());
    for (int pg : cluster_pgs[host_cluster[i]]) h->add_network_uuids(inv.port_groups(pg).managed_object_id());
    h->set_num_cpu_threads(Pick(rng, kThreads));
    h->set_cpu_hz(Pick(rng, kHz));
    h->set_mem(Pick(rng, kMemGiB) << 30);
  }

  // Place the VMs and their vNICs, counting the vNICs of each port group.
  static const int kCpus[] = {1, 2, 4, 8};
  static const int64_t kMemMb[] = {1024, 2048, 4096, 8192};
  std::vector<int> nic_pg;  // port group of each vNIC, in order
  std::vector<int64_t> per_pg(sizes.pgs, 0);
  uint64_t mac = 0;
  for (int j = 0; j < sizes.vms; ++j) {
    CorvelVMRuntime* vm = inv.add_vms();
    const int host = static_cast<int>(rng() % sizes.hosts);
    vm->set_managed_object_id("vm-" + std::to_string(j + 1));
    vm->set_name("app-" + std::to_string(j + 1));
    vm->set_host(inv.hosts(host).managed_object_id());
    vm->set_powerstate(rng() % 10 == 0 ? "poweredOff" : "poweredOn");
    vm->set_num_cpu(Pick(rng, kCpus));
    vm->set_memory(Pick(rng, kMemMb));
    const std::vector<int>& local = cluster_pgs[host_cluster[host]];
    for (int n = 0; n < sizes.nics && sizes.pgs > 0; ++n) {
      const int pg = local.empty() ? 0 : local[rng() % local.size()];
      CorvelGuestNicRuntime* nic = vm->add_guest_nic();
      nic->set_mac_addr(MacOfIndex(static_cast<uint32_t>(++mac)));
      nic->set_network_uuid(inv.port_groups(pg).managed_object_id());
      nic_pg.push_back(pg);
      ++per_pg[pg];
    }
  }

  // A subnet of 10.0.0.0/8 per port group, a power of two of at least 256 addresses.
  const uint64_t kSpace = uint64_t{1} << 24;
  uint64_t cursor = 0;
  std::vector<uint32_t> base(sizes.pgs);
  std::vector<int64_t> used(sizes.pgs, 0);
  for (int k = 0; k < sizes.pgs; ++k) {
    uint64_t size = 256;
    int mask = 24;
    while (size < static_cast<uint64_t>(per_pg[k]) + 2) {
      size <<= 1;
      --mask;
    }
    cursor = (cursor + size - 1) / size * size;
    if (cursor + size > kSpace) {
      *error = "--generate: the vNICs need more addresses than 10.0.0.0/8 holds";
      return false;
    }
    base[k] = (10u << 24) + static_cast<uint32_t>(cursor);
    cursor += size;
    CorvelIPSubnetRuntime* s = inv.mutable_port_groups(k)->add_ip_subnet();
    s->mutable_prefix()->mutable_ip_addr()->set_type(V4);
    s->mutable_prefix()->mutable_ip_addr()->set_addr(FormatIpv4(base[k]));
    s->mutable_prefix()->set_mask(mask);
  }
  size_t n = 0;
  for (auto& vm : *inv.mutable_vms()) {
    for (auto& nic : *vm.mutable_guest_nic()) {
      const int pg = nic_pg[n++];
      const auto& net = inv.port_groups(pg).ip_subnet(0).prefix();
      CorvelIPSubnetRuntime* ip = nic.add_guest_ip();
      ip->mutable_prefix()->mutable_ip_addr()->set_type(V4);
      ip->mutable_prefix()->mutable_ip_addr()->set_addr(FormatIpv4(base[pg] + static_cast<uint32_t>(++used[pg])));
      ip->mutable_prefix()->set_mask(net.mask());
    }
  }

  const int datastores = std::max(2, std::min(16, sizes.clusters));
  for (int d = 1; d <= datastores; ++d) {
    VcenterDatastore* ds = inv.add_datastores();
    ds->set_managed_object_id("datastore-" + std::to_string(d));
    ds->set_datastore_name("ds-shared-" + std::to_string(d));
    ds->set_capacity(4LL << 40);
    ds->set_free_space(static_cast<int64_t>(1 + rng() % 3) << 40);
    ds->set_shared(true);
  }
  const char* const folders[][3] = {
      {"group-v1", "vm", "vm"}, {"group-v2", "Service Engines", "vm/Service Engines"}, {"group-v3", "Apps", "vm/Apps"}};
  for (const auto& f : folders) {
    VIFolder* folder = inv.add_folders();
    folder->set_managed_object_id(f[0]);
    folder->set_name(f[1]);
    folder->set_path(f[2]);
  }
  *out = std::move(inv);
  return true;
}

}  // namespace vcmgr_sim
