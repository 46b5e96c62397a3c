// SE VM actions on the inventory, without the network.
#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>

#include "tools/vcmgr_sim/generator.h"
#include "tools/vcmgr_sim/sevm_actions.h"

namespace vcmgr_sim {
namespace {

class SeVmActionsTest : public ::testing::Test {
 protected:
  // Two hosts of one cluster, both on every port group: network-1 (management), dvportgroup-2,
  // dvportgroup-3; a third host in maintenance mode and on no port group.
  SimInventory Base() const {
    GenerateSizes sizes;
    sizes.hosts = 2;
    sizes.clusters = 1;
    sizes.vms = 3;
    sizes.pgs = 3;
    SimInventory data;
    std::string error;
    EXPECT_TRUE(GenerateInventory(sizes, &data, &error)) << error;
    CorvelHostRuntime* h = data.add_hosts();
    h->set_managed_object_id("host-3");
    h->set_name("esx-maint");
    h->set_maintenance_mode(true);
    return data;
  }

  static VICreateSEVMReq Request() {
    VICreateSEVMReq req;
    VISeVmOvaParams* p = req.mutable_sevm_params();
    p->set_sevm_name("se-1");
    p->set_vcenter_host("host-1-cloud-1");
    p->set_vcenter_se_mgmt_nw("Management Network");
    p->set_vcenter_ovf_path("/se.ova");
    p->set_vcenter_num_se_cores(2);
    p->set_vcenter_num_mem(4096);
    p->set_vcenter_internal("KYVSETYPE:UNIFIED_ADMIN,KYVRMCOOKIE:ck-9,KYVCLOUD_UUID:cloud-1");
    req.add_vnic_portgroups("dvportgroup-3");
    return req;
  }
};

TEST_F(SeVmActionsTest, CreateRefusesWhatVcenterWouldRefuse) {
  struct Case {
    const char* name;
    std::function<void(VICreateSEVMReq*, SimInventory*)> change;
    VCENTER_MGR_STATUS want;
  };
  const Case cases[] = {
      {"no name", [](auto* r, auto*) { r->mutable_sevm_params()->clear_sevm_name(); }, SEVM_INVALID_DATA},
      {"name taken", [](auto* r, auto*) { r->mutable_sevm_params()->set_sevm_name("app-2"); },
       SEVM_CREATE_FAIL_DUPLICATE_NAME},
      {"unknown host", [](auto* r, auto*) { r->mutable_sevm_params()->set_vcenter_host("host-9"); }, SEVM_CREATE_NO_HOST},
      {"host in maintenance", [](auto* r, auto*) { r->mutable_sevm_params()->set_vcenter_host("host-3"); },
       SEVM_CREATE_FAILURE},
      {"host powered off", [](auto*, auto* d) { d->mutable_hosts(0)->set_powerstate("poweredOff"); },
       SEVM_CREATE_FAILURE},
      {"unknown management network", [](auto* r, auto*) { r->mutable_sevm_params()->set_vcenter_se_mgmt_nw("nope"); },
       SEVM_CREATE_FAIL_NO_MGMT_NW},
      {"unknown data port group", [](auto* r, auto*) { r->add_vnic_portgroups("dvportgroup-8"); },
       SEVM_CREATE_NO_HOST_VM_NETWORK},
      {"data port group not on the host", [](auto*, auto* d) { d->mutable_hosts(0)->mutable_network_uuids()->RemoveLast(); },
       SEVM_CREATE_NO_HOST_VM_NETWORK},
      {"full management port group",
       [](auto* r, auto* d) {
         r->mutable_sevm_params()->set_vcenter_se_mgmt_nw("dvportgroup-2");
         d->mutable_port_groups(1)->set_auto_expand(false);
         d->mutable_port_groups(1)->set_num_ports(0);
       },
       SEVM_CREATE_FAIL_NO_MGMT_NW_PORTS},
      {"unknown template", [](auto* r, auto*) { r->set_vcenter_sevm_name("se-template"); }, SEVM_NO_SOURCE_CLONE},
      {"no image", [](auto* r, auto*) { r->mutable_sevm_params()->clear_vcenter_ovf_path(); }, SEVM_CREATE_NO_IMAGE},
      {"too many cores", [](auto* r, auto*) { r->mutable_sevm_params()->set_vcenter_num_se_cores(1000); },
       SEVM_CREATE_FAIL_NO_CPU},
      {"too much memory", [](auto* r, auto*) { r->mutable_sevm_params()->set_vcenter_num_mem(1ull << 30); },
       SEVM_CREATE_FAIL_NO_MEM},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimInventory data = Base();
    VICreateSEVMReq req = Request();
    c.change(&req, &data);
    Inventory inv;
    std::string error;
    ASSERT_TRUE(inv.Reset(data, &error)) << error;
    CorvelVMRuntime vm;
    const ActionResult r = CreateSeVm(inv, req, &vm);
    EXPECT_EQ(r.status, c.want) << r.text;
    EXPECT_FALSE(r.text.empty());
    EXPECT_EQ(inv.data().vms_size(), 3);
  }
}

TEST_F(SeVmActionsTest, CreatedSeVmHasItsVnicsAndIdentity) {
  Inventory inv;
  std::string error;
  ASSERT_TRUE(inv.Reset(Base(), &error)) << error;
  CorvelVMRuntime vm;
  const ActionResult r = CreateSeVm(inv, Request(), &vm);
  ASSERT_TRUE(r.ok()) << r.text;
  EXPECT_EQ(vm.managed_object_id(), "vm-4");
  EXPECT_EQ(vm.host(), "host-1");
  EXPECT_EQ(vm.powerstate(), "poweredOff");  // not asked to power on
  EXPECT_EQ(vm.vcenter_se_type(), CORVEL_SE_UNIFIED_ADMIN);
  EXPECT_EQ(vm.vcenter_rm_cookie(), "ck-9");
  EXPECT_EQ(vm.init_vnics(), 1);
  ASSERT_EQ(vm.guest_nic_size(), kSeVmVnics);
  EXPECT_EQ(vm.guest_nic(0).network_name(), "Management Network");
  EXPECT_EQ(vm.guest_nic(1).network_uuid(), "dvportgroup-3");
  EXPECT_EQ(vm.guest_nic(2).network_name(), "none");
  std::set<std::string> macs;
  for (const auto& v : inv.data().vms()) {
    for (const auto& nic : v.guest_nic()) EXPECT_TRUE(macs.insert(nic.mac_addr()).second) << nic.mac_addr();
  }
  EXPECT_EQ(inv.CreatedVms(), std::vector<std::string>{"vm-4"});

  // Deleting it frees its MOR for good: the next VM gets a new one.
  VIDeleteSEVMReq del;
  del.set_sevm_mor("vm-4");
  CorvelVMRuntime removed;
  ASSERT_TRUE(DeleteSeVm(inv, del, &removed).ok());
  EXPECT_EQ(removed.name(), "se-1");
  ASSERT_TRUE(CreateSeVm(inv, Request(), &vm).ok());
  EXPECT_EQ(vm.managed_object_id(), "vm-5");
}

TEST_F(SeVmActionsTest, VnicChangesAreAllOrNothing) {
  Inventory inv;
  std::string error;
  ASSERT_TRUE(inv.Reset(Base(), &error)) << error;
  CorvelVMRuntime vm;
  ASSERT_TRUE(CreateSeVm(inv, Request(), &vm).ok());

  VISetvNicNwReq req;
  req.set_vcenter_sevm_mor(vm.managed_object_id());
  VIvNicNetworkInfo* first = req.add_vcenter_vnic_info();
  first->set_mac_addr(vm.guest_nic(2).mac_addr());
  first->set_network_uuid("dvportgroup-2-cloud-1");
  VIvNicNetworkInfo* second = req.add_vcenter_vnic_info();
  second->set_mac_addr("00:50:56:ff:ff:ff");
  second->set_network_name("dvpg-data-2");
  CorvelVMRuntime changed;
  EXPECT_EQ(SetVnicNetworks(inv, req, &changed).status, SEVM_VNIC_MAC_ADDR_ERROR);
  EXPECT_EQ(inv.FindVm(vm.managed_object_id())->guest_nic(2).network_name(), "none");

  second->set_mac_addr(vm.guest_nic(1).mac_addr());
  second->set_connected(false);
  ASSERT_TRUE(SetVnicNetworks(inv, req, &changed).ok());
  EXPECT_EQ(changed.guest_nic(2).network_uuid(), "dvportgroup-2");
  EXPECT_EQ(changed.guest_nic(1).network_name(), "none");

  first->set_network_uuid("dvportgroup-99-cloud-1");
  EXPECT_EQ(SetVnicNetworks(inv, req, &changed).status, SEVM_VNIC_FAILURE);
  req.set_vcenter_sevm_mor("vm-99");
  EXPECT_EQ(SetVnicNetworks(inv, req, &changed).status, SEVM_VNIC_NO_VM);
}

TEST_F(SeVmActionsTest, ManagementAddress) {
  Inventory inv;
  std::string error;
  ASSERT_TRUE(inv.Reset(Base(), &error)) << error;
  CorvelVMRuntime vm;
  ASSERT_TRUE(CreateSeVm(inv, Request(), &vm).ok());
  VISetMgmtIpSEVMReq req;
  req.set_sevm_mor(vm.managed_object_id());
  req.add_vnic_macs(vm.guest_nic(0).mac_addr());
  auto* ip = req.mutable_ip_params()->mutable_mgmt_ip();
  ip->mutable_ip_addr()->set_addr("10.0.0.300");
  ip->set_mask(24);
  CorvelVMRuntime changed;
  EXPECT_EQ(SetMgmtIp(inv, req, true, &changed).status, SEVM_INVALID_DATA);
  ip->mutable_ip_addr()->set_addr("10.0.1.30");
  req.add_vnic_macs("00:11:22:33:44:55");
  EXPECT_EQ(SetMgmtIp(inv, req, true, &changed).status, SEVM_VNIC_MAC_ADDR_ERROR);
  EXPECT_TRUE(SetMgmtIp(inv, req, false, &changed).ok());  // a modification names no vNICs
  ASSERT_EQ(changed.guest_nic(0).guest_ip_size(), 1);
  EXPECT_EQ(changed.guest_nic(0).guest_ip(0).ip_subnet(), "10.0.1.0");
  req.set_sevm_mor("vm-99");
  EXPECT_EQ(SetMgmtIp(inv, req, false, &changed).status, SEVM_SET_MGMT_IP_FAILED);
}

}  // namespace
}  // namespace vcmgr_sim
