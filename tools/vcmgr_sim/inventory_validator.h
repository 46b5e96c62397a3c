// Checks of an inventory read from a file or built by the generator.
#pragma once

#include <cstdint>
#include <string>

#include "tools/vcmgr_sim/sim_inventory.pb.h"

namespace vcmgr_sim {

// Checks `inv` and fills what the simulator derives: default power and connection states and
// host capacity, a port group's dvs flag (from its MOR kind) and port count, a cluster's
// datacenter MOR, a host's cluster_name, each vNIC's label and network_name, and the network
// address (ip_subnet) of each IPv4 guest address. Returns false with `*error` naming the first
// offending field, e.g. "hosts[3].cluster_uuid: 'domain-c9' names no cluster"; `*inv` may then
// be partly filled and should be dropped.
bool ValidateInventory(SimInventory* inv, std::string* error);

// Parses dotted IPv4 text into a host-order value. False for anything else.
bool ParseIpv4(const std::string& text, uint32_t* out);
// Dotted text of a host-order IPv4 value.
std::string FormatIpv4(uint32_t addr);
// Network address of `addr` with a prefix of `mask` bits (0..32).
uint32_t NetworkOf(uint32_t addr, int mask);

// True for a MAC address of six ":"-separated pairs of hex digits.
bool IsMac(const std::string& mac);

}  // namespace vcmgr_sim
