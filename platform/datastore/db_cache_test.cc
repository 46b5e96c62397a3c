// DbCache: restoring watched tables and delivering committed changes on the I/O context.
#include "platform/datastore/db_cache.h"

#include <gtest/gtest.h>

#include <boost/asio/io_context.hpp>

#include "platform/datastore/datastore_testing.h"
#include "platform/datastore/transaction.h"

namespace {

using google::protobuf::Message;
using kyv::testing::Widget;

const char kTable[] = "dswidget";

std::string NameOf(const Message* rt) {
  return rt == nullptr ? "-" : static_cast<const DsWidgetRuntime*>(rt)->name();
}

// A cached object that logs what happens to it, like the connector's watched objects.
class Recorder : public DbCachedObject {
 public:
  Recorder(const DbIndex& index, const Message* cfg, const Message* rt,
           std::vector<std::string>* log)
      : DbCachedObject(index, cfg, rt), log_(log) {}
  void OnUpdate(const Message* cfg, const Message* rt) override {
    DbCachedObject::OnUpdate(cfg, rt);
    log_->push_back("update " + index().key() + " " + NameOf(runtime()));
  }
  void OnDelete() override { log_->push_back("delete " + index().key()); }

 private:
  std::vector<std::string>* log_;
};

class DbCacheTest : public ::testing::Test {
 protected:
  DbCacheTest() : db_(Datastore::InMemory()), cache_(std::make_unique<DbCache>(db_.get(), &io_)) {
    cache_->object_factory()->RegisterRestoreCallback(
        kTable, [this](const DbIndex& index, const Message* cfg, const Message* rt) {
          log_.push_back("restore " + index.key() + " " + NameOf(rt));
          return std::make_unique<Recorder>(index, cfg, rt, &log_);
        });
    cache_->object_factory()->RegisterDeleteCallback(
        kTable, [this](const DbIndex& index) { log_.push_back("forget " + index.key()); });
  }

  Syserr Commit(const std::string& table, const std::vector<DsWidgetRuntime>& puts,
                const std::vector<std::string>& deletes = {}) {
    Transaction* txn = new Transaction(db_.get());
    for (const DsWidgetRuntime& w : puts) {
      txn->db_view()->DbUpdate(DbIndex(table, w.uuid()), nullptr, &w);
    }
    for (const std::string& k : deletes) {
      txn->db_view()->DbUpdate(DbIndex(table, k), nullptr, nullptr, true);
    }
    return txn->Commit(false);
  }

  boost::asio::io_context io_;
  std::unique_ptr<Datastore> db_;
  std::unique_ptr<DbCache> cache_;
  std::vector<std::string> log_;
};

TEST_F(DbCacheTest, CreateCacheRestoresEveryStoredObjectAtOnce) {
  ASSERT_EQ(Commit(kTable, {Widget("b", "", "B"), Widget("a", "", "A")}), SYSERR_SUCCESS);
  ASSERT_EQ(Commit("plain", {Widget("p", "", "P")}), SYSERR_SUCCESS);
  ASSERT_EQ(cache_->CreateCache(kTable, false, true), SYSERR_SUCCESS);
  EXPECT_EQ(log_, (std::vector<std::string>{"restore a A", "restore b B"}));
  ASSERT_EQ(cache_->CreateCache(kTable, false, true), SYSERR_SUCCESS);  // once only
  EXPECT_EQ(log_.size(), 2u);

  // A table without a restore callback still caches plain copies.
  ASSERT_EQ(cache_->CreateCache("plain", false, true), SYSERR_SUCCESS);
  DbCachedObject* p = cache_->Find(DbIndex("plain", "p"));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(NameOf(p->runtime()), "P");
  EXPECT_EQ(p->cfg(), nullptr);
}

TEST_F(DbCacheTest, CommittedChangesArePostedToTheIoContextNotRunInCommit) {
  ASSERT_EQ(Commit(kTable, {Widget("a", "", "A"), Widget("b", "", "B")}), SYSERR_SUCCESS);
  ASSERT_EQ(cache_->CreateCache(kTable, false, true), SYSERR_SUCCESS);
  log_.clear();

  ASSERT_EQ(Commit(kTable, {Widget("a", "", "A2"), Widget("c", "", "C")}, {"b"}), SYSERR_SUCCESS);
  ASSERT_EQ(Commit("unwatched", {Widget("u")}), SYSERR_SUCCESS);
  EXPECT_TRUE(log_.empty());                               // nothing ran inside Commit
  EXPECT_NE(cache_->Find(DbIndex(kTable, "b")), nullptr);  // nor changed the cache

  io_.run();
  EXPECT_EQ(log_, (std::vector<std::string>{"update a A2", "restore c C", "delete b", "forget b"}));
  EXPECT_EQ(cache_->Find(DbIndex(kTable, "b")), nullptr);
  EXPECT_EQ(NameOf(cache_->Find(DbIndex(kTable, "a"))->runtime()), "A2");
  EXPECT_EQ(cache_->Find(DbIndex("unwatched", "u")), nullptr);
}

TEST_F(DbCacheTest, WorkPostedBeforeTheCacheIsDestroyedDoesNothing) {
  ASSERT_EQ(cache_->CreateCache(kTable, false, true), SYSERR_SUCCESS);
  ASSERT_EQ(Commit(kTable, {Widget("a")}), SYSERR_SUCCESS);
  cache_.reset();
  io_.run();
  EXPECT_TRUE(log_.empty());
  ASSERT_EQ(Commit(kTable, {Widget("b")}), SYSERR_SUCCESS);  // no listener left behind
}

TEST_F(DbCacheTest, UnreadableObjectIsSkippedAndTheTableStillWatched) {
  ASSERT_EQ(Commit(kTable, {Widget("good", "", "G")}), SYSERR_SUCCESS);
  kyv::StoredObject bad;
  bad.rt_type = "DsWidgetRuntime";
  bad.rt_bytes = "\xff\xff";
  ASSERT_EQ(db_->storage()->Apply({kyv::WriteOp{kyv::WriteOp::kPut, kTable, "bad", bad}}),
            SYSERR_SUCCESS);

  EXPECT_EQ(cache_->CreateCache(kTable, false, true), SYSERR_DB_PARSE_ERROR);
  EXPECT_EQ(log_, (std::vector<std::string>{"restore good G"}));
  EXPECT_TRUE(cache_->IsWatched(kTable));

  // Rewriting both halves of the bad object repairs it: it is restored on delivery.
  Transaction* txn = new Transaction(db_.get());
  DsWidget cfg;
  DsWidgetRuntime rt = Widget("bad", "", "fixed");
  ASSERT_EQ(txn->db_view()->DbUpdate(DbIndex(kTable, "bad"), &cfg, &rt), SYSERR_SUCCESS);
  ASSERT_EQ(txn->Commit(false), SYSERR_SUCCESS);
  io_.run();
  EXPECT_EQ(log_.back(), "restore bad fixed");
}

}  // namespace
