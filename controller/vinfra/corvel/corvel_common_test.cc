// Lookups, create-or-update, cross-references, interested entities and status of the runtime
// object store.
#include "controller/vinfra/corvel/corvel_common.h"

#include <gtest/gtest.h>

#include "controller/vinfra/corvel/corvel_events.h"
#include "controller/vinfra/corvel/corvel_globals.h"
#include "controller/vinfra/corvel/corvel_inventory.h"
#include "controller/vinfra/corvel/corvel_service_impl.h"
#include "controller/vinfra/corvel/corvel_test_util.h"
#include "platform/siblings/recording_service.h"
#include "proto/rpc.pb.h"
#include "proto/sibling_services.pb.h"

namespace {

using corvel_test::GetRuntime;
using corvel_test::PutRuntime;

constexpr char kCloud[] = "cloud-1";
constexpr char kDc[] = "datacenter-2-cloud-1";

class StoreTest : public corvel_test::ConnectorFixture {
 protected:
  void SetUp() override {
    ConnectorFixture::SetUp();
    CorvelSetEventApiForTest(&events_);
    corvel_test::PutConfig(corvel_test::MakeCluster("cluster-1", "", {{"10.0.0.1", "vm-1"}}),
                           "cluster-1");
    svc_ = std::make_unique<CorvelServiceImpl>(true);
    svc_->RetrieveControllerUUID();
    txn_ = new Transaction();
  }
  void TearDown() override {
    if (txn_ != nullptr) txn_->Abort(false);
    svc_.reset();
    CorvelGlobals::ResetForTest();
    CorvelSetEventApiForTest(nullptr);
    ConnectorFixture::TearDown();
  }
  void Commit() {
    ASSERT_EQ(txn_->Commit(false), SYSERR_SUCCESS);
    txn_ = new Transaction();
  }
  std::vector<EventLog> Events(EventId id) {
    std::vector<EventLog> out;
    for (const auto& ev : EventSink::Get().tail()) {
      if (ev.event_id() == id) out.push_back(ev);
    }
    return out;
  }
  static CorvelHostRuntime Host(const std::string& mor, const std::string& power) {
    CorvelHostRuntime h;
    h.set_uuid(mor + "-" + kCloud);
    h.set_managed_object_id(mor);
    h.set_name(mor + ".example");
    h.set_cloud_uuid(kCloud);
    h.set_powerstate(power);
    return h;
  }
  static CorvelGuestNicRuntime Nic(const std::string& mac, const std::string& network,
                                   const std::string& label = "") {
    CorvelGuestNicRuntime n;
    n.set_mac_addr(mac);
    n.set_network_name(network);
    n.set_label(label);
    return n;
  }

  EventApi events_{5};
  std::unique_ptr<CorvelServiceImpl> svc_;
  Transaction* txn_ = nullptr;
};

// ---------------------------------------------------------------------------------------------
// Lookups and identifiers

TEST_F(StoreTest, LookupsSeeTheViewFirstAndReportAbsence) {
  PutRuntime(Host("host-1", "poweredOn"));
  CorvelHostRuntime* host = nullptr;
  ASSERT_EQ(CorvelInventoryRetrieveHostinDbview(txn_, "host-1-cloud-1", &host), SYSERR_SUCCESS);
  host->set_name("changed, not committed");
  CorvelHostRuntime* again = nullptr;
  ASSERT_EQ(CorvelInventoryRetrieveHostinDbview(txn_, "host-1-cloud-1", &again), SYSERR_SUCCESS);
  EXPECT_EQ(again, host);
  EXPECT_EQ(again->name(), "changed, not committed");

  CorvelVMRuntime* vm = nullptr;
  EXPECT_EQ(CorvelInventoryRetrieveVMinDbview(txn_, "vm-9-cloud-1", &vm), SYSERR_FAILURE);
  EXPECT_EQ(vm, nullptr);
  // The cached-view lookup never reads the datastore.
  PutRuntime(Host("host-2", "poweredOn"));
  CorvelHostRuntime* cached = nullptr;
  EXPECT_EQ((GetObjectFromCachedView<NullObj, CorvelHostRuntime>(
                txn_, CorvelTable<CorvelHostRuntime>(), "host-2-cloud-1", nullptr, &cached)),
            SYSERR_FAILURE);
}

TEST_F(StoreTest, SeVmIdentifiers) {
  CorvelVMRuntime v2;
  v2.set_uuid("vm-5-cloud-1");
  v2.set_managed_object_id("vm-5");
  v2.set_se_ver(2);
  *v2.add_guest_nic() = Nic("00:50:56:aa:bb:01", "mgmt", "Network adapter 1");
  *v2.add_guest_nic() = Nic("00:50:56:aa:bb:02", "data", "Network adapter 2");
  *v2.add_guest_nic() = Nic("00:50:56:aa:bb:03", "mgmt", "Network adapter 1");
  EXPECT_EQ(CorvelRetrieveSeVmUuid(0, &v2), "sevm-005056aabb03");  // last match wins
  EXPECT_EQ(CorvelRetrieveSeVmUuid(0, &v2), "sevm-005056aabb03");

  CorvelVMRuntime v1 = v2;
  v1.set_se_ver(1);
  EXPECT_EQ(CorvelRetrieveSeVmUuid(0, &v1), "sevm-5-cloud-1");

  // Version 2 without "Network adapter 1" goes through the managed_object_id index.
  CorvelVMRuntime nolabel = v2;
  nolabel.clear_guest_nic();
  EXPECT_EQ(CorvelRetrieveSeVmUuid(0, &nolabel), "");
  CorvelSEVMRuntime sevm;
  sevm.set_uuid("sevm-known");
  sevm.set_managed_object_id("vm-5");
  PutRuntime(sevm);
  EXPECT_EQ(CorvelRetrieveSeVmUuid(0, &nolabel), "sevm-known");
}

TEST_F(StoreTest, LatestTimeWaitsTwoSecondsAndReturnsNowMinusOne) {
  int64_t before = kyv::GetClock().NowSeconds();
  EXPECT_EQ(GET_LATEST_TIME(), before + 1);
  EXPECT_EQ(kyv::GetClock().NowSeconds(), before + 2);
  EXPECT_EQ(get_curr_local_time().back(), '\n');
}

TEST_F(StoreTest, ReadsOutsideATransaction) {
  Cloud cloud;
  cloud.set_uuid(kCloud);
  cloud.set_name("vc-cloud");
  cloud.mutable_vcenter_configuration()->set_vcenter_url("vc.example");
  cloud.mutable_vcenter_configuration()->set_deactivate_vm_discovery(true);
  corvel_test::PutConfig(cloud, kCloud);
  CorvelDCRuntime dc;
  dc.set_uuid(kDc);
  dc.set_name("DC1");
  dc.set_cloud_uuid(kCloud);
  PutRuntime(dc);

  EXPECT_EQ(RetrieveVcenter(kCloud), "vc.example");
  EXPECT_EQ(RetrieveVcenter("cloud-x"), "");
  EXPECT_TRUE(CorvelInventoryRetrieveVMDiscStatus(nullptr, kCloud));
  EXPECT_FALSE(CorvelInventoryRetrieveVMDiscStatus(nullptr, "cloud-x"));
  EXPECT_EQ(CorvelRetrieveCloudUuid(nullptr, "vc-cloud"), kCloud);
  EXPECT_EQ(CorvelRetrieveCloudUuid(nullptr, "other"), "");
  EXPECT_EQ(CorvelRetrieveDiscoveredDcUuid(nullptr, kCloud, "DC1"), kDc);
  EXPECT_EQ(CorvelRetrieveDiscoveredDcUuid(nullptr, "cloud-2", "DC1"), "");
  EXPECT_EQ(CorvelRetrieveDiscoveredDcUuid(nullptr, kCloud, "DELETE"), "DELETE");
}

// ---------------------------------------------------------------------------------------------
// Create or update

TEST_F(StoreTest, HostRefreshKeepsConnectorFieldsAndRaisesOnePowerDownEvent) {
  CorvelHostRuntime stored = Host("host-1", "poweredOn");
  stored.set_quarantined(true);
  stored.set_quarantine_start_ts("Mon Jan  1 00:00:00 2026");
  stored.set_quarantined_periods(3);
  stored.set_cntlr_accessible(false);
  stored.set_se_success_cnt(7);
  stored.set_se_fail_cnt(2);
  PutRuntime(stored);
  for (const char* se : {"a", "b"}) {
    CorvelSEVMRuntime sevm;
    sevm.set_uuid(std::string("sevm-") + se + "-cloud-1");
    sevm.set_host_uuid(se == std::string("a") ? "host-1-cloud-1" : "host-9-cloud-1");
    PutRuntime(sevm);
  }

  CorvelHostRuntime incoming = Host("host-1", "poweredOff");
  incoming.set_cntlr_accessible(true);
  incoming.set_num_cpu_threads(32);
  CorvelHostRuntime* out = nullptr;
  ASSERT_EQ(CorvelCreateHostinDbView(txn_, incoming.uuid(), "vc.example", incoming, &out, true),
            SYSERR_SUCCESS);
  Commit();
  CorvelHostRuntime host;
  ASSERT_TRUE(GetRuntime("host-1-cloud-1", &host));
  EXPECT_TRUE(host.quarantined());
  EXPECT_EQ(host.quarantined_periods(), 3);
  EXPECT_FALSE(host.cntlr_accessible());
  EXPECT_EQ(host.se_success_cnt(), 7);
  EXPECT_EQ(host.se_fail_cnt(), 2);
  EXPECT_EQ(host.num_cpu_threads(), 32);
  EXPECT_EQ(host.tenant_uuid(), "admin");

  auto downs = Events(ESX_HOST_POWERED_DOWN);
  ASSERT_EQ(downs.size(), 1u);
  EXPECT_EQ(downs[0].obj_uuid(), "host-1-cloud-1");
  EXPECT_EQ(std::vector<std::string>(downs[0].related_uuids().begin(), downs[0].related_uuids().end()),
            std::vector<std::string>{"se-a-cloud-1"});

  // No event for any other transition.
  for (const char* power : {"poweredOn", "standBy", "poweredOff", "poweredOff"}) {
    incoming.set_powerstate(power);
    ASSERT_EQ(CorvelCreateHostinDbView(txn_, incoming.uuid(), "vc", incoming, &out, true),
              SYSERR_SUCCESS);
    Commit();
  }
  EXPECT_EQ(Events(ESX_HOST_POWERED_DOWN).size(), 1u);
}

TEST_F(StoreTest, PortGroupRefreshKeepsSubnetsTenantAndVrf) {
  CorvelNWRuntime stored;
  stored.set_uuid("dvportgroup-3-cloud-1");
  stored.set_name("Mgmt");
  stored.set_cloud_uuid(kCloud);
  stored.set_tenant_uuid("tenant-7");
  stored.set_vrf_context_uuid("vrf-7");
  auto* subnet = stored.add_ip_subnet();
  subnet->mutable_prefix()->mutable_ip_addr()->set_addr("10.1.2.0");
  subnet->mutable_prefix()->set_mask(24);
  subnet->set_ref_count(4);
  PutRuntime(stored);
  Cloud cloud;
  cloud.set_uuid(kCloud);
  cloud.mutable_vcenter_configuration()->set_vcenter_url("vc.example");
  corvel_test::PutConfig(cloud, kCloud);

  struct Case {
    const char* mgmt_nw;
    const char* new_name;
    size_t events;
  } cases[] = {
      {"Other", "Mgmt-2", 0},                    // a rename of another port group only logs
      {"Mgmt-2", "Mgmt-3", 1},                   // the management network by name
      {"dvportgroup-3-cloud-1", "Mgmt-4", 2},    // the management network by uuid
      {"dvportgroup-3-cloud-1", "Mgmt-4", 2},    // same name: nothing
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.new_name);
    CorvelNWRuntime incoming;
    incoming.set_uuid(stored.uuid());
    incoming.set_name(c.new_name);
    incoming.set_cloud_uuid(kCloud);
    incoming.set_tenant_uuid("tenant-other");
    incoming.set_num_ports(64);
    CorvelNWRuntime* out = nullptr;
    ASSERT_EQ(CorvelCreatePGinDbView(txn_, stored.uuid(), incoming, "vrf-default", &out, c.mgmt_nw,
                                     false),
              SYSERR_SUCCESS);
    Commit();
    CorvelNWRuntime pg;
    ASSERT_TRUE(GetRuntime(stored.uuid(), &pg));
    EXPECT_EQ(pg.name(), c.new_name);
    EXPECT_EQ(pg.tenant_uuid(), "tenant-7");
    EXPECT_EQ(pg.vrf_context_uuid(), "vrf-7");
    EXPECT_TRUE(pg.interested_nw());
    ASSERT_EQ(pg.ip_subnet_size(), 1);
    EXPECT_EQ(pg.ip_subnet(0).ref_count(), 4);
    EXPECT_EQ(Events(MGMT_NW_NAME_CHANGED).size(), c.events);
  }
  auto ev = Events(MGMT_NW_NAME_CHANGED).back();
  EXPECT_EQ(ev.event_details().mgmt_nw_change_details().vcenter(), "vc.example");

  // A new port group starts with the admin tenant and the default VRF context.
  CorvelNWRuntime fresh;
  fresh.set_uuid("network-8-cloud-1");
  fresh.set_name("VM Network");
  CorvelNWRuntime* out = nullptr;
  ASSERT_EQ(CorvelCreatePGinDbView(txn_, fresh.uuid(), fresh, "vrf-default", &out, "", true),
            SYSERR_SUCCESS);
  EXPECT_EQ(out->tenant_uuid(), "admin");
  EXPECT_EQ(out->vrf_context_uuid(), "vrf-default");
}

TEST_F(StoreTest, VmNicsOnNoneNetworkKeepStoredDataOrGo) {
  CorvelVMRuntime stored;
  stored.set_uuid("vm-4-cloud-1");
  stored.set_name("web");
  *stored.add_guest_nic() = Nic("m1", "pg-a", "Network adapter 1");
  *stored.add_guest_nic() = Nic("m2", "pg-b", "Network adapter 2");
  PutRuntime(stored);

  CorvelVMRuntime incoming;
  incoming.set_uuid("vm-4-cloud-1");
  incoming.set_name("web");
  incoming.set_powerstate("poweredOn");
  *incoming.add_guest_nic() = Nic("m3", "pg-c");
  *incoming.add_guest_nic() = Nic("m2", "none");
  *incoming.add_guest_nic() = Nic("m9", "none");
  CorvelVMRuntime* out = nullptr;
  ASSERT_EQ(CorvelCreateVMinDbView(txn_, incoming, &out, false, false), SYSERR_SUCCESS);
  Commit();
  CorvelVMRuntime vm;
  ASSERT_TRUE(GetRuntime("vm-4-cloud-1", &vm));
  ASSERT_EQ(vm.guest_nic_size(), 2);
  EXPECT_EQ(vm.guest_nic(0).mac_addr(), "m3");
  EXPECT_EQ(vm.guest_nic(1).network_name(), "pg-b");
  EXPECT_TRUE(vm.vcenter_vnic_discovered());
}

TEST_F(StoreTest, VmDiscoveryDisabledWritesOnlySeVms) {
  CorvelVMRuntime ordinary;
  ordinary.set_uuid("vm-6-cloud-1");
  ordinary.set_name("app");
  ordinary.set_vcenter_vm_type(VMTYPE_POOL_SRVR);
  CorvelVMRuntime* out = nullptr;
  bool owned = false;
  ASSERT_EQ(CorvelCreateVMinDbView(txn_, ordinary, &out, true, true, &owned), SYSERR_SUCCESS);
  ASSERT_NE(out, nullptr);
  EXPECT_TRUE(owned);
  delete out;

  CorvelVMRuntime se = ordinary;
  se.set_uuid("vm-7-cloud-1");
  se.set_vcenter_vm_type(VMTYPE_SE_VM);
  ASSERT_EQ(CorvelCreateVMinDbView(txn_, se, &out, true, true, &owned), SYSERR_SUCCESS);
  EXPECT_FALSE(owned);
  Commit();
  CorvelVMRuntime vm;
  EXPECT_FALSE(GetRuntime("vm-6-cloud-1", &vm));
  EXPECT_TRUE(GetRuntime("vm-7-cloud-1", &vm));
}

TEST_F(StoreTest, AnUnreadableStoredRecordIsNeverOverwritten) {
  // A record of another type under the host's key: present, but not a host.
  CorvelClusterRuntime imposter;
  imposter.set_uuid("host-1-cloud-1");
  imposter.set_name("not a host");
  auto* txn = new Transaction();
  txn->db_view()->DbUpdate(DbIndex(CorvelTable<CorvelHostRuntime>(), "host-1-cloud-1"), nullptr,
                           &imposter, false, false, false);
  ASSERT_EQ(txn->Commit(false), SYSERR_SUCCESS);

  CorvelHostRuntime* out = nullptr;
  EXPECT_NE(CorvelCreateHostinDbView(txn_, "host-1-cloud-1", "vc", Host("host-1", "poweredOn"),
                                     &out, true),
            SYSERR_SUCCESS);
  EXPECT_EQ(out, nullptr);
  Commit();
  google::protobuf::Message* cfg = nullptr;
  google::protobuf::Message* rt = nullptr;
  ASSERT_EQ(db_->GetInternal(CorvelTable<CorvelHostRuntime>(), "host-1-cloud-1", &cfg, &rt),
            SYSERR_SUCCESS);
  ASSERT_NE(dynamic_cast<CorvelClusterRuntime*>(rt), nullptr);
  EXPECT_EQ(static_cast<CorvelClusterRuntime*>(rt)->name(), "not a host");
  delete cfg;
  delete rt;
}

TEST_F(StoreTest, VcenterDatacenterSeVmAndConnectorStatusCreation) {
  CorvelVcenterRuntime* vc = nullptr;
  ASSERT_EQ(CorvelCreateVcenterinDbview(txn_, kCloud, kCloud, &vc), SYSERR_SUCCESS);
  EXPECT_EQ(vc->vcenter_url(), kCloud);
  EXPECT_EQ(vc->type(), CLOUD_VCENTER);
  EXPECT_EQ(vc->inventory_progress(), CorvelRetrieveDiscoveryStateString(DISCOVERY_NETWORK));

  VIDCInfo info;
  info.set_uuid(kDc);
  info.set_name("DC1");
  info.set_managed_object_id("datacenter-2");
  CorvelDCRuntime* dc = nullptr;
  ASSERT_EQ(CorvelCreateDCinDbview(txn_, kDc, info, &dc), SYSERR_SUCCESS);
  EXPECT_EQ(dc->inventory_state(), DC_DISC_HOST);
  EXPECT_EQ(dc->managed_object_id(), "datacenter-2");

  CorvelVMRuntime vm;
  vm.set_uuid("vm-12-cloud-1");
  vm.set_name("se-1");
  vm.set_host("host-1-cloud-1");
  vm.set_vcenter_vm_type(VMTYPE_SE_VM);
  CorvelSEVMRuntime* sevm = nullptr;
  ASSERT_EQ(CorvelCreateSEVMinDbView(txn_, &vm, &sevm), SYSERR_SUCCESS);
  EXPECT_EQ(sevm->uuid(), "sevm-12-cloud-1");
  EXPECT_EQ(sevm->host_uuid(), "host-1-cloud-1");
  EXPECT_EQ(sevm->tenant_uuid(), "admin");

  CloudConnectorStatus* st = nullptr;
  ASSERT_EQ(CorvelCreateCloudConnectorStatusinDbview(txn_, kCloud, &st), SYSERR_SUCCESS);
  EXPECT_EQ(st->detail().state(), CLOUD_STATE_UNKNOWN);
  EXPECT_EQ(st->detail().cc_id(), kCloud);
  Commit();
  CorvelVcenterRuntime stored_vc;
  EXPECT_TRUE(GetRuntime(kCloud, &stored_vc));
}

// ---------------------------------------------------------------------------------------------
// Cross-references

TEST_F(StoreTest, ReferenceListsHoldEachUuidOnceAndLoseEveryCopy) {
  CorvelNWRuntime pg;
  pg.set_uuid("network-1-cloud-1");
  EXPECT_EQ(CorvelUpdatePGVMRef(&pg, "vm-1"), 1);
  EXPECT_EQ(CorvelUpdatePGVMRef(&pg, "vm-1"), 0);
  CorvelDCRuntime dc;
  CorvelUpdateDCVMRef(&dc, "vm-1");
  CorvelUpdateDCVMRef(&dc, "vm-2");
  CorvelUpdateDCVMRef(&dc, "vm-1");
  EXPECT_EQ(dc.vm_uuids_size(), 2);

  // A list holding a uuid twice loses both.
  pg.add_vm_uuids("vm-2");
  pg.add_vm_uuids("vm-1");
  PutRuntime(pg);
  CorvelNWRuntime* tracked = nullptr;
  ASSERT_EQ(CorvelInventoryRetrievePGinDbview(txn_, pg.uuid(), &tracked), SYSERR_SUCCESS);
  CorvelRemoveVMRefInPGs(txn_, tracked, "vm-1");
  Commit();
  ASSERT_TRUE(GetRuntime(pg.uuid(), &pg));
  EXPECT_EQ(std::vector<std::string>(pg.vm_uuids().begin(), pg.vm_uuids().end()),
            std::vector<std::string>{"vm-2"});
}

TEST_F(StoreTest, RemovingHostsAndVms) {
  CorvelDCRuntime dc;
  dc.set_uuid(kDc);
  dc.set_name("DC1");
  dc.set_vcenter_uuid(kCloud);
  for (const char* h : {"host-1-cloud-1", "host-2-cloud-1"}) dc.add_host_uuids(h);
  dc.add_vm_uuids("vm-1-cloud-1");
  dc.add_cluster_uuids("domain-c1-cloud-1");
  PutRuntime(dc);
  CorvelVcenterRuntime vc;
  vc.set_uuid(kCloud);
  vc.add_datacenter_uuids(kDc);
  PutRuntime(vc);
  CorvelClusterRuntime cluster;
  cluster.set_uuid("domain-c1-cloud-1");
  cluster.set_datacenter_uuid(kDc);
  cluster.add_host_uuids("host-1-cloud-1");
  PutRuntime(cluster);
  for (const char* p : {"network-1-cloud-1", "network-2-cloud-2"}) {
    CorvelNWRuntime pg;
    pg.set_uuid(p);
    pg.add_host_uuids("host-1-cloud-1");
    pg.add_host_uuids("host-2-cloud-1");
    pg.add_vm_uuids("vm-1-cloud-1");
    PutRuntime(pg);
  }
  CorvelHostRuntime h1 = Host("host-1", "poweredOn");
  h1.set_cluster_uuid(cluster.uuid());
  h1.add_vm_uuids("vm-1-cloud-1");
  PutRuntime(h1);
  CorvelHostRuntime h2 = Host("host-2", "poweredOn");  // standalone
  PutRuntime(h2);

  CorvelHostRuntime* host = nullptr;
  ASSERT_EQ(CorvelInventoryRetrieveHostinDbview(txn_, h1.uuid(), &host), SYSERR_SUCCESS);
  CorvelRemoveHostRef(txn_, host);
  ASSERT_EQ(CorvelInventoryRetrieveHostinDbview(txn_, h2.uuid(), &host), SYSERR_SUCCESS);
  CorvelRemoveHostRef(txn_, host);

  CorvelVMRuntime vm;
  vm.set_uuid("vm-1-cloud-1");
  vm.set_vcenter_datacenter_uuid(kDc);
  vm.set_host(h1.uuid());
  CorvelRemoveVMRef(txn_, &vm);
  Commit();

  ASSERT_TRUE(GetRuntime(kDc, &dc));
  EXPECT_EQ(dc.host_uuids_size(), 0);  // both, the standalone host included
  EXPECT_EQ(dc.vm_uuids_size(), 0);
  ASSERT_TRUE(GetRuntime(cluster.uuid(), &cluster));
  EXPECT_EQ(cluster.host_uuids_size(), 0);
  for (const char* p : {"network-1-cloud-1", "network-2-cloud-2"}) {
    CorvelNWRuntime pg;
    ASSERT_TRUE(GetRuntime(p, &pg));
    EXPECT_EQ(pg.host_uuids_size(), 0) << p;
    EXPECT_EQ(pg.vm_uuids_size(), 0) << p;
  }
  ASSERT_TRUE(GetRuntime(h1.uuid(), &h1));
  EXPECT_EQ(h1.vm_uuids_size(), 0);

  // A VM whose datacenter is missing leaves everything as it is.
  CorvelNWRuntime pg;
  pg.set_uuid("network-3-cloud-1");
  pg.add_vm_uuids("vm-5-cloud-1");
  PutRuntime(pg);
  CorvelVMRuntime orphan;
  orphan.set_uuid("vm-5-cloud-1");
  orphan.set_vcenter_datacenter_uuid("datacenter-404-cloud-1");
  CorvelRemoveVMRef(txn_, &orphan);
  Commit();
  ASSERT_TRUE(GetRuntime(pg.uuid(), &pg));
  EXPECT_EQ(pg.vm_uuids_size(), 1);
}

// ---------------------------------------------------------------------------------------------
// Interested VMs and hosts

TEST_F(StoreTest, InterestedVmsFollowTheirDatacenter) {
  for (const char* d : {"datacenter-2-cloud-1", "datacenter-3-cloud-1"}) {
    CorvelDCRuntime dc;
    dc.set_uuid(d);
    dc.set_name(d);
    PutRuntime(dc);
  }
  for (auto [vm_uuid, dc_uuid] : {std::pair{"vm-1-cloud-1", "datacenter-2-cloud-1"},
                                  std::pair{"vm-2-cloud-1", "datacenter-2-cloud-1"},
                                  std::pair{"vm-3-cloud-1", "datacenter-3-cloud-1"}}) {
    CorvelVMRuntime vm;
    vm.set_uuid(vm_uuid);
    vm.set_vcenter_datacenter_uuid(dc_uuid);
    vm.set_host("host-1-cloud-1");
    PutRuntime(vm);
  }
  VIInterestedVMs add;
  for (const char* v : {"vm-1-cloud-1", "vm-1-cloud-1", "vm-2-cloud-1", "vm-3-cloud-1", "vm-404"}) {
    add.add_vm_uuids(v);
  }
  CorvelAddInterestedVMsforDC(&add);
  CorvelDCRuntime dc2;
  ASSERT_TRUE(GetRuntime("datacenter-2-cloud-1", &dc2));
  EXPECT_EQ(dc2.interested_vms_size(), 2);
  EXPECT_EQ(dc2.interested_hosts_size(), 1);

  // The first existing VM picks the datacenter; VMs of another datacenter stay there.
  VIInterestedVMs del;
  for (const char* v : {"vm-404", "vm-1-cloud-1", "vm-3-cloud-1"}) del.add_vm_uuids(v);
  CorvelDelInterestedVMsforDC(txn_, &del);
  Commit();
  ASSERT_TRUE(GetRuntime("datacenter-2-cloud-1", &dc2));
  ASSERT_EQ(dc2.interested_vms_size(), 1);
  EXPECT_EQ(dc2.interested_vms(0).interested_uuid(), "vm-2-cloud-1");
  CorvelDCRuntime dc3;
  ASSERT_TRUE(GetRuntime("datacenter-3-cloud-1", &dc3));
  EXPECT_EQ(dc3.interested_vms_size(), 1);

  CorvelDCRuntime* tracked = nullptr;
  ASSERT_EQ(CorvelInventoryRetrieveDCinDbview(txn_, "datacenter-2-cloud-1", &tracked), SYSERR_SUCCESS);
  CorvelDelDCInterestedHosts(txn_, tracked, "host-9");
  EXPECT_EQ(tracked->interested_hosts_size(), 1);
  CorvelDelDCInterestedHosts(txn_, tracked, "host-1-cloud-1");
  EXPECT_EQ(tracked->interested_hosts_size(), 0);
}

// ---------------------------------------------------------------------------------------------
// Status and discovery state

TEST_F(StoreTest, DatacenterPhasesSetTheVcenterProgress) {
  CorvelVcenterRuntime vc;
  vc.set_uuid(kCloud);
  PutRuntime(vc);
  CorvelDCRuntime dc;
  dc.set_uuid(kDc);
  dc.set_vcenter_uuid(kCloud);
  dc.add_host_uuids("h1");
  dc.add_nw_uuids("n1");
  dc.add_nw_uuids("n2");
  PutRuntime(dc);
  CorvelDatacenter entry;
  entry.num_outstanding_vnic_sevm_reqs = 1;
  entry.num_outstanding_vnic_vm_notif = 2;

  struct Case {
    DCDiscoveryState state;
    int progress;
    CORVEL_DC_DISC_STATE text;
  } cases[] = {
      {DC_DISC_DC, 10, DISCOVERY_NETWORK},  {DC_DISC_HOST, 30, DISCOVERY_HOST},
      {DC_DISC_CLUSTER, 50, DISCOVERY_CLUSTER}, {DC_DISC_PG, 10, DISCOVERY_NETWORK},
      {DC_DISC_VM, 60, DISCOVERY_VM},       {DC_DISC_COMPLETE, 80, DISCOVERY_VM},
      {DC_DISC_SEOVA, 0, DISCOVERY_VM},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.state);
    CorvelDCRuntime* dcp = nullptr;
    ASSERT_EQ(CorvelInventoryRetrieveDCinDbview(txn_, kDc, &dcp), SYSERR_SUCCESS);
    CorvelUpdateDCInventoryState(dcp, &entry, txn_, c.state);
    Commit();
    ASSERT_TRUE(GetRuntime(kCloud, &vc));
    EXPECT_EQ(vc.progress(), c.progress);
    EXPECT_EQ(vc.inventory_progress(), CorvelRetrieveDiscoveryStateString(c.text));
    EXPECT_EQ(vc.num_nws(), 2);
    EXPECT_EQ(vc.num_hosts(), 1);
    EXPECT_EQ(vc.num_vcenter_req_pending(), 3);
    EXPECT_EQ(entry.discovery_state, c.state);
  }
  EXPECT_NE(CorvelRetrieveDiscoveryStateString(DISCOVERY_HOST), " ");
  EXPECT_EQ(CorvelRetrieveDiscoveryStateString(static_cast<CORVEL_DC_DISC_STATE>(99)), " ");
}

TEST_F(StoreTest, ConnectorStatusUpdatesOnlyTheMatchingImageVersion) {
  CloudConnectorStatus st;
  st.set_uuid(kCloud);
  for (const char* v : {"30.1", "30.2"}) {
    auto* img = st.add_se_image_state();
    img->set_version(v);
    img->set_state(IMG_GEN_IN_PROGRESS);
  }
  corvel_test::PutConfig(st, kCloud);
  CorvelDbUpdateCloudConnectorStatus(CLOUD_STATE_PLACEMENT_READY, CC_STATE_PLACEMENT_READY, kCloud,
                                     IMG_GEN_COMPLETE, "done", "");
  CorvelDbUpdateCloudConnectorStatus(CLOUD_STATE_PLACEMENT_READY, CC_STATE_IMAGE_COMPLETE, kCloud,
                                     IMG_GEN_FAILED, "no space", "30.2");
  CorvelDbUpdateCloudConnectorStatus(CLOUD_STATE_FAILED, CC_STATE_INIT_FAILED, "cloud-none",
                                     IMG_GEN_FAILED, "", "30.2");  // no status: nothing
  google::protobuf::Message* cfg = nullptr;
  google::protobuf::Message* rt = nullptr;
  ASSERT_EQ(db_->GetInternal(CorvelTable<CloudConnectorStatus>(), kCloud, &cfg, &rt), SYSERR_SUCCESS);
  auto* got = dynamic_cast<CloudConnectorStatus*>(cfg);
  ASSERT_NE(got, nullptr);
  EXPECT_EQ(got->state(), CC_STATE_IMAGE_COMPLETE);
  EXPECT_EQ(got->detail().state(), CLOUD_STATE_PLACEMENT_READY);
  EXPECT_EQ(got->se_image_state(0).state(), IMG_GEN_IN_PROGRESS);
  EXPECT_EQ(got->se_image_state(1).state(), IMG_GEN_FAILED);
  EXPECT_EQ(got->se_image_state(1).reason(), "no space");
  delete cfg;
  delete rt;
}

TEST_F(StoreTest, PowerTransitionsReportOnlyInterestedVmsToThePoolService) {
  RecordingService pool(PoolService::descriptor());
  ASSERT_TRUE(pool.Subscribe());
  CorvelDCRuntime dc;
  dc.set_uuid(kDc);
  dc.add_interested_vms()->set_interested_uuid("vm-1-cloud-1");
  PutRuntime(dc);
  for (const char* v : {"vm-1-cloud-1", "vm-2-cloud-1"}) {
    CorvelVMRuntime vm;
    vm.set_uuid(v);
    vm.set_vcenter_datacenter_uuid(kDc);
    vm.set_powerstate("poweredOn");
    PutRuntime(vm);
  }
  for (const char* v : {"vm-1-cloud-1", "vm-2-cloud-1"}) {
    CorvelVMRuntime incoming;
    incoming.set_uuid(v);
    incoming.set_vcenter_datacenter_uuid(kDc);
    incoming.set_powerstate("poweredOff");
    CorvelVMRuntime* out = nullptr;
    ASSERT_EQ(CorvelCreateVMinDbView(txn_, incoming, &out, false, false), SYSERR_SUCCESS);
  }
  // A VM seen for the first time has no stored power state: no report.
  CorvelVMRuntime fresh;
  fresh.set_uuid("vm-3-cloud-1");
  fresh.set_powerstate("poweredOn");
  CorvelVMRuntime* out = nullptr;
  ASSERT_EQ(CorvelCreateVMinDbView(txn_, fresh, &out, false, false), SYSERR_SUCCESS);
  Commit();
  corvel_test::Drain(io_);
  ASSERT_EQ(pool.calls().size(), 1u);
  EXPECT_EQ(pool.calls()[0].method, "ServerUpdate");
  const auto& req = static_cast<const RPCRequest&>(*pool.calls()[0].request);
  EXPECT_EQ(req.uuid(), "vm-1-cloud-1");
  EXPECT_EQ(req.obj_type(), SERVERUPDATEREQ);
  EXPECT_EQ(req.action_params().pool_server_state().state(), POOL_SERVER_DOWN);
}

}  // namespace
