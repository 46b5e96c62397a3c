// Client side of TCP RPC: matches response frames to the calls waiting for them.
#pragma once

#include <google/protobuf/message.h>
#include <google/protobuf/service.h>

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/common/clock.h"
#include "platform/svc/tcp/tcp_client_rpc_controller.h"
#include "platform/svc/tcp/tcp_processor.h"

// Keeps the two-way calls of TcpRpcChannels in flight and completes each exactly once: when
// its response arrives, when its deadline passes, or when its link goes down. Completion sets
// the controller's failure state (if any), fills the response and runs the closure, on the
// client's I/O context and never inside the caller's CallMethod. A response that arrives
// after its call completed is dropped. Single-threaded, like the clients it serves.
class TcpRpcRespProcessor : public TcpRespProcessor {
 public:
  TcpRpcRespProcessor();
  // Calls still pending are dropped without running their closures.
  ~TcpRpcRespProcessor() override;
  TcpRpcRespProcessor(const TcpRpcRespProcessor&) = delete;
  TcpRpcRespProcessor& operator=(const TcpRpcRespProcessor&) = delete;

  bool ProcessResponse(TcpClient* client, kyv::RpcFrame&& frame) override;
  void ConnectionDown(TcpClient* client) override;

  // Records a call sent on `client` and arms its deadline (controller->timeout_in_sec() > 0).
  // `response` and `done` may be null; none of the three is owned. Returns the call id.
  uint64_t AddCall(TcpClient* client, TcpClientRpcController* controller,
                   google::protobuf::Message* response, google::protobuf::Closure* done);
  // Completes call `id` with a failure, from the I/O context (e.g. when it could not be sent).
  void FailCallLater(uint64_t id, Syserr code, const std::string& text);
  // Calls waiting for an answer.
  size_t pending_calls() const { return calls_.size(); }

 private:
  struct Call {
    TcpClient* client;
    TcpClientRpcController* controller;
    google::protobuf::Message* response;
    google::protobuf::Closure* done;
    std::unique_ptr<kyv::TimerHandle> deadline;
  };
  // Removes call `id` and completes it; nothing if it is no longer pending.
  void Complete(uint64_t id, Syserr code, const std::string& text);
  static void Finish(Call& call, Syserr code, const std::string& text);

  uint64_t next_id_ = 1;
  std::unordered_map<uint64_t, Call> calls_;
  // Posted work holds a weak reference, so it does nothing once the processor is gone.
  std::shared_ptr<char> alive_ = std::make_shared<char>(0);
};
