#include "platform/datastore/db_view.h"

#include <glog/logging.h>

#include <set>

#include "platform/datastore/object_codec.h"

using google::protobuf::Message;

DbView::DbView(Transaction* txn, Datastore* db) : txn_(txn), db_(db) {}

DbView::~DbView() = default;

SvcObject* DbView::GetObject(const DbIndex& index) {
  auto it = entries_.find(index);
  if (it == entries_.end() || it->second.state == State::kDelete) return nullptr;
  return it->second.obj;
}

Syserr DbView::GetObjectFromDb(const DbIndex& index, Message** obj, Message** obj_runtime,
                               bool /*unused*/) {
  if (obj != nullptr) *obj = nullptr;
  if (obj_runtime != nullptr) *obj_runtime = nullptr;
  std::unique_ptr<Message> cfg, rt;
  auto it = entries_.find(index);
  if (it != entries_.end() && it->second.state == State::kDelete) return SYSERR_DB_OBJ_NOT_FOUND;
  if (it != entries_.end() && it->second.obj != nullptr) {
    const SvcObject* tracked = it->second.obj;
    if (tracked->obj() != nullptr) cfg = kyv::CloneMessage(*tracked->obj());
    if (tracked->obj_runtime() != nullptr) rt = kyv::CloneMessage(*tracked->obj_runtime());
  } else {
    if (db_ == nullptr) return SYSERR_DB_NOT_INITIALIZED;
    Syserr rc = db_->Read(index, &cfg, &rt);
    if (rc != SYSERR_SUCCESS) return rc;
  }
  last_read_ = LastRead{cfg.get(), rt.get(), index};
  if (obj != nullptr) *obj = cfg.release();
  if (obj_runtime != nullptr) *obj_runtime = rt.release();
  return SYSERR_SUCCESS;
}

SvcObject* DbView::Track(const DbIndex& index, std::unique_ptr<SvcObject> obj) {
  SvcObject* raw = obj.get();
  raw->owned_by_view_ = true;
  owned_.push_back(std::move(obj));
  if (raw->transaction() == nullptr) raw->set_transaction(txn_);
  raw->set_index(index);
  entries_[index].obj = raw;
  return raw;
}

void DbView::add_to_tracked_object_list(SvcObject* obj) {
  if (obj == nullptr || obj->owned_by_view_) return;
  std::unique_ptr<SvcObject> owned(obj);
  DbIndex index = obj->index();
  if (index.empty()) {
    const LastRead& lr = last_read_;
    bool has_any = obj->obj() != nullptr || obj->obj_runtime() != nullptr;
    bool cfg_ok = obj->obj() == nullptr || obj->obj() == lr.cfg;
    bool rt_ok = obj->obj_runtime() == nullptr || obj->obj_runtime() == lr.runtime;
    if (has_any && cfg_ok && rt_ok) index = lr.index;
  }
  if (index.empty()) index = obj->DerivedIndex();
  last_read_ = LastRead();
  if (index.empty()) {
    LOG(WARNING) << "datastore: tracking an object that names no index; it cannot be found";
    if (obj->transaction() == nullptr) obj->set_transaction(txn_);
    obj->owned_by_view_ = true;
    owned_.push_back(std::move(owned));
    return;
  }
  Track(index, std::move(owned));
}

void DbView::MarkDirty(const DbIndex& index, Entry* entry, State state) {
  entry->state = state;
  if (!entry->listed) {
    entry->listed = true;
    dirty_order_.push_back(index);
  }
}

void DbView::Retire(std::unique_ptr<Message>* slot) {
  // Callers may still hold the old message: keep it alive until the transaction ends.
  if (*slot) retired_.push_back(std::move(*slot));
}

void DbView::AssignHalf(std::unique_ptr<Message>* slot, const Message* passed) {
  if (passed == nullptr || slot->get() == passed) return;
  if (*slot && (*slot)->GetDescriptor() == passed->GetDescriptor()) {
    (*slot)->CopyFrom(*passed);
    return;
  }
  Retire(slot);
  *slot = kyv::CloneMessage(*passed);
}

Syserr DbView::DbUpdate(const DbIndex& index, const Message* cfg, const Message* runtime, bool del,
                        bool, bool) {
  if (index.empty()) {
    LOG(ERROR) << "datastore: DbUpdate with an empty index (table '" << index.table() << "')";
    return SYSERR_INVALID_ARG;
  }
  if (db_ == nullptr) return SYSERR_DB_NOT_INITIALIZED;
  auto it = entries_.find(index);
  if (del) {
    Entry& e = it != entries_.end() ? it->second : entries_[index];
    MarkDirty(index, &e, State::kDelete);
    return SYSERR_SUCCESS;
  }

  SvcObject* tracked = it != entries_.end() ? it->second.obj : nullptr;
  if (tracked != nullptr && it->second.state == State::kDelete) {
    // Written again after its deletion in this view: the halves not passed are now absent.
    if (cfg == nullptr) Retire(&tracked->obj_);
    if (runtime == nullptr) Retire(&tracked->obj_runtime_);
  }
  if (tracked == nullptr) {
    // Not tracked yet: start from the committed object when a half is to be kept.
    std::unique_ptr<Message> base_cfg, base_rt;
    bool deleted_here = it != entries_.end() && it->second.state == State::kDelete;
    if ((cfg == nullptr || runtime == nullptr) && !deleted_here) {
      Syserr rc = db_->Read(index, &base_cfg, &base_rt);
      if (rc != SYSERR_SUCCESS && rc != SYSERR_DB_OBJ_NOT_FOUND) return rc;
      if (rc == SYSERR_DB_OBJ_NOT_FOUND && cfg == nullptr && runtime == nullptr) return rc;
    }
    if (cfg == nullptr && runtime == nullptr && deleted_here) return SYSERR_DB_OBJ_NOT_FOUND;
    auto fresh = std::make_unique<SvcObject>(false);
    fresh->obj_ = cfg != nullptr ? kyv::CloneMessage(*cfg) : std::move(base_cfg);
    fresh->obj_runtime_ = runtime != nullptr ? kyv::CloneMessage(*runtime) : std::move(base_rt);
    Track(index, std::move(fresh));
    MarkDirty(index, &entries_[index], State::kPut);
    return SYSERR_SUCCESS;
  }

  if (cfg == nullptr && runtime == nullptr && tracked->obj() == nullptr &&
      tracked->obj_runtime() == nullptr) {
    return SYSERR_DB_OBJ_NOT_FOUND;
  }
  AssignHalf(&tracked->obj_, cfg);
  AssignHalf(&tracked->obj_runtime_, runtime);
  MarkDirty(index, &it->second, State::kPut);
  return SYSERR_SUCCESS;
}

Syserr DbView::GetAllObjects(const std::string& table, std::vector<DbIndex>* indexes) {
  indexes->clear();
  if (db_ == nullptr) return SYSERR_DB_NOT_INITIALIZED;
  std::set<std::string> keys;
  Syserr rc = db_->GetKeys(table, &keys);
  if (rc != SYSERR_SUCCESS) return rc;
  for (auto it = entries_.lower_bound(DbIndex(table, "")); it != entries_.end(); ++it) {
    if (it->first.table() != table) break;
    if (it->second.state == State::kDelete) {
      keys.erase(it->first.key());
    } else if (it->second.obj != nullptr) {
      keys.insert(it->first.key());
    }
  }
  indexes->reserve(keys.size());
  for (const std::string& key : keys) indexes->emplace_back(table, key);
  return SYSERR_SUCCESS;
}

Syserr DbView::GetObjects(const std::string& table, std::vector<SvcObject*>* objects) {
  objects->clear();
  for (auto it = entries_.lower_bound(DbIndex(table, "")); it != entries_.end(); ++it) {
    if (it->first.table() != table) break;
    if (it->second.state != State::kDelete && it->second.obj != nullptr) {
      objects->push_back(it->second.obj);
    }
  }
  return SYSERR_SUCCESS;
}

int DbView::CacheSubTree(const DbIndex& index, const std::vector<DbIndex>& indexes,
                         int /*direction*/, const std::string& /*lock_mode*/) {
  std::vector<DbIndex> wanted{index};
  wanted.insert(wanted.end(), indexes.begin(), indexes.end());
  for (const DbIndex& idx : wanted) {
    if (GetObject(idx) != nullptr) continue;
    Message* cfg = nullptr;
    Message* rt = nullptr;
    Syserr rc = GetObjectFromDb(idx, &cfg, &rt);
    if (rc != SYSERR_SUCCESS) {
      LOG(WARNING) << "datastore: cannot load " << idx.table() << "/" << idx.key() << " (" << rc
                   << ")";
      return 1;
    }
    auto obj = std::make_unique<SvcObject>(false);
    obj->set_obj(cfg, rt);
    Track(idx, std::move(obj));
    last_read_ = LastRead();
  }
  return 0;
}

void DbView::BuildCommit(int64_t write_time, std::vector<kyv::WriteOp>* batch,
                         std::vector<DbChange>* changes) const {
  batch->clear();
  changes->clear();
  batch->reserve(dirty_order_.size());
  changes->reserve(dirty_order_.size());
  for (const DbIndex& index : dirty_order_) {
    const Entry& e = entries_.at(index);
    if (e.state == State::kClean) continue;
    kyv::WriteOp op;
    op.table = index.table();
    op.key = index.key();
    DbChange change;
    change.index = index;
    if (e.state == State::kDelete) {
      op.kind = kyv::WriteOp::kDelete;
      change.deleted = true;
    } else {
      op.kind = kyv::WriteOp::kPut;
      kyv::EncodeObject(e.obj->obj(), e.obj->obj_runtime(), &op.object);
      op.object.write_time = write_time;
      change.cfg = e.obj->obj();
      change.runtime = e.obj->obj_runtime();
    }
    batch->push_back(std::move(op));
    changes->push_back(std::move(change));
  }
}
