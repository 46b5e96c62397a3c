// A blocking RPC client for command-line programs and tools: connects to a TcpServer and makes
// one call at a time, running its own I/O context until the answer (or the deadline) is there.
// Not for use on a service's I/O thread.
#pragma once

#include <google/protobuf/descriptor.h>
#include <google/protobuf/message.h>

#include <boost/asio/io_context.hpp>

#include <memory>
#include <string>

#include "platform/svc/tcp/tcp_client.h"
#include "platform/svc/tcp/tcp_rpc_channel.h"
#include "platform/svc/tcp/tcp_rpc_resp_processor.h"

class BlockingRpcClient {
 public:
  BlockingRpcClient();
  ~BlockingRpcClient();

  // Connects to host:port within `timeout_ms` of real time. False with *err set on failure.
  bool Connect(const std::string& host, const std::string& port, int timeout_ms, std::string* err);
  // Calls `method` with `request`; on success fills `response`. False with *err set when the
  // call failed (transport, deadline, or the server's error).
  bool Call(const google::protobuf::MethodDescriptor* method,
            const google::protobuf::Message& request, google::protobuf::Message* response,
            int timeout_sec, std::string* err);
  // Sends a one-way call.
  void CallOneWay(const google::protobuf::MethodDescriptor* method,
                  const google::protobuf::Message& request);

 private:
  boost::asio::io_context io_;
  TcpRpcRespProcessor processor_;
  std::shared_ptr<TcpClient> client_;
  std::unique_ptr<TcpRpcChannel> channel_;
};
