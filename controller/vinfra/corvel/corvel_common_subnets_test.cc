#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "controller/vinfra/corvel/corvel_common.h"
#include "controller/vinfra/corvel/corvel_common_test_util.h"

namespace {

using corvel_test::Contains;

// ---------------------------------------------------------------------------------------------
// Network limit

class NetworkLimitTest : public corvel_test::ObjectStoreFixture {
 protected:
  // A datacenter with `num_nws` port groups under the vCenter `vcenter_uuid`.
  void PutDatacenter(const std::string& uuid, const std::string& vcenter_uuid, int num_nws) {
    CorvelDCRuntime dc;
    dc.set_uuid(uuid);
    dc.set_vcenter_uuid(vcenter_uuid);
    for (int i = 0; i < num_nws; ++i) dc.add_nw_uuids(uuid + "-nw-" + std::to_string(i));
    Put(dc);
  }
  void PutVcenter(const std::string& uuid, VCENTER_DISCOVERY_STATE state) {
    CorvelVcenterRuntime vc;
    vc.set_uuid(uuid);
    vc.set_inventory_state(state);
    Put(vc);
  }
};

TEST_F(NetworkLimitTest, ThresholdsGiveTheResultAndEventOfTheirBand) {
  // 3 port groups count: those of a failed cloud and of a datacenter without vCenter do not.
  PutVcenter("c1", VCENTER_DISCOVERY_COMPLETE);
  PutDatacenter("datacenter-1-c1", "c1", 3);
  PutVcenter("c2", VCENTER_DISCOVERY_FAILURE);
  PutDatacenter("datacenter-1-c2", "c2", 5);
  PutDatacenter("datacenter-1-c3", "c3", 7);
  constexpr int kStored = 3;

  enum Band { kNone, kYellow, kRed };
  struct Case {
    int total;
    int result;
    Band event;
  } cases[] = {
      {3583, 0, kNone},  {3584, 0, kYellow}, {3585, 0, kYellow}, {5376, 0, kYellow},
      {5377, 1, kRed},   {7167, 1, kRed},    {7168, 1, kRed},    {9000, 1, kRed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.total);
    EventSink::Get().ClearTail();
    EXPECT_EQ(VICheckCorvelNWRuntimeLimit(c.total - kStored), c.result);
    std::vector<EventLog> events = Events(VCENTER_NETWQRK_OBJECT_LIMIT_REACHED);
    if (c.event == kNone) {
      EXPECT_TRUE(events.empty());
      continue;
    }
    ASSERT_EQ(events.size(), 1u);
    const auto& limit = events[0].event_details().vcenter_network_limit();
    EXPECT_EQ(limit.current(), c.total);
    EXPECT_EQ(limit.limit(), 7168);
    EXPECT_EQ(limit.additional_reason(), c.event == kYellow
                                             ? " Reaching cut off threshold of 5376"
                                             : " vCenter Discovery stopped for new clouds");
  }
}

TEST_F(NetworkLimitTest, OnlyActiveDiscoveryStatesCount) {
  PutDatacenter("datacenter-1-c1", "c1", 1);
  const auto* states = VCENTER_DISCOVERY_STATE_descriptor();
  for (int i = 0; i < states->value_count(); ++i) {
    const auto state = static_cast<VCENTER_DISCOVERY_STATE>(states->value(i)->number());
    SCOPED_TRACE(states->value(i)->name());
    const bool counts = state == VCENTER_DISCOVERY_RETRIEVING_DC ||
                        state == VCENTER_DISCOVERY_RETRIEVING_NW ||
                        state == VCENTER_DISCOVERY_ONGOING ||
                        state == VCENTER_DISCOVERY_RESYNCING ||
                        state == VCENTER_DISCOVERY_COMPLETE ||
                        state == VCENTER_DISCOVERY_COMPLETE_NO_MGMT_NW;
    PutVcenter("c1", state);
    EventSink::Get().ClearTail();
    VICheckCorvelNWRuntimeLimit(kCorvelNetworkGreenThreshold - 1);  // the stored one tips it
    EXPECT_EQ(Events(VCENTER_NETWQRK_OBJECT_LIMIT_REACHED).size(), counts ? 1u : 0u);
  }
}

// ---------------------------------------------------------------------------------------------
// Network addresses

TEST(NetworkAddressTest, Ipv4KeepsThePrefixBits) {
  constexpr uint32_t kUntouched = 0xdeadbeef;
  struct Case {
    const char* addr;
    int prefix;
    const char* network;  // null: left untouched
  } cases[] = {
      {"10.1.2.3", 24, "10.1.2.0"},         {"10.1.2.3", 32, "10.1.2.3"},
      {"10.1.2.3", 40, "10.1.2.3"},         {"10.1.2.3", 12, "10.0.0.0"},
      {"192.168.255.77", 17, "192.168.128.0"}, {"10.1.2.3", 0, "0.0.0.0"},
      {"10.1.2.3", -1, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.addr) + "/" + std::to_string(c.prefix));
    in_addr in{};
    ASSERT_EQ(inet_pton(AF_INET, c.addr, &in), 1);
    uint32_t network = kUntouched;
    ipv4_nw(in.s_addr, c.prefix, &network);
    if (c.network == nullptr) {
      EXPECT_EQ(network, kUntouched);
      continue;
    }
    char text[INET_ADDRSTRLEN];
    ASSERT_NE(inet_ntop(AF_INET, &network, text, sizeof(text)), nullptr);
    EXPECT_STREQ(text, c.network);
  }
}

TEST(NetworkAddressTest, Ipv6MasksWithinSixteenBytesForAnyPrefix) {
  const char* kAddr = "2001:db8:abcd:12ff:ffff:1:2:3";
  struct Case {
    int prefix;
    const char* network;
  } cases[] = {
      {64, "2001:db8:abcd:12ff::"}, {60, "2001:db8:abcd:12f0::"}, {3, "2000::"},
      {128, kAddr},                 {200, kAddr},                  {0, "::"},
      {-1, "::"},                   {-500, "::"},
  };
  std::array<unsigned char, 16> addr;
  ASSERT_EQ(inet_pton(AF_INET6, kAddr, addr.data()), 1);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.prefix);
    std::array<unsigned char, 32> out;  // a guard band after the 16 bytes
    out.fill(0xa5);
    ipv6_nw(addr.data(), c.prefix, out.data());
    for (size_t i = 16; i < out.size(); ++i) ASSERT_EQ(out[i], 0xa5) << "byte " << i;
    char text[INET6_ADDRSTRLEN];
    ASSERT_NE(inet_ntop(AF_INET6, out.data(), text, sizeof(text)), nullptr);
    EXPECT_STREQ(text, c.network);
  }
}

// ---------------------------------------------------------------------------------------------
// vNICs and subnet reference counts

struct Addr {
  IpAddrType type;
  std::string addr;
  int prefix;
};

struct Nic {
  std::string network_uuid;
  std::string network_name;
  std::vector<Addr> addrs;
};

CorvelVMRuntime MakeVm(const std::string& uuid, VM_Type type, const std::vector<Nic>& nics) {
  CorvelVMRuntime vm;
  vm.set_uuid(uuid);
  vm.set_cloud_uuid("c1");
  vm.set_vcenter_vm_type(type);
  for (const Nic& n : nics) {
    CorvelGuestNicRuntime* nic = vm.add_guest_nic();
    nic->set_network_uuid(n.network_uuid);
    nic->set_network_name(n.network_name);
    for (const Addr& a : n.addrs) {
      IpAddrPrefix* prefix = nic->add_guest_ip()->mutable_prefix();
      prefix->mutable_ip_addr()->set_type(a.type);
      prefix->mutable_ip_addr()->set_addr(a.addr);
      prefix->set_mask(a.prefix);
    }
  }
  return vm;
}

CorvelNWRuntime MakePg(const std::string& uuid, const std::string& name) {
  CorvelNWRuntime pg;
  pg.set_uuid(uuid);
  pg.set_name(name);
  pg.set_cloud_uuid("c1");
  return pg;
}

class SubnetTest : public corvel_test::ObjectStoreFixture {
 protected:
  void SetUp() override {
    ObjectStoreFixture::SetUp();
    Put({&pg_a_, &pg_b_, &pg_int_});
  }

  // Stores each VM as the record store does: vNIC data first, then the references.
  void Store(std::vector<CorvelVMRuntime*> vms, bool disable_vm_disc = false) {
    auto* txn = new Transaction();
    for (CorvelVMRuntime* vm : vms) {
      CorvelUpdateVMvNicIpInfo(txn, vm, disable_vm_disc);
      CorvelAddIPSubnetRef(txn, vm);
    }
    ASSERT_EQ(txn->Commit(false), SYSERR_SUCCESS);
  }
  void Remove(const CorvelVMRuntime& vm) {
    auto* txn = new Transaction();
    CorvelRemoveIPSubnetRef(txn, &vm);
    ASSERT_EQ(txn->Commit(false), SYSERR_SUCCESS);
  }

  // The committed port group's subnets as "network/mask ref se", in list order.
  std::vector<std::string> Subnets(const std::string& pg_uuid) {
    std::unique_ptr<CorvelNWRuntime> pg = Get<CorvelNWRuntime>(pg_uuid);
    EXPECT_NE(pg, nullptr);
    std::vector<std::string> out;
    if (pg == nullptr) return out;
    for (const CorvelIPSubnetRuntime& e : pg->ip_subnet()) {
      out.push_back(e.prefix().ip_addr().addr() + "/" + std::to_string(e.prefix().mask()) + " " +
                    std::to_string(e.ref_count()) + " " + std::to_string(e.se_ref_count()));
    }
    return out;
  }

  CorvelNWRuntime pg_a_ = MakePg("network-a-c1", "VM Network");
  CorvelNWRuntime pg_b_ = MakePg("network-b-c1", "Backend");
  CorvelNWRuntime pg_int_ = MakePg("network-int-c1", kCorvelInternalNetwork);
};

TEST_F(SubnetTest, VnicAddressesGetTheirNetworkAndPortGroupsLearnOnlyRealSubnets) {
  CorvelVMRuntime vm = MakeVm(
      "vm-1-c1", VMTYPE_POOL_SRVR,
      {{"network-a-c1", "VM Network",
        {{V4, "10.1.2.3", 24},
         {V4, "10.1.2.9", 32},
         {V6, "fd00:1:2:3::5", 64},
         {V6, "fd00::7", 128},
         {V4, "10.9.9.9", -1},
         {DNS, "host.example", 24},
         {V4, "not-an-address", 24}}},
       {"network-b-c1", "none", {{V4, "10.7.7.7", 24}}},
       {"network-int-c1", kCorvelInternalNetwork, {{V4, "192.168.1.5", 24}}},
       {"network-missing", "Gone", {{V4, "10.8.8.8", 24}}},
       // Named otherwise by the vNIC, the internal port group still learns no subnet.
       {"network-int-c1", "internal-alias", {{V4, "172.16.0.9", 16}}}});
  Store({&vm});

  std::unique_ptr<CorvelVMRuntime> stored = Get<CorvelVMRuntime>("vm-1-c1");
  ASSERT_NE(stored, nullptr);
  std::vector<std::vector<std::string>> networks;
  for (const CorvelGuestNicRuntime& nic : stored->guest_nic()) {
    networks.emplace_back();
    for (const CorvelIPSubnetRuntime& ip : nic.guest_ip()) networks.back().push_back(ip.ip_subnet());
  }
  EXPECT_EQ(networks,
            (std::vector<std::vector<std::string>>{
                {"10.1.2.0", "10.1.2.9", "fd00:1:2:3::", "fd00::7", "", "", ""},
                {""},
                {""},
                {""},
                {"172.16.0.0"}}));

  EXPECT_EQ(Subnets("network-a-c1"),
            (std::vector<std::string>{"10.1.2.0/24 1 0", "fd00:1:2:3::/64 1 0"}));
  EXPECT_TRUE(Subnets("network-b-c1").empty());
  EXPECT_TRUE(Subnets("network-int-c1").empty());
  EXPECT_TRUE(Contains(Get<CorvelNWRuntime>("network-a-c1")->vm_uuids(), "vm-1-c1"));
  EXPECT_TRUE(Get<CorvelNWRuntime>("network-b-c1")->vm_uuids().empty()) << "a 'none' vNIC";
}

TEST_F(SubnetTest, CountsFollowVmsAndTheLastAddressRemovesTheSubnet) {
  CorvelVMRuntime vm1 = MakeVm("vm-1-c1", VMTYPE_POOL_SRVR,
                               {{"network-a-c1", "VM Network",
                                 {{V4, "10.1.2.3", 24}, {V4, "10.2.0.1", 16}}}});
  CorvelVMRuntime se = MakeVm("vm-se-c1", VMTYPE_SE_VM,
                              {{"network-a-c1", "VM Network", {{V4, "10.1.2.4", 24}}}});
  CorvelVMRuntime vm2 = MakeVm("vm-2-c1", VMTYPE_POOL_SRVR,
                               {{"network-a-c1", "VM Network",
                                 {{V4, "10.3.0.5", 24}, {V4, "10.0.0.5", 8}}}});
  Store({&vm1, &se, &vm2});
  EXPECT_EQ(Subnets("network-a-c1"),
            (std::vector<std::string>{"10.1.2.0/24 2 1", "10.2.0.0/16 1 0", "10.3.0.0/24 1 0",
                                      "10.0.0.0/8 1 0"}));

  Remove(se);
  EXPECT_EQ(Subnets("network-a-c1"),
            (std::vector<std::string>{"10.1.2.0/24 1 0", "10.2.0.0/16 1 0", "10.3.0.0/24 1 0",
                                      "10.0.0.0/8 1 0"}));
  Remove(vm1);
  EXPECT_EQ(Subnets("network-a-c1"),
            (std::vector<std::string>{"10.3.0.0/24 1 0", "10.0.0.0/8 1 0"}));
  std::unique_ptr<CorvelNWRuntime> pg = Get<CorvelNWRuntime>("network-a-c1");
  EXPECT_EQ(std::vector<std::string>(pg->vm_uuids().begin(), pg->vm_uuids().end()),
            std::vector<std::string>{"vm-2-c1"});
}

TEST_F(SubnetTest, DisabledVmDiscoveryLeavesOrdinaryVmsUnrecorded) {
  struct Case {
    const char* uuid;
    VM_Type type;
    bool disable_vm_disc;
    bool recorded;  // the VM is written and linked to its port group
  } cases[] = {
      {"vm-1-c1", VMTYPE_POOL_SRVR, false, true},
      {"vm-2-c1", VMTYPE_POOL_SRVR, true, false},
      {"vm-3-c1", VMTYPE_SE_VM, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.uuid);
    Put(pg_a_);
    CorvelVMRuntime vm =
        MakeVm(c.uuid, c.type, {{"network-a-c1", "VM Network", {{V4, "10.1.2.3", 24}}}});
    auto* txn = new Transaction();
    CorvelUpdateVMvNicIpInfo(txn, &vm, c.disable_vm_disc);
    ASSERT_EQ(txn->Commit(false), SYSERR_SUCCESS);

    EXPECT_EQ(Get<CorvelVMRuntime>(c.uuid) != nullptr, c.recorded);
    EXPECT_EQ(Contains(Get<CorvelNWRuntime>("network-a-c1")->vm_uuids(), c.uuid), c.recorded);
    EXPECT_EQ(Subnets("network-a-c1"), std::vector<std::string>{"10.1.2.0/24 0 0"});
  }
}

TEST_F(SubnetTest, VnicWithoutAddressesStillLinksItsVm) {
  CorvelVMRuntime vm = MakeVm("vm-1-c1", VMTYPE_POOL_SRVR, {{"network-b-c1", "Backend", {}}});
  Store({&vm});
  EXPECT_TRUE(Contains(Get<CorvelNWRuntime>("network-b-c1")->vm_uuids(), "vm-1-c1"));
}

TEST(SubnetEntryTest, AnEntryIsItsNetworkAndPrefixLength) {
  CorvelNWRuntime pg;
  EXPECT_EQ(CorvelInventoryAddIPSubnetPG(&pg, V4, 24, "10.1.2.0"), 1);
  EXPECT_EQ(CorvelInventoryAddIPSubnetPG(&pg, V4, 24, "10.1.2.0"), 0);
  EXPECT_EQ(CorvelInventoryAddIPSubnetPG(&pg, V4, 25, "10.1.2.0"), 1);
  EXPECT_EQ(CorvelInventoryAddIPSubnetPG(&pg, V6, 64, "fd00::"), 1);
  ASSERT_EQ(pg.ip_subnet_size(), 3);
  EXPECT_EQ(pg.ip_subnet(2).prefix().ip_addr().type(), V6);
}

}  // namespace
