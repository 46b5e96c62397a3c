// Storage in one SQLite file (WAL journal). Each Apply is one SQLite transaction, so a crash
// at any point leaves either the whole batch or none of it.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/datastore/storage.h"

struct sqlite3;
struct sqlite3_stmt;

namespace kyv {

class SqliteStorage : public Storage {
 public:
  struct Options {
    // SQLite's synchronous level. NORMAL with WAL keeps every commit atomic across a process
    // crash and a power loss, and may lose the last commits on power loss; FULL syncs every
    // commit.
    bool full_sync = false;
  };

  // Opens or creates the database at `path`. Returns null and sets *err (when err is not null)
  // if the file cannot be opened, is not a database of ours or its schema cannot be created.
  static std::unique_ptr<SqliteStorage> Open(const std::string& path, std::string* err);
  static std::unique_ptr<SqliteStorage> Open(const std::string& path, const Options& options,
                                             std::string* err);
  ~SqliteStorage() override;

  Syserr Get(const std::string& table, const std::string& key, StoredObject* out) override;
  Syserr ListKeys(const std::string& table, std::vector<KeyTime>* out) override;
  Syserr LookupManagedObjectId(const std::string& table, const std::string& value,
                               std::string* key) override;
  // One SQLite transaction; on any failure it is rolled back and SYSERR_DB_TXN_FAILURE returned.
  Syserr Apply(const std::vector<WriteOp>& batch) override;

  // Fault hook for tests: called inside Apply after each op has been written (argument: ops
  // written so far), before the SQLite commit. Returning false fails the batch. Pass an empty
  // function to remove it.
  void set_write_hook(std::function<bool(size_t)> hook) { write_hook_ = std::move(hook); }

 private:
  struct StmtDeleter {
    void operator()(sqlite3_stmt* s) const;
  };
  struct DbDeleter {
    void operator()(sqlite3* db) const;
  };
  using Stmt = std::unique_ptr<sqlite3_stmt, StmtDeleter>;

  SqliteStorage() = default;
  bool Init(const std::string& path, const Options& options, std::string* err);
  bool Prepare(const char* sql, Stmt* out, std::string* err);
  bool Exec(sqlite3_stmt* stmt);  // steps a statement without results, then resets it
  bool WriteOne(const WriteOp& op);
  std::string LastError() const;

  std::unique_ptr<sqlite3, DbDeleter> db_;
  Stmt get_, list_, lookup_, put_, del_, begin_, commit_, rollback_;
  std::function<bool(size_t)> write_hook_;
};

}  // namespace kyv
