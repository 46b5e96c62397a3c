#include "platform/datastore/memory_storage.h"

namespace kyv {

Syserr MemoryStorage::Get(const std::string& table, const std::string& key, StoredObject* out) {
  auto t = tables_.find(table);
  if (t == tables_.end()) return SYSERR_DB_OBJ_NOT_FOUND;
  auto it = t->second.find(key);
  if (it == t->second.end()) return SYSERR_DB_OBJ_NOT_FOUND;
  *out = it->second;
  return SYSERR_SUCCESS;
}

Syserr MemoryStorage::ListKeys(const std::string& table, std::vector<KeyTime>* out) {
  out->clear();
  auto t = tables_.find(table);
  if (t == tables_.end()) return SYSERR_SUCCESS;
  out->reserve(t->second.size());
  for (const auto& [key, obj] : t->second) out->push_back({key, obj.write_time});
  return SYSERR_SUCCESS;
}

Syserr MemoryStorage::LookupManagedObjectId(const std::string& table, const std::string& value,
                                            std::string* key) {
  auto it = mor_index_.find({table, value});
  if (value.empty() || it == mor_index_.end() || it->second.empty()) {
    return SYSERR_DB_OBJ_NOT_FOUND;
  }
  *key = *it->second.begin();
  return SYSERR_SUCCESS;
}

void MemoryStorage::Erase(const std::string& table, const std::string& key) {
  auto t = tables_.find(table);
  if (t == tables_.end()) return;
  auto it = t->second.find(key);
  if (it == t->second.end()) return;
  const std::string& mor = it->second.managed_object_id;
  if (!mor.empty()) {
    auto idx = mor_index_.find({table, mor});
    if (idx != mor_index_.end()) {
      idx->second.erase(key);
      if (idx->second.empty()) mor_index_.erase(idx);
    }
  }
  t->second.erase(it);
  if (t->second.empty()) tables_.erase(t);
}

Syserr MemoryStorage::Apply(const std::vector<WriteOp>& batch) {
  for (const WriteOp& op : batch) {
    Erase(op.table, op.key);
    if (op.kind == WriteOp::kDelete) continue;
    if (!op.object.managed_object_id.empty()) {
      mor_index_[{op.table, op.object.managed_object_id}].insert(op.key);
    }
    tables_[op.table][op.key] = op.object;
  }
  return SYSERR_SUCCESS;
}

}  // namespace kyv
