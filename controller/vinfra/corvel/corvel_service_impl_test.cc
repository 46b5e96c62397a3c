#include "controller/vinfra/corvel/corvel_service_impl.h"

#include <gtest/gtest.h>

#include "controller/vinfra/corvel/corvel_globals.h"
#include "controller/vinfra/corvel/corvel_inventory.h"
#include "controller/vinfra/corvel/corvel_test_util.h"

namespace {

class ServiceTest : public corvel_test::ConnectorFixture {
 protected:
  void SetUp() override {
    ConnectorFixture::SetUp();
    svc_ = std::make_unique<CorvelServiceImpl>(true);
    ASSERT_EQ(svc_->Initialize(&io_, RedisClientPtr(), taskq_.get(), nullptr, db_.get()),
              SYSERR_SUCCESS);
  }
  void TearDown() override {
    svc_.reset();
    CorvelGlobals::ResetForTest();
    ConnectorFixture::TearDown();
  }
  static VIFaultInjection Fault(FAULT_API_TYPE api, int count, VCENTER_MGR_STATUS status) {
    VIFaultInjection f;
    f.set_api(api);
    f.set_count(count);
    f.set_status(status);
    return f;
  }
  std::unique_ptr<CorvelServiceImpl> svc_;
};

TEST_F(ServiceTest, FaultCountFiresThatManyTimesThenStaysInert) {
  svc_->InsertFault(Fault(CREATE_SE_CORVEL, 2, SEVM_CREATE_FAILURE));
  for (int i = 0; i < 2; ++i) {
    VCENTER_MGR_STATUS st = SEVM_SUCCESS;
    EXPECT_TRUE(svc_->CheckForFaultInject(CREATE_SE_CORVEL, &st));
    EXPECT_EQ(st, SEVM_CREATE_FAILURE);
  }
  VCENTER_MGR_STATUS st = SEVM_SUCCESS;
  EXPECT_FALSE(svc_->CheckForFaultInject(CREATE_SE_CORVEL, &st));
  EXPECT_EQ(st, SEVM_SUCCESS);  // untouched without an armed entry
  EXPECT_EQ(svc_->fault_map().size(), 1u);
  EXPECT_FALSE(svc_->CheckForFaultInject(DELETE_SE_CORVEL, nullptr));
}

TEST_F(ServiceTest, FaultOverwriteKeepsOneEntryAndClearAllEmptiesTheTable) {
  svc_->InsertFault(Fault(DELETE_SE_CORVEL, 5, SEVM_DELETE_FAILURE));
  svc_->InsertFault(Fault(DELETE_SE_CORVEL, 1, SEVM_TIMED_OUT));
  svc_->InsertFault(Fault(SLOW_VCENTER_ACCESS, 3, SEVM_SUCCESS));
  ASSERT_EQ(svc_->fault_map().size(), 2u);
  VCENTER_MGR_STATUS st = SEVM_SUCCESS;
  EXPECT_TRUE(svc_->CheckForFaultInject(DELETE_SE_CORVEL, &st));
  EXPECT_EQ(st, SEVM_TIMED_OUT);
  EXPECT_FALSE(svc_->CheckForFaultInject(DELETE_SE_CORVEL, &st));

  svc_->InsertFault(Fault(CLEAR_ALL_FAULTS, 1, SEVM_SUCCESS));
  EXPECT_TRUE(svc_->fault_map().empty());
  EXPECT_FALSE(svc_->CheckForFaultInject(SLOW_VCENTER_ACCESS, nullptr));
}

TEST_F(ServiceTest, ControllerIdentityFromTheClusterRecord) {
  struct Case {
    const char* name;
    std::string vip;
    std::vector<std::pair<std::string, std::string>> nodes;
    std::vector<std::string> ips;
    std::string vm_mor;
  } cases[] = {
      {"three nodes, no virtual IP", "",
       {{"10.0.0.1", "vm-1"}, {"10.0.0.2", "vm-2"}, {"10.0.0.3", "vm-3"}},
       {"10.0.0.1", "10.0.0.2", "10.0.0.3"}, "vm-1"},
      {"virtual IP first", "10.0.0.100",
       {{"10.0.0.1", "vm-1"}, {"10.0.0.2", "vm-2"}, {"10.0.0.3", "vm-3"}},
       {"10.0.0.100", "10.0.0.1", "10.0.0.2", "10.0.0.3"}, "vm-1"},
      {"no nodes", "10.0.0.100", {}, {"10.0.0.100"}, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    svc_.reset();
    CorvelGlobals::ResetForTest();
    delete DbCache::g_db_cache_;
    db_ = Datastore::InMemory();
    Datastore::g_db_ = db_.get();
    corvel_test::PutConfig(corvel_test::MakeCluster("cluster-9", c.vip, c.nodes), "cluster-9");
    svc_ = std::make_unique<CorvelServiceImpl>(true);
    svc_->RetrieveControllerUUID();
    EXPECT_EQ(svc_->controller_uuid(), "cluster-9");
    EXPECT_EQ(svc_->controller_ips(), c.ips);
    EXPECT_EQ(svc_->controller_vm_mor(), c.vm_mor);
  }
}

TEST_F(ServiceTest, ControllerIpsAreFilledOnlyOnce) {
  corvel_test::PutConfig(corvel_test::MakeCluster("cluster-1", "", {{"10.0.0.1", "vm-1"}}),
                         "cluster-1");
  svc_->RetrieveControllerUUID();
  corvel_test::PutConfig(corvel_test::MakeCluster("cluster-1", "", {{"10.9.9.9", "vm-2"}}),
                         "cluster-1");
  svc_->RetrieveControllerUUID();
  EXPECT_EQ(svc_->controller_ips(), std::vector<std::string>{"10.0.0.1"});
  EXPECT_EQ(svc_->controller_vm_mor(), "vm-2");
}

TEST_F(ServiceTest, TerminateStopsSubscriptionAndQuarantineTimer) {
  EXPECT_EQ(clock_->pending_timers(), 1u);  // the quarantine timer
  // The quarantine timer re-arms itself every 120 s.
  clock_->Advance(std::chrono::seconds(120));
  corvel_test::Drain(io_);
  EXPECT_EQ(clock_->pending_timers(), 1u);

  EXPECT_EQ(svc_->Terminate(), SYSERR_SUCCESS);
  EXPECT_EQ(clock_->pending_timers(), 0u);
  EXPECT_EQ(TaskQueue::FindConsumer(CorvelServiceImpl::svc_q_name()), nullptr);
}

}  // namespace

namespace {

class RoutingTest : public ServiceTest {
 protected:
  CorvelInventory* AddInventory(const std::string& url, const std::string& dc_uuid,
                                const std::string& cloud) {
    auto* inv = new CorvelInventory(url, "admin", "pw", "mgmt", "dc", "", "vrf", dc_uuid, 0,
                                    nullptr, svc_.get(), &io_);
    inv->cloud_uuid_ = inv->vcentercloud_uuid_ = cloud;
    svc_->vcenter_map().push_back(inv);
    return inv;
  }
};

TEST_F(RoutingTest, NotificationsReachOnlyTheExactUrlAndDatacenter) {
  CorvelInventory* a = AddInventory("vc1.example", "datacenter-2-cloud-a", "cloud-a");
  CorvelInventory* b = AddInventory("vc1.example", "datacenter-7-cloud-b", "cloud-b");
  EXPECT_EQ(svc_->RouteNotification("vc1.example", "datacenter-7-cloud-b"), b);
  EXPECT_EQ(svc_->RouteNotification("vc1.example", "datacenter-2-cloud-a"), a);
  EXPECT_EQ(svc_->RouteNotification("VC1.example", "datacenter-2-cloud-a"), nullptr);
  EXPECT_EQ(svc_->RouteNotification("vc1.example", "datacenter-9-cloud-x"), nullptr);

  // Every notification call completes, matched or not.
  int completed = 0;
  auto count = google::protobuf::NewPermanentCallback(+[](int* c) { ++*c; }, &completed);
  VIGlobalVMNotif vm;
  vm.set_vcenter_url("vc1.example");
  vm.set_dc_uuid("nowhere");
  VIGlobalResourceNotif res;
  res.set_vcenter_url("vc1.example");
  res.set_dc_uuid("datacenter-7-cloud-b");
  VIVcenterStatus st;
  VoidResponse rsp;
  svc_->VIGlobalVMNotification(nullptr, &vm, &rsp, count);
  svc_->VIGlobalResourceNotification(nullptr, &res, &rsp, count);
  svc_->VIVcenterConnectStatus(nullptr, &st, &rsp, count);
  EXPECT_EQ(completed, 3);
  delete count;
}

TEST_F(RoutingTest, InventoryLookupsAndCredentials) {
  AddInventory("vc1.example", "datacenter-2-cloud-a", "cloud-a");
  CorvelInventory* found = nullptr;
  EXPECT_EQ(svc_->VICheckVcenter("cloud-a", &found), 0);
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(svc_->VICheckVcenter("cloud-z", &found), 1);
  EXPECT_EQ(found, nullptr);
  EXPECT_EQ(CorvelInventoryGetVcenterUsername("cloud-a"), "admin");
  EXPECT_EQ(CorvelInventoryGetVcenterUrl("cloud-a"), "vc1.example");
  EXPECT_EQ(CorvelInventoryGetVcenterUrl("cloud-z"), "");
}

}  // namespace
