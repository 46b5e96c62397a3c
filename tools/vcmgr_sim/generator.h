// A generated inventory of a chosen size.
#pragma once

#include <cstdint>
#include <string>

#include "tools/vcmgr_sim/sim_inventory.pb.h"

namespace vcmgr_sim {

// Sizes of a generated inventory.
struct GenerateSizes {
  int hosts = 4;
  // 0 picks one cluster per 32 hosts.
  int clusters = 0;
  int vms = 10;
  // Port groups, the management network included.
  int pgs = 4;
  // vNICs per VM.
  int nics = 1;
  uint64_t seed = 1;
};

// Parses "hosts=N,clusters=N,vms=N,pgs=N,nics=N,seed=N": any of the keys, in any order.
// Returns false with `*error` naming the key for an unknown key, a value that is not a whole
// number, a value out of range or an impossible combination (VMs without hosts, vNICs without
// port groups, hosts without clusters).
bool ParseGenerateSizes(const std::string& text, GenerateSizes* sizes, std::string* error);

// Builds an inventory of the given size, the same for the same sizes: datacenter "datacenter-2";
// clusters "domain-cN"; hosts "host-N" spread round-robin over the clusters; port groups
// "network-1" (the management network, on every host) and then "dvportgroup-N" (three in four)
// or "network-N", each data port group on the hosts of one cluster; VMs "vm-N" placed on hosts
// at random, each with `nics` vNICs on port groups of its host and an IPv4 address in the
// port group's subnet (subnets of 10.0.0.0/8, each large enough for its vNICs). False with
// `*error` when the addresses do not fit. The account has no address (any is accepted), user
// "administrator@sim.local" and password "sim-password".
bool GenerateInventory(const GenerateSizes& sizes, SimInventory* out, std::string* error);

}  // namespace vcmgr_sim
