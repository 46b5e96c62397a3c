// Inventory files: what a good one yields and how a bad one is reported.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "tools/vcmgr_sim/inventory.h"
#include "tools/vcmgr_sim/inventory_json.h"

namespace vcmgr_sim {
namespace {

// A small valid inventory; the arguments add text inside the second host, after the VM's first
// vNIC and inside the second port group.
std::string InventoryText(const std::string& host_extra = "", const std::string& vm_nic = "",
                      const std::string& pg_extra = "") {
  return R"({
    "vcenter": {"username": "admin", "password": "pw"},
    "datacenter": {"name": "dc", "managed_object_id": "datacenter-2"},
    "clusters": [{"managed_object_id": "domain-c1", "name": "c1"}],
    "port_groups": [
      {"managed_object_id": "network-1", "name": "mgmt",
       "ip_subnet": [{"prefix": {"ip_addr": {"addr": "10.1.0.0"}, "mask": 16}}]},
      {"managed_object_id": "dvportgroup-2", "name": "web" )" + pg_extra + R"(}],
    "hosts": [
      {"managed_object_id": "host-1", "name": "esx-1", "cluster_uuid": "domain-c1",
       "network_uuids": ["network-1"]},
      {"managed_object_id": "host-2", "name": "esx-2" )" + host_extra + R"(}],
    "vms": [{"managed_object_id": "vm-1", "name": "a", "host": "host-1", "vcenter_vm_type": "VMTYPE_POOL_SRVR",
             "guest_nic": [{"mac_addr": "00:50:56:AA:00:01", "network_uuid": "network-1",
                            "guest_ip": [{"prefix": {"ip_addr": {"addr": "10.1.2.3"}, "mask": 16}}]} )" +
         vm_nic + R"(]}]
  })";
}

TEST(InventoryJsonTest, GoodFileIsCompletedWithDerivedFields) {
  SimInventory inv;
  std::string error;
  ASSERT_TRUE(ParseInventoryJson(InventoryText(), &inv, &error)) << error;
  EXPECT_EQ(inv.hosts(0).cluster_name(), "c1");
  EXPECT_EQ(inv.hosts(1).powerstate(), "poweredOn");
  EXPECT_GT(inv.hosts(1).num_cpu_threads(), 0);
  EXPECT_FALSE(inv.port_groups(0).dvs());
  EXPECT_TRUE(inv.port_groups(1).dvs());
  EXPECT_EQ(inv.clusters(0).datacenter_managed_object_id(), "datacenter-2");
  const auto& nic = inv.vms(0).guest_nic(0);
  EXPECT_EQ(nic.mac_addr(), "00:50:56:aa:00:01");
  EXPECT_EQ(nic.network_name(), "mgmt");
  EXPECT_EQ(nic.label(), "Network adapter 1");
  EXPECT_EQ(nic.guest_ip(0).ip_subnet(), "10.1.0.0");

  Inventory model;
  ASSERT_TRUE(model.Reset(inv, &error)) << error;
  EXPECT_EQ(model.HostsOfCluster("domain-c1"), std::vector<std::string>{"host-1"});
  EXPECT_EQ(model.HostsOfPortGroup("network-1"), std::vector<std::string>{"host-1"});
  EXPECT_EQ(model.FindVm("vm-1-cloud-9")->name(), "a");  // uuids resolve to their MOR
}

TEST(InventoryJsonTest, BadFilesNameTheField) {
  struct Case {
    const char* name;
    std::string json;
    std::string want;  // the error
  };
  const Case cases[] = {
      {"syntax", "{\"vcenter\": ", "JSON: "},
      {"unknown field", InventoryText(R"(, "colour": "red")"), "hosts[1].colour: unknown field"},
      {"wrong type", InventoryText(R"(, "cpu_hz": "fast")"), "hosts[1].cpu_hz: invalid value"},
      {"bad enum", InventoryText("", "", R"(, "type": "CLOUD_NOPE")"), "port_groups[1].type: invalid value"},
      {"dangling cluster", InventoryText(R"(, "cluster_uuid": "domain-c9")"),
       "hosts[1].cluster_uuid: 'domain-c9' names no cluster"},
      {"dangling network", InventoryText(R"(, "network_uuids": ["dvportgroup-7"])"),
       "hosts[1].network_uuids[0]: 'dvportgroup-7' names no port group"},
      {"derived list", InventoryText(R"(, "vm_uuids": ["vm-1"])"), "hosts[1].vm_uuids: is derived"},
      {"connector-owned", InventoryText(R"(, "quarantined": true)"), "hosts[1].quarantined: is derived"},
      {"bad power state", InventoryText(R"(, "powerstate": "sleepy")"), "hosts[1].powerstate: 'sleepy' is not one of"},
      {"MOR kind", InventoryText("", "", R"(, "dvs": false)"), "port_groups[1].dvs: contradicts the MOR kind"},
      {"duplicate MOR", InventoryText(R"(, "managed_object_id": "host-1")"),
       "hosts[1].managed_object_id: 'host-1' is also used by hosts[0].managed_object_id"},
      {"duplicate MAC", InventoryText("", R"(, {"mac_addr": "00:50:56:aa:00:01"})"),
       "vms[0].guest_nic[1].mac_addr: '00:50:56:aa:00:01' is also used by vms[0].guest_nic[0]"},
      {"bad MAC", InventoryText("", R"(, {"mac_addr": "00:50:56"})"), "vms[0].guest_nic[1].mac_addr: '00:50:56' is not"},
      {"address outside the port group", InventoryText("", R"(, {"mac_addr": "00:50:56:aa:00:02",
          "network_uuid": "network-1", "guest_ip": [{"prefix": {"ip_addr": {"addr": "10.9.0.1"}, "mask": 24}}]})"),
       "vms[0].guest_nic[1].guest_ip[0].prefix.ip_addr.addr: 10.9.0.1 is outside the subnets of port group network-1"},
      {"missing mask", InventoryText("", R"(, {"mac_addr": "00:50:56:aa:00:02",
          "guest_ip": [{"prefix": {"ip_addr": {"addr": "10.9.0.1"}}}]})"),
       "vms[0].guest_nic[1].guest_ip[0].prefix.mask: required"},
      {"no account", R"({"datacenter": {"name": "dc", "managed_object_id": "datacenter-2"}})", "vcenter: required"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimInventory inv;
    std::string error;
    EXPECT_FALSE(ParseInventoryJson(c.json, &inv, &error));
    EXPECT_EQ(error.compare(0, c.want.size(), c.want), 0) << error;
  }
}

TEST(InventoryJsonTest, FilesAndTheShippedExample) {
  SimInventory inv;
  std::string error;
  EXPECT_FALSE(LoadInventoryFile("/nonexistent/inventory.json", &inv, &error));
  EXPECT_EQ(error, "/nonexistent/inventory.json: not a readable file");

  ASSERT_TRUE(LoadInventoryFile(VCMGR_SIM_EXAMPLES "/inventory.json", &inv, &error)) << error;
  EXPECT_EQ(inv.clusters_size(), 2);
  EXPECT_EQ(inv.hosts_size(), 4);
  EXPECT_EQ(inv.port_groups_size(), 4);

  // What is written reads back the same.
  std::string json;
  ASSERT_TRUE(InventoryToJson(inv, &json, &error)) << error;
  const std::string path = ::testing::TempDir() + "/vcmgr_sim_roundtrip.json";
  std::ofstream(path) << json;
  SimInventory again;
  ASSERT_TRUE(LoadInventoryFile(path, &again, &error)) << error;
  EXPECT_EQ(again.SerializeAsString(), inv.SerializeAsString());
  std::remove(path.c_str());
}

}  // namespace
}  // namespace vcmgr_sim
