#include "platform/datastore/db_cache.h"

#include <glog/logging.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>

#include "platform/datastore/object_codec.h"

using google::protobuf::Message;

DbCache* DbCache::g_db_cache_ = nullptr;

DbCachedObject::DbCachedObject(const DbIndex& index, const Message* cfg, const Message* runtime)
    : index_(index) {
  DbCachedObject::OnUpdate(cfg, runtime);
}

DbCachedObject::~DbCachedObject() = default;

void DbCachedObject::OnUpdate(const Message* cfg, const Message* runtime) {
  cfg_ = cfg != nullptr ? kyv::CloneMessage(*cfg) : nullptr;
  runtime_ = runtime != nullptr ? kyv::CloneMessage(*runtime) : nullptr;
}

void DbObjectFactory::RegisterRestoreCallback(const std::string& table, DbRestoreCallback cb) {
  restore_[table] = std::move(cb);
}

void DbObjectFactory::RegisterDeleteCallback(const std::string& table, DbDeleteCallback cb) {
  delete_[table] = std::move(cb);
}

std::unique_ptr<DbCachedObject> DbObjectFactory::Restore(const DbIndex& index, const Message* cfg,
                                                         const Message* runtime) const {
  auto it = restore_.find(index.table());
  if (it == restore_.end() || !it->second) {
    return std::make_unique<DbCachedObject>(index, cfg, runtime);
  }
  return it->second(index, cfg, runtime);
}

void DbObjectFactory::NotifyDelete(const DbIndex& index) const {
  auto it = delete_.find(index.table());
  if (it != delete_.end() && it->second) it->second(index);
}

DbCache::DbCache(Datastore* db, boost::asio::io_context* io)
    : db_(db), io_(io), alive_(std::make_shared<char>(0)) {
  if (db_ != nullptr) db_->AddCommitListener(this);
}

DbCache::~DbCache() {
  if (db_ != nullptr) db_->RemoveCommitListener(this);
  if (g_db_cache_ == this) g_db_cache_ = nullptr;
}

DbCachedObject* DbCache::Find(const DbIndex& index) const {
  auto it = objects_.find(index);
  return it == objects_.end() ? nullptr : it->second.get();
}

void DbCache::Upsert(const DbIndex& index, const Message* cfg, const Message* runtime) {
  auto it = objects_.find(index);
  if (it != objects_.end()) {
    it->second->OnUpdate(cfg, runtime);
    return;
  }
  std::unique_ptr<DbCachedObject> obj = factory_.Restore(index, cfg, runtime);
  if (obj != nullptr) objects_[index] = std::move(obj);
}

Syserr DbCache::CreateCache(const std::string& table, bool, bool) {
  if (IsWatched(table)) return SYSERR_SUCCESS;
  if (db_ == nullptr) return SYSERR_DB_NOT_INITIALIZED;
  std::set<std::string> keys;
  Syserr rc = db_->GetKeys(table, &keys);
  if (rc != SYSERR_SUCCESS) {
    LOG(ERROR) << "datastore cache: cannot list table " << table << " (" << rc << ")";
    return rc;
  }
  watched_.insert(table);
  Syserr result = SYSERR_SUCCESS;
  for (const std::string& key : keys) {
    DbIndex index(table, key);
    std::unique_ptr<Message> cfg, runtime;
    rc = db_->Read(index, &cfg, &runtime);
    if (rc != SYSERR_SUCCESS) {
      LOG(ERROR) << "datastore cache: skipping " << table << "/" << key << " (" << rc << ")";
      if (result == SYSERR_SUCCESS) result = rc;
      continue;
    }
    Upsert(index, cfg.get(), runtime.get());
  }
  return result;
}

void DbCache::OnCommit(const std::vector<DbChange>& changes) {
  auto pending = std::make_shared<std::vector<Pending>>();
  for (const DbChange& c : changes) {
    if (!IsWatched(c.index.table())) continue;
    Pending p;
    p.index = c.index;
    p.deleted = c.deleted;
    if (c.cfg != nullptr) p.cfg = kyv::CloneMessage(*c.cfg);
    if (c.runtime != nullptr) p.runtime = kyv::CloneMessage(*c.runtime);
    pending->push_back(std::move(p));
  }
  if (pending->empty()) return;
  if (io_ == nullptr) {
    LOG(ERROR) << "datastore cache: no I/O context; " << pending->size() << " changes dropped";
    return;
  }
  std::weak_ptr<char> alive = alive_;
  boost::asio::post(*io_, [this, alive, pending]() {
    if (alive.lock() == nullptr) return;
    Deliver(pending.get());
  });
}

void DbCache::Deliver(std::vector<Pending>* changes) {
  for (Pending& c : *changes) {
    if (!c.deleted) {
      Upsert(c.index, c.cfg.get(), c.runtime.get());
      continue;
    }
    auto it = objects_.find(c.index);
    if (it != objects_.end()) {
      std::unique_ptr<DbCachedObject> gone = std::move(it->second);
      objects_.erase(it);
      gone->OnDelete();
    }
    factory_.NotifyDelete(c.index);
  }
}
