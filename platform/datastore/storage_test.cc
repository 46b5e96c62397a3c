// Contract tests run against every Storage implementation.
#include "platform/datastore/storage.h"

#include <gtest/gtest.h>

#include "platform/datastore/datastore_testing.h"

namespace kyv {
namespace {

using testing::TempDir;

StoredObject Obj(const std::string& rt_bytes, const std::string& mor = "", int64_t t = 100) {
  StoredObject o;
  o.rt_type = "DsWidgetRuntime";
  o.rt_bytes = rt_bytes;
  o.write_time = t;
  o.managed_object_id = mor;
  return o;
}

WriteOp Put(const std::string& table, const std::string& key, StoredObject o) {
  return WriteOp{WriteOp::kPut, table, key, std::move(o)};
}

WriteOp Del(const std::string& table, const std::string& key) {
  return WriteOp{WriteOp::kDelete, table, key, StoredObject()};
}

std::vector<std::string> Keys(Storage* s, const std::string& table) {
  std::vector<KeyTime> kt;
  EXPECT_EQ(s->ListKeys(table, &kt), SYSERR_SUCCESS);
  std::vector<std::string> keys;
  for (const KeyTime& k : kt) keys.push_back(k.key);
  return keys;
}

class StorageTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    if (GetParam() == "memory") {
      storage_ = std::make_unique<MemoryStorage>();
    } else {
      std::string err;
      storage_ = SqliteStorage::Open(dir_.File("s.db"), &err);
      ASSERT_NE(storage_, nullptr) << err;
    }
  }
  TempDir dir_;
  std::unique_ptr<Storage> storage_;
};

TEST_P(StorageTest, PutGetListOverwriteDelete) {
  StoredObject both;
  both.cfg_type = "DsWidget";
  both.cfg_bytes = std::string("\0\x01\xff", 3);  // bytes survive as they are
  both.rt_type = "DsWidgetRuntime";
  both.write_time = 42;
  ASSERT_EQ(storage_->Apply(
                {Put("a", "k2", Obj("two")), Put("a", "k1", both), Put("b", "k0", Obj("other"))}),
            SYSERR_SUCCESS);
  EXPECT_EQ(Keys(storage_.get(), "a"), (std::vector<std::string>{"k1", "k2"}));

  StoredObject got;
  ASSERT_EQ(storage_->Get("a", "k1", &got), SYSERR_SUCCESS);
  EXPECT_EQ(got.cfg_type, "DsWidget");
  EXPECT_EQ(got.cfg_bytes, std::string("\0\x01\xff", 3));
  EXPECT_EQ(got.rt_type, "DsWidgetRuntime");
  EXPECT_EQ(got.rt_bytes, "");
  EXPECT_EQ(got.write_time, 42);

  // Overwrite, delete, and delete of an absent key, in one batch.
  ASSERT_EQ(storage_->Apply({Put("a", "k1", Obj("new", "", 7)), Del("a", "k2"), Del("a", "zz")}),
            SYSERR_SUCCESS);
  ASSERT_EQ(storage_->Get("a", "k1", &got), SYSERR_SUCCESS);
  EXPECT_EQ(got.cfg_type, "");
  EXPECT_EQ(got.rt_bytes, "new");
  EXPECT_EQ(got.write_time, 7);
  EXPECT_EQ(storage_->Get("a", "k2", &got), SYSERR_DB_OBJ_NOT_FOUND);
  EXPECT_EQ(Keys(storage_.get(), "a"), (std::vector<std::string>{"k1"}));
  EXPECT_EQ(Keys(storage_.get(), "none"), (std::vector<std::string>{}));
}

TEST_P(StorageTest, ManagedObjectIdIndex) {
  ASSERT_EQ(storage_->Apply({Put("vm", "z", Obj("", "vm-1")), Put("vm", "b", Obj("", "vm-1")),
                             Put("vm", "c", Obj("", "")), Put("host", "h", Obj("", "vm-9"))}),
            SYSERR_SUCCESS);
  std::string key;
  // Two keys share a value: the smallest is returned.
  ASSERT_EQ(storage_->LookupManagedObjectId("vm", "vm-1", &key), SYSERR_SUCCESS);
  EXPECT_EQ(key, "b");
  // Values are per table, and an empty value is not indexed.
  EXPECT_EQ(storage_->LookupManagedObjectId("vm", "vm-9", &key), SYSERR_DB_OBJ_NOT_FOUND);
  EXPECT_EQ(storage_->LookupManagedObjectId("vm", "", &key), SYSERR_DB_OBJ_NOT_FOUND);

  ASSERT_EQ(storage_->Apply({Del("vm", "b")}), SYSERR_SUCCESS);
  ASSERT_EQ(storage_->LookupManagedObjectId("vm", "vm-1", &key), SYSERR_SUCCESS);
  EXPECT_EQ(key, "z");
}

INSTANTIATE_TEST_SUITE_P(Backends, StorageTest, ::testing::Values("memory", "sqlite"));

}  // namespace
}  // namespace kyv
