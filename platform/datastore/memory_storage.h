// Storage kept in process memory: for tests and for processes that need no persistence.
#pragma once

#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/datastore/storage.h"

namespace kyv {

class MemoryStorage : public Storage {
 public:
  Syserr Get(const std::string& table, const std::string& key, StoredObject* out) override;
  Syserr ListKeys(const std::string& table, std::vector<KeyTime>* out) override;
  Syserr LookupManagedObjectId(const std::string& table, const std::string& value,
                               std::string* key) override;
  // Never fails: every op is applied.
  Syserr Apply(const std::vector<WriteOp>& batch) override;

 private:
  void Erase(const std::string& table, const std::string& key);

  // table -> key -> object.
  std::map<std::string, std::map<std::string, StoredObject>> tables_;
  // (table, managed_object_id) -> keys carrying it.
  std::map<std::pair<std::string, std::string>, std::set<std::string>> mor_index_;
};

}  // namespace kyv
