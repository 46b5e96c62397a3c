// An RpcChannel that carries a generated stub's calls over a TcpClient.
#pragma once

#include <google/protobuf/service.h>

#include "platform/svc/tcp/tcp_client.h"
#include "platform/svc/tcp/tcp_rpc_resp_processor.h"

// Two-way call (a response or a closure is given): `controller` must be a
// TcpClientRpcController, and the client's processor a TcpRpcRespProcessor. The closure runs
// exactly once on the client's I/O context, never inside CallMethod: when the response
// arrives, when the controller's deadline passes (SYSERR_RPC_TIMED_OUT), at once if the link
// is down (SYSERR_RPC_CONN_DOWN), or when the link drops before the answer
// (SYSERR_RPC_CONN_DOWN). The caller keeps the controller and response until then.
// One-way call (no response and no closure): sent if the link is up, else dropped; no
// callback of any kind, and neither controller nor response is kept.
// The request is serialized during CallMethod; the caller may free it on return.
class TcpRpcChannel : public google::protobuf::RpcChannel {
 public:
  // `client` is not owned and must outlive the channel.
  explicit TcpRpcChannel(TcpClient* client) : client_(client) {}

  void CallMethod(const google::protobuf::MethodDescriptor* method,
                  google::protobuf::RpcController* controller,
                  const google::protobuf::Message* request, google::protobuf::Message* response,
                  google::protobuf::Closure* done) override;

  TcpClient* client() const { return client_; }

 private:
  // Completes a call that never went out, from the I/O context.
  void FailLater(google::protobuf::RpcController* controller, google::protobuf::Closure* done,
                 Syserr code, const std::string& text);

  TcpClient* client_;
};
