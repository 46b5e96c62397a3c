// A transaction's working set: the objects it has read or written, and its pending writes.
//
// Reads look in the view first, then in committed storage; a tracked object is never read
// from storage again. Writes and deletions are recorded here and applied by
// Transaction::Commit. The view owns every object it tracks: messages handed out by GetObject,
// GetObjects and the typed lookups built on them stay valid until the transaction ends.
#pragma once

#include <google/protobuf/message.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/datastore/datastore.h"
#include "platform/datastore/db_index.h"
#include "platform/datastore/svc_object.h"
#include "proto/syserr.pb.h"

class Transaction;

// Directions of CacheSubTree.
enum DbTreeDirection { DIRECTION_UP = 0, DIRECTION_DOWN = 1 };

class DbView {
 public:
  // `txn` owns the view; `db` (may be null: every read and write then fails with
  // SYSERR_DB_NOT_INITIALIZED) must outlive it.
  DbView(Transaction* txn, Datastore* db);
  // Frees every tracked object and message.
  ~DbView();
  DbView(const DbView&) = delete;
  DbView& operator=(const DbView&) = delete;

  // The object tracked under `index`, with any uncommitted changes; null when the view tracks
  // none or has recorded its deletion. Owned by the view.
  SvcObject* GetObject(const DbIndex& index);

  // Reads an object into newly allocated messages that the caller owns (until it hands them to
  // the view through add_to_tracked_object_list). A tracked object is copied from the view;
  // otherwise committed storage is read. Absent halves are null. Fails with
  // SYSERR_DB_OBJ_NOT_FOUND (absent or deleted in this view), SYSERR_DB_PARSE_ERROR (stored
  // data unreadable) or SYSERR_DB_FAILURE; the out pointers are then null.
  Syserr GetObjectFromDb(const DbIndex& index, google::protobuf::Message** obj,
                         google::protobuf::Message** obj_runtime, bool unused = false);

  // Takes ownership of `obj` and tracks it, binding it to this view's transaction if unbound.
  // Its index is the one set on it; else, for messages that GetObjectFromDb just returned,
  // the index that was read; else SvcObject::DerivedIndex(). A later object replaces an earlier
  // one under the same index (the earlier one stays alive until the transaction ends). Pending
  // writes are not changed. An object without any index is kept (and freed) but not found.
  void add_to_tracked_object_list(SvcObject* obj);

  // Records a write of (cfg, runtime) under `index`, or its deletion when `del` is set.
  // - A message that is the one the view tracks under `index` is only marked dirty.
  // - Another message is copied into the tracked one (same type) or copied once and tracked;
  //   the caller keeps ownership of what it passed.
  // - A null half keeps the object's current half (tracked, else committed, else absent).
  // The trailing flags are accepted for callers and ignored. Returns SYSERR_INVALID_ARG for an
  // empty index, SYSERR_DB_OBJ_NOT_FOUND when both halves are null and the object exists
  // nowhere, or a read error of the committed object; nothing is recorded on failure.
  Syserr DbUpdate(const DbIndex& index, const google::protobuf::Message* cfg,
                  const google::protobuf::Message* runtime, bool del = false, bool = false,
                  bool = false);

  // Replaces *indexes with the indexes of `table`: committed keys plus keys tracked or written
  // in this view, minus keys deleted in it. Key order.
  Syserr GetAllObjects(const std::string& table, std::vector<DbIndex>* indexes);

  // Replaces *objects with the objects of `table` that the view tracks (not deleted), in key
  // order. Owned by the view.
  Syserr GetObjects(const std::string& table, std::vector<SvcObject*>* objects);

  // Loads the object at `index`, and each of `indexes`, into the view unless already tracked.
  // Objects have no subtree in this datastore, and `direction` and `lock_mode` change nothing
  // (one thread, no locks). Returns 0 on success, 1 when any of them cannot be read.
  int CacheSubTree(const DbIndex& index, const std::vector<DbIndex>& indexes, int direction,
                   const std::string& lock_mode);

  // The owning transaction and the datastore read from; neither is owned by the view.
  Transaction* transaction() const { return txn_; }
  Datastore* datastore() const { return db_; }

  // True when the view holds writes or deletions to commit.
  bool has_changes() const { return !dirty_order_.empty(); }

  // Builds the commit of this view: one op per changed index, in the order each was first
  // changed, every written object serialized once and stamped `write_time`. The changes point
  // into the view's messages.
  void BuildCommit(int64_t write_time, std::vector<kyv::WriteOp>* batch,
                   std::vector<DbChange>* changes) const;

 private:
  enum class State { kClean, kPut, kDelete };
  struct Entry {
    SvcObject* obj = nullptr;  // owned through owned_
    State state = State::kClean;
    bool listed = false;  // in dirty_order_
  };
  // Messages GetObjectFromDb returned last, and their index.
  struct LastRead {
    const google::protobuf::Message* cfg = nullptr;
    const google::protobuf::Message* runtime = nullptr;
    DbIndex index;
  };

  SvcObject* Track(const DbIndex& index, std::unique_ptr<SvcObject> obj);
  void MarkDirty(const DbIndex& index, Entry* entry, State state);
  // Makes `*slot` hold the content of `passed` (see DbUpdate); a replaced message is retired.
  void AssignHalf(std::unique_ptr<google::protobuf::Message>* slot,
                  const google::protobuf::Message* passed);
  void Retire(std::unique_ptr<google::protobuf::Message>* slot);

  Transaction* txn_;
  Datastore* db_;
  std::map<DbIndex, Entry> entries_;
  std::vector<DbIndex> dirty_order_;  // each changed index once
  std::vector<std::unique_ptr<SvcObject>> owned_;
  std::vector<std::unique_ptr<google::protobuf::Message>> retired_;
  LastRead last_read_;
};
