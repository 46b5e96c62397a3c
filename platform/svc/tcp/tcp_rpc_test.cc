// TCP RPC between a TcpClient and a TcpServer on one I/O context, with simulated time.
#include <gtest/gtest.h>
#include <google/protobuf/stubs/callback.h>

#include <boost/asio/ip/tcp.hpp>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "platform/common/clock.h"
#include "platform/svc/tcp/tcp_client.h"
#include "platform/svc/tcp/tcp_client_rpc_controller.h"
#include "platform/svc/tcp/tcp_rpc_channel.h"
#include "platform/svc/tcp/tcp_rpc_req_processor.h"
#include "platform/svc/tcp/tcp_rpc_resp_processor.h"
#include "platform/svc/tcp/tcp_server.h"
#include "platform/svc/testing/echo_service_impl.h"

namespace {

using kyv::testing::EchoRequest;
using kyv::testing::EchoResponse;
using kyv::testing::EchoServiceImpl;
using kyv::testing::EchoService_Stub;

// One two-way call: its objects and what its closure saw.
struct Call {
  explicit Call(int timeout_sec = 1200) : controller(nullptr, timeout_sec) {}
  TcpClientRpcController controller;
  EchoResponse response;
  int runs = 0;
  bool in_call_method = false;
  bool ran_inside_call = false;
};

class TcpRpcTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(req_processor_.register_service(&service_));
    StartServer(0);
    client_ = std::make_shared<TcpClient>(io_, "127.0.0.1", std::to_string(port_),
                                          &resp_processor_, "");
    channel_ = std::make_unique<TcpRpcChannel>(client_.get());
    stub_ = std::make_unique<EchoService_Stub>(channel_.get());
    Connect();
    ASSERT_TRUE(client_->connected());
  }

  // Served calls still held would leak.
  void TearDown() override { service_.CompleteHeld(); }

  void StartServer(uint16_t port) {
    server_ = std::make_unique<TcpServer>(io_, port, &req_processor_);
    ASSERT_TRUE(server_->start_server());
    port_ = server_->port();
    ASSERT_NE(port_, 0);
  }

  // Starts a connection attempt and runs until it succeeded or failed.
  void Connect() {
    const int before = ups_ + downs_;
    boost::asio::ip::tcp::resolver resolver(io_);
    client_->start(resolver.resolve("127.0.0.1", std::to_string(port_)),
                   [this](TcpClient*) { ++ups_; }, [this](TcpClient*) { ++downs_; });
    EXPECT_EQ(ups_ + downs_, before);  // never inside start
    RunUntil([&] { return ups_ + downs_ > before; });
  }

  // Runs the I/O context until `done` holds; gives up after a few seconds of real time so that
  // a fault fails the test instead of hanging it.
  bool RunUntil(const std::function<bool()>& done) {
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done() && std::chrono::steady_clock::now() < give_up) {
      io_.restart();
      io_.run_one_for(std::chrono::milliseconds(100));
    }
    return done();
  }

  void Echo(Call* call, const std::string& text, int value = 0) {
    EchoRequest request;
    request.set_text(text);
    request.set_value(value);
    call->in_call_method = true;
    stub_->Echo(&call->controller, &request, &call->response,
                google::protobuf::NewCallback(+[](Call* c) {
                  ++c->runs;
                  c->ran_inside_call |= c->in_call_method;
                }, call));
    call->in_call_method = false;
  }

  void Notify(const std::string& text) {
    EchoRequest request;
    request.set_text(text);
    TcpClientRpcController controller(nullptr, 1200);
    stub_->Notify(&controller, &request, nullptr, nullptr);
  }

  kyv::ScopedFakeClock clock_;
  boost::asio::io_context io_;
  // Keeps run_one_for from stopping the context when no operation is pending.
  boost::asio::executor_work_guard<boost::asio::io_context::executor_type> work_ =
      boost::asio::make_work_guard(io_);
  EchoServiceImpl service_;
  TcpRpcReqProcessor req_processor_;
  std::unique_ptr<TcpServer> server_;
  uint16_t port_ = 0;
  TcpRpcRespProcessor resp_processor_;
  std::shared_ptr<TcpClient> client_;
  std::unique_ptr<TcpRpcChannel> channel_;
  std::unique_ptr<EchoService_Stub> stub_;
  int ups_ = 0;
  int downs_ = 0;
};

TEST_F(TcpRpcTest, PipelinedCallsGetTheirOwnAnswers) {
  std::vector<std::unique_ptr<Call>> calls;
  for (int i = 0; i < 50; ++i) {
    calls.push_back(std::make_unique<Call>());
    Echo(calls.back().get(), "n" + std::to_string(i), i);
  }
  ASSERT_TRUE(RunUntil([&] { return service_.echo_calls == 50 && resp_processor_.pending_calls() == 0; }));
  for (int i = 0; i < 50; ++i) {
    SCOPED_TRACE(i);
    const Call& call = *calls[i];
    EXPECT_EQ(call.runs, 1);
    EXPECT_FALSE(call.ran_inside_call);
    EXPECT_FALSE(call.controller.Failed());
    EXPECT_EQ(call.response.text(), "n" + std::to_string(i));
    EXPECT_EQ(call.response.value(), i);
  }
  // Deadlines of answered calls are gone: moving past them calls nothing back.
  EXPECT_EQ(clock_->pending_timers(), 0u);
}

TEST_F(TcpRpcTest, ServedFailuresReachTheCaller) {
  struct Case {
    std::string text;
    std::string want_error;
  };
  const Case cases[] = {{"fail", "asked to fail"}, {"via_callback", ""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Call call;
    Echo(&call, c.text);
    ASSERT_TRUE(RunUntil([&] { return call.runs == 1; }));
    EXPECT_EQ(call.controller.Failed(), !c.want_error.empty());
    EXPECT_EQ(call.controller.ErrorText(), c.want_error);
    if (!c.want_error.empty()) {
      EXPECT_EQ(call.controller.error_code(), SYSERR_RPC_FAILURE);
    }
  }
  EXPECT_TRUE(service_.callback_was_done);
}

TEST_F(TcpRpcTest, OneWayCallsReachTheServerAndNeverCallBack) {
  Notify("first");
  Notify("second");
  EXPECT_EQ(resp_processor_.pending_calls(), 0u);
  ASSERT_TRUE(RunUntil([&] { return service_.notify_calls == 2; }));
  EXPECT_EQ(service_.last_notify, "second");

  // With the link down the call is dropped, silently.
  client_->stop();
  Notify("dropped");
  Call probe;
  Echo(&probe, "x");  // fails at once: lets the context run its queue
  ASSERT_TRUE(RunUntil([&] { return probe.runs == 1; }));
  EXPECT_EQ(service_.notify_calls, 2);
  EXPECT_EQ(downs_, 0);  // stop() is not a failure
}

TEST_F(TcpRpcTest, DeadlineFailsTheCallOnceAndDropsTheLateAnswer) {
  Call call(5);
  Echo(&call, "hold");
  ASSERT_TRUE(RunUntil([&] { return service_.held.size() == 1; }));
  clock_->Advance(std::chrono::milliseconds(4999));
  io_.poll();
  EXPECT_EQ(call.runs, 0);
  clock_->Advance(std::chrono::milliseconds(1));
  ASSERT_TRUE(RunUntil([&] { return call.runs == 1; }));
  EXPECT_TRUE(call.controller.Failed());
  EXPECT_EQ(call.controller.error_code(), SYSERR_RPC_TIMED_OUT);
  EXPECT_EQ(call.controller.ErrorText(), "timed out");

  // The late answer arrives before the next one on the same connection, and is dropped.
  service_.CompleteHeld("late");
  Call next;
  Echo(&next, "next");
  ASSERT_TRUE(RunUntil([&] { return next.runs == 1; }));
  EXPECT_EQ(call.runs, 1);
  EXPECT_EQ(call.response.text(), "");
  EXPECT_TRUE(client_->connected());
}

TEST_F(TcpRpcTest, LostLinkFailsPendingCallsAndLaterCalls) {
  Call pending;
  Echo(&pending, "hold");
  ASSERT_TRUE(RunUntil([&] { return service_.held.size() == 1; }));
  server_->stop();
  ASSERT_TRUE(RunUntil([&] { return pending.runs == 1; }));
  EXPECT_EQ(pending.controller.error_code(), SYSERR_RPC_CONN_DOWN);
  EXPECT_FALSE(client_->connected());
  EXPECT_EQ(downs_, 1);
  EXPECT_EQ(clock_->pending_timers(), 0u);
  service_.CompleteHeld();  // its connection is gone: the answer goes nowhere

  Call later;
  Echo(&later, "x");
  EXPECT_EQ(later.runs, 0);
  io_.poll();
  EXPECT_EQ(later.runs, 1);
  EXPECT_FALSE(later.ran_inside_call);
  EXPECT_EQ(later.controller.error_code(), SYSERR_RPC_CONN_DOWN);
}

TEST_F(TcpRpcTest, StartAgainAfterFailuresReconnects) {
  // A port with nothing listening: the attempt fails.
  server_->stop();
  ASSERT_TRUE(RunUntil([&] { return downs_ == 1; }));
  const uint16_t port = port_;
  server_.reset();
  Connect();
  EXPECT_EQ(downs_, 2);
  EXPECT_EQ(ups_, 1);

  // The server comes back on the same port: the same client connects again.
  StartServer(port);
  Connect();
  EXPECT_EQ(ups_, 2);
  ASSERT_TRUE(client_->connected());
  Call call;
  Echo(&call, "again");
  ASSERT_TRUE(RunUntil([&] { return call.runs == 1; }));
  EXPECT_EQ(call.response.text(), "again");

  // start while connected is ignored.
  boost::asio::ip::tcp::resolver resolver(io_);
  client_->start(resolver.resolve("127.0.0.1", std::to_string(port_)), nullptr, nullptr);
  EXPECT_TRUE(client_->connected());
  EXPECT_EQ(client_->connection_count(), 2u);
}

TEST_F(TcpRpcTest, ConnectsFromTheGivenLocalAddressOrFails) {
  struct Case {
    const char* bind_to;
    bool want_up;
  };
  const Case cases[] = {
      {"127.0.0.1", true},
      {"::1", false},                   // another address family than the server's
      {"no-such-interface0", false},    // neither an address nor an interface
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bind_to);
    auto client = std::make_shared<TcpClient>(io_, "127.0.0.1", std::to_string(port_),
                                              &resp_processor_, c.bind_to);
    int up = 0;
    int down = 0;
    boost::asio::ip::tcp::resolver resolver(io_);
    client->start(resolver.resolve("127.0.0.1", std::to_string(port_)),
                  [&](TcpClient*) { ++up; }, [&](TcpClient*) { ++down; });
    ASSERT_TRUE(RunUntil([&] { return up + down == 1; }));
    EXPECT_EQ(up == 1, c.want_up);
    EXPECT_EQ(client->connected(), c.want_up);
  }
}

TEST_F(TcpRpcTest, ServerDropsALinkThatBreaksTheProtocol) {
  Call pending;
  Echo(&pending, "hold");
  ASSERT_TRUE(RunUntil([&] { return service_.held.size() == 1; }));
  // Responses do not flow from client to server: the server closes the connection, and the
  // client fails what was pending and reports the link down.
  kyv::RpcFrame bogus;
  bogus.set_kind(kyv::RpcFrame::RESPONSE);
  ASSERT_TRUE(client_->Send(bogus));
  ASSERT_TRUE(RunUntil([&] { return pending.runs == 1; }));
  EXPECT_EQ(pending.controller.error_code(), SYSERR_RPC_CONN_DOWN);
  EXPECT_EQ(downs_, 1);
  Connect();
  EXPECT_EQ(ups_, 2);
}

}  // namespace
