// Helpers shared by the datastore's tests: temporary directories, backends by name, storage
// wrappers that fail or record batches, and widget records.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/datastore/datastore.h"
#include "platform/datastore/ds_widget.pb.h"
#include "platform/datastore/memory_storage.h"
#include "platform/datastore/sqlite_storage.h"

namespace kyv {
namespace testing {

// A fresh directory under the system temp dir, removed with everything in it.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kyv-ds-XXXXXX").string();
    char* made = mkdtemp(pattern.data());
    EXPECT_NE(made, nullptr);
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// Forwards to another storage; Apply can be made to fail and records every batch it passes on.
class WrappedStorage : public Storage {
 public:
  explicit WrappedStorage(std::unique_ptr<Storage> inner) : inner_(std::move(inner)) {}
  Syserr Get(const std::string& t, const std::string& k, StoredObject* out) override {
    ++gets;
    return inner_->Get(t, k, out);
  }
  Syserr ListKeys(const std::string& t, std::vector<KeyTime>* out) override {
    return inner_->ListKeys(t, out);
  }
  Syserr LookupManagedObjectId(const std::string& t, const std::string& v,
                               std::string* k) override {
    return inner_->LookupManagedObjectId(t, v, k);
  }
  Syserr Apply(const std::vector<WriteOp>& batch) override {
    if (fail_apply) return SYSERR_DB_TXN_FAILURE;
    batches.push_back(batch);
    return inner_->Apply(batch);
  }
  bool fail_apply = false;
  int gets = 0;
  std::vector<std::vector<WriteOp>> batches;

 private:
  std::unique_ptr<Storage> inner_;
};

// Makes a datastore of the named backend ("memory" or "sqlite", the latter in `dir`).
inline std::unique_ptr<Datastore> OpenBackend(const std::string& backend, const TempDir& dir) {
  if (backend == "memory") return Datastore::InMemory();
  std::string err;
  std::unique_ptr<Datastore> db = Datastore::OpenSqlite(dir.File("store.db"), &err);
  EXPECT_NE(db, nullptr) << err;
  return db;
}

inline DsWidgetRuntime Widget(const std::string& uuid, const std::string& mor = "",
                              const std::string& name = "") {
  DsWidgetRuntime w;
  w.set_uuid(uuid);
  if (!mor.empty()) w.set_managed_object_id(mor);
  w.set_name(name.empty() ? "name-" + uuid : name);
  return w;
}

}  // namespace testing
}  // namespace kyv
