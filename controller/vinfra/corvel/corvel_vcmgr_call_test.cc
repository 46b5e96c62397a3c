#include "controller/vinfra/corvel/corvel_vcmgr_call.h"

#include <gtest/gtest.h>

#include <boost/asio/ip/tcp.hpp>

#include "controller/vinfra/corvel/corvel_test_util.h"
#include "platform/svc/svc_rpc_controller.h"
#include "platform/svc/tcp/tcp_client.h"
#include "platform/svc/tcp/tcp_rpc_channel.h"
#include "platform/svc/tcp/tcp_rpc_req_processor.h"
#include "platform/svc/tcp/tcp_rpc_resp_processor.h"
#include "platform/svc/tcp/tcp_server.h"

namespace {

using corvel_test::RunUntil;

// A vCenter manager that records what reaches it and, unless told to, never answers.
class SilentManager : public vCenterMgrService {
 public:
  void ValidateVcenter(google::protobuf::RpcController*, const VIValidateVcenterReq* req,
                       VIValidateVcenterRsp* rsp, google::protobuf::Closure* done) override {
    ++validations;
    last_cloud = req->cloud_uuid();
    if (answer) {
      rsp->set_status(CORVEL_SUCCESS);
      done->Run();
    } else {
      parked.push_back(done);  // never answered
    }
  }
  void SetControllerIps(google::protobuf::RpcController*, const VIControllerIps* req,
                        VoidResponse*, google::protobuf::Closure* done) override {
    ++one_ways;
    last_ips = req->controller_ips_size();
    done->Run();
  }
  int validations = 0;
  int one_ways = 0;
  int last_ips = 0;
  bool answer = false;
  std::string last_cloud;
  std::vector<google::protobuf::Closure*> parked;
};

// Plays the part of a served method's handler: the validation reports CORVEL_FAILURE when the
// call to the manager failed.
class FakeHandler {
 public:
  void Rsp(VIValidateVcenterRsp* rsp, CorvelApiCallback_* ctx) {
    ++runs;
    auto* served = static_cast<VIValidateVcenterRsp*>(ctx->response);
    if (ctx->tcp_rpc_controller->Failed()) {
      served->set_status(CORVEL_FAILURE);
      failure_code = ctx->tcp_rpc_controller->error_code();
    } else {
      served->set_status(rsp->status());
    }
    CorvelCompleteApiCall(ctx);
    CorvelFreeApiCall(rsp, ctx);
  }
  int runs = 0;
  Syserr failure_code = SYSERR_SUCCESS;
};

class VcMgrCallTest : public corvel_test::ConnectorFixture {
 protected:
  void SetUp() override {
    ConnectorFixture::SetUp();
    processor_.register_service(&manager_);
    server_ = std::make_unique<TcpServer>(io_, 0, &processor_, "127.0.0.1");
    ASSERT_TRUE(server_->start_server(nullptr));
    client_ = std::make_shared<TcpClient>(io_, "127.0.0.1", "", &resp_, "");
    channel_ = std::make_unique<TcpRpcChannel>(client_.get());
    stub_ = std::make_unique<vCenterMgrService_Stub>(channel_.get());
  }
  void TearDown() override {
    for (auto* d : manager_.parked) d->Run();
    stub_.reset();
    channel_.reset();
    client_->stop();
    client_.reset();
    server_->stop();
    ConnectorFixture::TearDown();
  }
  void Connect() {
    boost::asio::ip::tcp::resolver resolver(io_);
    bool up = false;
    client_->start(resolver.resolve("127.0.0.1", std::to_string(server_->port())),
                   [&](TcpClient*) { up = true; }, [](TcpClient*) {});
    ASSERT_TRUE(RunUntil(io_, [&] { return up; }));
  }
  // Starts a served validation through the convention; returns its context's served response.
  void Validate(VIValidateVcenterRsp* served, int* served_done) {
    auto* ctx = new CorvelApiCallback_();
    ctx->rpc_controller = &served_ctrl_;
    ctx->response = served;
    ctx->done = google::protobuf::NewCallback(+[](int* n) { ++*n; }, served_done);
    auto* req = new VIValidateVcenterReq();
    req->set_cloud_uuid("cloud-1");
    CorvelVcMgrApiCall(stub_.get(), &vCenterMgrService_Stub::ValidateVcenter, req, ctx,
                       &handler_, &FakeHandler::Rsp);
  }

  SilentManager manager_;
  TcpRpcReqProcessor processor_;
  std::unique_ptr<TcpServer> server_;
  TcpRpcRespProcessor resp_;
  std::shared_ptr<TcpClient> client_;
  std::unique_ptr<TcpRpcChannel> channel_;
  std::unique_ptr<vCenterMgrService_Stub> stub_;
  SvcRpcController served_ctrl_;
  FakeHandler handler_;
};

TEST_F(VcMgrCallTest, UnansweredValidationFailsAtTheDeadlineExactlyOnce) {
  Connect();
  VIValidateVcenterRsp served;
  int served_done = 0;
  Validate(&served, &served_done);
  ASSERT_TRUE(RunUntil(io_, [&] { return manager_.validations == 1; }));
  EXPECT_EQ(manager_.last_cloud, "cloud-1");

  clock_->Advance(std::chrono::seconds(kVcMgrCallTimeoutSec - 1));
  corvel_test::Drain(io_);
  EXPECT_EQ(handler_.runs, 0);
  clock_->Advance(std::chrono::seconds(1));
  ASSERT_TRUE(RunUntil(io_, [&] { return handler_.runs == 1; }));
  EXPECT_EQ(served.status(), CORVEL_FAILURE);
  EXPECT_EQ(handler_.failure_code, SYSERR_RPC_TIMED_OUT);
  EXPECT_EQ(served_done, 1);
  // A late answer is dropped: the handler never runs again.
  for (auto* d : manager_.parked) d->Run();
  manager_.parked.clear();
  clock_->Advance(std::chrono::seconds(kVcMgrCallTimeoutSec));
  corvel_test::Drain(io_);
  EXPECT_EQ(handler_.runs, 1);
}

TEST_F(VcMgrCallTest, AnsweredValidationAndLinkDown) {
  manager_.answer = true;
  Connect();
  VIValidateVcenterRsp served;
  int served_done = 0;
  Validate(&served, &served_done);
  ASSERT_TRUE(RunUntil(io_, [&] { return handler_.runs == 1; }));
  EXPECT_EQ(served.status(), CORVEL_SUCCESS);
  EXPECT_EQ(served_done, 1);

  // With the link down the call completes at once as a failure, never silently dropped.
  client_->stop();
  VIValidateVcenterRsp served2;
  Validate(&served2, &served_done);
  EXPECT_EQ(handler_.runs, 1);  // not inside the call
  ASSERT_TRUE(RunUntil(io_, [&] { return handler_.runs == 2; }));
  EXPECT_EQ(served2.status(), CORVEL_FAILURE);
  EXPECT_EQ(handler_.failure_code, SYSERR_RPC_CONN_DOWN);
  EXPECT_EQ(served_done, 2);
}

TEST_F(VcMgrCallTest, OneWayCallsNeverCallBack) {
  Connect();
  auto* req = new VIControllerIps();
  req->add_controller_ips("10.0.0.1");
  req->add_controller_ips("10.0.0.2");
  CorvelVcMgrOneWay(stub_.get(), &vCenterMgrService_Stub::SetControllerIps, req);
  ASSERT_TRUE(RunUntil(io_, [&] { return manager_.one_ways == 1; }));
  EXPECT_EQ(manager_.last_ips, 2);

  client_->stop();
  CorvelVcMgrOneWay(stub_.get(), &vCenterMgrService_Stub::SetControllerIps, new VIControllerIps());
  clock_->Advance(std::chrono::seconds(2 * kVcMgrCallTimeoutSec));
  corvel_test::Drain(io_);
  EXPECT_EQ(manager_.one_ways, 1);
  EXPECT_EQ(handler_.runs, 0);
}

}  // namespace
