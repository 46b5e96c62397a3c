// Fixtures shared by the connector's tests: a process datastore holding a controller cluster,
// the I/O context, the task queue and the fake clock.
#pragma once

#include <gtest/gtest.h>

#include <boost/asio/io_context.hpp>

#include <chrono>
#include <functional>
#include <memory>

#include "platform/common/clock.h"
#include "platform/datastore/datastore.h"
#include "platform/datastore/db_cache.h"
#include "platform/datastore/transaction.h"
#include "platform/events/event_api.h"
#include "platform/datastore/transaction.h"
#include "platform/svc/task_queue.h"
#include "proto/config.pb.h"

namespace corvel_test {

// Runs `io` until `pred` holds or `limit` of real time has passed (waiting for real socket
// events; fake-clock timers fire only when the test advances the clock). Returns pred().
inline bool RunUntil(boost::asio::io_context& io, const std::function<bool()>& pred,
                     std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (!pred() && std::chrono::steady_clock::now() < deadline) {
    io.restart();
    io.run_one_for(std::chrono::milliseconds(20));
  }
  return pred();
}

// Drains every handler that is ready now.
inline void Drain(boost::asio::io_context& io) {
  io.restart();
  io.poll();
}

inline Cluster MakeCluster(const std::string& uuid, const std::string& vip,
                           const std::vector<std::pair<std::string, std::string>>& nodes) {
  Cluster c;
  c.set_uuid(uuid);
  c.set_name(uuid);
  if (!vip.empty()) c.mutable_virtual_ip()->set_addr(vip);
  for (const auto& [ip, mor] : nodes) {
    auto* n = c.add_nodes();
    n->mutable_ip()->set_addr(ip);
    n->set_vm_mor(mor);
  }
  return c;
}

inline void PutConfig(const google::protobuf::Message& msg, const std::string& uuid) {
  auto* txn = new Transaction();
  txn->db_view()->DbUpdate(DbIndex(db_table_name_from_pb(msg.GetDescriptor()->name()), uuid),
                           const_cast<google::protobuf::Message*>(&msg), nullptr, false, false,
                           false);
  ASSERT_EQ(txn->Commit(false), SYSERR_SUCCESS);
}

// Commits a runtime record under (its table, its uuid).
inline void PutRuntime(const google::protobuf::Message& msg) {
  const auto* f = msg.GetDescriptor()->FindFieldByName("uuid");
  auto* txn = new Transaction();
  txn->db_view()->DbUpdate(DbIndex(db_table_name_from_pb(msg.GetDescriptor()->name()),
                                   msg.GetReflection()->GetString(msg, f)),
                           nullptr, &msg, false, false, false);
  ASSERT_EQ(txn->Commit(false), SYSERR_SUCCESS);
}

// Reads a committed runtime record; false when absent.
template <typename Record>
bool GetRuntime(const std::string& uuid, Record* out) {
  google::protobuf::Message* cfg = nullptr;
  google::protobuf::Message* rt = nullptr;
  if (Datastore::g_db_->GetInternal(db_table_name_from_pb(Record::descriptor()->name()), uuid, &cfg,
                                    &rt) != SYSERR_SUCCESS) {
    return false;
  }
  bool ok = false;
  if (auto* r = dynamic_cast<Record*>(rt)) {
    out->CopyFrom(*r);
    ok = true;
  }
  delete cfg;
  delete rt;
  return ok;
}

class ConnectorFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    FLAGS_event_log_file = "";  // events stay in the in-memory tail
    EventSink::Get().ClearTail();
    db_ = Datastore::InMemory();
    Datastore::g_db_ = db_.get();
    db_->AttachObjectClient(&io_);
    taskq_ = std::make_unique<TaskQueue>(io_);
  }
  void TearDown() override {
    delete DbCache::g_db_cache_;  // clears the slot
    taskq_.reset();
    db_.reset();
  }

  kyv::ScopedFakeClock clock_;
  boost::asio::io_context io_;
  std::unique_ptr<Datastore> db_;
  std::unique_ptr<TaskQueue> taskq_;
};

}  // namespace corvel_test
