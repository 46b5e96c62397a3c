#include "infrastructure/svc_common/controller_service_interface.h"

#include <gtest/gtest.h>

#include <memory>

#include "platform/datastore/datastore.h"
#include "platform/datastore/transaction.h"
#include "platform/siblings/sibling_workers.h"
#include "platform/svc/task_queue.h"

namespace {

using CSI = ControllerServiceInterface;

TEST(ServiceNames, IdsAndNames) {
  struct Case {
    const char* name;
    CSI::ControllerServicesId id;
  } cases[] = {
      {"vs_mgr", CSI::kCONTROLLER_SVC_VIRTUAL_SERVICE}, {"se_mgr", CSI::kCONTROLLER_SVC_SEMGR},
      {"corvel", CSI::kCONTROLLER_SVC_CORVEL},          {"se_res_mgr", CSI::kCONTROLLER_SVC_RES_MGR},
      {"metrics_mgr", CSI::kCONTROLLER_SVC_METRICS_MGR}, {"res_mgr_read", CSI::kCONTROLLER_SVC_RES_MGR_READ},
      {"Corvel", CSI::kCONTROLLER_SVC_UNKNOWN},         {"", CSI::kCONTROLLER_SVC_UNKNOWN},
      {"unknown", CSI::kCONTROLLER_SVC_UNKNOWN},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(CSI::service_id(c.name), c.id);
  }
  EXPECT_EQ(CSI::service_name(CSI::kCONTROLLER_SVC_CORVEL), "corvel");
  EXPECT_EQ(CSI::service_name(CSI::kCONTROLLER_SVC_RES_MGR_READ), "res_mgr_read");
  EXPECT_EQ(CSI::service_name(CSI::kCONTROLLER_SVC_FIREWALL), "unknown");
  EXPECT_EQ(CSI::service_name(CSI::kCONTROLLER_SVC_UNKNOWN), "unknown");
  EXPECT_EQ(CSI::service_name(static_cast<CSI::ControllerServicesId>(7)), "unknown");
}

TEST(ServiceFlags, LeaderRole) {
  EXPECT_TRUE(CSI::is_controller_leader());  // default "leader"
  for (const char* role : {"Leader", "follower", ""}) {
    FLAGS_role = role;
    EXPECT_FALSE(CSI::is_controller_leader()) << role;
  }
  FLAGS_role = "leader";
  EXPECT_TRUE(CSI::is_controller_leader());
  FLAGS_instance = 3;
  EXPECT_EQ(CSI::instance(), 3);
  FLAGS_instance = 0;
  EXPECT_EQ(&CSI::controller_addr(), &FLAGS_leader_addr);
}

class FactoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    db_ = Datastore::InMemory();
    Datastore::g_db_ = db_.get();
    taskq_ = std::make_unique<TaskQueue>(io_);
  }
  void TearDown() override {
    Datastore::g_db_ = nullptr;
  }
  boost::asio::io_context io_;
  std::unique_ptr<Datastore> db_;
  std::unique_ptr<TaskQueue> taskq_;
};

TEST_F(FactoryTest, UnknownIdsGiveNullAndStillResetTheDatastore) {
  for (int id : {0, 4, 7, 8, 42}) {
    SCOPED_TRACE(id);
    db_->set_mode(Datastore::DATASTORE_MODE_INIT);
    auto* txn = new Transaction();
    ASSERT_EQ(Transaction::transaction_, txn);
    EXPECT_EQ(CSI::CreateInstance(static_cast<CSI::ControllerServicesId>(id), io_, taskq_.get(),
                                  db_.get(), "127.0.0.1"),
              nullptr);
    EXPECT_EQ(db_->mode(), Datastore::DATASTORE_MODE_NORMAL);
    EXPECT_EQ(Transaction::transaction_, nullptr);
    txn->Abort(false);
  }
}

TEST_F(FactoryTest, SiblingWorkersByIdentifier) {
  struct Case {
    CSI::ControllerServicesId id;
    bool is_res_mgr;
  } cases[] = {
      {CSI::kCONTROLLER_SVC_VIRTUAL_SERVICE, false},
      {CSI::kCONTROLLER_SVC_SEMGR, false},
      {CSI::kCONTROLLER_SVC_RES_MGR, true},
      {CSI::kCONTROLLER_SVC_RES_MGR_READ, true},
      {CSI::kCONTROLLER_SVC_METRICS_MGR, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id);
    std::unique_ptr<CSI> w(CSI::CreateInstance(c.id, io_, taskq_.get(), db_.get(), "127.0.0.1"));
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->id(), c.id);
    EXPECT_EQ(dynamic_cast<SeResMgrWorker*>(w.get()) != nullptr, c.is_res_mgr);
    EXPECT_EQ(w->Restart(), SYSERR_SUCCESS);
    EXPECT_EQ(w->Terminate(), SYSERR_SUCCESS);
  }
}

}  // namespace
