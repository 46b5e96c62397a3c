#include "platform/svc/tcp/blocking_rpc_client.h"

#include <google/protobuf/stubs/callback.h>

#include <boost/asio/ip/tcp.hpp>

#include <chrono>

#include "platform/svc/tcp/tcp_client_rpc_controller.h"

BlockingRpcClient::BlockingRpcClient() = default;

BlockingRpcClient::~BlockingRpcClient() {
  channel_.reset();
  if (client_) client_->stop();
  client_.reset();
}

bool BlockingRpcClient::Connect(const std::string& host, const std::string& port, int timeout_ms,
                                std::string* err) {
  boost::asio::ip::tcp::resolver resolver(io_);
  boost::system::error_code ec;
  auto endpoints = resolver.resolve(host, port, ec);
  if (ec) {
    *err = "cannot resolve " + host + ":" + port + ": " + ec.message();
    return false;
  }
  client_ = std::make_shared<TcpClient>(io_, host, port, &processor_, "");
  enum { kPending, kUp, kDown } state = kPending;
  client_->start(endpoints, [&](TcpClient*) { state = kUp; }, [&](TcpClient*) { state = kDown; });
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (state == kPending && std::chrono::steady_clock::now() < deadline) {
    io_.restart();
    io_.run_one_for(std::chrono::milliseconds(50));
  }
  if (state != kUp) {
    *err = "cannot connect to " + host + ":" + port;
    return false;
  }
  channel_ = std::make_unique<TcpRpcChannel>(client_.get());
  return true;
}

bool BlockingRpcClient::Call(const google::protobuf::MethodDescriptor* method,
                             const google::protobuf::Message& request,
                             google::protobuf::Message* response, int timeout_sec,
                             std::string* err) {
  if (!channel_) {
    *err = "not connected";
    return false;
  }
  TcpClientRpcController controller(nullptr, timeout_sec);
  bool done = false;
  auto* closure = google::protobuf::NewCallback(+[](bool* d) { *d = true; }, &done);
  channel_->CallMethod(method, &controller, &request, response, closure);
  while (!done) {
    io_.restart();
    io_.run_one();
  }
  if (controller.Failed()) {
    *err = controller.ErrorText();
    return false;
  }
  return true;
}

void BlockingRpcClient::CallOneWay(const google::protobuf::MethodDescriptor* method,
                                   const google::protobuf::Message& request) {
  if (!channel_) return;
  TcpClientRpcController controller(nullptr, 0);
  channel_->CallMethod(method, &controller, &request, nullptr, nullptr);
  // Give the write a moment to leave; nothing answers a one-way call.
  io_.restart();
  io_.run_for(std::chrono::milliseconds(100));
}
