// The generator: sizes, consistency and its sizes.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <unordered_set>

#include "tools/vcmgr_sim/cloud_view.h"
#include "tools/vcmgr_sim/generator.h"
#include "tools/vcmgr_sim/inventory.h"
#include "tools/vcmgr_sim/inventory_validator.h"

namespace vcmgr_sim {
namespace {

TEST(GeneratorTest, CountsAndConsistency) {
  GenerateSizes sizes;
  std::string error;
  ASSERT_TRUE(ParseGenerateSizes("hosts=70,vms=900,pgs=40,nics=3,seed=9", &sizes, &error)) << error;
  EXPECT_EQ(sizes.clusters, 3);  // one per 32 hosts
  SimInventory data;
  ASSERT_TRUE(GenerateInventory(sizes, &data, &error)) << error;
  Inventory inv;
  ASSERT_TRUE(inv.Reset(data, &error)) << error;
  EXPECT_EQ(data.hosts_size(), 70);
  EXPECT_EQ(data.clusters_size(), 3);
  EXPECT_EQ(data.port_groups_size(), 40);
  EXPECT_EQ(data.vms_size(), 900);
  EXPECT_EQ(inv.vnic_count(), 2700u);
  EXPECT_EQ(data.port_groups(0).name(), "Management Network");

  // Every reference resolves, every vNIC is on a port group of its VM's host and holds an address
  // of that port group's subnet, and the uuids of a cloud are unique.
  const CloudView view(inv, "cloud-1");
  std::unordered_set<std::string> uuids;
  for (const auto& c : data.clusters()) EXPECT_TRUE(uuids.insert(view.Uuid(c.managed_object_id())).second);
  for (const auto& h : data.hosts()) {
    EXPECT_NE(inv.FindCluster(h.cluster_uuid()), nullptr) << h.managed_object_id();
    EXPECT_TRUE(uuids.insert(view.Uuid(h.managed_object_id())).second);
  }
  for (const auto& pg : data.port_groups()) EXPECT_TRUE(uuids.insert(view.Uuid(pg.managed_object_id())).second);
  std::set<std::string> addresses;
  for (const auto& vm : data.vms()) {
    EXPECT_TRUE(uuids.insert(view.Uuid(vm.managed_object_id())).second);
    const CorvelHostRuntime* host = inv.FindHost(vm.host());
    ASSERT_NE(host, nullptr) << vm.managed_object_id();
    ASSERT_EQ(vm.guest_nic_size(), 3);
    for (const auto& nic : vm.guest_nic()) {
      const auto& nets = host->network_uuids();
      EXPECT_NE(std::find(nets.begin(), nets.end(), nic.network_uuid()), nets.end()) << vm.managed_object_id();
      const auto& subnet = inv.FindPortGroup(nic.network_uuid())->ip_subnet(0).prefix();
      uint32_t addr = 0, net = 0;
      ASSERT_TRUE(ParseIpv4(nic.guest_ip(0).prefix().ip_addr().addr(), &addr));
      ASSERT_TRUE(ParseIpv4(subnet.ip_addr().addr(), &net));
      EXPECT_EQ(NetworkOf(addr, subnet.mask()), net);
      EXPECT_TRUE(addresses.insert(nic.guest_ip(0).prefix().ip_addr().addr()).second);
    }
  }
}

TEST(GeneratorTest, SameSeedSameInventory) {
  GenerateSizes sizes;
  sizes.hosts = 10;
  sizes.vms = 50;
  SimInventory a, b, c;
  std::string error;
  ASSERT_TRUE(GenerateInventory(sizes, &a, &error));
  ASSERT_TRUE(GenerateInventory(sizes, &b, &error));
  sizes.seed = 2;
  ASSERT_TRUE(GenerateInventory(sizes, &c, &error));
  EXPECT_EQ(a.SerializeAsString(), b.SerializeAsString());
  EXPECT_NE(a.SerializeAsString(), c.SerializeAsString());
}

TEST(GeneratorTest, LargeCrowdsGetWiderSubnets) {
  GenerateSizes sizes;
  sizes.hosts = 2;
  sizes.vms = 700;
  sizes.pgs = 1;  // every vNIC on the management network
  SimInventory data;
  std::string error;
  ASSERT_TRUE(GenerateInventory(sizes, &data, &error)) << error;
  EXPECT_EQ(data.port_groups(0).ip_subnet(0).prefix().mask(), 22);
  Inventory inv;
  EXPECT_TRUE(inv.Reset(data, &error)) << error;
}

TEST(GeneratorTest, SizeErrorsNameTheKey) {
  struct Case {
    const char* text;
    const char* want;
  };
  const Case cases[] = {
      {"hosts=4,racks=2", "--generate: unknown key 'racks'"},
      {"hosts=four", "--generate: hosts needs a whole number"},
      {"hosts", "--generate: hosts needs a whole number"},
      {"nics=11", "--generate: nics=11 is out of range 0..10"},
      {"hosts=0,vms=5", "--generate: vms=5 needs hosts"},
      {"pgs=0,nics=1", "--generate: nics=1 needs pgs"},
      {"hosts=2,clusters=3", "--generate: clusters=3 is more than hosts=2"},
      {"hosts=-1", "--generate: hosts needs a whole number"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    GenerateSizes sizes;
    std::string error;
    EXPECT_FALSE(ParseGenerateSizes(c.text, &sizes, &error));
    EXPECT_EQ(error.compare(0, std::string(c.want).size(), c.want), 0) << error;
  }
  GenerateSizes sizes;
  std::string error;
  ASSERT_TRUE(ParseGenerateSizes("seed=5,,pgs=6", &sizes, &error)) << error;
  EXPECT_EQ(sizes.seed, 5u);
  EXPECT_EQ(sizes.pgs, 6);
  EXPECT_EQ(sizes.hosts, 4);
}

}  // namespace
}  // namespace vcmgr_sim
