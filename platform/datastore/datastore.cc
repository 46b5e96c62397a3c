#include "platform/datastore/datastore.h"

#include <glog/logging.h>

#include <algorithm>

#include "platform/datastore/memory_storage.h"
#include "platform/datastore/object_codec.h"
#include "platform/datastore/sqlite_storage.h"

using google::protobuf::Message;

Datastore* Datastore::g_db_ = nullptr;

Datastore::Datastore(std::unique_ptr<kyv::Storage> storage) : storage_(std::move(storage)) {
  CHECK(storage_ != nullptr) << "Datastore needs a storage";
}

Datastore::~Datastore() {
  if (g_db_ == this) g_db_ = nullptr;
}

std::unique_ptr<Datastore> Datastore::OpenSqlite(const std::string& path, std::string* err) {
  std::unique_ptr<kyv::SqliteStorage> storage = kyv::SqliteStorage::Open(path, err);
  if (storage == nullptr) return nullptr;
  return std::make_unique<Datastore>(std::move(storage));
}

std::unique_ptr<Datastore> Datastore::InMemory() {
  return std::make_unique<Datastore>(std::make_unique<kyv::MemoryStorage>());
}

Syserr Datastore::Read(const DbIndex& index, std::unique_ptr<Message>* cfg,
                       std::unique_ptr<Message>* runtime) {
  cfg->reset();
  runtime->reset();
  kyv::StoredObject stored;
  Syserr rc = storage_->Get(index.table(), index.key(), &stored);
  if (rc != SYSERR_SUCCESS) return rc;
  return kyv::DecodeObject(index, stored, cfg, runtime);
}

Syserr Datastore::GetInternal(const std::string& table, const std::string& key, Message** obj,
                              Message** obj_runtime) {
  if (obj != nullptr) *obj = nullptr;
  if (obj_runtime != nullptr) *obj_runtime = nullptr;
  std::unique_ptr<Message> cfg, rt;
  Syserr rc = Read(DbIndex(table, key), &cfg, &rt);
  if (rc != SYSERR_SUCCESS) return rc;
  if (obj != nullptr) *obj = cfg.release();
  if (obj_runtime != nullptr) *obj_runtime = rt.release();
  return SYSERR_SUCCESS;
}

Syserr Datastore::GetAll(const std::string& table,
                         std::vector<std::pair<std::string, std::string>>* pairs, int64_t ts) {
  pairs->clear();
  std::vector<kyv::KeyTime> keys;
  Syserr rc = storage_->ListKeys(table, &keys);
  if (rc != SYSERR_SUCCESS) return rc;
  for (kyv::KeyTime& k : keys) {
    if (ts == 0 || k.write_time < ts) pairs->emplace_back(table, std::move(k.key));
  }
  return SYSERR_SUCCESS;
}

Syserr Datastore::GetKeys(const std::string& table, std::set<std::string>* keys) {
  keys->clear();
  std::vector<kyv::KeyTime> listed;
  Syserr rc = storage_->ListKeys(table, &listed);
  if (rc != SYSERR_SUCCESS) return rc;
  for (kyv::KeyTime& k : listed) keys->insert(keys->end(), std::move(k.key));
  return SYSERR_SUCCESS;
}

Syserr Datastore::GetPkFromSecIdx(const std::string& table, const std::string& index_field,
                                  const std::string& value, std::string* key) {
  if (index_field != kyv::kManagedObjectIdField) {
    LOG(ERROR) << "datastore: no secondary index " << index_field << " on " << table;
    return SYSERR_INVALID_ARG;
  }
  return storage_->LookupManagedObjectId(table, value, key);
}

void Datastore::AttachObjectClient(boost::asio::io_context* io) {
  object_client_ = std::make_unique<DbObjectClient>(io);
}

void Datastore::AddCommitListener(DbCommitListener* listener) {
  if (std::find(listeners_.begin(), listeners_.end(), listener) == listeners_.end()) {
    listeners_.push_back(listener);
  }
}

void Datastore::RemoveCommitListener(DbCommitListener* listener) {
  listeners_.erase(std::remove(listeners_.begin(), listeners_.end(), listener), listeners_.end());
}

Syserr Datastore::ApplyCommit(const std::vector<kyv::WriteOp>& batch,
                              const std::vector<DbChange>& changes) {
  Syserr rc = storage_->Apply(batch);
  if (rc != SYSERR_SUCCESS) {
    LOG(ERROR) << "datastore: commit of " << batch.size() << " changes failed (" << rc << ")";
    return rc;
  }
  // By position over the live list, so a listener removed meanwhile is never called.
  for (size_t i = 0; i < listeners_.size(); ++i) listeners_[i]->OnCommit(changes);
  return SYSERR_SUCCESS;
}
