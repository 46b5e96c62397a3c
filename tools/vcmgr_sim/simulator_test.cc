// Notifications and test knobs of the whole simulator, over loopback with simulated time.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "tools/vcmgr_sim/sim_test_fixture.h"

namespace vcmgr_sim {
namespace {

using testing::kCloud;
using testing::kUrl;

const std::string kDcUuid = std::string("datacenter-2-") + kCloud;

// The flags of each message of a sequence: the first opens a resynchronisation, all but the
// last announce more.
template <typename Msg>
void ExpectSequence(const std::vector<Msg>& msgs, size_t from, size_t count, bool resync) {
  ASSERT_GE(msgs.size(), from + count);
  for (size_t i = 0; i < count; ++i) {
    SCOPED_TRACE("message " + std::to_string(i));
    const Msg& m = msgs[from + i];
    EXPECT_EQ(m.resync(), resync && i == 0);
    EXPECT_EQ(m.more(), i + 1 < count);
    EXPECT_EQ(m.vcenter_url(), kUrl);
    EXPECT_EQ(m.dc_uuid(), kDcUuid);
  }
}

class SimulatorTest : public testing::SimFixture {
 protected:
  VICreateSEVMReq CreateRequest(const std::string& name) const {
    VICreateSEVMReq req;
    FillAdmin(req.mutable_admin());
    req.set_cloud_uuid(kCloud);
    req.set_datacenter(kDcUuid);
    VISeVmOvaParams* p = req.mutable_sevm_params();
    p->set_sevm_name(name);
    p->set_vcenter_host("host-2");
    p->set_vcenter_se_mgmt_nw("Management Network");
    p->set_vcenter_ovf_path("/opt/kyv/se.ova");
    return req;
  }

  VIDeleteSEVMReq DeleteRequest(const std::string& mor) const {
    VIDeleteSEVMReq req;
    FillAdmin(req.mutable_admin());
    req.set_cloud_uuid(kCloud);
    req.set_sevm_mor(mor);
    return req;
  }

  void InjectFault(FAULT_API_TYPE api, int count) {
    VIFaultInjection fault;
    fault.set_api(api);
    fault.set_count(count);
    Send(&vCenterMgrService_Stub::InjectFault, fault);
  }

  // Every VM entry received so far, in order.
  std::vector<VIVMNotif> VmEntries() const {
    std::vector<VIVMNotif> out;
    for (const auto& m : receiver_.vm) out.insert(out.end(), m.vm_notify_list().begin(), m.vm_notify_list().end());
    return out;
  }
};

TEST_F(SimulatorTest, ResyncThenSeVmCreateAndDeleteAreNotified) {
  Boot();
  StartVmMonitor();
  // 10 VMs in batches of 4.
  ASSERT_EQ(receiver_.vm.size(), 3u);
  ExpectSequence(receiver_.vm, 0, 3, true);
  std::set<std::string> uuids;
  for (const auto& e : VmEntries()) {
    EXPECT_EQ(e.operation(), "enter");
    EXPECT_EQ(e.datacenter(), "datacenter-2");
    uuids.insert(e.vm_info().uuid());
  }
  EXPECT_EQ(uuids.size(), 10u);
  EXPECT_TRUE(uuids.count(std::string("vm-7-") + kCloud));

  VICreateSEVMRsp created;
  ASSERT_TRUE(Call(&vCenterMgrService_Stub::CreateSEVM, CreateRequest("se-1"), &created));
  ASSERT_EQ(created.status(), CORVEL_SUCCESS) << created.status_string();
  ASSERT_TRUE(RunUntil([&] { return receiver_.vm.size() == 4; }));
  const VIGlobalVMNotif& add = receiver_.vm[3];
  EXPECT_FALSE(add.resync());
  EXPECT_FALSE(add.more());
  ASSERT_EQ(add.vm_notify_list_size(), 1);
  const VIVMNotif& entered = add.vm_notify_list(0);
  EXPECT_EQ(entered.operation(), "enter");
  EXPECT_EQ(entered.datacenter(), "datacenter-2");
  const CorvelVMRuntime& se = entered.vm_info();
  EXPECT_EQ(se.name(), "se-1");
  EXPECT_EQ(se.vcenter_vm_type(), VMTYPE_SE_VM);
  EXPECT_EQ(se.uuid(), se.managed_object_id() + "-" + kCloud);
  EXPECT_EQ(se.host(), std::string("host-2-") + kCloud);
  EXPECT_EQ(se.se_ver(), 2);
  ASSERT_GT(se.guest_nic_size(), 0);
  EXPECT_EQ(se.guest_nic(0).label(), "Network adapter 1");
  EXPECT_EQ(se.guest_nic(0).mac_addr(), created.sevm_uuid());
  EXPECT_EQ(se.guest_nic(0).network_uuid(), std::string("network-1-") + kCloud);

  VIDeleteSEVMRsp deleted;
  ASSERT_TRUE(Call(&vCenterMgrService_Stub::DeleteSEVM, DeleteRequest(se.managed_object_id()), &deleted));
  ASSERT_EQ(deleted.status(), SEVM_SUCCESS) << deleted.status_string();
  EXPECT_EQ(deleted.sevm_name(), "se-1");
  ASSERT_TRUE(RunUntil([&] { return receiver_.vm.size() == 5; }));
  ASSERT_EQ(receiver_.vm[4].vm_notify_list_size(), 1);
  const VIVMNotif& left = receiver_.vm[4].vm_notify_list(0);
  EXPECT_EQ(left.operation(), "leave");
  EXPECT_EQ(left.datacenter(), "DELETE");  // the connector finds the record by MOR
  EXPECT_EQ(left.vm_info().managed_object_id(), se.managed_object_id());
}

TEST_F(SimulatorTest, ResourceResyncCarriesDatacenterHostsClustersAndPortGroups) {
  Boot();
  Send(&vCenterMgrService_Stub::StartGlobalResourceNotif, MonitorRequest());
  ASSERT_TRUE(RunUntil([&] { return !receiver_.resource.empty() && !receiver_.resource.back().more(); }));
  // 3 hosts, 2 clusters and 4 port groups in batches of 4.
  ASSERT_EQ(receiver_.resource.size(), 3u);
  ExpectSequence(receiver_.resource, 0, 3, true);
  int hosts = 0, clusters = 0, pgs = 0, dcs = 0;
  for (const auto& m : receiver_.resource) {
    hosts += m.host_notify_list_size();
    clusters += m.cluster_notify_list_size();
    pgs += m.pg_notify_list_size();
    dcs += m.dc_notify_list_size();
  }
  EXPECT_EQ(hosts, 3);
  EXPECT_EQ(clusters, 2);
  EXPECT_EQ(pgs, 4);
  ASSERT_EQ(receiver_.resource[0].dc_notify_list_size(), 1);
  EXPECT_EQ(dcs, 1);
  EXPECT_EQ(receiver_.resource[0].dc_notify_list(0).dc_info().managed_object_id(), "datacenter-2");
  EXPECT_EQ(receiver_.resource[0].host_notify_list(0).host_info().uuid(), std::string("host-1-") + kCloud);
}

TEST_F(SimulatorTest, MonitorFaultsAndRefusals) {
  Boot();
  // A wrong password is answered with a connection report instead of a resync.
  VIVcenterMonitorReq bad = MonitorRequest();
  bad.mutable_admin()->set_password("guess");
  Send(&vCenterMgrService_Stub::StartGlobalVMNotif, bad);
  ASSERT_TRUE(RunUntil([&] { return receiver_.status.size() == 1; }));
  EXPECT_FALSE(receiver_.status[0].connect_status());
  EXPECT_EQ(receiver_.status[0].status(), CORVEL_BAD_CREDENTIALS);

  // VM_MONITOR swallows one start; RESYNC_ERROR opens the next resync with an "error" entry.
  InjectFault(VM_MONITOR, 1);
  InjectFault(RESYNC_ERROR, 1);
  Send(&vCenterMgrService_Stub::StartGlobalVMNotif, MonitorRequest());
  StartVmMonitor();
  ASSERT_EQ(receiver_.vm.size(), 3u);
  EXPECT_EQ(sim_->feed().vm_monitors(), 1u);
  const auto entries = VmEntries();
  ASSERT_EQ(entries.size(), 11u);
  EXPECT_EQ(entries[0].operation(), "error");

  // CREATE_VM_RUNTIME_ERR reports the new VM without identity.
  InjectFault(CREATE_VM_RUNTIME_ERR, 1);
  VICreateSEVMRsp created;
  ASSERT_TRUE(Call(&vCenterMgrService_Stub::CreateSEVM, CreateRequest("se-blank"), &created));
  ASSERT_EQ(created.status(), CORVEL_SUCCESS);
  ASSERT_TRUE(RunUntil([&] { return receiver_.vm.size() == 4; }));
  EXPECT_EQ(receiver_.vm[3].vm_notify_list(0).vm_info().uuid(), "vm-");

  // A bulk notification sends every VM again as changes.
  InjectFault(SIM_VM_BULK_NOTIF, 1);
  ASSERT_TRUE(RunUntil([&] { return receiver_.vm.size() == 7; }));
  ExpectSequence(receiver_.vm, 4, 3, false);
  EXPECT_EQ(receiver_.vm[4].vm_notify_list(0).operation(), "modify");

  // After a stop nothing more reaches the connector.
  Send(&vCenterMgrService_Stub::StopGlobalVMNotif, MonitorRequest());
  VICreateSEVMRsp unseen;
  ASSERT_TRUE(Call(&vCenterMgrService_Stub::CreateSEVM, CreateRequest("se-unseen"), &unseen));
  ASSERT_EQ(unseen.status(), CORVEL_SUCCESS);
  ASSERT_TRUE(Flush());
  EXPECT_EQ(receiver_.vm.size(), 7u);
  EXPECT_EQ(sim_->feed().vm_monitors(), 0u);
}

TEST_F(SimulatorTest, NotificationsWaitForTheConnectorAndArriveInOrder) {
  Boot(/*with_receiver=*/false);
  Send(&vCenterMgrService_Stub::StartGlobalVMNotif, MonitorRequest());
  VICreateSEVMRsp created;
  ASSERT_TRUE(Call(&vCenterMgrService_Stub::CreateSEVM, CreateRequest("se-late"), &created));
  ASSERT_EQ(created.status(), CORVEL_SUCCESS);
  ASSERT_TRUE(RunUntil([&] { return !sim_->notifier().idle() && !sim_->notifier().connected(); }));
  Advance(std::chrono::milliseconds(options_.notify.retry_ms));  // one more failed attempt
  EXPECT_TRUE(receiver_.vm.empty());

  // The connector comes up on the same port; the next attempt delivers everything.
  receiver_server_ = std::make_unique<TcpServer>(io_, options_.notify.port, &receiver_processor_);
  ASSERT_TRUE(receiver_server_->start_server());
  ASSERT_TRUE(RunUntil([&] {
    Advance(std::chrono::milliseconds(options_.notify.retry_ms));
    return receiver_.vm.size() == 4;
  }));
  ExpectSequence(receiver_.vm, 0, 3, true);
  EXPECT_EQ(receiver_.vm[3].vm_notify_list(0).vm_info().name(), "se-late");
  EXPECT_EQ(sim_->notifier().stats().delivered, 4u);
}

TEST_F(SimulatorTest, LatencyDelaysAnswersOnTheClock) {
  options_.shape.latency_ms = 250;
  Boot();
  VcenterLogin login;
  login.set_vcenter_url(kUrl);
  login.set_username(testing::kUser);
  login.set_password(testing::kPassword);
  VcenterLoginRsp rsp;
  TcpClientRpcController ctl(nullptr, 30);
  bool done = false;
  stub_->VerifyLogin(&ctl, &login, &rsp, google::protobuf::NewCallback(+[](bool* d) { *d = true; }, &done));
  ASSERT_TRUE(RunUntil([&] { return sim_->shaper().delayed() == 1; }));
  io_.restart();
  io_.poll();
  EXPECT_FALSE(done);
  Advance(std::chrono::milliseconds(250));
  ASSERT_TRUE(RunUntil([&] { return done; }));
  EXPECT_FALSE(ctl.Failed());
  EXPECT_EQ(rsp.status(), CORVEL_SUCCESS);
}

TEST_F(SimulatorTest, DropAfterClosesTheLinkThenServesAgain) {
  options_.shape.drop_after = 2;
  Boot();
  VcenterLogin login;
  login.set_vcenter_url(kUrl);
  login.set_username(testing::kUser);
  login.set_password(testing::kPassword);
  const Syserr want[] = {SYSERR_SUCCESS, SYSERR_SUCCESS, SYSERR_RPC_CONN_DOWN};
  for (Syserr w : want) {
    VcenterLoginRsp rsp;
    Syserr got = SYSERR_SUCCESS;
    Call(&vCenterMgrService_Stub::VerifyLogin, login, &rsp, &got);
    EXPECT_EQ(got, w);
  }
  EXPECT_EQ(sim_->shaper().drops(), 1u);
  ASSERT_TRUE(Connect());
  VcenterLoginRsp again;
  EXPECT_TRUE(Call(&vCenterMgrService_Stub::VerifyLogin, login, &again));
}

TEST_F(SimulatorTest, NoAnswerServesTheCallButNeverAnswers) {
  options_.shape.no_answer = true;
  Boot();
  const VICreateSEVMReq req = CreateRequest("se-silent");
  VICreateSEVMRsp rsp;
  TcpClientRpcController ctl(nullptr, 30);
  bool done = false;
  stub_->CreateSEVM(&ctl, &req, &rsp, google::protobuf::NewCallback(+[](bool* d) { *d = true; }, &done));
  ASSERT_TRUE(RunUntil([&] { return sim_->inventory().FindVmByName("se-silent") != nullptr; }));
  io_.restart();
  io_.poll();
  EXPECT_FALSE(done);
  Advance(std::chrono::seconds(30));  // the caller's deadline
  ASSERT_TRUE(RunUntil([&] { return done; }));
  EXPECT_EQ(ctl.error_code(), SYSERR_RPC_TIMED_OUT);
}

TEST_F(SimulatorTest, ReloadReportsTheDifferencesAndKeepsCreatedSeVms) {
  Boot();
  StartVmMonitor();
  Send(&vCenterMgrService_Stub::StartGlobalResourceNotif, MonitorRequest());
  ASSERT_TRUE(RunUntil([&] { return !receiver_.resource.empty() && !receiver_.resource.back().more(); }));
  VICreateSEVMRsp created;
  ASSERT_TRUE(Call(&vCenterMgrService_Stub::CreateSEVM, CreateRequest("se-kept"), &created));
  ASSERT_EQ(created.status(), CORVEL_SUCCESS);
  ASSERT_TRUE(Flush());
  const size_t vm_before = receiver_.vm.size();
  const size_t res_before = receiver_.resource.size();

  // The file as it would be edited: one VM gone, one port group renamed, a host added, and the
  // vCenter disconnected.
  SimInventory next;
  std::string error;
  ASSERT_TRUE(GenerateInventory(sizes_, &next, &error)) << error;
  next.mutable_vcenter()->set_url(kUrl);
  next.mutable_vcenter()->set_connected(false);
  next.mutable_vms()->DeleteSubrange(4, 1);  // vm-5
  next.mutable_port_groups(2)->set_name("dvpg-renamed");
  CorvelHostRuntime* host = next.add_hosts();
  host->set_managed_object_id("host-40");
  host->set_name("esx-new.sim.local");
  host->set_cluster_uuid("domain-c1");
  ASSERT_TRUE(sim_->Reload(std::move(next), &error)) << error;
  ASSERT_TRUE(Flush());

  EXPECT_NE(sim_->inventory().FindVmByName("se-kept"), nullptr);
  // VMs on the renamed port group change (their vNIC's network name); then vm-5 leaves.
  size_t renamed = 0;
  for (const auto& vm : sim_->inventory().data().vms()) {
    for (const auto& nic : vm.guest_nic()) renamed += nic.network_name() == "dvpg-renamed";
  }
  ASSERT_EQ(receiver_.vm.size(), vm_before + renamed + 1);
  for (size_t i = vm_before; i < vm_before + renamed; ++i) {
    EXPECT_EQ(receiver_.vm[i].vm_notify_list(0).operation(), "modify");
  }
  const VIVMNotif& left = receiver_.vm.back().vm_notify_list(0);
  EXPECT_EQ(left.operation(), "leave");
  EXPECT_EQ(left.vm_info().managed_object_id(), "vm-5");
  std::set<std::string> ops;
  for (size_t i = res_before; i < receiver_.resource.size(); ++i) {
    const auto& m = receiver_.resource[i];
    for (const auto& h : m.host_notify_list()) ops.insert("host " + h.operation() + " " + h.host_info().managed_object_id());
    for (const auto& p : m.pg_notify_list()) ops.insert("pg " + p.operation() + " " + p.pg_info().name());
  }
  EXPECT_EQ(ops, (std::set<std::string>{"host enter host-40", "pg modify dvpg-renamed"}));
  ASSERT_EQ(receiver_.status.size(), 1u);
  EXPECT_FALSE(receiver_.status[0].connect_status());

  // A broken file changes nothing.
  SimInventory broken;
  ASSERT_TRUE(GenerateInventory(sizes_, &broken, &error));
  broken.mutable_vms(0)->set_host("host-77");
  EXPECT_FALSE(sim_->Reload(std::move(broken), &error));
  EXPECT_EQ(error, "vms[0].host: 'host-77' names no host");
  EXPECT_NE(sim_->inventory().FindHost("host-40"), nullptr);
}

}  // namespace
}  // namespace vcmgr_sim
