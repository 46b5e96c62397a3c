// DbView: view-first reads, how writes are recorded, and what a commit sends to storage.
#include "platform/datastore/db_view.h"

#include <gtest/gtest.h>

#include "platform/datastore/datastore_testing.h"
#include "platform/datastore/transaction.h"
#include "proto/common.pb.h"

namespace {

using google::protobuf::Message;
using kyv::testing::Widget;
using kyv::testing::WrappedStorage;

const char kTable[] = "dswidget";

class DbViewTest : public ::testing::Test {
 protected:
  DbViewTest() {
    auto wrapped = std::make_unique<WrappedStorage>(std::make_unique<kyv::MemoryStorage>());
    storage_ = wrapped.get();
    db_ = std::make_unique<Datastore>(std::move(wrapped));
  }

  // Commits runtime widgets stored the way the connector stores runtime records: an empty
  // NullObj configuration half.
  void Seed(const std::vector<DsWidgetRuntime>& widgets) {
    Transaction* txn = new Transaction(db_.get());
    NullObj null_obj;
    for (const DsWidgetRuntime& w : widgets) {
      ASSERT_EQ(txn->db_view()->DbUpdate(DbIndex(kTable, w.uuid()), &null_obj, &w), SYSERR_SUCCESS);
    }
    ASSERT_EQ(txn->Commit(false), SYSERR_SUCCESS);
    storage_->batches.clear();
  }

  // The connector's way of loading an object into a view.
  DsWidgetRuntime* Load(Transaction* txn, const std::string& key) {
    Message* cfg = nullptr;
    Message* rt = nullptr;
    if (txn->db_view()->GetObjectFromDb(DbIndex(kTable, key), &cfg, &rt) != SYSERR_SUCCESS) {
      return nullptr;
    }
    auto* obj = new SvcObject(false);
    obj->set_obj(cfg, rt);
    obj->PbGetBaseObject(cfg != nullptr ? cfg : rt);
    obj->set_transaction(txn);
    txn->db_view()->add_to_tracked_object_list(obj);
    return static_cast<DsWidgetRuntime*>(rt);
  }

  const DsWidgetRuntime* Tracked(Transaction* txn, const std::string& key) {
    SvcObject* obj = txn->db_view()->GetObject(DbIndex(kTable, key));
    return obj == nullptr ? nullptr : static_cast<const DsWidgetRuntime*>(obj->obj_runtime());
  }

  std::string CommittedName(const std::string& key) {
    Message* cfg = nullptr;
    Message* rt = nullptr;
    if (db_->GetInternal(kTable, key, &cfg, &rt) != SYSERR_SUCCESS) return "<absent>";
    std::unique_ptr<Message> own_cfg(cfg), own_rt(rt);
    return static_cast<DsWidgetRuntime*>(rt)->name();
  }

  WrappedStorage* storage_;
  std::unique_ptr<Datastore> db_;
};

TEST_F(DbViewTest, TrackedObjectShowsUncommittedChangesWithoutReadingStorage) {
  Seed({Widget("a", "", "committed")});
  Transaction* txn = new Transaction(db_.get());
  DsWidgetRuntime* a = Load(txn, "a");
  ASSERT_NE(a, nullptr);
  // Tracked under the index it was read from, although its configuration half is a NullObj.
  ASSERT_EQ(Tracked(txn, "a"), a);
  SvcObject* obj = txn->db_view()->GetObject(DbIndex(kTable, "a"));
  EXPECT_EQ(obj->transaction(), txn);
  txn->db_view()->add_to_tracked_object_list(obj);  // already owned: no double ownership
  Transaction* other = new Transaction(db_.get());
  EXPECT_FALSE(obj->set_transaction(other));  // bound once
  EXPECT_EQ(obj->transaction(), txn);

  a->set_name("uncommitted");
  const int gets = storage_->gets;
  EXPECT_EQ(Tracked(txn, "a")->name(), "uncommitted");
  Message* cfg = nullptr;
  Message* rt = nullptr;
  ASSERT_EQ(txn->db_view()->GetObjectFromDb(DbIndex(kTable, "a"), &cfg, &rt), SYSERR_SUCCESS);
  std::unique_ptr<Message> own_cfg(cfg), own_rt(rt);
  EXPECT_NE(rt, a);
  EXPECT_EQ(static_cast<DsWidgetRuntime*>(rt)->name(), "uncommitted");
  EXPECT_EQ(txn->db_view()->CacheSubTree(DbIndex(kTable, "a"), {}, DIRECTION_DOWN, "w"), 0);
  EXPECT_EQ(storage_->gets, gets);

  // Other readers see committed data only.
  EXPECT_EQ(CommittedName("a"), "committed");
  EXPECT_EQ(Load(other, "a")->name(), "committed");
  other->Abort(false);

  ASSERT_EQ(txn->db_view()->DbUpdate(DbIndex(kTable, "a"), obj->obj(), a), SYSERR_SUCCESS);
  ASSERT_EQ(txn->Commit(false), SYSERR_SUCCESS);
  EXPECT_EQ(CommittedName("a"), "uncommitted");
}

TEST_F(DbViewTest, WritesAreRecordedOncePerObjectInFirstChangeOrder) {
  Seed({Widget("a"), Widget("b")});
  Transaction* txn = new Transaction(db_.get());
  DbView* view = txn->db_view();
  DsWidgetRuntime* b = Load(txn, "b");
  DsWidgetRuntime* a = Load(txn, "a");

  // The tracked message itself: marked dirty, never copied.
  b->add_child_uuids("vm-1");
  ASSERT_EQ(view->DbUpdate(DbIndex(kTable, "b"), nullptr, b), SYSERR_SUCCESS);
  EXPECT_EQ(Tracked(txn, "b"), b);

  // A message from outside is copied into the tracked one; the caller keeps its own.
  DsWidgetRuntime outside = Widget("a", "", "from-outside");
  ASSERT_EQ(view->DbUpdate(DbIndex(kTable, "a"), nullptr, &outside), SYSERR_SUCCESS);
  EXPECT_EQ(Tracked(txn, "a"), a);
  EXPECT_EQ(a->name(), "from-outside");
  outside.set_name("changed-after");
  EXPECT_EQ(a->name(), "from-outside");

  // A new object from outside is copied once and tracked from then on.
  DsWidgetRuntime fresh = Widget("c", "", "new");
  ASSERT_EQ(view->DbUpdate(DbIndex(kTable, "c"), nullptr, &fresh), SYSERR_SUCCESS);
  const DsWidgetRuntime* c = Tracked(txn, "c");
  ASSERT_NE(c, nullptr);
  EXPECT_NE(c, &fresh);

  b->add_child_uuids("vm-2");
  ASSERT_EQ(view->DbUpdate(DbIndex(kTable, "b"), nullptr, b), SYSERR_SUCCESS);
  ASSERT_EQ(view->DbUpdate(DbIndex(kTable, "a"), nullptr, a), SYSERR_SUCCESS);
  ASSERT_EQ(txn->Commit(false), SYSERR_SUCCESS);

  ASSERT_EQ(storage_->batches.size(), 1u);
  const std::vector<kyv::WriteOp>& batch = storage_->batches[0];
  ASSERT_EQ(batch.size(), 3u);
  EXPECT_EQ(batch[0].key, "b");
  EXPECT_EQ(batch[1].key, "a");
  EXPECT_EQ(batch[2].key, "c");
  DsWidgetRuntime stored_b;
  ASSERT_TRUE(stored_b.ParseFromString(batch[0].object.rt_bytes));
  EXPECT_EQ(stored_b.child_uuids_size(), 2);  // the final content
  EXPECT_EQ(CommittedName("a"), "from-outside");
}

TEST_F(DbViewTest, NullHalfKeepsTheCurrentHalf) {
  Transaction* txn = new Transaction(db_.get());
  DsWidget cfg;
  cfg.set_uuid("a");
  cfg.set_name("config");
  DsWidgetRuntime rt = Widget("a", "", "v1");
  ASSERT_EQ(txn->db_view()->DbUpdate(DbIndex(kTable, "a"), &cfg, &rt), SYSERR_SUCCESS);
  ASSERT_EQ(txn->Commit(false), SYSERR_SUCCESS);

  txn = new Transaction(db_.get());
  rt.set_name("v2");
  ASSERT_EQ(txn->db_view()->DbUpdate(DbIndex(kTable, "a"), nullptr, &rt), SYSERR_SUCCESS);
  // Nothing to write when neither half is given and the object exists nowhere.
  EXPECT_EQ(txn->db_view()->DbUpdate(DbIndex(kTable, "nope"), nullptr, nullptr),
            SYSERR_DB_OBJ_NOT_FOUND);
  ASSERT_EQ(txn->Commit(false), SYSERR_SUCCESS);

  Message* got_cfg = nullptr;
  Message* got_rt = nullptr;
  ASSERT_EQ(db_->GetInternal(kTable, "a", &got_cfg, &got_rt), SYSERR_SUCCESS);
  std::unique_ptr<Message> own_cfg(got_cfg), own_rt(got_rt);
  ASSERT_NE(got_cfg, nullptr);
  EXPECT_EQ(static_cast<DsWidget*>(got_cfg)->name(), "config");
  EXPECT_EQ(static_cast<DsWidgetRuntime*>(got_rt)->name(), "v2");
}

TEST_F(DbViewTest, ListingsMergeCommittedDataWithTheViewsChanges) {
  Seed({Widget("a"), Widget("b"), Widget("c")});
  Transaction* txn = new Transaction(db_.get());
  DbView* view = txn->db_view();
  DsWidgetRuntime* b = Load(txn, "b");
  ASSERT_EQ(view->DbUpdate(DbIndex(kTable, "b"), nullptr, b, true), SYSERR_SUCCESS);
  DsWidgetRuntime d = Widget("d");
  ASSERT_EQ(view->DbUpdate(DbIndex(kTable, "d"), nullptr, &d), SYSERR_SUCCESS);
  ASSERT_EQ(view->DbUpdate(DbIndex("othertable", "e"), nullptr, &d), SYSERR_SUCCESS);
  ASSERT_EQ(view->CacheSubTree(DbIndex(kTable, "c"), {}, DIRECTION_DOWN, "w"), 0);
  EXPECT_EQ(view->CacheSubTree(DbIndex(kTable, "missing"), {}, DIRECTION_DOWN, "w"), 1);

  auto keys_of = [&]() {
    std::vector<DbIndex> all;
    EXPECT_EQ(view->GetAllObjects(kTable, &all), SYSERR_SUCCESS);
    std::vector<std::string> keys;
    for (const DbIndex& i : all) keys.push_back(i.key());
    return keys;
  };
  auto tracked_keys = [&]() {
    std::vector<SvcObject*> objs;
    EXPECT_EQ(view->GetObjects(kTable, &objs), SYSERR_SUCCESS);
    std::vector<std::string> keys;
    for (SvcObject* o : objs) keys.push_back(o->index().key());
    return keys;
  };
  EXPECT_EQ(keys_of(), (std::vector<std::string>{"a", "c", "d"}));
  EXPECT_EQ(tracked_keys(), (std::vector<std::string>{"c", "d"}));

  // The deleted object is gone from the view, though its message stays valid.
  EXPECT_EQ(view->GetObject(DbIndex(kTable, "b")), nullptr);
  Message* cfg = nullptr;
  Message* rt = nullptr;
  EXPECT_EQ(view->GetObjectFromDb(DbIndex(kTable, "b"), &cfg, &rt), SYSERR_DB_OBJ_NOT_FOUND);
  EXPECT_EQ(view->CacheSubTree(DbIndex(kTable, "b"), {}, DIRECTION_DOWN, "w"), 1);
  EXPECT_EQ(b->uuid(), "b");

  // Written again after the deletion: back, with the new content only.
  DsWidgetRuntime b2 = Widget("b", "", "reborn");
  ASSERT_EQ(view->DbUpdate(DbIndex(kTable, "b"), nullptr, &b2), SYSERR_SUCCESS);
  EXPECT_EQ(keys_of(), (std::vector<std::string>{"a", "b", "c", "d"}));
  EXPECT_EQ(Tracked(txn, "b")->name(), "reborn");
  EXPECT_EQ(view->GetObject(DbIndex(kTable, "b"))->obj(), nullptr);  // the NullObj half went
  ASSERT_EQ(view->DbUpdate(DbIndex(kTable, "a"), nullptr, nullptr, true), SYSERR_SUCCESS);
  ASSERT_EQ(txn->Commit(false), SYSERR_SUCCESS);

  std::set<std::string> committed;
  ASSERT_EQ(db_->GetKeys(kTable, &committed), SYSERR_SUCCESS);
  EXPECT_EQ(committed, (std::set<std::string>{"b", "c", "d"}));
  EXPECT_EQ(CommittedName("b"), "reborn");
}

}  // namespace
