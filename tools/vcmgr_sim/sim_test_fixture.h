// Test fixture: a simulator, a client of it and a connector stand-in that records
// notifications, all on one I/O context over loopback, with simulated time.
#pragma once

#include <gtest/gtest.h>
#include <google/protobuf/stubs/callback.h>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/ip/tcp.hpp>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/common/clock.h"
#include "platform/svc/tcp/tcp_client.h"
#include "platform/svc/tcp/tcp_client_rpc_controller.h"
#include "platform/svc/tcp/tcp_rpc_channel.h"
#include "platform/svc/tcp/tcp_rpc_req_processor.h"
#include "platform/svc/tcp/tcp_rpc_resp_processor.h"
#include "platform/svc/tcp/tcp_server.h"
#include "proto/corvel_service.pb.h"
#include "tools/vcmgr_sim/generator.h"
#include "tools/vcmgr_sim/simulator.h"

namespace vcmgr_sim {
namespace testing {

// The connector's notification entry points, recording what arrives.
class RecordingReceiver : public CorvelService {
 public:
  void VIGlobalVMNotification(google::protobuf::RpcController*, const VIGlobalVMNotif* req, VoidResponse*,
                              google::protobuf::Closure* done) override {
    vm.push_back(*req);
    done->Run();
  }
  void VIGlobalResourceNotification(google::protobuf::RpcController*, const VIGlobalResourceNotif* req,
                                    VoidResponse*, google::protobuf::Closure* done) override {
    resource.push_back(*req);
    done->Run();
  }
  void VIVcenterConnectStatus(google::protobuf::RpcController*, const VIVcenterStatus* req, VoidResponse*,
                              google::protobuf::Closure* done) override {
    status.push_back(*req);
    done->Run();
  }

  std::vector<VIGlobalVMNotif> vm;
  std::vector<VIGlobalResourceNotif> resource;
  std::vector<VIVcenterStatus> status;
};

constexpr char kCloud[] = "cloud-7f3a";
constexpr char kUrl[] = "vcenter.sim.local";
constexpr char kUser[] = "administrator@sim.local";
constexpr char kPassword[] = "sim-password";

class SimFixture : public ::testing::Test {
 protected:
  // The generated inventory the simulator serves; tests may change the sizes before Boot().
  GenerateSizes sizes_;
  Simulator::Options options_;

  SimFixture() {
    sizes_.hosts = 3;
    sizes_.clusters = 2;
    sizes_.vms = 10;
    sizes_.pgs = 4;
    options_.port = 0;
    options_.batch_size = 4;
    options_.notify.retry_ms = 1000;
  }

  // Starts the receiver (unless `with_receiver` is false), the simulator and the client.
  void Boot(bool with_receiver = true) {
    ASSERT_TRUE(receiver_processor_.register_service(&receiver_));
    receiver_server_ = std::make_unique<TcpServer>(io_, 0, &receiver_processor_);
    ASSERT_TRUE(receiver_server_->start_server());
    options_.notify.port = receiver_server_->port();
    if (!with_receiver) receiver_server_->stop();

    SimInventory inv;
    std::string error;
    ASSERT_TRUE(GenerateInventory(sizes_, &inv, &error)) << error;
    inv.mutable_vcenter()->set_url(kUrl);
    sim_ = std::make_unique<Simulator>(io_, options_);
    ASSERT_TRUE(sim_->Load(std::move(inv), &error)) << error;
    ASSERT_TRUE(sim_->Start(&error)) << error;

    client_ = std::make_shared<TcpClient>(io_, "127.0.0.1", std::to_string(sim_->port()), &resp_processor_, "");
    channel_ = std::make_unique<TcpRpcChannel>(client_.get());
    stub_ = std::make_unique<vCenterMgrService_Stub>(channel_.get());
    ASSERT_TRUE(Connect());
  }

  void TearDown() override {
    if (sim_) sim_->Stop();
    if (client_) client_->stop();
    if (receiver_server_) receiver_server_->stop();
    io_.restart();
    io_.poll();
  }

  // Connects the client; the callbacks stay with it for the life of the link.
  bool Connect() {
    const int ups = ups_, downs = downs_;
    boost::asio::ip::tcp::resolver resolver(io_);
    client_->start(resolver.resolve("127.0.0.1", std::to_string(sim_->port())),
                   [this](TcpClient*) { ++ups_; }, [this](TcpClient*) { ++downs_; });
    RunUntil([&] { return ups_ > ups || downs_ > downs; });
    return ups_ > ups;
  }

  // Runs the I/O context until `done` holds; gives up after a few seconds of real time so that
  // a fault fails the test instead of hanging it.
  bool RunUntil(const std::function<bool()>& done) {
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done() && std::chrono::steady_clock::now() < give_up) {
      io_.restart();
      io_.run_one_for(std::chrono::milliseconds(20));
    }
    return done();
  }

  // Runs until the notifier has nothing left to send.
  bool Flush() { return RunUntil([&] { return sim_->notifier().idle(); }); }

  // Advances simulated time and runs what fell due.
  void Advance(std::chrono::milliseconds d) {
    clock_->Advance(d);
    io_.restart();
    io_.poll();
  }

  // A two-way call; false when it failed in transport (then `*failure` holds the code).
  template <typename Req, typename Rsp>
  bool Call(void (vCenterMgrService_Stub::*method)(google::protobuf::RpcController*, const Req*, Rsp*,
                                                    google::protobuf::Closure*),
            const Req& req, Rsp* rsp, Syserr* failure = nullptr) {
    TcpClientRpcController ctl(nullptr, 30);
    bool done = false;
    (stub_.get()->*method)(&ctl, &req, rsp, google::protobuf::NewCallback(+[](bool* d) { *d = true; }, &done));
    if (!RunUntil([&] { return done; })) {
      // Let the deadline end the call so that nothing refers to this frame afterwards.
      Advance(std::chrono::seconds(31));
      RunUntil([&] { return done; });
    }
    if (failure) *failure = ctl.Failed() ? ctl.error_code() : SYSERR_SUCCESS;
    return !ctl.Failed();
  }

  // A one-way call.
  template <typename Req>
  void Send(void (vCenterMgrService_Stub::*method)(google::protobuf::RpcController*, const Req*, VoidResponse*,
                                                    google::protobuf::Closure*),
            const Req& req) {
    TcpClientRpcController ctl(nullptr, 30);
    (stub_.get()->*method)(&ctl, &req, nullptr, nullptr);
  }

  static void FillAdmin(VIAdminCredentials* admin, const std::string& password = kPassword) {
    admin->set_vcenter_url(kUrl);
    admin->set_name(kUser);
    admin->set_password(password);
  }

  VIVcenterMonitorReq MonitorRequest() const {
    VIVcenterMonitorReq req;
    FillAdmin(req.mutable_admin());
    req.set_cloud_uuid(kCloud);
    req.set_dc_uuid(std::string("datacenter-2-") + kCloud);
    return req;
  }

  // Starts the VM monitor and waits for the whole resynchronisation.
  void StartVmMonitor() {
    Send(&vCenterMgrService_Stub::StartGlobalVMNotif, MonitorRequest());
    ASSERT_TRUE(RunUntil([&] { return !receiver_.vm.empty() && !receiver_.vm.back().more(); }));
  }

  kyv::ScopedFakeClock clock_;
  boost::asio::io_context io_;
  boost::asio::executor_work_guard<boost::asio::io_context::executor_type> work_ =
      boost::asio::make_work_guard(io_);
  RecordingReceiver receiver_;
  TcpRpcReqProcessor receiver_processor_;
  std::unique_ptr<TcpServer> receiver_server_;
  std::unique_ptr<Simulator> sim_;
  TcpRpcRespProcessor resp_processor_;
  std::shared_ptr<TcpClient> client_;
  std::unique_ptr<TcpRpcChannel> channel_;
  std::unique_ptr<vCenterMgrService_Stub> stub_;
  int ups_ = 0;
  int downs_ = 0;
};

}  // namespace testing
}  // namespace vcmgr_sim
