#include <google/protobuf/reflection.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "controller/vinfra/corvel/corvel_common.h"
#include "controller/vinfra/corvel/corvel_common_test_util.h"

namespace {

// One linked inventory per cloud: vCenter, datacenter, cluster, host, VM, SE VM, port group.
struct CloudRecords {
  explicit CloudRecords(const std::string& cloud) {
    const std::string dc_id = "datacenter-1-" + cloud;
    const std::string cluster_id = "domain-c1-" + cloud;
    const std::string host_id = "host-1-" + cloud;
    const std::string vm_id = "vm-1-" + cloud;
    const std::string sevm_id = "sevm-1-" + cloud;
    const std::string pg_id = "network-1-" + cloud;

    vcenter.set_uuid(cloud);
    vcenter.set_cloud_uuid(cloud);
    vcenter.add_datacenter_uuids(dc_id);

    dc.set_uuid(dc_id);
    dc.set_cloud_uuid(cloud);
    dc.set_vcenter_uuid(cloud);
    dc.add_cluster_uuids(cluster_id);
    dc.add_host_uuids(host_id);
    dc.add_vm_uuids(vm_id);
    dc.add_sevm_uuids(sevm_id);
    dc.add_nw_uuids(pg_id);

    cluster.set_uuid(cluster_id);
    cluster.set_cloud_uuid(cloud);
    cluster.set_datacenter_uuid(dc_id);
    cluster.add_host_uuids(host_id);

    host.set_uuid(host_id);
    host.set_cloud_uuid(cloud);
    host.set_cluster_uuid(cluster_id);
    host.add_vm_uuids(vm_id);

    vm.set_uuid(vm_id);
    vm.set_cloud_uuid(cloud);
    vm.set_vcenter_datacenter_uuid(dc_id);
    vm.set_host(host_id);

    sevm.set_uuid(sevm_id);
    sevm.set_cloud_uuid(cloud);
    sevm.set_vcenter_datacenter_uuid(dc_id);
    sevm.set_host_uuid(host_id);

    pg.set_uuid(pg_id);
    pg.set_cloud_uuid(cloud);
    pg.set_datacenter_uuid(dc_id);
    pg.add_host_uuids(host_id);
    pg.add_vm_uuids(vm_id);
  }
  std::vector<const google::protobuf::Message*> records() const {
    return {&vcenter, &dc, &cluster, &host, &vm, &sevm, &pg};
  }

  CorvelVcenterRuntime vcenter;
  CorvelDCRuntime dc;
  CorvelClusterRuntime cluster;
  CorvelHostRuntime host;
  CorvelVMRuntime vm;
  CorvelSEVMRuntime sevm;
  CorvelNWRuntime pg;
};

class StaleTest : public corvel_test::ObjectStoreFixture {
 protected:
  void PutClouds() {
    Put(c1_.records());
    Put(c2_.records());
  }

  // The repeated string `field` of the committed runtime record (table, uuid).
  std::vector<std::string> List(const std::string& table, const std::string& uuid,
                                const std::string& field) {
    std::unique_ptr<google::protobuf::Message> cfg;
    std::unique_ptr<google::protobuf::Message> runtime;
    EXPECT_EQ(db_->Read(DbIndex(table, uuid), &cfg, &runtime), SYSERR_SUCCESS) << table << uuid;
    if (runtime == nullptr) return {};
    const auto* f = runtime->GetDescriptor()->FindFieldByName(field);
    const auto list = runtime->GetReflection()->GetRepeatedFieldRef<std::string>(*runtime, f);
    return {list.begin(), list.end()};
  }

  bool Exists(const std::string& table, const std::string& uuid) {
    std::unique_ptr<google::protobuf::Message> cfg;
    std::unique_ptr<google::protobuf::Message> runtime;
    return db_->Read(DbIndex(table, uuid), &cfg, &runtime) == SYSERR_SUCCESS;
  }

  void CheckForDelete(const std::string& table, time_t ts, bool flush, bool resync = false,
                      const std::map<std::string, bool>& resync_list = {}) {
    auto* txn = new Transaction();
    EXPECT_EQ(CorvelInventoryCheckforDelete(table, txn, ts, "c1", flush, resync, resync_list),
              SYSERR_SUCCESS);
    ASSERT_EQ(txn->Commit(false), SYSERR_SUCCESS);
  }

  CloudRecords c1_{"c1"};
  CloudRecords c2_{"c2"};
};

// ---------------------------------------------------------------------------------------------
// Removal of stale records, per table and mode

// A parent list that names the removed record.
struct Ref {
  std::string table;
  std::string uuid;
  std::string field;
};

struct RemovalCase {
  std::string name;
  std::string table;
  std::string uuid;  // the c1 record; its c2 twin has "c2" in place of "c1"
  std::vector<Ref> refs;
  bool flush;
};

void PrintTo(const RemovalCase& c, std::ostream* os) { *os << c.name; }

std::string ForCloud(std::string s, const std::string& cloud) {
  s.replace(s.rfind("c1"), 2, cloud);
  return s;
}

class StaleRemovalTest : public StaleTest, public ::testing::WithParamInterface<RemovalCase> {};

TEST_P(StaleRemovalTest, DeletesTheCloudsStaleRecordAndDetachesItUnlessFlushing) {
  const RemovalCase& c = GetParam();
  PutClouds();
  const time_t ts = GET_LATEST_TIME();  // both clouds were written before it

  CheckForDelete(c.table, ts, c.flush);

  EXPECT_FALSE(Exists(c.table, c.uuid));
  EXPECT_TRUE(Exists(c.table, ForCloud(c.uuid, "c2"))) << "another cloud's record is kept";
  for (const Ref& ref : c.refs) {
    SCOPED_TRACE(ref.table + " " + ref.uuid + " " + ref.field);
    std::vector<std::string> list = List(ref.table, ref.uuid, ref.field);
    EXPECT_EQ(std::count(list.begin(), list.end(), c.uuid), c.flush ? 1 : 0);
    std::vector<std::string> twin =
        List(ref.table, ForCloud(ref.uuid, "c2"), ref.field);
    EXPECT_EQ(std::count(twin.begin(), twin.end(), ForCloud(c.uuid, "c2")), 1);
  }
}

std::vector<RemovalCase> RemovalCases() {
  const std::string dc = "datacenter-1-c1";
  const std::vector<RemovalCase> tables = {
      {"PortGroup", CorvelTable<CorvelNWRuntime>(), "network-1-c1",
       {{CorvelTable<CorvelDCRuntime>(), dc, "nw_uuids"}}, false},
      {"Datacenter", CorvelTable<CorvelDCRuntime>(), dc,
       {{CorvelTable<CorvelVcenterRuntime>(), "c1", "datacenter_uuids"}}, false},
      {"Cluster", CorvelTable<CorvelClusterRuntime>(), "domain-c1-c1",
       {{CorvelTable<CorvelDCRuntime>(), dc, "cluster_uuids"}}, false},
      {"Host", CorvelTable<CorvelHostRuntime>(), "host-1-c1",
       {{CorvelTable<CorvelClusterRuntime>(), "domain-c1-c1", "host_uuids"},
        {CorvelTable<CorvelDCRuntime>(), dc, "host_uuids"},
        {CorvelTable<CorvelNWRuntime>(), "network-1-c1", "host_uuids"}},
       false},
      {"VM", CorvelTable<CorvelVMRuntime>(), "vm-1-c1",
       {{CorvelTable<CorvelDCRuntime>(), dc, "vm_uuids"},
        {CorvelTable<CorvelHostRuntime>(), "host-1-c1", "vm_uuids"},
        {CorvelTable<CorvelNWRuntime>(), "network-1-c1", "vm_uuids"}},
       false},
      // An SE VM leaves its datacenter's sevm_uuids as well.
      {"SeVm", CorvelTable<CorvelSEVMRuntime>(), "sevm-1-c1",
       {{CorvelTable<CorvelDCRuntime>(), dc, "sevm_uuids"}}, false},
      {"Vcenter", CorvelTable<CorvelVcenterRuntime>(), "c1", {}, false},
  };
  std::vector<RemovalCase> cases;
  for (RemovalCase c : tables) {
    cases.push_back(c);
    c.name += "Flush";
    c.flush = true;
    cases.push_back(c);
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Tables, StaleRemovalTest, ::testing::ValuesIn(RemovalCases()),
                         [](const auto& info) { return info.param.name; });

TEST_F(StaleTest, RecordRewrittenAfterThePassBeganSurvives) {
  CorvelNWRuntime fresh = c1_.pg;
  fresh.set_uuid("network-2-c1");
  PutClouds();
  Put(fresh);
  const time_t ts = GET_LATEST_TIME();
  Put(fresh);  // seen again by the pass

  CheckForDelete(CorvelTable<CorvelNWRuntime>(), ts, false);

  EXPECT_FALSE(Exists(CorvelTable<CorvelNWRuntime>(), "network-1-c1"));
  EXPECT_TRUE(Exists(CorvelTable<CorvelNWRuntime>(), "network-2-c1"));
}

TEST_F(StaleTest, ResyncListProtectsOnlyDuringAResourceResync) {
  struct Case {
    const char* name;
    bool resource_resync;
    std::map<std::string, bool> list;
    bool survives;
  } cases[] = {
      {"listed during resync", true, {{"vm-1-c1", true}}, true},
      {"listed outside resync", false, {{"vm-1-c1", true}}, false},
      {"not listed", true, {{"vm-9-c1", true}}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PutClouds();
    const time_t ts = GET_LATEST_TIME();
    CheckForDelete(CorvelTable<CorvelVMRuntime>(), ts, false, c.resource_resync, c.list);
    EXPECT_EQ(Exists(CorvelTable<CorvelVMRuntime>(), "vm-1-c1"), c.survives);
  }
}

TEST_F(StaleTest, TablesOutsideTheInventoryAreLeftAlone) {
  ServiceEngine se;
  se.set_uuid("se-1");
  se.set_cloud_uuid("c1");
  corvel_test::PutConfig(se, "se-1");
  const time_t ts = GET_LATEST_TIME();

  CheckForDelete(CorvelTable<ServiceEngine>(), ts, false);
  auto* txn = new Transaction();
  CorvelInventoryRefreshTableObjects(CorvelTable<ServiceEngine>(), txn, "c1", "vc", "user");
  txn->Commit(false);

  EXPECT_TRUE(Exists(CorvelTable<ServiceEngine>(), "se-1"));
  EXPECT_TRUE(Events(VCENTER_USER_ROLE_CHANGE).empty());
}

// ---------------------------------------------------------------------------------------------
// Refresh

TEST_F(StaleTest, RefreshRenewsTheCloudsRecordsAndRaisesTheRoleEventWithTheTableSize) {
  struct Case {
    std::string table;
    std::string c1_key;
    const char* word;  // null: no event
  } cases[] = {
      {CorvelTable<CorvelNWRuntime>(), "network-1-c1", "Network"},
      {CorvelTable<CorvelDCRuntime>(), "datacenter-1-c1", "Datacenter"},
      {CorvelTable<CorvelClusterRuntime>(), "domain-c1-c1", "Cluster"},
      {CorvelTable<CorvelHostRuntime>(), "host-1-c1", "Host"},
      {CorvelTable<CorvelVMRuntime>(), "vm-1-c1", "Virtual Machine"},
      {CorvelTable<CorvelSEVMRuntime>(), "sevm-1-c1", "SE Virtual Machine"},
      {CorvelTable<CorvelVcenterRuntime>(), "c1", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.table);
    EventSink::Get().ClearTail();
    PutClouds();
    Tick();
    const time_t now = static_cast<time_t>(clock_->NowSeconds());
    std::unique_ptr<google::protobuf::Message> before_cfg, before;
    ASSERT_EQ(db_->Read(DbIndex(c.table, c.c1_key), &before_cfg, &before), SYSERR_SUCCESS);

    auto* txn = new Transaction();
    EXPECT_EQ(CorvelInventoryRefreshTableObjects(c.table, txn, "c1", "vc1.example", "kyvuser"),
              SYSERR_SUCCESS);
    ASSERT_EQ(txn->Commit(false), SYSERR_SUCCESS);

    // Only the other cloud's record still carries the old write time.
    std::vector<std::pair<std::string, std::string>> stale;
    ASSERT_EQ(db_->GetAll(c.table, &stale, now), SYSERR_SUCCESS);
    ASSERT_EQ(stale.size(), 1u);
    EXPECT_EQ(stale[0].second, ForCloud(c.c1_key, "c2"));
    std::unique_ptr<google::protobuf::Message> after_cfg, after;
    ASSERT_EQ(db_->Read(DbIndex(c.table, c.c1_key), &after_cfg, &after), SYSERR_SUCCESS);
    EXPECT_EQ(after->SerializeAsString(), before->SerializeAsString());

    std::vector<EventLog> events = Events(VCENTER_USER_ROLE_CHANGE);
    if (c.word == nullptr) {
      EXPECT_TRUE(events.empty());
      continue;
    }
    ASSERT_EQ(events.size(), 1u);
    const auto& details = events[0].event_details().vcenter_details();
    EXPECT_EQ(details.vcenter(), "vc1.example");
    EXPECT_EQ(details.user(), "kyvuser");
    EXPECT_EQ(details.vcenter_object(), c.word);
    EXPECT_EQ(details.previous_count(), 2) << "keys of every cloud are counted";
  }
}

TEST_F(StaleTest, RefreshForACloudWithoutRecordsRaisesNoEvent) {
  PutClouds();
  auto* txn = new Transaction();
  CorvelInventoryRefreshTableObjects(CorvelTable<CorvelHostRuntime>(), txn, "c3", "vc", "user");
  txn->Commit(false);
  EXPECT_TRUE(Events(VCENTER_USER_ROLE_CHANGE).empty());
}

// ---------------------------------------------------------------------------------------------
// Port-group deletability

TEST_F(StaleTest, PortGroupUsedByAnSeVnicIsNotDeletable) {
  auto* txn = new Transaction();
  EXPECT_TRUE(CorvelCheckPGforDelete(txn, "network-1-c1")) << "no SE at all";
  txn->Abort(false);

  ServiceEngine se1;
  se1.set_name("se-1");
  se1.mutable_mgmt_vnic()->set_network_uuid("network-mgmt");
  se1.add_data_vnics()->set_network_uuid("network-d1");
  se1.add_data_vnics()->set_network_uuid("network-d2");
  corvel_test::PutConfig(se1, "se-1");
  ServiceEngine se2;
  se2.set_name("se-2");
  se2.add_data_vnics()->set_network_uuid("network-d3");
  corvel_test::PutConfig(se2, "se-2");

  struct Case {
    const char* pg;
    bool deletable;
  } cases[] = {
      {"network-mgmt", false}, {"network-d2", false}, {"network-d3", false}, {"network-1-c1", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pg);
    txn = new Transaction();
    EXPECT_EQ(CorvelCheckPGforDelete(txn, c.pg), c.deletable);
    txn->Abort(false);
  }
}

// ---------------------------------------------------------------------------------------------
// APIC mode

TEST_F(StaleTest, ApicModeKeepsOnlyTheManagementAndApicNetworksOfTheCloud) {
  CorvelNWRuntime mgmt = c1_.pg;
  mgmt.set_uuid("network-mgmt-c1");
  mgmt.set_type(CLOUD_VCENTER);
  CorvelNWRuntime apic = c1_.pg;
  apic.set_uuid("network-apic-c1");
  apic.set_type(CLOUD_APIC);
  c1_.dc.add_nw_uuids(mgmt.uuid());
  c1_.dc.add_nw_uuids(apic.uuid());
  PutClouds();
  Put({&mgmt, &apic});
  const std::string nw = CorvelTable<CorvelNWRuntime>();

  VIRemovedDiscoveredNetworksApicMode("network-missing");
  EXPECT_TRUE(Exists(nw, "network-1-c1")) << "nothing happens without the management network";

  VIRemovedDiscoveredNetworksApicMode("network-mgmt-c1");

  EXPECT_FALSE(Exists(nw, "network-1-c1"));
  EXPECT_TRUE(Exists(nw, "network-mgmt-c1"));
  EXPECT_TRUE(Exists(nw, "network-apic-c1"));
  EXPECT_TRUE(Exists(nw, "network-1-c2"));
  EXPECT_EQ(List(CorvelTable<CorvelDCRuntime>(), "datacenter-1-c1", "nw_uuids"),
            (std::vector<std::string>{"network-1-c1", "network-mgmt-c1", "network-apic-c1"}))
      << "flush mode leaves the datacenter's list alone";
}

}  // namespace
