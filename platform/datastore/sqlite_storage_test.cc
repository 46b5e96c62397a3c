// The SQLite backend: persistence across reopen, failed and interrupted commits.
#include "platform/datastore/sqlite_storage.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "platform/common/clock.h"
#include "platform/datastore/datastore_testing.h"
#include "platform/datastore/transaction.h"

namespace {

using google::protobuf::Message;
using kyv::SqliteStorage;
using kyv::testing::TempDir;
using kyv::testing::Widget;

const char kTable[] = "dswidget";

// Name of the committed runtime widget at `key`, or "<absent>".
std::string NameIn(Datastore* db, const std::string& key) {
  Message* cfg = nullptr;
  Message* rt = nullptr;
  Syserr rc = db->GetInternal(kTable, key, &cfg, &rt);
  if (rc != SYSERR_SUCCESS) return rc == SYSERR_DB_OBJ_NOT_FOUND ? "<absent>" : "<error>";
  std::unique_ptr<Message> own_cfg(cfg), own_rt(rt);
  return static_cast<DsWidgetRuntime*>(rt)->name();
}

// Writes the widgets and deletes the keys in one transaction; returns the commit's result.
Syserr Commit(Datastore* db, const std::vector<DsWidgetRuntime>& puts,
              const std::vector<std::string>& deletes = {}) {
  Transaction* txn = new Transaction(db);
  for (const DsWidgetRuntime& w : puts)
    txn->db_view()->DbUpdate(DbIndex(kTable, w.uuid()), nullptr, &w);
  for (const std::string& k : deletes)
    txn->db_view()->DbUpdate(DbIndex(kTable, k), nullptr, nullptr, true);
  return txn->Commit(false);
}

struct OpenedStore {
  SqliteStorage* storage = nullptr;  // owned by db
  std::unique_ptr<Datastore> db;
};

OpenedStore Open(const std::string& path) {
  OpenedStore s;
  std::string err;
  std::unique_ptr<SqliteStorage> storage = SqliteStorage::Open(path, &err);
  EXPECT_NE(storage, nullptr) << err;
  if (storage == nullptr) return s;
  s.storage = storage.get();
  s.db = std::make_unique<Datastore>(std::move(storage));
  return s;
}

TEST(SqliteStorageTest, ObjectsSurviveReopen) {
  TempDir dir;
  const std::string path = dir.File("persist.db");
  kyv::ScopedFakeClock clock;
  const int64_t t0 = kyv::GetClock().NowSeconds();
  {
    OpenedStore s = Open(path);
    DsWidget cfg;
    cfg.set_uuid("a");
    cfg.set_name("config-a");
    DsWidgetRuntime rt = Widget("a", "vm-5", "runtime-a");
    Transaction* txn = new Transaction(s.db.get());
    ASSERT_EQ(txn->db_view()->DbUpdate(DbIndex(kTable, "a"), &cfg, &rt), SYSERR_SUCCESS);
    ASSERT_EQ(txn->Commit(false), SYSERR_SUCCESS);
    clock->Advance(std::chrono::seconds(3));
    ASSERT_EQ(Commit(s.db.get(), {Widget("b")}), SYSERR_SUCCESS);
  }
  OpenedStore s = Open(path);
  Message* cfg = nullptr;
  Message* rt = nullptr;
  ASSERT_EQ(s.db->GetInternal(kTable, "a", &cfg, &rt), SYSERR_SUCCESS);
  std::unique_ptr<Message> own_cfg(cfg), own_rt(rt);
  ASSERT_NE(cfg, nullptr);
  EXPECT_EQ(static_cast<DsWidget*>(cfg)->name(), "config-a");
  EXPECT_EQ(static_cast<DsWidgetRuntime*>(rt)->name(), "runtime-a");
  std::string key;
  ASSERT_EQ(s.db->GetPkFromSecIdx(kTable, "managed_object_id", "vm-5", &key), SYSERR_SUCCESS);
  EXPECT_EQ(key, "a");
  std::vector<std::pair<std::string, std::string>> older;
  ASSERT_EQ(s.db->GetAll(kTable, &older, t0 + 1), SYSERR_SUCCESS);  // write times kept
  ASSERT_EQ(older.size(), 1u);
  EXPECT_EQ(older[0].second, "a");
}

TEST(SqliteStorageTest, FailureInsideACommitRollsItBackAndTheStoreStaysUsable) {
  TempDir dir;
  OpenedStore s = Open(dir.File("fail.db"));
  ASSERT_EQ(Commit(s.db.get(), {Widget("a", "", "v1"), Widget("b", "", "v1")}), SYSERR_SUCCESS);

  s.storage->set_write_hook([](size_t written) { return written < 2; });
  EXPECT_EQ(Commit(s.db.get(), {Widget("a", "", "v2"), Widget("c", "", "v2")}, {"b"}),
            SYSERR_DB_TXN_FAILURE);
  EXPECT_EQ(NameIn(s.db.get(), "a"), "v1");
  EXPECT_EQ(NameIn(s.db.get(), "b"), "v1");
  EXPECT_EQ(NameIn(s.db.get(), "c"), "<absent>");

  s.storage->set_write_hook(nullptr);
  ASSERT_EQ(Commit(s.db.get(), {Widget("c", "", "v3")}), SYSERR_SUCCESS);
  EXPECT_EQ(NameIn(s.db.get(), "c"), "v3");
}

// A process that dies in the middle of a commit leaves exactly the transactions committed
// before it. The dying commit is large enough to spill uncommitted pages into the WAL.
TEST(SqliteStorageTest, CrashInsideACommitKeepsExactlyTheCommittedTransactions) {
  TempDir dir;
  const std::string path = dir.File("crash.db");
  fflush(nullptr);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    // Child: no gtest assertions here; the exit status tells the parent what happened.
    OpenedStore s = Open(path);
    if (s.db == nullptr) _exit(10);
    if (Commit(s.db.get(), {Widget("a1", "", "t1"), Widget("a2", "", "t1"),
                            Widget("a3", "", "t1")}) != SYSERR_SUCCESS) {
      _exit(11);
    }
    if (Commit(s.db.get(), {Widget("a1", "", "t2"), Widget("b1", "", "t2")}) != SYSERR_SUCCESS) {
      _exit(12);
    }
    std::vector<DsWidgetRuntime> big{Widget("a2", "", "t3")};
    for (int i = 0; i < 40; ++i)
      big.push_back(Widget("c" + std::to_string(i), "", std::string(200000, 'x')));
    s.storage->set_write_hook([](size_t written) {
      if (written == 30) _exit(0);  // the crash
      return true;
    });
    Commit(s.db.get(), big, {"a3"});
    _exit(13);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0) << "child failed before the crash point";

  OpenedStore s = Open(path);
  ASSERT_NE(s.db, nullptr);
  EXPECT_EQ(NameIn(s.db.get(), "a1"), "t2");
  EXPECT_EQ(NameIn(s.db.get(), "a2"), "t1");
  EXPECT_EQ(NameIn(s.db.get(), "a3"), "t1");
  EXPECT_EQ(NameIn(s.db.get(), "b1"), "t2");
  std::set<std::string> keys;
  ASSERT_EQ(s.db->GetKeys(kTable, &keys), SYSERR_SUCCESS);
  EXPECT_EQ(keys, (std::set<std::string>{"a1", "a2", "a3", "b1"}));
  // And the store takes new commits.
  ASSERT_EQ(Commit(s.db.get(), {Widget("d")}), SYSERR_SUCCESS);
}

TEST(SqliteStorageTest, RefusesFilesThatAreNotItsDatabase) {
  TempDir dir;
  const std::string junk = dir.File("junk.db");
  std::ofstream(junk) << std::string(4096, 'j');
  for (const std::string& path : {junk, dir.File("no/such/dir/x.db")}) {
    SCOPED_TRACE(path);
    std::string err;
    EXPECT_EQ(Datastore::OpenSqlite(path, &err), nullptr);
    EXPECT_FALSE(err.empty());
  }
}

}  // namespace
