#include "platform/datastore/transaction.h"

#include <glog/logging.h>

#include <vector>

#include "platform/common/clock.h"

Transaction* Transaction::transaction_ = nullptr;

Transaction::Transaction() : Transaction(Datastore::g_db_) {}

Transaction::Transaction(Datastore* db) : db_(db), view_(std::make_unique<DbView>(this, db)) {
  transaction_ = this;
}

Transaction::~Transaction() {
  if (transaction_ == this) transaction_ = nullptr;
}

Syserr Transaction::Commit(bool) {
  Syserr rc = SYSERR_SUCCESS;
  if (view_->has_changes()) {
    if (db_ == nullptr) {
      LOG(ERROR) << "datastore: commit without a datastore; changes dropped";
      rc = SYSERR_DB_NOT_INITIALIZED;
    } else {
      std::vector<kyv::WriteOp> batch;
      std::vector<DbChange> changes;
      view_->BuildCommit(kyv::GetClock().NowSeconds(), &batch, &changes);
      rc = db_->ApplyCommit(batch, changes);
    }
  }
  delete this;
  return rc;
}

Syserr Transaction::Abort(bool) {
  delete this;
  return SYSERR_SUCCESS;
}
