// In-memory copies of watched tables, kept current from commits.
//
// CreateCache(table) restores every committed object of the table into a cached object (made
// by the table's restore callback) and watches the table. After each commit that touches a
// watched table the cache POSTS the work to the I/O context (it never runs callers' code
// inside Commit): a new object is restored, a changed one gets OnUpdate, a deleted one gets
// OnDelete, the table's delete callback, and is destroyed.
#pragma once

#include <google/protobuf/message.h>

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/datastore/datastore.h"
#include "platform/datastore/db_index.h"
#include "proto/syserr.pb.h"

// One cached object. Owned by the DbCache; valid until the cache deletes it (after OnDelete)
// or is destroyed.
class DbCachedObject {
 public:
  // Keeps copies of the halves (either may be null).
  DbCachedObject(const DbIndex& index, const google::protobuf::Message* cfg,
                 const google::protobuf::Message* runtime);
  virtual ~DbCachedObject();
  DbCachedObject(const DbCachedObject&) = delete;
  DbCachedObject& operator=(const DbCachedObject&) = delete;

  const DbIndex& index() const { return index_; }
  // The current copies; owned by this object, null for an absent half.
  const google::protobuf::Message* cfg() const { return cfg_.get(); }
  const google::protobuf::Message* runtime() const { return runtime_.get(); }

  // A committed write of the object (the messages are valid during the call only). The base
  // replaces the held copies; overrides call it first, then react.
  virtual void OnUpdate(const google::protobuf::Message* cfg,
                        const google::protobuf::Message* runtime);
  // A committed deletion; the cache destroys the object right after this returns.
  virtual void OnDelete() {}

 private:
  DbIndex index_;
  std::unique_ptr<google::protobuf::Message> cfg_;
  std::unique_ptr<google::protobuf::Message> runtime_;
};

// Creates the cached object of a record (messages valid during the call only). May return null
// to decline the record; it is then offered again at its next write.
using DbRestoreCallback = std::function<std::unique_ptr<DbCachedObject>(
    const DbIndex&, const google::protobuf::Message* cfg,
    const google::protobuf::Message* runtime)>;
// Told of a committed deletion in a watched table, after the object's OnDelete (if cached).
using DbDeleteCallback = std::function<void(const DbIndex&)>;

// Per-table callbacks of a DbCache.
class DbObjectFactory {
 public:
  // Replaces the table's callback. Register before CreateCache of the table.
  void RegisterRestoreCallback(const std::string& table, DbRestoreCallback cb);
  void RegisterDeleteCallback(const std::string& table, DbDeleteCallback cb);

  // The cached object of a record: the table's restore callback's, or a plain DbCachedObject
  // when the table has none. Null when the callback declines.
  std::unique_ptr<DbCachedObject> Restore(const DbIndex& index,
                                          const google::protobuf::Message* cfg,
                                          const google::protobuf::Message* runtime) const;
  // Runs the table's delete callback, if any.
  void NotifyDelete(const DbIndex& index) const;

 private:
  std::map<std::string, DbRestoreCallback> restore_;
  std::map<std::string, DbDeleteCallback> delete_;
};

class DbCache : public DbCommitListener {
 public:
  // The process-wide cache, set by whoever creates it and cleared by its destructor.
  static DbCache* g_db_cache_;

  // Listens to `db`'s commits and posts its callbacks to `io`. Neither is owned; both must
  // outlive the cache. With a null `io` changes cannot be delivered: they are logged and
  // dropped.
  DbCache(Datastore* db, boost::asio::io_context* io);
  // Stops listening; callbacks already posted become no-ops. Clears g_db_cache_ if it points
  // here.
  ~DbCache() override;
  DbCache(const DbCache&) = delete;
  DbCache& operator=(const DbCache&) = delete;

  // Owned by the cache.
  DbObjectFactory* object_factory() { return &factory_; }

  // Restores every committed object of `table` now (restore callbacks run inside this call)
  // and watches the table from then on. A second call for a watched table does nothing. An
  // object whose stored data cannot be read is skipped and logged; the table is still watched
  // and the read error is returned. A failure to list the table returns its error and watches
  // nothing. The flags are accepted for callers and ignored.
  Syserr CreateCache(const std::string& table, bool unused_a = false, bool unused_b = true);

  // True once CreateCache(table) has run.
  bool IsWatched(const std::string& table) const { return watched_.count(table) != 0; }
  // The cached object at `index`, or null. Owned by the cache.
  DbCachedObject* Find(const DbIndex& index) const;

  // DbCommitListener: copies the changes of watched tables and posts their delivery.
  void OnCommit(const std::vector<DbChange>& changes) override;

 private:
  struct Pending {
    DbIndex index;
    bool deleted = false;
    std::unique_ptr<google::protobuf::Message> cfg;
    std::unique_ptr<google::protobuf::Message> runtime;
  };
  void Deliver(std::vector<Pending>* changes);
  void Upsert(const DbIndex& index, const google::protobuf::Message* cfg,
              const google::protobuf::Message* runtime);

  Datastore* db_;
  boost::asio::io_context* io_;
  DbObjectFactory factory_;
  std::set<std::string> watched_;
  std::map<DbIndex, std::unique_ptr<DbCachedObject>> objects_;
  std::shared_ptr<char> alive_;  // posted work holds a weak_ptr to it
};
