#include "platform/datastore/sqlite_storage.h"

#include <glog/logging.h>
#include <sqlite3.h>

namespace kyv {

namespace {

constexpr int kSchemaVersion = 1;

constexpr const char kSchema[] =
    "CREATE TABLE IF NOT EXISTS objects("
    " tbl TEXT NOT NULL, key TEXT NOT NULL,"
    " cfg_type TEXT NOT NULL, cfg BLOB NOT NULL,"
    " rt_type TEXT NOT NULL, rt BLOB NOT NULL,"
    " wtime INTEGER NOT NULL, mor TEXT,"
    " UNIQUE(tbl, key));"
    "CREATE INDEX IF NOT EXISTS objects_mor ON objects(tbl, mor, key) WHERE mor IS NOT NULL;";

// Binds a std::string as text or blob. SQLITE_STATIC: the caller keeps the string alive until
// the statement has been stepped and reset.
void BindText(sqlite3_stmt* s, int i, const std::string& v) {
  sqlite3_bind_text(s, i, v.data(), static_cast<int>(v.size()), SQLITE_STATIC);
}
void BindBlob(sqlite3_stmt* s, int i, const std::string& v) {
  // data() of an empty string is non-null, so an empty value is stored as an empty blob.
  sqlite3_bind_blob(s, i, v.data(), static_cast<int>(v.size()), SQLITE_STATIC);
}
std::string ColumnString(sqlite3_stmt* s, int i) {
  const void* p = sqlite3_column_blob(s, i);
  int n = sqlite3_column_bytes(s, i);
  return p == nullptr ? std::string() : std::string(static_cast<const char*>(p), n);
}

// Resets a statement and clears its bindings when it goes out of scope.
class StmtScope {
 public:
  explicit StmtScope(sqlite3_stmt* s) : s_(s) {}
  ~StmtScope() {
    sqlite3_reset(s_);
    sqlite3_clear_bindings(s_);
  }
  StmtScope(const StmtScope&) = delete;
  StmtScope& operator=(const StmtScope&) = delete;

 private:
  sqlite3_stmt* s_;
};

}  // namespace

void SqliteStorage::StmtDeleter::operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
void SqliteStorage::DbDeleter::operator()(sqlite3* db) const { sqlite3_close(db); }

std::unique_ptr<SqliteStorage> SqliteStorage::Open(const std::string& path, std::string* err) {
  return Open(path, Options(), err);
}

std::unique_ptr<SqliteStorage> SqliteStorage::Open(const std::string& path, const Options& options,
                                                   std::string* err) {
  std::unique_ptr<SqliteStorage> s(new SqliteStorage());
  std::string local_err;
  if (!s->Init(path, options, &local_err)) {
    LOG(ERROR) << "datastore: cannot open " << path << ": " << local_err;
    if (err != nullptr) *err = local_err;
    return nullptr;
  }
  return s;
}

SqliteStorage::~SqliteStorage() {
  // Statements first: the connection closes only once they are finalized.
  get_.reset();
  list_.reset();
  lookup_.reset();
  put_.reset();
  del_.reset();
  begin_.reset();
  commit_.reset();
  rollback_.reset();
  db_.reset();
}

std::string SqliteStorage::LastError() const {
  return db_ ? sqlite3_errmsg(db_.get()) : "no connection";
}

bool SqliteStorage::Init(const std::string& path, const Options& options, std::string* err) {
  sqlite3* raw = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  db_.reset(raw);  // closes even a handle that failed to open
  if (rc != SQLITE_OK) {
    *err = LastError();
    return false;
  }
  Stmt version;
  if (!Prepare("PRAGMA user_version", &version, err)) return false;
  if (sqlite3_step(version.get()) != SQLITE_ROW) {
    *err = LastError();
    return false;
  }
  int found = sqlite3_column_int(version.get(), 0);
  version.reset();
  if (found > kSchemaVersion) {
    *err = "unsupported schema version " + std::to_string(found);
    return false;
  }
  std::string setup =
      std::string("PRAGMA journal_mode=WAL;") +
      (options.full_sync ? "PRAGMA synchronous=FULL;" : "PRAGMA synchronous=NORMAL;") + kSchema +
      "PRAGMA user_version=" + std::to_string(kSchemaVersion) + ";";
  char* msg = nullptr;
  if (sqlite3_exec(db_.get(), setup.c_str(), nullptr, nullptr, &msg) != SQLITE_OK) {
    *err = msg != nullptr ? msg : LastError();
    sqlite3_free(msg);
    return false;
  }
  return Prepare(
             "SELECT cfg_type, cfg, rt_type, rt, wtime, mor FROM objects "
             "WHERE tbl = ?1 AND key = ?2",
             &get_, err) &&
         Prepare("SELECT key, wtime FROM objects WHERE tbl = ?1 ORDER BY key", &list_, err) &&
         Prepare("SELECT key FROM objects WHERE tbl = ?1 AND mor = ?2 ORDER BY key LIMIT 1",
                 &lookup_, err) &&
         Prepare(
             "INSERT OR REPLACE INTO objects(tbl, key, cfg_type, cfg, rt_type, rt, wtime, mor)"
             " VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)",
             &put_, err) &&
         Prepare("DELETE FROM objects WHERE tbl = ?1 AND key = ?2", &del_, err) &&
         Prepare("BEGIN IMMEDIATE", &begin_, err) && Prepare("COMMIT", &commit_, err) &&
         Prepare("ROLLBACK", &rollback_, err);
}

bool SqliteStorage::Prepare(const char* sql, Stmt* out, std::string* err) {
  sqlite3_stmt* s = nullptr;
  if (sqlite3_prepare_v3(db_.get(), sql, -1, SQLITE_PREPARE_PERSISTENT, &s, nullptr) != SQLITE_OK) {
    *err = LastError();
    sqlite3_finalize(s);
    return false;
  }
  out->reset(s);
  return true;
}

bool SqliteStorage::Exec(sqlite3_stmt* stmt) {
  StmtScope scope(stmt);
  return sqlite3_step(stmt) == SQLITE_DONE;
}

Syserr SqliteStorage::Get(const std::string& table, const std::string& key, StoredObject* out) {
  sqlite3_stmt* s = get_.get();
  StmtScope scope(s);
  BindText(s, 1, table);
  BindText(s, 2, key);
  int rc = sqlite3_step(s);
  if (rc == SQLITE_DONE) return SYSERR_DB_OBJ_NOT_FOUND;
  if (rc != SQLITE_ROW) {
    LOG(ERROR) << "datastore: read of " << table << "/" << key << " failed: " << LastError();
    return SYSERR_DB_FAILURE;
  }
  out->cfg_type = ColumnString(s, 0);
  out->cfg_bytes = ColumnString(s, 1);
  out->rt_type = ColumnString(s, 2);
  out->rt_bytes = ColumnString(s, 3);
  out->write_time = sqlite3_column_int64(s, 4);
  out->managed_object_id = ColumnString(s, 5);
  return SYSERR_SUCCESS;
}

Syserr SqliteStorage::ListKeys(const std::string& table, std::vector<KeyTime>* out) {
  out->clear();
  sqlite3_stmt* s = list_.get();
  StmtScope scope(s);
  BindText(s, 1, table);
  int rc;
  while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
    out->push_back({ColumnString(s, 0), sqlite3_column_int64(s, 1)});
  }
  if (rc != SQLITE_DONE) {
    LOG(ERROR) << "datastore: listing " << table << " failed: " << LastError();
    out->clear();
    return SYSERR_DB_FAILURE;
  }
  return SYSERR_SUCCESS;
}

Syserr SqliteStorage::LookupManagedObjectId(const std::string& table, const std::string& value,
                                            std::string* key) {
  if (value.empty()) return SYSERR_DB_OBJ_NOT_FOUND;
  sqlite3_stmt* s = lookup_.get();
  StmtScope scope(s);
  BindText(s, 1, table);
  BindText(s, 2, value);
  int rc = sqlite3_step(s);
  if (rc == SQLITE_DONE) return SYSERR_DB_OBJ_NOT_FOUND;
  if (rc != SQLITE_ROW) {
    LOG(ERROR) << "datastore: index lookup in " << table << " failed: " << LastError();
    return SYSERR_DB_FAILURE;
  }
  *key = ColumnString(s, 0);
  return SYSERR_SUCCESS;
}

bool SqliteStorage::WriteOne(const WriteOp& op) {
  if (op.kind == WriteOp::kDelete) {
    BindText(del_.get(), 1, op.table);
    BindText(del_.get(), 2, op.key);
    return Exec(del_.get());
  }
  sqlite3_stmt* s = put_.get();
  const StoredObject& o = op.object;
  BindText(s, 1, op.table);
  BindText(s, 2, op.key);
  BindText(s, 3, o.cfg_type);
  BindBlob(s, 4, o.cfg_bytes);
  BindText(s, 5, o.rt_type);
  BindBlob(s, 6, o.rt_bytes);
  sqlite3_bind_int64(s, 7, o.write_time);
  if (o.managed_object_id.empty()) {
    sqlite3_bind_null(s, 8);
  } else {
    BindText(s, 8, o.managed_object_id);
  }
  return Exec(s);
}

Syserr SqliteStorage::Apply(const std::vector<WriteOp>& batch) {
  if (batch.empty()) return SYSERR_SUCCESS;
  if (!Exec(begin_.get())) {
    LOG(ERROR) << "datastore: cannot begin a transaction: " << LastError();
    return SYSERR_DB_TXN_FAILURE;
  }
  size_t done = 0;
  bool ok = true;
  for (const WriteOp& op : batch) {
    if (!WriteOne(op)) {
      LOG(ERROR) << "datastore: write of " << op.table << "/" << op.key
                 << " failed: " << LastError();
      ok = false;
      break;
    }
    ++done;
    if (write_hook_ && !write_hook_(done)) {
      LOG(ERROR) << "datastore: write hook failed the batch after " << done << " ops";
      ok = false;
      break;
    }
  }
  if (ok && !Exec(commit_.get())) {
    LOG(ERROR) << "datastore: commit failed: " << LastError();
    ok = false;
  }
  if (!ok) {
    // A failed COMMIT may already have ended the transaction; ROLLBACK then fails harmlessly.
    if (sqlite3_get_autocommit(db_.get()) == 0) Exec(rollback_.get());
    return SYSERR_DB_TXN_FAILURE;
  }
  return SYSERR_SUCCESS;
}

}  // namespace kyv
