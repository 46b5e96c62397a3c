#include "platform/naming/se_versions.h"

#include <gtest/gtest.h>

#include "platform/datastore/datastore.h"
#include "platform/datastore/transaction.h"
#include "proto/config.pb.h"

namespace {

class SeVersionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    db_ = Datastore::InMemory();
    Datastore::g_db_ = db_.get();
  }
  void Put(const google::protobuf::Message& cfg, const std::string& uuid) {
    auto* txn = new Transaction();
    txn->db_view()->DbUpdate(DbIndex(db_table_name_from_pb(cfg.GetDescriptor()->name()), uuid), &cfg,
                             nullptr, false, false, false);
    ASSERT_EQ(txn->Commit(false), SYSERR_SUCCESS);
  }
  void PutImage(const std::string& uuid, const std::string& tag, bool with_version,
                const std::string& path) {
    Image image;
    image.set_uuid(uuid);
    image.mutable_se_info()->mutable_build()->set_tag(tag);
    if (with_version) image.mutable_se_info()->mutable_build()->set_version(tag + "-build");
    image.mutable_se_info()->set_path(path);
    Put(image, uuid);
  }
  std::unique_ptr<Datastore> db_;
};

TEST_F(SeVersionsTest, VersionsPathsAndGroupVersions) {
  EXPECT_TRUE(get_active_versions().empty());
  EXPECT_EQ(get_image_path("30.1"), "None");
  EXPECT_EQ(SeGroupVersion("serviceenginegroup-1"), "");

  PutImage("image-1", "30.1", true, "/images/30.1/se.pkg");
  PutImage("image-2", "30.2", true, "/images/30.2/se.pkg");
  PutImage("image-3", "29.9", false, "/images/29.9/se.pkg");  // no build version: not active
  EXPECT_EQ(get_active_versions(), (std::set<std::string>{"30.1", "30.2"}));
  EXPECT_EQ(get_image_path("30.2"), "/images/30.2/se.pkg");
  EXPECT_EQ(get_image_path("29.9"), "None");

  ServiceEngineGroup group;
  group.set_uuid("serviceenginegroup-1");
  Put(group, group.uuid());
  EXPECT_EQ(SeGroupVersion(group.uuid()), "30.2");  // newest active version
  group.set_se_version("30.1");
  Put(group, group.uuid());
  EXPECT_EQ(SeGroupVersion(group.uuid()), "30.1");
}

}  // namespace
