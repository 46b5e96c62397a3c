#include "controller/vinfra/corvel/corvel_events.h"

#include <google/protobuf/text_format.h>
#include <google/protobuf/util/message_differencer.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "controller/vinfra/corvel/corvel_globals.h"
#include "controller/vinfra/corvel/corvel_service_impl.h"
#include "controller/vinfra/corvel/corvel_test_util.h"
#include "platform/events/event_api.h"

namespace {

constexpr char kController[] = "cluster-ctrl";
constexpr char kPassword[] = "Pa55-w0rd-never-logged";

const std::deque<EventLog>& Tail() { return EventSink::Get().tail(); }

// Commits `msg` as the configuration half of (table, key).
void PutRecord(const std::string& table, const std::string& key,
               const google::protobuf::Message* cfg, const google::protobuf::Message* runtime) {
  auto* txn = new Transaction();
  ASSERT_EQ(txn->db_view()->DbUpdate(DbIndex(table, key), cfg, runtime), SYSERR_SUCCESS);
  ASSERT_EQ(txn->Commit(false), SYSERR_SUCCESS);
}

// A service that knows the controller cluster, and a test event channel whose events land in
// the sink's tail (no event file).
class EventsTest : public corvel_test::ConnectorFixture {
 protected:
  void SetUp() override {
    ConnectorFixture::SetUp();
    saved_event_log_file_ = FLAGS_event_log_file;
    FLAGS_event_log_file = "";
    corvel_test::PutConfig(corvel_test::MakeCluster(kController, "", {}), kController);
    svc_ = std::make_unique<CorvelServiceImpl>(true);
    svc_->RetrieveControllerUUID();
    ASSERT_EQ(svc_->controller_uuid(), kController);
    CorvelSetEventApiForTest(&event_api_);
    EventSink::Get().ClearTail();
  }
  void TearDown() override {
    CorvelSetEventApiForTest(nullptr);
    svc_.reset();
    CorvelGlobals::ResetForTest();
    EventSink::Get().ClearTail();
    FLAGS_event_log_file = saved_event_log_file_;
    ConnectorFixture::TearDown();
  }

  std::string saved_event_log_file_;
  EventApi event_api_{5};
  std::unique_ptr<CorvelServiceImpl> svc_;
};

EventDetails Details(const char* text) {
  EventDetails details;
  EXPECT_TRUE(google::protobuf::TextFormat::ParseFromString(text, &details)) << text;
  return details;
}

TEST_F(EventsTest, EachFunctionRaisesOneEventWithItsObjectDetailsAndInfo) {
  // The schema has no Tenant record yet; any record with a name stands in for the tenant.
  ServiceEngineGroup group;
  group.set_name("Group-1");
  group.set_tenant_uuid("tenant-acme");
  PutRecord("serviceenginegroup", "serviceenginegroup-1", &group, nullptr);
  Cloud tenant;
  tenant.set_name("Acme");
  PutRecord("tenant", "tenant-acme", &tenant, nullptr);

  CorvelVcenterRuntime vcenter;
  vcenter.set_uuid("cloud-1");
  vcenter.set_num_dcs(1);
  vcenter.set_num_hosts(2);
  vcenter.set_num_clusters(3);
  vcenter.set_num_vms(4);
  vcenter.set_num_nws(5);
  EventApiInfo host_info;
  host_info.add_related_uuids("se-1");
  host_info.add_related_uuids("se-2");

  struct Case {
    const char* name;
    std::function<void()> raise;
    EventId id;
    KyvObjectType obj_type;
    std::string obj_uuid;
    const char* details;
    const char* tenant;  // null: none
    std::vector<std::string> related;
    bool internal;
  } cases[] = {
      {"progress DC", [] { CorvelGenDiscProgressEvent(nullptr, "cloud-1", VINFRA_DISC_DC, 7); },
       VINFRA_DISC_DC, CLUSTER, kController, "disc_summary { vcenter: 'cloud-1' num_dcs: 7 }",
       nullptr, {}, false},
      {"progress host",
       [] { CorvelGenDiscProgressEvent(nullptr, "cloud-1", VINFRA_DISC_HOST, 7); },
       VINFRA_DISC_HOST, CLUSTER, kController, "disc_summary { vcenter: 'cloud-1' num_hosts: 7 }",
       nullptr, {}, false},
      {"progress cluster",
       [] { CorvelGenDiscProgressEvent(nullptr, "cloud-1", VINFRA_DISC_CLUSTER, 7); },
       VINFRA_DISC_CLUSTER, CLUSTER, kController,
       "disc_summary { vcenter: 'cloud-1' num_clusters: 7 }", nullptr, {}, false},
      {"progress VM", [] { CorvelGenDiscProgressEvent(nullptr, "cloud-1", VINFRA_DISC_VM, 7); },
       VINFRA_DISC_VM, CLUSTER, kController, "disc_summary { vcenter: 'cloud-1' num_vms: 7 }",
       nullptr, {}, false},
      {"progress NW", [] { CorvelGenDiscProgressEvent(nullptr, "cloud-1", VINFRA_DISC_NW, 7); },
       VINFRA_DISC_NW, CLUSTER, kController, "disc_summary { vcenter: 'cloud-1' num_nws: 7 }",
       nullptr, {}, false},
      {"discovery complete", [&] { CorvelGenDiscCompleteEvent(nullptr, &vcenter); },
       VINFRA_DISC_COMPLETE, CLUSTER, kController,
       "disc_summary { vcenter: 'cloud-1' num_dcs: 1 num_hosts: 2 num_clusters: 3 num_vms: 4 "
       "num_nws: 5 }",
       nullptr, {}, false},
      {"bad credentials", [] { CorvelGenVcenterBadCredentials("vc.example", "ops", kPassword); },
       VCENTER_BAD_CREDENTIALS, CLUSTER, kController,
       "vcenter_details { vcenter: 'vc.example' name: 'ops' }", nullptr, {}, false},
      {"version mismatch",
       [] { CorvelGenVcenterVerMismatch("vc.example", "ops", kPassword, "vc-east"); },
       VCENTER_VERSION_NOT_SUPPORTED, CLUSTER, kController,
       "vcenter_details { vcenter: 'vc.example' name: 'ops' vcenter_name: 'vc-east' }", nullptr,
       {}, false},
      {"address error", [] { CorvelGenVcenterAddressError("vc.example"); }, VCENTER_ADDRESS_ERROR,
       CLUSTER, kController, "vcenter_details { vcenter: 'vc.example' }", nullptr, {}, false},
      {"unreachable hosts, in order",
       [] { CorvelGenVcenterUnreachableHosts("vc.example", {"esx-2", "esx-1"}); },
       ESX_HOST_UNREACHABLE, CLUSTER, kController,
       "cntlr_host_list_details { vcenter: 'vc.example' host_name: 'esx-2' host_name: 'esx-1' }",
       nullptr, {}, false},
      {"unreachable hosts, empty list", [] { CorvelGenVcenterUnreachableHosts("vc.example", {}); },
       ESX_HOST_UNREACHABLE, CLUSTER, kController,
       "cntlr_host_list_details { vcenter: 'vc.example' }", nullptr, {}, false},
      {"management network renamed",
       [] { CorvelGenMgmtNwChangeEvent("vc.example", "Mgmt", "Mgmt-new"); }, MGMT_NW_NAME_CHANGED,
       CLUSTER, kController,
       "mgmt_nw_change_details { vcenter: 'vc.example' existing_nw: 'Mgmt' new_nw: 'Mgmt-new' }",
       nullptr, {}, false},
      {"configuration deleted",
       [] { CorvelGenVcenterConfigDelEvent(DISCOVERY_DATACENTER_DEL, "vc.example", "DC-1"); },
       DISCOVERY_DATACENTER_DEL, CLUSTER, kController,
       "vcenter_obj_delete_details { vcenter: 'vc.example' obj_name: 'DC-1' }", nullptr, {},
       false},
      {"SE group configuration deleted",
       [] {
         CorvelGenSeGroupConfigDelEvent("serviceenginegroup-1", SE_GROUP_HOST_DEL, "vc.example",
                                        "esx-1");
       },
       SE_GROUP_HOST_DEL, SERVICEENGINEGROUP, "serviceenginegroup-1",
       "vcenter_obj_delete_details { vcenter: 'vc.example' obj_name: 'esx-1' }", nullptr, {},
       false},
      {"discovery failure", [] { CorvelGenDiscFailureEvent("vc.example", "DC_DISC_HOST"); },
       VINFRA_DISC_FAILURE, CLUSTER, kController,
       "vcenter_disc_failure { vcenter: 'vc.example' state: 'DC_DISC_HOST' }", nullptr, {}, false},
      {"host powered down",
       [&] {
         CorvelGenEsxHostPoweredDown("host-9-cloud-1", ESX_HOST_POWERED_DOWN, &host_info,
                                     "vc.example", "esx-9");
       },
       ESX_HOST_POWERED_DOWN, HOST, "host-9-cloud-1",
       "vcenter_obj_delete_details { vcenter: 'vc.example' obj_name: 'esx-9' }", nullptr,
       {"se-1", "se-2"}, true},
      {"connectivity up", [] { CorvelGenVcenterConnectivity("vc.example", "DC-1", "cl", true); },
       VCENTER_CONNECTIVITY_SUCCESS, CLUSTER, kController,
       "vcenter_connectivity_status { vcenter: 'vc.example' datacenter: 'DC-1' cloud: 'cl' }",
       nullptr, {}, false},
      {"connectivity down", [] { CorvelGenVcenterConnectivity("vc.example", "DC-1", "cl", false); },
       VCENTER_CONNECTIVITY_FAIL, CLUSTER, kController,
       "vcenter_connectivity_status { vcenter: 'vc.example' datacenter: 'DC-1' cloud: 'cl' }",
       nullptr, {}, false},
      {"auth failure",
       [] {
         CORVELGenAuthFailure(CORVEL_BAD_CREDENTIALS, "login refused", "ops",
                              "https://vc.example/sdk");
       },
       AUDIT_COMPLIANCE_EVENT, CLUSTER, kController,
       "generic_audit_compliance_event_info { type: AUDIT_INVALID_CREDENTIALS "
       "user_identities { type: 'username' value: 'ops' } "
       "subjects { type: 'URI' value: 'https://vc.example/sdk' } protocol: TLS1_2 "
       "detailed_reason: 'login refused' }",
       nullptr, {}, false},
      {"auth failure, nothing known", [] { CORVELGenAuthFailure(CORVEL_BAD_CREDENTIALS, "", "", ""); },
       AUDIT_COMPLIANCE_EVENT, CLUSTER, kController,
       "generic_audit_compliance_event_info { type: AUDIT_INVALID_CREDENTIALS protocol: TLS1_2 }",
       nullptr, {}, false},
      {"SE event, tenant named through the group",
       [] { CorvelGenSeEvent("serviceenginegroup-1", VINFRA_DISC_VM, "se-1", "Se-One"); },
       VINFRA_DISC_VM, SERVICEENGINEGROUP, "serviceenginegroup-1",
       "spawn_se_details { se_name: 'Se-One' }", "Acme", {"serviceenginegroup-1", "se-1"}, false},
      {"SE event, unknown group",
       [] { CorvelGenSeEvent("serviceenginegroup-2", VINFRA_DISC_VM, "se-2", "Se-Two"); },
       VINFRA_DISC_VM, SERVICEENGINEGROUP, "serviceenginegroup-2",
       "spawn_se_details { se_name: 'Se-Two' }", "", {"serviceenginegroup-2", "se-2"}, false},
      {"slow access", [] { CorvelGenVcenterSlowAccess("vc.example"); }, VCENTER_ACCESS_SLOW,
       CLUSTER, kController, "vcenter_details { vcenter: 'vc.example' }", "admin", {}, false},
      {"role error", [] { CorvelGenVcenterRoleError("vc.example", "Network", "ops", 12); },
       VCENTER_USER_ROLE_CHANGE, CLUSTER, kController,
       "vcenter_details { vcenter: 'vc.example' user: 'ops' vcenter_object: 'Network' "
       "previous_count: 12 }",
       "admin", {}, false},
      {"network limit", [] { CorvelGenNetworkLimitReached(5400, 7168, "yellow"); },
       VCENTER_NETWQRK_OBJECT_LIMIT_REACHED, CLUSTER, kController,
       "vcenter_network_limit { current: 5400 limit: 7168 additional_reason: 'yellow' }", nullptr,
       {}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EventSink::Get().ClearTail();
    c.raise();
    ASSERT_EQ(Tail().size(), 1u);
    const EventLog& ev = Tail().front();
    EXPECT_EQ(ev.event_id(), c.id);
    EXPECT_EQ(ev.module(), CORVEL);
    EXPECT_EQ(ev.obj_type(), c.obj_type);
    EXPECT_EQ(ev.obj_uuid(), c.obj_uuid);
    const EventDetails want = Details(c.details);
    EXPECT_TRUE(google::protobuf::util::MessageDifferencer::Equals(ev.event_details(), want))
        << "got: " << ev.event_details().ShortDebugString()
        << "\nwant: " << want.ShortDebugString();
    EXPECT_EQ(ev.has_tenant(), c.tenant != nullptr);
    if (c.tenant != nullptr) {
      EXPECT_EQ(ev.tenant(), c.tenant);
    }
    EXPECT_EQ(std::vector<std::string>(ev.related_uuids().begin(), ev.related_uuids().end()),
              c.related);
    EXPECT_EQ(ev.internal(), c.internal ? EVENT_INTERNAL : EVENT_EXTERNAL);
    EXPECT_EQ(ev.SerializeAsString().find(kPassword), std::string::npos);
  }
}

TEST_F(EventsTest, OutOfRangeIdsAndStatusesRaiseNothing) {
  for (EventId id : {MGMT_NW_NAME_CHANGED, VINFRA_DISC_COMPLETE, AUDIT_COMPLIANCE_EVENT}) {
    CorvelGenDiscProgressEvent(nullptr, "cloud-1", id, 3);
  }
  const auto* statuses = CORVEL_STATUS_descriptor();
  for (int i = 0; i < statuses->value_count(); ++i) {
    const auto status = static_cast<CORVEL_STATUS>(statuses->value(i)->number());
    if (status != CORVEL_BAD_CREDENTIALS) CORVELGenAuthFailure(status, "why", "ops", "https://vc");
  }
  CorvelGenDiscCompleteEvent(nullptr, nullptr);
  EXPECT_TRUE(Tail().empty());
}

TEST_F(EventsTest, WithoutChannelOrServiceEventsAreDropped) {
  CorvelSetEventApiForTest(nullptr);  // and no worker
  CorvelGenVcenterAddressError("vc.example");
  CorvelGenSeGroupConfigDelEvent("serviceenginegroup-1", SE_GROUP_HOST_DEL, "vc.example", "h");
  EXPECT_TRUE(Tail().empty());

  // Without the service only events on the controller cluster lack their object.
  CorvelSetEventApiForTest(&event_api_);
  svc_.reset();
  CorvelGlobals::ResetForTest();
  CorvelGenVcenterAddressError("vc.example");
  CorvelGenSeGroupConfigDelEvent("serviceenginegroup-1", SE_GROUP_HOST_DEL, "vc.example", "h");
  ASSERT_EQ(Tail().size(), 1u);
  EXPECT_EQ(Tail().front().event_id(), SE_GROUP_HOST_DEL);
}

TEST_F(EventsTest, GenEventRaisesVmEventsOnlyForStoredVms) {
  CorvelVMRuntime vm;
  vm.set_uuid("vm-5-cloud-1");
  vm.set_name("web-5");
  PutRecord(db_table_name_from_pb(CorvelVMRuntime::descriptor()->name()), "vm-5-cloud-1",
            nullptr, &vm);
  struct Case {
    int event_id;
    const char* uuid;
    EventId raised;  // EVENT_ID_UNKNOWN: nothing
  } cases[] = {
      {8, "vm-5-cloud-1", VM_ADDED},
      {9, "vm-5-cloud-1", VM_REMOVED},
      {8, "vm-6-cloud-1", EVENT_ID_UNKNOWN},
      {9, "vm-6-cloud-1", EVENT_ID_UNKNOWN},
      {1004, "vm-5-cloud-1", EVENT_ID_UNKNOWN},
      {0, "vm-5-cloud-1", EVENT_ID_UNKNOWN},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.event_id) + " " + c.uuid);
    EventSink::Get().ClearTail();
    VITestEventGen request;
    request.set_event_id(c.event_id);
    request.set_obj_uuid(c.uuid);
    CorvelVIGenEvent(request);
    EXPECT_EQ(Transaction::transaction_, nullptr);  // the read's transaction is released
    if (c.raised == EVENT_ID_UNKNOWN) {
      EXPECT_TRUE(Tail().empty());
      continue;
    }
    ASSERT_EQ(Tail().size(), 1u);
    const EventLog& ev = Tail().front();
    EXPECT_EQ(ev.event_id(), c.raised);
    EXPECT_EQ(ev.module(), CORVEL);
    EXPECT_EQ(ev.obj_type(), CLUSTER);
    EXPECT_EQ(ev.obj_uuid(), kController);
    ASSERT_EQ(ev.related_uuids_size(), 1);
    EXPECT_EQ(ev.related_uuids(0), c.uuid);
    EXPECT_EQ(ev.internal(), EVENT_INTERNAL);
  }
}

}  // namespace
