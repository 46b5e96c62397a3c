// A datastore object held in memory: its (configuration, runtime) messages, the index it is
// tracked under and the transaction it belongs to.
#pragma once

#include <google/protobuf/message.h>

#include <memory>
#include <string>

#include "platform/datastore/db_index.h"

class Transaction;

class SvcObject {
 public:
  // `created` is recorded for callers (created()); it changes nothing in storage.
  explicit SvcObject(bool created = false) : created_(created) {}
  // Frees both messages.
  ~SvcObject();
  SvcObject(const SvcObject&) = delete;
  SvcObject& operator=(const SvcObject&) = delete;

  // Takes ownership of both messages (either may be null). A message attached earlier and not
  // passed again is freed.
  void set_obj(google::protobuf::Message* obj, google::protobuf::Message* obj_runtime);
  // The messages; owned by this object (and so by the view that tracks it).
  google::protobuf::Message* obj() const { return obj_.get(); }
  google::protobuf::Message* obj_runtime() const { return obj_runtime_.get(); }

  // Binds the object to `txn`. An object is bound once: binding it again to another
  // transaction is refused (false, logged) and the first binding stays.
  bool set_transaction(Transaction* txn);
  Transaction* transaction() const { return txn_; }

  // Records the base bookkeeping of `msg` (its type name and its string "uuid" field, when it
  // has one). `msg` is not kept.
  void PbGetBaseObject(const google::protobuf::Message* msg);
  const std::string& base_type() const { return base_type_; }
  const std::string& base_uuid() const { return base_uuid_; }

  // The index the object is tracked under; empty until set or until a view tracks it.
  const DbIndex& index() const { return index_; }
  void set_index(const DbIndex& index) { index_ = index; }

  // The index the messages themselves name: (table of the type, uuid) from the base
  // bookkeeping, else from the runtime message, else from the configuration message, taking
  // the first that has a non-empty "uuid". Empty when none does.
  DbIndex DerivedIndex() const;

  // The flag given to the constructor.
  bool created() const { return created_; }

 private:
  friend class DbView;  // swaps messages in place without invalidating callers' pointers

  std::unique_ptr<google::protobuf::Message> obj_;
  std::unique_ptr<google::protobuf::Message> obj_runtime_;
  Transaction* txn_ = nullptr;
  DbIndex index_;
  std::string base_type_;
  std::string base_uuid_;
  bool created_;
  bool owned_by_view_ = false;  // set once a view has taken ownership
};
