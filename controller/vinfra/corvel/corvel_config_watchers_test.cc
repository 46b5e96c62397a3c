#include "controller/vinfra/corvel/corvel_config_watchers.h"

#include <gtest/gtest.h>

#include "controller/vinfra/corvel/corvel_test_util.h"

namespace {

class WatchersTest : public corvel_test::ConnectorFixture {
 protected:
  void SetUp() override {
    ConnectorFixture::SetUp();
    cache_ = new DbCache(db_.get(), &io_);
    DbCache::g_db_cache_ = cache_;
  }
  static void DeleteConfig(const google::protobuf::Message& msg, const std::string& uuid) {
    auto* txn = new Transaction();
    txn->db_view()->DbUpdate(DbIndex(db_table_name_from_pb(msg.GetDescriptor()->name()), uuid),
                             &msg, nullptr, true, false, false);
    ASSERT_EQ(txn->Commit(false), SYSERR_SUCCESS);
  }
  DbCache* cache_ = nullptr;
};

TEST_F(WatchersTest, FirstRestoredRecordIsGlobalUpdatesCallBackDeletionClears) {
  corvel_test::PutConfig(corvel_test::MakeCluster("cluster-1", "", {{"10.0.0.1", "vm-1"}}),
                         "cluster-1");
  std::vector<std::string> seen;
  ClusterObject::StartMonitoring(cache_, [&](ClusterObject* c) {
    seen.push_back(c->config().nodes(0).ip().addr());
  });
  ASSERT_NE(ClusterObject::g_cluster_obj_, nullptr);  // restored at start
  EXPECT_EQ(ClusterObject::g_cluster_obj_->config().uuid(), "cluster-1");

  corvel_test::PutConfig(corvel_test::MakeCluster("cluster-1", "", {{"10.0.0.2", "vm-1"}}),
                         "cluster-1");
  EXPECT_TRUE(seen.empty());  // delivered on the I/O context, not inside the commit
  corvel_test::Drain(io_);
  EXPECT_EQ(seen, std::vector<std::string>{"10.0.0.2"});

  DeleteConfig(Cluster(), "cluster-1");
  corvel_test::Drain(io_);
  EXPECT_EQ(ClusterObject::g_cluster_obj_, nullptr);
}

TEST_F(WatchersTest, SystemConfigurationAndImageStartEmptyAndFillOnCreate) {
  int sysconf_changes = 0;
  SysConfObject::StartMonitoring(cache_, [&](SysConfObject*) { ++sysconf_changes; });
  ImageObject::StartMonitoring(cache_, [](ImageObject*) {});
  EXPECT_EQ(SysConfObject::g_sysconf_obj_, nullptr);
  SystemConfiguration sc;
  sc.set_uuid("systemconfiguration-1");
  corvel_test::PutConfig(sc, sc.uuid());
  corvel_test::Drain(io_);
  ASSERT_NE(SysConfObject::g_sysconf_obj_, nullptr);
  corvel_test::PutConfig(sc, sc.uuid());
  corvel_test::Drain(io_);
  EXPECT_EQ(sysconf_changes, 1);
}

TEST_F(WatchersTest, CloudsAreMappedByUuidUntilDeleted) {
  Cloud a;
  a.set_uuid("cloud-a");
  a.set_name("A");
  corvel_test::PutConfig(a, a.uuid());
  CloudObjects::StartMonitoring(cache_);
  ASSERT_EQ(CloudObjects::g_cloud_objs.count("cloud-a"), 1u);
  Cloud b = a;
  b.set_uuid("cloud-b");
  corvel_test::PutConfig(b, b.uuid());
  corvel_test::Drain(io_);
  EXPECT_EQ(CloudObjects::g_cloud_objs.size(), 2u);
  a.set_name("A2");
  corvel_test::PutConfig(a, a.uuid());
  corvel_test::Drain(io_);
  EXPECT_EQ(CloudObjects::g_cloud_objs.at("cloud-a")->config().name(), "A2");
  DeleteConfig(a, a.uuid());
  corvel_test::Drain(io_);
  EXPECT_EQ(CloudObjects::g_cloud_objs.count("cloud-a"), 0u);
  EXPECT_TRUE(cache_->IsWatched(db_table_name_from_pb("IpamDnsProviderProfile")));
  delete DbCache::g_db_cache_;  // the map never outlives the cache's objects
  EXPECT_TRUE(CloudObjects::g_cloud_objs.empty());
}

}  // namespace
