#include "platform/naming/naming.h"

#include <gtest/gtest.h>

#include <boost/asio/io_context.hpp>

#include <memory>

#include "platform/common/clock.h"
#include "platform/datastore/datastore.h"
#include "platform/datastore/transaction.h"
#include "platform/naming/naming_test_records.pb.h"
#include "proto/config.pb.h"
#include "proto/corvel_runtime.pb.h"

namespace {

class NamingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    db_ = Datastore::InMemory();
    Datastore::g_db_ = db_.get();
    db_->AttachObjectClient(&io_);
  }
  void TearDown() override { db_.reset(); }

  // Commits (cfg, runtime) under (table, key); either half may be null.
  static void Put(const std::string& table, const std::string& key,
                  const google::protobuf::Message* cfg, const google::protobuf::Message* runtime) {
    auto* txn = new Transaction();
    ASSERT_EQ(txn->db_view()->DbUpdate(DbIndex(table, key), cfg, runtime), SYSERR_SUCCESS);
    ASSERT_EQ(txn->Commit(false), SYSERR_SUCCESS);
  }

  kyv::ScopedFakeClock clock_;
  boost::asio::io_context io_;
  std::unique_ptr<Datastore> db_;
};

TEST_F(NamingTest, LooksUpNameAndTenantByUuidKind) {
  Cloud cloud;
  cloud.set_uuid("cloud-1");
  cloud.set_name("Default-Cloud");
  cloud.set_tenant_uuid("tenant-admin");
  Put("cloud", "cloud-1", &cloud, nullptr);
  ServiceEngineGroup group;
  group.set_uuid("serviceenginegroup-7");
  group.set_name("Group-7");
  group.set_tenant_uuid("tenant-t1");
  Put("serviceenginegroup", "serviceenginegroup-7", &group, nullptr);
  Cluster cluster;  // has a name but no tenant field
  cluster.set_uuid("cluster-1");
  cluster.set_name("ctrl");
  Put("cluster", "cluster-1", &cluster, nullptr);
  // vCenter inventory objects live in the connector's runtime tables, runtime half only.
  CorvelDCRuntime dc;
  dc.set_uuid("datacenter-21-cloud-1");
  dc.set_name("DC-East");
  dc.set_tenant_uuid("tenant-admin");
  Put("corveldc", "datacenter-21-cloud-1", nullptr, &dc);
  CorvelClusterRuntime vc_cluster;
  vc_cluster.set_uuid("domain-c7-cloud-1");
  vc_cluster.set_name("Compute");
  Put("corvelcluster", "domain-c7-cloud-1", nullptr, &vc_cluster);
  // Tenant by tenant_ref in the configuration half, name only in the runtime half.
  NamingProbe probe;
  probe.set_tenant_ref("tenant-ref-1");
  NamingProbeRuntime probe_rt;
  probe_rt.set_name("probe");
  Put("namingprobe", "namingprobe-1", &probe, &probe_rt);

  struct Case {
    const char* uuid;
    const char* name;
    const char* tenant;
  } cases[] = {
      {"cloud-1", "Default-Cloud", "tenant-admin"},
      {"serviceenginegroup-7", "Group-7", "tenant-t1"},
      {"cluster-1", "ctrl", ""},
      {"datacenter-21-cloud-1", "DC-East", "tenant-admin"},
      {"domain-c7-cloud-1", "Compute", ""},
      {"namingprobe-1", "probe", "tenant-ref-1"},
      // Absent: unknown key, a kind without a table, no kind prefix at all.
      {"cloud-2", "", ""},
      {"tenant-admin", "", ""},
      {"host-9-cloud-1", "", ""},
      {"cloud", "", ""},
      {"-cloud-1", "", ""},
      {"", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.uuid);
    EXPECT_EQ(uuid_to_name(c.uuid), c.name);
    EXPECT_EQ(uuid_to_tenant(c.uuid), c.tenant);
  }
}

TEST_F(NamingTest, WithoutDatastoreEverythingIsAbsent) {
  Cloud cloud;
  cloud.set_name("Default-Cloud");
  cloud.set_tenant_uuid("tenant-admin");
  Put("cloud", "cloud-1", &cloud, nullptr);
  Datastore::g_db_ = nullptr;
  EXPECT_EQ(uuid_to_name("cloud-1"), "");
  EXPECT_EQ(uuid_to_tenant("cloud-1"), "");
}

}  // namespace
