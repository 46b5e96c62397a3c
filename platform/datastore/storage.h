// The persistence interface under the datastore: whole objects in, whole objects out.
//
// A Storage knows nothing of protobuf: it keeps the type names and serialized bytes of an
// object's two halves, the time of its last write and the value of its one secondary index.
// Implementations: MemoryStorage (tests, scratch) and SqliteStorage (the embedded default).
// All calls come from one thread.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "proto/syserr.pb.h"

namespace kyv {

// The only secondary index that storage maintains.
inline constexpr const char kManagedObjectIdField[] = "managed_object_id";

// One stored object. An empty type name means that half is absent.
struct StoredObject {
  std::string cfg_type;
  std::string cfg_bytes;
  std::string rt_type;
  std::string rt_bytes;
  int64_t write_time = 0;         // whole seconds since the epoch
  std::string managed_object_id;  // empty: not indexed
};

// One element of an atomic batch.
struct WriteOp {
  enum Kind { kPut, kDelete };
  Kind kind = kPut;
  std::string table;
  std::string key;
  StoredObject object;  // kPut only
};

// A key of a table with the time of its last write.
struct KeyTime {
  std::string key;
  int64_t write_time = 0;
};

class Storage {
 public:
  virtual ~Storage() = default;

  // Reads one object into *out. SYSERR_DB_OBJ_NOT_FOUND when absent (then *out is untouched),
  // SYSERR_DB_FAILURE on an I/O error.
  virtual Syserr Get(const std::string& table, const std::string& key, StoredObject* out) = 0;

  // Replaces *out with the keys of `table` and their write times, in key order.
  virtual Syserr ListKeys(const std::string& table, std::vector<KeyTime>* out) = 0;

  // Finds the key of the object of `table` whose managed_object_id is `value` (the smallest
  // such key if several share it). SYSERR_DB_OBJ_NOT_FOUND when none.
  virtual Syserr LookupManagedObjectId(const std::string& table, const std::string& value,
                                       std::string* key) = 0;

  // Applies every op in order, all or nothing. Deleting an absent key is not an error. On
  // failure nothing of the batch is visible, now or after a crash, and an error is returned.
  virtual Syserr Apply(const std::vector<WriteOp>& batch) = 0;
};

}  // namespace kyv
