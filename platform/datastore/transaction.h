// A unit of datastore work: reads and writes go through its DbView; Commit stores every write
// at once, Abort drops them.
//
// OWNERSHIP, READ THIS: a Transaction is always allocated with `new` and frees ITSELF in
// Commit() and Abort(). After either call the pointer is dangling, whatever the result, and
// so are all messages and SvcObjects obtained through its view. The destructor is private, so
// a Transaction cannot live on the stack or in a smart pointer. Every transaction must end
// with exactly one Commit or Abort, or it leaks.
#pragma once

#include <memory>

#include "platform/datastore/datastore.h"
#include "platform/datastore/db_view.h"
#include "proto/syserr.pb.h"

class Transaction {
 public:
  // The most recently created transaction still alive, or null. Set by the constructor, cleared
  // by the destructor when it still points at the transaction being freed.
  static Transaction* transaction_;

  // A transaction on the process-wide datastore (Datastore::g_db_). If there is none, every
  // read fails and a commit with writes returns SYSERR_DB_NOT_INITIALIZED.
  Transaction();
  // A transaction on `db` (not owned; must outlive the transaction).
  explicit Transaction(Datastore* db);
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  // The transaction's view; owned by the transaction.
  DbView* db_view() { return view_.get(); }
  Datastore* datastore() const { return db_; }

  // Stores every write and deletion recorded in the view, in the order the objects were first
  // changed, as one atomic batch (each written object serialized once and stamped with the
  // clock's current second), then tells the datastore's commit listeners, then FREES the
  // transaction. On failure nothing is stored, no listener runs, an error is returned and the
  // transaction is still freed. A transaction without writes stores nothing and succeeds.
  // The flag is accepted for callers and ignored.
  Syserr Commit(bool unused = false);

  // Drops every recorded write and FREES the transaction. Always SYSERR_SUCCESS. The flag is
  // accepted for callers and ignored.
  Syserr Abort(bool unused = false);

 private:
  ~Transaction();

  Datastore* db_;
  std::unique_ptr<DbView> view_;
};
