// Datastore and Transaction end to end, on every backend.
#include "platform/datastore/datastore.h"

#include <gtest/gtest.h>

#include "platform/common/clock.h"
#include "platform/datastore/datastore_testing.h"
#include "platform/datastore/object_codec.h"
#include "platform/datastore/transaction.h"

namespace {

using google::protobuf::Message;
using kyv::testing::TempDir;
using kyv::testing::Widget;

const char kTable[] = "dswidget";

// Reads the runtime half of a committed widget; "" name when absent.
std::string CommittedName(Datastore* db, const std::string& key) {
  Message* cfg = nullptr;
  Message* rt = nullptr;
  if (db->GetInternal(kTable, key, &cfg, &rt) != SYSERR_SUCCESS) return "";
  std::unique_ptr<Message> own_cfg(cfg), own_rt(rt);
  EXPECT_EQ(cfg, nullptr);
  return static_cast<DsWidgetRuntime*>(rt)->name();
}

void CommitWidgets(Datastore* db, const std::vector<DsWidgetRuntime>& widgets) {
  Transaction* txn = new Transaction(db);
  for (const DsWidgetRuntime& w : widgets) {
    ASSERT_EQ(txn->db_view()->DbUpdate(DbIndex(kTable, w.uuid()), nullptr, &w), SYSERR_SUCCESS);
  }
  ASSERT_EQ(txn->Commit(false), SYSERR_SUCCESS);
}

std::vector<std::string> Keys(const std::vector<std::pair<std::string, std::string>>& pairs) {
  std::vector<std::string> keys;
  for (const auto& p : pairs) {
    EXPECT_EQ(p.first, kTable);
    keys.push_back(p.second);
  }
  return keys;
}

class DatastoreTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    db_ = kyv::testing::OpenBackend(GetParam(), dir_);
    ASSERT_NE(db_, nullptr);
  }
  TempDir dir_;
  std::unique_ptr<Datastore> db_;
};

TEST_P(DatastoreTest, CommitStoresWritesAndAbortDropsThem) {
  Transaction* txn = new Transaction(db_.get());
  EXPECT_EQ(Transaction::transaction_, txn);
  DsWidgetRuntime a = Widget("a", "", "first");
  ASSERT_EQ(txn->db_view()->DbUpdate(DbIndex(kTable, "a"), nullptr, &a), SYSERR_SUCCESS);
  ASSERT_EQ(txn->db_view()->DbUpdate(DbIndex(kTable, "b"), nullptr, &a), SYSERR_SUCCESS);
  EXPECT_EQ(CommittedName(db_.get(), "a"), "");  // nothing before the commit
  ASSERT_EQ(txn->Commit(false), SYSERR_SUCCESS);
  EXPECT_EQ(Transaction::transaction_, nullptr);
  EXPECT_EQ(CommittedName(db_.get(), "a"), "first");
  EXPECT_EQ(CommittedName(db_.get(), "b"), "first");

  txn = new Transaction(db_.get());
  DsWidgetRuntime changed = Widget("a", "", "second");
  ASSERT_EQ(txn->db_view()->DbUpdate(DbIndex(kTable, "a"), nullptr, &changed), SYSERR_SUCCESS);
  ASSERT_EQ(txn->db_view()->DbUpdate(DbIndex(kTable, "b"), nullptr, nullptr, true), SYSERR_SUCCESS);
  EXPECT_EQ(txn->Abort(false), SYSERR_SUCCESS);
  EXPECT_EQ(CommittedName(db_.get(), "a"), "first");
  EXPECT_EQ(CommittedName(db_.get(), "b"), "first");

  std::set<std::string> keys;
  ASSERT_EQ(db_->GetKeys(kTable, &keys), SYSERR_SUCCESS);
  EXPECT_EQ(keys, (std::set<std::string>{"a", "b"}));
}

TEST_P(DatastoreTest, GetAllListsKeysWrittenStrictlyBeforeTimestamp) {
  kyv::ScopedFakeClock clock;
  const int64_t t0 = kyv::GetClock().NowSeconds();
  CommitWidgets(db_.get(), {Widget("a"), Widget("c")});
  clock->Advance(std::chrono::seconds(5));
  CommitWidgets(db_.get(), {Widget("b")});
  clock->Advance(std::chrono::seconds(5));
  CommitWidgets(db_.get(), {Widget("a")});  // a rewritten at t0 + 10

  struct Case {
    int64_t ts;
    std::vector<std::string> keys;
  } cases[] = {
      {0, {"a", "b", "c"}},       {t0, {}}, {t0 + 1, {"c"}}, {t0 + 5, {"c"}}, {t0 + 6, {"b", "c"}},
      {t0 + 11, {"a", "b", "c"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ts);
    std::vector<std::pair<std::string, std::string>> pairs{{"stale", "entry"}};
    ASSERT_EQ(db_->GetAll(kTable, &pairs, c.ts), SYSERR_SUCCESS);
    EXPECT_EQ(Keys(pairs), c.keys);
  }
}

TEST_P(DatastoreTest, SecondaryIndexFollowsUpdatesAndDeletes) {
  CommitWidgets(db_.get(), {Widget("vm-1-cloud", "vm-1"), Widget("vm-2-cloud", "vm-2")});
  std::string key;
  ASSERT_EQ(db_->GetPkFromSecIdx(kTable, "managed_object_id", "vm-1", &key), SYSERR_SUCCESS);
  EXPECT_EQ(key, "vm-1-cloud");
  EXPECT_EQ(db_->GetPkFromSecIdx(kTable, "name", "vm-1", &key), SYSERR_INVALID_ARG);

  // The MOR of an object changes: the old value no longer finds it.
  Transaction* txn = new Transaction(db_.get());
  DbView* view = txn->db_view();
  DbIndex idx(kTable, "vm-1-cloud");
  ASSERT_EQ(view->CacheSubTree(idx, {}, DIRECTION_DOWN, "w"), 0);
  auto* rt = static_cast<DsWidgetRuntime*>(view->GetObject(idx)->obj_runtime());
  rt->set_managed_object_id("vm-7");
  ASSERT_EQ(view->DbUpdate(idx, nullptr, rt), SYSERR_SUCCESS);
  ASSERT_EQ(txn->Commit(false), SYSERR_SUCCESS);
  EXPECT_EQ(db_->GetPkFromSecIdx(kTable, "managed_object_id", "vm-1", &key),
            SYSERR_DB_OBJ_NOT_FOUND);
  ASSERT_EQ(db_->GetPkFromSecIdx(kTable, "managed_object_id", "vm-7", &key), SYSERR_SUCCESS);
  EXPECT_EQ(key, "vm-1-cloud");

  txn = new Transaction(db_.get());
  ASSERT_EQ(txn->db_view()->DbUpdate(idx, nullptr, nullptr, true), SYSERR_SUCCESS);
  ASSERT_EQ(txn->Commit(false), SYSERR_SUCCESS);
  EXPECT_EQ(db_->GetPkFromSecIdx(kTable, "managed_object_id", "vm-7", &key),
            SYSERR_DB_OBJ_NOT_FOUND);
  ASSERT_EQ(db_->GetPkFromSecIdx(kTable, "managed_object_id", "vm-2", &key), SYSERR_SUCCESS);
  EXPECT_EQ(key, "vm-2-cloud");

  // An object without a runtime half is indexed from its configuration half.
  DsWidget cfg;
  cfg.set_uuid("cfg-only");
  cfg.set_managed_object_id("host-3");
  txn = new Transaction(db_.get());
  ASSERT_EQ(txn->db_view()->DbUpdate(DbIndex("cfgtable", "cfg-only"), &cfg, nullptr),
            SYSERR_SUCCESS);
  ASSERT_EQ(txn->Commit(false), SYSERR_SUCCESS);
  ASSERT_EQ(db_->GetPkFromSecIdx("cfgtable", "managed_object_id", "host-3", &key), SYSERR_SUCCESS);
  EXPECT_EQ(key, "cfg-only");
}

TEST_P(DatastoreTest, UnreadableStoredDataIsAnErrorNotACrash) {
  std::string valid;
  Widget("x").SerializeToString(&valid);
  struct Case {
    const char* what;
    const char* cfg_type;
    std::string cfg_bytes;
    const char* rt_type;
    std::string rt_bytes;
  } cases[] = {
      {"garbage runtime bytes", "", "", "DsWidgetRuntime", "\xff\xff\xff"},
      {"truncated runtime bytes", "", "", "DsWidgetRuntime", valid.substr(0, valid.size() - 1)},
      {"unknown runtime type", "", "", "NoSuchRecordRuntime", valid},
      {"garbage configuration bytes", "DsWidget",
       "\x0a\x05"
       "ab",
       "DsWidgetRuntime", valid},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    kyv::StoredObject bad;
    bad.cfg_type = c.cfg_type;
    bad.cfg_bytes = c.cfg_bytes;
    bad.rt_type = c.rt_type;
    bad.rt_bytes = c.rt_bytes;
    ASSERT_EQ(db_->storage()->Apply({kyv::WriteOp{kyv::WriteOp::kPut, kTable, "bad", bad}}),
              SYSERR_SUCCESS);

    Message* cfg = reinterpret_cast<Message*>(1);
    Message* rt = reinterpret_cast<Message*>(1);
    EXPECT_EQ(db_->GetInternal(kTable, "bad", &cfg, &rt), SYSERR_DB_PARSE_ERROR);
    EXPECT_EQ(cfg, nullptr);
    EXPECT_EQ(rt, nullptr);

    Transaction* txn = new Transaction(db_.get());
    DbView* view = txn->db_view();
    EXPECT_EQ(view->GetObjectFromDb(DbIndex(kTable, "bad"), &cfg, &rt), SYSERR_DB_PARSE_ERROR);
    EXPECT_EQ(view->CacheSubTree(DbIndex(kTable, "bad"), {}, DIRECTION_DOWN, "w"), 1);
    // A write that keeps a half would need the unreadable object: refused, nothing recorded.
    DsWidgetRuntime w = Widget("bad");
    EXPECT_EQ(view->DbUpdate(DbIndex(kTable, "bad"), nullptr, &w), SYSERR_DB_PARSE_ERROR);
    EXPECT_FALSE(view->has_changes());
    std::vector<DbIndex> all;
    ASSERT_EQ(view->GetAllObjects(kTable, &all), SYSERR_SUCCESS);
    EXPECT_EQ(all.size(), 1u);  // still listed, so callers can find and remove it
    txn->Abort(false);
  }
}

INSTANTIATE_TEST_SUITE_P(Backends, DatastoreTest, ::testing::Values("memory", "sqlite"));

// Records what commit listeners are told.
class RecordingListener : public DbCommitListener {
 public:
  void OnCommit(const std::vector<DbChange>& changes) override {
    std::vector<std::string> seen;
    for (const DbChange& c : changes) seen.push_back((c.deleted ? "-" : "+") + c.index.key());
    commits.push_back(seen);
  }
  std::vector<std::vector<std::string>> commits;
};

TEST(DatastoreCommitTest, FailedCommitStoresNothingAndTellsNoListener) {
  auto wrapped =
      std::make_unique<kyv::testing::WrappedStorage>(std::make_unique<kyv::MemoryStorage>());
  kyv::testing::WrappedStorage* storage = wrapped.get();
  Datastore db(std::move(wrapped));
  RecordingListener listener;
  db.AddCommitListener(&listener);
  CommitWidgets(&db, {Widget("a", "", "kept"), Widget("b", "", "kept")});

  Transaction* txn = new Transaction(&db);
  DsWidgetRuntime a = Widget("a", "", "lost");
  DsWidgetRuntime c = Widget("c", "", "lost");
  ASSERT_EQ(txn->db_view()->DbUpdate(DbIndex(kTable, "a"), nullptr, &a), SYSERR_SUCCESS);
  ASSERT_EQ(txn->db_view()->DbUpdate(DbIndex(kTable, "c"), nullptr, &c), SYSERR_SUCCESS);
  ASSERT_EQ(txn->db_view()->DbUpdate(DbIndex(kTable, "b"), nullptr, nullptr, true), SYSERR_SUCCESS);
  storage->fail_apply = true;
  EXPECT_EQ(txn->Commit(false), SYSERR_DB_TXN_FAILURE);  // and the transaction is freed

  EXPECT_EQ(CommittedName(&db, "a"), "kept");
  EXPECT_EQ(CommittedName(&db, "b"), "kept");
  EXPECT_EQ(CommittedName(&db, "c"), "");
  EXPECT_EQ(listener.commits, (std::vector<std::vector<std::string>>{{"+a", "+b"}}));
  db.RemoveCommitListener(&listener);
}

TEST(DatastoreCommitTest, TransactionWithoutDatastoreFailsCleanly) {
  ASSERT_EQ(Datastore::g_db_, nullptr);
  Transaction* txn = new Transaction();
  Message* cfg = nullptr;
  Message* rt = nullptr;
  EXPECT_EQ(txn->db_view()->GetObjectFromDb(DbIndex(kTable, "a"), &cfg, &rt),
            SYSERR_DB_NOT_INITIALIZED);
  DsWidgetRuntime w = Widget("a");
  EXPECT_EQ(txn->db_view()->DbUpdate(DbIndex(kTable, "a"), nullptr, &w), SYSERR_DB_NOT_INITIALIZED);
  EXPECT_EQ(txn->Commit(false), SYSERR_SUCCESS);  // nothing was recorded

  // The process-wide datastore is what the default constructor uses.
  std::unique_ptr<Datastore> db = Datastore::InMemory();
  Datastore::g_db_ = db.get();
  txn = new Transaction();
  ASSERT_EQ(txn->db_view()->DbUpdate(DbIndex(kTable, "a"), nullptr, &w), SYSERR_SUCCESS);
  ASSERT_EQ(txn->Commit(false), SYSERR_SUCCESS);
  EXPECT_EQ(CommittedName(db.get(), "a"), "name-a");
  db.reset();
  EXPECT_EQ(Datastore::g_db_, nullptr);
}

}  // namespace
