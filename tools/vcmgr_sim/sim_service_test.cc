// The simulator's answers, asked over a real loopback connection.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "tools/vcmgr_sim/sim_test_fixture.h"

namespace vcmgr_sim {
namespace {

using testing::kCloud;
using testing::kPassword;
using testing::kUrl;
using testing::kUser;

class SimServiceTest : public testing::SimFixture {
 protected:
  void SetUp() override { Boot(); }

  VIValidateVcenterReq ValidateRequest(const std::string& password = kPassword) const {
    VIValidateVcenterReq req;
    FillAdmin(req.mutable_admin(), password);
    req.set_cloud_uuid(kCloud);
    req.set_datacenter("dc-sim");
    req.set_controller_vm_mor("vm-1");
    return req;
  }

  VICreateSEVMReq CreateRequest(const std::string& name) const {
    VICreateSEVMReq req;
    FillAdmin(req.mutable_admin());
    req.set_cloud_uuid(kCloud);
    req.set_datacenter(std::string("datacenter-2-") + kCloud);
    req.set_poweron_sevm(true);
    VISeVmOvaParams* p = req.mutable_sevm_params();
    p->set_sevm_name(name);
    p->set_vcenter_host("host-1");
    p->set_vcenter_se_mgmt_nw("Management Network");
    p->set_vcenter_ovf_path("/opt/kyv/se.ova");
    p->set_vcenter_num_se_cores(2);
    p->set_vcenter_num_mem(2048);
    p->set_vcenter_internal("KYVSETYPE:NETWORK_ADMIN,KYVRMCOOKIE:c1,KYVCLOUD_UUID:cloud-7f3a,KYVBACKWARDCOMP:True");
    return req;
  }

  void InjectFault(FAULT_API_TYPE api, int count, VCENTER_MGR_STATUS status = SEVM_CREATE_FAILURE) {
    VIFaultInjection fault;
    fault.set_api(api);
    fault.set_count(count);
    fault.set_status(status);
    Send(&vCenterMgrService_Stub::InjectFault, fault);
  }
};

TEST_F(SimServiceTest, LoginChecksTheAccount) {
  struct Case {
    const char* name;
    std::string url;
    std::string password;
    std::string datacenter;
    std::string cloud;
    CORVEL_STATUS want;
  };
  const Case cases[] = {
      {"right", kUrl, kPassword, "dc-sim", kCloud, CORVEL_SUCCESS},
      {"scheme and case do not matter", "https://VCENTER.sim.local/sdk", kPassword, "dc-sim", kCloud, CORVEL_SUCCESS},
      {"wrong password", kUrl, "guess", "dc-sim", kCloud, CORVEL_BAD_CREDENTIALS},
      {"other vCenter", "vc2.sim.local", kPassword, "dc-sim", kCloud, CORVEL_CONN_FAILURE},
      {"other datacenter", kUrl, kPassword, "dc-other", kCloud, CORVEL_DC_REQUIRED},
      {"no cloud", kUrl, kPassword, "dc-sim", "", CORVEL_FAILURE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    VIValidateVcenterReq req = ValidateRequest(c.password);
    req.mutable_admin()->set_vcenter_url(c.url);
    req.set_datacenter(c.datacenter);
    req.set_cloud_uuid(c.cloud);
    VIValidateVcenterRsp rsp;
    ASSERT_TRUE(Call(&vCenterMgrService_Stub::ValidateVcenter, req, &rsp));
    EXPECT_EQ(rsp.status(), c.want) << rsp.response_string();
    EXPECT_EQ(rsp.has_discovery_dc_uuid(), c.want == CORVEL_SUCCESS);
  }

  VIValidateVcenterRsp ok;
  ASSERT_TRUE(Call(&vCenterMgrService_Stub::ValidateVcenter, ValidateRequest(), &ok));
  EXPECT_EQ(ok.discovery_dc_uuid(), "datacenter-2-cloud-7f3a");
  EXPECT_EQ(ok.vcenter_name(), "vcmgr-sim");
  EXPECT_FALSE(ok.api_version().empty());
  EXPECT_EQ(ok.ctrl_name(), "app-1");  // the VM whose MOR is the controller's
  ASSERT_EQ(ok.ctrl_vnics_size(), 1);
  EXPECT_EQ(ok.ctrl_vnics(0).vnic_ip_size(), 1);

  VcenterLogin login;
  login.set_vcenter_url(kUrl);
  login.set_username(kUser);
  login.set_password("guess");
  login.set_start_ts(42);
  VcenterLoginRsp denied;
  ASSERT_TRUE(Call(&vCenterMgrService_Stub::VerifyLogin, login, &denied));
  EXPECT_EQ(denied.status(), CORVEL_BAD_CREDENTIALS);
  EXPECT_EQ(denied.datacenters_size(), 0);
  EXPECT_EQ(denied.login().username(), kUser);  // echoed for the caller's events
  login.set_password(kPassword);
  login.set_cloud_uuid(kCloud);
  VcenterLoginRsp granted;
  ASSERT_TRUE(Call(&vCenterMgrService_Stub::VerifyLogin, login, &granted));
  EXPECT_EQ(granted.status(), CORVEL_SUCCESS);
  EXPECT_EQ(granted.start_ts(), 42u);
  ASSERT_EQ(granted.datacenters_size(), 1);
  EXPECT_EQ(granted.datacenters(0).uuid(), "datacenter-2-cloud-7f3a");
}

TEST_F(SimServiceTest, LoginFaultsFireTheirCount) {
  InjectFault(INVALID_LOGIN, 1);
  InjectFault(VERSION_NULL_ERR, 1);
  const CORVEL_STATUS want[] = {CORVEL_BAD_CREDENTIALS, CORVEL_VCENTER_VERSION, CORVEL_SUCCESS};
  for (CORVEL_STATUS w : want) {
    VIValidateVcenterRsp rsp;
    ASSERT_TRUE(Call(&vCenterMgrService_Stub::ValidateVcenter, ValidateRequest(), &rsp));
    EXPECT_EQ(rsp.status(), w) << rsp.response_string();
  }
}

TEST_F(SimServiceTest, DiscoveryAnswersAreOneConsistentDatacenter) {
  const std::string dc_uuid = std::string("datacenter-2-") + kCloud;
  VIGetDCDetailsReq dreq;
  FillAdmin(dreq.mutable_admin());
  dreq.set_cloud_uuid(kCloud);
  dreq.set_datacenter(dc_uuid);
  VIGetDCDetailsRsp dc;
  ASSERT_TRUE(Call(&vCenterMgrService_Stub::GetDCDetails, dreq, &dc));
  ASSERT_EQ(dc.status(), CORVEL_SUCCESS);
  EXPECT_EQ(dc.dc_info().uuid(), dc_uuid);
  EXPECT_EQ(dc.dc_info().nw_uuids_size(), 4);

  VIGetHostReq hreq;
  FillAdmin(hreq.mutable_admin());
  hreq.set_cloud_uuid(kCloud);
  hreq.set_datacenter(dc_uuid);
  VIGetHostRsp hosts;
  ASSERT_TRUE(Call(&vCenterMgrService_Stub::GetHosts, hreq, &hosts));
  VIGetClusterReq creq;
  *creq.mutable_admin() = hreq.admin();
  creq.set_cloud_uuid(kCloud);
  creq.set_datacenter(dc_uuid);
  VIGetClusterRsp clusters;
  ASSERT_TRUE(Call(&vCenterMgrService_Stub::GetClusters, creq, &clusters));
  VIGetPGReq preq;
  *preq.mutable_admin() = hreq.admin();
  preq.set_cloud_uuid(kCloud);
  preq.set_datacenter(dc_uuid);
  VIGetPGRsp pgs;
  ASSERT_TRUE(Call(&vCenterMgrService_Stub::GetPortGroups, preq, &pgs));
  ASSERT_EQ(hosts.status(), CORVEL_SUCCESS);
  ASSERT_EQ(clusters.status(), CORVEL_SUCCESS);
  ASSERT_EQ(pgs.status(), CORVEL_SUCCESS);

  // Every reference names an object of the same answers, in the request's cloud.
  std::set<std::string> cluster_ids, pg_ids, host_ids;
  for (const auto& c : clusters.cluster_list()) cluster_ids.insert(c.uuid());
  for (const auto& p : pgs.pg_list()) pg_ids.insert(p.uuid());
  for (const auto& h : hosts.host_list()) {
    host_ids.insert(h.uuid());
    EXPECT_EQ(h.uuid(), h.managed_object_id() + "-" + kCloud);
    EXPECT_TRUE(cluster_ids.count(h.cluster_uuid())) << h.cluster_uuid();
    for (const auto& n : h.network_uuids()) EXPECT_TRUE(pg_ids.count(n)) << n;
  }
  for (const auto& c : clusters.cluster_list()) {
    EXPECT_EQ(c.datacenter_uuid(), dc_uuid);
    for (const auto& h : c.host_uuids()) EXPECT_TRUE(host_ids.count(h)) << h;
  }
  EXPECT_EQ(host_ids.size(), 3u);
  EXPECT_EQ(std::set<std::string>(dc.dc_info().nw_uuids().begin(), dc.dc_info().nw_uuids().end()), pg_ids);

  hreq.mutable_admin()->set_password("guess");
  VIGetHostRsp refused;
  ASSERT_TRUE(Call(&vCenterMgrService_Stub::GetHosts, hreq, &refused));
  EXPECT_EQ(refused.status(), CORVEL_BAD_CREDENTIALS);
  EXPECT_EQ(refused.host_list_size(), 0);
}

TEST_F(SimServiceTest, DiscoveryFaults) {
  const std::string dc_uuid = std::string("datacenter-2-") + kCloud;
  VIGetPGReq preq;
  FillAdmin(preq.mutable_admin());
  preq.set_cloud_uuid(kCloud);
  preq.set_datacenter(dc_uuid);

  InjectFault(VCENTER_NO_OBJECTS, 1);
  VIGetPGRsp none;
  ASSERT_TRUE(Call(&vCenterMgrService_Stub::GetPortGroups, preq, &none));
  EXPECT_EQ(none.status(), CORVEL_SUCCESS);
  EXPECT_EQ(none.pg_list_size(), 0);

  InjectFault(DISC_PGNAME_ERR, 1);
  VIGetPGRsp clash;
  ASSERT_TRUE(Call(&vCenterMgrService_Stub::GetPortGroups, preq, &clash));
  ASSERT_EQ(clash.pg_list_size(), 5);
  const auto& extra = clash.pg_list(4);
  EXPECT_FALSE(extra.dvs());
  EXPECT_EQ(extra.name(), clash.pg_list(1).name());  // the first distributed port group's name
  EXPECT_TRUE(clash.pg_list(1).dvs());

  InjectFault(DISC_DC_ERR, 1);
  VIGetDCDetailsReq dreq;
  *dreq.mutable_admin() = preq.admin();
  dreq.set_cloud_uuid(kCloud);
  dreq.set_datacenter(dc_uuid);
  VIGetDCDetailsRsp failed, ok;
  ASSERT_TRUE(Call(&vCenterMgrService_Stub::GetDCDetails, dreq, &failed));
  ASSERT_TRUE(Call(&vCenterMgrService_Stub::GetDCDetails, dreq, &ok));
  EXPECT_EQ(failed.status(), CORVEL_FAILURE);
  EXPECT_EQ(ok.status(), CORVEL_SUCCESS);
}

TEST_F(SimServiceTest, CreateSeFaultFailsCountCreationsThenNot) {
  InjectFault(CREATE_SE, 2, SEVM_CREATE_FAIL_NO_LEASE);
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    VICreateSEVMRsp rsp;
    ASSERT_TRUE(Call(&vCenterMgrService_Stub::CreateSEVM, CreateRequest("se-" + std::to_string(i)), &rsp));
    if (i < 2) {
      EXPECT_EQ(rsp.status(), CORVEL_SE_CREATE_FAILURE);
      EXPECT_EQ(rsp.details(), SEVM_CREATE_FAIL_NO_LEASE);
      EXPECT_EQ(sim_->inventory().FindVmByName("se-" + std::to_string(i)), nullptr);
    } else {
      EXPECT_EQ(rsp.status(), CORVEL_SUCCESS) << rsp.status_string();
      EXPECT_EQ(rsp.details(), SEVM_SUCCESS);
      EXPECT_NE(sim_->inventory().FindVmByName("se-2"), nullptr);
    }
  }
  SEVMCreateProgress progress;
  ASSERT_TRUE(Call(&vCenterMgrService_Stub::GetSEVMCreateProgress, VIAdminCredentials(), &progress));
  ASSERT_EQ(progress.sevms_size(), 3);
  EXPECT_EQ(progress.sevms(0).progress(), 0);
  EXPECT_EQ(progress.sevms(2).progress(), 100);

  // Clearing disarms everything.
  InjectFault(CREATE_SE, 5);
  InjectFault(CLEAR_ALL_FAULTS, 0);
  VICreateSEVMRsp after_clear;
  ASSERT_TRUE(Call(&vCenterMgrService_Stub::CreateSEVM, CreateRequest("se-9"), &after_clear));
  EXPECT_EQ(after_clear.status(), CORVEL_SUCCESS);
}

TEST_F(SimServiceTest, SeVmLifecycleAnswers) {
  VICreateSEVMRsp created;
  ASSERT_TRUE(Call(&vCenterMgrService_Stub::CreateSEVM, CreateRequest("se-a"), &created));
  ASSERT_EQ(created.status(), CORVEL_SUCCESS) << created.status_string();
  EXPECT_EQ(created.cloud_uuid(), kCloud);
  EXPECT_EQ(created.vcenter_url(), kUrl);
  const CorvelVMRuntime* vm = sim_->inventory().FindVmByName("se-a");
  ASSERT_NE(vm, nullptr);
  EXPECT_EQ(created.sevm_uuid(), vm->guest_nic(0).mac_addr());
  EXPECT_EQ(vm->vcenter_vm_type(), VMTYPE_SE_VM);
  EXPECT_EQ(vm->vcenter_rm_cookie(), "c1");
  const std::string mor = vm->managed_object_id();

  VICreateSEVMRsp duplicate;
  ASSERT_TRUE(Call(&vCenterMgrService_Stub::CreateSEVM, CreateRequest("se-a"), &duplicate));
  EXPECT_EQ(duplicate.details(), SEVM_CREATE_FAIL_DUPLICATE_NAME);

  VISetMgmtIpSEVMReq ip;
  FillAdmin(ip.mutable_admin());
  ip.set_sevm_uuid("se-x");
  ip.set_sevm_mor(mor);
  ip.set_host_uuid(std::string("host-1-") + kCloud);
  ip.mutable_ip_params()->mutable_mgmt_ip()->mutable_ip_addr()->set_addr("10.0.0.77");
  ip.mutable_ip_params()->mutable_mgmt_ip()->set_mask(24);
  ip.add_vnic_macs(vm->guest_nic(0).mac_addr());
  VISetMgmtIpSEVMRsp ip_rsp;
  ASSERT_TRUE(Call(&vCenterMgrService_Stub::SetMgmtIpSEVM, ip, &ip_rsp));
  EXPECT_EQ(ip_rsp.status(), SEVM_SUCCESS) << ip_rsp.status_string();
  EXPECT_EQ(ip_rsp.sevm_uuid(), "se-x");
  EXPECT_EQ(ip_rsp.host_uuid(), std::string("host-1-") + kCloud);
  EXPECT_EQ(sim_->inventory().FindVm(mor)->guest_nic(0).guest_ip(0).ip_subnet(), "10.0.0.0");

  VIVMPowerChangeReq power;
  FillAdmin(power.mutable_admin());
  power.set_vm_mor(mor);
  power.set_power_change_action("powerOff");
  VIVMPowerChangeRsp power_rsp;
  ASSERT_TRUE(Call(&vCenterMgrService_Stub::ChangeVMPowerState, power, &power_rsp));
  EXPECT_EQ(power_rsp.status(), CORVEL_SUCCESS);
  EXPECT_EQ(sim_->inventory().FindVm(mor)->powerstate(), "poweredOff");
  power.set_power_change_action("explode");
  ASSERT_TRUE(Call(&vCenterMgrService_Stub::ChangeVMPowerState, power, &power_rsp));
  EXPECT_EQ(power_rsp.status(), CORVEL_FAILURE);

  VIDeleteSEVMReq del;
  FillAdmin(del.mutable_admin());
  del.set_sevm_mor("vm-1");  // an ordinary VM is never deleted
  del.set_sevm_name("app-1");
  VIDeleteSEVMRsp refused;
  ASSERT_TRUE(Call(&vCenterMgrService_Stub::DeleteSEVM, del, &refused));
  EXPECT_EQ(refused.status(), SEVM_DELETE_FAILURE);
  del.set_sevm_mor(mor);
  del.set_sevm_name("se-a");
  VIDeleteSEVMRsp deleted;
  ASSERT_TRUE(Call(&vCenterMgrService_Stub::DeleteSEVM, del, &deleted));
  EXPECT_EQ(deleted.status(), SEVM_SUCCESS);
  EXPECT_EQ(sim_->inventory().FindVm(mor), nullptr);
}

TEST_F(SimServiceTest, CapacityAndDiagnostics) {
  QueryHostsCapabilityReq q;
  q.mutable_admin()->set_name(kUser);
  q.mutable_admin()->set_password(kPassword);
  q.set_se_mgmt_nw(std::string("network-1-") + kCloud);
  q.add_host_list()->set_uuid(std::string("host-2-") + kCloud);
  q.add_host_list()->set_uuid(std::string("host-99-") + kCloud);  // unknown: left out
  VcenterHostsCapabilityRsp cap;
  ASSERT_TRUE(Call(&vCenterMgrService_Stub::QueryHostsCapability, q, &cap));
  ASSERT_EQ(cap.status(), 0);
  ASSERT_EQ(cap.host_list_size(), 1);
  EXPECT_EQ(cap.host_list(0).uuid(), std::string("host-2-") + kCloud);
  EXPECT_TRUE(cap.host_list(0).se_mgmt_ok());
  EXPECT_TRUE(cap.host_list(0).disk_ok());
  EXPECT_GT(cap.host_list(0).num_se_disk(), 0);

  VIPerformanceMonitorVM add;
  add.set_cloud_uuid(kCloud);
  auto* ivm = add.add_interested_vms();
  ivm->set_vm_mor("vm-3");
  ivm->set_vm_uuid(std::string("vm-3-") + kCloud);
  add.add_interested_hosts("host-2");
  Send(&vCenterMgrService_Stub::AddPerfMonitorVMs, add);
  InterestedHosts hosts;
  ASSERT_TRUE(Call(&vCenterMgrService_Stub::GetInterestedHosts, VIAdminCredentials(), &hosts));
  ASSERT_EQ(hosts.hosts_size(), 1);
  EXPECT_EQ(hosts.hosts(0).host_uuid(), std::string("host-2-") + kCloud);
  VIPerformanceMonitorVM remove = add;
  remove.set_interested_hosts(0, std::string("host-2-") + kCloud);  // removals name hosts by uuid
  Send(&vCenterMgrService_Stub::RemovePerfMonitorVMs, remove);
  InterestedVMs vms;
  ASSERT_TRUE(Call(&vCenterMgrService_Stub::GetInterestedVMs, VIAdminCredentials(), &vms));
  EXPECT_EQ(vms.vms_size(), 0);
  EXPECT_TRUE(sim_->service().perf_monitors().at(kCloud).hosts.empty());

  VIRetrieveEntityCounterReq counters_req;
  counters_req.set_mor("vm-3");
  EntityCounters counters, again;
  ASSERT_TRUE(Call(&vCenterMgrService_Stub::GetEntityCounters, counters_req, &counters));
  ASSERT_TRUE(Call(&vCenterMgrService_Stub::GetEntityCounters, counters_req, &again));
  EXPECT_GT(counters.counters_size(), 0);
  EXPECT_EQ(counters.SerializeAsString(), again.SerializeAsString());
}

}  // namespace
}  // namespace vcmgr_sim
