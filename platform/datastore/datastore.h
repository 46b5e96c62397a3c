// The process's datastore client: committed objects, reads outside transactions, the
// secondary index, commit listeners and the link to the process's I/O context.
//
// Objects are (configuration, runtime) message pairs under a DbIndex. Writes go through a
// Transaction (transaction.h); this class only reads committed data and applies the batches
// that Transaction::Commit hands it. Everything runs on the one I/O thread.
#pragma once

#include <google/protobuf/message.h>

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/datastore/db_index.h"
#include "platform/datastore/storage.h"
#include "proto/syserr.pb.h"

namespace boost {
namespace asio {
class io_context;
}  // namespace asio
}  // namespace boost

// The datastore's handle on the process's I/O context (DbCache posts its callbacks there).
class DbObjectClient {
 public:
  explicit DbObjectClient(boost::asio::io_context* io) : io_(io) {}
  // Not owned; lives as long as the process's I/O context.
  boost::asio::io_context* io_service() const { return io_; }

 private:
  boost::asio::io_context* io_;
};

// One change of a successful commit, as commit listeners see it. The messages belong to the
// committing transaction and are valid only during OnCommit; both are null for a deletion, and
// either is null for an absent half.
struct DbChange {
  DbIndex index;
  bool deleted = false;
  const google::protobuf::Message* cfg = nullptr;
  const google::protobuf::Message* runtime = nullptr;
};

// Learns of every successful commit, in commit order.
class DbCommitListener {
 public:
  virtual ~DbCommitListener() = default;
  // Runs inside Transaction::Commit, after the batch is stored and before the transaction is
  // freed. Must not block; work that runs callers' code belongs on the I/O context.
  virtual void OnCommit(const std::vector<DbChange>& changes) = 0;
};

class Datastore {
 public:
  // Life stages of the process, set by the host: INIT while services are created, NORMAL
  // afterwards. The mode is informational: reads and commits behave alike in both.
  enum DatastoreMode { DATASTORE_MODE_INIT = 0, DATASTORE_MODE_NORMAL = 1 };

  // The process-wide datastore, set by whoever creates it (the host) and cleared by its
  // destructor. Transaction's default constructor uses it.
  static Datastore* g_db_;

  // Takes ownership of `storage`, which must not be null. Mode starts as INIT.
  explicit Datastore(std::unique_ptr<kyv::Storage> storage);
  // Clears g_db_ if it points here. Transactions and DbCaches on this datastore must be gone.
  ~Datastore();
  Datastore(const Datastore&) = delete;
  Datastore& operator=(const Datastore&) = delete;

  // A datastore on the SQLite file at `path` (created if missing). Null with *err set (when
  // err is not null) if the file cannot be opened or is not ours.
  static std::unique_ptr<Datastore> OpenSqlite(const std::string& path, std::string* err);
  // A datastore in process memory.
  static std::unique_ptr<Datastore> InMemory();

  DatastoreMode mode() const { return mode_; }
  void set_mode(DatastoreMode mode) { mode_ = mode; }

  // Set by the connector once its start-up is done. Recorded only: transactions of this
  // implementation take no locks, so there is nothing to switch off.
  bool db_txn_disabled_ = false;

  // Reads one committed object outside any transaction. On success the caller owns *obj and
  // *obj_runtime (either is null for an absent half). On failure both are set to null and the
  // result is SYSERR_DB_OBJ_NOT_FOUND (absent), SYSERR_DB_PARSE_ERROR (stored data unreadable;
  // logged) or SYSERR_DB_FAILURE. A null out pointer means "not wanted".
  Syserr GetInternal(const std::string& table, const std::string& key,
                     google::protobuf::Message** obj, google::protobuf::Message** obj_runtime);

  // Replaces *pairs with (table, key) of every committed object of `table` whose last write is
  // strictly before `ts` (whole seconds); ts 0 lists every key. Key order. On failure *pairs is
  // empty.
  Syserr GetAll(const std::string& table, std::vector<std::pair<std::string, std::string>>* pairs,
                int64_t ts = 0);

  // Replaces *keys with every committed key of `table`.
  Syserr GetKeys(const std::string& table, std::set<std::string>* keys);

  // Finds the key of the committed object of `table` whose index field `index_field` holds
  // `value`. Only "managed_object_id" is indexed (SYSERR_INVALID_ARG for any other field).
  // SYSERR_DB_OBJ_NOT_FOUND when no object carries the value; *key is untouched on failure.
  Syserr GetPkFromSecIdx(const std::string& table, const std::string& index_field,
                         const std::string& value, std::string* key);

  // Reads one committed object into new messages owned by the caller; results as GetInternal.
  Syserr Read(const DbIndex& index, std::unique_ptr<google::protobuf::Message>* cfg,
              std::unique_ptr<google::protobuf::Message>* runtime);

  // Connects the datastore to the process's I/O context (not owned). Replaces an earlier one.
  void AttachObjectClient(boost::asio::io_context* io);
  // Null until AttachObjectClient; owned by the datastore.
  DbObjectClient* object_client() const { return object_client_.get(); }

  // Listeners are not owned and must be removed before they are destroyed.
  void AddCommitListener(DbCommitListener* listener);
  void RemoveCommitListener(DbCommitListener* listener);

  // Stores `batch` atomically, then tells every listener of `changes`. Used by
  // Transaction::Commit. On failure nothing is stored, no listener runs, and the storage's
  // error is returned.
  Syserr ApplyCommit(const std::vector<kyv::WriteOp>& batch, const std::vector<DbChange>& changes);

  // The storage under this datastore; owned by it.
  kyv::Storage* storage() const { return storage_.get(); }

 private:
  std::unique_ptr<kyv::Storage> storage_;
  DatastoreMode mode_ = DATASTORE_MODE_INIT;
  std::unique_ptr<DbObjectClient> object_client_;
  std::vector<DbCommitListener*> listeners_;
};
