#include "controller/vinfra/corvel/corvel_controller_intf.h"

#include <gtest/gtest.h>

#include <boost/asio/ip/tcp.hpp>

#include "controller/vinfra/corvel/corvel_globals.h"
#include "controller/vinfra/corvel/corvel_service_impl.h"
#include "controller/vinfra/corvel/corvel_test_util.h"
#include "platform/svc/tcp/tcp_server.h"

namespace {

using boost::asio::ip::tcp;
using corvel_test::RunUntil;

class WorkerTest : public corvel_test::ConnectorFixture {
 protected:
  void SetUp() override {
    ConnectorFixture::SetUp();
    corvel_test::PutConfig(corvel_test::MakeCluster("cluster-1", "", {{"10.0.0.1", "vm-7"}}),
                           "cluster-1");
    // A socket bound to a free port but not listening: connections are refused until the test
    // calls listen(), as when the vCenter manager starts after the connector.
    vcmgr_ = std::make_unique<tcp::acceptor>(io_);
    vcmgr_->open(tcp::v4());
    vcmgr_->set_option(tcp::acceptor::reuse_address(true));
    vcmgr_->bind(tcp::endpoint(boost::asio::ip::make_address("127.0.0.1"), 0));
    FLAGS_vcmgr_port = std::to_string(vcmgr_->local_endpoint().port());
    FLAGS_vcmgr_notif_port = 0;
  }
  void TearDown() override {
    worker_.reset();
    CorvelWorker::ResetGlobalsForTest();
    FLAGS_enable_vcmgr_notif = false;
    ConnectorFixture::TearDown();
  }
  void MakeWorker() {
    worker_ = std::make_unique<CorvelWorker>(ControllerServiceInterface::kCONTROLLER_SVC_CORVEL,
                                             io_, taskq_.get(), db_.get(), true);
    ASSERT_EQ(worker_->Initialize(), SYSERR_SUCCESS);
  }
  // Waits for the current connection attempt to fail and re-arm the reconnect timer.
  bool WaitForRetryArmed() {
    return RunUntil(io_, [&] { return clock_->pending_timers() == kOtherTimers + 1; });
  }

  // The quarantine timer is always armed on the fake clock besides the reconnect timer.
  static constexpr size_t kOtherTimers = 1;
  std::unique_ptr<tcp::acceptor> vcmgr_;
  std::unique_ptr<CorvelWorker> worker_;
};

TEST_F(WorkerTest, NotificationServerOnlyWhenEnabled) {
  MakeWorker();
  EXPECT_EQ(worker_->notification_server(), nullptr);
  EXPECT_EQ(worker_->notification_processor(), nullptr);
  EXPECT_EQ(CorvelGlobals::corvel_worker(), worker_.get());
  EXPECT_EQ(CorvelGlobals::corvel_service(), worker_->service());
  EXPECT_EQ(worker_->service()->controller_uuid(), "cluster-1");
  for (auto op : {&CorvelWorker::Restart, &CorvelWorker::Upgrade, &CorvelWorker::OutOfService}) {
    EXPECT_EQ(((*worker_).*op)(), SYSERR_SUCCESS);
  }
  worker_.reset();
  CorvelWorker::ResetGlobalsForTest();

  FLAGS_enable_vcmgr_notif = true;
  MakeWorker();
  ASSERT_NE(worker_->notification_server(), nullptr);
  EXPECT_NE(worker_->notification_processor(), nullptr);
  EXPECT_NE(worker_->notification_server()->port(), 0);
}

TEST_F(WorkerTest, RetriesEverySecondUntilTheManagerListensThenOneTcpUp) {
  MakeWorker();
  int attempts = 1;
  for (; attempts <= 10; ++attempts) {
    ASSERT_TRUE(WaitForRetryArmed()) << "attempt " << attempts;
    EXPECT_EQ(worker_->service()->tcp_up_count(), 0);
    // Nothing happens before the second is over.
    clock_->Advance(std::chrono::milliseconds(999));
    corvel_test::Drain(io_);
    ASSERT_EQ(clock_->pending_timers(), kOtherTimers + 1);
    clock_->Advance(std::chrono::milliseconds(1));
  }
  vcmgr_->listen();
  tcp::socket peer(io_);
  vcmgr_->async_accept(peer, [](const boost::system::error_code&) {});
  ASSERT_TRUE(RunUntil(io_, [&] { return worker_->service()->tcp_up_count() == 1; }));
  EXPECT_TRUE(worker_->link_up());
  EXPECT_EQ(clock_->pending_timers(), kOtherTimers);  // reconnect timer stopped
  // No further attempts or link-ups while the link holds.
  clock_->Advance(std::chrono::seconds(5));
  corvel_test::Drain(io_);
  EXPECT_EQ(worker_->service()->tcp_up_count(), 1);
}

TEST_F(WorkerTest, LostLinkReconnectsAndRunsTcpUpAgain) {
  vcmgr_->listen();
  tcp::socket peer(io_);
  bool accepted = false;
  vcmgr_->async_accept(peer, [&](const boost::system::error_code& ec) { accepted = !ec; });
  MakeWorker();
  ASSERT_TRUE(RunUntil(io_, [&] { return accepted && worker_->service()->tcp_up_count() == 1; }));

  peer.close();  // the manager drops the link
  ASSERT_TRUE(WaitForRetryArmed());
  tcp::socket peer2(io_);
  vcmgr_->async_accept(peer2, [](const boost::system::error_code&) {});
  clock_->Advance(std::chrono::seconds(1));
  ASSERT_TRUE(RunUntil(io_, [&] { return worker_->service()->tcp_up_count() == 2; }));
}

TEST_F(WorkerTest, UnresolvableManagerAddressIsRetriedLikeARefusedConnection) {
  // A service name that /etc/services does not know fails to resolve without any network.
  FLAGS_vcmgr_port = "no-such-service-name";
  MakeWorker();
  EXPECT_EQ(clock_->pending_timers(), kOtherTimers + 1);
  EXPECT_EQ(worker_->service()->tcp_up_count(), 0);
}

TEST_F(WorkerTest, UnreadableIdentityEndsTheProcessWithStatusZeroAndAnErrorLine) {
  FLAGS_logtostderr = true;
  EXPECT_EXIT(
      {
        Datastore::g_db_ = nullptr;  // the identity cannot be read
        MakeWorker();
      },
      ::testing::ExitedWithCode(0), "E.*Not able to retrieve Controller UUID. Exiting");
}

TEST_F(WorkerTest, TerminateStopsTheSubscriptionButKeepsTheLink) {
  vcmgr_->listen();
  tcp::socket peer(io_);
  vcmgr_->async_accept(peer, [](const boost::system::error_code&) {});
  MakeWorker();
  ASSERT_TRUE(RunUntil(io_, [&] { return worker_->link_up(); }));
  EXPECT_EQ(worker_->Terminate(), SYSERR_SUCCESS);
  EXPECT_EQ(worker_->Shutdown(), SYSERR_SUCCESS);
  EXPECT_EQ(clock_->pending_timers(), 0u);  // quarantine timer stopped
  EXPECT_TRUE(worker_->link_up());
}

}  // namespace
