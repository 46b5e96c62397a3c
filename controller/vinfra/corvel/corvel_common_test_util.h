// Fixtures shared by the object store's tests: records committed straight into the datastore,
// read back after a commit, and the events raised meanwhile (kept in a temporary event log).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "controller/vinfra/corvel/corvel_common.h"
#include "controller/vinfra/corvel/corvel_events.h"
#include "controller/vinfra/corvel/corvel_globals.h"
#include "controller/vinfra/corvel/corvel_service_impl.h"
#include "controller/vinfra/corvel/corvel_test_util.h"
#include "platform/events/event_api.h"

namespace corvel_test {

class ObjectStoreFixture : public ConnectorFixture {
 protected:
  void SetUp() override {
    ConnectorFixture::SetUp();
    std::string pattern = ::testing::TempDir() + "corvel_store_XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    tmp_dir_ = pattern;
    saved_event_log_ = FLAGS_event_log_file;
    FLAGS_event_log_file = tmp_dir_ + "/events.log";
    service_ = std::make_unique<CorvelServiceImpl>(true);  // subject of vCenter-level events
    event_api_ = std::make_unique<EventApi>(5);
    CorvelSetEventApiForTest(event_api_.get());
    EventSink::Get().ClearTail();
  }
  void TearDown() override {
    CorvelSetEventApiForTest(nullptr);
    event_api_.reset();
    service_.reset();
    CorvelGlobals::ResetForTest();
    FLAGS_event_log_file = saved_event_log_;
    ConnectorFixture::TearDown();
    std::filesystem::remove_all(tmp_dir_);
  }

  // Commits runtime records under (their table, their uuid), stamped with the clock's second.
  static void Put(const std::vector<const google::protobuf::Message*>& records) {
    auto* txn = new Transaction();
    for (const auto* record : records) {
      ASSERT_EQ(CorvelDbUpdateRuntime(txn, const_cast<google::protobuf::Message*>(record)),
                SYSERR_SUCCESS);
    }
    ASSERT_EQ(txn->Commit(false), SYSERR_SUCCESS);
  }
  static void Put(const google::protobuf::Message& record) { Put({&record}); }

  // The committed record, or null when absent.
  template <typename Record>
  std::unique_ptr<Record> Get(const std::string& uuid) {
    std::unique_ptr<google::protobuf::Message> cfg;
    std::unique_ptr<google::protobuf::Message> runtime;
    if (db_->Read(DbIndex(CorvelTable<Record>(), uuid), &cfg, &runtime) != SYSERR_SUCCESS) {
      return nullptr;
    }
    auto* record = dynamic_cast<Record*>(runtime.get());
    if (record != nullptr) runtime.release();
    return std::unique_ptr<Record>(record);
  }

  // Moves the clock on, so that later writes carry a later second.
  void Tick(int seconds = 1) { clock_->Advance(std::chrono::seconds(seconds)); }

  // Events raised since SetUp with the given id.
  static std::vector<EventLog> Events(EventId id) {
    std::vector<EventLog> out;
    for (const EventLog& e : EventSink::Get().tail()) {
      if (e.event_id() == id) out.push_back(e);
    }
    return out;
  }

  std::unique_ptr<CorvelServiceImpl> service_;
  std::unique_ptr<EventApi> event_api_;
  std::string tmp_dir_;
  std::string saved_event_log_;
};

inline bool Contains(const google::protobuf::RepeatedPtrField<std::string>& list,
                     const std::string& value) {
  return std::find(list.begin(), list.end(), value) != list.end();
}

}  // namespace corvel_test
